// When the next automatic check comes: the interval, the retries, the
// wake's check and the server's LOGIN-DELAY, for each mailbox.
// TIMER_INTERVAL and TIMER_WAKE are set and killed here only.
#ifndef KIVVET_CHECK_SCHEDULE_H
#define KIVVET_CHECK_SCHEDULE_H

#include "platform/win32.h"

struct Mailbox;

// The lParam of the MSG_CHECK_MAILBOX that the interval timer posts: a check
// nobody asked for just now, which stays quiet while retrying.
const LPARAM CHECK_BY_TIMER = 1;

// No failures counted, no login made.
void initSchedule(Mailbox* box);
// (Re)starts TIMER_INTERVAL with the wait of nextCheckDelayMs: the
// interval, or the retry wait while failures that may pass by themselves
// go on; never before the server's LOGIN-DELAY allows.
void startIntervalTimer(HWND window, Mailbox* box);
// TIMER_INTERVAL: posts its mailbox's MSG_CHECK_MAILBOX, as a timed check.
void CALLBACK intervalTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);
// No automatic check waits any more (a check begins, the settings open,
// the program ends).
void stopSchedule(HWND window, Mailbox* box);

// Failures in a row that may pass by themselves: each brings the next
// check sooner than the interval would.
void countRetry(Mailbox* box);
void resetRetries(Mailbox* box);
DWORD retriesInARow(const Mailbox* box);
// The wait before retry number step (1, 2, ...): one minute, doubling,
// never more than the interval and never less than a minute.
DWORD retryDelayMs(DWORD step, DWORD intervalMs);

// The program logged in now; the server asks for seconds between logins
// (0: it asks nothing).
void noteLogin(Mailbox* box);
void noteLoginDelay(Mailbox* box, DWORD seconds);
// How long the server's LOGIN-DELAY still forbids a login (0: free).
DWORD loginDelayLeftMs(const Mailbox* box);
DWORD nextCheckDelayMs(const Mailbox* box);

// Replaces the waiting automatic check by one check a little after a wake.
void startWakeTimer(HWND window, Mailbox* box);
void CALLBACK wakeTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);
// The machine goes to sleep: a wake's check still waiting is dropped.
void cancelWakeCheck(HWND window, Mailbox* box);

#endif
