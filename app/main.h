// Process entry: the window class and the hidden main window, which the
// tests create the way WinMain does.
#ifndef KIVVET_APP_MAIN_H
#define KIVVET_APP_MAIN_H

#include "platform/win32.h"

int registerMainClass(HINSTANCE instance);
HWND createMainWindow(HINSTANCE instance);

#endif
