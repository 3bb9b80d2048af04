// One mail check, from its trigger to its end: the guards, the online
// test, the dial (lookup and connection), and the one way a
// check ends (endCheck).
#ifndef KIVVET_CHECK_CHECK_H
#define KIVVET_CHECK_CHECK_H

#include "platform/win32.h"

// Posted to the main window when a check finds the settings unusable: the
// top shows the cat's message and the settings sheet.
const UINT MSG_SETTINGS_NEEDED = WM_USER + 4;

// No check under way, no wake seen.
void initCheck();
// timed: the interval timer asked for it (a retry then stays quiet).
void startCheck(HWND window, int timed);
void onHostResolved(HWND window, WPARAM wParam, LPARAM lParam);
void onSocketEvent(HWND window, WPARAM wParam, LPARAM lParam);

// The ways a check ends. Each runs the same tail once: the lookup is
// forgotten and the response timer stops; the session closes unless it
// still waits for the answer to QUIT; the retries are counted; the next
// check is scheduled; busy clears once nothing more is awaited (the open
// settings sheet does both when it closes).
enum CheckEnd {
  // The result is out and announced; the session waits for the answer to
  // QUIT, and busy stays until then.
  Announced,
  // Nothing more is awaited: QUIT was answered, or the server left or
  // fell silent after it. The result, if any, is shown already.
  SessionOver,
  // A failure: the error icon with its text, and the next check at the
  // full interval.
  Failed,
  // A failure that may pass by itself (no network, a server busy for
  // now): tried again after 1, 2, 4... minutes. The first in a row shows
  // the normal icon with its text; later ones the error icon with the
  // alarm text (none: never an error).
  FailedForNow,
  // The machine goes to sleep: the check ends without a result, and
  // nothing of it is shown.
  Abandoned
};
struct CheckOutcome {
  CheckEnd end;
  const char* text;       // Failed, FailedForNow
  const char* alarmText;  // FailedForNow
};
void endCheck(HWND window, CheckOutcome outcome);

// A whole reply line has arrived: the session is making progress.
void onReplyLine();
// The server ended the connection before the check was done.
void onServerClosed(HWND window);
// QUIT is sent: its answer is awaited for a minute at most.
void awaitQuitReply(HWND window);
// Sends a command on the session, inside the TLS channel when there is
// one; returns 0 when it was refused: a session meant to be encrypted
// sends nothing in clear but STLS.
int sendToServer(const char* text, int length);
// 1 when a command may go to the server now (the channel is open, or the
// session is plain text by the user's choice).
int canSendCommands();
// The machine goes to sleep or wakes (WM_POWERBROADCAST).
void onPowerBroadcast(HWND window, WPARAM wParam, LPARAM lParam);
// The main window is going away: the check's timers stop.
void stopCheckTimers(HWND window);
// The program ends, its window gone: no socket is left open, and no
// lookup is waited for (one the system cannot cancel is left to it).
void endCheckForShutdown();

#endif
