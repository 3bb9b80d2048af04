// The hidden main window: start-up, dispatch and shutdown.
#ifndef KIVVET_APP_MAINWINDOW_H
#define KIVVET_APP_MAINWINDOW_H

#include "check/mailbox.h"
#include "platform/win32.h"

// The mailbox this program checks: one record, made with the window.
extern Mailbox mailbox;

LRESULT CALLBACK mainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// After the message loop: releases what the window's handlers used (the
// session, the buffers, the menu), which outlives the window itself.
void endProgram();

#endif
