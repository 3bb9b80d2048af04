// One mail check of a mailbox, from its trigger to its end: the guards,
// the online test, the connection under the mailbox's protocol, and the
// one way a check ends (endCheck).
#ifndef KIVVET_CHECK_CHECK_H
#define KIVVET_CHECK_CHECK_H

#include "platform/win32.h"

struct Mailbox;
struct Protocol;
struct Account;

// Posted to the main window when a check finds the settings unusable: the
// top shows the cat's message and the settings sheet.
const UINT MSG_SETTINGS_NEEDED = WM_USER + 4;
// Posted for the check of one mailbox: wParam its slot, lParam
// CHECK_BY_TIMER for a check the schedule asked for.
const UINT MSG_CHECK_MAILBOX = WM_USER + 5;

// Makes the record of the mailbox in slot, with its account and its
// protocols, indexed by the account's PROTOCOL_ values.
void initMailbox(Mailbox* box, int slot, const Account* account, const Protocol* const* protocols);
// The mailbox whose timer has this id (null when none).
Mailbox* mailboxOfTimer(UINT_PTR id);

// timed: the interval timer asked for it (a retry then stays quiet).
void startCheck(HWND window, Mailbox* box, int timed);

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
  // nothing of it is shown. The last: the trace's names follow.
  Abandoned
};
struct CheckOutcome {
  CheckEnd end;
  const char* text;       // Failed, FailedForNow; Announced: the tooltip's note, or NULL
  const char* alarmText;  // FailedForNow
};
void endCheck(HWND window, Mailbox* box, CheckOutcome outcome);

// The counts the tray shows, as the protocol found them.
void setMessageCount(Mailbox* box, DWORD messageCount);
void setNewCount(Mailbox* box, DWORD newCount);

// What a protocol learns of single messages, for the register of mail
// the user has not looked at yet (tray/register). The check's result
// brings it in at the announcement.
// IMAP: a new message of this check, by UID, in the mailbox's order.
void reportNewMessage(Mailbox* box, DWORD uid);
// IMAP: the flags of a message below the mark (one of the register's).
void reportMessageFlags(Mailbox* box, DWORD uid, int seen);
// IMAP: the register's UIDs, each followed by a comma, to ask after in
// this check's fetch; the check then tells which are gone.
size_t askAfterUntoldMail(Mailbox* box, char* text, size_t size);
// 1 while the register holds messages it can take back.
int holdsUntoldMail(const Mailbox* box);
// IMAP: the server told, unasked, of a message expunged or flagged while
// the session is held: 1 when a check now asks after the register's.
int reportMailGoing(HWND window, Mailbox* box);
// POP3: the UIDs were counted (countNewUids): the new ones, and those
// still on the server.
void reportListing(Mailbox* box);

// A session held open after its result has ended by itself (the server
// left or fell silent): it is taken up again at once, or, when it stood
// only a moment, after the wait of a failure that may pass by itself.
void loseHeldSession(HWND window, Mailbox* box);
// Leaves a held session before the settings open: 1 when there was one,
// so that it is taken up again once they close.
int leaveHeldSession(HWND window, Mailbox* box);

// QUIT is sent: its answer is awaited for a minute at most.
void awaitQuitReply(HWND window, Mailbox* box);
// A step of the dialogue shows its progress (not while a retry is quiet).
void showProgress(HWND window, const Mailbox* box, const char* text);
// The machine goes to sleep or wakes (WM_POWERBROADCAST).
void onPowerBroadcast(HWND window, Mailbox* box, WPARAM wParam, LPARAM lParam);
// The main window is going away: the check's timers stop.
void stopCheckTimers(HWND window, Mailbox* box);
// The program ends, its window gone: no socket is left open.
void endCheckForShutdown(Mailbox* box);

#endif
