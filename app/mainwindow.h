// The hidden main window: start-up, dispatch and shutdown.
#ifndef KIVVET_APP_MAINWINDOW_H
#define KIVVET_APP_MAINWINDOW_H

#include "platform/win32.h"

int initWinsock();
int registerMainClass(HINSTANCE instance);
HWND createMainWindow(HINSTANCE instance);
LRESULT CALLBACK mainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void parseCommandLine();
int onCreate(HWND window, WPARAM wParam, LPARAM lParam);
void onDestroy(HWND window, WPARAM wParam, LPARAM lParam);
// (Re)starts TIMER_INTERVAL with a full period of intervalMinutes.
void startIntervalTimer(HWND window);
void CALLBACK intervalTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);

#endif
