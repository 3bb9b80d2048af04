// One connection to a server, under whatever protocol speaks over it: the
// host lookup, the asynchronous socket, TLS from the first byte or turned
// to later, the line assembler with its bounds, the silence and stall
// time-outs, and the orderly and abrupt close. It knows no protocol: it
// tells its owner of lines, of the channel's opening and of its end
// through the calls it was given, and the protocol sends, turns to TLS
// and closes through the functions below.
//
// Outside a session the socket is INVALID_SOCKET and the dial rests, so a
// late message (a lookup's answer after its session ended, an event
// queued for a socket already closed) finds nothing to act on.
#ifndef KIVVET_NET_CONNECTION_H
#define KIVVET_NET_CONNECTION_H

#include "net/dial.h"
#include "net/tls.h"
#include "platform/win32.h"

// How the channel is secured: not at all, TLS after the protocol's own
// request in plain text, or TLS from the first byte.
enum ChannelSecurity { PlainChannel = 0, UpgradedChannel = 1, ImplicitTls = 2 };

// Why a connection ended by itself. The owner decides what it means.
enum ConnectionEnd {
  EndNoSuchHost,       // the name was not found, or the lookup refused
  EndNoSocket,         // no socket could be made
  EndSelectFailed,     // the socket would not report its events
  EndConnectFailed,    // connect refused at once
  EndRefused,          // nothing listens on the server's port
  EndLineFault,        // a socket event carried an error
  EndReceiveFailed,    // recv failed
  EndNothingReceived,  // the server closed: recv gave nothing
  EndServerLeft,       // the server closed its end; what it sent was read
  EndSilent,           // a minute without a byte from the server
  EndStalled,          // minutes of bytes that never made a line
  EndTlsFailed         // the channel failed; the text says how
};

// What a connection tells its owner. Each may close the connection; the
// connection looks before it goes on.
struct ConnectionCalls {
  // Text may go: a plain or to-be-upgraded connection stands, or a TLS
  // handshake is complete (also one that upgraded the channel).
  void (*opened)(HWND window, void* owner);
  // A whole line arrived: NUL-terminated, without its LF (a CR before it
  // stays). A line longer than the buffer is cut, its rest passed over.
  void (*lineArrived)(HWND window, void* owner, const char* line);
  // The connection ended by itself; the owner closes it.
  void (*ended)(HWND window, void* owner, ConnectionEnd end, const char* text);
  // A TLS handshake has begun.
  void (*securing)(HWND window, void* owner);
  // A protocol whose answers are not lines alone (literals counted in
  // bytes) takes each received chunk of text as it stands instead of
  // lineArrived; null for a protocol of lines.
  void (*bytesArrived)(HWND window, void* owner, const char* bytes, DWORD length);
};

// A reply line may be 512 bytes (RFC 2449); a longer one is cut here.
const DWORD LINE_BUFFER_BYTES = 1024;
const DWORD HOST_NAME_BYTES = TLS_HOST_BYTES;
static_assert(HOST_NAME_BYTES <= DIAL_HOST_BYTES, "a connection's server is the dial's");

// net/connection.cpp; the channel's fields are net/tls.cpp's.
struct Connection {
  const ConnectionCalls* calls;
  void* owner;
  int timerSlot;  // which mailbox's timers are this connection's
  SOCKET sessionSocket;
  ChannelSecurity security;
  char host[HOST_NAME_BYTES];
  int serverPort;
  Dial dial;          // the lookup and the connection attempts
  int serverReached;  // the connection of this session stood
  // Only the protocol's request to turn to TLS leaves an upgraded channel
  // in plain text, once.
  int upgradeAsked;
  // When the server last sent something, and when the last whole line
  // arrived (GetTickCount).
  DWORD lastHeardAt;
  DWORD lastLineAt;
  DWORD lineLength;  // bytes of an unfinished line in lineBuffer
  // The rest of a line too long for the buffer is being passed over, up
  // to its LF.
  int skippingRest;
  DWORD textBytes;  // bytes of text taken since the session began
  char lineBuffer[LINE_BUFFER_BYTES];
  TlsChannel tls;
};

// A connection that never opened, in a mailbox's slot, telling `owner`.
void initConnection(Connection* c, int slot, void* owner);
// Starts a session: the silence and stall time-outs run, the line
// assembler is empty, and the server is looked up (a dotted address needs
// no lookup) and connected. What follows comes through the calls.
void openConnection(HWND window, Connection* c, const ConnectionCalls* calls, const char* host,
                    int port, ChannelSecurity security);
// Sends text, inside the channel when there is one; 0 when it was
// refused: a channel meant to be encrypted sends nothing in clear but the
// one request to turn to TLS (sendUpgradeRequest).
int sendText(Connection* c, const char* text, int length);
int sendUpgradeRequest(Connection* c, const char* text, int length);
// 1 when text may go now (the channel is open, or plain by choice).
int canSendText(const Connection* c);
// The server agreed to turn to TLS: whatever else came in plain text with
// its answer is dropped, and the handshake begins.
void upgradeToTls(HWND window, Connection* c);
// Bytes of text taken since the session began, lines and their LFs, the
// passed-over rests of long lines included.
DWORD textBytesTaken(const Connection* c);
// A protocol that takes bytes tells of each whole answer here: a stall is
// bytes that never make one.
void noteWholeAnswer(Connection* c);
// A connection held open without a check (waiting for the server to
// speak first) is watched again: silence and a stall end it as in a check.
void watchForAnswers(HWND window, Connection* c);
// The owner has its result: no lookup is awaited, and silence no longer
// ends the connection (a stall still does).
void stopWaitingForAnswers(HWND window, Connection* c);
// Neither silence nor a stall ends the connection any more. A closed
// connection's time-outs end nothing, but run until stopped here.
void stopSilenceTimeout(HWND window, Connection* c);
void stopStallTimeout(HWND window, Connection* c);
// The orderly end: no more notifications, our side shut, what has
// already arrived read and dropped, the socket closed, the channel ended.
void closeConnection(HWND window, Connection* c);
// 1 while a lookup or a socket of the session stands.
int connectionUnderWay(const Connection* c);
// The program ends: the socket goes at once, and the TLS credentials; no
// lookup is waited for (one the system cannot cancel is left to it).
void abortConnection(Connection* c);

// The window's messages, for every connection.
void onHostResolved(HWND window, WPARAM wParam, LPARAM lParam);
void onSocketEvent(HWND window, WPARAM wParam, LPARAM lParam);
// The line assembler: every received chunk of plain text goes through here.
void feedReceivedText(HWND window, Connection* c, const char* text, DWORD length);

#endif
