// The title window shown for a second at start-up. Its picture lives in
// the resource library KivvetLE.dll beside the program; without it there
// is no title window and start-up simply goes on.
#ifndef KIVVET_TRAY_SPLASH_H
#define KIVVET_TRAY_SPLASH_H

#include "platform/win32.h"

// Runs the title window modally over the main window until it ends.
void runSplash(HWND owner);

#endif
