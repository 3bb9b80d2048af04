// The ground floor: the identifiers every part of the program shares, the
// one record of the running program's state, and the operations on it
// that every folder may call. Nothing here calls up into the folders.
#ifndef KIVVET_BASE_APPSTATE_H
#define KIVVET_BASE_APPSTATE_H

#include "platform/win32.h"

// Timers of the main window, and the one file that sets and kills each;
// the splash window owns TIMER_SPLASH.
//   TIMER_INTERVAL, TIMER_WAKE                 check/schedule.cpp
//   TIMER_QUIT                                 check/check.cpp
//   TIMER_RESPONSE, TIMER_SESSION              net/connection.cpp
//   TIMER_VOICE, TIMER_BLINK, TIMER_QUIET_END  tray/notify.cpp
//   TIMER_TRAY, TIMER_PROGRESS                 tray/trayicon.cpp
//   TIMER_SPLASH                               tray/splash.cpp
//   TIMER_IDLE                                 check/imap.cpp
// A record's own timers take the record's address as their id, which no
// small id above can be, so that two records never share one:
//   each Dial's next attempt                   net/dial.cpp
const UINT_PTR TIMER_INTERVAL = 1;
const UINT_PTR TIMER_RESPONSE = 2;
const UINT_PTR TIMER_VOICE = 3;
const UINT_PTR TIMER_BLINK = 4;
const UINT_PTR TIMER_SPLASH = 5;
// Waits for the answer to QUIT, so that a server that hangs up or falls
// silent instead of answering cannot keep the program busy for ever.
const UINT_PTR TIMER_QUIT = 6;
// The one check after the machine wakes, once the network has had a
// moment to come back.
const UINT_PTR TIMER_WAKE = 7;
// Ends a session that has made no progress for a while: a server that
// trickles a byte now and then restarts the response timer each time,
// but cannot hold a check past this without a whole line.
const UINT_PTR TIMER_SESSION = 8;

// The timers of a mailbox belong to it: those above are the first
// mailbox's, and the mailbox in slot n has each id n strides further on,
// beyond every timer of the program's own.
const UINT_PTR MAILBOX_TIMER_STRIDE = 100;
const int MOST_MAILBOXES = 8;
constexpr UINT_PTR mailboxTimer(UINT_PTR firstId, int slot) {
  return firstId + (UINT_PTR)slot * MAILBOX_TIMER_STRIDE;
}
constexpr int mailboxSlotOfTimer(UINT_PTR id) { return (int)(id / MAILBOX_TIMER_STRIDE); }

const UINT RESPONSE_TIMEOUT_MS = 60000;
const UINT QUIT_TIMEOUT_MS = 60000;
const UINT SESSION_TIMEOUT_MS = 180000;
// Tries again to add the tray icon while the shell refuses it.
const UINT_PTR TIMER_TRAY = 9;
const UINT TRAY_RETRY_MS = 10000;
// Shows a check's progress text once the program is idle for a moment.
const UINT_PTR TIMER_PROGRESS = 10;
const UINT PROGRESS_DELAY_MS = 50;  // shorter than anyone reads a tooltip in
// Watches a session held open for the server's news: its keep-alive, and
// the renewal of its waiting.
const UINT_PTR TIMER_IDLE = 11;
// Asks every minute, while mail told quietly is still untold, whether
// the quiet is over, so that the cat tells it then.
const UINT_PTR TIMER_QUIET_END = 12;
const UINT QUIET_END_POLL_MS = 60000;

// Every timer id of the table above (the owners gate fails on one left
// out). Each lies below the stride and is its own, so that no id of one
// slot is another slot's or the program's own: an id of 100 would be
// the second mailbox's interval.
constexpr UINT_PTR TIMER_IDS[] = {TIMER_INTERVAL, TIMER_RESPONSE, TIMER_VOICE, TIMER_BLINK,
                                  TIMER_SPLASH,   TIMER_QUIT,     TIMER_WAKE,  TIMER_SESSION,
                                  TIMER_TRAY,     TIMER_PROGRESS, TIMER_IDLE,  TIMER_QUIET_END};
