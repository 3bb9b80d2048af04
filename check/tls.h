// The encrypted channel beneath the POP3 dialogue: TLS through the
// system's own SChannel (SSPI), driven by the same socket notifications as
// plain text, so the handshake, encryption and decryption never block the
// message loop.
//
// A session over TLS goes Off -> Handshake -> Open. Received bytes collect
// in app.tlsInput until a whole record is there; encrypted bytes the
// socket would not take yet wait in app.tlsOutput for FD_WRITE.
#ifndef KIVVET_CHECK_TLS_H
#define KIVVET_CHECK_TLS_H

#include "check/session.h"

// Starts the handshake on the session socket: right after the connection
// for implicit TLS, after the server's "+OK" to STLS otherwise.
void beginTls(HWND window);
// Where the next recv puts its bytes, and how many fit.
char* tlsReceiveArea(int* room);
// Takes `received` bytes that recv has just put into tlsReceiveArea.
void receiveTls(HWND window, int received);
// Encrypts one command and sends it (or queues what the socket refuses);
// 0 when the channel is not open or the command could not be encrypted.
int sendOverTls(const char* text, DWORD length);
// The socket can take more: sends what is queued.
void flushTls();
// Forgets the session's channel: the context and every byte held. The
// credentials stay for the next check.
void endTls();
// The program ends: the credentials go too.
void endTlsForShutdown();

#endif
