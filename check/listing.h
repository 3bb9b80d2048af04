// The UID table filled from one listing (the answer to a bare UIDL)
// instead of a walk: the newest messages' UIDs, in message order.
#ifndef KIVVET_CHECK_LISTING_H
#define KIVVET_CHECK_LISTING_H

#include <stddef.h>

#include "platform/win32.h"

struct Mailbox;

void beginListing(Mailbox* box);
// One line of the listing: the message's number and its UID (length bytes,
// not NUL-terminated; long UIDs are kept as the walk keeps them).
void keepListedUid(Mailbox* box, DWORD number, const char* uid, size_t length);
// Puts the kept UIDs into message order in currentUids; returns how many
// messages the listing held.
DWORD finishListing(Mailbox* box);
// The message number whose UID finishListing put at this place.
DWORD listedNumberAt(const Mailbox* box, DWORD place);

#endif
