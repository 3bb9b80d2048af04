// The ground floor: the identifiers every part of the program shares, the
// one record of the running program's state, and the operations on it
// that every folder may call. Nothing here calls up into the folders.
#ifndef KIVVET_APP_APPSTATE_H
#define KIVVET_APP_APPSTATE_H

#include "platform/win32.h"

// Timers of the main window (the splash window owns TIMER_SPLASH).
const UINT_PTR TIMER_INTERVAL = 1;
const UINT_PTR TIMER_RESPONSE = 2;
const UINT_PTR TIMER_VOICE = 3;
const UINT_PTR TIMER_BLINK = 4;
const UINT_PTR TIMER_SPLASH = 5;
// Waits for the answer to QUIT, so that a server that hangs up or falls
// silent instead of answering cannot keep the program busy for ever.
const UINT_PTR TIMER_QUIT = 6;
// Tries again to add the tray icon while the shell refuses it.
const UINT_PTR TIMER_TRAY = 7;

const UINT RESPONSE_TIMEOUT_MS = 60000;
const UINT QUIT_TIMEOUT_MS = 60000;
const UINT TRAY_RETRY_MS = 10000;
// The interval is one byte in the settings file.
const int MAX_INTERVAL_MINUTES = 255;
const int DEFAULT_INTERVAL_MINUTES = 10;
const UINT VOICE_FRAME_MS = 200;
const UINT BLINK_FRAME_MS = 500;
const UINT SPLASH_MS = 1000;
const DWORD STARTUP_PAUSE_MS = 3000;

// Private window messages.
const UINT MSG_HOST_RESOLVED = WM_USER + 1;
const UINT MSG_SOCKET_EVENT = WM_USER + 2;
const UINT MSG_TRAY_NOTIFY = WM_USER + 3;

// Menu commands, in the order of the tray menu.
const UINT CMD_CHECK = 101;
const UINT CMD_SETTINGS = 102;
const UINT CMD_HELP = 103;
const UINT CMD_HOMEPAGE = 104;
const UINT CMD_EXIT = 1024;

const UINT TRAY_ICON_ID = 100;

extern const char APP_TITLE[];  // "Kivvet LE": window title, message-box caption, tooltip prefix
extern const char APP_CLASS_NAME[];

enum SessionState {
  Idle = 0,
  AwaitGreeting = 1,
  AwaitUserReply = 2,
  AwaitPassReply = 3,
  AwaitStatReply = 4,
  AwaitUidlReply = 5,
  AwaitQuitReply = 6,
  // STLS was sent; after its "+OK" the session stays here through the
  // handshake, and logs in once the channel is open.
  AwaitStlsReply = 7,
  // Fast scan: a bare UIDL was sent; its status line, then the lines of
  // the listing up to the one holding a single ".".
  AwaitListingReply = 8,
  AwaitListingLine = 9
};

enum TlsPhase { TlsOff = 0, TlsHandshake = 1, TlsOpen = 2 };

const DWORD UID_SLOTS = 1024;
const DWORD UID_SLOT_BYTES = 33;  // 32 characters and the NUL
const DWORD HOST_ENTRY_BYTES = 1024;
// A reply line may be 512 bytes (RFC 2449); the assembler also holds the
// rest of a 255-byte chunk behind an unfinished line.
const DWORD LINE_BUFFER_BYTES = 1024;
const DWORD SEND_BUFFER_BYTES = 256;
// Holds the largest TLS record (16 KB of data, its header, padding and
// MAC) with room to spare; the queue holds handshake messages and the
// few short commands that can be under way at once.
const DWORD TLS_INPUT_BYTES = 20480;
const DWORD TLS_OUTPUT_BYTES = 8192;

// Each slot is allocated on its own, zero-filled, at start-up.
typedef char* UidTable[UID_SLOTS];

struct AppState {
  HINSTANCE appInstance;
  HMENU trayMenu;
  UINT taskbarCreatedMsg;

  int busy;
  // 1 while the shell holds our icon: a change to an icon that is not
  // there would only be refused, after the whole retry pause.
  int trayIconShown;
  int trayRetrying;  // TIMER_TRAY runs: the shell refused the icon so far

  SOCKET sessionSocket;  // INVALID_SOCKET outside a session
  u_long serverAddress;  // network byte order
  HANDLE lookupHandle;
  char* hostEntryBuffer;

  SessionState sessionState;
  int sessionSecurity;  // the setting the session was started with
  char* greeting;       // the greeting line, kept for APOP across STLS
  char* lineBuffer;
  char* sendBuffer;
  DWORD lineLength;
  DWORD uidlIndex;
  DWORD messageCount;

  TlsPhase tlsPhase;  // changed only by check/tls.cpp
  char* tlsInput;     // received, not yet decrypted
  char* tlsOutput;    // encrypted, not yet taken by the socket

  UidTable currentUids;
  UidTable knownUids;
  DWORD knownCount;
  DWORD newCount;

  int animFrame;
  DWORD soundCount;
  int blinkPhase;

  // The settings sheet, or the box that leads to it, is open: nothing may
  // start a check or enable the menu until it has closed.
  int settingsOpen;
  // The main window was destroyed while settingsOpen: whoever opened them
  // finishes the shutdown when they return.
  int windowGone;
  // The session's socket has reported its connection: an earlier socket
  // with the same handle value can have left events in the queue.
  int socketConnected;
};

extern AppState app;

// 1: idle, the guarded menu items (check, settings, exit) enabled and busy
// clear; anything else: busy set, the items grayed.
void setBusy(int menuEnabled);
// (Re)starts TIMER_INTERVAL with a full period of intervalMinutes.
void startIntervalTimer(HWND window);
// TIMER_INTERVAL: posts CMD_CHECK to the window.
void CALLBACK intervalTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);

#endif
