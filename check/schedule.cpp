// When the next automatic check comes: the interval, the early retries
// after failures that may pass by themselves, the one check after a wake,
// and never before the server's LOGIN-DELAY allows.
#include "check/schedule.h"

#include "base/appstate.h"
#include "settings/settings.h"

namespace {

// Checks in a row that failed in a way that may pass by itself (no
// network, a server busy for now); 0 after a success or another end.
DWORD retryStep = 0;
// The server's LOGIN-DELAY from CAPA, in seconds (0: none announced),
// and when this program last logged in (GetTickCount).
DWORD loginDelaySeconds = 0;
int loggedIn = 0;
DWORD lastLoginTick = 0;

}  // namespace

void initSchedule() {
  retryStep = 0;
  loginDelaySeconds = 0;
  loggedIn = 0;
  lastLoginTick = 0;
}

void countRetry() {
  if (retryStep < 32) retryStep++;
}

void resetRetries() { retryStep = 0; }

DWORD retriesInARow() { return retryStep; }

void noteLogin() {
  loggedIn = 1;
  lastLoginTick = GetTickCount();
}

void noteLoginDelay(DWORD seconds) { loginDelaySeconds = seconds; }

DWORD retryDelayMs(DWORD step, DWORD intervalMs) {
  DWORD delay = FIRST_RETRY_MS;
  for (DWORD i = 1; i < step && delay < intervalMs; i++) delay *= 2;
  if (delay > intervalMs) delay = intervalMs;
  return delay < FIRST_RETRY_MS ? FIRST_RETRY_MS : delay;
}

DWORD loginDelayLeftMs() {
  if (loginDelaySeconds == 0 || !loggedIn) return 0;
  DWORD seconds =
      loginDelaySeconds < MAX_LOGIN_DELAY_SECONDS ? loginDelaySeconds : MAX_LOGIN_DELAY_SECONDS;
  DWORD elapsed = GetTickCount() - lastLoginTick;
  return elapsed >= seconds * 1000u ? 0 : seconds * 1000u - elapsed;
}

// The sheet and the file keep the interval within 1..255 minutes; any
// other value still gives a timer that neither races nor overflows.
DWORD nextCheckDelayMs() {
  int minutes = settings.intervalMinutes;
  if (minutes < 1) minutes = 1;
  if (minutes > MAX_INTERVAL_MINUTES) minutes = MAX_INTERVAL_MINUTES;
  DWORD interval = (DWORD)minutes * 60000u;
  DWORD delay = retryStep > 0 ? retryDelayMs(retryStep, interval) : interval;
  DWORD loginDelay = loginDelayLeftMs();
  return delay > loginDelay ? delay : loginDelay;
}

void startIntervalTimer(HWND window) {
  SetTimer(window, TIMER_INTERVAL, nextCheckDelayMs(), intervalTimerProc);
}

void CALLBACK intervalTimerProc(HWND window, UINT, UINT_PTR, DWORD) {
  PostMessageW(window, WM_COMMAND, CMD_CHECK, CHECK_BY_TIMER);
}

void stopSchedule(HWND window) {
  KillTimer(window, TIMER_INTERVAL);
  KillTimer(window, TIMER_WAKE);
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

void cancelWakeCheck(HWND window) { KillTimer(window, TIMER_WAKE); }
