// The POP3 dialogue as a table of awaited replies: each send... function
// sends one command and names the reply it awaits; dispatchReply hands a
// reply line to the step that awaits it.
//
// RFC 1939 (POP3), RFC 2449 (CAPA and the response codes in brackets,
// LOGIN-DELAY, IN-USE), RFC 3206 (SYS/TEMP, SYS/PERM, AUTH).
#include "check/pop3.h"

#include <stdio.h>
#include <string.h>

#include "base/text.h"
#include "base/trace.h"
#include "check/apop.h"
#include "check/check.h"
#include "check/headers.h"
#include "check/knownuids.h"
#include "check/listing.h"
#include "check/schedule.h"
#include "check/session.h"
#include "check/tls.h"
#include "settings/settings.h"
#include "tray/notify.h"
#include "tray/previews.h"
#include "tray/trayicon.h"

namespace {

const char TEXT_REFUSED[] = "サーバに接続を拒否されました.";
const char TEXT_BAD_LOGIN[] = "ユーザーIDまたはパスワードが違います.";
const char TEXT_NO_STAT[] = "接続しているサーバはSTATコマンドに対応していません.";
const char TEXT_NO_UIDL[] = "接続しているサーバはUIDLコマンドに対応していません.";
const char TEXT_NO_QUIT[] = "接続しているサーバはQUITコマンドに対応していません.";
const char TEXT_NO_APOP[] = "接続しているサーバはAPOPに対応していません.";
const char TEXT_NO_STLS[] = "サーバがSTLSに対応していないにゃ.";

// What a server's response code in brackets says, in place of the
// text of the refused step. The temporary ones pass by themselves: the
// check is tried again soon. Later levels of a code ("IN-USE/...") are
// details this program need not know.
struct ResponseCode {
  const char* code;
  const char* text;
  int temporary;
};
const ResponseCode responseCodes[] = {
    {"IN-USE", "ほかのメールソフトがメールボックスを使用中にゃ.", 1},
    {"LOGIN-DELAY", "ログインの間隔が短すぎるとサーバに言われたにゃ.", 1},
    {"SYS/TEMP", "サーバが一時的な障害中にゃ.あとでまた確かめるにゃ.", 1},
    {"SYS/PERM", "サーバに障害があってログインできないにゃ.", 0},
    {"AUTH", "サーバがユーザーIDかパスワードを認めないにゃ.", 0},
};

// A refused QUIT is asked once more; a server that refuses again is left.
const int QUIT_REFUSALS_TOLERATED = 1;

// What the dialogue alone keeps of the session under way.
struct Dialogue {
  int quitRefusals;
  DWORD lineLength;  // bytes of an unfinished line in lineBuffer
  // The rest of a line too long for the buffer is being passed over, up
  // to its LF.
  int skippingRest;
  DWORD uidlIndex;  // the message whose UID the walk asks for
  int listed;       // the UIDs came from a listing, not from the walk
  int inFlights;    // the session after the greeting went in a flight
  // UIDs were counted: the known list takes them once the count is
  // announced.
  int counted;
  char digest[33];  // the APOP digest sent, kept from the trace
  // The newest new messages whose headers are asked for (TOP n 0),
  // newest first; the one under way; how many TOPs went with a flight.
  DWORD topNumbers[MOST_PREVIEWS];
  DWORD topCount;
  DWORD topAt;
  DWORD topsAhead;
  DWORD topBytes;  // bytes of the header block under way, as received
  size_t headerLength;
};
Dialogue dialogue;

// The header block of the message under way. It lives here only while
// it is read, and is wiped once its sender and subject are taken; a block
// beyond this size gives no preview.
const size_t HEADER_BLOCK_BYTES = 65536;
char headerBlock[HEADER_BLOCK_BYTES];

// A server that pipelines (RFC 2449) takes the whole session in one
// flight: the login, STAT, the listing and QUIT, sent together; the
// replies are read in order. The steps stay as they are: a step whose
// command went with the flight finds it sent already (sentAhead) and only
// waits for its reply.
const int AHEAD_PASS = 1;
const int AHEAD_STAT = 2;
const int AHEAD_LISTING = 4;
const int AHEAD_QUIT = 8;
int serverPipelines = 0;  // its CAPA listed PIPELINING
int serverListsUids = 0;  // and UIDL: the listing goes with the flight
int sentAhead = 0;
// While a flight is made up its commands collect here; it is a few
// hundred bytes at most, and never more than one is under way.
const size_t FLIGHT_BYTES = 512;
char flight[FLIGHT_BYTES];
size_t flightLength;
int composingFlight = 0;
// Once a session in a flight is ended early, the replies to the commands
// sent with it come before QUIT's: they are read and passed over (the
// listing, the last of them, with its lines when it is positive).
DWORD repliesToPassOver = 0;
int listingToPassOver = 0;
int passingListing = 0;

// A CR before the LF is part of the line and counts as a blank.
int isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Skips one blank-separated field and the blanks after it.
const char* skipField(const char* p) {
  while (*p != '\0' && !isBlank(*p)) p++;
  while (isBlank(*p)) p++;
  return p;
}

// Reads a decimal number; returns 0 when there is none. Values beyond 32
// bits stay at the largest count.
int readCount(const char* p, DWORD* value) {
  if (*p < '0' || *p > '9') return 0;
  unsigned long long number = 0;
  for (; *p >= '0' && *p <= '9'; p++) {
    number = number * 10 + (unsigned)(*p - '0');
    if (number > 0xFFFFFFFFull) number = 0xFFFFFFFFull;
  }
  *value = (DWORD)number;
  return 1;
}

// A setting is filled in only as it stands: a line break inside it would
// end the command early and send the rest as a command of its own.
void sendCommand(const char* format, const char* first = "", const char* second = "") {
  if (strpbrk(first, "\r\n") != NULL || strpbrk(second, "\r\n") != NULL) return;
  snprintf(app.sendBuffer, SEND_BUFFER_BYTES, format, first, second);
  // The password and the digest made from it never reach the trace.
  if (strncmp(format, "PASS ", 5) == 0)
    traceLine("sent PASS ********");
  else if (strncmp(format, "APOP ", 5) == 0)
    traceLine("sent APOP %s ********", first);
  else
    traceLine("sent %s", app.sendBuffer);
  size_t length = strlen(app.sendBuffer);
  if (!composingFlight)
    sendToServer(app.sendBuffer, (int)length);
  else if (length <= FLIGHT_BYTES - flightLength) {
    memcpy(flight + flightLength, app.sendBuffer, length);
    flightLength += length;
  }
  // A command gone leaves nothing behind: PASS holds the password.
  memset(app.sendBuffer, 0, length);
}

// A flight goes in one send, and leaves nothing behind either.
void launchFlight() {
  sendToServer(flight, (int)flightLength);
  memset(flight, 0, flightLength);
  flightLength = 0;
}

// The user ID and the password reach the server as the settings file
// holds them, in Shift-JIS, or in the bytes an older version wrote in
// another code page: the bytes every version of the program has logged
// in with, which an account with Japanese in them was set up by. A text
// that Shift-JIS cannot hold (the sheet lets none through) goes as it
// stands.
struct WireText {
  char text[SHORT_TEXT_BYTES];
};
WireText onTheWire(const char* text) {
  WireText wire;
  if (!fileBytesOf(text, wire.text, sizeof wire.text))
    copyWholeCharacters(wire.text, sizeof wire.text, text);
  return wire;
}

// 1 when the step's command went with the flight (and is no more ahead).
int sentAlready(int command) {
  int sent = sentAhead & command;
  sentAhead &= ~command;
  return sent;
}

int isLoneDot(const char* line) {
  return line[0] == '.' && (line[1] == '\0' || (line[1] == '\r' && line[2] == '\0'));
}

// The tooltip of a step follows its command once the program is idle
// (setTrayProgress), so the shell's round trip never delays the dialogue.
// A retry in a row of failures shows nothing until it has its result.
void showProgress(HWND window, const char* text) {
  if (!session.quiet) setTrayProgress(window, text);
}

const char TEXT_AUTHENTICATING_USER[] = "ユーザーIDを認証中...";

void sendQuit(HWND window);
void sendLogin(HWND window);

int startsWithNoCase(const char* text, const char* word) {
  for (; *word != '\0'; text++, word++)
    if (*text != *word && !(*word >= 'A' && *word <= 'Z' && *text == *word - 'A' + 'a')) return 0;
  return 1;
}

// "-ERR [SYS/TEMP] ..." and the like; null without a known code.
const ResponseCode* responseCodeOf(const char* line) {
  if (line[0] != '-') return NULL;
  const char* p = skipField(line);
  if (*p++ != '[') return NULL;
  for (const ResponseCode& known : responseCodes) {
    size_t length = strlen(known.code);
    if (startsWithNoCase(p, known.code) && (p[length] == ']' || p[length] == '/')) return &known;
  }
  return NULL;
}

// Every refusal ends the session politely, with QUIT, and is shown; a
// session meant to be encrypted whose channel is not open ends without a
// word.
void refuse(HWND window, const char* text) {
  const ResponseCode* code = responseCodeOf(app.lineBuffer);
  if (canSendCommands()) sendQuit(window);
  if (code == NULL)
    endCheck(window, {Failed, text, NULL});
  else if (code->temporary)
    endCheck(window, {FailedForNow, code->text, code->text});
  else
    endCheck(window, {Failed, code->text, NULL});
}

// An encrypted session asks the server's capabilities (RFC 2449) before
// the login, and so does fast scan, to learn whether the server
// pipelines: a plain session without it keeps the dialogue it always had,
// command for command.
int sessionAsksCapa() { return session.security != SECURITY_NONE || settings.fastScan == 1; }

void sendCapa() {
  serverPipelines = 0;
  serverListsUids = 0;
  sendCommand("CAPA\r\n");
  setSessionState(AwaitCapaReply);
}

// The check tells new mail from old: that needs the UIDs. The balloon
// tells the number of new messages.
int countsNewMail() {
  return settings.soundNewOnly == 1 || settings.blinkNewOnly == 1 || settings.notifyBalloon == 1;
}

// The headers of new mail are asked for only where new mail is told.
int wantsPreviews() { return settings.showPreviews == 1 && countsNewMail(); }

// A capability line; LOGIN-DELAY and PIPELINING matter here. The delay
// may be followed by "USER" (the user's own delay may differ after the
// login): the announced one is kept all the same.
void readCapability(const char* line) {
  if (line[0] == '.') line++;  // a stuffed dot
  if (startsWithNoCase(line, "PIPELINING") && (line[10] == '\0' || isBlank(line[10])))
    serverPipelines = 1;
  if (startsWithNoCase(line, "UIDL") && (line[4] == '\0' || isBlank(line[4]))) serverListsUids = 1;
  if (!startsWithNoCase(line, "LOGIN-DELAY") || !isBlank(line[11])) return;
  DWORD seconds = 0;
  if (readCount(skipField(line), &seconds)) noteLoginDelay(seconds);
}

}  // namespace

