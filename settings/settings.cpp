// KivvetLE.cfg: a headerless record of 1291 bytes, and the bytes of newer
// settings after it, so that every older offset stays put. Every field but
// the account name is stored complemented, so the password is at least not
// legible in a hex dump; when the user asks, Windows' data protection
// keeps it instead, bound to the user's account, after the one-byte
// settings. Single-byte fields come back sign-widened; the port is stored
// big-endian and comes back whole (0..65535).
#include "settings/settings.h"

#include <string.h>

#include "base/appstate.h"
#include "base/datafile.h"
#include "base/text.h"

const char SETTINGS_FILE_NAME[] = "KivvetLE.cfg";

namespace {

// The manners on a busy desktop: quiet while the user cannot be disturbed
// is on for everyone, quiet hours are not set, the count on the icon is
// off (a first start turns it on).
void putMannerDefaults(Settings* record) {
  record->quietWhileBusy = 1;
  record->quietFrom = QUIET_HOURS_NONE;
  record->quietUntil = QUIET_HOURS_NONE;
  record->showCount = 0;
  record->keepTelling = 0;
}

// The defaults of every field but the texts, whose slots start-up
// allocates.
void putDefaults(Settings* record) {
  record->port = POP3_PORT;
  record->intervalMinutes = 10;
  record->checkAtStartup = 1;
  record->soundNotify = 1;
  record->useVoice = 1;
  record->soundNewOnly = 0;
  record->customVoice = 0;
  record->tooltipMode = 0;
  record->blinkNewOnly = 0;
  record->useApop = 0;
  record->connectionSecurity = SECURITY_NONE;
  record->protectPassword = 0;
  record->fastScan = 0;
  record->notifyBalloon = 0;
  record->showPreviews = 0;
  record->mailProtocol = PROTOCOL_POP3;
  putMannerDefaults(record);
  record->showSplash = 1;
  record->passwordLost = 0;
}

Settings defaultRecord() {
  Settings record = {};
  putDefaults(&record);
  return record;
}

}  // namespace

// The record holds the defaults before anything is loaded, and keeps them
// when there is no file.
Settings settings = defaultRecord();

