// The ground floor: the shared state record and the few operations on it
// that every folder calls: the menu's busy state.
#include "base/appstate.h"

const char APP_TITLE[] = "Kivvet LE";
const char APP_CLASS_NAME[] = "KivvetLiteEdition";

AppState app;

void setBusy(int menuEnabled) {
  UINT state = menuEnabled == 1 ? MF_ENABLED : MF_GRAYED;
  EnableMenuItem(app.trayMenu, CMD_CHECK, MF_BYCOMMAND | state);
  EnableMenuItem(app.trayMenu, CMD_SETTINGS, MF_BYCOMMAND | state);
  EnableMenuItem(app.trayMenu, CMD_EXIT, MF_BYCOMMAND | state);
  app.busy = menuEnabled == 1 ? 0 : 1;
}
