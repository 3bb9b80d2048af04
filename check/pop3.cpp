// The POP3 dialogue as a table of awaited replies: each send... function
// sends one command and names the reply it awaits; dispatchReply hands a
// reply line to the step that awaits it. The mailbox's connection brings
// the lines and carries the commands; the dialogue knows nothing of
// sockets or TLS but the request to turn to it.
//
// RFC 1939 (POP3), RFC 2449 (CAPA and the response codes in brackets,
// LOGIN-DELAY, IN-USE, PIPELINING), RFC 2595 (STLS), RFC 3206 (SYS/TEMP,
// SYS/PERM, AUTH).
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
#include "net/connection.h"
#include "settings/settings.h"
#include "tray/notify.h"
#include "tray/previews.h"

namespace {

const char TEXT_REFUSED[] = "サーバに接続を拒否されました.";
const char TEXT_BAD_LOGIN[] = "ユーザーIDまたはパスワードが違います.";
const char TEXT_NO_STAT[] = "接続しているサーバはSTATコマンドに対応していません.";
const char TEXT_NO_UIDL[] = "接続しているサーバはUIDLコマンドに対応していません.";
const char TEXT_NO_QUIT[] = "接続しているサーバはQUITコマンドに対応していません.";
const char TEXT_NO_APOP[] = "接続しているサーバはAPOPに対応していません.";
const char TEXT_NO_STLS[] = "サーバがSTLSに対応していないにゃ.";
const char TEXT_AUTHENTICATING_USER[] = "ユーザーIDを認証中...";

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

// The commands a flight may carry ahead of their steps.
const int AHEAD_PASS = 1;
const int AHEAD_STAT = 2;
const int AHEAD_LISTING = 4;
const int AHEAD_QUIT = 8;

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

void setSessionState(Mailbox* box, SessionState state) {
  static const char* const names[] = {
      "Idle",           "AwaitGreeting",  "AwaitUserReply", "AwaitPassReply",    "AwaitStatReply",
      "AwaitUidlReply", "AwaitQuitReply", "AwaitStlsReply", "AwaitListingReply", "AwaitListingLine",
      "AwaitCapaReply", "ReadCapaList",   "AwaitTopReply",  "AwaitTopLine"};
  static_assert(sizeof names / sizeof names[0] == AwaitTopLine + 1, "a name for every state");
  Dialogue& d = box->dialogue;
  if (state != d.state) traceLine("state %s -> %s", names[d.state], names[state]);
  d.state = state;
  // A session begins and ends with no flight under way.
  if (state != Idle) return;
  d.sentAhead = 0;
  d.passingListing = 0;
}

// A setting is filled in only as it stands: a line break inside it would
// end the command early and send the rest as a command of its own.
void sendCommand(Mailbox* box, const char* format, const char* first = "",
                 const char* second = "") {
  if (strpbrk(first, "\r\n") != NULL || strpbrk(second, "\r\n") != NULL) return;
  Dialogue& d = box->dialogue;
  snprintf(d.sendBuffer, SEND_BUFFER_BYTES, format, first, second);
  // The password and the digest made from it never reach the trace.
  if (strncmp(format, "PASS ", 5) == 0)
    traceLine("sent PASS ********");
  else if (strncmp(format, "APOP ", 5) == 0)
    traceLine("sent APOP %s ********", first);
  else
    traceLine("sent %s", d.sendBuffer);
  size_t length = strlen(d.sendBuffer);
  if (!d.composingFlight) {
    sendText(&box->connection, d.sendBuffer, (int)length);
  } else if (length <= FLIGHT_BYTES - d.flightLength) {
    memcpy(d.flight + d.flightLength, d.sendBuffer, length);
    d.flightLength += length;
  }
  // A command gone leaves nothing behind: PASS holds the password.
  memset(d.sendBuffer, 0, length);
}

// A flight goes in one send, and leaves nothing behind either.
void launchFlight(Mailbox* box) {
  Dialogue& d = box->dialogue;
  sendText(&box->connection, d.flight, (int)d.flightLength);
  memset(d.flight, 0, d.flightLength);
  d.flightLength = 0;
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
int sentAlready(Mailbox* box, int command) {
  int sent = box->dialogue.sentAhead & command;
  box->dialogue.sentAhead &= ~command;
  return sent;
}

int isLoneDot(const char* line) {
  return line[0] == '.' && (line[1] == '\0' || (line[1] == '\r' && line[2] == '\0'));
}

void sendQuit(HWND window, Mailbox* box);
void sendLogin(HWND window, Mailbox* box);

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

// What CAPA said stands for the session's server, port and way of
// securing the channel. A server that spaces its logins (LOGIN-DELAY) is
// asked every time: the spacing may change, and it is to be obeyed.
int capabilitiesKeptFor(const Mailbox* box) {
  const KeptCapabilities& kept = box->dialogue.capabilities;
  const Account* s = box->account;
  return kept.capaKnown && kept.capaPort == s->port && kept.capaSecurity == s->connectionSecurity &&
         strcmp(kept.capaHost, s->serverHost) == 0;
}

void keepCapabilities(Mailbox* box) {
  KeptCapabilities& kept = box->dialogue.capabilities;
  const Account* s = box->account;
  kept.capaKnown = !box->dialogue.serverSpacesLogins;
  copyWholeCharacters(kept.capaHost, sizeof kept.capaHost, s->serverHost);
  kept.capaPort = s->port;
  kept.capaSecurity = s->connectionSecurity;
  kept.pipelines = box->dialogue.serverPipelines;
  kept.listsUids = box->dialogue.serverListsUids;
}

// A server that refused a step may have changed: the next check asks
// CAPA again.
void forgetCapabilities(Mailbox* box) { box->dialogue.capabilities.capaKnown = 0; }

// Every refusal ends the session politely, with QUIT, and is shown; a
// session meant to be encrypted whose channel is not open ends without a
// word.
void refuse(HWND window, Mailbox* box, const char* line, const char* text) {
  const ResponseCode* code = responseCodeOf(line);
  forgetCapabilities(box);
  if (canSendText(&box->connection)) sendQuit(window, box);
  if (code == NULL)
    endCheck(window, box, {Failed, text, NULL});
  else if (code->temporary)
    endCheck(window, box, {FailedForNow, code->text, code->text});
  else
    endCheck(window, box, {Failed, code->text, NULL});
}

// An encrypted session asks the server's capabilities (RFC 2449) before
// the login, and so does fast scan, to learn whether the server
// pipelines: a plain session without it keeps the dialogue it always had,
// command for command.
int sessionAsksCapa(const Mailbox* box) {
  return box->account->connectionSecurity != SECURITY_NONE || box->account->fastScan == 1;
}

void sendCapa(Mailbox* box) {
  box->dialogue.serverPipelines = 0;
  box->dialogue.serverListsUids = 0;
  box->dialogue.serverSpacesLogins = 0;
  sendCommand(box, "CAPA\r\n");
  setSessionState(box, AwaitCapaReply);
}

// Before the login: CAPA, unless an earlier session to the same server
// asked it already; then the login follows at once, in a flight when the
// server pipelines.
void askCapaOrLogIn(HWND window, Mailbox* box) {
  if (!sessionAsksCapa(box)) return sendLogin(window, box);
  if (!capabilitiesKeptFor(box)) return sendCapa(box);
  box->dialogue.capaKept = 1;
  box->dialogue.serverPipelines = box->dialogue.capabilities.pipelines;
  box->dialogue.serverListsUids = box->dialogue.capabilities.listsUids;
  sendLogin(window, box);
}

// The check tells new mail from old: that needs the UIDs. The balloon
// tells the number of new messages.
int countsNewMail(const Mailbox* box) {
  (void)box;
  return settings.soundNewOnly == 1 || settings.blinkNewOnly == 1 || settings.notifyBalloon == 1;
}

// The headers of new mail are asked for only where new mail is told.
int wantsPreviews(const Mailbox* box) {
  return box->account->showPreviews == 1 && countsNewMail(box);
}

// A capability line; LOGIN-DELAY and PIPELINING matter here. The delay
// may be followed by "USER" (the user's own delay may differ after the
// login): the announced one is kept all the same.
void readCapability(Mailbox* box, const char* line) {
  if (line[0] == '.') line++;  // a stuffed dot
  if (startsWithNoCase(line, "PIPELINING") && (line[10] == '\0' || isBlank(line[10])))
    box->dialogue.serverPipelines = 1;
  if (startsWithNoCase(line, "UIDL") && (line[4] == '\0' || isBlank(line[4])))
    box->dialogue.serverListsUids = 1;
  if (!startsWithNoCase(line, "LOGIN-DELAY") || !isBlank(line[11])) return;
  box->dialogue.serverSpacesLogins = 1;
  DWORD seconds = 0;
  if (readCount(skipField(line), &seconds)) noteLoginDelay(box, seconds);
}

// With a server that pipelines, the commands after USER or APOP go with
// it: the flight leaves in one send. A listing in the flight has QUIT
// behind it, so it goes only to a server that says it has UIDL; any other
// is asked a step at a time, and walked should it refuse the listing.
void beginFlight(Mailbox* box) {
  Dialogue& d = box->dialogue;
  d.composingFlight = box->account->fastScan == 1 && d.serverPipelines &&
                      (d.serverListsUids || !countsNewMail(box));
  d.flightLength = 0;
}

// With the previews the flight ends with the listing: which headers to
// ask for is known only from it, and they go with QUIT in a second one.
void sendFlight(Mailbox* box) {
  Dialogue& d = box->dialogue;
  d.inFlights = d.composingFlight;
  if (!d.composingFlight) return;
  int apop = box->account->useApop != 0;
  if (!apop) sendCommand(box, "PASS %s\r\n", onTheWire(box->account->password).text);
  sendCommand(box, "STAT\r\n");
  if (countsNewMail(box)) sendCommand(box, "UIDL\r\n");
  if (!wantsPreviews(box)) sendCommand(box, "QUIT\r\n");
  d.composingFlight = 0;
  d.sentAhead = (apop ? 0 : AHEAD_PASS) | AHEAD_STAT | (countsNewMail(box) ? AHEAD_LISTING : 0) |
                (wantsPreviews(box) ? 0 : AHEAD_QUIT);
  launchFlight(box);
}

void sendLogin(HWND window, Mailbox* box) {
  const Account* s = box->account;
  if (s->useApop == 0) {
    beginFlight(box);
    sendCommand(box, "USER %s\r\n", onTheWire(s->userId).text);
    sendFlight(box);
    setSessionState(box, AwaitUserReply);
    return showProgress(window, box, TEXT_AUTHENTICATING_USER);
  }
  char* digest = box->dialogue.digest;
  if (!buildApopDigest(digest, box->dialogue.greeting, onTheWire(s->password).text)) {
    showProgress(window, box, TEXT_AUTHENTICATING_USER);
    return refuse(window, box, "", TEXT_NO_APOP);
  }
  beginFlight(box);
  sendCommand(box, "APOP %s %s\r\n", onTheWire(s->userId).text, digest);
  sendFlight(box);
  setSessionState(box, AwaitPassReply);
  showProgress(window, box, TEXT_AUTHENTICATING_USER);
}

void sendStls(Mailbox* box) {
  Dialogue& d = box->dialogue;
  snprintf(d.sendBuffer, SEND_BUFFER_BYTES, "STLS\r\n");
  traceLine("sent %s", d.sendBuffer);
  sendUpgradeRequest(&box->connection, d.sendBuffer, (int)strlen(d.sendBuffer));
  setSessionState(box, AwaitStlsReply);
}

void sendPass(Mailbox* box) {
  if (!sentAlready(box, AHEAD_PASS))
    sendCommand(box, "PASS %s\r\n", onTheWire(box->account->password).text);
  setSessionState(box, AwaitPassReply);
}

void sendStat(Mailbox* box) {
  if (!sentAlready(box, AHEAD_STAT)) sendCommand(box, "STAT\r\n");
  setSessionState(box, AwaitStatReply);
}

void sendUidl(Mailbox* box) {
  char number[16];
  snprintf(number, sizeof number, "%u", (unsigned)box->dialogue.uidlIndex);
  sendCommand(box, "UIDL %s\r\n", number);
  setSessionState(box, AwaitUidlReply);
}

void sendQuit(HWND window, Mailbox* box) {
  Dialogue& d = box->dialogue;
  if (d.state != AwaitQuitReply) d.quitRefusals = 0;
  // Commands of the flight whose steps never came: their replies are
  // still to be read, before QUIT's.
  d.repliesToPassOver = ((d.sentAhead & AHEAD_PASS) != 0) + ((d.sentAhead & AHEAD_STAT) != 0) +
                        ((d.sentAhead & AHEAD_LISTING) != 0);
  d.listingToPassOver = (d.sentAhead & AHEAD_LISTING) != 0;
  if (!sentAlready(box, AHEAD_QUIT)) sendCommand(box, "QUIT\r\n");
  d.sentAhead = 0;
  setSessionState(box, AwaitQuitReply);
  awaitQuitReply(window, box);
}

// The messages whose UIDs one check walks: the newest UID_SLOTS of a
// larger mailbox (mail arrives at the end).
DWORD firstWalkedMessage(const Mailbox* box) {
  DWORD count = box->counts.messageCount;
  return count > UID_SLOTS ? count - UID_SLOTS + 1 : 1;
}

void sendFirstUidl(Mailbox* box) {
  box->dialogue.uidlIndex = firstWalkedMessage(box);
  box->dialogue.listed = 0;
  sendUidl(box);
}

// Fast scan: one bare UIDL, and the listing in its place of the walk.
void sendUidlListing(Mailbox* box) {
  if (!sentAlready(box, AHEAD_LISTING)) sendCommand(box, "UIDL\r\n");
  box->dialogue.listed = 1;
  setSessionState(box, AwaitListingReply);
}

// A count is remembered, and its file written, only once it is announced:
// a check that ends before (the machine sleeps) leaves the mail new.
void rememberCount(Mailbox* box) {
  if (!box->dialogue.counted) return;
  box->dialogue.counted = 0;
  rememberCurrentUids(box);
  saveKnownUids(box);
}

// The result is out: QUIT, and the announcement.
void announce(HWND window, Mailbox* box) {
  rememberCount(box);
  sendQuit(window, box);
  endCheck(window, box, {Announced, NULL, NULL});
}

void onStatReply(HWND window, Mailbox* box, const char* line) {
  DWORD messages = 0;
  readCount(skipField(line), &messages);
  setMessageCount(box, messages);
  if (countsNewMail(box) && box->counts.messageCount != 0) {
    if (box->account->fastScan == 1) return sendUidlListing(box);
    return sendFirstUidl(box);
  }
  announce(window, box);
}

// The next header block, or, once all are read, the announcement. In a
// flight every TOP went already and QUIT behind them.
void sendTop(HWND window, Mailbox* box) {
  Dialogue& d = box->dialogue;
  if (d.topAt == d.topCount) return announce(window, box);
  if (d.topsAhead > 0) {
    d.topsAhead--;
  } else {
    char number[16];
    snprintf(number, sizeof number, "%u", (unsigned)d.topNumbers[d.topAt]);
    sendCommand(box, "TOP %s 0\r\n", number);
  }
  setSessionState(box, AwaitTopReply);
}

// Who wrote the newest new messages: their numbers are those of the
// places the merge counted as new. With a server that pipelines, the
// TOPs and QUIT leave in one flight, once the first one is answered.
void askForHeaders(HWND window, Mailbox* box) {
  Dialogue& d = box->dialogue;
  DWORD places[MOST_PREVIEWS];
  d.topCount = newestNewPlaces(box, places, MOST_PREVIEWS);
  for (DWORD i = 0; i < d.topCount; i++)
    d.topNumbers[i] =
        d.listed ? listedNumberAt(box, places[i]) : firstWalkedMessage(box) + places[i];
  d.topAt = 0;
  d.topsAhead = 0;
  if (d.inFlights && d.topCount > 0) {
    d.composingFlight = 1;
    d.flightLength = 0;
    char number[16];
    for (DWORD i = 0; i < d.topCount; i++) {
      snprintf(number, sizeof number, "%u", (unsigned)d.topNumbers[i]);
      sendCommand(box, "TOP %s 0\r\n", number);
    }
    sendCommand(box, "QUIT\r\n");
    d.composingFlight = 0;
    d.topsAhead = d.topCount;
    d.sentAhead |= AHEAD_QUIT;
    launchFlight(box);
  }
  sendTop(window, box);
}

// A line of the header block; the lone "." ends it. Only the count of its
// bytes goes to the trace, never a word of it.
void onTopLine(HWND window, Mailbox* box, const char* line) {
  Dialogue& d = box->dialogue;
  if (isLoneDot(line)) {
    // The block as received, its overlong lines whole; the "." that ends
    // it is none of it.
    DWORD bytes = textBytesTaken(&box->connection) - d.topStart - ((DWORD)strlen(line) + 1);
    int fits = !d.topTooLong && bytes <= HEADER_BLOCK_BYTES;
    traceLine("header bytes: %u", (unsigned)bytes);
    if (fits) {
      HeaderFields fields;
      readHeaders(d.headerBlock, d.headerLength, &fields);
      addPreview(&box->previews, fields.sender, fields.subject);
      memset(&fields, 0, sizeof fields);
    }
    memset(d.headerBlock, 0, d.headerLength);
    d.headerLength = 0;
    d.topAt++;
    return sendTop(window, box);
  }
  if (line[0] == '.') line++;
  size_t length = strlen(line);
  if (length > 0 && line[length - 1] == '\r') length--;
  if (d.headerLength + length + 1 > HEADER_BLOCK_BYTES) {
    d.topTooLong = 1;
    return;
  }
  memcpy(d.headerBlock + d.headerLength, line, length);
  d.headerBlock[d.headerLength + length] = '\n';
  d.headerLength += length + 1;
}

// After the last UID: the comparison, the headers of new mail when they
// are wanted, then QUIT and the announcement.
void finishCounting(HWND window, Mailbox* box) {
  setNewCount(box, countNewUids(box));
  reportListing(box);
  box->dialogue.counted = 1;
  dropPreviews(&box->previews);
  if (wantsPreviews(box) && box->counts.newCount > 0) return askForHeaders(window, box);
  announce(window, box);
}

void onUidlReply(HWND window, Mailbox* box, const char* line) {
  // "+OK number uid": a reply without its UID stores an empty one.
  const char* uid = skipField(skipField(line));
  size_t length = 0;
  while (uid[length] != '\0' && !isBlank(uid[length])) length++;
  Dialogue& d = box->dialogue;
  storeUid(box->currentUids[d.uidlIndex - firstWalkedMessage(box)], uid, length);

  if (d.uidlIndex < box->counts.messageCount) {
    d.uidlIndex++;
    sendUidl(box);
    return;
  }
  finishCounting(window, box);
}

// "number uid" up to the line holding a single "."; a line that starts
// with "." has it doubled (RFC 1939's byte-stuffing). A line without a
// number names no message; one without a UID stores an empty one, as the
// walk does.
void onListingLine(HWND window, Mailbox* box, const char* line) {
  if (line[0] == '.') {
    if (isLoneDot(line)) {
      DWORD listed = finishListing(box);
      traceLine("reply %u UIDs listed", (unsigned)listed);
      setMessageCount(box, listed);
      // A mailbox emptied since STAT is compared with nothing, as an
      // empty one is: the known list stays.
      if (box->counts.messageCount != 0) return finishCounting(window, box);
      return announce(window, box);
    }
    line++;
  }
  DWORD number;
  if (!readCount(line, &number)) return;
  const char* uid = skipField(line);
  size_t length = 0;
  while (uid[length] != '\0' && !isBlank(uid[length])) length++;
  keepListedUid(box, number, uid, length);
}

// A line that comes, after a flight was ended early, before the reply to
// its QUIT: 1 when it is passed over.
int passOverLeftReply(Mailbox* box, const char* line, int positive) {
  Dialogue& d = box->dialogue;
  if (d.passingListing) {
    if (isLoneDot(line)) d.passingListing = 0;
    return 1;
  }
  if (d.repliesToPassOver == 0) return 0;
  d.repliesToPassOver--;
  d.passingListing = d.repliesToPassOver == 0 && d.listingToPassOver && positive;
  return 1;
}

// Text for the trace with every form of the password (as typed, as sent)
// and the APOP digest masked, cut to the size.
void maskSecrets(const Mailbox* box, const char* text, size_t length, char* out, size_t size) {
  const WireText wire = onTheWire(box->account->password);
  const char* secrets[] = {box->account->password, wire.text, box->dialogue.digest};
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
void traceReply(const Mailbox* box, const char* line) {
  if (!tracing()) return;
  size_t length = strlen(line);
  switch (box->dialogue.state) {
    case ReadCapaList:
    case AwaitListingLine:
    case AwaitTopLine:
    case Idle: return;
    case AwaitGreeting:
    case AwaitStlsReply:
    case AwaitCapaReply: break;
    default: {
      if (box->dialogue.passingListing) return;
      length = strcspn(line, " \t\r");
      const char* code = skipField(line);
      size_t codeLength = code[0] == '[' ? strcspn(code, "]") : 0;
      if (code[0] == '[' && code[codeLength] == ']')
        length = (size_t)(code - line) + codeLength + 1;
    }
  }
  char traced[LINE_BUFFER_BYTES];
  maskSecrets(box, line, length, traced, sizeof traced);
  traceLine("reply %s", traced);
}

void dispatchReply(HWND window, Mailbox* box, const char* line) {
  Dialogue& d = box->dialogue;
  int positive = line[0] != '-';
  traceReply(box, line);
  switch (d.state) {
    case AwaitGreeting:
      if (!positive) return refuse(window, box, line, TEXT_REFUSED);
      // APOP takes the timestamp of this greeting, even after STLS.
      // (byte for byte: the digest is made of its very bytes).
      memcpy(d.greeting, line, strnlen(line, sizeof d.greeting - 1) + 1);
      if (box->account->connectionSecurity == SECURITY_STLS) return sendStls(box);
      return askCapaOrLogIn(window, box);
    case AwaitStlsReply:
      if (!positive) return refuse(window, box, line, TEXT_NO_STLS);
      return upgradeToTls(window, &box->connection);
    case AwaitCapaReply:
      // A server without CAPA announces nothing, LOGIN-DELAY included.
      noteLoginDelay(box, 0);
      d.serverPipelines = 0;
      d.serverListsUids = 0;
      if (!positive) {
        forgetCapabilities(box);
        return sendLogin(window, box);
      }
      return setSessionState(box, ReadCapaList);
    case ReadCapaList:
      if (isLoneDot(line)) {
        keepCapabilities(box);
        return sendLogin(window, box);
      }
      return readCapability(box, line);
    case AwaitUserReply:
      if (!positive) return refuse(window, box, line, TEXT_BAD_LOGIN);
      sendPass(box);
      return showProgress(window, box, "パスワードを認証中...");
    case AwaitPassReply:
      if (!positive) return refuse(window, box, line, TEXT_BAD_LOGIN);
      noteLogin(box);
      sendStat(box);
      return showProgress(window, box, "メールの数を取得中...");
    case AwaitStatReply:
      if (!positive) return refuse(window, box, line, TEXT_NO_STAT);
      return onStatReply(window, box, line);
    case AwaitUidlReply:
      if (!positive) return refuse(window, box, line, TEXT_NO_UIDL);
      return onUidlReply(window, box, line);
    case AwaitListingReply:
      // A server without the listing form is walked as before; in a
      // flight (the server said it has UIDL) its QUIT is on its way
      // already, and the session ends.
      if (!positive && (d.sentAhead & AHEAD_QUIT)) return refuse(window, box, line, TEXT_NO_UIDL);
      if (!positive) {
        forgetCapabilities(box);
        return sendFirstUidl(box);
      }
      beginListing(box);
      return setSessionState(box, AwaitListingLine);
    case AwaitListingLine: return onListingLine(window, box, line);
    case AwaitTopReply:
      // TOP is optional (RFC 1939): a refusal costs only this preview.
      if (!positive) {
        d.topAt++;
        return sendTop(window, box);
      }
      d.topStart = textBytesTaken(&box->connection);
      d.topTooLong = 0;
      d.headerLength = 0;
      return setSessionState(box, AwaitTopLine);
    case AwaitTopLine: return onTopLine(window, box, line);
    case AwaitQuitReply:
      if (passOverLeftReply(box, line, positive)) return;
      if (positive) return endCheck(window, box, {SessionOver, NULL, NULL});
      // A code in the refusal of QUIT changes nothing: the check's result
      // is out. A server that refuses it again is left.
      forgetCapabilities(box);
      if (d.quitRefusals++ < QUIT_REFUSALS_TOLERATED)
        sendQuit(window, box);
      else
        setSessionState(box, Idle);
      return endCheck(window, box, {Failed, TEXT_NO_QUIT, NULL});
    case Idle: return;  // left over behind the answer to QUIT
  }
}

// The protocol's side of the connection and of the check cycle.

void onLine(HWND window, void* owner, const char* line) {
  dispatchReply(window, (Mailbox*)owner, line);
}

// The connection stands: the greeting is awaited (under implicit TLS it
// comes inside the channel). After STLS the channel is now encrypted, and
// what the server said before TLS is forgotten (RFC 2595).
void onOpened(HWND window, void* owner) {
  Mailbox* box = (Mailbox*)owner;
  if (box->dialogue.state == Idle) return setSessionState(box, AwaitGreeting);
  if (box->dialogue.state == AwaitStlsReply) askCapaOrLogIn(window, box);
}

// A new session's dialogue: no counts, no greeting, no flight.
void begin(Mailbox* box) {
  setMessageCount(box, 0);
  setNewCount(box, 0);
  box->dialogue.greeting[0] = '\0';
  box->dialogue.capaKept = 0;
  box->dialogue.counted = 0;
  memset(box->dialogue.digest, 0, sizeof box->dialogue.digest);
  setSessionState(box, Idle);
}

int awaitsGoodbye(const Mailbox* box) { return box->dialogue.state == AwaitQuitReply; }

// A session that ended before its result leaves nothing of what its CAPA
// said: the server may not be what it claimed.
void rest(Mailbox* box) {
  if (box->dialogue.state != Idle && box->dialogue.state != AwaitQuitReply) forgetCapabilities(box);
  setSessionState(box, Idle);
}

int announceCountOnFailure(HWND window, Mailbox* box) {
  Dialogue& d = box->dialogue;
  if (!d.counted || (d.state != AwaitTopReply && d.state != AwaitTopLine)) return 0;
  dropPreviews(&box->previews);
  memset(d.headerBlock, 0, d.headerLength);
  d.headerLength = 0;
  rememberCount(box);
  endCheck(window, box, {Announced, NULL, NULL});
  return 1;
}

// Every POP3 session ends with its check: none is held open.
int holdsSession(const Mailbox*) { return 0; }
void checkAgain(HWND, Mailbox*) {}
void farewell(Mailbox*) {}

}  // namespace

const Protocol pop3Protocol = {begin,
                               awaitsGoodbye,
                               rest,
                               onOpened,
                               onLine,
                               announceCountOnFailure,
                               NULL,
                               holdsSession,
                               checkAgain,
                               farewell,
                               "POP3サーバに接続中..."};
