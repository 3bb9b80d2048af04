// The title picture lives in a resource library beside the program;
// without it start-up simply goes on, which is all that happens for now.
#include "tray/splash.h"

void runSplash(HWND) {}
