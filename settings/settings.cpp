// KivvetLE.cfg: a headerless record of 1291 bytes, and the bytes of newer
// settings after it, so that every older offset stays put. Every field but
// the account name is stored complemented, so the password is at least not
// legible in a hex dump; when the user asks, Windows' data protection
// keeps it instead, bound to the user's account, after the one-byte
// settings. Single-byte fields come back sign-widened; the port is stored
// big-endian and comes back whole (0..65535).
//
// The file holds the program's settings and the first mailbox's account;
// the accounts of the others are records of the same layout in the
// accounts file beside it (KivvetLE.mbx).
#include "settings/settings.h"

#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "base/datafile.h"
#include "base/text.h"

const char SETTINGS_FILE_NAME[] = "KivvetLE.cfg";
const char ACCOUNTS_FILE_NAME[] = "KivvetLE.mbx";

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
  record->checkAtStartup = 1;
  record->soundNotify = 1;
  record->useVoice = 1;
  record->soundNewOnly = 0;
  record->customVoice = 0;
  record->tooltipMode = 0;
  record->blinkNewOnly = 0;
  record->notifyBalloon = 0;
  putMannerDefaults(record);
  record->showSplash = 1;
}

void putAccountDefaults(Account* account) {
  account->port = POP3_PORT;
  account->intervalMinutes = DEFAULT_INTERVAL_MINUTES;
  account->useApop = 0;
  account->connectionSecurity = SECURITY_NONE;
  account->protectPassword = 0;
  account->fastScan = 0;
  account->showPreviews = 0;
  account->mailProtocol = PROTOCOL_POP3;
  account->passwordLost = 0;
}

Settings defaultRecord() {
  Settings record = {};
  putDefaults(&record);
  return record;
}

Account defaultAccount() {
  Account account = {};
  putAccountDefaults(&account);
  return account;
}

}  // namespace

// The records hold the defaults before anything is loaded, and keep them
// when there is no file.
Settings settings = defaultRecord();
Account accounts[MOST_MAILBOXES] = {defaultAccount()};
int accountCount = 1;

const TextSlot TEXT_SLOTS[] = {
    {1, offsetof(Account, serverHost), SHORT_TEXT_BYTES},
    {1, offsetof(Account, userId), SHORT_TEXT_BYTES},
    {1, offsetof(Account, password), SHORT_TEXT_BYTES},
    {1, offsetof(Account, accountName), SHORT_TEXT_BYTES},
    {0, offsetof(Settings, voicePath), LONG_TEXT_BYTES},
    {0, offsetof(Settings, mailerPath), LONG_TEXT_BYTES},
    {0, offsetof(Settings, mailerArgs), LONG_TEXT_BYTES},
};
const size_t TEXT_SLOT_COUNT = sizeof TEXT_SLOTS / sizeof TEXT_SLOTS[0];

char** textSlotOf(const TextSlot& slot, Settings* program, Account* account) {
  char* record = slot.ofAccount ? (char*)account : (char*)program;
  return (char**)(record + slot.member);
}

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

// The accounts file: a header, then one record per mailbox after the
// first, each laid out as KivvetLE.cfg (only the account's bytes count;
// the program's are stored as 0) and padded to a fixed stride, so that
// newer bytes have room. Everything is complemented.
const char ACCOUNTS_MAGIC[] = "KVMB";
const DWORD ACCOUNTS_HEADER_BYTES = 16;
const DWORD AT_ACCOUNTS_COUNT = 4;
const DWORD ACCOUNT_RECORD_STRIDE = 2048;
static_assert(RECORD_BYTES <= ACCOUNT_RECORD_STRIDE, "a record fits its stride");
const DWORD ACCOUNTS_FILE_BYTES =
    ACCOUNTS_HEADER_BYTES + (MOST_MAILBOXES - 1) * ACCOUNT_RECORD_STRIDE;

