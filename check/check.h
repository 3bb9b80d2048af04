// One mail check, from its trigger to its end: the guards, the online
// test, the host lookup, the asynchronous connection and the two ways a
// check ends (closeSession, failCheck).
#ifndef KIVVET_CHECK_CHECK_H
#define KIVVET_CHECK_CHECK_H

#include "platform/win32.h"

void startCheck(HWND window);
void onHostResolved(HWND window, WPARAM wParam, LPARAM lParam);
void onSocketEvent(HWND window, WPARAM wParam, LPARAM lParam);
void closeSession(HWND window);
// A whole reply line has arrived: the session is making progress.
void onReplyLine();
// The server ended the connection before the check was done.
void onServerClosed(HWND window);
// Sends a command on the session, inside the TLS channel when there is
// one; returns 0 when it was refused: a session meant to be encrypted
// sends nothing in clear but STLS.
int sendToServer(const char* text, int length);
// 1 when a command may go to the server now (the channel is open, or the
// session is plain text by the user's choice).
int canSendCommands();
void failCheck(HWND window, const char* text);
// A failure that may pass by itself (no network, a server busy for now):
// the check is tried again soon.
void failCheckForNow(HWND window, const char* text, const char* alarmText);
// The machine goes to sleep or wakes (WM_POWERBROADCAST).
void onPowerBroadcast(HWND window, WPARAM wParam, LPARAM lParam);
void CALLBACK onQuitTimeout(HWND window, UINT message, UINT_PTR id, DWORD time);
// The program ends, its window gone: the platform must not write into
// the host-entry buffer after it is released, and no socket is left open.
void endCheckForShutdown();

#endif
