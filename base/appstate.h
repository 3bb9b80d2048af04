// The ground floor: the identifiers every part of the program shares, the
// one record of the running program's state, and the operations on it
// that every folder may call. Nothing here calls up into the folders.
#ifndef KIVVET_BASE_APPSTATE_H
#define KIVVET_BASE_APPSTATE_H

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
// The one check after the machine wakes, once the network has had a
// moment to come back.
const UINT_PTR TIMER_WAKE = 7;
// One deadline for a whole session: a server that trickles a byte now and
// then restarts the response timer each time, but cannot hold a check
// past this.
const UINT_PTR TIMER_SESSION = 8;

const UINT RESPONSE_TIMEOUT_MS = 60000;
const UINT QUIT_TIMEOUT_MS = 60000;
const UINT SESSION_TIMEOUT_MS = 180000;
// Tries again to add the tray icon while the shell refuses it.
const UINT_PTR TIMER_TRAY = 9;
const UINT TRAY_RETRY_MS = 10000;
// Shows a check's progress text once the program is idle for a moment.
const UINT_PTR TIMER_PROGRESS = 10;
const UINT PROGRESS_DELAY_MS = 50;  // shorter than anyone reads a tooltip in
// The interval is one byte in the settings file.
const int MAX_INTERVAL_MINUTES = 255;
const int DEFAULT_INTERVAL_MINUTES = 10;
const UINT VOICE_FRAME_MS = 200;
const UINT BLINK_FRAME_MS = 500;
const UINT SPLASH_MS = 1000;
const DWORD STARTUP_PAUSE_MS = 3000;
// Wi-Fi and DHCP usually stand again within a few seconds of a wake; a
// check that still finds no network is tried again a minute later.
const UINT WAKE_CHECK_DELAY_MS = 5000;
// Windows may announce one wake more than once (the automatic resume,
// then the user's): resumes this close together, with no sleep between
// them, are one wake.
const DWORD SAME_WAKE_MS = 60000;
// The earliest retry after a failure that may pass by itself; each
// further one in a row waits twice as long, up to the interval.
const DWORD FIRST_RETRY_MS = 60000;
// A LOGIN-DELAY beyond a day is taken as a day.
const DWORD MAX_LOGIN_DELAY_SECONDS = 86400;

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
  AwaitListingLine = 9,
  // CAPA (RFC 2449) was sent; after its "+OK" the capabilities follow,
  // one a line, up to the line ".".
  AwaitCapaReply = 10,
  ReadCapaList = 11
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
  int serverReached;  // the connection of this check stood
  // A retry in a row of failures: the tray keeps what it shows until
  // the check has its result. Only a check the interval timer asked for
  // (timedCheck) is quiet; one the user asked for shows its progress.
  int quietCheck;
  int timedCheck;
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

  // Checks in a row that failed in a way that may pass by itself (no
  // network, a server busy for now); 0 after a success or another end.
  DWORD retryStep;
  // The server's LOGIN-DELAY from CAPA, in seconds (0: none announced),
  // and when this program last logged in (GetTickCount).
  DWORD loginDelaySeconds;
  int loggedIn;
  DWORD lastLoginTick;
  // A resume was acted on at wakeTick, and no sleep has come since.
  int wakeCounted;
  DWORD wakeTick;
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
#endif
