// The client side of an IMAP session (RFC 3501, with RFC 9051 in mind),
// the second protocol over a mailbox's connection: the greeting and the
// server's capabilities, STARTTLS when asked, LOGIN (or AUTHENTICATE
// PLAIN where LOGIN is disabled), EXAMINE INBOX, the UIDs and flags of
// the messages that may be new, the header fields of the newest new ones.
// With a server that offers IDLE (RFC 2177) the session then stays open
// and the server tells of new mail as it lands; without, LOGOUT.
// The mailbox is only examined, never selected: nothing here can set a
// flag or change a message.
#ifndef KIVVET_CHECK_IMAP_H
#define KIVVET_CHECK_IMAP_H

#include "check/mailbox.h"

extern const Protocol imapProtocol;

// IDLE is renewed before servers end a session that only idles (they may
// after 30 minutes), and a server that keeps quiet longer than its own
// keep-alive plus this margin is taken for gone.
const DWORD IDLE_RENEWAL_MS = 25 * 60000;
const DWORD KEEP_ALIVE_MARGIN_MS = 60000;

#endif
