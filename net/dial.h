// Dialling a server by name or address: the lookup of every address the
// name has, IPv6 and IPv4, and connection attempts raced over them in the
// manner of Happy Eyeballs (RFC 8305): the families taken in turn, a new
// attempt every 250 ms while none has connected (at once when the last one
// failed), the first to connect kept and the others closed.
//
// Nothing here blocks and nothing knows a protocol. The lookup's result
// and the attempts' FD_CONNECT come to the window as MSG_HOST_RESOLVED and
// MSG_SOCKET_EVENT; its handlers pass them on to onDialLookup and
// onDialSocketEvent, which say when the dial is decided.
#ifndef KIVVET_NET_DIAL_H
#define KIVVET_NET_DIAL_H

#include "platform/win32.h"

// A server's name as the settings hold it, without its brackets.
const size_t DIAL_HOST_BYTES = 384;
// Of a name's addresses, the first this many (after interleaving) are
// tried; a mail server seldom has more than two or three.
const int DIAL_MOST_ADDRESSES = 8;
// The pause before the next attempt while the others still wait.
const UINT DIAL_ATTEMPT_DELAY_MS = 250;
// Lookups given up while the system still works on them (Wine cannot
// cancel one); each is freed when its completion comes.
const int DIAL_MOST_ORPHANS = 4;

enum DialResult {
  DialPending,    // nothing decided (or the message was not this dial's)
  DialConnected,  // winner holds the connected socket: the caller's now
  DialFailed      // every address failed; failure says how the last one did
};

// How the last address failed, or that there was none.
enum DialFailure {
  DialNoFailure = 0,
  DialNoSuchHost,     // the lookup failed or found no address
  DialNoSocket,       // socket() refused
  DialSelectFailed,   // WSAAsyncSelect refused
  DialConnectFailed,  // connect() refused at once
  DialRefused,        // the server's machine refused: nothing listens on the port
  DialUnreachable     // the attempt ended with another error: unreachable, timed out
};

struct DialLookup;  // a lookup in flight, shared with the system's thread

struct DialAddress {
  SOCKADDR_STORAGE address;
  int length;
  SOCKET socket = INVALID_SOCKET;  // the attempt on this address, while it runs
};

// One dial. Its timer's id is the record's own address, so two dials
// never share one. A dial is cancelled (or decided) before it is
// started again, and before its memory goes.
struct Dial {
  DialLookup* lookup = NULL;  // the lookup this dial waits for
  DialLookup* orphans[DIAL_MOST_ORPHANS] = {};
  DialAddress addresses[DIAL_MOST_ADDRESSES];
  int addressCount = 0;
  int nextAddress = 0;  // the next address to try
  u_short port = 0;
  int timerArmed = 0;              // the pause before the next attempt runs
  SOCKET winner = INVALID_SOCKET;  // set with DialConnected; never closed here
  DialFailure failure = DialNoFailure;
};

// Starts dialling host:port, ending whatever the dial did before. An
// address (127.0.0.1, ::1, [2001:db8::1], fe80::1%12) is tried at once,
// an IPv4 one written as IPv6 (::ffff:127.0.0.1) as IPv4; a name is
// looked up first. Returns DialPending, or DialFailed when nothing could
// even be started.
DialResult startDial(Dial* dial, HWND window, const char* host, u_short port);
// MSG_HOST_RESOLVED: a lookup completed (one of this dial's, perhaps a
// cancelled one, which is only freed). Its parameters say nothing: the
// dial looks at its own lookups.
DialResult onDialLookup(Dial* dial, HWND window);
// MSG_SOCKET_EVENT for a socket that is not the caller's: FD_CONNECT of
// an attempt. DialConnected hands over winner, selected for FD_READ,
// FD_WRITE, FD_CONNECT and FD_CLOSE on the window, its FD_CONNECT taken.
DialResult onDialSocketEvent(Dial* dial, HWND window, WPARAM wParam, LPARAM lParam);
// 1 while a lookup or an attempt is under way.
int dialUnderWay(const Dial* dial);
// Ends the lookup and every attempt; the winner, if any, is left alone.
// A lookup's completion that comes later touches nothing but its own
// memory, and is freed by onDialLookup. At the program's end a lookup the
// system may still complete is left allocated.
void cancelDial(Dial* dial, HWND window);

#endif
