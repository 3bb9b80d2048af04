// The announcement of a successful check: first the cat speaks, once a
// second for every message to announce, opening and shutting its mouth;
// then the icon blinks until a double click or the next check.
#ifndef KIVVET_TRAY_NOTIFY_H
#define KIVVET_TRAY_NOTIFY_H

#include "platform/win32.h"

// Starts the announcement of a check's result. TIMER_VOICE and
// TIMER_BLINK are set and killed here only.
void startNotification(HWND window);
// The voice and the blink stop (a new check, the double click, the end).
// The previews of the announcement go with it.
void stopAnnouncement(HWND window);
// 1 while the voice or the blink goes on.
int announcing();

#endif
