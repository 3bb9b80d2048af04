// The check cycle of a mailbox. Nothing here blocks: the connection
// beneath (net/) brings the server's lines to the mailbox's protocol and
// tells here how it ended; the protocol ends the check through endCheck.
#include "check/check.h"

#include <stdio.h>
#include <string.h>

#include "base/appstate.h"
#include "base/system.h"
#include "base/text.h"
#include "base/trace.h"
#include "check/knownuids.h"
#include "check/mailbox.h"
#include "check/schedule.h"
#include "net/connection.h"
#include "settings/settings.h"
#include "tray/notify.h"
#include "tray/previews.h"
#include "tray/register.h"
#include "tray/trayicon.h"

static_assert(SHORT_TEXT_BYTES <= HOST_NAME_BYTES, "a server's name from the settings fits");

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
// Below the standard tooltip while the server is to tell of new mail.
const char TEXT_WAITING[] = "新着メールを待っているにゃ";
// The first failure in a row before the server is reached: the network
// may well be back in a minute.
const char TEXT_UNREACHABLE[] = "サーバにつながらないにゃ.またすぐ確かめるにゃ.";
const char TEXT_NO_SUCH_HOST[] = "サーバの名前が見つからないにゃ.またすぐ確かめるにゃ.";
// Nothing listens on the port: more often a wrong port than a server
// that is starting again.
const char TEXT_REFUSED[] = "サーバがつなぐのを断ったにゃ.ポート番号を確かめてにゃ.";

typedef BOOL(WINAPI* ConnectedStateQuery)(LPDWORD flags, DWORD reserved);

// The mailboxes by slot, for their timers.
Mailbox* recordOfSlot[MOST_MAILBOXES];

// With several mailboxes a failure's text says whose it is.
const char* whose(const Mailbox* box, const char* text, char* named, size_t size) {
  if (accountCount < 2 || text == NULL) return text;
  if (box->account->accountName[0] != '\0')
    snprintf(named, size, "「%s」%s", box->account->accountName, text);
  else
    snprintf(named, size, "%d: %s", box->mailboxSlot + 1, text);
  return named;
}

// Busy is each mailbox's: the settings and the exit stay grayed while any
// mailbox is busy or the settings are open, the check only while every
// mailbox is busy.
int mailboxesUnderWay() {
  int busy = 0;
  for (int slot = 0; slot < accountCount; slot++)
    busy += recordOfSlot[slot] != NULL && recordOfSlot[slot]->cycle.underWay;
  return busy;
}

void becomeBusyWith(Mailbox* box) {
  box->cycle.underWay = 1;
  becomeBusy(mailboxesUnderWay() < accountCount);
}

void becomeIdleUnlessOpen(Mailbox* box) {
  box->cycle.underWay = 0;
  if (app.settingsOpen) return;
  if (mailboxesUnderWay() > 0)
    becomeBusy(1);
  else
    becomeIdle();
}

// The library is loaded on a question, from the system's own folder
// only: on a machine without it the program simply counts as offline.
// Loading it and asking it cost tens of milliseconds each, so mailboxes
// checked together share one answer.
int onlineAnswer;
DWORD answeredAt;
int answered = 0;
const DWORD ONLINE_ANSWER_MS = 2000;

int isOnline() {
  if (answered && GetTickCount() - answeredAt < ONLINE_ANSWER_MS) return onlineAnswer;
  onlineAnswer = 0;
  HMODULE library = loadSystemLibrary("WININET.DLL");
  FARPROC procedure = library != NULL ? GetProcAddress(library, "InternetGetConnectedState") : NULL;
  if (procedure != NULL) {
    ConnectedStateQuery query =
        reinterpret_cast<ConnectedStateQuery>(reinterpret_cast<void (*)(void)>(procedure));
    DWORD flags = 0;
    onlineAnswer = query(&flags, 0) ? 1 : 0;
  }
  if (library != NULL) FreeLibrary(library);
  answered = 1;
  answeredAt = GetTickCount();
  return onlineAnswer;
}

// The shell's call waits for another process: an icon already shown (by
// a mailbox checked at the same moment) is not asked for again.
void showPlainIcon(HWND window, const Mailbox* box, const char* text) {
  if (!box->cycle.quiet && !trayShows("APPICON", text))
    setTrayIcon(window, NIM_MODIFY, "APPICON", text);
}