// Where each of TEXT_SLOTS lies in the file: the account's four first.
struct FileText {
  DWORD offset;
  DWORD size;  // in the file
  int complemented;
};
const FileText fileTextsAt[] = {
    {AT_SERVER_HOST, SHORT_FILE_TEXT_BYTES, 1}, {AT_USER_ID, SHORT_FILE_TEXT_BYTES, 1},
    {AT_PASSWORD, SHORT_FILE_TEXT_BYTES, 1},    {AT_ACCOUNT_NAME, SHORT_FILE_TEXT_BYTES, 0},
    {AT_VOICE_PATH, LONG_FILE_TEXT_BYTES, 1},   {AT_MAILER_PATH, LONG_FILE_TEXT_BYTES, 1},
    {AT_MAILER_ARGS, LONG_FILE_TEXT_BYTES, 1},
};
const size_t TEXT_FIELDS = sizeof fileTextsAt / sizeof fileTextsAt[0];
const size_t ACCOUNT_TEXTS = 4;
const size_t PASSWORD_TEXT = 2;

size_t memorySize(size_t field) { return TEXT_SLOTS[field].bytes; }

// What the files hold of one account. Each text slot as it was read
// (plain, NUL-ended inside), bytes after the NUL included: a text the
// user did not change goes back exactly so, even where Shift-JIS has two
// forms of a character or the bytes are no Shift-JIS at all; a changed
// one is written over it, as the record always was. The password's are
// its bytes even while the file keeps it protected instead. A protected
// password that cannot be unprotected here is written back unchanged, so
// that its owner can still use the file on the account or machine it
// belongs to.
struct AccountFile {
  char texts[ACCOUNT_TEXTS][SHORT_FILE_TEXT_BYTES];
  unsigned char protectedPassword[PROTECTED_PASSWORD_BYTES];
  DWORD protectedLength;
  // The bytes of an accounts file's record past those this version
  // knows, kept for the version that wrote them.
  unsigned char tail[ACCOUNT_RECORD_STRIDE - RECORD_BYTES];
  int origin;
};
AccountFile accountFiles[MOST_MAILBOXES];
char programTexts[TEXT_FIELDS - ACCOUNT_TEXTS][LONG_FILE_TEXT_BYTES];

char* fileText(size_t field, int slot) {
  return field < ACCOUNT_TEXTS ? accountFiles[slot].texts[field]
                               : programTexts[field - ACCOUNT_TEXTS];
}

char** textSlot(size_t field, int slot) {
  return textSlotOf(TEXT_SLOTS[field], &settings, &accounts[slot]);
}

// The bytes read into field i, shown in its slot.
void showFileText(size_t field, int slot) {
  fileTextToUtf8(fileText(field, slot), *textSlot(field, slot), memorySize(field));
}

struct ByteField {
  size_t member;  // offsetof the int in Settings
  DWORD offset;
};

const ByteField byteFields[] = {
    {offsetof(Settings, checkAtStartup), AT_CHECK_AT_STARTUP},
    {offsetof(Settings, soundNotify), AT_SOUND_NOTIFY},
    {offsetof(Settings, useVoice), AT_USE_VOICE},
    {offsetof(Settings, soundNewOnly), AT_SOUND_NEW_ONLY},
    {offsetof(Settings, customVoice), AT_CUSTOM_VOICE},
    {offsetof(Settings, tooltipMode), AT_TOOLTIP_MODE},
    {offsetof(Settings, blinkNewOnly), AT_BLINK_NEW_ONLY},
};

int* byteField(const ByteField& field) { return (int*)((char*)&settings + field.member); }

int signedByte(unsigned char byte) { return (int)(signed char)byte; }

// A one-byte setting that is on only where the file holds 1.
int flagAt(const unsigned char* image, DWORD got, DWORD offset) {
  return got > offset && (unsigned char)~image[offset] == 1 ? 1 : 0;
}

void wipe(void* bytes, DWORD length) {
  volatile unsigned char* p = (volatile unsigned char*)bytes;
  for (DWORD i = 0; i < length; i++) p[i] = 0;
}

int hasLineBreak(const char* text) { return strpbrk(text, "\r\n") != NULL; }