namespace {

// Offsets of the file layout.
const DWORD AT_SERVER_HOST = 0;
const DWORD AT_USER_ID = 128;
const DWORD AT_PASSWORD = 256;
const DWORD AT_PORT_HIGH = 384;
const DWORD AT_PORT_LOW = 385;
const DWORD AT_INTERVAL = 386;
const DWORD AT_CHECK_AT_STARTUP = 387;
const DWORD AT_SOUND_NOTIFY = 388;
const DWORD AT_USE_VOICE = 389;
const DWORD AT_SOUND_NEW_ONLY = 390;
const DWORD AT_CUSTOM_VOICE = 391;
const DWORD AT_VOICE_PATH = 392;
const DWORD AT_MAILER_PATH = 648;
const DWORD AT_MAILER_ARGS = 904;
const DWORD AT_TOOLTIP_MODE = 1160;
const DWORD AT_BLINK_NEW_ONLY = 1161;
const DWORD AT_USE_APOP = 1162;
const DWORD AT_ACCOUNT_NAME = 1163;
const DWORD AT_CONNECTION_SECURITY = 1291;
const DWORD AT_FAST_SCAN = 1292;
const DWORD AT_NOTIFY_BALLOON = 1293;
const DWORD AT_PASSWORD_PROTECTED = 1294;
const DWORD AT_PROTECTED_LENGTH = 1295;  // two bytes, little-endian
const DWORD AT_PROTECTED_PASSWORD = 1297;
const DWORD AT_SHOW_PREVIEWS = AT_PROTECTED_PASSWORD + PROTECTED_PASSWORD_BYTES;  // 1809
const DWORD AT_PROTOCOL = AT_SHOW_PREVIEWS + 1;                                   // 1810
const DWORD AT_QUIET_WHILE_BUSY = AT_PROTOCOL + 1;                                // 1811
const DWORD AT_QUIET_FROM = AT_QUIET_WHILE_BUSY + 1;  // two bytes, little-endian
const DWORD AT_QUIET_UNTIL = AT_QUIET_FROM + 2;       // two bytes, little-endian
const DWORD AT_SHOW_COUNT = AT_QUIET_UNTIL + 2;       // 1816
const DWORD AT_KEEP_TELLING = AT_SHOW_COUNT + 1;      // 1817
// The original record is 1291 bytes; one-byte settings follow it (the
// connection security, fast scan, the balloon), then the password
// protected by Windows when the user asks for that, then the bytes of
// newer settings after the password's place (the previews of new mail,
// the protocol, the manners of the announcement). The record reaches to
// the last byte of its newest setting: 1818 bytes.
const DWORD RECORD_BYTES = AT_KEEP_TELLING + 1;

struct TextField {
  char** slot;
  DWORD offset;
  DWORD size;  // in the file
  int complemented;
};

struct ByteField {
  int* value;
  DWORD offset;
};

const TextField textFields[] = {
    {&settings.serverHost, AT_SERVER_HOST, SHORT_FILE_TEXT_BYTES, 1},
    {&settings.userId, AT_USER_ID, SHORT_FILE_TEXT_BYTES, 1},
    {&settings.password, AT_PASSWORD, SHORT_FILE_TEXT_BYTES, 1},
    {&settings.voicePath, AT_VOICE_PATH, LONG_FILE_TEXT_BYTES, 1},
    {&settings.mailerPath, AT_MAILER_PATH, LONG_FILE_TEXT_BYTES, 1},
    {&settings.mailerArgs, AT_MAILER_ARGS, LONG_FILE_TEXT_BYTES, 1},
    {&settings.accountName, AT_ACCOUNT_NAME, SHORT_FILE_TEXT_BYTES, 0},
};
const size_t TEXT_FIELDS = sizeof textFields / sizeof textFields[0];

size_t memorySize(const TextField& field) {
  return field.size == LONG_FILE_TEXT_BYTES ? LONG_TEXT_BYTES : SHORT_TEXT_BYTES;
}

// Each text slot of the file as it was read (plain, NUL-ended inside),
// bytes after the NUL included. A text the user did not change goes back
// exactly so, even where Shift-JIS has two forms of a character or the
// bytes are no Shift-JIS at all; a changed one is written over it, as the
// record always was. The password's are its bytes even while the file
// keeps it protected instead.
char fileTexts[TEXT_FIELDS][LONG_FILE_TEXT_BYTES];
const size_t PASSWORD_TEXT = 2;

// The bytes read into field i, shown in its slot.
void showFileText(size_t i) {
  fileTextToUtf8(fileTexts[i], *textFields[i].slot, memorySize(textFields[i]));
}

const ByteField byteFields[] = {
    {&settings.intervalMinutes, AT_INTERVAL},
    {&settings.checkAtStartup, AT_CHECK_AT_STARTUP},
    {&settings.soundNotify, AT_SOUND_NOTIFY},
    {&settings.useVoice, AT_USE_VOICE},
    {&settings.soundNewOnly, AT_SOUND_NEW_ONLY},
    {&settings.customVoice, AT_CUSTOM_VOICE},
    {&settings.tooltipMode, AT_TOOLTIP_MODE},
    {&settings.blinkNewOnly, AT_BLINK_NEW_ONLY},
    {&settings.useApop, AT_USE_APOP},
};

int signedByte(unsigned char byte) { return (int)(signed char)byte; }

// The protected password as the file holds it. A password that cannot be
// unprotected here is written back unchanged, so that its owner can still
// use the file on the account or machine it belongs to.
unsigned char protectedPassword[PROTECTED_PASSWORD_BYTES];
DWORD protectedLength = 0;

void wipe(void* bytes, DWORD length) {
  volatile unsigned char* p = (volatile unsigned char*)bytes;
  for (DWORD i = 0; i < length; i++) p[i] = 0;
}

int hasLineBreak(const char* text) { return strpbrk(text, "\r\n") != NULL; }

// Fills the password slot from the protected bytes; 0 when Windows will
// not unprotect them for this user, or they are no password of ours (the
// text and its NUL, within the slot).
int unprotectPassword() {
  DATA_BLOB in = {protectedLength, protectedPassword};
  DATA_BLOB out = {0, NULL};
  if (protectedLength == 0 ||
      !CryptUnprotectData(&in, NULL, NULL, NULL, NULL, CRYPTPROTECT_UI_FORBIDDEN, &out))
    return 0;
  // The password's bytes as the slot would hold them.
  int fits = out.cbData >= 1 && out.cbData <= SHORT_FILE_TEXT_BYTES &&
             out.pbData[out.cbData - 1] == 0 && strlen((const char*)out.pbData) == out.cbData - 1;
  if (fits) {
    memcpy(fileTexts[PASSWORD_TEXT], out.pbData, out.cbData);
    showFileText(PASSWORD_TEXT);
  }
  wipe(out.pbData, out.cbData);
  LocalFree(out.pbData);
  return fits;
}

// Protects the password with its NUL for the file; 0 when Windows refuses
// or the result would not fit.
int protectPassword() {
  char sjis[SHORT_FILE_TEXT_BYTES];
  if (!fileBytesOf(settings.password, sjis, sizeof sjis)) return 0;
  DATA_BLOB in = {(DWORD)strlen(sjis) + 1, (BYTE*)sjis};
  DATA_BLOB out = {0, NULL};
  BOOL protectedOk = CryptProtectData(&in, NULL, NULL, NULL, NULL, CRYPTPROTECT_UI_FORBIDDEN, &out);
  wipe(sjis, sizeof sjis);
  if (!protectedOk) return 0;
  int fits = out.cbData >= 1 && out.cbData <= PROTECTED_PASSWORD_BYTES;
  if (fits) {
    memcpy(protectedPassword, out.pbData, out.cbData);
    protectedLength = out.cbData;
  }
  LocalFree(out.pbData);
  return fits;
}

// The manners' bytes of a file that delivered got bytes, complemented
// in the image. A file too short for one means what the program did
// before it: quiet while busy, no quiet hours, no count on the icon.
void readManners(const unsigned char* image, DWORD got) {
  settings.quietWhileBusy =
      got > AT_QUIET_WHILE_BUSY && (unsigned char)~image[AT_QUIET_WHILE_BUSY] == 0 ? 0 : 1;
  settings.quietFrom = QUIET_HOURS_NONE;
  settings.quietUntil = QUIET_HOURS_NONE;
  if (got > AT_QUIET_UNTIL + 1) {
    int from = (unsigned char)~image[AT_QUIET_FROM] | (unsigned char)~image[AT_QUIET_FROM + 1] << 8;
    int until = (unsigned char)~image[AT_QUIET_UNTIL] | (unsigned char)~image[AT_QUIET_UNTIL + 1]
                                                            << 8;
    // A span needs both ends inside the day; anything else is none.
    if (from < MINUTES_PER_DAY && until < MINUTES_PER_DAY) {
      settings.quietFrom = from;
      settings.quietUntil = until;
    }
  }
  settings.showCount = got > AT_SHOW_COUNT && (unsigned char)~image[AT_SHOW_COUNT] == 1 ? 1 : 0;
  settings.keepTelling =
      got > AT_KEEP_TELLING && (unsigned char)~image[AT_KEEP_TELLING] == 1 ? 1 : 0;
}

// Plain, before the tail of the image is complemented.
void writeManners(unsigned char* image) {
  image[AT_QUIET_WHILE_BUSY] = (unsigned char)(settings.quietWhileBusy & 0xFF);
  image[AT_QUIET_FROM] = (unsigned char)(settings.quietFrom & 0xFF);
  image[AT_QUIET_FROM + 1] = (unsigned char)((settings.quietFrom >> 8) & 0xFF);
  image[AT_QUIET_UNTIL] = (unsigned char)(settings.quietUntil & 0xFF);
  image[AT_QUIET_UNTIL + 1] = (unsigned char)((settings.quietUntil >> 8) & 0xFF);
  image[AT_SHOW_COUNT] = (unsigned char)(settings.showCount & 0xFF);
  image[AT_KEEP_TELLING] = (unsigned char)(settings.keepTelling & 0xFF);
}

}  // namespace

