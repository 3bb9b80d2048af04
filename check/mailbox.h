// One mailbox's record: everything its checking needs, passed by pointer
// to the code that works on it. Nothing of a check lives outside it; a
// second mailbox is a second record.
//
// Each field names its one writing file; a field that is a record of its
// own names the owners of its fields.
#ifndef KIVVET_CHECK_MAILBOX_H
#define KIVVET_CHECK_MAILBOX_H

#include "base/appstate.h"
#include "check/imapsession.h"
#include "check/session.h"
#include "net/connection.h"
#include "tray/previews.h"

struct Account;
struct Mailbox;

// A protocol spoken over a mailbox's connection. The check cycle knows it
// only through these; the connection's lines and openings go to it.
struct Protocol {
  // A new session: the dialogue starts afresh.
  void (*begin)(Mailbox* box);
  // The result is out; only the answer to the farewell is awaited.
  int (*awaitsGoodbye)(const Mailbox* box);
  // The session has ended: the dialogue rests.
  void (*rest)(Mailbox* box);
  void (*opened)(HWND window, void* box);
  void (*lineArrived)(HWND window, void* box, const char* line);
  // A check fails after its count was made (while the headers of its new
  // mail are read): the protocol announces the count all the same, and
  // returns 1; 0 outside that phase.
  int (*announceCountOnFailure)(HWND window, Mailbox* box);
  // Received bytes as they come, for a protocol whose answers are not
  // lines alone; null for one of lines.
  void (*bytesArrived)(HWND window, void* box, const char* bytes, DWORD length);
  // 1 while no check is under way and the session stays open after its
  // result, for the server to tell of new mail.
  int (*holdsSession)(const Mailbox* box);
  // A check on the held session: the server is asked again on it.
  void (*checkAgain)(HWND window, Mailbox* box);
  // The held session is left: the farewell goes, its answer unawaited.
  void (*farewell)(Mailbox* box);
  // What the tray says while the connection is made.
  const char* connectingText;
};

// check/check.cpp
struct CheckCycle {
  // A check of the mailbox is under way, or its session awaits the answer
  // to its farewell: no other check of it starts.
  int underWay;
  // A retry in a row of failures: the tray keeps what it shows until the
  // check has its result.
  int quiet;
  // A resume was acted on at wakeTick, and no sleep has come since.
  int wakeCounted;
  DWORD wakeTick;
  // The session has been held open since this tick.
  DWORD heldSince;
  // The check under way asks again on the session that was held.
  int onHeldSession;
};

// check/schedule.cpp
struct Schedule {
  // Checks in a row that failed in a way that may pass by itself (no
  // network, a server busy for now); 0 after a success or another end.
  DWORD retryStep;
  // The server's LOGIN-DELAY from CAPA, in seconds (0: none announced),
  // and when this program last logged in (GetTickCount).
  DWORD loginDelaySeconds;
  int loggedIn;
  DWORD lastLoginTick;
};

// check/listing.cpp
struct Listing {
  DWORD listedCount;             // messages listed so far, each number once
  DWORD highestNumber;           // the highest number listed so far
  DWORD keptSlots;               // slots in use, at most UID_SLOTS
  DWORD numberOf[UID_SLOTS];     // the message whose UID a slot holds
  DWORD heap[UID_SLOTS];         // slots; heap[0] holds the oldest message kept
  DWORD placeNumber[UID_SLOTS];  // after finishListing: the message at each place
};

// check/knownuids.cpp
struct KnownUids {
  DWORD knownCount;  // valid entries of knownUids
  // The places the last count counted as new mail.
  unsigned char countedNew[UID_SLOTS];
  DWORD lastCurrentCount;
  // What the last count found, for rememberCurrentUids: the known UIDs
  // still on the server, and this check's UIDs to append (each text once).
  unsigned char knownMatched[UID_SLOTS];
  unsigned char currentAppended[UID_SLOTS];
  // An IMAP mailbox's mark: the UIDVALIDITY and UIDNEXT of its last
  // announced check (imapMarked 0: never checked), and the account it
  // belongs to (imapAccountKey; 0: a mark made before marks had one).
  int imapMarked;
  DWORD imapValidity;
  DWORD imapNext;
  DWORD imapAccount;
  // Checks in a row that found the mark's UIDVALIDITY changed.
  DWORD imapRenumbered;
};

struct Mailbox {
  const Account* account;  // check/check.cpp (initMailbox)
  // One protocol for each of the settings' PROTOCOL_ values, and the one
  // of the session under way or last made.
  const Protocol* const* protocols;  // check/check.cpp (initMailbox)
  const Protocol* protocol;          // check/check.cpp
  int mailboxSlot;                   // check/check.cpp (initMailbox)
  ConnectionCalls connectionCalls;   // check/check.cpp: the protocol's and the cycle's
  CheckCycle cycle;                  // its fields' owners
  Connection connection;             // its fields' owners
  Dialogue dialogue;                 // its fields' owners
  ImapDialogue imap;                 // its fields' owners
  MailCounts counts;                 // its fields' owners
  Schedule schedule;                 // its fields' owners
  Listing listing;                   // its fields' owners
  KnownUids known;                   // its fields' owners
  Previews previews;                 // its fields' owners
  // The UID tables: slots made at start-up and released after the
  // message loop (app/mainwindow.cpp); the check writes into them.
  UidTable currentUids;
  UidTable knownUids;
};

#endif
