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
// The server ended the connection before the check was done.
void onServerClosed(HWND window);
// Sends a command on the session, inside the TLS channel when there is one.
void sendToServer(const char* text, int length);
void failCheck(HWND window, const char* text);
void CALLBACK onQuitTimeout(HWND window, UINT message, UINT_PTR id, DWORD time);
// The main window is going away: the platform must not write into the
// host-entry buffer after it is released, and no socket is left open.
void endCheckForShutdown(HWND window);

#endif
