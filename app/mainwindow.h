// The hidden main window: start-up, dispatch and shutdown.
#ifndef KIVVET_APP_MAINWINDOW_H
#define KIVVET_APP_MAINWINDOW_H

#include "platform/win32.h"

LRESULT CALLBACK mainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// After the message loop: releases what the window's handlers used (the
// session, the buffers, the menu), which outlives the window itself.
void endProgram();

#endif
