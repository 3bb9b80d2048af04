// The connection beneath every protocol. Nothing here blocks: the lookup,
// the connection and every received chunk come back as window messages,
// and two timers watch the server: one for silence (a minute without a
// byte), one for a stall (bytes that never make a line).
#include "net/connection.h"

#include <stdint.h>
#include <string.h>

#include "base/appstate.h"
#include "base/text.h"

namespace {

// A closing connection takes what has already arrived, never more: a
// server that keeps sending must not hold the program here.
const int DRAIN_READS = 64;

// The connections of the mailboxes, by slot: their timers and the
// window's socket messages find them here.
Connection* connections[MOST_MAILBOXES];

void end(HWND window, Connection* c, ConnectionEnd why, const char* text = NULL) {
  c->calls->ended(window, c->owner, why, text);
}

int isOpen(const Connection* c) { return c->socket != INVALID_SOCKET; }

}  // namespace

int connectionUnderWay(const Connection* c) { return isOpen(c) || c->lookupHandle != NULL; }

namespace {

// Stops waiting for the host lookup of this session. A reply that was on
// its way already is then ignored by onHostResolved.
void forgetLookup(Connection* c) {
  if (c->lookupHandle == NULL) return;
  WSACancelAsyncRequest(c->lookupHandle);
  c->lookupHandle = NULL;
}

void resetLineAssembler(Connection* c) {
  c->lineBuffer[0] = '\0';
  c->lineLength = 0;
  c->skippingRest = 0;
}

// What the channel tells its connection.
int onTlsText(HWND window, void* user, const char* text, DWORD length) {
  Connection* c = (Connection*)user;
  feedReceivedText(window, c, text, length);
  return isOpen(c);
}

void onTlsOpened(HWND window, void* user) {
  Connection* c = (Connection*)user;
  c->calls->opened(window, c->owner);
}

// After the protocol's farewell that only ends the session; before, it
// is a connection that ended without a word.
void onTlsClosed(HWND window, void* user) { end(window, (Connection*)user, EndNothingReceived); }

void onTlsFailed(HWND window, void* user, const char* text) {
  end(window, (Connection*)user, EndTlsFailed, text);
}

const TlsEvents tlsEvents = {onTlsText, onTlsOpened, onTlsClosed, onTlsFailed};

void beginChannel(HWND window, Connection* c) {
  beginTls(window, &c->tls, c->socket, c->host, c->serverPort, c->security == ImplicitTls);
  if (c->tls.phase == TlsHandshake) c->calls->securing(window, c->owner);
}

void connectServer(HWND window, Connection* c) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return end(window, c, EndNoSocket);
  // Also makes the socket non-blocking.
  if (WSAAsyncSelect(s, window, MSG_SOCKET_EVENT, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE) ==
      SOCKET_ERROR) {
    closesocket(s);
    return end(window, c, EndSelectFailed);
  }
  struct sockaddr_in address;
  memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons((u_short)c->serverPort);
  address.sin_addr.s_addr = (uint32_t)c->serverAddress;
  if (connect(s, (struct sockaddr*)&address, sizeof address) == SOCKET_ERROR &&
      WSAGetLastError() != WSAEWOULDBLOCK) {
    WSAAsyncSelect(s, window, 0, 0);
    closesocket(s);
    return end(window, c, EndConnectFailed);
  }
  c->socket = s;
  c->socketConnected = 0;
}

// The silence timer is armed once per session; when it comes due for a
// server that has spoken since, it is armed again for the rest of the
// minute. The time-out still comes after a minute of silence, never
// sooner, yet a long reply costs no call to the window manager per chunk.
void CALLBACK onSilence(HWND window, UINT, UINT_PTR id, DWORD);

void armSilenceTimer(HWND window, Connection* c, UINT ms) {
  SetTimer(window, mailboxTimer(TIMER_RESPONSE, c->timerSlot), ms, onSilence);
}

Connection* connectionOfTimer(UINT_PTR id) {
  int slot = mailboxSlotOfTimer(id);
  return slot >= 0 && slot < MOST_MAILBOXES ? connections[slot] : NULL;
}

void CALLBACK onSilence(HWND window, UINT, UINT_PTR id, DWORD) {
  Connection* c = connectionOfTimer(id);
  if (c == NULL || !connectionUnderWay(c)) return;
  DWORD quiet = GetTickCount() - c->lastHeardAt;
  if (quiet < RESPONSE_TIMEOUT_MS) return armSilenceTimer(window, c, RESPONSE_TIMEOUT_MS - quiet);
  end(window, c, EndSilent);
}

// A session that keeps getting lines goes on as long as its owner needs
// (a long listing over a slow link); one that gets only bytes that never
// make a line ends three minutes after its last line.
void CALLBACK onStall(HWND window, UINT, UINT_PTR id, DWORD) {
  Connection* c = connectionOfTimer(id);
  if (c == NULL || !connectionUnderWay(c)) return;
  DWORD stalled = GetTickCount() - c->lastLineAt;
  if (stalled < SESSION_TIMEOUT_MS) {
    SetTimer(window, mailboxTimer(TIMER_SESSION, c->timerSlot), SESSION_TIMEOUT_MS - stalled, onStall);
    return;
  }
  end(window, c, EndStalled);
}

