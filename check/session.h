// The session of the check under way: the dialogue's state, the TLS
// channel's phase, and the sizes of the buffers the check works in.
#ifndef KIVVET_CHECK_SESSION_H
#define KIVVET_CHECK_SESSION_H

#include "base/appstate.h"

enum SessionState {
  Idle = 0,
  AwaitGreeting = 1,
  AwaitUserReply = 2,
  AwaitPassReply = 3,
  AwaitStatReply = 4,
  AwaitUidlReply = 5,
  AwaitQuitReply = 6,
  // STLS was sent; after its "+OK" the session stays here through the
  // handshake, and logs in once the channel is open.
  AwaitStlsReply = 7,
  // Fast scan: a bare UIDL was sent; its status line, then the lines of
  // the listing up to the one holding a single ".".
  AwaitListingReply = 8,
  AwaitListingLine = 9,
  // CAPA (RFC 2449) was sent; after its "+OK" the capabilities follow,
  // one a line, up to the line ".".
  AwaitCapaReply = 10,
  ReadCapaList = 11,
  // TOP n 0 was sent for a new message; after its "+OK" the header lines
  // follow, up to the line ".".
  AwaitTopReply = 12,
  AwaitTopLine = 13
};

enum TlsPhase { TlsOff = 0, TlsHandshake = 1, TlsOpen = 2 };

// A reply line may be 512 bytes (RFC 2449); the assembler also holds the
// rest of a 255-byte chunk behind an unfinished line.
const DWORD LINE_BUFFER_BYTES = 1024;
const DWORD SEND_BUFFER_BYTES = 256;
// Holds the largest TLS record (16 KB of data, its header, padding and
// MAC) with room to spare; the queue holds handshake messages and the
// few short commands that can be under way at once.
const DWORD TLS_INPUT_BYTES = 20480;
const DWORD TLS_OUTPUT_BYTES = 8192;

struct Session {
  SOCKET socket = INVALID_SOCKET;  // check/check.cpp; INVALID_SOCKET outside a session
  SessionState state = Idle;       // check/pop3.cpp (setSessionState)
  TlsPhase tlsPhase = TlsOff;      // check/tls.cpp (setTlsPhase)
  int security = 0;                // check/check.cpp: the setting the session was started with
  // A retry in a row of failures: the tray keeps what it shows until the
  // check has its result. check/check.cpp
  int quiet = 0;
};

extern Session session;

#endif
