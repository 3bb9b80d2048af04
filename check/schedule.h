// When the next automatic check comes: the interval, the retries, the
// wake's check and the server's LOGIN-DELAY.
#ifndef KIVVET_CHECK_SCHEDULE_H
#define KIVVET_CHECK_SCHEDULE_H

#include "platform/win32.h"

// (Re)starts TIMER_INTERVAL with the wait of nextCheckDelayMs: the
// interval, or the retry wait while failures that may pass by themselves
// go on; never before the server's LOGIN-DELAY allows.
void startIntervalTimer(HWND window);
// TIMER_INTERVAL: posts CMD_CHECK to the window, as a timed check.
void CALLBACK intervalTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);
// The wait before retry number step (1, 2, ...): one minute, doubling,
// never more than the interval and never less than a minute.
DWORD retryDelayMs(DWORD step, DWORD intervalMs);
// How long the server's LOGIN-DELAY still forbids a login (0: free).
DWORD loginDelayLeftMs();
DWORD nextCheckDelayMs();
// Replaces the waiting automatic check by one check a little after a wake.
void startWakeTimer(HWND window);
void CALLBACK wakeTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);

#endif