void setDefaultSettings() {
  putDefaults(&settings);
  protectedLength = 0;
  wipe(fileTexts, sizeof fileTexts);
}

const char* settingsProblem() {
  // An empty port box is stored as port 0, which no server listens on.
  if (settings.serverHost[0] == '\0' || settings.userId[0] == '\0' || settings.port == 0)
    return "必須設定項目に空欄があるにゃ.\n設定してにゃ.";
  // A line break would end the command and begin one of its own.
  if (hasLineBreak(settings.userId) || hasLineBreak(settings.password))
    return "ユーザーIDかパスワードに改行が入っているにゃ.\n設定し直してにゃ.";
  if (settings.connectionSecurity != SECURITY_NONE &&
      settings.connectionSecurity != SECURITY_STLS && settings.connectionSecurity != SECURITY_TLS)
    return "暗号化の設定が壊れているにゃ.\nもう一度選んでにゃ.";
  // A protocol this version does not speak (a later version's file, or a
  // damaged one) gets no dialogue of another protocol with its server.
  if (settings.mailProtocol != PROTOCOL_POP3 && settings.mailProtocol != PROTOCOL_IMAP)
    return "受信方式の設定がこの版では使えないにゃ.\n設定し直してにゃ.";
  if (settings.passwordLost) return "保存したパスワードが読めないにゃ.\nもう一度入れてにゃ.";
  return NULL;
}

