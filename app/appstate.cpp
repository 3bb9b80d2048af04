#include "app/appstate.h"

#include "settings/settings.h"

const char APP_TITLE[] = "Kivvet LE";
const char APP_CLASS_NAME[] = "KivvetLiteEdition";

AppState app;

DWORD retryDelayMs(DWORD step, DWORD intervalMs) {
  DWORD delay = FIRST_RETRY_MS;
  for (DWORD i = 1; i < step && delay < intervalMs; i++) delay *= 2;
  if (delay > intervalMs) delay = intervalMs;
  return delay < FIRST_RETRY_MS ? FIRST_RETRY_MS : delay;
}

DWORD loginDelayLeftMs() {
  if (app.loginDelaySeconds == 0 || !app.loggedIn) return 0;
  DWORD seconds = app.loginDelaySeconds < MAX_LOGIN_DELAY_SECONDS ? app.loginDelaySeconds
                                                                  : MAX_LOGIN_DELAY_SECONDS;
  DWORD elapsed = GetTickCount() - app.lastLoginTick;
  return elapsed >= seconds * 1000u ? 0 : seconds * 1000u - elapsed;
}

// A damaged or short settings file can hold an interval below one minute
// (a missing byte reads as -1): the program then checks every minute
// rather than never.
DWORD nextCheckDelayMs() {
  DWORD interval = (settings.intervalMinutes < 1 ? 1u : (DWORD)settings.intervalMinutes) * 60000u;
  DWORD delay = app.retryStep > 0 ? retryDelayMs(app.retryStep, interval) : interval;
  DWORD loginDelay = loginDelayLeftMs();
  return delay > loginDelay ? delay : loginDelay;
}

void startWakeTimer(HWND window) {
  KillTimer(window, TIMER_INTERVAL);
  DWORD loginDelay = loginDelayLeftMs();
  SetTimer(window, TIMER_WAKE, loginDelay > WAKE_CHECK_DELAY_MS ? loginDelay : WAKE_CHECK_DELAY_MS,
           wakeTimerProc);
}

// Queued like the interval's check: a check under way or the open
// settings sheet (both keep the program busy) make startCheck refuse it,
// and either of them starts the interval again when it ends.
void CALLBACK wakeTimerProc(HWND window, UINT, UINT_PTR, DWORD) {
  KillTimer(window, TIMER_WAKE);
  PostMessageA(window, WM_COMMAND, CMD_CHECK, 0);
}