ChannelSecurity channelSecurity(int connectionSecurity) {
  if (connectionSecurity == SECURITY_TLS) return ImplicitTls;
  if (connectionSecurity == SECURITY_STLS) return UpgradedChannel;
  return PlainChannel;
}

// The session's end: its connection closes, and the dialogue rests.
void closeSession(HWND window, Mailbox* box) {
  if (box->protocol->holdsSession(box)) setTrayNote("");
  closeConnection(window, &box->connection);
  KillTimer(window, mailboxTimer(TIMER_QUIT, box->mailboxSlot));
  box->protocol->rest(box);
}

// The connection ended: after QUIT the check's result is out, and only
// the session ends; before, the check failed with the text.
void endAfterQuitOr(HWND window, Mailbox* box, const char* text) {
  if (box->protocol->awaitsGoodbye(box)) return endCheck(window, box, {SessionOver, NULL, NULL});
  endCheck(window, box, {Failed, text, NULL});
}

// What the connection's end means for the check. Before the connection
// stood, the server was never reached: that may pass by itself.
void onConnectionEnded(HWND window, void* owner, ConnectionEnd end, const char* text) {
  Mailbox* box = (Mailbox*)owner;
  // A held session that ends, or dies unheard while asked again, was lost
  // quietly (a router forgot it, the network changed): it is taken up again.
  if (box->protocol->holdsSession(box) || box->cycle.onHeldSession)
    return loseHeldSession(window, box);
  int reached = box->connection.serverReached;
  switch (end) {
    case EndNoSuchHost:
      // Without a network no name is found either.
      return endCheck(window, box, {FailedForNow, TEXT_NO_SUCH_HOST, TEXT_BAD_ADDRESS});
    case EndNoSocket: return endCheck(window, box, {Failed, TEXT_NO_SOCKET, NULL});
    case EndSelectFailed: return endCheck(window, box, {Failed, TEXT_SELECT_FAILED, NULL});
    case EndConnectFailed:
      return endCheck(window, box, {FailedForNow, TEXT_UNREACHABLE, TEXT_CONNECT_FAILED});
    case EndRefused: return endCheck(window, box, {FailedForNow, TEXT_UNREACHABLE, TEXT_REFUSED});
    case EndLineFault:
      // The check's result is out once QUIT is sent: a server that hangs
      // up instead of answering only ends the session.
      if (box->protocol->awaitsGoodbye(box))
        return endCheck(window, box, {SessionOver, NULL, NULL});
      // Refused or unreachable: the server was never reached.
      if (!reached) return endCheck(window, box, {FailedForNow, TEXT_UNREACHABLE, TEXT_LINE_FAULT});
      return endCheck(window, box, {Failed, TEXT_LINE_FAULT, NULL});
    case EndReceiveFailed: return endAfterQuitOr(window, box, TEXT_RECEIVE_FAILED);
    case EndNothingReceived: return endAfterQuitOr(window, box, TEXT_NOTHING_RECEIVED);
    case EndServerLeft: return endAfterQuitOr(window, box, TEXT_LINE_FAULT);
    case EndSilent:
      if (!reached) return endCheck(window, box, {FailedForNow, TEXT_UNREACHABLE, TEXT_TIMED_OUT});
      return endCheck(window, box, {Failed, TEXT_TIMED_OUT, NULL});
    case EndStalled: return endAfterQuitOr(window, box, TEXT_TIMED_OUT);
    case EndTlsFailed:
      // Nothing more is awaited, not even the answer to QUIT.
      box->protocol->rest(box);
      return endCheck(window, box, {Failed, text, NULL});
  }
}

// The tray tells of the handshake whatever the retries: it takes a
// moment the user may wonder about.
void onSecuring(HWND window, void*) {
  setTrayIcon(window, NIM_MODIFY, "APPICON", "暗号化の準備中...");
}

// No answer to QUIT: the result was shown already; only the session ends.
void CALLBACK onQuitTimeout(HWND window, UINT, UINT_PTR id, DWORD) {
  Mailbox* box = mailboxOfTimer(id);
  traceMailbox(mailboxSlotOfTimer(id));
  if (box != NULL) endCheck(window, box, {SessionOver, NULL, NULL});
}

