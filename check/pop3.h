// The client side of the POP3 conversation (RFC 1939): greeting, USER and
// PASS or APOP, STAT, one UIDL per message (or, with fast scan, one bare
// UIDL and its listing) when new mail is to be told from old, QUIT. No message is ever retrieved or deleted.
#ifndef KIVVET_CHECK_POP3_H
#define KIVVET_CHECK_POP3_H

#include "app/appstate.h"

// The one place where sessionState changes.
void setSessionState(SessionState state);

// The line assembler: every received chunk goes through here.
void feedReceivedText(HWND window, const char* text, DWORD length);
void resetLineAssembler();
void dispatchReply(HWND window);

void sendLogin(HWND window);
void sendStls();
// The TLS channel is open: after STLS the login follows at once.
void onChannelOpen(HWND window);
void sendPass();
void sendStat();
void sendUidl();
void sendFirstUidl();
// Fast scan: one bare UIDL and its listing instead of the walk.
void sendUidlListing();
void onListingLine(HWND window);
// After the last UID: QUIT, the comparison, the file, the announcement.
void finishCounting(HWND window);
void sendQuit(HWND window);
void onStatReply(HWND window);
void onUidlReply(HWND window);

// The messages whose UIDs one check walks: the newest UID_SLOTS of a
// larger mailbox (mail arrives at the end).
DWORD firstWalkedMessage();

#endif
