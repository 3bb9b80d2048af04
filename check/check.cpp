// The check cycle. Nothing here blocks: the lookup, the connection and
// every received chunk come back as window messages, and a 60-second
// response timer watches the server.
//
// Outside a session session.socket is INVALID_SOCKET and the dial rests,
// so a late message (a lookup's answer after its check ended, an event
// queued for a socket already closed) finds nothing to act on.
#include "check/check.h"

#include <string.h>

#include "base/appstate.h"
#include "base/system.h"
#include "base/text.h"
#include "base/trace.h"
#include "check/pop3.h"
#include "check/schedule.h"
#include "check/session.h"
#include "check/tls.h"
#include "net/dial.h"
#include "settings/settings.h"
#include "tray/notify.h"
#include "tray/previews.h"
#include "tray/trayicon.h"

Session session;

namespace {

const char TEXT_BAD_ADDRESS[] = "POPサーバのアドレスが違います.";
const char TEXT_NO_SOCKET[] = "ソケットの作成に失敗しました.";
const char TEXT_SELECT_FAILED[] = "WSAAsyncSelectでエラーが発生しました.(内部エラー)";
const char TEXT_CONNECT_FAILED[] = "サーバへの接続に失敗しました.";
const char TEXT_LINE_FAULT[] = "回線異常です.";
const char TEXT_RECEIVE_FAILED[] = "サーバからの受信に失敗しました.";
const char TEXT_NOTHING_RECEIVED[] = "サーバからデータが転送されませんでした.";
const char TEXT_TIMED_OUT[] = "サーバからの応答がありません.タイムアウトしました.";
const char TEXT_OFFLINE[] = "オフラインです.";
// The first failure in a row before the server is reached: the network
// may well be back in a minute.
const char TEXT_UNREACHABLE[] = "サーバにつながらないにゃ.またすぐ確かめるにゃ.";
const char TEXT_NO_SUCH_HOST[] = "サーバの名前が見つからないにゃ.またすぐ確かめるにゃ.";

// A closing session takes what has already arrived, never more: a server
// that keeps sending must not hold the program here.
const int DRAIN_READS = 64;

typedef BOOL(WINAPI* ConnectedStateQuery)(LPDWORD flags, DWORD reserved);

// What this file alone keeps of the check under way, and of the wakes.
struct CheckState {
  Dial dial;          // the lookup and the connection attempts
  int serverReached;  // the connection of this check stood
  // A resume was acted on at wakeTick, and no sleep has come since.
  int wakeCounted;
  DWORD wakeTick;
};
CheckState check;

// Notifications stop before the socket closes: the next session's socket
// may get the same handle value.
void closeSocket(HWND window) {
  if (session.socket == INVALID_SOCKET) return;
  WSAAsyncSelect(session.socket, window, 0, 0);
  char scratch[256];
  shutdown(session.socket, SD_SEND);
  for (int i = 0; i < DRAIN_READS; i++)
    if (recv(session.socket, scratch, sizeof scratch - 1, 0) <= 0) break;
  shutdown(session.socket, SD_BOTH);
  closesocket(session.socket);
  session.socket = INVALID_SOCKET;
  endTls();
}

// The library is loaded on every call, from the system's own folder only:
// on a machine without it the program simply counts as offline.
int isOnline() {
  HMODULE library = loadSystemLibrary("WININET.DLL");
  if (library == NULL) return 0;
  int online = 0;
  FARPROC procedure = GetProcAddress(library, "InternetGetConnectedState");
  if (procedure != NULL) {
    ConnectedStateQuery query =
        reinterpret_cast<ConnectedStateQuery>(reinterpret_cast<void (*)(void)>(procedure));
    DWORD flags = 0;
    online = query(&flags, 0) ? 1 : 0;
  }
  FreeLibrary(library);
  return online;
}

// The dial failed: the last address tried says how.
void endDialFailed(HWND window) {
  switch (check.dial.failure) {
    case DialNoSuchHost:
      // Without a network no name is found either.
      return endCheck(window, {FailedForNow, TEXT_NO_SUCH_HOST, TEXT_BAD_ADDRESS});
    case DialNoSocket: return endCheck(window, {Failed, TEXT_NO_SOCKET, NULL});
    case DialSelectFailed: return endCheck(window, {Failed, TEXT_SELECT_FAILED, NULL});
    case DialConnectFailed:
      return endCheck(window, {FailedForNow, TEXT_UNREACHABLE, TEXT_CONNECT_FAILED});
    default:
      // Refused or unreachable: the server was never reached.
      return endCheck(window, {FailedForNow, TEXT_UNREACHABLE, TEXT_LINE_FAULT});
  }
}

// The dial's verdict: the session takes the winning socket, whose
// FD_CONNECT the dial has taken.
void onDialResult(HWND window, DialResult result) {
  if (result == DialFailed) return endDialFailed(window);
  if (result != DialConnected) return;
  session.socket = check.dial.winner;
  check.serverReached = 1;
  setSessionState(AwaitGreeting);
  // Implicit TLS: the handshake begins as soon as the connection stands.
  if (session.security == SECURITY_TLS) beginTls(window);
}

// When the server last sent something. The response timer is armed once
// per check; when it comes due for a server that has spoken since, it is
// armed again for the rest of the minute. The time-out still comes after
// a minute of silence, never sooner, yet a long reply costs no call to
// the window manager per chunk.
DWORD lastHeardAt = 0;

void CALLBACK onResponseTimeout(HWND window, UINT, UINT_PTR, DWORD);

void armResponseTimer(HWND window, UINT ms) {
  SetTimer(window, TIMER_RESPONSE, ms, onResponseTimeout);
}

void CALLBACK onResponseTimeout(HWND window, UINT, UINT_PTR, DWORD) {
  DWORD quiet = GetTickCount() - lastHeardAt;
  if (quiet < RESPONSE_TIMEOUT_MS) return armResponseTimer(window, RESPONSE_TIMEOUT_MS - quiet);
  // Before the connection stood, the server was never reached.
  if (!check.serverReached)
    return endCheck(window, {FailedForNow, TEXT_UNREACHABLE, TEXT_TIMED_OUT});
  endCheck(window, {Failed, TEXT_TIMED_OUT, NULL});
}

// When the last whole reply line arrived. A session that keeps getting
// lines goes on as long as its mailbox needs (a long listing over a slow
// link); one that gets only bytes that never make a line ends three
// minutes after its last line.
DWORD lastLineAt = 0;

// The session stalled. Once QUIT is out the result was shown already, and
// only the session ends.
void CALLBACK onSessionDeadline(HWND window, UINT, UINT_PTR, DWORD) {
  DWORD stalled = GetTickCount() - lastLineAt;
  if (stalled < SESSION_TIMEOUT_MS) {
    SetTimer(window, TIMER_SESSION, SESSION_TIMEOUT_MS - stalled, onSessionDeadline);
    return;
  }
  if (session.state == AwaitQuitReply) return endCheck(window, {SessionOver, NULL, NULL});
  endCheck(window, {Failed, TEXT_TIMED_OUT, NULL});
}

// The connection ended: after QUIT the check's result is out, and only
// the session ends; before, the check failed with the text.
void endAfterQuitOr(HWND window, const char* text) {
  if (session.state == AwaitQuitReply) return endCheck(window, {SessionOver, NULL, NULL});
  endCheck(window, {Failed, text, NULL});
}

// Reads one chunk and hands it on: to TLS, or as text to the dialogue.
// Returns what recv returned: 0 when the server has closed, -1 when there
// is nothing to read now or the read failed (the check has ended then).
int readChunk(HWND window) {
  // Over TLS the bytes collect until a whole record can be decrypted.
  // Under implicit TLS no byte is ever read as plain text, not even one
  // that comes before the handshake began.
  char chunk[256];
  char* into = chunk;
  int room = (int)sizeof chunk - 1;
  int overTls = session.tlsPhase != TlsOff || session.security == SECURITY_TLS;
  if (overTls) into = tlsReceiveArea(&room);
  int received = recv(session.socket, into, room, 0);
  if (received == SOCKET_ERROR) {
    // A notification whose data an earlier recv already took.
    if (WSAGetLastError() == WSAEWOULDBLOCK) return -1;
    endAfterQuitOr(window, TEXT_RECEIVE_FAILED);
    return -1;
  }
  if (received == 0) return 0;
  // A step of the dialogue that stops the response timer (the end of a
  // check) stays in force: only the time is noted here.
  lastHeardAt = GetTickCount();
  if (overTls) {
    receiveTls(window, received);
  } else {
    chunk[received] = '\0';
    feedReceivedText(window, chunk, (DWORD)received);
  }
  return received;
}

// The server closed its end in the middle of the dialogue. What it sent
// before is read first, all of it: Windows may tell of the close with the
// answers to a whole flight still unread. A closed end sends no more, so
// the reads come to an end. A session still waiting then waits for
// nothing, and ends at once.
void onOrderlyClose(HWND window) {
  while (readChunk(window) > 0 && session.socket != INVALID_SOCKET && !app.windowGone) {
  }
  if (session.socket == INVALID_SOCKET || app.windowGone) return;
  endAfterQuitOr(window, TEXT_LINE_FAULT);
}

// The session's end: its socket and channel close, and the dialogue rests.
void closeSession(HWND window) {
  closeSocket(window);
  KillTimer(window, TIMER_QUIT);
  setSessionState(Idle);
}

// No answer to QUIT: the result was shown already; only the session ends.
void CALLBACK onQuitTimeout(HWND window, UINT, UINT_PTR, DWORD) {
  endCheck(window, {SessionOver, NULL, NULL});
}

}  // namespace