// The session to come speaks the protocol the settings name now.
void chooseProtocol(Mailbox* box) {
  int chosen = box->account->mailProtocol == PROTOCOL_IMAP ? PROTOCOL_IMAP : PROTOCOL_POP3;
  const Protocol* protocol = box->protocols[chosen];
  box->protocol = protocol;
  box->connectionCalls.opened = protocol->opened;
  box->connectionCalls.lineArrived = protocol->lineArrived;
  box->connectionCalls.bytesArrived = protocol->bytesArrived;
}

}  // namespace

void initMailbox(Mailbox* box, int slot, const Account* account, const Protocol* const* protocols) {
  memset((void*)box, 0, sizeof *box);
  box->account = account;
  box->protocols = protocols;
  box->mailboxSlot = slot;
  chooseProtocol(box);
  box->connectionCalls.ended = onConnectionEnded;
  box->connectionCalls.securing = onSecuring;
  initConnection(&box->connection, slot, box);
  initSchedule(box);
  acknowledgeRegister(slot);
  registerCheckBegins(slot);
  if (slot >= 0 && slot < MOST_MAILBOXES) recordOfSlot[slot] = box;
}

Mailbox* mailboxOfTimer(UINT_PTR id) {
  int slot = mailboxSlotOfTimer(id);
  return slot >= 0 && slot < MOST_MAILBOXES ? recordOfSlot[slot] : NULL;
}

void startCheck(HWND window, Mailbox* box, int timed) {
  if (box->cycle.underWay || app.settingsOpen) return;
  traceMailbox(box->mailboxSlot);
  pauseAnnouncementForCheck(window, box->mailboxSlot);
  registerCheckBegins(box->mailboxSlot);
  stopSchedule(window, box);
  box->cycle.quiet = timed && retriesInARow(box) > 0;
  // A check that shows itself starts without its mailbox's old failure.
  if (!box->cycle.quiet) showMailboxFailure(box->mailboxSlot, NULL);

  // A session held open is asked again, on it, before the shell is asked
  // to change the icon: that call waits for another process, a quarter of
  // a second on a busy machine, and the server's answer can come meanwhile.
  // An icon that would not change is left alone.
  if (box->protocol->holdsSession(box)) {
    box->cycle.onHeldSession = 1;
    becomeBusyWith(box);
    watchForAnswers(window, &box->connection);
    box->protocol->checkAgain(window, box);
    return showPlainIcon(window, box, "");
  }

  // After a refused command the session may still wait for the answer to
  // QUIT while busy is already clear; it ends here, before a new one.
  if (box->connection.sessionSocket != INVALID_SOCKET) closeSession(window, box);

  // Blank, broken or unreadable settings: no connection at all. The top
  // shows why, and the settings.
  if (accountProblem(box->account) != NULL) {
    showPlainIcon(window, box, "");
    PostMessageW(window, MSG_SETTINGS_NEEDED, 0, 0);
    return;
  }

  // Offline is never shown as an error.
  if (!isOnline()) return endCheck(window, box, {FailedForNow, TEXT_OFFLINE, NULL});

  chooseProtocol(box);
  showPlainIcon(window, box, box->protocol->connectingText);
  // A window closed while the shell was asked has ended the program.
  if (app.windowGone) return;
  becomeBusyWith(box);
  box->protocol->begin(box);
  const Account* s = box->account;
  openConnection(window, &box->connection, &box->connectionCalls, s->serverHost, s->port,
                 channelSecurity(s->connectionSecurity));
}

void showProgress(HWND window, const Mailbox* box, const char* text) {
  if (!box->cycle.quiet) setTrayProgress(window, text);
}

