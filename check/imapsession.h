// The IMAP dialogue's state: which answer is awaited, what the server
// offers, what the mailbox's examination found, and the session held open
// for the server's news. Every field is written by check/imap.cpp only.
#ifndef KIVVET_CHECK_IMAPSESSION_H
#define KIVVET_CHECK_IMAPSESSION_H

#include "check/headers.h"
#include "check/imapreader.h"
#include "platform/win32.h"
#include "tray/previews.h"

enum ImapState {
  ImapResting = 0,
  ImapAwaitGreeting = 1,
  ImapAwaitCapability = 2,
  ImapAwaitStartTls = 3,
  // LOGIN's password goes as a literal: the server's "+" is awaited
  // before its bytes; AUTHENTICATE PLAIN without an initial response
  // likewise.
  ImapAwaitLiteralGo = 4,
  ImapAwaitAuthenticateGo = 5,
  ImapAwaitLogin = 6,
  ImapAwaitExamine = 7,
  // UID FETCH n:* (UID FLAGS), from a server that refused SEARCH: the
  // UIDs and flags of the messages that may be new.
  ImapAwaitFlags = 8,
  // The header fields of the newest new messages.
  ImapAwaitHeaders = 9,
  // IDLE was sent; its "+" starts the wait for the server's news.
  ImapAwaitIdleGo = 10,
  ImapIdling = 11,
  // DONE was sent; IDLE's tagged answer ends it.
  ImapAwaitDone = 12,
  ImapAwaitNoop = 13,
  ImapAwaitLogout = 14,
  // STATUS INBOX, for a session that ends with its check.
  ImapAwaitStatus = 15,
  // UID SEARCH for the unseen from the mark.
  ImapAwaitSearch = 16
};

// The new messages one check remembers as counted; past three quarters
// of them, a message is counted without looking.
const DWORD IMAP_COUNTED_PLACES = 2048;

// A command with the longest user ID and password the settings hold,
// each a quoted string of escaped characters or a literal.
const DWORD IMAP_COMMAND_BYTES = 2048;

// check/imap.cpp
struct ImapDialogue {
  ImapState imapState;
  DWORD nextTag;     // the number of the next command's tag: "a1", "a2"...
  DWORD awaitedTag;  // the command whose end the state awaits
  // Commands sent ahead with LOGIN (0: not sent): their answers are
  // awaited in turn.
  DWORD statusTag;
  DWORD examineTag;
  DWORD flagsTag;  // the search, or the flags' fetch, that counts
  // Its end, where it came before the end of a command sent ahead of it
  // (Dovecot may answer a search before the NOOP sent first).
  ImapStatus countEnded;
  // What the server offers; known once a greeting, a CAPABILITY or a
  // login told it.
  int capabilitiesKnown;
  int offersIdle;
  int offersStartTls;
  int loginDisabled;
  int offersPlain;
  int literalPlus;
  int initialResponse;  // SASL-IR
  int offersEsearch;    // RFC 4731
  // The count is searched for; a server that refused SEARCH is asked for
  // the flags of every message from then on in the session.
  int searching;
  int searchRefused;
  // What STATUS told of the inbox.
  int statusTold;
  ImapMailboxStatus inboxStatus;
  // What EXAMINE found.
  DWORD exists;
  DWORD examinedValidity;
  DWORD examinedNext;
  // The UID the fetch asked from, and what its answers held: the new
  // messages (UID at or above it, not \Seen), the newest of them in
  // ascending order, the highest UID of all.
  DWORD fetchFrom;
  int validityChanged;  // the mark was made under another UIDVALIDITY
  DWORD newFound;
  DWORD newestUids[MOST_PREVIEWS];
  DWORD newestKept;
  DWORD highestUid;
  // Answers of the fetch not traced yet: the trace tells their number in
  // one line, before whatever follows them.
  DWORD fetchesUntraced;
  // The highest UID of any message told, below the mark too: UIDNEXT
  // where the server tells none.
  DWORD highestTold;
  // The new messages counted, each once whatever order and how often the
  // server tells of them: an open-addressed set of UIDs (0: a free place).
  DWORD countedUids[IMAP_COUNTED_PLACES];
  DWORD countedKept;
  // The header fields of newestUids, as they come; shown newest first.
  HeaderFields fields[MOST_PREVIEWS];
  int fieldsRead[MOST_PREVIEWS];
  // A check under way on a session held open; the server's news came
  // while it was held (EXISTS or RECENT), or the user asked.
  int checking;
  // STARTTLS was agreed: nothing more is read in clear.
  int turningToTls;
  // EXISTS grew while a check fetched: another check follows it.
  int newsWaiting;
  // The server told of mail while the session was held: the check that
  // follows sends its count with DONE, without NOOP; which it did.
  int newsTold;
  int countWithDone;
  // The last IDLE began; the server last spoke while idle; the longest
  // time between two of its keep-alives ("* OK") in this session.
  DWORD idleSince;
  DWORD heardAt;
  DWORD keepAliveAt;  // the last keep-alive of this IDLE (0: none yet)
  DWORD keepAliveMs;
  // The literal of a LOGIN, sent once the server says go; wiped then.
  char pending[IMAP_COMMAND_BYTES];
  DWORD pendingLength;
  char command[IMAP_COMMAND_BYTES];
  ImapReader reader;
};

#endif
