// The client side of the POP3 conversation (RFC 1939): greeting, USER and
// PASS or APOP, STAT, one UIDL per message (or, with fast scan, one bare
// UIDL and its listing) when new mail is to be told from old, QUIT. With
// fast scan and a server that pipelines (RFC 2449), everything after the
// greeting and CAPA goes in one flight. No message is ever retrieved or
// deleted.
#ifndef KIVVET_CHECK_POP3_H
#define KIVVET_CHECK_POP3_H

#include "check/session.h"

// The one place where session.state changes.
void setSessionState(SessionState state);
// A new session's dialogue: no counts, no greeting, no unfinished line.
void beginDialogue();

// The line assembler: every received chunk goes through here.
void feedReceivedText(HWND window, const char* text, DWORD length);
void resetLineAssembler();

// A check that fails while the headers of its new mail are read: the
// count is announced all the same, without previews, and remembered.
// Returns 0 outside that phase.
int announceCountOnFailure(HWND window);

// The TLS channel is open: after STLS the login follows at once.
void onChannelOpen(HWND window);

#endif