constexpr bool timerIdsApart() {
  for (UINT_PTR id : TIMER_IDS) {
    int same = 0;
    for (UINT_PTR other : TIMER_IDS) same += other == id;
    if (id == 0 || id >= MAILBOX_TIMER_STRIDE || same != 1) return false;
  }
  return true;
}
static_assert(timerIdsApart(), "each timer id below the mailboxes' stride, and its own");
static_assert(mailboxSlotOfTimer(mailboxTimer(MAILBOX_TIMER_STRIDE - 1, MOST_MAILBOXES - 1)) ==
                  MOST_MAILBOXES - 1,
              "every slot's timers lead back to it");
// The interval is one byte in the settings file.
const int MAX_INTERVAL_MINUTES = 255;
const int DEFAULT_INTERVAL_MINUTES = 10;
const UINT VOICE_FRAME_MS = 200;
const UINT BLINK_FRAME_MS = 500;
const UINT SPLASH_MS = 1000;
const DWORD STARTUP_PAUSE_MS = 3000;
// Wi-Fi and DHCP usually stand again within a few seconds of a wake; a
// check that still finds no network is tried again a minute later.
const UINT WAKE_CHECK_DELAY_MS = 5000;
// Windows may announce one wake more than once (the automatic resume,
// then the user's): resumes this close together, with no sleep between
// them, are one wake.
const DWORD SAME_WAKE_MS = 60000;
// The earliest retry after a failure that may pass by itself; each
// further one in a row waits twice as long, up to the interval.
const DWORD FIRST_RETRY_MS = 60000;
// A LOGIN-DELAY beyond a day is taken as a day.
const DWORD MAX_LOGIN_DELAY_SECONDS = 86400;

// Private window messages. MSG_HOST_RESOLVED says only that a lookup has
// completed (net/dial.cpp looks at its own): it carries nothing to trust.
const UINT MSG_HOST_RESOLVED = WM_USER + 1;
const UINT MSG_SOCKET_EVENT = WM_USER + 2;
const UINT MSG_TRAY_NOTIFY = WM_USER + 3;

// Menu commands, in the order of the tray menu.
const UINT CMD_CHECK = 101;
const UINT CMD_SETTINGS = 102;
const UINT CMD_HELP = 103;
const UINT CMD_HOMEPAGE = 104;
const UINT CMD_EXIT = 1024;
// Ends the voice and the blink without starting the mail program.
const UINT CMD_STOP = 105;
// The entries of the submenu of new mail, newest first (MOST_PREVIEWS).
const UINT CMD_PREVIEW_FIRST = 110;
const UINT CMD_PREVIEW_LAST = 114;

const UINT TRAY_ICON_ID = 100;

extern const char APP_TITLE[];  // "Kivvet LE": window title, message-box caption, tooltip prefix
extern const char APP_CLASS_NAME[];

const DWORD UID_SLOTS = 1024;
const DWORD UID_SLOT_BYTES = 33;  // 32 characters and the NUL
// Each slot is allocated on its own, zero-filled, at start-up.
typedef char* UidTable[UID_SLOTS];

// The running program's shared state. Each field has one file that writes
// it (named beside it); the others only read. What one file alone uses
// lives in that file; what a mailbox's check uses lives in its record
// (check/mailbox.h).
struct AppState {
  HINSTANCE appInstance;  // app/main.cpp
  HMENU trayMenu;         // tray/menu.cpp

  int busy;  // base/appstate.cpp (becomeBusy, becomeIdle)

  // The settings sheet, or the box that leads to it, is open: nothing may
  // start a check or enable the menu until it has closed. sheet/sheet.cpp
  int settingsOpen;
  // The main window is gone, perhaps inside a call that waited for the
  // shell or a modal loop: whoever made the call looks before going on.
  // app/mainwindow.cpp
  int windowGone;
};

extern AppState app;

// Busy set and the guarded menu items (check, settings, exit) grayed: a
// check or the settings sheet is under way. mailboxesIdle: some mailbox
// is still idle, and the check stays enabled for it.
void becomeBusy(int mailboxesIdle);
// Busy clear and the guarded items enabled again.
void becomeIdle();
// A menu built anew: its guarded items as they were.
void guardNewMenu();
#endif
