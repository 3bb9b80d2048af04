// The connection beneath every protocol. Nothing here blocks: the lookup,
// the connection and every received chunk come back as window messages,
// and two timers watch the server: one for silence (a minute without a
// byte), one for a stall (bytes that never make a line).
#include "net/connection.h"

#include <string.h>

#include "base/appstate.h"
#include "base/text.h"
#include "base/trace.h"

namespace {

// A closing connection takes what has already arrived, never more: a
// server that keeps sending must not hold the program here.
const int DRAIN_READS = 64;

// One read takes what a long answer has ready: under Wine every read is a
// trip through wineserver, and every notification one through the message
// queue, so reading a listing 255 bytes at a time cost more than all the
// work on its lines. On the stack: a step of the protocol that reads again
// meanwhile reads into its own.
const int CHUNK_BYTES = 32768;

// The connections of the mailboxes, by slot: their timers and the
// window's socket messages find them here.
Connection* connections[MOST_MAILBOXES];

void end(HWND window, Connection* c, ConnectionEnd why, const char* text = NULL) {
  c->calls->ended(window, c->owner, why, text);
}

int isOpen(const Connection* c) { return c->sessionSocket != INVALID_SOCKET; }

}  // namespace

int connectionUnderWay(const Connection* c) { return isOpen(c) || dialUnderWay(&c->dial); }

namespace {

// Stops the lookup and the attempts of this session. An answer that was
// on its way already then touches nothing but its own memory.
void forgetLookup(HWND window, Connection* c) { cancelDial(&c->dial, window); }

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
  beginTls(window, &c->tls, c->sessionSocket, c->host, c->serverPort, c->security == ImplicitTls);
  if (c->tls.phase == TlsHandshake) c->calls->securing(window, c->owner);
}

void startWatching(HWND window, Connection* c);
// A session may stand silent for many minutes (held for the server's
// news): the system probes the peer after a minute of silence, which
// keeps a router's memory of the connection alive and breaks a connection
// whose peer is gone (FD_CLOSE) within two minutes. A system that refuses
// leaves the connection as it was.
const DWORD KEEP_ALIVE_AFTER_MS = 60000;
const DWORD KEEP_ALIVE_PROBE_MS = 5000;

void askForKeepAlives(SOCKET s) {
  tcp_keepalive values = {1, KEEP_ALIVE_AFTER_MS, KEEP_ALIVE_PROBE_MS};
  DWORD returned = 0;
  if (WSAIoctl(s, SIO_KEEPALIVE_VALS, &values, sizeof values, NULL, 0, &returned, NULL, NULL) != 0)
    traceLine("keep-alives refused: %d", WSAGetLastError());
}

// The dial's verdict: the session takes the winning socket, whose
// FD_CONNECT the dial has taken; the last address tried says how a dial
// failed.
void onDialResult(HWND window, Connection* c, DialResult result) {
  if (result == DialFailed) {
    switch (c->dial.failure) {
      case DialNoSuchHost: return end(window, c, EndNoSuchHost);
      case DialNoSocket: return end(window, c, EndNoSocket);
      case DialSelectFailed: return end(window, c, EndSelectFailed);
      case DialConnectFailed: return end(window, c, EndConnectFailed);
      case DialRefused: return end(window, c, EndRefused);
      default: return end(window, c, EndLineFault);  // unreachable
    }
  }
  if (result != DialConnected) return;
  c->sessionSocket = c->dial.winner;
  c->serverReached = 1;
  // The server's first word has its minute from now: a slow connection
  // takes nothing of it.
  startWatching(window, c);
  askForKeepAlives(c->sessionSocket);
  // Implicit TLS: the handshake begins as soon as the connection stands.
  if (c->security == ImplicitTls) return beginChannel(window, c);
  c->calls->opened(window, c->owner);
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
  traceMailbox(mailboxSlotOfTimer(id));
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
  traceMailbox(mailboxSlotOfTimer(id));
  if (c == NULL || !connectionUnderWay(c)) return;
  DWORD stalled = GetTickCount() - c->lastLineAt;
  if (stalled < SESSION_TIMEOUT_MS) {
    SetTimer(window, mailboxTimer(TIMER_SESSION, c->timerSlot), SESSION_TIMEOUT_MS - stalled,
             onStall);
    return;
  }
  end(window, c, EndStalled);
}

// The silence and the stall are counted from now.
void startWatching(HWND window, Connection* c) {
  c->lastHeardAt = GetTickCount();
  c->lastLineAt = c->lastHeardAt;
  armSilenceTimer(window, c, RESPONSE_TIMEOUT_MS);
  SetTimer(window, mailboxTimer(TIMER_SESSION, c->timerSlot), SESSION_TIMEOUT_MS, onStall);
}