void initCheck() {
  check = CheckState();
  session = Session();
}

void startCheck(HWND window, int timed) {
  if (app.busy) return;
  stopAnnouncement(window);
  stopSchedule(window);
  session.quiet = timed && retriesInARow() > 0;
  if (!session.quiet) setTrayIcon(window, NIM_MODIFY, "APPICON", "");
  // A window closed while the shell was asked has ended the program.
  if (app.windowGone) return;

  // After a refused command the session may still wait for the answer to
  // QUIT while busy is already clear; it ends here, before a new one.
  if (session.socket != INVALID_SOCKET) closeSession(window);

  // Blank, broken or unreadable settings: no connection at all. The top
  // shows why, and the settings.
  if (settingsProblem() != NULL) {
    PostMessageW(window, MSG_SETTINGS_NEEDED, 0, 0);
    return;
  }

  // Offline is never shown as an error.
  if (!isOnline()) return endCheck(window, {FailedForNow, TEXT_OFFLINE, NULL});

  if (!session.quiet) setTrayIcon(window, NIM_MODIFY, "APPICON", "POP3サーバに接続中...");
  if (app.windowGone) return;
  lastHeardAt = GetTickCount();
  lastLineAt = lastHeardAt;
  armResponseTimer(window, RESPONSE_TIMEOUT_MS);
  SetTimer(window, TIMER_SESSION, SESSION_TIMEOUT_MS, onSessionDeadline);
  setBusy(0);
  session.security = settings.connectionSecurity;
  check.serverReached = 0;
  beginDialogue();

  onDialResult(window, startDial(&check.dial, window, settings.serverHost, (u_short)settings.port));
}

