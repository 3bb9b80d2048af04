// The IMAP dialogue. Every command carries its tag ("a1", "a2"...) and the
// state names the one whose end it awaits; an end with another tag is the
// answer to a command sent ahead that no longer matters, and is passed
// over. Untagged answers carry the news (capabilities, EXISTS, the
// mailbox's numbers, FETCH) whatever the state. Answers are read by the
// IMAP reader from the bytes as they come, literals by their count.
//
// A check: greeting, CAPABILITY unless the greeting told them, STARTTLS,
// then LOGIN, EXAMINE INBOX, UID FETCH * (UID) and UID SEARCH UID n:*
// UNSEEN in one send (RFC 3501 lets a client send commands without
// waiting), where n is the UIDNEXT of the last announced check; then the
// header fields of the newest new messages, the announcement, and IDLE or
// LOGOUT. A server that refuses SEARCH is asked UID FETCH n:* (UID FLAGS).
#include "check/imap.h"

#include <stdio.h>
#include <string.h>

#include "base/appstate.h"
#include "base/text.h"
#include "base/trace.h"
#include "check/check.h"
#include "check/headers.h"
#include "check/imapreader.h"
#include "check/knownuids.h"
#include "check/schedule.h"
#include "net/connection.h"
#include "settings/settings.h"
#include "tray/notify.h"
#include "tray/previews.h"
#include "tray/trayicon.h"

