// The encrypted channel beneath a connection: TLS through the system's own
// SChannel (SSPI), driven by the same socket notifications as plain text,
// so the handshake, encryption and decryption never block the message
// loop. It knows nothing of the protocol it carries: what comes out of it
// goes to its connection through the few events below.
//
// A channel goes Off -> Handshake -> Open. Received bytes collect in its
// input until a whole record is there; encrypted bytes the socket would
// not take yet wait in its output for FD_WRITE.
#ifndef KIVVET_NET_TLS_H
#define KIVVET_NET_TLS_H

#include "platform/win32.h"

enum TlsPhase { TlsOff = 0, TlsHandshake = 1, TlsOpen = 2 };

// Holds the largest TLS record (16 KB of data, its header, padding and
// MAC) with room to spare; the queue holds handshake messages and the
// few short commands that can be under way at once.
const DWORD TLS_INPUT_BYTES = 20480;
const DWORD TLS_OUTPUT_BYTES = 8192;
// The longest server name a channel keeps (the settings' slot fits).
const DWORD TLS_HOST_BYTES = 384;
// The longest text one sendOverTls takes.
const DWORD TLS_MOST_TEXT_BYTES = 512;

// What the channel tells the connection it runs under. Each may end the
// connection, and with it the channel.
struct TlsEvents {
  // Plain text came out of the channel; 0 when the connection has ended.
  int (*text)(HWND window, void* user, const char* text, DWORD length);
  // A handshake is complete and the certificate good: text may go through.
  void (*opened)(HWND window, void* user);
  // The server closed the channel.
  void (*closed)(HWND window, void* user);
  // The channel failed; nothing more may go through it, not even a word
  // of farewell.
  void (*failed)(HWND window, void* user, const char* text);
};

// net/tls.cpp
struct TlsChannel {
  TlsPhase phase;  // net/tls.cpp (setTlsPhase)
  const TlsEvents* events;
  void* user;
  SOCKET channelSocket;  // the connection's, while the channel is begun
  // The credentials outlive the session: SChannel keeps the sessions of
  // a credentials handle, and a later check to the same server resumes
  // its session, a round trip shorter. They are made anew for another
  // server or port or way of starting TLS, and after a certificate that
  // failed.
  int haveCredentials;
  char serverName[TLS_HOST_BYTES];  // the server's name, for SNI and the certificate
  char credentialsHost[TLS_HOST_BYTES];
  int credentialsPort;
  int credentialsImplicit;
  int haveContext;
  CredHandle credentials;
  CtxtHandle context;
  SecPkgContext_StreamSizes sizes;
  // The certificate of the session's first handshake, held until the
  // session ends: every later handshake must show the same.
  PCCERT_CONTEXT firstCertificate;
  DWORD inputLength;   // received, not yet decrypted
  DWORD outputLength;  // encrypted, not yet taken by the socket
  char input[TLS_INPUT_BYTES];
  char output[TLS_OUTPUT_BYTES];
};

// A channel that never began, telling its events to user.
void initTls(TlsChannel* channel, const TlsEvents* events, void* user);
// Starts the handshake on the socket: right after the connection for
// implicit TLS, after the server agreed to turn to TLS otherwise.
void beginTls(HWND window, TlsChannel* channel, SOCKET socket, const char* host, int port,
              int implicit);
// Where the next recv puts its bytes, and how many fit.
char* tlsReceiveArea(TlsChannel* channel, int* room);
// Takes `received` bytes that recv has just put into tlsReceiveArea.
void receiveTls(HWND window, TlsChannel* channel, int received);
// Encrypts one text and sends it (or queues what the socket refuses); 0
// when the channel is not open or the text could not be encrypted.
int sendOverTls(TlsChannel* channel, const char* text, DWORD length);
// The socket can take more: sends what is queued.
void flushTls(TlsChannel* channel);
// Forgets the session's channel: the context and every byte held. The
// credentials stay for the next session.
void endTls(TlsChannel* channel);
// The program ends: the credentials go too.
void endTlsForShutdown(TlsChannel* channel);

#endif
