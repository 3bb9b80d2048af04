// The register of new mail the user has not looked at yet, one per
// mailbox slot: how many messages, who wrote the newest, and the UIDs by
// which mail read or deleted elsewhere is taken back. The count on the
// icon, the tooltip, the balloon and the submenu of new mail show it.
// Kept in memory only, in fixed slots: a register never grows.
#ifndef KIVVET_TRAY_REGISTER_H
#define KIVVET_TRAY_REGISTER_H

#include "base/appstate.h"
#include "tray/previews.h"

// The UIDs of the newest untold messages a register keeps; older ones
// stay counted, but can no longer be taken back one by one.
const DWORD REGISTER_UIDS = 64;

// A check of the mailbox in slot begins: what it will report starts
// afresh.
void registerCheckBegins(int slot);
// What the check found: a new message, in the mailbox's order (oldest
// first); a message of the register still there and unread; one read
// elsewhere. UIDs as the protocol stores them (at most 32 characters).
void registerFoundNew(int slot, const char* uid);
void registerStillUnread(int slot, const char* uid);
void registerReadElsewhere(int slot, const char* uid);
// The check asked after every UID of the register: those it heard
// nothing of are gone from the server.
void registerAskedAll(int slot);
// The check's result is out: its newCount new messages join the register
// (the newest of those found above, the previews of the newest first),
// and what went leaves it. An empty mailbox empties the register.
void registerCheckEnds(int slot, DWORD newCount, DWORD messageCount, const Previews* previews);

// The user has seen the mail: the register empties.
void acknowledgeRegister(int slot);
// The register's tracked UIDs, each followed by a comma, into text (cut
// at the last whole one that fits); returns the bytes written.
size_t registerUidList(int slot, char* text, size_t size);

// count of this check's new messages were told quietly; they are told
// once the quiet ends.
void registerToldQuietly(int slot, DWORD count);
// The quiet mail has been told.
void forgetQuietMail(int slot);

DWORD untoldCount(int slot);
// Which register new mail joined last: the higher, the later.
DWORD lastJoinOf(int slot);
DWORD trackedCount(int slot);
DWORD quietCount(int slot);
const Previews* untoldPreviews(int slot);
// The bytes a register takes, whatever it holds.
size_t registerBytes();

#endif