void onReplyLine() { lastLineAt = GetTickCount(); }

// The message carries nothing the dial trusts: it looks at its own lookup.
void onHostResolved(HWND window, WPARAM, LPARAM) {
  onDialResult(window, onDialLookup(&check.dial, window));
}

void onSocketEvent(HWND window, WPARAM wParam, LPARAM lParam) {
  // Not the session's: an attempt's connection, or old news for a socket
  // closed already, which the dial ignores.
  if (session.socket == INVALID_SOCKET || (SOCKET)wParam != session.socket)
    return onDialResult(window, onDialSocketEvent(&check.dial, window, wParam, lParam));
  WORD event = WSAGETSELECTEVENT(lParam);
  WORD error = WSAGETSELECTERROR(lParam);

  // The check's result is out once QUIT is sent: a server that hangs up
  // instead of answering only ends the session.
  if (session.state == AwaitQuitReply && (error != 0 || event == FD_CLOSE))
    return endCheck(window, {SessionOver, NULL, NULL});
  if (error != 0) return endCheck(window, {Failed, TEXT_LINE_FAULT, NULL});
  if (event == FD_WRITE) return flushTls();
  if (event == FD_CLOSE) return onOrderlyClose(window);
  if (event != FD_READ) return;
  if (readChunk(window) == 0) onServerClosed(window);
}

// After QUIT the check's result is out, as with FD_CLOSE: only the
// session ends.
void onServerClosed(HWND window) { endAfterQuitOr(window, TEXT_NOTHING_RECEIVED); }

// Plain text goes out only on a session that asked for none, and for STLS
// the command itself: whatever the order of events, nothing else leaves
// a session meant to be encrypted before its channel is open.
int sendToServer(const char* text, int length) {
  if (session.tlsPhase == TlsOpen) return sendOverTls(text, (DWORD)length);
  int plainAllowed =
      session.security == SECURITY_NONE ||
      (session.security == SECURITY_STLS && session.tlsPhase == TlsOff &&
       session.state == AwaitGreeting && length == 6 && memcmp(text, "STLS\r\n", 6) == 0);
  if (!plainAllowed) return 0;
  ::send(session.socket, text, length, 0);
  return 1;
}

