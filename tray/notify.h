// The announcement of a successful check: first the cat speaks, once a
// second for every message to announce, opening and shutting its mouth;
// then the icon blinks until a double click or the next check.
#ifndef KIVVET_TRAY_NOTIFY_H
#define KIVVET_TRAY_NOTIFY_H

#include "platform/win32.h"

// Starts the announcement of the result of a check of the mailbox in
// slot, after the register of untold mail (tray/register) has taken it
// in. A voice still speaking for another mailbox goes on with this one's
// sounds after its own: never two voices at once. TIMER_VOICE,
// TIMER_BLINK and TIMER_QUIET_END are set and killed here only.
void startNotification(HWND window, int slot);
// The check of the mailbox in slot begins: the announcement stops as the
// user's stop does, or, where new mail stays told until the user looks,
// only the voice stops (not another mailbox's) and the blink goes on for
// the mail still untold.
void pauseAnnouncementForCheck(HWND window, int slot);
// A check failed, and the tray shows why: the voice and the blink stop,
// the register keeps the mail for the next check to tell again.
void holdAnnouncement(HWND window);
// The user has seen the mail (the double click, a click on the balloon,
// the menu's stop or a message chosen in it), or the program ends: the
// voice and the blink stop, and the register of untold mail empties.
void stopAnnouncement(HWND window);
// 1 while the voice or the blink goes on.
int announcing();

#endif
