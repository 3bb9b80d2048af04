// The four pages of the settings sheet. Each fills its controls from the
// settings when first shown and stores them back on OK; Cancel stores
// nothing. A page never shown neither loads nor stores.
#include "sheet/pages.h"

#include <stdio.h>
#include <string.h>

#include "base/appstate.h"
#include "base/text.h"
#include "resources/ids.h"
#include "settings/settings.h"
#include "sheet/helptip.h"
#include "sheet/logon.h"

namespace {

// Context help, ended by (0, 0). A control's topic is its own id; a spin
// button shares its box's topic.
struct HelpTopic {
  DWORD control;
  DWORD topic;
};

const HelpTopic basicPageHelp[] = {
    {IDC_SERVER_HOST, IDC_SERVER_HOST},
    {IDC_USER_ID, IDC_USER_ID},
    {IDC_PASSWORD, IDC_PASSWORD},
    {IDC_PORT, IDC_PORT},
    {IDC_PORT_SPIN, IDC_PORT},
    {IDC_INTERVAL, IDC_INTERVAL},
    {IDC_INTERVAL_SPIN, IDC_INTERVAL},
    {IDC_CHECK_AT_STARTUP, IDC_CHECK_AT_STARTUP},
    {IDC_USE_APOP, IDC_USE_APOP},
    {IDC_ACCOUNT_NAME, IDC_ACCOUNT_NAME},
    {IDC_CONNECTION_SECURITY, IDC_CONNECTION_SECURITY},
    {IDC_FAST_SCAN, IDC_FAST_SCAN},
    {IDC_START_AT_LOGON, IDC_START_AT_LOGON},
    {IDC_PROTECT_PASSWORD, IDC_PROTECT_PASSWORD},
    {IDC_MAIL_PROTOCOL, IDC_MAIL_PROTOCOL},
    {IDC_MAILBOX_LIST, IDC_MAILBOX_LIST},
    {IDC_MAILBOX_ADD, IDC_MAILBOX_LIST},
    {IDC_MAILBOX_REMOVE, IDC_MAILBOX_LIST},
    {IDC_MAILBOX_UP, IDC_MAILBOX_LIST},
    {0, 0},
};
const HelpTopic soundPageHelp[] = {
    {IDC_SOUND_NOTIFY, IDC_SOUND_NOTIFY},
    {IDC_USE_VOICE, IDC_USE_VOICE},
    {IDC_USE_BEEP, IDC_USE_BEEP},
    {IDC_SOUND_NEW_ONLY, IDC_SOUND_NEW_ONLY},
    {IDC_CUSTOM_VOICE, IDC_CUSTOM_VOICE},
    {IDC_VOICE_PATH, IDC_VOICE_PATH},
    {IDC_VOICE_BROWSE, IDC_VOICE_BROWSE},
    {IDC_KEEP_TELLING, IDC_KEEP_TELLING},
    {IDC_QUIET_WHILE_BUSY, IDC_QUIET_WHILE_BUSY},
    {IDC_QUIET_HOURS, IDC_QUIET_HOURS},
    {IDC_QUIET_FROM, IDC_QUIET_HOURS},
    {IDC_QUIET_UNTIL, IDC_QUIET_HOURS},
    {0, 0},
};
const HelpTopic mailerPageHelp[] = {
    {IDC_MAILER_PATH, IDC_MAILER_PATH},
    {IDC_MAILER_BROWSE, IDC_MAILER_BROWSE},
    {IDC_MAILER_ARGS, IDC_MAILER_ARGS},
    {0, 0},
};
const HelpTopic displayPageHelp[] = {
    {IDC_TOOLTIP_ACCOUNT, IDC_TOOLTIP_ACCOUNT}, {IDC_TOOLTIP_COUNTS, IDC_TOOLTIP_COUNTS},
    {IDC_TOOLTIP_BOTH, IDC_TOOLTIP_BOTH},       {IDC_BLINK_NEW_ONLY, IDC_BLINK_NEW_ONLY},
    {IDC_NOTIFY_BALLOON, IDC_NOTIFY_BALLOON},   {IDC_SHOW_PREVIEWS, IDC_SHOW_PREVIEWS},
    {IDC_SHOW_COUNT, IDC_SHOW_COUNT},           {0, 0},
};

// The arrows' ranges. A port takes the 32-bit messages: the 16-bit ones
// carry signed numbers and end at 32767.
const int LOWEST_PORT = 1;
const int HIGHEST_PORT = 65535;
const LPARAM INTERVAL_RANGE = MAKELPARAM(120, 1);
const DWORD CHOOSER_FLAGS = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_FILEMUSTEXIST;

// The boxes of a page that hold texts of the settings file, ended by
// (0, NULL, 0).
struct TextBox {
  int id;
  char** slot;
  DWORD fileBytes;
};

const TextBox soundPageTexts[] = {
    {IDC_VOICE_PATH, &settings.voicePath, LONG_FILE_TEXT_BYTES},
    {0, NULL, 0},
};
const TextBox mailerPageTexts[] = {
    {IDC_MAILER_PATH, &settings.mailerPath, LONG_FILE_TEXT_BYTES},
    {IDC_MAILER_ARGS, &settings.mailerArgs, LONG_FILE_TEXT_BYTES},
    {0, NULL, 0},
};

void setText(HWND page, int id, const char* text) { SetDlgItemTextW(page, id, wide(text).text); }

// With several mailboxes, whose setting the cat refuses: "「name」の".
char refusedMailbox[SHORT_TEXT_BYTES + 32];

void tellRefusal(HWND page, const char* text) {
  char message[3 * WIDE_TEXT_UNITS + sizeof refusedMailbox + 256];
  snprintf(message, sizeof message, "%s%s", refusedMailbox, text);
  MessageBoxW(page, wide(message).text, wide(APP_TITLE).text, MB_OK | MB_ICONINFORMATION);
}

void readText(HWND page, int id, char* text, size_t size) {
  WCHAR typed[WIDE_TEXT_UNITS];
  GetDlgItemTextW(page, id, typed, WIDE_TEXT_UNITS);
  toUtf8(typed, text, size);
}

// The page's texts go into the settings only when the file can hold every
// one of them in Shift-JIS: otherwise the cat names the first that it
// cannot, and the sheet stays open on this page with nothing taken. A
// text left as it was shown keeps the bytes the file holds, Shift-JIS or
// not (an older version's, in another code page).
int takeTexts(HWND page, const TextBox* boxes) {
  char text[3 * WIDE_TEXT_UNITS];
  char sjis[LONG_FILE_TEXT_BYTES];
  for (const TextBox* box = boxes; box->slot != NULL; box++) {
    readText(page, box->id, text, sizeof text);
    if (strcmp(text, *box->slot) == 0 || utf8ToSjis(text, sjis, box->fileBytes)) continue;
    char message[sizeof text + 256];
    snprintf(message, sizeof message,
             "「%s」は設定ファイルにしまえないにゃ.\n使えない文字を外すか、短くしてにゃ.", text);
    tellRefusal(page, message);
    SetWindowLongPtrW(page, DWLP_MSGRESULT, PSNRET_INVALID);
    return 0;
  }
  for (const TextBox* box = boxes; box->slot != NULL; box++)
    readText(page, box->id, *box->slot,
             box->fileBytes == LONG_FILE_TEXT_BYTES ? LONG_TEXT_BYTES : SHORT_TEXT_BYTES);
  return 1;
}

void setChecked(HWND page, int id, int value) {
  SendDlgItemMessageW(page, id, BM_SETCHECK, value != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
}

int isChecked(HWND page, int id) {
  return SendDlgItemMessageW(page, id, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void enable(HWND page, int id, int enabled) {
  EnableWindow(GetDlgItem(page, id), enabled ? TRUE : FALSE);
}

int selection(HWND page, int id) { return (int)SendDlgItemMessageW(page, id, CB_GETCURSEL, 0, 0); }

// What page one says of each protocol, in the order of the PROTOCOL_*
// values: its name in the list, the labels of the server and the port,
// and the security that starts TLS on the plain port, named after the
// protocol's command for it.
struct ProtocolTexts {
  const char* name;
  const char* serverLabel;
  const char* portLabel;
  const char* startTls;
};

const ProtocolTexts protocolTexts[] = {
    {"POP3", "POPサーバのアドレスを入力してにゃ（必須）",
     "POP3ポート番号を入力してにゃ（通常は110番）", "STLSで暗号化するにゃ"},
    {"IMAP", "IMAPサーバのアドレスを入力してにゃ（必須）",
     "IMAPポート番号を入力してにゃ（通常は143番）", "STARTTLSで暗号化するにゃ"},
};
const int PROTOCOLS = sizeof protocolTexts / sizeof protocolTexts[0];
static_assert(PROTOCOLS == PROTOCOL_IMAP + 1, "the texts of every protocol, by its value");

// The port each protocol usually listens on, plain (or with STARTTLS)
// and with TLS from the first byte.
const UINT usualPorts[][2] = {{POP3_PORT, IMPLICIT_TLS_PORT}, {IMAP_PORT, IMAP_TLS_PORT}};
static_assert(sizeof usualPorts / sizeof usualPorts[0] == PROTOCOLS, "a port pair per protocol");

// An unknown protocol (none chosen) is shown as POP3, as the record
// knew it.
int shownProtocol(int protocol) {
  return protocol >= 0 && protocol < PROTOCOLS ? protocol : PROTOCOL_POP3;
}

// The page speaks of the protocol chosen: the labels, and the security
// box's choices, in the order of the SECURITY_* values, with security
// chosen again among them. APOP and fast scan are POP3's alone.
void showProtocol(HWND page, int protocol, int security) {
  int shown = shownProtocol(protocol);
  const ProtocolTexts& texts = protocolTexts[shown];
  setText(page, IDC_SERVER_LABEL, texts.serverLabel);
  setText(page, IDC_PORT_LABEL, texts.portLabel);
  const char* const securityChoices[] = {"暗号化しないにゃ", texts.startTls,
                                         "SSL/TLSで暗号化するにゃ"};
  SendDlgItemMessageW(page, IDC_CONNECTION_SECURITY, CB_RESETCONTENT, 0, 0);
  for (const char* choice : securityChoices)
    SendDlgItemMessageW(page, IDC_CONNECTION_SECURITY, CB_ADDSTRING, 0, (LPARAM)wide(choice).text);
  SendDlgItemMessageW(page, IDC_CONNECTION_SECURITY, CB_SETCURSEL, (WPARAM)security, 0);
  enable(page, IDC_USE_APOP, shown == PROTOCOL_POP3);
  enable(page, IDC_FAST_SCAN, shown == PROTOCOL_POP3);
}

// A port left at one a protocol usually listens on moves with the
// choices of protocol and security (implicit TLS almost always has a
// port of its own); a port the user set to anything else is left alone,
// and so is an empty box.
void suggestPort(HWND page) {
  UINT port = GetDlgItemInt(page, IDC_PORT, NULL, FALSE);
  int usual = 0;
  for (const UINT* ports : usualPorts) usual = usual || port == ports[0] || port == ports[1];
  if (!usual) return;
  int implicitTls = selection(page, IDC_CONNECTION_SECURITY) == SECURITY_TLS;
  UINT suggested = usualPorts[shownProtocol(selection(page, IDC_MAIL_PROTOCOL))][implicitTls];
  SetDlgItemInt(page, IDC_PORT, suggested, FALSE);
  SendDlgItemMessageW(page, IDC_PORT_SPIN, UDM_SETPOS32, 0, (LPARAM)suggested);
}

// The file keeps the interval in one byte: a longer one is cut to the
// longest it can hold, and the user is told. An empty box or 0 means 1.
int readInterval(HWND page) {
  BOOL isNumber = FALSE;
  UINT minutes = GetDlgItemInt(page, IDC_INTERVAL, &isNumber, FALSE);
  char typed[16] = "";
  readText(page, IDC_INTERVAL, typed, sizeof typed);
  // A number too large for GetDlgItemInt is still a number.
  if (!isNumber && typed[0] >= '0' && typed[0] <= '9') minutes = (UINT)MAX_INTERVAL_MINUTES + 1;
  if (minutes == 0) return 1;
  if (minutes <= (UINT)MAX_INTERVAL_MINUTES) return (int)minutes;
  tellRefusal(page, "到着確認の間隔は1分から255分までにしてにゃ.\n255分にしておくにゃ.");
  return MAX_INTERVAL_MINUTES;
}

// A port is one of 1..65535; an empty box (0) is taken, for the check to
// ask for, as it asks for a blank server. A larger one would be dialled
// as another port: the cat says so, and the sheet stays open on this page
// with nothing taken.
int readPort(HWND page, int* port) {
  BOOL isNumber = FALSE;
  UINT typedPort = GetDlgItemInt(page, IDC_PORT, &isNumber, FALSE);
  char typed[16] = "";
  readText(page, IDC_PORT, typed, sizeof typed);
  if (!isNumber && typed[0] >= '0' && typed[0] <= '9') typedPort = (UINT)HIGHEST_PORT + 1;
  if (typedPort <= (UINT)HIGHEST_PORT) {
    *port = (int)typedPort;
    return 1;
  }
  tellRefusal(page, "ポート番号は1から65535までにしてにゃ.");
  SetWindowLongPtrW(page, DWLP_MSGRESULT, PSNRET_INVALID);
  return 0;
}

const NMHDR* notification(LPARAM lParam) { return (const NMHDR*)lParam; }

// The open-file dialog for one box: the chosen path replaces its text.
// The filter is the description and the pattern, each ended by a NUL,
// and one NUL more.
void chooseFile(HWND page, int box, const char* description, const char* pattern,
                const char* extension) {
  WCHAR filter[128] = {};
  toWide(description, filter, 64);
  size_t used = 0;
  while (filter[used] != 0) used++;
  toWide(pattern, filter + used + 1, sizeof filter / sizeof filter[0] - used - 2);
  WCHAR path[LONG_FILE_TEXT_BYTES] = {};
  WideText defaultExtension = wide(extension);
  OPENFILENAMEW chooser = {};
  chooser.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
  chooser.hwndOwner = page;
  chooser.lpstrFilter = filter;
  chooser.lpstrFile = path;
  chooser.nMaxFile = LONG_FILE_TEXT_BYTES;
  chooser.Flags = CHOOSER_FLAGS;
  chooser.lpstrDefExt = defaultExtension.text;
  if (GetOpenFileNameW(&chooser)) SetDlgItemTextW(page, box, path);
}

// Only the first dropped file counts, and only with the right ending
// (compared as written: ".WAV" is not ".wav").
void takeDrop(HWND page, HDROP drop, int considered, int box, const char* ending) {
  WCHAR dropped[LONG_FILE_TEXT_BYTES] = {};
  char path[LONG_TEXT_BYTES] = "";
  if (considered) DragQueryFileW(drop, 0, dropped, LONG_FILE_TEXT_BYTES);
  DragFinish(drop);
  toUtf8(dropped, path, sizeof path);
  size_t length = strlen(path);
  if (length >= 4 && strcmp(path + length - 4, ending) == 0) setText(page, box, path);
}

// The voice, the beep and "new mail only" are usable only while the
// sound is on; the own voice only while the sound and the voice are; its
// path and browse button only while all three are.
void updateSoundEnabling(HWND page) {
  int sound = isChecked(page, IDC_SOUND_NOTIFY);
  int voice = sound && isChecked(page, IDC_USE_VOICE);
  int custom = voice && isChecked(page, IDC_CUSTOM_VOICE);
  enable(page, IDC_USE_VOICE, sound);
  enable(page, IDC_USE_BEEP, sound);
  enable(page, IDC_SOUND_NEW_ONLY, sound);
  enable(page, IDC_CUSTOM_VOICE, voice);
  enable(page, IDC_VOICE_PATH, custom);
  enable(page, IDC_VOICE_BROWSE, custom);
}

// ---- the manners: when the cat keeps quiet ----

// What the boxes of the quiet hours offer while none are set.
const int SUGGESTED_QUIET_FROM = 22 * 60;
const int SUGGESTED_QUIET_UNTIL = 7 * 60;

void setTime(HWND page, int id, int minute) {
  char text[32];
  snprintf(text, sizeof text, "%d:%02d", minute / 60, minute % 60);
  setText(page, id, text);
}

// "7:00" or "07:00", blanks around it allowed; -1 for anything else.
int readTime(HWND page, int id) {
  char text[32];
  readText(page, id, text, sizeof text);
  int hour = 0, minute = 0;
  char colon = 0, rest = 0;
  if (sscanf(text, " %2d %c %2d %c", &hour, &colon, &minute, &rest) != 3 || colon != ':' ||
      strchr(text, '-') != NULL || strchr(text, '+') != NULL)
    return -1;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return -1;
  return hour * 60 + minute;
}

void updateQuietEnabling(HWND page) {
  int hours = isChecked(page, IDC_QUIET_HOURS);
  enable(page, IDC_QUIET_FROM, hours);
  enable(page, IDC_QUIET_UNTIL, hours);
}

void loadQuiet(HWND page) {
  int none = settings.quietFrom == QUIET_HOURS_NONE;
  setChecked(page, IDC_QUIET_WHILE_BUSY, settings.quietWhileBusy);
  setChecked(page, IDC_QUIET_HOURS, !none);
  setTime(page, IDC_QUIET_FROM, none ? SUGGESTED_QUIET_FROM : settings.quietFrom);
  setTime(page, IDC_QUIET_UNTIL, none ? SUGGESTED_QUIET_UNTIL : settings.quietUntil);
  updateQuietEnabling(page);
}

// The quiet hours as typed, QUIET_HOURS_NONE while unchecked. Times that
// cannot be read, or a span that starts where it ends, keep the sheet
// open on this page with nothing taken.
int readQuietHours(HWND page, int* from, int* until) {
  *from = QUIET_HOURS_NONE;
  *until = QUIET_HOURS_NONE;
  if (isChecked(page, IDC_QUIET_HOURS)) {
    *from = readTime(page, IDC_QUIET_FROM);
    *until = readTime(page, IDC_QUIET_UNTIL);
    const char* problem = NULL;
    if (*from < 0 || *until < 0)
      problem = "静かにする時間は 22:00 や 7:30 のように入れてにゃ.";
    else if (*from == *until)
      problem = "静かにする時間の始まりと終わりが同じにゃ.\n別の時刻にしてにゃ.";
    if (problem != NULL) {
      MessageBoxW(page, wide(problem).text, wide(APP_TITLE).text, MB_OK | MB_ICONINFORMATION);
      SetWindowLongPtrW(page, DWLP_MSGRESULT, PSNRET_INVALID);
      return 0;
    }
  }
  return 1;
}

// Shows the topic of the control a WM_HELP names, if the page's table
// has one; labels and the page itself have none.
void showContextHelp(const HelpTopic* table, const HELPINFO* help) {
  HWND control = (HWND)help->hItemHandle;
  DWORD id = (DWORD)GetWindowLongW(control, GWL_ID);
  for (const HelpTopic* entry = table; entry->control != 0 || entry->topic != 0; entry++)
    if (entry->control == id) {
      showHelpTopic(control, entry->topic);
      return;
    }
}

// ---- the mailboxes: the list on page one, and the account of the one
// chosen below it ----

// The accounts as the page shows and changes them. They reach the
// settings only on OK, all at once: Cancel leaves every account, and the
// list of them, as it was.
struct Draft {
  char accountName[SHORT_TEXT_BYTES];
  char serverHost[SHORT_TEXT_BYTES];
  char userId[SHORT_TEXT_BYTES];
  char password[SHORT_TEXT_BYTES];
  int port;
  int intervalMinutes;
  int useApop;
  int fastScan;
  int protectPassword;
  int connectionSecurity;
  int mailProtocol;
  int showPreviews;
  int passwordLost;
  int slot;  // the account's slot when the sheet opened; -1 for one added
};
Draft drafts[MOST_MAILBOXES];
int draftCount = 0;
int chosen = 0;

void copyText(char* to, const char* from) { copyWholeCharacters(to, SHORT_TEXT_BYTES, from); }

void draftFromAccount(Draft* draft, const Account* account, int slot) {
  copyText(draft->accountName, account->accountName);
  copyText(draft->serverHost, account->serverHost);
  copyText(draft->userId, account->userId);
  copyText(draft->password, account->password);
  draft->port = account->port;
  draft->intervalMinutes = account->intervalMinutes;
  draft->useApop = account->useApop;
  draft->fastScan = account->fastScan;
  draft->protectPassword = account->protectPassword;
  draft->connectionSecurity = account->connectionSecurity;
  draft->mailProtocol = account->mailProtocol;
  draft->showPreviews = account->showPreviews;
  draft->passwordLost = account->passwordLost;
  draft->slot = slot;
}

void accountFromDraft(Account* account, const Draft* draft) {
  copyWholeCharacters(account->accountName, SHORT_TEXT_BYTES, draft->accountName);
  copyWholeCharacters(account->serverHost, SHORT_TEXT_BYTES, draft->serverHost);
  copyWholeCharacters(account->userId, SHORT_TEXT_BYTES, draft->userId);
  copyWholeCharacters(account->password, SHORT_TEXT_BYTES, draft->password);
  account->port = draft->port;
  account->intervalMinutes = draft->intervalMinutes;
  account->useApop = draft->useApop;
  account->fastScan = draft->fastScan;
  account->protectPassword = draft->protectPassword;
  account->connectionSecurity = draft->connectionSecurity;
  account->mailProtocol = draft->mailProtocol;
  account->showPreviews = draft->showPreviews;
  account->passwordLost = draft->passwordLost;
}

// A new mailbox starts as a first start's account does.
void newDraft(Draft* draft) {
  static Account blank;
  static char empty[SHORT_TEXT_BYTES];
  blank.accountName = blank.serverHost = blank.userId = blank.password = empty;
  setDefaultAccount(&blank);
  blank.fastScan = 1;
  blank.showPreviews = 1;
  draftFromAccount(draft, &blank, -1);
}

// What the list calls a mailbox: its name, or its place.
void draftLabel(int index, char* text, size_t size) {
  if (drafts[index].accountName[0] != '\0')
    copyWholeCharacters(text, size, drafts[index].accountName);
  else
    snprintf(text, size, "メールボックス%d", index + 1);
}

void fillMailboxList(HWND page) {
  char label[SHORT_TEXT_BYTES + 32];
  SendDlgItemMessageW(page, IDC_MAILBOX_LIST, CB_RESETCONTENT, 0, 0);
  for (int i = 0; i < draftCount; i++) {
    draftLabel(i, label, sizeof label);
    SendDlgItemMessageW(page, IDC_MAILBOX_LIST, CB_ADDSTRING, 0, (LPARAM)wide(label).text);
  }
  SendDlgItemMessageW(page, IDC_MAILBOX_LIST, CB_SETCURSEL, (WPARAM)chosen, 0);
  enable(page, IDC_MAILBOX_ADD, draftCount < MOST_MAILBOXES);
  enable(page, IDC_MAILBOX_REMOVE, draftCount > 1);
  enable(page, IDC_MAILBOX_UP, chosen > 0);
}

void showDraft(HWND page, const Draft* d) {
  setText(page, IDC_ACCOUNT_NAME, d->accountName);
  setText(page, IDC_SERVER_HOST, d->serverHost);
  setText(page, IDC_USER_ID, d->userId);
  setText(page, IDC_PASSWORD, d->password);
  // Setting an arrow's position rewrites its box with the position moved
  // into the range: the boxes get the stored numbers after it, so that a
  // port of 0 or an interval past the arrows' 120 minutes stays as it is
  // until the user changes it.
  SendDlgItemMessageW(page, IDC_PORT_SPIN, UDM_SETPOS32, 0, d->port);
  SetDlgItemInt(page, IDC_PORT, (UINT)d->port, FALSE);
  SendDlgItemMessageW(page, IDC_INTERVAL_SPIN, UDM_SETPOS, 0,
                      MAKELPARAM(LOWORD(d->intervalMinutes), 0));
  SetDlgItemInt(page, IDC_INTERVAL, (UINT)d->intervalMinutes, FALSE);
  setChecked(page, IDC_USE_APOP, d->useApop);
  setChecked(page, IDC_FAST_SCAN, d->fastScan);
  setChecked(page, IDC_PROTECT_PASSWORD, d->protectPassword);
  SendDlgItemMessageW(page, IDC_MAIL_PROTOCOL, CB_SETCURSEL, (WPARAM)d->mailProtocol, 0);
  showProtocol(page, d->mailProtocol, d->connectionSecurity);
}

// The page's boxes into the chosen draft; 0, with nothing taken, when
// the cat refuses one (and says whose it is, with several mailboxes).
int takeDraft(HWND page, Draft* d) {
  refusedMailbox[0] = '\0';
  if (draftCount > 1) {
    // By the name as typed, or its place.
    char label[SHORT_TEXT_BYTES];
    readText(page, IDC_ACCOUNT_NAME, label, sizeof label);
    if (label[0] == '\0') draftLabel((int)(d - drafts), label, sizeof label);
    snprintf(refusedMailbox, sizeof refusedMailbox, "「%s」の", label);
  }
  char* texts[] = {d->accountName, d->serverHost, d->userId, d->password};
  const TextBox boxes[] = {
      {IDC_ACCOUNT_NAME, &texts[0], SHORT_FILE_TEXT_BYTES},
      {IDC_SERVER_HOST, &texts[1], SHORT_FILE_TEXT_BYTES},
      {IDC_USER_ID, &texts[2], SHORT_FILE_TEXT_BYTES},
      {IDC_PASSWORD, &texts[3], SHORT_FILE_TEXT_BYTES},
      {0, NULL, 0},
  };
  int port = 0;
  if (!readPort(page, &port) || !takeTexts(page, boxes)) return 0;
  // A password that could not be read back showed as an empty box: only
  // one typed into it takes the place of the stored one.
  if (d->password[0] != '\0') d->passwordLost = 0;
  d->port = port;
  d->intervalMinutes = readInterval(page);
  d->useApop = isChecked(page, IDC_USE_APOP);
  d->protectPassword = isChecked(page, IDC_PROTECT_PASSWORD);
  d->fastScan = isChecked(page, IDC_FAST_SCAN);
  // The lists hold exactly the choices, in the values' order; with none
  // chosen, an unknown value stays and is refused again.
  int security = selection(page, IDC_CONNECTION_SECURITY);
  if (security != CB_ERR) d->connectionSecurity = security;
  int protocol = selection(page, IDC_MAIL_PROTOCOL);
  if (protocol != CB_ERR) d->mailProtocol = protocol;
  return 1;
}

// Another mailbox chosen, added, removed or moved up: what the page
// shows goes into its draft first, unless the cat refuses it, and then
// the list shows the mailboxes as they now stand.
void onMailboxCommand(HWND page, int command) {
  int wanted = command == IDC_MAILBOX_LIST ? selection(page, IDC_MAILBOX_LIST) : chosen;
  if (command == IDC_MAILBOX_LIST && wanted == chosen) return;
  int taken = command == IDC_MAILBOX_REMOVE || takeDraft(page, &drafts[chosen]);
  if (!taken) {
    // The page stays as typed, for the user to mend.
    SendDlgItemMessageW(page, IDC_MAILBOX_LIST, CB_SETCURSEL, (WPARAM)chosen, 0);
    return;
  }
  if (command == IDC_MAILBOX_LIST && wanted >= 0 && wanted < draftCount) {
    chosen = wanted;
  } else if (command == IDC_MAILBOX_ADD && draftCount < MOST_MAILBOXES) {
    newDraft(&drafts[draftCount]);
    chosen = draftCount++;
  } else if (command == IDC_MAILBOX_REMOVE && draftCount > 1) {
    // What a removed mailbox showed need not be right.
    for (int i = chosen; i + 1 < draftCount; i++) drafts[i] = drafts[i + 1];
    draftCount--;
    if (chosen == draftCount) chosen--;
  } else if (command == IDC_MAILBOX_UP && chosen > 0) {
    Draft moved = drafts[chosen];
    drafts[chosen] = drafts[chosen - 1];
    drafts[chosen - 1] = moved;
    chosen--;
  }
  fillMailboxList(page);
  showDraft(page, &drafts[chosen]);
}

// On OK: the accounts become the drafts, each kept with what its files
// hold: those removed go, those added come after, and the order is the
// list's.
void takeMailboxes() {
  // Removed: from the last down, so that the slots below stay put.
  int kept[MOST_MAILBOXES] = {};
  for (int i = 0; i < draftCount; i++)
    if (drafts[i].slot >= 0) kept[drafts[i].slot] = 1;
  for (int slot = accountCount - 1; slot >= 0; slot--)
    if (!kept[slot]) removeAccount(slot);
  // Now slot k holds the k-th account kept, in the old order; the added
  // follow. Each draft's account is moved to the draft's place.
  int holds[MOST_MAILBOXES];  // the draft whose account each slot holds
  int at = 0;
  for (int slot = 0; slot < MOST_MAILBOXES; slot++) {
    if (!kept[slot]) continue;
    for (int i = 0; i < draftCount; i++)
      if (drafts[i].slot == slot) holds[at] = i;
    at++;
  }
  for (int i = 0; i < draftCount; i++)
    if (drafts[i].slot < 0 && addAccount()) holds[at++] = i;
  for (int place = 0; place < draftCount; place++) {
    int from = place;
    while (holds[from] != place) from++;
    if (from != place) {
      swapAccounts(place, from);
      holds[from] = holds[place];
      holds[place] = place;
    }
    accountFromDraft(&accounts[place], &drafts[place]);
  }
}

}  // namespace

INT_PTR CALLBACK basicPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      draftCount = accountCount;
      chosen = 0;
      for (int slot = 0; slot < accountCount; slot++)
        draftFromAccount(&drafts[slot], &accounts[slot], slot);
      SendDlgItemMessageW(page, IDC_PORT_SPIN, UDM_SETRANGE32, LOWEST_PORT, HIGHEST_PORT);
      SendDlgItemMessageW(page, IDC_INTERVAL_SPIN, UDM_SETRANGE, 0, INTERVAL_RANGE);
      setChecked(page, IDC_CHECK_AT_STARTUP, settings.checkAtStartup);
      setChecked(page, IDC_START_AT_LOGON, startsAtLogOn());
      for (const ProtocolTexts& texts : protocolTexts)
        SendDlgItemMessageW(page, IDC_MAIL_PROTOCOL, CB_ADDSTRING, 0,
                            (LPARAM)wide(texts.name).text);
      fillMailboxList(page);
      showDraft(page, &drafts[chosen]);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_MAILBOX_LIST && HIWORD(wParam) == CBN_SELCHANGE) {
        onMailboxCommand(page, IDC_MAILBOX_LIST);
        return TRUE;
      }
      if ((LOWORD(wParam) == IDC_MAILBOX_ADD || LOWORD(wParam) == IDC_MAILBOX_REMOVE ||
           LOWORD(wParam) == IDC_MAILBOX_UP) &&
          HIWORD(wParam) == BN_CLICKED) {
        onMailboxCommand(page, LOWORD(wParam));
        return TRUE;
      }
      if (HIWORD(wParam) != CBN_SELCHANGE) return TRUE;
      if (LOWORD(wParam) == IDC_MAIL_PROTOCOL)
        showProtocol(page, selection(page, IDC_MAIL_PROTOCOL),
                     selection(page, IDC_CONNECTION_SECURITY));
      if (LOWORD(wParam) == IDC_MAIL_PROTOCOL || LOWORD(wParam) == IDC_CONNECTION_SECURITY)
        suggestPort(page);
      return TRUE;
    case WM_NOTIFY: {
      if (notification(lParam)->code == PSN_APPLY && takeDraft(page, &drafts[chosen])) {
        takeMailboxes();
        settings.checkAtStartup = isChecked(page, IDC_CHECK_AT_STARTUP);
        // Kept in the user's registry, not in the settings file. A tick
        // the registry would not take (a policy forbids the Run key) is
        // told, rather than lost without a word.
        int atLogOn = isChecked(page, IDC_START_AT_LOGON);
        if (!setStartAtLogOn(atLogOn) && (atLogOn || startsAtLogOn()))
          MessageBoxW(page,
                      wide("ログオンしたら起動する設定を変えられなかったにゃ.\n"
                           "Windowsに止められているかもしれないにゃ.")
                          .text,
                      wide(APP_TITLE).text, MB_OK | MB_ICONINFORMATION);
      }
      return TRUE;
    }
    case WM_HELP: showContextHelp(basicPageHelp, (const HELPINFO*)lParam); return TRUE;
    default: return FALSE;
  }
}

