// The UIDs the mailbox held at the last compared check, kept in
// KivvetLE.log, and the count of new mail they yield.
#ifndef KIVVET_CHECK_KNOWNUIDS_H
#define KIVVET_CHECK_KNOWNUIDS_H

#include <stddef.h>

#include "platform/win32.h"

struct Mailbox;

extern const char KNOWN_UIDS_FILE_NAME[];
const DWORD KNOWN_UIDS_RECORD_BYTES = 32;
const DWORD KNOWN_UIDS_FILE_BYTES = 32768;

// The file of the mailbox in slot: KivvetLE.log for the first, where it
// always was, KivvetLE-2.log and on for the others.
void knownUidsFileName(int slot, char* name, size_t size);
int loadKnownUids(Mailbox* box);
int saveKnownUids(const Mailbox* box);
// Compares this check's UIDs (currentUids) with the known ones and counts
// the new; the known list stays as it was until rememberCurrentUids.
DWORD countNewUids(Mailbox* box);
// The known list becomes what the last count found on the server.
void rememberCurrentUids(Mailbox* box);
// Both at once.
DWORD mergeUidLists(Mailbox* box);
// The places in currentUids of the newest messages the last merge counted
// as new, newest first, at most `most` of them; returns how many.
DWORD newestNewPlaces(const Mailbox* box, DWORD* places, DWORD most);

// An IMAP mailbox needs no list: its new mail is what has a UID at or
// above the UIDNEXT it had at the last announced check, while its
// UIDVALIDITY stays. The two numbers are one more record behind the
// table (a file without it knows none), so that a POP3 account's list and
// an IMAP account's mark survive a change of protocol both ways. The
// record's text ends with a NUL, as older copies read it; its last four
// bytes name the account the mark belongs to.
const DWORD IMAP_MARK_AT = KNOWN_UIDS_FILE_BYTES;
const DWORD IMAP_ACCOUNT_AT = KNOWN_UIDS_RECORD_BYTES - 4;
// The mark is this account's now (and counts the checks in a row that
// found another UIDVALIDITY under it).
void rememberImapMark(Mailbox* box, DWORD uidValidity, DWORD uidNext);
// 1 when there is a mark and it belongs to the account the settings name
// now (server and user ID); a mark of no known account is taken as this
// one's.
int imapMarkHolds(const Mailbox* box);
// The settings' account as a number other than 0.
DWORD imapAccountKey(const Mailbox* box);

// Puts a UID of the server into a 33-byte slot. A UID longer than 32
// characters (POP3 allows 70) is stored as the 32 hex digits of its MD5,
// so that two different long UIDs never become the same stored UID.
void storeUid(char* slot, const char* uid, size_t length);

#endif