void endCheck(HWND window, Mailbox* box, CheckOutcome outcome) {
  // The count stands whatever becomes of the headers read after it.
  if (outcome.end == Failed && box->protocol->announceCountOnFailure(window, box)) return;
  static const char* const ends[] = {"Announced", "SessionOver", "Failed", "FailedForNow",
                                     "Abandoned"};
  static_assert(sizeof ends / sizeof ends[0] == Abandoned + 1, "a name for every end");
  traceLine("check ends: %s %s", ends[outcome.end], outcome.text != NULL ? outcome.text : "");
  box->cycle.onHeldSession = 0;
  int resultShown = box->protocol->awaitsGoodbye(box);
  // Announced with the session kept for the server's news: it stays open,
  // unwatched, and no interval check comes while it stands.
  int held = outcome.end == Announced && box->protocol->holdsSession(box);
  if (held) box->cycle.heldSince = GetTickCount();
  setTrayNote(held ? TEXT_WAITING : "");
  stopWaitingForAnswers(window, &box->connection);
  int quitAwaited = resultShown && outcome.end != SessionOver && outcome.end != Abandoned;
  if (!quitAwaited && !held) closeSession(window, box);
  // An announced session waits for the answer to QUIT, unless it is over.
  int sessionGoesOn = outcome.end == Announced && quitAwaited;
  if (!sessionGoesOn) stopStallTimeout(window, &box->connection);

  // A check that fails before its result is out shows none of the
  // headers it may have read.
  if (!resultShown && outcome.end != Announced && outcome.end != SessionOver)
    dropPreviews(&box->previews);
  // The result joins the register of untold mail, which the tray shows.
  if (outcome.end == Announced) {
    registerCheckEnds(box->mailboxSlot, box->counts.newCount, box->counts.messageCount,
                      &box->previews);
    dropPreviews(&box->previews);
  }

  if (outcome.end == FailedForNow)
    countRetry(box);
  else if (outcome.end == Announced || outcome.end == Failed)
    resetRetries(box);
  // While the settings are open (a session can still wait for the answer
  // to QUIT then) the sheet keeps the menu grayed and the schedule
  // stopped; both go on when it closes.
  if (!app.settingsOpen && !held) startIntervalTimer(window, box);
  // A result may come with a word of its own for the tooltip's note.
  if (outcome.end == Announced && outcome.text != NULL) setTrayNote(outcome.text);

  char named[2][SHORT_TEXT_BYTES + 256];
  if (outcome.end != Announced) {
    outcome.text = whose(box, outcome.text, named[0], sizeof named[0]);
    outcome.alarmText = whose(box, outcome.alarmText, named[1], sizeof named[1]);
  }
  if (outcome.end == Announced) showMailboxFailure(box->mailboxSlot, NULL);
  if (outcome.end == Failed) {
    showMailboxFailure(box->mailboxSlot, outcome.text);
    holdAnnouncement(window);
    setTrayIcon(window, NIM_MODIFY, "NOGOODICON", outcome.text);
  } else if (outcome.end == FailedForNow) {
    // A failure that looks as the tray already does leaves it alone, so a
    // long outage shows its error once rather than anew with every retry.
    int alarm = retriesInARow(box) > 1 && outcome.alarmText != NULL;
    const char* icon = alarm ? "NOGOODICON" : "APPICON";
    const char* text = alarm ? outcome.alarmText : outcome.text;
    showMailboxFailure(box->mailboxSlot, alarm ? text : NULL);
    if (!trayShows(icon, text)) {
      holdAnnouncement(window);
      setTrayIcon(window, NIM_MODIFY, icon, text);
    }
  } else if (outcome.end == Abandoned && !resultShown) {
    setTrayIcon(window, NIM_MODIFY, "APPICON", "");
  }
  if (app.windowGone) return;
  if (!sessionGoesOn) becomeIdleUnlessOpen(box);
  // The cycle alone tells the result, once the check has ended.
  if (outcome.end == Announced) startNotification(window, box->mailboxSlot);
}

void awaitQuitReply(HWND window, Mailbox* box) {
  SetTimer(window, mailboxTimer(TIMER_QUIT, box->mailboxSlot), QUIT_TIMEOUT_MS, onQuitTimeout);
}

// PBT_APMSUSPEND comes just before the machine sleeps; a resume, perhaps
// twice, after it wakes. The wake check replaces the waiting one, so the
// interval counts from it. Asleep, the program can neither finish a
// session nor time it out: a check under way is abandoned.
void onPowerBroadcast(HWND window, Mailbox* box, WPARAM wParam, LPARAM) {
  if (wParam == PBT_APMSUSPEND) {
    cancelWakeCheck(window, box);
    // A held session has shown its result: it only goes; the wake's check
    // opens a new one.
    if (box->protocol->holdsSession(box)) closeSession(window, box);
    if (connectionUnderWay(&box->connection)) endCheck(window, box, {Abandoned, NULL, NULL});
    box->cycle.wakeCounted = 0;
    return;
  }
  if (wParam != PBT_APMRESUMEAUTOMATIC && wParam != PBT_APMRESUMESUSPEND &&
      wParam != PBT_APMRESUMECRITICAL)
    return;
  DWORD now = GetTickCount();
  if (box->cycle.wakeCounted && now - box->cycle.wakeTick < SAME_WAKE_MS) return;
  box->cycle.wakeCounted = 1;
  box->cycle.wakeTick = now;
  // A new network, perhaps: the first failure after a wake is a first one.
  resetRetries(box);
  startWakeTimer(window, box);
}

