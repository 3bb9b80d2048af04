// When the next automatic check comes: the interval, the early retries
// after failures that may pass by themselves, the one check after a wake,
// and never before the server's LOGIN-DELAY allows.
#include "check/schedule.h"

#include <stdio.h>

#include "base/appstate.h"
#include "check/check.h"
#include "check/mailbox.h"
#include "settings/settings.h"
#include "tray/trayicon.h"

void initSchedule(Mailbox* box) {
  box->schedule.retryStep = 0;
  box->schedule.loginDelaySeconds = 0;
  box->schedule.loggedIn = 0;
  box->schedule.lastLoginTick = 0;
}

void countRetry(Mailbox* box) {
  if (box->schedule.retryStep < 32) box->schedule.retryStep++;
}

void resetRetries(Mailbox* box) { box->schedule.retryStep = 0; }

DWORD retriesInARow(const Mailbox* box) { return box->schedule.retryStep; }

void noteLogin(Mailbox* box) {
  box->schedule.loggedIn = 1;
  box->schedule.lastLoginTick = GetTickCount();
}

void noteLoginDelay(Mailbox* box, DWORD seconds) { box->schedule.loginDelaySeconds = seconds; }

DWORD retryDelayMs(DWORD step, DWORD intervalMs) {
  DWORD delay = FIRST_RETRY_MS;
  for (DWORD i = 1; i < step && delay < intervalMs; i++) delay *= 2;
  if (delay > intervalMs) delay = intervalMs;
  return delay < FIRST_RETRY_MS ? FIRST_RETRY_MS : delay;
}

DWORD loginDelayLeftMs(const Mailbox* box) {
  const Schedule& schedule = box->schedule;
  if (schedule.loginDelaySeconds == 0 || !schedule.loggedIn) return 0;
  DWORD seconds = schedule.loginDelaySeconds < MAX_LOGIN_DELAY_SECONDS ? schedule.loginDelaySeconds
                                                                       : MAX_LOGIN_DELAY_SECONDS;
  DWORD elapsed = GetTickCount() - schedule.lastLoginTick;
  return elapsed >= seconds * 1000u ? 0 : seconds * 1000u - elapsed;
}

// The sheet and the file keep the interval within 1..255 minutes; any
// other value still gives a timer that neither races nor overflows.
DWORD nextCheckDelayMs(const Mailbox* box) {
  int minutes = box->account->intervalMinutes;
  if (minutes < 1) minutes = 1;
  if (minutes > MAX_INTERVAL_MINUTES) minutes = MAX_INTERVAL_MINUTES;
  DWORD interval = (DWORD)minutes * 60000u;
  DWORD step = box->schedule.retryStep;
  DWORD delay = step > 0 ? retryDelayMs(step, interval) : interval;
  DWORD loginDelay = loginDelayLeftMs(box);
  return delay > loginDelay ? delay : loginDelay;
}

// The tooltip tells, under its usual text, the clock time of the next
// check, to the minute it starts in.
void noteNextCheck(DWORD delayMs) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  DWORD minutes = (now.wHour * 60u + now.wMinute) + (now.wSecond * 1000u + delayMs) / 60000u;
  char note[48];
  snprintf(note, sizeof note, "次は%u:%02uに確かめるにゃ", (unsigned)(minutes / 60 % 24),
           (unsigned)(minutes % 60));
  setTrayNote(note);
}

void startIntervalTimer(HWND window, Mailbox* box) {
  DWORD delay = nextCheckDelayMs(box);
  SetTimer(window, mailboxTimer(TIMER_INTERVAL, box->mailboxSlot), delay, intervalTimerProc);
  noteNextCheck(delay);
}

void CALLBACK intervalTimerProc(HWND window, UINT, UINT_PTR id, DWORD) {
  PostMessageW(window, MSG_CHECK_MAILBOX, (WPARAM)mailboxSlotOfTimer(id), CHECK_BY_TIMER);
}

void stopSchedule(HWND window, Mailbox* box) {
  KillTimer(window, mailboxTimer(TIMER_INTERVAL, box->mailboxSlot));
  KillTimer(window, mailboxTimer(TIMER_WAKE, box->mailboxSlot));
}

void startWakeTimer(HWND window, Mailbox* box) {
  KillTimer(window, mailboxTimer(TIMER_INTERVAL, box->mailboxSlot));
  DWORD loginDelay = loginDelayLeftMs(box);
  SetTimer(window, mailboxTimer(TIMER_WAKE, box->mailboxSlot),
           loginDelay > WAKE_CHECK_DELAY_MS ? loginDelay : WAKE_CHECK_DELAY_MS, wakeTimerProc);
}

// Queued like the interval's check: a check under way or the open
// settings sheet (both keep the program busy) make startCheck refuse it,
// and either of them starts the interval again when it ends.
void CALLBACK wakeTimerProc(HWND window, UINT, UINT_PTR id, DWORD) {
  KillTimer(window, mailboxTimer(TIMER_WAKE, mailboxSlotOfTimer(id)));
  PostMessageW(window, MSG_CHECK_MAILBOX, (WPARAM)mailboxSlotOfTimer(id), 0);
}

void cancelWakeCheck(HWND window, Mailbox* box) {
  KillTimer(window, mailboxTimer(TIMER_WAKE, box->mailboxSlot));
}