int canSendCommands() { return session.tlsPhase == TlsOpen || session.security == SECURITY_NONE; }

void endCheck(HWND window, CheckOutcome outcome) {
  // The count stands whatever becomes of the headers read after it.
  if (outcome.end == Failed && announceCountOnFailure(window)) return;
  static const char* const ends[] = {"Announced", "SessionOver", "Failed", "FailedForNow",
                                     "Abandoned"};
  traceLine("check ends: %s %s", ends[outcome.end], outcome.text != NULL ? outcome.text : "");
  int resultShown = session.state == AwaitQuitReply;
  cancelDial(&check.dial, window);
  KillTimer(window, TIMER_RESPONSE);
  int quitAwaited = resultShown && outcome.end != SessionOver && outcome.end != Abandoned;
  if (!quitAwaited) closeSession(window);
  // An announced session waits for the answer to QUIT, unless it is over.
  int sessionGoesOn = outcome.end == Announced && quitAwaited;
  if (!sessionGoesOn) KillTimer(window, TIMER_SESSION);

  // A check that fails before its result is out shows none of the
  // headers it may have read.
  if (!resultShown && outcome.end != Announced && outcome.end != SessionOver) dropPreviews();

  if (outcome.end == FailedForNow)
    countRetry();
  else if (outcome.end == Announced || outcome.end == Failed)
    resetRetries();
  // While the settings are open (a session can still wait for the answer
  // to QUIT then) the sheet keeps the menu grayed and the schedule
  // stopped; both go on when it closes.
  if (!app.settingsOpen) startIntervalTimer(window);

  if (outcome.end == Failed) {
    setTrayIcon(window, NIM_MODIFY, "NOGOODICON", outcome.text);
  } else if (outcome.end == FailedForNow) {
    // A failure that looks as the tray already does leaves it alone, so a
    // long outage shows its error once rather than anew with every retry.
    int alarm = retriesInARow() > 1 && outcome.alarmText != NULL;
    const char* icon = alarm ? "NOGOODICON" : "APPICON";
    const char* text = alarm ? outcome.alarmText : outcome.text;
    if (!trayShows(icon, text)) setTrayIcon(window, NIM_MODIFY, icon, text);
  } else if (outcome.end == Abandoned && !resultShown) {
    setTrayIcon(window, NIM_MODIFY, "APPICON", "");
  }
  if (app.windowGone) return;
  if (!sessionGoesOn && !app.settingsOpen) setBusy(1);
}

void awaitQuitReply(HWND window) { SetTimer(window, TIMER_QUIT, QUIT_TIMEOUT_MS, onQuitTimeout); }

namespace {

// Asleep, the program can neither finish a session nor time it out.
void abandonCheck(HWND window) {
  if (session.socket == INVALID_SOCKET && !dialUnderWay(&check.dial)) return;
  endCheck(window, {Abandoned, NULL, NULL});
}

}  // namespace

// PBT_APMSUSPEND comes just before the machine sleeps; a resume, perhaps
// twice, after it wakes. The wake check replaces the waiting one, so the
// interval counts from it.
void onPowerBroadcast(HWND window, WPARAM wParam, LPARAM) {
  if (wParam == PBT_APMSUSPEND) {
    cancelWakeCheck(window);
    abandonCheck(window);
    check.wakeCounted = 0;
    return;
  }
  if (wParam != PBT_APMRESUMEAUTOMATIC && wParam != PBT_APMRESUMESUSPEND &&
      wParam != PBT_APMRESUMECRITICAL)
    return;
  DWORD now = GetTickCount();
  if (check.wakeCounted && now - check.wakeTick < SAME_WAKE_MS) return;
  check.wakeCounted = 1;
  check.wakeTick = now;
  // A new network, perhaps: the first failure after a wake is a first one.
  resetRetries();
  startWakeTimer(window);
}

void stopCheckTimers(HWND window) {
  KillTimer(window, TIMER_RESPONSE);
  KillTimer(window, TIMER_QUIT);
  KillTimer(window, TIMER_SESSION);
}

void endCheckForShutdown() {
  // The window is gone: nothing is posted to it any more.
  cancelDial(&check.dial, NULL);
  if (session.socket != INVALID_SOCKET) {
    closesocket(session.socket);
    session.socket = INVALID_SOCKET;
  }
  endTlsForShutdown();
}
