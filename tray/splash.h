// The title window shown for a moment at start-up.
#ifndef KIVVET_TRAY_SPLASH_H
#define KIVVET_TRAY_SPLASH_H

#include "platform/win32.h"

void runSplash(HWND owner);

#endif