INT_PTR CALLBACK soundPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      DragAcceptFiles(page, TRUE);
      setChecked(page, IDC_SOUND_NOTIFY, settings.soundNotify);
      setChecked(page, IDC_USE_VOICE, settings.useVoice);
      setChecked(page, IDC_USE_BEEP, settings.useVoice == 0);
      setChecked(page, IDC_SOUND_NEW_ONLY, settings.soundNewOnly);
      setChecked(page, IDC_KEEP_TELLING, settings.keepTelling);
      setChecked(page, IDC_CUSTOM_VOICE, settings.customVoice);
      setText(page, IDC_VOICE_PATH, settings.voicePath);
      updateSoundEnabling(page);
      loadQuiet(page);
      return TRUE;
    case WM_COMMAND:
      // Only clicks: the whole parameter is the control's id.
      if (wParam == IDC_SOUND_NOTIFY || wParam == IDC_USE_VOICE || wParam == IDC_USE_BEEP ||
          wParam == IDC_CUSTOM_VOICE)
        updateSoundEnabling(page);
      else if (wParam == IDC_QUIET_HOURS)
        updateQuietEnabling(page);
      else if (wParam == IDC_VOICE_BROWSE)
        chooseFile(page, IDC_VOICE_PATH, "waveﾌｧｲﾙ(*.wav)", "*.wav", "wav");
      return TRUE;
    case WM_DROPFILES:
      takeDrop(page, (HDROP)wParam,
               isChecked(page, IDC_SOUND_NOTIFY) && isChecked(page, IDC_USE_VOICE) &&
                   isChecked(page, IDC_CUSTOM_VOICE),
               IDC_VOICE_PATH, ".wav");
      return TRUE;
    case WM_NOTIFY: {
      int quietFrom = 0;
      int quietUntil = 0;
      if (notification(lParam)->code == PSN_APPLY &&
          readQuietHours(page, &quietFrom, &quietUntil) && takeTexts(page, soundPageTexts)) {
        // Disabled controls are stored with the state they show.
        settings.soundNotify = isChecked(page, IDC_SOUND_NOTIFY);
        settings.useVoice = isChecked(page, IDC_USE_VOICE);
        settings.soundNewOnly = isChecked(page, IDC_SOUND_NEW_ONLY);
        settings.keepTelling = isChecked(page, IDC_KEEP_TELLING);
        settings.customVoice = isChecked(page, IDC_CUSTOM_VOICE);
        settings.quietWhileBusy = isChecked(page, IDC_QUIET_WHILE_BUSY);
        settings.quietFrom = quietFrom;
        settings.quietUntil = quietUntil;
      }
      return TRUE;
    }
    case WM_HELP: showContextHelp(soundPageHelp, (const HELPINFO*)lParam); return TRUE;
    default: return FALSE;
  }
}

