// The POP3 dialogue's state: which reply is awaited, what went ahead in
// a flight, the header block under way, and what the server's CAPA said.
// Every field is written by check/pop3.cpp only.
#ifndef KIVVET_CHECK_SESSION_H
#define KIVVET_CHECK_SESSION_H

#include <stddef.h>

#include "net/connection.h"
#include "platform/win32.h"
#include "tray/previews.h"

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
  AwaitTopLine = 13  // the last: the trace's names follow (check/pop3.cpp)
};

const DWORD SEND_BUFFER_BYTES = 256;
// While a flight is made up its commands collect; it is a few hundred
// bytes at most, and never more than one is under way.
const size_t FLIGHT_BYTES = 512;
// The header block of the message under way. It is kept only while it is
// read, and is wiped once its sender and subject are taken; a block
// beyond this size gives no preview.
const size_t HEADER_BLOCK_BYTES = 65536;

// What a server's CAPA said, kept for its host, port and way of securing
// the channel: a later check with the same three sends its flight right
// after the greeting, without asking again. A refusal, or another server,
// forgets it.
// check/pop3.cpp
struct KeptCapabilities {
  int capaKnown;
  char capaHost[HOST_NAME_BYTES];
  int capaPort;
  int capaSecurity;
  int pipelines;  // PIPELINING
  int listsUids;  // UIDL
};

// check/pop3.cpp
struct Dialogue {
  SessionState state;  // check/pop3.cpp (setSessionState)
  int quitRefusals;
  DWORD uidlIndex;  // the message whose UID the walk asks for
  int listed;       // the UIDs came from a listing, not from the walk
  int inFlights;    // the session after the greeting went in a flight
  // UIDs were counted: the known list takes them once the count is
  // announced.
  int counted;
  char digest[33];  // the APOP digest sent, kept from the trace
  // This session asked no CAPA: it went by what an earlier one said.
  int capaKept;
  // The newest new messages whose headers are asked for (TOP n 0),
  // newest first; the one under way; how many TOPs went with a flight.
  DWORD topNumbers[MOST_PREVIEWS];
  DWORD topCount;
  DWORD topAt;
  DWORD topsAhead;
  // Where the header block under way began in the connection's text, and
  // whether it outgrew the block.
  DWORD topStart;
  int topTooLong;
  size_t headerLength;
  // A server that pipelines (RFC 2449) takes the whole session in one
  // flight; the steps whose commands went with it find them sent already
  // (sentAhead, of the AHEAD_ flags) and only wait for their replies.
  int serverPipelines;     // its CAPA listed PIPELINING
  int serverListsUids;     // and UIDL: the listing goes with the flight
  int serverSpacesLogins;  // and LOGIN-DELAY
  int sentAhead;
  int composingFlight;
  size_t flightLength;
  // Once a session in a flight is ended early, the replies to the
  // commands sent with it come before QUIT's: they are read and passed
  // over (the listing, the last of them, with its lines when positive).
  DWORD repliesToPassOver;
  int listingToPassOver;
  int passingListing;
  KeptCapabilities capabilities;
  char flight[FLIGHT_BYTES];
  char sendBuffer[SEND_BUFFER_BYTES];
  char greeting[LINE_BUFFER_BYTES];  // kept for APOP across STLS
  char headerBlock[HEADER_BLOCK_BYTES];
};

#endif