// A session begins and ends with no flight under way.
void setSessionState(SessionState state) {
  static const char* const names[] = {
      "Idle",           "AwaitGreeting",  "AwaitUserReply", "AwaitPassReply",    "AwaitStatReply",
      "AwaitUidlReply", "AwaitQuitReply", "AwaitStlsReply", "AwaitListingReply", "AwaitListingLine",
      "AwaitCapaReply", "ReadCapaList",   "AwaitTopReply",  "AwaitTopLine"};
  if (state != session.state) traceLine("state %s -> %s", names[session.state], names[state]);
  session.state = state;
  if (state != Idle) return;
  sentAhead = 0;
  passingListing = 0;
}

void beginDialogue() {
  app.messageCount = 0;
  app.newCount = 0;
  app.greeting[0] = '\0';
  dialogue.counted = 0;
  memset(dialogue.digest, 0, sizeof dialogue.digest);
  setSessionState(Idle);
  // Whatever an earlier session left unfinished is no part of this one.
  resetLineAssembler();
}

namespace {

// With a server that pipelines, the commands after USER or APOP go with
// it: the flight leaves in one send. A listing in the flight has QUIT
// behind it, so it goes only to a server that says it has UIDL; any other
// is asked a step at a time, and walked should it refuse the listing.
void beginFlight() {
  composingFlight =
      settings.fastScan == 1 && serverPipelines && (serverListsUids || !countsNewMail());
  flightLength = 0;
}

// With the previews the flight ends with the listing: which headers to
// ask for is known only from it, and they go with QUIT in a second one.
void sendFlight() {
  dialogue.inFlights = composingFlight;
  if (!composingFlight) return;
  if (settings.useApop == 0) sendCommand("PASS %s\r\n", onTheWire(settings.password).text);
  sendCommand("STAT\r\n");
  if (countsNewMail()) sendCommand("UIDL\r\n");
  if (!wantsPreviews()) sendCommand("QUIT\r\n");
  composingFlight = 0;
  sentAhead = (settings.useApop == 0 ? AHEAD_PASS : 0) | AHEAD_STAT |
              (countsNewMail() ? AHEAD_LISTING : 0) | (wantsPreviews() ? 0 : AHEAD_QUIT);
  launchFlight();
}

void sendLogin(HWND window) {
  if (settings.useApop == 0) {
    beginFlight();
    sendCommand("USER %s\r\n", onTheWire(settings.userId).text);
    sendFlight();
    setSessionState(AwaitUserReply);
    return showProgress(window, TEXT_AUTHENTICATING_USER);
  }
  char* digest = dialogue.digest;
  if (!buildApopDigest(digest, app.greeting, onTheWire(settings.password).text)) {
    showProgress(window, TEXT_AUTHENTICATING_USER);
    return refuse(window, TEXT_NO_APOP);
  }
  beginFlight();
  sendCommand("APOP %s %s\r\n", onTheWire(settings.userId).text, digest);
  sendFlight();
  setSessionState(AwaitPassReply);
  showProgress(window, TEXT_AUTHENTICATING_USER);
}

void sendStls() {
  sendCommand("STLS\r\n");
  setSessionState(AwaitStlsReply);
}

void sendPass() {
  if (!sentAlready(AHEAD_PASS)) sendCommand("PASS %s\r\n", onTheWire(settings.password).text);
  setSessionState(AwaitPassReply);
}

void sendStat() {
  if (!sentAlready(AHEAD_STAT)) sendCommand("STAT\r\n");
  setSessionState(AwaitStatReply);
}

void sendUidl() {
  char number[16];
  snprintf(number, sizeof number, "%u", (unsigned)dialogue.uidlIndex);
  sendCommand("UIDL %s\r\n", number);
  setSessionState(AwaitUidlReply);
}

void sendQuit(HWND window) {
  if (session.state != AwaitQuitReply) dialogue.quitRefusals = 0;
  // Commands of the flight whose steps never came: their replies are
  // still to be read, before QUIT's.
  repliesToPassOver = ((sentAhead & AHEAD_PASS) != 0) + ((sentAhead & AHEAD_STAT) != 0) +
                      ((sentAhead & AHEAD_LISTING) != 0);
  listingToPassOver = (sentAhead & AHEAD_LISTING) != 0;
  if (!sentAlready(AHEAD_QUIT)) sendCommand("QUIT\r\n");
  sentAhead = 0;
  setSessionState(AwaitQuitReply);
  awaitQuitReply(window);
}

// The messages whose UIDs one check walks: the newest UID_SLOTS of a
// larger mailbox (mail arrives at the end).
DWORD firstWalkedMessage() {
  return app.messageCount > UID_SLOTS ? app.messageCount - UID_SLOTS + 1 : 1;
}

void sendFirstUidl() {
  dialogue.uidlIndex = firstWalkedMessage();
  dialogue.listed = 0;
  sendUidl();
}

// Fast scan: one bare UIDL, and the listing in its place of the walk.
void sendUidlListing() {
  if (!sentAlready(AHEAD_LISTING)) sendCommand("UIDL\r\n");
  dialogue.listed = 1;
  setSessionState(AwaitListingReply);
}

// A count is remembered, and its file written, only once it is announced:
// a check that ends before (the machine sleeps) leaves the mail new.
void rememberCount() {
  if (!dialogue.counted) return;
  dialogue.counted = 0;
  rememberCurrentUids();
  saveKnownUids();
}

// The result is out: QUIT, and the announcement.
void announce(HWND window) {
  rememberCount();
  sendQuit(window);
  endCheck(window, {Announced, NULL, NULL});
  startNotification(window);
}

void onStatReply(HWND window) {
  readCount(skipField(app.lineBuffer), &app.messageCount);
  if (countsNewMail() && app.messageCount != 0) {
    if (settings.fastScan == 1) return sendUidlListing();
    return sendFirstUidl();
  }
  announce(window);
}

// The next header block, or, once all are read, the announcement. In a
// flight every TOP went already and QUIT behind them.
void sendTop(HWND window) {
  if (dialogue.topAt == dialogue.topCount) return announce(window);
  if (dialogue.topsAhead > 0) {
    dialogue.topsAhead--;
  } else {
    char number[16];
    snprintf(number, sizeof number, "%u", (unsigned)dialogue.topNumbers[dialogue.topAt]);
    sendCommand("TOP %s 0\r\n", number);
  }
  setSessionState(AwaitTopReply);
}

// Who wrote the newest new messages: their numbers are those of the
// places the merge counted as new. With a server that pipelines, the
// TOPs and QUIT leave in one flight, once the first one is answered.
void askForHeaders(HWND window) {
  DWORD places[MOST_PREVIEWS];
  dialogue.topCount = newestNewPlaces(places, MOST_PREVIEWS);
  for (DWORD i = 0; i < dialogue.topCount; i++)
    dialogue.topNumbers[i] =
        dialogue.listed ? listedNumberAt(places[i]) : firstWalkedMessage() + places[i];
  dialogue.topAt = 0;
  dialogue.topsAhead = 0;
  if (dialogue.inFlights && dialogue.topCount > 0) {
    composingFlight = 1;
    flightLength = 0;
    char number[16];
    for (DWORD i = 0; i < dialogue.topCount; i++) {
      snprintf(number, sizeof number, "%u", (unsigned)dialogue.topNumbers[i]);
      sendCommand("TOP %s 0\r\n", number);
    }
    sendCommand("QUIT\r\n");
    composingFlight = 0;
    dialogue.topsAhead = dialogue.topCount;
    sentAhead |= AHEAD_QUIT;
    launchFlight();
  }
  sendTop(window);
}

// A line of the header block; the lone "." ends it. Only the count of its
// bytes goes to the trace, never a word of it.
void onTopLine(HWND window) {
  const char* line = app.lineBuffer;
  if (isLoneDot(line)) {
    // The "." that ends the block is none of it.
    dialogue.topBytes -= (DWORD)strlen(line) + 1;
    traceLine("header bytes: %u", (unsigned)dialogue.topBytes);
    if (dialogue.topBytes <= HEADER_BLOCK_BYTES) {
      HeaderFields fields;
      readHeaders(headerBlock, dialogue.headerLength, &fields);
      addPreview(fields.sender, fields.subject);
      memset(&fields, 0, sizeof fields);
    }
    memset(headerBlock, 0, dialogue.headerLength);
    dialogue.headerLength = 0;
    dialogue.topAt++;
    return sendTop(window);
  }
  if (line[0] == '.') line++;
  size_t length = strlen(line);
  if (length > 0 && line[length - 1] == '\r') length--;
  if (dialogue.headerLength + length + 1 > HEADER_BLOCK_BYTES) {
    dialogue.topBytes = HEADER_BLOCK_BYTES + 1;
    return;
  }
  memcpy(headerBlock + dialogue.headerLength, line, length);
  headerBlock[dialogue.headerLength + length] = '\n';
  dialogue.headerLength += length + 1;
}

// After the last UID: the comparison, the headers of new mail when they
// are wanted, then QUIT and the announcement.
void finishCounting(HWND window) {
  app.newCount = countNewUids();
  dialogue.counted = 1;
  dropPreviews();
  if (wantsPreviews() && app.newCount > 0) return askForHeaders(window);
  announce(window);
}

void onUidlReply(HWND window) {
  // "+OK number uid": a reply without its UID stores an empty one.
  const char* uid = skipField(skipField(app.lineBuffer));
  size_t length = 0;
  while (uid[length] != '\0' && !isBlank(uid[length])) length++;
  storeUid(app.currentUids[dialogue.uidlIndex - firstWalkedMessage()], uid, length);

  if (dialogue.uidlIndex < app.messageCount) {
    dialogue.uidlIndex++;
    sendUidl();
    return;
  }
  finishCounting(window);
}

// "number uid" up to the line holding a single "."; a line that starts
// with "." has it doubled (RFC 1939's byte-stuffing). A line without a
// number names no message; one without a UID stores an empty one, as the
// walk does.
void onListingLine(HWND window) {
  const char* line = app.lineBuffer;
  if (line[0] == '.') {
    if (isLoneDot(line)) {
      app.messageCount = finishListing();
      // A mailbox emptied since STAT is compared with nothing, as an
      // empty one is: the known list stays.
      if (app.messageCount != 0) return finishCounting(window);
      return announce(window);
    }
    line++;
  }
  DWORD number;
  if (!readCount(line, &number)) return;
  const char* uid = skipField(line);
  size_t length = 0;
  while (uid[length] != '\0' && !isBlank(uid[length])) length++;
  keepListedUid(number, uid, length);
}

// A line that comes, after a flight was ended early, before the reply to
// its QUIT: 1 when it is passed over.
int passOverLeftReply(int positive) {
  if (passingListing) {
    if (isLoneDot(app.lineBuffer)) passingListing = 0;
    return 1;
  }
  if (repliesToPassOver == 0) return 0;
  repliesToPassOver--;
  passingListing = repliesToPassOver == 0 && listingToPassOver && positive;
  return 1;
}

// Text for the trace with every form of the password (as typed, as sent)
// and the APOP digest masked, cut to the size.
void maskSecrets(const char* text, size_t length, char* out, size_t size) {
  const WireText wire = onTheWire(settings.password);
  const char* secrets[] = {settings.password, wire.text, dialogue.digest};
  size_t used = 0;
  for (size_t at = 0; at < length && used + 1 < size;) {
    size_t masked = 0;
    for (const char* secret : secrets) {
      size_t secretLength = strlen(secret);
      if (secretLength > 0 && secretLength <= length - at &&
          memcmp(text + at, secret, secretLength) == 0)
        masked = secretLength;
    }
    if (masked == 0) {
      out[used++] = text[at++];
      continue;
    }
    for (int i = 0; i < 8 && used + 1 < size; i++) out[used++] = '*';
    at += masked;
  }
  out[used] = '\0';
}

// The first line of each reply goes to the trace. Before the login it is
// the server's own word, and goes whole; from the login on a server may
// echo the password, and a reply out of step may be a line of a listing
// or a header block: only the status word and the response code go. The
// lines of a listing, a header block and CAPA never go, and neither does
// the password or the digest.
void traceReply() {
  if (!tracing()) return;
  const char* line = app.lineBuffer;
  size_t length = strlen(line);
  switch (session.state) {
    case ReadCapaList:
    case AwaitListingLine:
    case AwaitTopLine:
    case Idle: return;
    case AwaitGreeting:
    case AwaitStlsReply:
    case AwaitCapaReply: break;
    default: {
      if (passingListing) return;
      length = strcspn(line, " \t\r");
      const char* code = skipField(line);
      size_t codeLength = code[0] == '[' ? strcspn(code, "]") : 0;
      if (code[0] == '[' && code[codeLength] == ']')
        length = (size_t)(code - line) + codeLength + 1;
    }
  }
  char traced[LINE_BUFFER_BYTES];
  maskSecrets(line, length, traced, sizeof traced);
  traceLine("reply %s", traced);
}

void dispatchReply(HWND window) {
  int positive = app.lineBuffer[0] != '-';
  traceReply();
  switch (session.state) {
    case AwaitGreeting:
      if (!positive) return refuse(window, TEXT_REFUSED);
      // APOP takes the timestamp of this greeting, even after STLS.
      strcpy(app.greeting, app.lineBuffer);
      if (session.security == SECURITY_STLS) return sendStls();
      if (sessionAsksCapa()) return sendCapa();
      return sendLogin(window);
    case AwaitStlsReply:
      if (!positive) return refuse(window, TEXT_NO_STLS);
      return beginTls(window);
    case AwaitCapaReply:
      // A server without CAPA announces nothing, LOGIN-DELAY included.
      noteLoginDelay(0);
      serverPipelines = 0;
      serverListsUids = 0;
      if (!positive) return sendLogin(window);
      return setSessionState(ReadCapaList);
    case ReadCapaList:
      if (isLoneDot(app.lineBuffer)) return sendLogin(window);
      return readCapability(app.lineBuffer);
    case AwaitUserReply:
      if (!positive) return refuse(window, TEXT_BAD_LOGIN);
      sendPass();
      return showProgress(window, "パスワードを認証中...");
    case AwaitPassReply:
      if (!positive) return refuse(window, TEXT_BAD_LOGIN);
      noteLogin();
      sendStat();
      return showProgress(window, "メールの数を取得中...");
    case AwaitStatReply:
      if (!positive) return refuse(window, TEXT_NO_STAT);
      return onStatReply(window);
    case AwaitUidlReply:
      if (!positive) return refuse(window, TEXT_NO_UIDL);
      return onUidlReply(window);
    case AwaitListingReply:
      // A server without the listing form is walked as before; in a
      // flight (the server said it has UIDL) its QUIT is on its way
      // already, and the session ends.
      if (!positive && (sentAhead & AHEAD_QUIT)) return refuse(window, TEXT_NO_UIDL);
      if (!positive) return sendFirstUidl();
      beginListing();
      return setSessionState(AwaitListingLine);
    case AwaitListingLine: return onListingLine(window);
    case AwaitTopReply:
      // TOP is optional (RFC 1939): a refusal costs only this preview.
      if (!positive) {
        dialogue.topAt++;
        return sendTop(window);
      }
      dialogue.topBytes = 0;
      dialogue.headerLength = 0;
      return setSessionState(AwaitTopLine);
    case AwaitTopLine: return onTopLine(window);
    case AwaitQuitReply:
      if (passOverLeftReply(positive)) return;
      if (positive) return endCheck(window, {SessionOver, NULL, NULL});
      // A code in the refusal of QUIT changes nothing: the check's result
      // is out. A server that refuses it again is left.
      if (dialogue.quitRefusals++ < QUIT_REFUSALS_TOLERATED)
        sendQuit(window);
      else
        setSessionState(Idle);
      return endCheck(window, {Failed, TEXT_NO_QUIT, NULL});
    case Idle: return;  // left over behind the answer to QUIT
  }
}

}  // namespace

