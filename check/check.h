// One mail check, from its trigger to its end.
#ifndef KIVVET_CHECK_CHECK_H
#define KIVVET_CHECK_CHECK_H

#include "platform/win32.h"

void startCheck(HWND window);
void onHostResolved(HWND window, WPARAM wParam, LPARAM lParam);
void onSocketEvent(HWND window, WPARAM wParam, LPARAM lParam);
// The main window is going away: nothing the platform still owes the check
// (a pending host lookup) may arrive into released buffers.
void endCheckForShutdown(HWND window);

#endif