// The whole file is read at once and taken apart in memory. A file that
// is shorter than the record leaves the fields beyond its end as the
// record's layout makes them: single-byte fields read as 0xFF complemented
// (that is, -1), and a text cut short by the end of the file keeps what
// was read of it. Whatever the file holds, every text ends with a NUL
// inside its slot.
int loadSettings() {
  HANDLE file = openDataFile(SETTINGS_FILE_NAME, GENERIC_READ, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return -1;
    // A first start: the record the sheet shows and saves is a new
    // user's, who gets the quick check and the previews of new mail. A
    // file that only lacks the bytes keeps what it always had.
    settings.fastScan = 1;
    settings.showPreviews = 1;
    // The cat speaks and blinks for new mail only, which is what the
    // previews and the count on the icon tell: a server that keeps read
    // mail would otherwise have it speak at every check.
    settings.soundNewOnly = 1;
    settings.blinkNewOnly = 1;
    settings.showCount = 1;
    settings.keepTelling = 1;
    return 0;
  }

  unsigned char image[RECORD_BYTES];
  DWORD got = 0;
  if (!ReadFile(file, image, sizeof image, &got, NULL)) got = 0;
  CloseHandle(file);
  // Bytes the file did not deliver count as zero before complementing.
  memset(image + got, 0, sizeof image - got);

  for (size_t i = 0; i < TEXT_FIELDS; i++) {
    const TextField& field = textFields[i];
    char* raw = fileTexts[i];
    DWORD delivered = got > field.offset ? got - field.offset : 0;
    if (delivered > field.size) delivered = field.size;
    memcpy(raw, image + field.offset, delivered);
    if (field.complemented) scrambleBytes(raw, delivered);
    // A slot the file ended inside keeps what was read, and no more.
    memset(raw + delivered, 0, field.size - delivered);
    raw[field.size - 1] = '\0';
    showFileText(i);
  }

  scrambleBytes(image + AT_PORT_HIGH, AT_VOICE_PATH - AT_PORT_HIGH);
  scrambleBytes(image + AT_TOOLTIP_MODE, AT_ACCOUNT_NAME - AT_TOOLTIP_MODE);
  // A port is 0..65535: read as a signed value, one above 32767 would come
  // back negative, show as nothing in the sheet and be lost by its OK.
  settings.port = image[AT_PORT_HIGH] * 256 + image[AT_PORT_LOW];
  for (const ByteField& field : byteFields) *field.value = signedByte(image[field.offset]);
  // The interval is a count of 1..255 minutes and comes back unsigned, so
  // that every interval the sheet accepts survives a restart. A byte the
  // sheet never writes (0, or one the file does not reach) means the
  // default rather than a timer that runs every minute or never.
  settings.intervalMinutes = got > AT_INTERVAL ? image[AT_INTERVAL] : 0;
  if (settings.intervalMinutes == 0) settings.intervalMinutes = DEFAULT_INTERVAL_MINUTES;

  // A file from before the byte existed means plain text. A value this
  // program does not know stays as it is: a check refuses it rather than
  // send the password in clear to a damaged or tampered file's server.
  settings.connectionSecurity =
      got > AT_CONNECTION_SECURITY ? (unsigned char)~image[AT_CONNECTION_SECURITY] : 0;
  // The walk of old, unless the file asks for fast scan.
  settings.fastScan = got > AT_FAST_SCAN && (unsigned char)~image[AT_FAST_SCAN] == 1 ? 1 : 0;
  // Off in a file from before the byte, and for any value but 1.
  settings.notifyBalloon =
      got > AT_NOTIFY_BALLOON && (unsigned char)~image[AT_NOTIFY_BALLOON] == 1 ? 1 : 0;
  // Likewise the previews.
  settings.showPreviews =
      got > AT_SHOW_PREVIEWS && (unsigned char)~image[AT_SHOW_PREVIEWS] == 1 ? 1 : 0;
  // As the connection security: a file from before the byte means POP3,
  // and a value this program does not know stays, for a check to refuse.
  settings.mailProtocol = got > AT_PROTOCOL ? (unsigned char)~image[AT_PROTOCOL] : PROTOCOL_POP3;
  readManners(image, got);

  // Protected: the slot was stored empty and the password comes from
  // Windows. A flag other than 1, a length out of range or a file cut
  // short count as a password that cannot be read, never as an empty one.
  int protectedFlag =
      got > AT_PASSWORD_PROTECTED ? (unsigned char)~image[AT_PASSWORD_PROTECTED] : 0;
  settings.protectPassword = protectedFlag != 0;
  settings.passwordLost = 0;
  protectedLength = 0;
  if (protectedFlag != 0) {
    memset(settings.password, 0, SHORT_TEXT_BYTES);
    wipe(fileTexts[PASSWORD_TEXT], SHORT_FILE_TEXT_BYTES);
    DWORD length = got >= AT_PROTECTED_PASSWORD
                       ? (unsigned char)~image[AT_PROTECTED_LENGTH] |
                             (DWORD)(unsigned char)~image[AT_PROTECTED_LENGTH + 1] << 8
                       : 0;
    if (length <= PROTECTED_PASSWORD_BYTES && got >= AT_PROTECTED_PASSWORD + length) {
      protectedLength = length;
      memcpy(protectedPassword, image + AT_PROTECTED_PASSWORD, length);
      scrambleBytes(protectedPassword, length);
    }
    settings.passwordLost = protectedFlag != 1 || !unprotectPassword();
  }
  wipe(image, sizeof image);
  return 1;
}