// Reads one chunk and hands it on: to TLS, or as text to the assembler.
// Returns what recv returned: 0 when the server has closed, -1 when there
// is nothing to read now or the read failed (the connection has ended
// then).
int readChunk(HWND window, Connection* c) {
  // Over TLS the bytes collect until a whole record can be decrypted.
  // Under implicit TLS no byte is ever read as plain text, not even one
  // that comes before the handshake began.
  char chunk[CHUNK_BYTES + 1];
  char* into = chunk;
  int room = (int)sizeof chunk - 1;
  int overTls = c->tls.phase != TlsOff || c->security == ImplicitTls;
  if (overTls) into = tlsReceiveArea(&c->tls, &room);
  int received = recv(c->sessionSocket, into, room, 0);
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

// The server closed its end. What it sent before is read first, all of
// it: Windows may tell of the close with the answers to a whole flight
// still unread. A closed end sends no more, so the reads come to an end.
// A connection still open then ends at once.
void onOrderlyClose(HWND window, Connection* c) {
  while (readChunk(window, c) > 0 && isOpen(c) && !app.windowGone) {
  }
  if (!isOpen(c) || app.windowGone) return;
  end(window, c, EndServerLeft);
}

void onEvent(HWND window, Connection* c, WORD event, WORD error) {
  if (error != 0) return end(window, c, EndLineFault);
  // The dial took the connection's FD_CONNECT: a second one starts nothing.
  if (event == FD_WRITE) return flushTls(&c->tls);
  if (event == FD_CLOSE) return onOrderlyClose(window, c);
  if (event != FD_READ) return;
  if (readChunk(window, c) == 0) end(window, c, EndNothingReceived);
}

}  // namespace

void initConnection(Connection* c, int slot, void* owner) {
  memset((void*)c, 0, sizeof *c);
  c->dial = Dial();
  c->timerSlot = slot;
  c->owner = owner;
  c->sessionSocket = INVALID_SOCKET;
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
  startWatching(window, c);

  onDialResult(window, c, startDial(&c->dial, window, c->host, (u_short)c->serverPort));
}

int sendText(Connection* c, const char* text, int length) {
  if (c->tls.phase == TlsOpen) return sendOverTls(&c->tls, text, (DWORD)length);
  if (c->security != PlainChannel || !isOpen(c)) return 0;
  ::send(c->sessionSocket, text, length, 0);
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
  ::send(c->sessionSocket, text, length, 0);
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

void noteWholeAnswer(Connection* c) { c->lastLineAt = GetTickCount(); }

void watchForAnswers(HWND window, Connection* c) {
  if (isOpen(c)) startWatching(window, c);
}

void stopWaitingForAnswers(HWND window, Connection* c) {
  forgetLookup(window, c);
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
  forgetLookup(window, c);
  if (!isOpen(c)) return;
  WSAAsyncSelect(c->sessionSocket, window, 0, 0);
  char scratch[256];
  shutdown(c->sessionSocket, SD_SEND);
  for (int i = 0; i < DRAIN_READS; i++)
    if (recv(c->sessionSocket, scratch, sizeof scratch - 1, 0) <= 0) break;
  shutdown(c->sessionSocket, SD_BOTH);
  closesocket(c->sessionSocket);
  c->sessionSocket = INVALID_SOCKET;
  endTls(&c->tls);
}

void abortConnection(Connection* c) {
  // The window is gone: nothing is posted to it any more.
  forgetLookup(NULL, c);
  if (isOpen(c)) {
    closesocket(c->sessionSocket);
    c->sessionSocket = INVALID_SOCKET;
  }
  endTlsForShutdown(&c->tls);
}

// The message carries nothing a dial trusts: each looks at its own lookup.
void onHostResolved(HWND window, WPARAM, LPARAM) {
  for (Connection* c : connections) {
    if (c == NULL) continue;
    traceMailbox(c->timerSlot);
    onDialResult(window, c, onDialLookup(&c->dial, window));
  }
}

void onSocketEvent(HWND window, WPARAM wParam, LPARAM lParam) {
  for (Connection* c : connections)
    if (c != NULL && isOpen(c) && (SOCKET)wParam == c->sessionSocket) {
      traceMailbox(c->timerSlot);
      return onEvent(window, c, WSAGETSELECTEVENT(lParam), WSAGETSELECTERROR(lParam));
    }
  // Not a session's: an attempt's connection, or old news for a socket
  // closed already, which the dials ignore.
  for (Connection* c : connections) {
    if (c == NULL) continue;
    traceMailbox(c->timerSlot);
    DialResult result = onDialSocketEvent(&c->dial, window, wParam, lParam);
    if (result != DialPending) return onDialResult(window, c, result);
  }
}

// No line is longer than the buffer. One that is anyway is judged by its
// first bytes, as far as the buffer holds them: they go on as the line,
// and the rest of it, up to its LF, is passed over unread, never taken
// for a line of its own.
void feedReceivedText(HWND window, Connection* c, const char* text, DWORD length) {
  if (c->calls->bytesArrived != NULL) {
    c->textBytes += length;
    return c->calls->bytesArrived(window, c->owner, text, length);
  }
  while (length > 0) {
    const char* lineFeed = (const char*)memchr(text, '\n', length);
    DWORD lineBytes = lineFeed != NULL ? (DWORD)(lineFeed - text) : length;
    c->textBytes += lineBytes + (lineFeed != NULL ? 1 : 0);
    if (!c->skippingRest) {
      DWORD room = LINE_BUFFER_BYTES - 1 - c->lineLength;
      DWORD taken = lineBytes < room ? lineBytes : room;
      memcpy(c->lineBuffer + c->lineLength, text, taken);
      // A NUL, which no line holds, is read as a blank: it would end the
      // line's text early, and the line feed behind it with it.
      for (DWORD i = 0; i < taken; i++)
        if (c->lineBuffer[c->lineLength + i] == '\0') c->lineBuffer[c->lineLength + i] = ' ';
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
