// The table of mailboxes: one record for each account in use, in the
// accounts' order, and what is done to all of them at once.
#ifndef KIVVET_CHECK_MAILBOXES_H
#define KIVVET_CHECK_MAILBOXES_H

#include "check/mailbox.h"

// Slot n checks accounts[n]. check/mailboxes.cpp
extern Mailbox mailboxes[MOST_MAILBOXES];

// Each record's UID slots, made zero-filled; 0, with nothing left
// allocated, when memory runs out.
int createMailboxes();
void releaseMailboxes();
// Every record made afresh for its account, with the tray told of each.
void initMailboxes();
// The known UIDs of every mailbox in use, each from its file.
int loadAllKnownUids(int (*patiently)(int (*load)(Mailbox* box), Mailbox* box));

// A check of each mailbox in use that is not busy already.
void checkAllMailboxes(HWND window);
// The mailbox in slot, while an account is there; null otherwise.
Mailbox* mailboxInUse(int slot);

// The accounts were added, removed or moved in the settings: each
// mailbox's file follows its account (one removed goes with it), and
// the records are made anew from the files.
void followAccounts();

#endif