void resetLineAssembler() {
  app.lineBuffer[0] = '\0';
  dialogue.lineLength = 0;
  dialogue.skippingRest = 0;
}

// No line of POP3 is longer than the buffer. One that is anyway is judged
// by its first bytes, as far as the buffer holds them: they go on as the
// line, and the rest of it, up to its LF, is passed over unread, never
// taken for a line of its own.
void feedReceivedText(HWND window, const char* text, DWORD length) {
  while (length > 0) {
    const char* lineFeed = (const char*)memchr(text, '\n', length);
    DWORD lineBytes = lineFeed != NULL ? (DWORD)(lineFeed - text) : length;
    // A header block is measured as it arrives, its overlong lines whole,
    // and its final ".", which is none of it but is counted here all the
    // same, comes on top of a block of the full size.
    if (session.state == AwaitTopLine && dialogue.topBytes <= HEADER_BLOCK_BYTES + 3)
      dialogue.topBytes += lineBytes + (lineFeed != NULL ? 1 : 0);
    if (!dialogue.skippingRest) {
      DWORD room = LINE_BUFFER_BYTES - 1 - dialogue.lineLength;
      DWORD taken = lineBytes < room ? lineBytes : room;
      memcpy(app.lineBuffer + dialogue.lineLength, text, taken);
      // A NUL, which no line of POP3 holds, is read as a blank: it would
      // end the line's text early, and the line feed behind it with it.
      for (DWORD i = 0; i < taken; i++)
        if (app.lineBuffer[dialogue.lineLength + i] == '\0')
          app.lineBuffer[dialogue.lineLength + i] = ' ';
      dialogue.lineLength += taken;
      app.lineBuffer[dialogue.lineLength] = '\0';
      int full = dialogue.lineLength == LINE_BUFFER_BYTES - 1;
      if (lineFeed == NULL && !full) return;  // the rest comes later
      dialogue.skippingRest = lineFeed == NULL;
      dialogue.lineLength = 0;
      onReplyLine();
      dispatchReply(window);
      // The window closed while the step waited for the shell.
      if (app.windowGone) return;
      // After the "+OK" to STLS only TLS may follow: whatever else came in
      // plain text with it is no word of the server's to be trusted.
      if (session.tlsPhase == TlsHandshake) return resetLineAssembler();
    }
    if (lineFeed == NULL) return;
    dialogue.skippingRest = 0;
    length -= lineBytes + 1;
    text = lineFeed + 1;
  }
}

int announceCountOnFailure(HWND window) {
  if (!dialogue.counted || (session.state != AwaitTopReply && session.state != AwaitTopLine))
    return 0;
  dropPreviews();
  memset(headerBlock, 0, dialogue.headerLength);
  dialogue.headerLength = 0;
  rememberCount();
  endCheck(window, {Announced, NULL, NULL});
  startNotification(window);
  return 1;
}

void onChannelOpen(HWND window) {
  // Implicit TLS: the greeting is still to come, inside the channel.
  if (session.state != AwaitStlsReply) return;
  // What the server said before TLS is forgotten (RFC 2595).
  if (sessionAsksCapa()) return sendCapa();
  sendLogin(window);
}