namespace {

const char TEXT_REFUSED[] = "サーバに接続を拒否されました.";
const char TEXT_BAD_LOGIN[] = "ユーザーIDまたはパスワードが違います.";
const char TEXT_NO_STARTTLS[] = "サーバがSTARTTLSに対応していないにゃ.";
const char TEXT_NO_LOGIN[] = "サーバがユーザーIDとパスワードでのログインを受け付けないにゃ.";
const char TEXT_NO_INBOX[] = "受信箱を開けなかったにゃ.";
const char TEXT_NO_FETCH[] = "メールの一覧をもらえなかったにゃ.";
const char TEXT_BYE[] = "サーバが接続を切ったにゃ.またすぐ確かめるにゃ.";
const char TEXT_UNAVAILABLE[] = "サーバが一時的な障害中にゃ.あとでまた確かめるにゃ.";
const char TEXT_IN_USE[] = "ほかのメールソフトがメールボックスを使用中にゃ.";
const char TEXT_LOGIN_REFUSED[] = "サーバがログインを断ったにゃ.";
// The server's own words, cleaned as a preview is.
const char TEXT_SERVER_SAYS[] = "サーバいわく「%s」にゃ.";
// A server whose every session brings a new UIDVALIDITY: no UID it
// told before means anything, and mail that came between sessions
// cannot be told from old.
const char TEXT_RENUMBERED[] = "サーバが毎回メールの番号を付け直すにゃ";
// Checks in a row with a new UIDVALIDITY that make it the server's habit.
const DWORD RENUMBERED_HABIT = 2;
const char TEXT_AUTHENTICATING_USER[] = "ユーザーIDを認証中...";
const char TEXT_COUNTING[] = "メールの数を取得中...";

const char HEADER_ITEMS[] = "(BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)])";

void setState(Mailbox* box, ImapState state) {
  static const char* const names[] = {
      "Resting",     "AwaitGreeting", "AwaitCapability", "AwaitStartTls", "AwaitLiteralGo",
      "AwaitAuthGo", "AwaitLogin",    "AwaitExamine",    "AwaitFlags",    "AwaitHeaders",
      "AwaitIdleGo", "Idling",        "AwaitDone",       "AwaitNoop",     "AwaitLogout",
      "AwaitStatus", "AwaitSearch"};
  ImapDialogue& d = box->imap;
  if (state != d.imapState) traceLine("imap %s -> %s", names[d.imapState], names[state]);
  d.imapState = state;
}

// Commands collect in one buffer and leave in one send; a command that
// holds a secret is traced by its name alone. Returns the command's tag.
DWORD queueCommand(Mailbox* box, const char* text, const char* traced = NULL) {
  ImapDialogue& d = box->imap;
  DWORD tag = d.nextTag++;
  size_t used = strlen(d.command);
  int written =
      snprintf(d.command + used, sizeof d.command - used, "a%u %s\r\n", (unsigned)tag, text);
  // Nothing cut short ever goes: the server would take its rest for a
  // command of its own.
  if (written < 0 || (size_t)written >= sizeof d.command - used) d.command[used] = '\0';
  traceLine("sent a%u %s", (unsigned)tag, traced != NULL ? traced : text);
  return tag;
}

void sendQueued(Mailbox* box) {
  ImapDialogue& d = box->imap;
  size_t length = strlen(d.command);
  if (length > 0) sendText(&box->connection, d.command, (int)length);
  memset(d.command, 0, sizeof d.command);
}

void await(Mailbox* box, ImapState state, DWORD tag) {
  box->imap.awaitedTag = tag;
  setState(box, state);
}

// Capabilities as a greeting, a CAPABILITY or a login told them: each
// list replaces what an earlier one said.
void takeCapabilities(Mailbox* box, const char* list, size_t length) {
  ImapDialogue& d = box->imap;
  d.capabilitiesKnown = 1;
  d.offersIdle = hasImapAtom(list, length, "IDLE");
  d.offersStartTls = hasImapAtom(list, length, "STARTTLS");
  d.loginDisabled = hasImapAtom(list, length, "LOGINDISABLED");
  d.offersPlain = hasImapAtom(list, length, "AUTH=PLAIN");
  d.literalPlus = hasImapAtom(list, length, "LITERAL+");
  d.initialResponse = hasImapAtom(list, length, "SASL-IR");
  d.offersEsearch = hasImapAtom(list, length, "ESEARCH");
}

void forgetCapabilities(Mailbox* box) {
  ImapDialogue& d = box->imap;
  d.capabilitiesKnown = 0;
  d.offersIdle = 0;
  d.offersStartTls = 0;
  d.loginDisabled = 0;
  d.offersPlain = 0;
  d.literalPlus = 0;
  d.initialResponse = 0;
  d.offersEsearch = 0;
}

int hasCode(const ImapResponse& r, const char* code) {
  return r.code != NULL && hasImapAtom(r.code, strcspn(r.code, " ]"), code);
}

void sendLogout(HWND window, Mailbox* box) {
  await(box, ImapAwaitLogout, queueCommand(box, "LOGOUT"));
  sendQueued(box);
  awaitQuitReply(window, box);
}

// A refusal ends the session politely, with LOGOUT, and is shown; a
// session meant to be encrypted whose channel is not open, or a server
// that said BYE, ends without a word. UNAVAILABLE and INUSE (RFC 5530)
// pass by themselves.
void refuse(HWND window, Mailbox* box, const ImapResponse* r, const char* text) {
  const char* temporary = r == NULL                    ? NULL
                          : hasCode(*r, "UNAVAILABLE") ? TEXT_UNAVAILABLE
                          : hasCode(*r, "INUSE")       ? TEXT_IN_USE
                                                       : NULL;
  // A server that said BYE is leaving: it is told nothing more.
  int leaving = r != NULL && r->kind == ImapUntagged && r->status == ImapBye;
  if (canSendText(&box->connection) && !leaving) sendLogout(window, box);
  if (temporary != NULL) return endCheck(window, box, {FailedForNow, temporary, temporary});
  endCheck(window, box, {Failed, text, NULL});
}

// A refused login is a wrong password where the server says so
// (AUTHENTICATIONFAILED) or gives no reason (a bare NO); otherwise the
// server's own words are shown (an ALERT must be), or that it refused.
void refuseLogin(HWND window, Mailbox* box, const ImapResponse& r) {
  if ((r.status == ImapNo && r.code == NULL) || hasCode(r, "AUTHENTICATIONFAILED"))
    return refuse(window, box, &r, TEXT_BAD_LOGIN);
  char said[PREVIEW_TEXT_BYTES];
  cleanText(r.rest, said, sizeof said);
  char text[PREVIEW_TEXT_BYTES + sizeof TEXT_SERVER_SAYS];
  snprintf(text, sizeof text, TEXT_SERVER_SAYS, said);
  refuse(window, box, &r, said[0] != '\0' ? text : TEXT_LOGIN_REFUSED);
}

// "\0user\0password" in base64, the answer of AUTHENTICATE PLAIN.
void plainResponse(const char* user, const char* password, char* out, size_t size) {
  unsigned char raw[2 * SHORT_TEXT_BYTES + 2];
  size_t userLength = strlen(user), passwordLength = strlen(password);
  size_t length = 0;
  raw[length++] = 0;
  memcpy(raw + length, user, userLength);
  length += userLength;
  raw[length++] = 0;
  memcpy(raw + length, password, passwordLength);
  length += passwordLength;
  static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  size_t at = 0;
  for (size_t i = 0; i < length && at + 5 < size; i += 3) {
    unsigned long bits = (unsigned long)raw[i] << 16;
    if (i + 1 < length) bits |= (unsigned long)raw[i + 1] << 8;
    if (i + 2 < length) bits |= raw[i + 2];
    out[at++] = digits[(bits >> 18) & 63];
    out[at++] = digits[(bits >> 12) & 63];
    out[at++] = i + 1 < length ? digits[(bits >> 6) & 63] : '=';
    out[at++] = i + 2 < length ? digits[bits & 63] : '=';
  }
  out[at] = '\0';
  memset(raw, 0, sizeof raw);
}

void sendAfterLogin(Mailbox* box);

// One argument of LOGIN: a quoted string, or a literal where a quoted
// string cannot hold the text (a byte outside ASCII). A literal goes at
// once where the server takes LITERAL+ (RFC 7888); `waits` allows the
// last argument a literal that waits for the server's "+", its bytes kept
// in `pending` until then. 0 when the argument cannot go.
int appendArgument(Mailbox* box, char* command, size_t size, const char* value, int waits) {
  ImapDialogue& d = box->imap;
  size_t used = strlen(command);
  if (quoteImapString(value, command + used, size - used)) return 1;
  size_t length = strlen(value);
  if (d.literalPlus) {
    int written = snprintf(command + used, size - used, "{%u+}\r\n%s", (unsigned)length, value);
    return written > 0 && (size_t)written < size - used;
  }
  if (!waits || length >= sizeof d.pending) return 0;
  snprintf(command + used, size - used, "{%u}", (unsigned)length);
  memcpy(d.pending, value, length + 1);
  d.pendingLength = (DWORD)length;
  return 1;
}

// AUTHENTICATE PLAIN, with its answer in the command where the server
// takes an initial response (SASL-IR), else after its "+".
void sendAuthenticate(Mailbox* box) {
  ImapDialogue& d = box->imap;
  const Account* s = box->account;
  char response[4 * SHORT_TEXT_BYTES + 8];
  plainResponse(s->userId, s->password, response, sizeof response);
  if (d.initialResponse) {
    char command[sizeof response + 24];
    snprintf(command, sizeof command, "AUTHENTICATE PLAIN %s", response);
    await(box, ImapAwaitLogin, queueCommand(box, command, "AUTHENTICATE PLAIN ********"));
    memset(command, 0, sizeof command);
  } else {
    snprintf(d.pending, sizeof d.pending, "%s", response);
    d.pendingLength = (DWORD)strlen(d.pending);
    await(box, ImapAwaitAuthenticateGo, queueCommand(box, "AUTHENTICATE PLAIN"));
  }
  memset(response, 0, sizeof response);
  sendQueued(box);
}

// LOGIN, with EXAMINE and the fetch behind it in the same send unless the
// password's literal waits for the server. Where LOGIN is disabled, or a
// user ID only a literal could carry would have to wait too, PLAIN.
void sendLogin(HWND window, Mailbox* box) {
  ImapDialogue& d = box->imap;
  const Account* s = box->account;
  showProgress(window, box, TEXT_AUTHENTICATING_USER);
  char command[IMAP_COMMAND_BYTES] = "LOGIN ";
  d.pendingLength = 0;
  int fits = !d.loginDisabled && appendArgument(box, command, sizeof command, s->userId, 0);
  if (fits) strcat(command, " ");
  fits = fits && appendArgument(box, command, sizeof command, s->password, 1);
  if (!fits) {
    memset(command, 0, sizeof command);
    memset(d.pending, 0, sizeof d.pending);
    d.pendingLength = 0;
    if (!d.offersPlain) return refuse(window, box, NULL, TEXT_NO_LOGIN);
    return sendAuthenticate(box);
  }
  DWORD tag = queueCommand(box, command, "LOGIN ********");
  memset(command, 0, sizeof command);
  if (d.pendingLength > 0) {
    await(box, ImapAwaitLiteralGo, tag);
    return sendQueued(box);
  }
  await(box, ImapAwaitLogin, tag);
  sendAfterLogin(box);
}

// The count from the mark on (the first check of an account counts the
// whole inbox): the unseen UIDs that SEARCH finds, ESEARCH's set where
// previews are shown or else its count where the server offers it; from
// a server that refused SEARCH, the UIDs and flags of every message.
void queueCount(Mailbox* box) {
  ImapDialogue& d = box->imap;
  d.fetchFrom = imapMarkHolds(box) && box->known.imapNext > 0 ? box->known.imapNext : 1;
  d.searching = !d.searchRefused;
  // The messages still untold are asked after too: read or gone elsewhere?
  char untold[IMAP_COMMAND_BYTES / 2];
  size_t listed = askAfterUntoldMail(box, untold, sizeof untold);
  char command[IMAP_COMMAND_BYTES], from[24] = "";
  if (d.fetchFrom > 1) snprintf(from, sizeof from, "UID %u:* ", (unsigned)d.fetchFrom);
  const char* returned = !d.offersEsearch                  ? ""
                         : box->account->showPreviews == 1 ? "RETURN (ALL) "
                                                           : "RETURN (COUNT MAX) ";
  // The search tells only the unseen: the highest UID, which the mark
  // passes read or not, is asked first, so that nothing the search did not
  // see lies below it.
  if (d.searching && listed > 0) {
    snprintf(command, sizeof command, "UID FETCH %.*s (UID FLAGS)", (int)(listed - 1), untold);
    queueCommand(box, command);
  }
  if (d.searching) queueCommand(box, "UID FETCH * (UID)");
  if (d.searching)
    snprintf(command, sizeof command, "UID SEARCH %s%sUNSEEN", returned, from);
  else
    snprintf(command, sizeof command, "UID FETCH %.*s%u:* (UID FLAGS)", (int)listed, untold,
             (unsigned)d.fetchFrom);
  d.flagsTag = queueCommand(box, command);
  d.countEnded = ImapNoStatus;
}

void onCompletion(HWND window, Mailbox* box, const ImapResponse& r);

// The count is awaited, or taken at once where its end came early.
void awaitCount(HWND window, Mailbox* box) {
  ImapDialogue& d = box->imap;
  await(box, d.searching ? ImapAwaitSearch : ImapAwaitFlags, d.flagsTag);
  if (d.countEnded == ImapNoStatus) return;
  ImapResponse end;
  memset(&end, 0, sizeof end);
  end.kind = ImapTagged;
  end.status = d.countEnded;
  onCompletion(window, box, end);
}

void announce(HWND window, Mailbox* box);

void queueExamination(Mailbox* box) {
  box->imap.examineTag = queueCommand(box, "EXAMINE INBOX");
  queueCount(box);
}

// After the login, or sent ahead with it: the capabilities when the
// server may offer more once logged in; then EXAMINE and the UIDs and
// flags of every message from the mark on. A server without IDLE, whose
// session ends with the check, is asked STATUS first when the mark is
// known: its UIDNEXT says whether there is anything to look at.
void sendAfterLogin(Mailbox* box) {
  ImapDialogue& d = box->imap;
  if (!d.offersIdle) queueCommand(box, "CAPABILITY");
  if (!d.offersIdle && imapMarkHolds(box))
    d.statusTag = queueCommand(box, "STATUS INBOX (MESSAGES UIDNEXT UIDVALIDITY)");
  else
    queueExamination(box);
  sendQueued(box);
}

// What the login leads to: STATUS, or EXAMINE.
void awaitAfterLogin(Mailbox* box) {
  ImapDialogue& d = box->imap;
  if (d.statusTag != 0) return await(box, ImapAwaitStatus, d.statusTag);
  await(box, ImapAwaitExamine, d.examineTag);
}

// STATUS said nothing came since the mark, under the same UIDVALIDITY:
// the check is done. Otherwise, or where the server offered IDLE once
// logged in (the wait needs the inbox examined), the inbox is examined.
void onStatus(HWND window, Mailbox* box) {
  ImapDialogue& d = box->imap;
  const ImapMailboxStatus& status = d.inboxStatus;
  int unchanged = d.statusTold && status.uidValidity == box->known.imapValidity &&
                  status.uidNext == box->known.imapNext;
  if (d.offersIdle || !unchanged || holdsUntoldMail(box)) {
    queueExamination(box);
    sendQueued(box);
    return await(box, ImapAwaitExamine, d.examineTag);
  }
  d.exists = status.messages;
  d.examinedValidity = status.uidValidity;
  d.examinedNext = status.uidNext;
  d.fetchFrom = status.uidNext;
  announce(window, box);
}

// A new round of counting: nothing found yet.
void startCounting(Mailbox* box) {
  ImapDialogue& d = box->imap;
  d.validityChanged = 0;
  d.newFound = 0;
  d.newestKept = 0;
  d.highestUid = 0;
  d.highestTold = 0;
  memset(d.countedUids, 0, sizeof d.countedUids);
  d.countedKept = 0;
}

// 1 the first time a UID is counted in this round, 0 after.
int firstCounted(Mailbox* box, DWORD uid) {
  ImapDialogue& d = box->imap;
  if (d.countedKept >= IMAP_COUNTED_PLACES / 4 * 3) return 1;
  DWORD place = (uid * 2654435761u) & (IMAP_COUNTED_PLACES - 1);
  while (d.countedUids[place] != 0 && d.countedUids[place] != uid)
    place = (place + 1) & (IMAP_COUNTED_PLACES - 1);
  if (d.countedUids[place] == uid) return 0;
  d.countedUids[place] = uid;
  d.countedKept++;
  return 1;
}

// A message the fetch found. New is a UID at or above the mark without
// \Seen; the newest new ones are kept in ascending order. "n:*" answers
// with the last message even when its UID is below n: it is none of them.
// A message may be told more than once and in any order (a change of its
// flags the server tells unasked, before or among the fetch's answers):
// each is counted once.
void countFetched(Mailbox* box, const ImapFetch& fetch) {
  ImapDialogue& d = box->imap;
  if (!fetch.hasUid) return;
  if (fetch.uid > d.highestTold) d.highestTold = fetch.uid;
  if (fetch.uid < d.fetchFrom) {
    if (fetch.hasFlags) reportMessageFlags(box, fetch.uid, fetch.seen);
    return;
  }
  if (fetch.uid > d.highestUid) d.highestUid = fetch.uid;
  if (!fetch.hasFlags || fetch.seen || !firstCounted(box, fetch.uid)) return;
  d.newFound++;
  reportNewMessage(box, fetch.uid);
  DWORD at = d.newestKept;
  if (at == MOST_PREVIEWS) {
    if (fetch.uid <= d.newestUids[0]) return;
    memmove(d.newestUids, d.newestUids + 1, (MOST_PREVIEWS - 1) * sizeof d.newestUids[0]);
    at--;
  } else {
    d.newestKept++;
  }
  while (at > 0 && d.newestUids[at - 1] > fetch.uid) {
    d.newestUids[at] = d.newestUids[at - 1];
    at--;
  }
  d.newestUids[at] = fetch.uid;
}

static_assert(IMAP_NUMBERS_KEPT <= MOST_PREVIEWS, "the newest found are kept");

// The SEARCH that counts, or the ESEARCH tagged with its command: the new
// messages and the newest of them. "n:*" holds the newest message even
// when its UID is below n: found alone, it is none of them.
void countSearched(Mailbox* box, const ImapResponse& r) {
  ImapDialogue& d = box->imap;
  const ImapNumbers& found = d.reader.numbers;
  DWORD count = found.count, highest = found.kept > 0 ? found.highest[found.kept - 1] : 0;
  if (strcmp(r.name, "ESEARCH") == 0) {
    ImapSearchResult result;
    char tag[16];
    snprintf(tag, sizeof tag, "a%u", (unsigned)d.flagsTag);
    if (!readImapSearchResult(r.rest, &result) || result.tagLength != strlen(tag) ||
        memcmp(result.tag, tag, result.tagLength) != 0)
      return;
    if (result.hasCount) count = result.count;
    if (result.hasMax) highest = result.max;
  }
  if (highest > d.highestTold) d.highestTold = highest;
  if (highest < d.fetchFrom) return;
  d.newFound = count;
  if (highest > d.highestUid) d.highestUid = highest;
  d.newestKept = 0;
  for (DWORD i = 0; i < found.kept; i++)
    if (found.highest[i] >= d.fetchFrom) d.newestUids[d.newestKept++] = found.highest[i];
  if (d.newestKept == 0) reportNewMessage(box, highest);
  for (DWORD i = 0; i < d.newestKept; i++) reportNewMessage(box, d.newestUids[i]);
}

void sendIdle(HWND window, Mailbox* box);

// The check's result stands: the mark moves past every UID it saw (under
// a new UIDVALIDITY, to its UIDNEXT) and is saved when it moved, and the
// counts go to the tray.
// UIDNEXT is optional (RFC 3501 6.3.1): where the server told none, past
// the highest UID any answer told ("n:*" tells the last message's).
void keepResult(Mailbox* box) {
  ImapDialogue& d = box->imap;
  DWORD examinedNext = d.examinedNext;
  if (examinedNext == 0 && d.highestTold < 0xFFFFFFFF) examinedNext = d.highestTold + 1;
  DWORD next = d.fetchFrom;
  if (d.validityChanged || examinedNext > next) next = examinedNext;
  if (d.highestUid >= next && d.highestUid < 0xFFFFFFFF) next = d.highestUid + 1;
  int moved = !imapMarkHolds(box) || box->known.imapValidity != d.examinedValidity ||
              box->known.imapNext != next || box->known.imapAccount != imapAccountKey(box);
  rememberImapMark(box, d.examinedValidity, next);
  if (moved) saveKnownUids(box);
  setMessageCount(box, d.exists);
  setNewCount(box, d.validityChanged ? 0 : d.newFound);
}

// A server that renumbers its mail with every session makes every mark
// worthless: the tooltip's note says why no mail is told.
const char* renumberingNote(Mailbox* box) {
  if (box->known.imapRenumbered < RENUMBERED_HABIT) return NULL;
  traceLine("imap: UIDVALIDITY changed at every check: mail between sessions cannot be told");
  return TEXT_RENUMBERED;
}

// The result is out: it is kept, and the session idles or logs out.
void announce(HWND window, Mailbox* box) {
  ImapDialogue& d = box->imap;
  keepResult(box);
  d.checking = 0;
  if (d.offersIdle)
    sendIdle(window, box);
  else
    sendLogout(window, box);
  endCheck(window, box, {Announced, renumberingNote(box), NULL});
}

// The previews, newest first, of the header blocks that came; then the
// fields are wiped.
void finishHeaders(HWND window, Mailbox* box) {
  ImapDialogue& d = box->imap;
  dropPreviews(&box->previews);
  for (DWORD i = d.newestKept; i-- > 0;)
    if (d.fieldsRead[i]) addPreview(&box->previews, d.fields[i].sender, d.fields[i].subject);
  memset(d.fields, 0, sizeof d.fields);
  memset(d.fieldsRead, 0, sizeof d.fieldsRead);
  announce(window, box);
}

void onFlagsFetched(HWND window, Mailbox* box) {
  ImapDialogue& d = box->imap;
  dropPreviews(&box->previews);
  if (box->account->showPreviews != 1 || d.validityChanged || d.newestKept == 0)
    return announce(window, box);
  char command[IMAP_COMMAND_BYTES];
  size_t used = (size_t)snprintf(command, sizeof command, "UID FETCH ");
  for (DWORD i = 0; i < d.newestKept; i++)
    used += (size_t)snprintf(command + used, sizeof command - used, i > 0 ? ",%u" : "%u",
                             (unsigned)d.newestUids[i]);
  snprintf(command + used, sizeof command - used, " %s", HEADER_ITEMS);
  await(box, ImapAwaitHeaders, queueCommand(box, command));
  sendQueued(box);
}

// A header block came with its FETCH: its fields are read from the
// literal, when the literal was whole.
void onHeaderFetched(Mailbox* box, const ImapFetch& fetch) {
  ImapDialogue& d = box->imap;
  if (!fetch.hasUid || !fetch.hasHeader || d.reader.literals != 1 || d.reader.literalCut) return;
  traceLine("header bytes: %u", (unsigned)d.reader.literalLength);
  for (DWORD i = 0; i < d.newestKept; i++) {
    if (d.newestUids[i] != fetch.uid) continue;
    readHeaders(d.reader.literal, d.reader.literalLength, &d.fields[i]);
    d.fieldsRead[i] = 1;
  }
}

// The session held open: the server's news is awaited, and the timer
// watches for a server gone quiet and for the renewal.
void CALLBACK onIdleTimer(HWND window, UINT, UINT_PTR id, DWORD);

// IDLE is renewed within the server's limit, and at the user's interval
// where that is shorter: a server may tell nothing while idle, and push
// must never bring mail later than polling would.
DWORD renewalMs(const Mailbox* box) {
  DWORD interval = nextCheckDelayMs(box);
  return interval < IDLE_RENEWAL_MS ? interval : IDLE_RENEWAL_MS;
}

void armIdleTimer(HWND window, Mailbox* box) {
  ImapDialogue& d = box->imap;
  DWORD now = GetTickCount();
  DWORD renewal = renewalMs(box);
  DWORD due = renewal - (now - d.idleSince);
  if (now - d.idleSince >= renewal) due = 0;
  if (d.imapState != ImapIdling) {
    due = RESPONSE_TIMEOUT_MS;
  } else if (d.keepAliveMs > 0) {
    DWORD quiet = now - d.heardAt;
    DWORD allowed = d.keepAliveMs + KEEP_ALIVE_MARGIN_MS;
    DWORD dead = quiet >= allowed ? 0 : allowed - quiet;
    if (dead < due) due = dead;
  }
  SetTimer(window, mailboxTimer(TIMER_IDLE, box->mailboxSlot), due > 0 ? due : 1, onIdleTimer);
}

void sendIdle(HWND window, Mailbox* box) {
  box->imap.newsTold = 0;
  await(box, ImapAwaitIdleGo, queueCommand(box, "IDLE"));
  sendQueued(box);
  armIdleTimer(window, box);
}

// IDLE ends. A check after the server's news sends its count with DONE:
// the news is in, and IDLE's tagged end leads straight to the count's
// answers, a round trip sooner.
void sendDone(Mailbox* box, int withCount) {
  ImapDialogue& d = box->imap;
  traceLine("sent DONE");
  memcpy(d.command, "DONE\r\n", sizeof "DONE\r\n");
  d.countWithDone = withCount;
  if (withCount) {
    startCounting(box);
    queueCount(box);
  }
  sendQueued(box);
  setState(box, ImapAwaitDone);
}

void CALLBACK onIdleTimer(HWND window, UINT, UINT_PTR id, DWORD) {
  Mailbox* box = mailboxOfTimer(id);
  traceMailbox(mailboxSlotOfTimer(id));
  KillTimer(window, id);
  if (box == NULL || !box->protocol->holdsSession(box)) return;
  ImapDialogue& d = box->imap;
  DWORD now = GetTickCount();
  DWORD renewal = renewalMs(box);
  if (d.imapState == ImapIdling && now - d.idleSince >= renewal && renewal < IDLE_RENEWAL_MS) {
    // The interval's check, on the session: DONE, NOOP and the fetch.
    startCheck(window, box, 1);
    if (d.checking || app.windowGone || !box->protocol->holdsSession(box)) return;
    // Refused (the settings are open): the next comes an interval later.
    d.idleSince = now;
    return armIdleTimer(window, box);
  }
  if (d.imapState == ImapIdling && now - d.idleSince >= renewal) {
    // Renewed before the server's own limit: DONE, and IDLE again.
    sendDone(box, 0);
    return armIdleTimer(window, box);
  }
  if (d.imapState == ImapIdling &&
      (d.keepAliveMs == 0 || now - d.heardAt < d.keepAliveMs + KEEP_ALIVE_MARGIN_MS))
    return armIdleTimer(window, box);
  // No keep-alive in time, or no answer to IDLE or DONE: the session is
  // gone, whatever the socket says.
  traceLine("imap: no word from the server in time");
  loseHeldSession(window, box);
}

// Words of the server while idle tell how often it speaks unasked (its
// keep-alive).
void onIdleNews(HWND window, Mailbox* box, const ImapResponse& r) {
  ImapDialogue& d = box->imap;
  DWORD now = GetTickCount();
  // Only the time between two keep-alives tells their interval: the first
  // may come at any moment after IDLE began, and other news at any time.
  if (r.status == ImapOk && d.keepAliveAt != 0 && now - d.keepAliveAt > d.keepAliveMs)
    d.keepAliveMs = now - d.keepAliveAt;
  if (r.status == ImapOk) d.keepAliveAt = now;
  d.heardAt = now;
  armIdleTimer(window, box);
}

// After IDLE's end: the check that asked for it fetches, after NOOP (the
// server's chance to tell what it has not told yet) unless its count went
// with DONE; a renewal idles again.
void onIdleEnded(HWND window, Mailbox* box) {
  ImapDialogue& d = box->imap;
  if (!d.checking) return sendIdle(window, box);
  if (d.countWithDone) {
    d.countWithDone = 0;
    return awaitCount(window, box);
  }
  startCounting(box);
  DWORD noop = queueCommand(box, "NOOP");
  queueCount(box);
  await(box, ImapAwaitNoop, noop);
  sendQueued(box);
}

// An untagged answer: news of the mailbox in any state.
void onUntagged(HWND window, Mailbox* box, const ImapResponse& r) {
  ImapDialogue& d = box->imap;
  size_t length = 0;
  const char* capabilities = imapCapabilities(&r, &length);
  if (capabilities != NULL) takeCapabilities(box, capabilities, length);
  int moreMail = 0;
  int mailGoing = 0;  // expunged, or its flags changed
  if (r.numbered && strcmp(r.name, "EXISTS") == 0) {
    moreMail = r.number > d.exists;
    d.exists = r.number;
  } else if (r.numbered && strcmp(r.name, "RECENT") == 0) {
    moreMail = r.number > 0;
  } else if (r.numbered && strcmp(r.name, "EXPUNGE") == 0) {
    if (d.exists > 0) d.exists--;
    mailGoing = 1;
  } else if (r.numbered && strcmp(r.name, "FETCH") == 0) {
    ImapFetch fetch;
    if (!readImapFetch(r.rest, &fetch)) return;
    mailGoing = fetch.hasFlags && fetch.seen;
    // A server may answer commands sent together in any order but their
    // ends: the fetch's answers can come before the end of the command
    // sent ahead of it.
    int counting = d.imapState == ImapAwaitExamine || d.imapState == ImapAwaitNoop ||
                   d.imapState == ImapAwaitFlags || d.imapState == ImapAwaitSearch;
    if (counting && !d.searching) countFetched(box, fetch);
    // The answers on the untold messages, asked ahead of the search.
    if (counting && d.searching && fetch.hasUid && fetch.hasFlags && fetch.uid < d.fetchFrom)
      reportMessageFlags(box, fetch.uid, fetch.seen);
    // The answer to UID FETCH * (UID), sent ahead of the search: the
    // highest UID, which the mark passes (where no UIDNEXT was told too).
    if (counting && d.searching && fetch.hasUid && !fetch.hasFlags) {
      if (fetch.uid > d.highestTold) d.highestTold = fetch.uid;
      if (fetch.uid >= d.fetchFrom && fetch.uid > d.highestUid) d.highestUid = fetch.uid;
    }
    if (d.imapState == ImapAwaitHeaders) onHeaderFetched(box, fetch);
  } else if (strcmp(r.name, "SEARCH") == 0 || strcmp(r.name, "ESEARCH") == 0) {
    if (d.imapState == ImapAwaitExamine || d.imapState == ImapAwaitNoop ||
        d.imapState == ImapAwaitSearch)
      countSearched(box, r);
  } else if (strcmp(r.name, "STATUS") == 0) {
    d.statusTold = readImapStatus(r.rest, &d.inboxStatus);
  } else if (r.status == ImapOk) {
    imapCodeNumber(&r, "UIDVALIDITY", &d.examinedValidity);
    imapCodeNumber(&r, "UIDNEXT", &d.examinedNext);
  }
  // Mail that lands while a check fetches may come too late for its
  // fetch: a check follows as soon as the session idles. What NOOP tells
  // comes before the search sent behind it begins, which sees that mail.
  int fetching = d.imapState == ImapAwaitFlags || d.imapState == ImapAwaitHeaders ||
                 d.imapState == ImapAwaitSearch;
  if (moreMail && fetching) d.newsWaiting = 1;
  if ((moreMail || mailGoing) && box->protocol->holdsSession(box)) d.newsTold = 1;
  if (moreMail && box->protocol->holdsSession(box)) return startCheck(window, box, 1);
  if (mailGoing && reportMailGoing(window, box)) return;
  if (d.imapState == ImapIdling) onIdleNews(window, box, r);
}

// The greeting: OK to log in, PREAUTH logged in already, BYE not now.
void onGreeting(HWND window, Mailbox* box, const ImapResponse& r) {
  ImapDialogue& d = box->imap;
  int upgrade = box->account->connectionSecurity == SECURITY_STLS;
  if (r.kind != ImapUntagged || (r.status != ImapOk && r.status != ImapPreauth))
    return refuse(window, box, &r, TEXT_REFUSED);
  // Logged in before STARTTLS could be asked: the channel cannot be
  // secured any more, and nothing goes in clear.
  if (r.status == ImapPreauth && upgrade) return refuse(window, box, &r, TEXT_NO_STARTTLS);
  if (r.status == ImapPreauth) {
    noteLogin(box);
    sendAfterLogin(box);
    return awaitAfterLogin(box);
  }
  if (upgrade) {
    if (d.capabilitiesKnown && !d.offersStartTls) return refuse(window, box, &r, TEXT_NO_STARTTLS);
    DWORD tag = d.nextTag++;
    char command[32];
    snprintf(command, sizeof command, "a%u STARTTLS\r\n", (unsigned)tag);
    traceLine("sent a%u STARTTLS", (unsigned)tag);
    sendUpgradeRequest(&box->connection, command, (int)strlen(command));
    return await(box, ImapAwaitStartTls, tag);
  }
  if (!d.capabilitiesKnown) {
    await(box, ImapAwaitCapability, queueCommand(box, "CAPABILITY"));
    return sendQueued(box);
  }
  sendLogin(window, box);
}

// The end of the command the state awaits.
void onCompletion(HWND window, Mailbox* box, const ImapResponse& r) {
  ImapDialogue& d = box->imap;
  int ok = r.status == ImapOk;
  switch (d.imapState) {
    case ImapAwaitCapability: return sendLogin(window, box);
    case ImapAwaitStartTls:
      if (!ok) return refuse(window, box, &r, TEXT_NO_STARTTLS);
      d.turningToTls = 1;
      return upgradeToTls(window, &box->connection);
    case ImapAwaitLiteralGo:
    case ImapAwaitAuthenticateGo:
    case ImapAwaitLogin:
      if (!ok) return refuseLogin(window, box, r);
      noteLogin(box);
      showProgress(window, box, TEXT_COUNTING);
      // A login sent alone (a literal waited, or AUTHENTICATE): the rest
      // follows now.
      if (d.examineTag == 0 && d.statusTag == 0) sendAfterLogin(box);
      return awaitAfterLogin(box);
    case ImapAwaitStatus:
      // A server that refuses STATUS on the inbox is examined all the same.
      d.statusTold = d.statusTold && ok;
      return onStatus(window, box);
    case ImapAwaitExamine:
      if (!ok) return refuse(window, box, &r, TEXT_NO_INBOX);
      d.validityChanged = imapMarkHolds(box) && box->known.imapValidity != d.examinedValidity;
      return awaitCount(window, box);
    case ImapAwaitSearch:
      if (ok) return onFlagsFetched(window, box);
      // A server that refuses SEARCH is asked for the flags of every
      // message from the mark on, for the rest of the session.
      d.searchRefused = 1;
      queueCount(box);
      sendQueued(box);
      return awaitCount(window, box);
    case ImapAwaitFlags:
      // "n:*" names the last message: a server may refuse it where the
      // mailbox has none, which is an empty mailbox all the same.
      if (!ok && d.exists > 0) return refuse(window, box, &r, TEXT_NO_FETCH);
      return onFlagsFetched(window, box);
    case ImapAwaitHeaders:
      // The previews are worth no failure: what came is shown.
      return finishHeaders(window, box);
    case ImapAwaitIdleGo:
      // IDLE refused after all: the session ends, and the interval
      // checks from now on.
      d.offersIdle = 0;
      return sendLogout(window, box);
    case ImapIdling:
      // A server that ends IDLE by itself (outside RFC 2177, but seen) is
      // sent IDLE again; one that ends it at once would be sent it without
      // end, and is checked at the interval instead.
      KillTimer(window, mailboxTimer(TIMER_IDLE, box->mailboxSlot));
      if (ok && GetTickCount() - d.idleSince >= FIRST_RETRY_MS) return sendIdle(window, box);
      traceLine("imap: the server ended IDLE");
      d.offersIdle = 0;
      return sendLogout(window, box);
    case ImapAwaitDone: return onIdleEnded(window, box);
    case ImapAwaitNoop: return awaitCount(window, box);
    case ImapAwaitLogout: return endCheck(window, box, {SessionOver, NULL, NULL});
    default: return;
  }
}

// The server's "+": the literal of the login, PLAIN's answer, or IDLE
// begun.
void onContinuation(HWND window, Mailbox* box) {
  ImapDialogue& d = box->imap;
  if (d.imapState == ImapAwaitLiteralGo || d.imapState == ImapAwaitAuthenticateGo) {
    char text[IMAP_COMMAND_BYTES + 2];
    int length = snprintf(text, sizeof text, "%s\r\n", d.pending);
    sendText(&box->connection, text, length);
    memset(text, 0, sizeof text);
    memset(d.pending, 0, sizeof d.pending);
    d.pendingLength = 0;
    return setState(box, ImapAwaitLogin);
  }
  if (d.imapState != ImapAwaitIdleGo) return;
  setState(box, ImapIdling);
  d.idleSince = GetTickCount();
  d.heardAt = d.idleSince;
  d.keepAliveAt = 0;
  // A check asked for while IDLE was on its way ends it at once; so does
  // mail that landed while the last check fetched.
  if (d.checking) return sendDone(box, d.newsTold);
  if (d.newsWaiting) {
    d.newsWaiting = 0;
    d.newsTold = 1;
    return startCheck(window, box, 1);
  }
  armIdleTimer(window, box);
}

// A search's answer is traced as its count, never its UIDs.
DWORD searchCount(const Mailbox* box, const ImapResponse& r) {
  ImapSearchResult result;
  if (strcmp(r.name, "ESEARCH") == 0 && readImapSearchResult(r.rest, &result) && result.hasCount)
    return result.count;
  return box->imap.reader.numbers.count;
}

// Before the login the server's words go to the trace whole; from the
// login on only what a response is (its tag, status, number, name and
// code), never its text, where a server may echo what it was sent. The
// fetch of the flags, a line per message, is traced as its number of
// answers, and a SEARCH as its number of UIDs.
void traceResponse(Mailbox* box, const ImapResponse& r, const char* text) {
  if (!tracing()) return;
  ImapDialogue& d = box->imap;
  ImapState state = d.imapState;
  int listing = state == ImapAwaitExamine || state == ImapAwaitNoop || state == ImapAwaitFlags;
  if (listing && r.kind == ImapUntagged && r.numbered && strcmp(r.name, "FETCH") == 0) {
    d.fetchesUntraced++;
    return;
  }
  if (d.fetchesUntraced > 0) traceLine("reply %u FETCH answers", (unsigned)d.fetchesUntraced);
  d.fetchesUntraced = 0;
  if (state == ImapAwaitGreeting || state == ImapAwaitCapability || state == ImapAwaitStartTls) {
    char cut[200];
    copyWholeCharacters(cut, sizeof cut, text);
    return traceLine("reply %s", cut);
  }
  char code[64] = "";
  if (r.code != NULL) snprintf(code, sizeof code, " [%.*s]", (int)strcspn(r.code, "]"), r.code);
  if (r.kind == ImapTagged)
    traceLine("reply %.*s %s%s", (int)r.tagLength, r.tag, r.name, code);
  else if (r.kind == ImapContinuation)
    traceLine("reply +");
  else if (r.numbered)
    traceLine("reply * %u %s", (unsigned)r.number, r.name);
  else if (strcmp(r.name, "SEARCH") == 0 || strcmp(r.name, "ESEARCH") == 0)
    traceLine("reply * %s: %u found", r.name, (unsigned)searchCount(box, r));
  else
    traceLine("reply * %s%s", r.name, code);
}

void onResponse(HWND window, Mailbox* box) {
  ImapDialogue& d = box->imap;
  ImapResponse r;
  int readable = readImapResponse(d.reader.text, &r);
  if (d.imapState == ImapResting) return;
  if (!readable) {
    if (d.imapState == ImapAwaitGreeting) return refuse(window, box, NULL, TEXT_REFUSED);
    return traceLine("reply (unreadable)");
  }
  traceResponse(box, r, d.reader.text);
  if (d.imapState == ImapAwaitGreeting) {
    size_t length = 0;
    const char* capabilities = imapCapabilities(&r, &length);
    if (capabilities != NULL) takeCapabilities(box, capabilities, length);
    return onGreeting(window, box, r);
  }
  if (r.kind == ImapContinuation) return onContinuation(window, box);
  if (r.kind == ImapUntagged && r.status == ImapBye) {
    if (d.imapState == ImapAwaitLogout) return;
    // The server leaves: a held session is taken up again, and a check
    // under way ends as one that may pass by itself, its count announced
    // if it was made.
    if (box->protocol->holdsSession(box)) return loseHeldSession(window, box);
    if (box->protocol->announceCountOnFailure(window, box)) return;
    return endCheck(window, box, {FailedForNow, TEXT_BYE, TEXT_BYE});
  }
  if (r.kind == ImapUntagged) return onUntagged(window, box, r);
  // Capabilities an end tells are taken, whatever it ends: a login's OK
  // may tell what the server offers once logged in (ESEARCH).
  size_t length = 0;
  const char* capabilities = imapCapabilities(&r, &length);
  if (capabilities != NULL) takeCapabilities(box, capabilities, length);
  char tag[16];
  snprintf(tag, sizeof tag, "a%u", (unsigned)d.awaitedTag);
  if (isImapTag(&r, tag)) return onCompletion(window, box, r);
  // The end of a command sent ahead: the count's, kept until its turn; a
  // CAPABILITY, or one whose step the session never reached, passed over.
  snprintf(tag, sizeof tag, "a%u", (unsigned)d.flagsTag);
  if (d.flagsTag != 0 && isImapTag(&r, tag)) d.countEnded = r.status;
}

// The connection's bytes: whole responses, read one at a time. After
// STARTTLS's OK nothing more is read in clear: whatever came with it is
// dropped, and the reader starts afresh inside the channel.
void onBytes(HWND window, void* owner, const char* bytes, DWORD length) {
  Mailbox* box = (Mailbox*)owner;
  ImapDialogue& d = box->imap;
  while (length > 0) {
    DWORD taken = readImapBytes(&d.reader, bytes, length);
    bytes += taken;
    length -= taken;
    if (!d.reader.complete) return;
    noteWholeAnswer(&box->connection);
    onResponse(window, box);
    nextImapResponse(&d.reader);
    if (app.windowGone || !connectionUnderWay(&box->connection) || d.turningToTls) return;
  }
}

void onOpened(HWND, void* owner) {
  Mailbox* box = (Mailbox*)owner;
  ImapDialogue& d = box->imap;
  if (d.imapState == ImapResting) return setState(box, ImapAwaitGreeting);
  if (d.imapState != ImapAwaitStartTls || !d.turningToTls) return;
  // Inside the channel what the server said before counts for nothing.
  d.turningToTls = 0;
  startImapReader(&d.reader);
  forgetCapabilities(box);
  await(box, ImapAwaitCapability, queueCommand(box, "CAPABILITY"));
  sendQueued(box);
}

// A protocol of bytes gets no lines.
void onLine(HWND, void*, const char*) {}

void begin(Mailbox* box) {
  ImapDialogue& d = box->imap;
  memset(&d, 0, sizeof d);
  d.nextTag = 1;
  startImapReader(&d.reader);
  setState(box, ImapResting);
}

int awaitsGoodbye(const Mailbox* box) { return box->imap.imapState == ImapAwaitLogout; }

void rest(Mailbox* box) {
  ImapDialogue& d = box->imap;
  memset(d.pending, 0, sizeof d.pending);
  d.pendingLength = 0;
  memset(d.fields, 0, sizeof d.fields);
  d.checking = 0;
  d.turningToTls = 0;
  startImapReader(&d.reader);
  setState(box, ImapResting);
}

// The headers were being read when the check failed: the count stands.
int announceCountOnFailure(HWND window, Mailbox* box) {
  ImapDialogue& d = box->imap;
  if (d.imapState != ImapAwaitHeaders) return 0;
  memset(d.fields, 0, sizeof d.fields);
  memset(d.fieldsRead, 0, sizeof d.fieldsRead);
  dropPreviews(&box->previews);
  setState(box, ImapResting);
  keepResult(box);
  endCheck(window, box, {Announced, NULL, NULL});
  return 1;
}

int holdsSession(const Mailbox* box) {
  const ImapDialogue& d = box->imap;
  return !d.checking && (d.imapState == ImapAwaitIdleGo || d.imapState == ImapIdling ||
                         d.imapState == ImapAwaitDone);
}

void checkAgain(HWND window, Mailbox* box) {
  ImapDialogue& d = box->imap;
  KillTimer(window, mailboxTimer(TIMER_IDLE, box->mailboxSlot));
  d.checking = 1;
  if (d.imapState == ImapIdling) sendDone(box, d.newsTold);
  // IDLE on its way ends once it has begun; a DONE on its way already
  // leads to the fetch.
}

void farewell(Mailbox* box) {
  ImapDialogue& d = box->imap;
  if (d.imapState == ImapIdling) sendDone(box, 0);
  queueCommand(box, "LOGOUT");
  sendQueued(box);
  setState(box, ImapAwaitLogout);
}

}  // namespace

const Protocol imapProtocol = {begin,
                               awaitsGoodbye,
                               rest,
                               onOpened,
                               onLine,
                               announceCountOnFailure,
                               onBytes,
                               holdsSession,
                               checkAgain,
                               farewell,
                               "IMAPサーバに接続中..."};