void stopCheckTimers(HWND window, Mailbox* box) {
  stopSilenceTimeout(window, &box->connection);
  KillTimer(window, mailboxTimer(TIMER_QUIT, box->mailboxSlot));
  stopStallTimeout(window, &box->connection);
}

// A start that failed early made no record: it has no protocol yet.
void endCheckForShutdown(Mailbox* box) {
  if (box->protocol != NULL && box->protocol->holdsSession(box)) box->protocol->farewell(box);
  abortConnection(&box->connection);
}

void setMessageCount(Mailbox* box, DWORD messageCount) { box->counts.messageCount = messageCount; }

void setNewCount(Mailbox* box, DWORD newCount) { box->counts.newCount = newCount; }

void reportNewMessage(Mailbox* box, DWORD uid) {
  char text[16];
  snprintf(text, sizeof text, "%u", (unsigned)uid);
  registerFoundNew(box->mailboxSlot, text);
}

void reportMessageFlags(Mailbox* box, DWORD uid, int seen) {
  char text[16];
  snprintf(text, sizeof text, "%u", (unsigned)uid);
  if (seen)
    registerReadElsewhere(box->mailboxSlot, text);
  else
    registerStillUnread(box->mailboxSlot, text);
}

size_t askAfterUntoldMail(Mailbox* box, char* text, size_t size) {
  size_t used = registerUidList(box->mailboxSlot, text, size);
  DWORD listed = 0;
  for (size_t i = 0; i < used; i++) listed += text[i] == ',';
  // Only a question after all of them tells which went.
  if (listed > 0 && listed == trackedCount(box->mailboxSlot)) registerAskedAll(box->mailboxSlot);
  return used;
}

int holdsUntoldMail(const Mailbox* box) { return trackedCount(box->mailboxSlot) > 0; }

// Mail read or deleted elsewhere while the session waits: a check asks
// after the register's messages at once, where the register is kept.
int reportMailGoing(HWND window, Mailbox* box) {
  if (settings.keepTelling != 1 || !holdsUntoldMail(box)) return 0;
  if (!box->protocol->holdsSession(box)) return 0;
  startCheck(window, box, 1);
  return 1;
}

// A count of UIDs: every UID the mailbox holds, in its order, each new
// one or one still there. Only a mailbox listed whole tells which went.
void reportListing(Mailbox* box) {
  const KnownUids& known = box->known;
  for (DWORD j = 0; j < known.lastCurrentCount; j++) {
    if (known.countedNew[j])
      registerFoundNew(box->mailboxSlot, box->currentUids[j]);
    else
      registerStillUnread(box->mailboxSlot, box->currentUids[j]);
  }
  if (known.lastCurrentCount == box->counts.messageCount) registerAskedAll(box->mailboxSlot);
}

// A session that stood a while (servers end idle ones after some minutes)
// is taken up again at once, as a timed check; one that fell soon after it
// began counts as a failure that may pass by itself, so that a server
// that drops every session at once is not asked again and again.
void loseHeldSession(HWND window, Mailbox* box) {
  int checking = box->cycle.onHeldSession;
  box->cycle.onHeldSession = 0;
  closeSession(window, box);
  traceLine("held session lost");
  if (checking) {
    // The check that asked on it ends without a word; the next takes over.
    stopWaitingForAnswers(window, &box->connection);
    stopStallTimeout(window, &box->connection);
    if (!app.windowGone) becomeIdleUnlessOpen(box);
  }
  if (GetTickCount() - box->cycle.heldSince >= FIRST_RETRY_MS) {
    resetRetries(box);
    PostMessageW(window, MSG_CHECK_MAILBOX, (WPARAM)box->mailboxSlot, CHECK_BY_TIMER);
    return;
  }
  countRetry(box);
  if (!app.settingsOpen) startIntervalTimer(window, box);
}

int leaveHeldSession(HWND window, Mailbox* box) {
  if (!box->protocol->holdsSession(box)) return 0;
  box->protocol->farewell(box);
  closeSession(window, box);
  return 1;
}
