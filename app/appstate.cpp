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

// The sheet and the file keep the interval within 1..255 minutes; any
// other value still gives a timer that neither races nor overflows.
void startIntervalTimer(HWND window) {
  int minutes = settings.intervalMinutes;
  if (minutes < 1) minutes = 1;
  if (minutes > MAX_INTERVAL_MINUTES) minutes = MAX_INTERVAL_MINUTES;
  SetTimer(window, TIMER_INTERVAL, (UINT)minutes * 60000u, intervalTimerProc);
}

void CALLBACK intervalTimerProc(HWND window, UINT, UINT_PTR, DWORD) {
  PostMessageA(window, WM_COMMAND, CMD_CHECK, 0);
}
