// The check cycle. The POP3 session is not connected yet: a check leaves
// the interval timer armed so that the program keeps its rhythm.
#include "check/check.h"

#include "app/appstate.h"
#include "app/mainwindow.h"
#include "settings/settings.h"

void startCheck(HWND window) {
  if (app.busy) return;
  SetTimer(window, TIMER_INTERVAL, (UINT)settings.intervalMinutes * 60000u, intervalTimerProc);
}

void onHostResolved(HWND, WPARAM, LPARAM) {}
void onSocketEvent(HWND, WPARAM, LPARAM) {}
void endCheckForShutdown(HWND) {}