// Fills the password slot from the protected bytes; 0 when Windows will
// not unprotect them for this user, or they are no password of ours (the
// text and its NUL, within the slot).
int unprotectPassword(int slot) {
  AccountFile& file = accountFiles[slot];
  DATA_BLOB in = {file.protectedLength, file.protectedPassword};
  DATA_BLOB out = {0, NULL};
  if (file.protectedLength == 0 ||
      !CryptUnprotectData(&in, NULL, NULL, NULL, NULL, CRYPTPROTECT_UI_FORBIDDEN, &out))
    return 0;
  // The password's bytes as the slot would hold them.
  int fits = out.cbData >= 1 && out.cbData <= SHORT_FILE_TEXT_BYTES &&
             out.pbData[out.cbData - 1] == 0 && strlen((const char*)out.pbData) == out.cbData - 1;
  if (fits) {
    memcpy(file.texts[PASSWORD_TEXT], out.pbData, out.cbData);
    showFileText(PASSWORD_TEXT, slot);
  }
  wipe(out.pbData, out.cbData);
  LocalFree(out.pbData);
  return fits;
}

// Protects the password with its NUL for the file; 0 when Windows refuses
// or the result would not fit.
int protectPassword(int slot) {
  AccountFile& file = accountFiles[slot];
  char sjis[SHORT_FILE_TEXT_BYTES];
  if (!fileBytesOf(accounts[slot].password, sjis, sizeof sjis)) return 0;
  DATA_BLOB in = {(DWORD)strlen(sjis) + 1, (BYTE*)sjis};
  DATA_BLOB out = {0, NULL};
  BOOL protectedOk = CryptProtectData(&in, NULL, NULL, NULL, NULL, CRYPTPROTECT_UI_FORBIDDEN, &out);
  wipe(sjis, sizeof sjis);
  if (!protectedOk) return 0;
  int fits = out.cbData >= 1 && out.cbData <= PROTECTED_PASSWORD_BYTES;
  if (fits) {
    memcpy(file.protectedPassword, out.pbData, out.cbData);
    file.protectedLength = out.cbData;
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
  settings.showCount = flagAt(image, got, AT_SHOW_COUNT);
  settings.keepTelling = flagAt(image, got, AT_KEEP_TELLING);
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

// The texts of fields first..last-1 from an image that delivered got
// bytes, into the slot's (or the program's) record. A file that is
// shorter than the record leaves the fields beyond its end as the
// record's layout makes them: a text cut short by the end of the file
// keeps what was read of it, and every text ends with a NUL inside its
// slot.
void readTexts(const unsigned char* image, DWORD got, size_t first, size_t last, int slot) {
  for (size_t i = first; i < last; i++) {
    const FileText& field = fileTextsAt[i];
    char* raw = fileText(i, slot);
    DWORD delivered = got > field.offset ? got - field.offset : 0;
    if (delivered > field.size) delivered = field.size;
    memcpy(raw, image + field.offset, delivered);
    if (field.complemented) scrambleBytes(raw, delivered);
    // A slot the file ended inside keeps what was read, and no more.
    memset(raw + delivered, 0, field.size - delivered);
    raw[field.size - 1] = '\0';
    showFileText(i, slot);
  }
}

// The image as read, its original record's single bytes complemented
// back already (the later bytes are read complemented).
void readProgram(const unsigned char* image, DWORD got) {
  readTexts(image, got, ACCOUNT_TEXTS, TEXT_FIELDS, 0);
  // A single byte the file does not reach reads as 0xFF, that is -1.
  for (const ByteField& field : byteFields) *byteField(field) = signedByte(image[field.offset]);
  // Off in a file from before the byte, and for any value but 1.
  settings.notifyBalloon = flagAt(image, got, AT_NOTIFY_BALLOON);
  readManners(image, got);
}

void readAccount(const unsigned char* image, DWORD got, int slot) {
  Account* account = &accounts[slot];
  AccountFile& file = accountFiles[slot];
  readTexts(image, got, 0, ACCOUNT_TEXTS, slot);
  // A port is 0..65535: read as a signed value, one above 32767 would come
  // back negative, show as nothing in the sheet and be lost by its OK.
  account->port = image[AT_PORT_HIGH] * 256 + image[AT_PORT_LOW];
  account->useApop = signedByte(image[AT_USE_APOP]);
  // The interval is a count of 1..255 minutes and comes back unsigned, so
  // that every interval the sheet accepts survives a restart. A byte the
  // sheet never writes (0, or one the file does not reach) means the
  // default rather than a timer that runs every minute or never.
  account->intervalMinutes = got > AT_INTERVAL ? image[AT_INTERVAL] : 0;
  if (account->intervalMinutes == 0) account->intervalMinutes = DEFAULT_INTERVAL_MINUTES;

  // A file from before the byte existed means plain text. A value this
  // program does not know stays as it is: a check refuses it rather than
  // send the password in clear to a damaged or tampered file's server.
  account->connectionSecurity =
      got > AT_CONNECTION_SECURITY ? (unsigned char)~image[AT_CONNECTION_SECURITY] : 0;
  // The walk of old, unless the file asks for fast scan; likewise the
  // previews.
  account->fastScan = flagAt(image, got, AT_FAST_SCAN);
  account->showPreviews = flagAt(image, got, AT_SHOW_PREVIEWS);
  // As the connection security: a file from before the byte means POP3,
  // and a value this program does not know stays, for a check to refuse.
  account->mailProtocol = got > AT_PROTOCOL ? (unsigned char)~image[AT_PROTOCOL] : PROTOCOL_POP3;

  // Protected: the slot was stored empty and the password comes from
  // Windows. A flag other than 1, a length out of range or a file cut
  // short count as a password that cannot be read, never as an empty one.
  int protectedFlag =
      got > AT_PASSWORD_PROTECTED ? (unsigned char)~image[AT_PASSWORD_PROTECTED] : 0;
  account->protectPassword = protectedFlag != 0;
  account->passwordLost = 0;
  file.protectedLength = 0;
  if (protectedFlag != 0) {
    memset(account->password, 0, SHORT_TEXT_BYTES);
    wipe(file.texts[PASSWORD_TEXT], SHORT_FILE_TEXT_BYTES);
    DWORD length = got >= AT_PROTECTED_PASSWORD
                       ? (unsigned char)~image[AT_PROTECTED_LENGTH] |
                             (DWORD)(unsigned char)~image[AT_PROTECTED_LENGTH + 1] << 8
                       : 0;
    if (length <= PROTECTED_PASSWORD_BYTES && got >= AT_PROTECTED_PASSWORD + length) {
      file.protectedLength = length;
      memcpy(file.protectedPassword, image + AT_PROTECTED_PASSWORD, length);
      scrambleBytes(file.protectedPassword, length);
    }
    account->passwordLost = protectedFlag != 1 || !unprotectPassword(slot);
  }
  file.origin = slot;
}

// The original record's single bytes are stored complemented with their
// neighbours: undone before reading, done after writing.
void flipOriginalBytes(unsigned char* image) {
  scrambleBytes(image + AT_PORT_HIGH, AT_VOICE_PATH - AT_PORT_HIGH);
  scrambleBytes(image + AT_TOOLTIP_MODE, AT_ACCOUNT_NAME - AT_TOOLTIP_MODE);
}

// The texts of fields first..last-1 into the image, complemented where
// the file keeps them so; 0 when one has no Shift-JIS form. The
// password's plain bytes go to password, even when the file gets none.
int writeTexts(unsigned char* image, size_t first, size_t last, int slot, int protect,
               char* password) {
  char bytes[LONG_FILE_TEXT_BYTES];
  int complete = 1;
  for (size_t i = first; i < last && complete; i++) {
    const FileText& field = fileTextsAt[i];
    unsigned char* place = image + field.offset;
    memcpy(place, fileText(i, slot), field.size);
    // The sheet refuses a text that Shift-JIS cannot hold; one that gets
    // here all the same is not written as something else.
    complete = fileBytesOf(*textSlot(i, slot), bytes, field.size);
    if (!complete) break;
    memcpy(place, bytes, strlen(bytes) + 1);
    if (i == PASSWORD_TEXT) memcpy(password, place, SHORT_FILE_TEXT_BYTES);
    if (protect && i == PASSWORD_TEXT) memset(place, 0, field.size);
    if (field.complemented) scrambleBytes(place, field.size);
  }
  wipe(bytes, sizeof bytes);
  return complete;
}

// The account of slot into a zeroed image, its bytes plain where the
// record's later bytes are (complemented together at the end); 0 when
// a text cannot be written or Windows would not protect the password
// (the password never goes to the file unprotected against the user's
// word).
int writeAccount(unsigned char* image, int slot, char* password) {
  const Account* account = &accounts[slot];
  AccountFile& file = accountFiles[slot];
  // A password that cannot be read here stays protected as it was, for
  // its owner, until another one is typed.
  int protect = account->protectPassword != 0 || account->passwordLost;
  if (protect && !account->passwordLost && !protectPassword(slot)) return 0;
  if (!protect) file.protectedLength = 0;
  if (!writeTexts(image, 0, ACCOUNT_TEXTS, slot, protect, password)) return 0;
  image[AT_PORT_HIGH] = (unsigned char)((account->port >> 8) & 0xFF);
  image[AT_PORT_LOW] = (unsigned char)(account->port & 0xFF);
  image[AT_INTERVAL] = (unsigned char)(account->intervalMinutes & 0xFF);
  image[AT_USE_APOP] = (unsigned char)(account->useApop & 0xFF);
  image[AT_CONNECTION_SECURITY] = (unsigned char)(account->connectionSecurity & 0xFF);
  image[AT_FAST_SCAN] = (unsigned char)(account->fastScan & 0xFF);
  image[AT_PASSWORD_PROTECTED] = (unsigned char)protect;
  image[AT_PROTECTED_LENGTH] = (unsigned char)(file.protectedLength & 0xFF);
  image[AT_PROTECTED_LENGTH + 1] = (unsigned char)(file.protectedLength >> 8);
  memcpy(image + AT_PROTECTED_PASSWORD, file.protectedPassword, file.protectedLength);
  image[AT_SHOW_PREVIEWS] = (unsigned char)(account->showPreviews & 0xFF);
  image[AT_PROTOCOL] = (unsigned char)(account->mailProtocol & 0xFF);
  return 1;
}

int writeProgram(unsigned char* image) {
  char unused[SHORT_FILE_TEXT_BYTES];
  if (!writeTexts(image, ACCOUNT_TEXTS, TEXT_FIELDS, 0, 0, unused)) return 0;
  for (const ByteField& field : byteFields)
    image[field.offset] = (unsigned char)(*byteField(field) & 0xFF);
  image[AT_NOTIFY_BALLOON] = (unsigned char)(settings.notifyBalloon & 0xFF);
  writeManners(image);
  return 1;
}

// Everything after the original record is complemented as a whole.
void finishImage(unsigned char* image) {
  flipOriginalBytes(image);
  scrambleBytes(image + AT_ACCOUNT_NAME + SHORT_FILE_TEXT_BYTES,
                RECORD_BYTES - (AT_ACCOUNT_NAME + SHORT_FILE_TEXT_BYTES));
}

// What the file now holds of the slot's account is what its next save
// starts from.
void settleAccount(const unsigned char* image, int slot, const char* password) {
  for (size_t i = 0; i < ACCOUNT_TEXTS; i++) {
    memcpy(fileText(i, slot), image + fileTextsAt[i].offset, fileTextsAt[i].size);
    if (fileTextsAt[i].complemented) scrambleBytes(fileText(i, slot), fileTextsAt[i].size);
  }
  memcpy(fileText(PASSWORD_TEXT, slot), password, SHORT_FILE_TEXT_BYTES);
}

// The mailboxes after the first, from their file. A missing file means
// none; one that is not ours, or a record cut short, is read no further.
void loadAccountsFile() {
  accountCount = 1;
  HANDLE file = openDataFile(ACCOUNTS_FILE_NAME, GENERIC_READ, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return;
  static unsigned char image[ACCOUNTS_FILE_BYTES];
  DWORD got = 0;
  if (!ReadFile(file, image, sizeof image, &got, NULL)) got = 0;
  CloseHandle(file);
  unsigned char header[ACCOUNTS_HEADER_BYTES] = {};
  if (got >= ACCOUNTS_HEADER_BYTES) memcpy(header, image, ACCOUNTS_HEADER_BYTES);
  scrambleBytes(header, ACCOUNTS_HEADER_BYTES);
  int records = memcmp(header, ACCOUNTS_MAGIC, 4) == 0 ? header[AT_ACCOUNTS_COUNT] : 0;
  for (int i = 0; i < records && i < MOST_MAILBOXES - 1; i++) {
    DWORD at = ACCOUNTS_HEADER_BYTES + (DWORD)i * ACCOUNT_RECORD_STRIDE;
    if (got < at + ACCOUNT_RECORD_STRIDE) break;
    unsigned char* record = image + at;
    int slot = accountCount++;
    // Read as the settings file is.
    flipOriginalBytes(record);
    putAccountDefaults(&accounts[slot]);
    readAccount(record, RECORD_BYTES, slot);
    memcpy(accountFiles[slot].tail, record + RECORD_BYTES, sizeof accountFiles[slot].tail);
  }
  wipe(image, sizeof image);
}

// The accounts after the first into their file, or no file without them.
int saveAccountsFile() {
  if (accountCount == 1) {
    DeleteFileW(wide(ACCOUNTS_FILE_NAME).text);
    return 1;
  }
  static unsigned char image[ACCOUNTS_FILE_BYTES];
  static char passwords[MOST_MAILBOXES][SHORT_FILE_TEXT_BYTES];
  memset(image, 0, sizeof image);
  memcpy(image, ACCOUNTS_MAGIC, 4);
  image[AT_ACCOUNTS_COUNT] = (unsigned char)(accountCount - 1);
  scrambleBytes(image, ACCOUNTS_HEADER_BYTES);
  int complete = 1;
  for (int slot = 1; slot < accountCount && complete; slot++) {
    unsigned char* record = image + ACCOUNTS_HEADER_BYTES + (slot - 1) * ACCOUNT_RECORD_STRIDE;
    complete = writeAccount(record, slot, passwords[slot]);
    finishImage(record);
    memcpy(record + RECORD_BYTES, accountFiles[slot].tail, sizeof accountFiles[slot].tail);
  }
  // Whole, so that nothing of a mailbox removed stays behind.
  int written = complete && writeDataFile(ACCOUNTS_FILE_NAME, image, ACCOUNTS_FILE_BYTES);
  for (int slot = 1; written && slot < accountCount; slot++)
    settleAccount(image + ACCOUNTS_HEADER_BYTES + (slot - 1) * ACCOUNT_RECORD_STRIDE, slot,
                  passwords[slot]);
  wipe(passwords, sizeof passwords);
  wipe(image, sizeof image);
  return written;
}

// A mailbox's name in the cat's words: its own, or its place.
void nameOf(const Account* account, char* text, size_t size) {
  if (account->accountName[0] != '\0')
    snprintf(text, size, "「%s」", account->accountName);
  else
    snprintf(text, size, "%d番目のメールボックス", (int)(account - accounts) + 1);
}

}  // namespace

void setDefaultSettings() {
  putDefaults(&settings);
  for (int slot = 0; slot < MOST_MAILBOXES; slot++) {
    putAccountDefaults(&accounts[slot]);
    wipe(&accountFiles[slot], sizeof accountFiles[slot]);
    accountFiles[slot].origin = slot;
  }
  accountCount = 1;
  wipe(programTexts, sizeof programTexts);
}

void setDefaultAccount(Account* account) { putAccountDefaults(account); }

const char* accountProblem(const Account* account) {
  const char* problem = NULL;
  // An empty port box is stored as port 0, which no server listens on.
  if (account->serverHost[0] == '\0' || account->userId[0] == '\0' || account->port == 0)
    problem = "必須設定項目に空欄があるにゃ.\n設定してにゃ.";
  // A line break would end the command and begin one of its own.
  else if (hasLineBreak(account->userId) || hasLineBreak(account->password))
    problem = "ユーザーIDかパスワードに改行が入っているにゃ.\n設定し直してにゃ.";
  else if (account->connectionSecurity != SECURITY_NONE &&
           account->connectionSecurity != SECURITY_STLS &&
           account->connectionSecurity != SECURITY_TLS)
    problem = "暗号化の設定が壊れているにゃ.\nもう一度選んでにゃ.";
  // A protocol this version does not speak (a later version's file, or a
  // damaged one) gets no dialogue of another protocol with its server.
  else if (account->mailProtocol != PROTOCOL_POP3 && account->mailProtocol != PROTOCOL_IMAP)
    problem = "受信方式の設定がこの版では使えないにゃ.\n設定し直してにゃ.";
  else if (account->passwordLost)
    problem = "保存したパスワードが読めないにゃ.\nもう一度入れてにゃ.";
  if (problem == NULL || accountCount == 1) return problem;
  static char named[SHORT_TEXT_BYTES + 160];
  char name[SHORT_TEXT_BYTES + 16];
  nameOf(account, name, sizeof name);
  snprintf(named, sizeof named, "%sの%s", name, problem);
  return named;
}

const char* settingsProblem() {
  for (int slot = 0; slot < accountCount; slot++) {
    const char* problem = accountProblem(&accounts[slot]);
    if (problem != NULL) return problem;
  }
  return NULL;
}

// The whole file is read at once and taken apart in memory; the accounts
// file after it.
int loadSettings() {
  HANDLE file = openDataFile(SETTINGS_FILE_NAME, GENERIC_READ, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return -1;
    // A first start: the record the sheet shows and saves is a new
    // user's, who gets the quick check and the previews of new mail. A
    // file that only lacks the bytes keeps what it always had.
    accounts[0].fastScan = 1;
    accounts[0].showPreviews = 1;
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
  flipOriginalBytes(image);
  readProgram(image, got);
  readAccount(image, got, 0);
  wipe(image, sizeof image);
  loadAccountsFile();
  return 1;
}

// The whole record goes from offset 0 in one write, so a longer file keeps
// its tail and a shorter one grows to the full size. Returns 0 when a
// file cannot be opened, the record was not written in full, or Windows
// would not protect a password (then the file stays as it was).
int saveSettings() {
  unsigned char image[RECORD_BYTES];
  char password[SHORT_FILE_TEXT_BYTES];
  memset(image, 0, sizeof image);
  int complete = writeAccount(image, 0, password) && writeProgram(image);
  finishImage(image);
  int written = complete && writeDataFile(SETTINGS_FILE_NAME, image, RECORD_BYTES);
  if (written) {
    settleAccount(image, 0, password);
    for (size_t i = ACCOUNT_TEXTS; i < TEXT_FIELDS; i++) {
      memcpy(fileText(i, 0), image + fileTextsAt[i].offset, fileTextsAt[i].size);
      scrambleBytes(fileText(i, 0), fileTextsAt[i].size);
    }
  }
  wipe(password, sizeof password);
  wipe(image, sizeof image);
  return written && saveAccountsFile();
}

int addAccount() {
  if (accountCount == MOST_MAILBOXES) return 0;
  int slot = accountCount++;
  putAccountDefaults(&accounts[slot]);
  for (size_t i = 0; i < ACCOUNT_TEXTS; i++) memset(*textSlot(i, slot), 0, memorySize(i));
  wipe(&accountFiles[slot], sizeof accountFiles[slot]);
  accountFiles[slot].origin = -1;
  return 1;
}

// The record moves with its text slots, so that each slot stays owned by
// one record.
void swapAccounts(int slot, int other) {
  Account account = accounts[slot];
  accounts[slot] = accounts[other];
  accounts[other] = account;
  static AccountFile file;
  file = accountFiles[slot];
  accountFiles[slot] = accountFiles[other];
  accountFiles[other] = file;
  wipe(&file, sizeof file);
}

void removeAccount(int slot) {
  if (accountCount == 1) return;
  for (int i = slot; i + 1 < accountCount; i++) swapAccounts(i, i + 1);
  accountCount--;
  for (size_t i = 0; i < ACCOUNT_TEXTS; i++) memset(*textSlot(i, accountCount), 0, memorySize(i));
  wipe(&accountFiles[accountCount], sizeof accountFiles[accountCount]);
}

int accountOrigin(int slot) { return accountFiles[slot].origin; }

void settleAccountOrigins() {
  for (int slot = 0; slot < MOST_MAILBOXES; slot++) accountFiles[slot].origin = slot;
}

int fileBytesOf(const char* text, char* bytes, size_t size) {
  char shown[LONG_TEXT_BYTES];
  for (int slot = 0; slot < MOST_MAILBOXES; slot++) {
    for (size_t i = 0; i < TEXT_FIELDS; i++) {
      if (*textSlot(i, slot) != text) continue;
      fileTextToUtf8(fileText(i, slot), shown, memorySize(i));
      int unchanged = strcmp(shown, text) == 0 && strlen(fileText(i, slot)) < size;
      wipe(shown, sizeof shown);
      if (!unchanged) return utf8ToSjis(text, bytes, size);
      memcpy(bytes, fileText(i, slot), strlen(fileText(i, slot)) + 1);
      return 1;
    }
  }
  return utf8ToSjis(text, bytes, size);
}