// The whole record goes from offset 0 in one write, so a longer file keeps
// its tail and a shorter one grows to the full size. Returns 0 when the
// file cannot be opened, the record was not written in full, or Windows
// would not protect the password (then the file stays as it was: the
// password never goes to the file unprotected against the user's word).
int saveSettings() {
  // A password that cannot be read here stays protected as it was, for
  // its owner, until another one is typed.
  int protect = settings.protectPassword != 0 || settings.passwordLost;
  if (protect && !settings.passwordLost && !protectPassword()) return 0;
  if (!protect) protectedLength = 0;

  unsigned char image[RECORD_BYTES];
  memset(image, 0, sizeof image);
  char bytes[LONG_FILE_TEXT_BYTES];
  char password[SHORT_FILE_TEXT_BYTES];
  for (size_t i = 0; i < TEXT_FIELDS; i++) {
    const TextField& field = textFields[i];
    unsigned char* slot = image + field.offset;
    memcpy(slot, fileTexts[i], field.size);
    // The sheet refuses a text that Shift-JIS cannot hold; one that gets
    // here all the same is not written as something else.
    if (!fileBytesOf(*field.slot, bytes, field.size)) {
      wipe(image, sizeof image);
      return 0;
    }
    memcpy(slot, bytes, strlen(bytes) + 1);
    if (i == PASSWORD_TEXT) memcpy(password, slot, sizeof password);
    if (protect && i == PASSWORD_TEXT) memset(slot, 0, field.size);
    if (field.complemented) scrambleBytes(slot, field.size);
  }
  wipe(bytes, sizeof bytes);
  image[AT_PORT_HIGH] = (unsigned char)((settings.port >> 8) & 0xFF);
  image[AT_PORT_LOW] = (unsigned char)(settings.port & 0xFF);
  for (const ByteField& field : byteFields)
    image[field.offset] = (unsigned char)(*field.value & 0xFF);
  scrambleBytes(image + AT_PORT_HIGH, AT_VOICE_PATH - AT_PORT_HIGH);
  scrambleBytes(image + AT_TOOLTIP_MODE, AT_ACCOUNT_NAME - AT_TOOLTIP_MODE);
  image[AT_CONNECTION_SECURITY] = (unsigned char)(settings.connectionSecurity & 0xFF);
  image[AT_FAST_SCAN] = (unsigned char)(settings.fastScan & 0xFF);
  image[AT_NOTIFY_BALLOON] = (unsigned char)(settings.notifyBalloon & 0xFF);
  image[AT_PASSWORD_PROTECTED] = (unsigned char)protect;
  image[AT_PROTECTED_LENGTH] = (unsigned char)(protectedLength & 0xFF);
  image[AT_PROTECTED_LENGTH + 1] = (unsigned char)(protectedLength >> 8);
  memcpy(image + AT_PROTECTED_PASSWORD, protectedPassword, protectedLength);
  image[AT_SHOW_PREVIEWS] = (unsigned char)(settings.showPreviews & 0xFF);
  image[AT_PROTOCOL] = (unsigned char)(settings.mailProtocol & 0xFF);
  writeManners(image);
  // Up to the newest byte: the bytes of a protected password the file
  // held before are written over, whether or not one follows, and a
  // longer file keeps its tail.
  scrambleBytes(image + AT_ACCOUNT_NAME + SHORT_FILE_TEXT_BYTES,
                RECORD_BYTES - (AT_ACCOUNT_NAME + SHORT_FILE_TEXT_BYTES));
  int written = writeDataFile(SETTINGS_FILE_NAME, image, RECORD_BYTES);
  // What the file now holds is what the next save starts from.
  for (size_t i = 0; written && i < TEXT_FIELDS; i++) {
    memcpy(fileTexts[i], image + textFields[i].offset, textFields[i].size);
    if (textFields[i].complemented) scrambleBytes(fileTexts[i], textFields[i].size);
  }
  if (written) memcpy(fileTexts[PASSWORD_TEXT], password, sizeof password);
  wipe(password, sizeof password);
  wipe(image, sizeof image);
  return written;
}

int fileBytesOf(const char* text, char* bytes, size_t size) {
  char shown[LONG_TEXT_BYTES];
  for (size_t i = 0; i < TEXT_FIELDS; i++) {
    if (*textFields[i].slot != text) continue;
    fileTextToUtf8(fileTexts[i], shown, memorySize(textFields[i]));
    int unchanged = strcmp(shown, text) == 0 && strlen(fileTexts[i]) < size;
    wipe(shown, sizeof shown);
    if (!unchanged) break;
    memcpy(bytes, fileTexts[i], strlen(fileTexts[i]) + 1);
    return 1;
  }
  return utf8ToSjis(text, bytes, size);
}
