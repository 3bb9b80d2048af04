#include "app/appstate.h"

const char APP_TITLE[] = "Kivvet LE";
const char APP_CLASS_NAME[] = "KivvetLiteEdition";

AppState app;
