// The client side of the POP3 conversation (RFC 1939), one protocol over
// a mailbox's connection: greeting, USER and PASS or APOP, STAT, one UIDL
// per message (or, with fast scan, one bare UIDL and its listing) when
// new mail is to be told from old, the headers of the newest new mail,
// QUIT. With fast scan and a server that pipelines (RFC 2449), everything
// after the greeting and CAPA goes in one flight; what CAPA said is kept
// for the next check to the same server, which then asks no CAPA. No
// message is ever retrieved or deleted.
#ifndef KIVVET_CHECK_POP3_H
#define KIVVET_CHECK_POP3_H

#include "check/mailbox.h"

extern const Protocol pop3Protocol;

#endif
