// A POP3 server played by the test through the stand-in's sockets: it
// greets, answers each command from its mailbox, and can be told to
// misbehave.
#ifndef KIVVET_TESTS_SUPPORT_POP3SERVER_H
#define KIVVET_TESTS_SUPPORT_POP3SERVER_H

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/standin/standin_control.h"

struct FakePop3 {
  std::string greeting = "+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>";
  std::string user = "cat";
  std::string password = "nyan";
  std::vector<std::string> uids;
  // The header block of each message, for TOP n 0 ("-ERR" for a message
  // without one); lines end with CRLF, dot-stuffed as they are sent.
  std::vector<std::string> headers;
  // The answer to a bare UIDL: "-ERR" when false, else the listing of uids,
  // or `listing` as it stands when that is set.
  bool lists = true;
  std::string listing;
  // The answer to CAPA, one capability a line: "-ERR" when empty.
  std::vector<std::string> capabilities;
  // A reply that replaces the normal one for a command ("STAT", "QUIT"...).
  std::map<std::string, std::string> replies;
  // Commands the server does not answer at all, by their word or whole.
  std::vector<std::string> silentOn;
  // Commands (by their word or whole) the server answers by closing the
  // connection, with the error the program's FD_CLOSE carries (0: an
  // orderly close; WSAECONNRESET: a reset). "greeting" closes instead of
  // greeting.
  std::map<std::string, int> closesOn;
  // Closes the connection as soon as it has answered QUIT.
  bool closesAfterQuit = false;
  bool greets = true;
  bool acceptsConnection = true;
  int connectionError = WSAECONNREFUSED;  // what a connection not accepted ends with
  // 0: each reply arrives whole; n: in pieces of n bytes, 1 ms apart.
  size_t pieceSize = 0;
  DWORD lastPieceAt = 0;
  // How long each reply takes to arrive (a far server).
  DWORD replyDelayMs = 0;
  // 0: plain text; 1: offers STLS; 2: TLS from the first byte, then the
  // greeting inside it. The script says how the server's TLS behaves.
  int tls = 0;
  standin::TlsServer tlsScript;

  std::vector<std::string> commands;  // every line received, in order
  SOCKET socket = INVALID_SOCKET;     // the last connection
  long eventsAtConnect = 0;           // what the program asked to be told of it
  int connections = 0;
};

// Lets the server answer every connection the program makes from now on.
void servePop3(FakePop3& server);
// Sends raw bytes to the program on the server's last connection, now.
void serverSay(FakePop3& server, const std::string& bytes);

#endif
