// An IMAP server played by the test through the stand-in's sockets: it
// greets, logs in, answers EXAMINE, STATUS, UID FETCH, UID SEARCH (with
// ESEARCH's RETURN where it offers ESEARCH) and IDLE from its
// mailbox, and can be told to misbehave.
#ifndef KIVVET_TESTS_SUPPORT_IMAPSERVER_H
#define KIVVET_TESTS_SUPPORT_IMAPSERVER_H

#include <map>
#include <string>
#include <vector>

#include "platform/standin/standin_control.h"

struct FakeImap {
  // "* PREAUTH ..." starts logged in; after "* BYE ..." the server closes.
  std::string greeting = "* OK [CAPABILITY IMAP4rev1 IDLE LITERAL+ SASL-IR AUTH=PLAIN] ready";
  std::vector<std::string> capabilities = {"IMAP4rev1", "IDLE", "LITERAL+", "SASL-IR",
                                           "AUTH=PLAIN"};  // the answer to CAPABILITY
  bool loginDisabled = false;  // LOGIN is refused; AUTHENTICATE PLAIN is the way in
  std::string user = "cat";
  std::string password = "nyan";
  struct Message {
    unsigned uid;
    std::string flags;   // "\\Seen", or "" for none
    std::string header;  // the header block, lines ending with CR LF
  };
  std::vector<Message> messages;  // in the order of their UIDs
  unsigned uidValidity = 1000;
  unsigned uidNext = 1;

  // Options name a command by its words after the tag ("LOGIN", "UID
  // FETCH"), or by more of them ("UID FETCH 1:*"): the commands that begin
  // so. A reply replaces the normal one: its lines as they are, the last
  // one after the command's tag ("NO [UNAVAILABLE] later").
  std::map<std::string, std::string> replies;
  std::vector<std::string> byeOn;  // "* BYE" and a close instead of an answer
  size_t pieceSize = 0;            // 0: replies whole; n: in pieces of n bytes, 1 ms apart
  DWORD lastPieceAt = 0;
  DWORD idleDropMs = 0;           // an IDLE this long is ended by "* BYE" and a close (0: never)
  DWORD idleEndMs = 0;            // an IDLE this long is ended by its tagged OK (0: never)
  bool silentIdle = false;        // tells nothing during IDLE; NOOP tells new mail
  bool idleEndsWithNews = false;  // ends IDLE with its tagged OK as it tells of new mail
  std::string heldBack;  // a command whose answer follows the next search's, as Dovecot's may
  std::string heldAnswer;
  bool noUidNext = false;           // EXAMINE tells no [UIDNEXT]
  bool validityPerSession = false;  // every connection brings a new UIDVALIDITY
  // 0: plain text; 1: offers STARTTLS; 2: TLS from the first byte, then
  // the greeting inside it. The script says how the server's TLS behaves.
  int tls = 0;
  standin::TlsServer tlsScript;
  std::string startTlsInjection;  // plain text right behind STARTTLS's "OK", in its chunk

  // Every line received, in order, with its tag; a line that ends in a
  // literal's count with the literal and the rest of the command.
  std::vector<std::string> commands;
  bool couldSetSeen = false;       // by SELECT, STORE, or BODY[] without .PEEK
  SOCKET socket = INVALID_SOCKET;  // the last connection
  int connections = 0;

  // The last connection's session.
  enum Phase { LoggedOut, LoggedIn, Examined } phase = LoggedOut;
  bool underTls = false;
  std::string toldCapabilities;  // by the greeting or CAPABILITY, each after a space
  std::string idleTag;           // while an IDLE is under way
  int idles = 0;
  size_t toldExists = 0;
  std::string awaitedLiteral;  // a command up to a literal not yet received
  size_t literalBytes = 0;
  size_t sendsAtGoAhead = 0;    // the program's sends when "+ go ahead" went
  bool literalFault = false;    // a literal sent unasked, or "{n+}" without LITERAL+
  std::string authenticateTag;  // an AUTHENTICATE awaiting its response
};

// Lets the server answer every connection the program makes from now on.
void serveImap(FakeImap& server);
// Sends raw bytes to the program on the server's last connection, now.
void imapSay(FakeImap& server, const std::string& bytes);
// A new message, with the next UID; a session in IDLE is told at once.
void deliver(FakeImap& server, const std::string& header, const std::string& flags = "");

#endif