INT_PTR CALLBACK mailerPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      DragAcceptFiles(page, TRUE);
      setText(page, IDC_MAILER_PATH, settings.mailerPath);
      setText(page, IDC_MAILER_ARGS, settings.mailerArgs);
      return TRUE;
    case WM_COMMAND:
      if (wParam == IDC_MAILER_BROWSE)
        chooseFile(page, IDC_MAILER_PATH, "ﾒｰﾙｿﾌﾄ(*.exe)", "*.exe", "exe");
      return TRUE;
    case WM_DROPFILES: takeDrop(page, (HDROP)wParam, 1, IDC_MAILER_PATH, ".exe"); return TRUE;
    case WM_NOTIFY:
      if (notification(lParam)->code == PSN_APPLY) takeTexts(page, mailerPageTexts);
      return TRUE;
    case WM_HELP: showContextHelp(mailerPageHelp, (const HELPINFO*)lParam); return TRUE;
    default: return FALSE;
  }
}

INT_PTR CALLBACK displayPageProc(HWND page, UINT message, WPARAM, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      // A mode outside 0..2 checks no option at all.
      if (settings.tooltipMode >= 0 && settings.tooltipMode <= 2)
        setChecked(page, IDC_TOOLTIP_ACCOUNT + settings.tooltipMode, 1);
      setChecked(page, IDC_BLINK_NEW_ONLY, settings.blinkNewOnly);
      setChecked(page, IDC_NOTIFY_BALLOON, settings.notifyBalloon);
      setChecked(page, IDC_SHOW_PREVIEWS, accounts[0].showPreviews);
      setChecked(page, IDC_SHOW_COUNT, settings.showCount);
      return TRUE;
    case WM_NOTIFY:
      if (notification(lParam)->code == PSN_APPLY) {
        settings.tooltipMode = isChecked(page, IDC_TOOLTIP_ACCOUNT)  ? 0
                               : isChecked(page, IDC_TOOLTIP_COUNTS) ? 1
                                                                     : 2;
        settings.blinkNewOnly = isChecked(page, IDC_BLINK_NEW_ONLY);
        settings.notifyBalloon = isChecked(page, IDC_NOTIFY_BALLOON);
        // One box for the previews of every mailbox.
        for (int slot = 0; slot < accountCount; slot++)
          accounts[slot].showPreviews = isChecked(page, IDC_SHOW_PREVIEWS);
        settings.showCount = isChecked(page, IDC_SHOW_COUNT);
      }
      return TRUE;
    case WM_HELP: showContextHelp(displayPageHelp, (const HELPINFO*)lParam); return TRUE;
    default: return FALSE;
  }
}
