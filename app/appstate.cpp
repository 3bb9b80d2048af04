// The ground floor: the shared state record and the few operations on it
// that every folder calls, the menu's busy state and the interval timer.
#include "app/appstate.h"

#include "settings/settings.h"

const char APP_TITLE[] = "Kivvet LE";
const char APP_CLASS_NAME[] = "KivvetLiteEdition";

AppState app;

void setBusy(int menuEnabled) {
  UINT state = menuEnabled == 1 ? MF_ENABLED : MF_GRAYED;
  EnableMenuItem(app.trayMenu, CMD_CHECK, MF_BYCOMMAND | state);
  EnableMenuItem(app.trayMenu, CMD_SETTINGS, MF_BYCOMMAND | state);
  EnableMenuItem(app.trayMenu, CMD_EXIT, MF_BYCOMMAND | state);
  app.busy = menuEnabled == 1 ? 0 : 1;
}

// A damaged or short settings file can hold an interval below one minute
// (a missing byte reads as -1): the program then checks every minute
// rather than never.
void startIntervalTimer(HWND window) {
  UINT minutes = settings.intervalMinutes < 1 ? 1u : (UINT)settings.intervalMinutes;
  SetTimer(window, TIMER_INTERVAL, minutes * 60000u, intervalTimerProc);
}

void CALLBACK intervalTimerProc(HWND window, UINT, UINT_PTR, DWORD) {
  PostMessageA(window, WM_COMMAND, CMD_CHECK, 0);
}