// Reads one chunk and hands it on: to TLS, or as text to the assembler.
// Returns what recv returned: 0 when the server has closed, -1 when there
// is nothing to read now or the read failed (the connection has ended
// then).
int readChunk(HWND window, Connection* c) {
  // Over TLS the bytes collect until a whole record can be decrypted.
  // Under implicit TLS no byte is ever read as plain text, not even one
  // that comes before the handshake began.
  char chunk[256];
  char* into = chunk;
  int room = (int)sizeof chunk - 1;
  int overTls = c->tls.phase != TlsOff || c->security == ImplicitTls;
  if (overTls) into = tlsReceiveArea(&c->tls, &room);
  int received = recv(c->socket, into, room, 0);
  if (received == SOCKET_ERROR) {
    // A notification whose data an earlier recv already took.
    if (WSAGetLastError() == WSAEWOULDBLOCK) return -1;
    end(window, c, EndReceiveFailed);
    return -1;
  }
  if (received == 0) return 0;
  // A step of the protocol that stops the silence timer (the end of a
  // session's work) stays in force: only the time is noted here.
  c->lastHeardAt = GetTickCount();
  if (overTls) {
    receiveTls(window, &c->tls, received);
  } else {
    chunk[received] = '\0';
    feedReceivedText(window, c, chunk, (DWORD)received);
  }
  return received;
}

// The server closed its end. What it sent before is read first; a
// connection still open then ends at once.
void onOrderlyClose(HWND window, Connection* c) {
  for (int i = 0; i < DRAIN_READS; i++)
    if (readChunk(window, c) <= 0 || !isOpen(c) || app.windowGone) break;
  if (!isOpen(c) || app.windowGone) return;
  end(window, c, EndServerLeft);
}

void onEvent(HWND window, Connection* c, WORD event, WORD error) {
  // A new socket reports its connection first: whatever comes before that
  // under its handle value was queued for a closed one.
  if (!c->socketConnected && event != FD_CONNECT) return;
  int firstConnect = event == FD_CONNECT && !c->socketConnected;
  if (event == FD_CONNECT) c->socketConnected = 1;
  if (error != 0) return end(window, c, EndLineFault);
  c->serverReached = 1;
  if (event == FD_CONNECT) {
    // Once: a second FD_CONNECT finds the session under way.
    if (!firstConnect) return;
    // Implicit TLS: the handshake begins as soon as the connection stands.
    if (c->security == ImplicitTls) return beginChannel(window, c);
    return c->calls->opened(window, c->owner);
  }
  if (event == FD_WRITE) return flushTls(&c->tls);
  if (event == FD_CLOSE) return onOrderlyClose(window, c);
  if (event != FD_READ) return;
  if (readChunk(window, c) == 0) end(window, c, EndNothingReceived);
}

}  // namespace

void initConnection(Connection* c, int slot, void* owner) {
  memset(c, 0, sizeof *c);
  c->timerSlot = slot;
  c->owner = owner;
  c->socket = INVALID_SOCKET;
  initTls(&c->tls, &tlsEvents, c);
  if (slot >= 0 && slot < MOST_MAILBOXES) connections[slot] = c;
}

void openConnection(HWND window, Connection* c, const ConnectionCalls* calls, const char* host,
                    int port, ChannelSecurity security) {
  c->calls = calls;
  copyWholeCharacters(c->host, sizeof c->host, host);
  c->serverPort = port;
  c->security = security;
  c->serverReached = 0;
  c->upgradeAsked = 0;
  c->textBytes = 0;
  // Whatever an earlier session left unfinished is no part of this one.
  resetLineAssembler(c);
  c->lastHeardAt = GetTickCount();
  c->lastLineAt = c->lastHeardAt;
  armSilenceTimer(window, c, RESPONSE_TIMEOUT_MS);
  SetTimer(window, mailboxTimer(TIMER_SESSION, c->timerSlot), SESSION_TIMEOUT_MS, onStall);

  c->serverAddress = (u_long)inet_addr(c->host);
  if (c->serverAddress != INADDR_NONE) return connectServer(window, c);
  c->lookupHandle =
      WSAAsyncGetHostByName(window, MSG_HOST_RESOLVED, c->host, c->hostEntry, HOST_ENTRY_BYTES);
  if (c->lookupHandle == NULL) end(window, c, EndNoSuchHost);
}

int sendText(Connection* c, const char* text, int length) {
  if (c->tls.phase == TlsOpen) return sendOverTls(&c->tls, text, (DWORD)length);
  if (c->security != PlainChannel || !isOpen(c)) return 0;
  ::send(c->socket, text, length, 0);
  return 1;
}

