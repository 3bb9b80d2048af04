// The tray icon: the program's only presence on the screen.
#ifndef KIVVET_TRAY_TRAYICON_H
#define KIVVET_TRAY_TRAYICON_H

#include "platform/win32.h"

// No icon in the tray yet.
void initTrayIcon();
// Adds (NIM_ADD), changes (NIM_MODIFY) or removes (NIM_DELETE) the icon.
// An empty text selects the standard tooltip of the settings.
void setTrayIcon(HWND window, DWORD action, const char* iconName, const char* text);
// The failure of the mailbox in slot stands (NULL: it is over). With
// several mailboxes the plain icon shows the first that stands instead.
const size_t FAILURE_TEXT_BYTES = 512;
void showMailboxFailure(int slot, const char* text);
void forgetMailboxFailures();
// The shell forgot the icon (Explorer restarted) or wants it at a new
// size ("TaskbarCreated"): it is added again, as the announcement shows
// it while one goes on, else as the normal icon with the standard tooltip.
void addTrayIconAgain(HWND window);
// The normal icon with a check's progress text, shown once no other
// message waits: a text that the next step replaces at once never costs
// a trip to the shell. Any change of the icon before then supersedes it.
void setTrayProgress(HWND window, const char* text);
// A line the standard tooltip adds below itself from the next change of
// the icon on (empty: none): what the program is waiting for.
void setTrayNote(const char* note);
// 1 when the icon shows this picture and text already.
int trayShows(const char* iconName, const char* text);
// The count of new mail on every picture from now on; 0 takes it off.
// The next change of the icon shows it.
void setTrayBadge(DWORD count);
// A notification balloon (a toast on Windows 10 and 11) from the icon; its
// text is cut to this many UTF-16 units with the NUL.
const size_t BALLOON_TEXT_UNITS = 256;
void showBalloon(HWND window, const char* title, const char* text);
// TIMER_TRAY: one more try to add an icon the shell refused at first.
void CALLBACK trayRetryTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);

#endif
