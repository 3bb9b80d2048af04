// The announcement of a successful check: the cat's voice, then the blink.
#ifndef KIVVET_TRAY_NOTIFY_H
#define KIVVET_TRAY_NOTIFY_H

#include "platform/win32.h"

void startNotification(HWND window);

#endif
