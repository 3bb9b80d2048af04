// When the next automatic check comes: the interval, the early retries
// after failures that may pass by themselves, the one check after a wake,
// and never before the server's LOGIN-DELAY allows.
#include "check/schedule.h"

#include "base/appstate.h"
#include "settings/settings.h"

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

// The sheet and the file keep the interval within 1..255 minutes; any
// other value still gives a timer that neither races nor overflows.
DWORD nextCheckDelayMs() {
  int minutes = settings.intervalMinutes;
  if (minutes < 1) minutes = 1;
  if (minutes > MAX_INTERVAL_MINUTES) minutes = MAX_INTERVAL_MINUTES;
  DWORD interval = (DWORD)minutes * 60000u;
  DWORD delay = app.retryStep > 0 ? retryDelayMs(app.retryStep, interval) : interval;
  DWORD loginDelay = loginDelayLeftMs();
  return delay > loginDelay ? delay : loginDelay;
}

void startIntervalTimer(HWND window) {
  SetTimer(window, TIMER_INTERVAL, nextCheckDelayMs(), intervalTimerProc);
}

void CALLBACK intervalTimerProc(HWND window, UINT, UINT_PTR, DWORD) {
  app.timedCheck = 1;
  PostMessageW(window, WM_COMMAND, CMD_CHECK, 0);
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
  PostMessageW(window, WM_COMMAND, CMD_CHECK, 0);
}