// Plain text goes out only on a connection that asked for none, and for
// the request to turn to TLS the request itself: whatever the order of
// events, nothing else leaves a channel meant to be encrypted before it
// is open.
int sendUpgradeRequest(Connection* c, const char* text, int length) {
  if (c->security != UpgradedChannel || c->tls.phase != TlsOff || c->upgradeAsked || !isOpen(c))
    return 0;
  c->upgradeAsked = 1;
  ::send(c->socket, text, length, 0);
  return 1;
}

int canSendText(const Connection* c) {
  return c->tls.phase == TlsOpen || c->security == PlainChannel;
}

void upgradeToTls(HWND window, Connection* c) {
  if (c->security != UpgradedChannel || !c->upgradeAsked) return;
  beginChannel(window, c);
}

DWORD textBytesTaken(const Connection* c) { return c->textBytes; }

void stopWaitingForAnswers(HWND window, Connection* c) {
  forgetLookup(c);
  KillTimer(window, mailboxTimer(TIMER_RESPONSE, c->timerSlot));
}

void stopSilenceTimeout(HWND window, Connection* c) {
  KillTimer(window, mailboxTimer(TIMER_RESPONSE, c->timerSlot));
}

void stopStallTimeout(HWND window, Connection* c) {
  KillTimer(window, mailboxTimer(TIMER_SESSION, c->timerSlot));
}

// Notifications stop before the socket closes: the next session's socket
// may get the same handle value.
void closeConnection(HWND window, Connection* c) {
  forgetLookup(c);
  if (!isOpen(c)) return;
  WSAAsyncSelect(c->socket, window, 0, 0);
  char scratch[256];
  shutdown(c->socket, SD_SEND);
  for (int i = 0; i < DRAIN_READS; i++)
    if (recv(c->socket, scratch, sizeof scratch - 1, 0) <= 0) break;
  shutdown(c->socket, SD_BOTH);
  closesocket(c->socket);
  c->socket = INVALID_SOCKET;
  endTls(&c->tls);
}


void abortConnection(Connection* c) {
  forgetLookup(c);
  if (isOpen(c)) {
    closesocket(c->socket);
    c->socket = INVALID_SOCKET;
  }
  endTlsForShutdown(&c->tls);
}

void onHostResolved(HWND window, WPARAM wParam, LPARAM lParam) {
  for (Connection* c : connections) {
    // Only the reply a session waits for counts, be it a success or an
    // error: the reply to a forgotten lookup must neither connect nor end
    // a later session.
    if (c == NULL || c->lookupHandle == NULL || (HANDLE)wParam != c->lookupHandle) continue;
    c->lookupHandle = NULL;
    const struct hostent* entry = (const struct hostent*)c->hostEntry;
    if (WSAGETASYNCERROR(lParam) != 0 || entry->h_addr_list == NULL ||
        entry->h_addr_list[0] == NULL || entry->h_length != 4)
      return end(window, c, EndNoSuchHost);
    uint32_t address;
    memcpy(&address, entry->h_addr_list[0], 4);
    c->serverAddress = address;
    return connectServer(window, c);
  }
}

void onSocketEvent(HWND window, WPARAM wParam, LPARAM lParam) {
  // Events still queued for the socket of an ended session are old news.
  for (Connection* c : connections)
    if (c != NULL && isOpen(c) && (SOCKET)wParam == c->socket)
      return onEvent(window, c, WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam));
}

// No line is longer than the buffer. One that is anyway is judged by its
// first bytes, as far as the buffer holds them: they go on as the line,
// and the rest of it, up to its LF, is passed over unread, never taken
// for a line of its own.
void feedReceivedText(HWND window, Connection* c, const char* text, DWORD length) {
  // A NUL inside the chunk ends its text.
  length = (DWORD)strnlen(text, length);
  while (length > 0) {
    const char* lineFeed = (const char*)memchr(text, '\n', length);
    DWORD lineBytes = lineFeed != NULL ? (DWORD)(lineFeed - text) : length;
    c->textBytes += lineBytes + (lineFeed != NULL ? 1 : 0);
    if (!c->skippingRest) {
      DWORD room = LINE_BUFFER_BYTES - 1 - c->lineLength;
      DWORD taken = lineBytes < room ? lineBytes : room;
      memcpy(c->lineBuffer + c->lineLength, text, taken);
      c->lineLength += taken;
      c->lineBuffer[c->lineLength] = '\0';
      int full = c->lineLength == LINE_BUFFER_BYTES - 1;
      if (lineFeed == NULL && !full) return;  // the rest comes later
      c->skippingRest = lineFeed == NULL;
      c->lineLength = 0;
      c->lastLineAt = GetTickCount();
      c->calls->lineArrived(window, c->owner, c->lineBuffer);
      // The window closed while the step waited for the shell, or the
      // session ended: nothing more of this text is anybody's.
      if (app.windowGone || !isOpen(c)) return;
      // After the server agreed to TLS only TLS may follow: whatever else
      // came in plain text with it is no word of the server's to be
      // trusted.
      if (c->tls.phase == TlsHandshake) return resetLineAssembler(c);
    }
    if (lineFeed == NULL) return;
    c->skippingRest = 0;
    length -= lineBytes + 1;
    text = lineFeed + 1;
  }
}
