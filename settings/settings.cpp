// KivvetLE.cfg: a headerless record of 1291 bytes, and one byte after it
// for the connection security, so that every older offset stays put.
// Every field but the account name is stored complemented, so the password
// is at least not legible in a hex dump. Single-byte fields come back
// sign-widened, and the port is stored big-endian.
#include "settings/settings.h"

#include <string.h>

#include "app/appstate.h"

const char SETTINGS_FILE_NAME[] = "KivvetLE.cfg";

Settings settings = {nullptr, nullptr, nullptr, 110, 10, 1, 1, 1, 0, 0,
                     nullptr, nullptr, nullptr, 0,   0,  0, nullptr, SECURITY_NONE, 1};

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

struct TextField {
  char** slot;
  DWORD offset;
  DWORD size;
  int complemented;
};

struct ByteField {
  int* value;
  DWORD offset;
};

const TextField textFields[] = {
    {&settings.serverHost, AT_SERVER_HOST, SHORT_TEXT_BYTES, 1},
    {&settings.userId, AT_USER_ID, SHORT_TEXT_BYTES, 1},
    {&settings.password, AT_PASSWORD, SHORT_TEXT_BYTES, 1},
    {&settings.voicePath, AT_VOICE_PATH, LONG_TEXT_BYTES, 1},
    {&settings.mailerPath, AT_MAILER_PATH, LONG_TEXT_BYTES, 1},
    {&settings.mailerArgs, AT_MAILER_ARGS, LONG_TEXT_BYTES, 1},
    {&settings.accountName, AT_ACCOUNT_NAME, SHORT_TEXT_BYTES, 0},
};

const ByteField byteFields[] = {
    {&settings.intervalMinutes, AT_INTERVAL},     {&settings.checkAtStartup, AT_CHECK_AT_STARTUP},
    {&settings.soundNotify, AT_SOUND_NOTIFY},     {&settings.useVoice, AT_USE_VOICE},
    {&settings.soundNewOnly, AT_SOUND_NEW_ONLY},  {&settings.customVoice, AT_CUSTOM_VOICE},
    {&settings.tooltipMode, AT_TOOLTIP_MODE},     {&settings.blinkNewOnly, AT_BLINK_NEW_ONLY},
    {&settings.useApop, AT_USE_APOP},
};

int signedByte(unsigned char byte) { return (int)(signed char)byte; }

const int FILE_RETRIES = 5;
const DWORD FILE_RETRY_MS = 100;

}  // namespace

HANDLE openDataFile(const char* name, DWORD access, DWORD disposition) {
  for (int attempt = 0;; attempt++) {
    HANDLE file = CreateFileA(name, access, 0, NULL, disposition, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION ||
        attempt == FILE_RETRIES)
      return file;
    Sleep(FILE_RETRY_MS);
  }
}

// The file is opened without truncating it, so a longer file keeps its
// tail, and written in one piece.
int writeDataFile(const char* name, const void* image, DWORD size) {
  int existed = GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
  HANDLE file = openDataFile(name, GENERIC_WRITE, OPEN_ALWAYS);
  if (file == INVALID_HANDLE_VALUE) return 0;
  DWORD written = 0;
  BOOL ok = WriteFile(file, image, size, &written, NULL) && written == size;
  CloseHandle(file);
  if (!ok && !existed) DeleteFileA(name);
  return ok;
}

// Eight bytes at a time: the known-UID file is 32 KB.
void scrambleBytes(void* bytes, DWORD length) {
  unsigned char* p = (unsigned char*)bytes;
  DWORD i = 0;
  for (; i + 8 <= length; i += 8) {
    unsigned long long word;
    memcpy(&word, p + i, 8);
    word = ~word;
    memcpy(p + i, &word, 8);
  }
  for (; i < length; i++) p[i] = (unsigned char)~p[i];
}

void setDefaultSettings() {
  settings.port = 110;
  settings.intervalMinutes = 10;
  settings.checkAtStartup = 1;
  settings.soundNotify = 1;
  settings.useVoice = 1;
  settings.soundNewOnly = 0;
  settings.customVoice = 0;
  settings.tooltipMode = 0;
  settings.blinkNewOnly = 0;
  settings.useApop = 0;
  settings.connectionSecurity = SECURITY_NONE;
  settings.showSplash = 1;
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
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : -1;
  }

  unsigned char image[SETTINGS_FILE_BYTES];
  DWORD got = 0;
  if (!ReadFile(file, image, sizeof image, &got, NULL)) got = 0;
  CloseHandle(file);
  // Bytes the file did not deliver count as zero before complementing.
  memset(image + got, 0, sizeof image - got);

  for (const TextField& field : textFields) {
    char* slot = *field.slot;
    DWORD delivered = got > field.offset ? got - field.offset : 0;
    if (delivered > field.size) delivered = field.size;
    memcpy(slot, image + field.offset, delivered);
    if (field.complemented) scrambleBytes(slot, delivered);
    // A slot the file ended inside keeps what was read, and no more.
    memset(slot + delivered, 0, field.size - delivered);
    slot[field.size - 1] = '\0';
  }

  scrambleBytes(image + AT_PORT_HIGH, AT_VOICE_PATH - AT_PORT_HIGH);
  scrambleBytes(image + AT_TOOLTIP_MODE, AT_ACCOUNT_NAME - AT_TOOLTIP_MODE);
  settings.port = signedByte(image[AT_PORT_HIGH]) * 256 + image[AT_PORT_LOW];
  for (const ByteField& field : byteFields) *field.value = signedByte(image[field.offset]);
  // The interval is a count of 1..255 minutes and comes back unsigned, so
  // that every interval the sheet accepts survives a restart. A byte the
  // sheet never writes (0, or one the file does not reach) means the
  // default rather than a timer that runs every minute or never.
  settings.intervalMinutes = got > AT_INTERVAL ? image[AT_INTERVAL] : 0;
  if (settings.intervalMinutes == 0) settings.intervalMinutes = DEFAULT_INTERVAL_MINUTES;

  // A file from before the byte existed, or a value this program does not
  // know, means plain text: the sheet then shows what a check will do.
  int security = got > AT_CONNECTION_SECURITY ? (unsigned char)~image[AT_CONNECTION_SECURITY] : 0;
  settings.connectionSecurity =
      security == SECURITY_STLS || security == SECURITY_TLS ? security : SECURITY_NONE;
  return 1;
}

// The whole record goes from offset 0 in one write, so a longer file keeps
// its tail and a shorter one grows to the full size. Returns 0 when the
// file cannot be opened or the record was not written in full.
int saveSettings() {
  unsigned char image[SETTINGS_FILE_BYTES];
  for (const TextField& field : textFields) {
    memcpy(image + field.offset, *field.slot, field.size);
    if (field.complemented) scrambleBytes(image + field.offset, field.size);
  }
  image[AT_PORT_HIGH] = (unsigned char)((settings.port >> 8) & 0xFF);
  image[AT_PORT_LOW] = (unsigned char)(settings.port & 0xFF);
  for (const ByteField& field : byteFields) image[field.offset] = (unsigned char)(*field.value & 0xFF);
  scrambleBytes(image + AT_PORT_HIGH, AT_VOICE_PATH - AT_PORT_HIGH);
  scrambleBytes(image + AT_TOOLTIP_MODE, AT_ACCOUNT_NAME - AT_TOOLTIP_MODE);
  image[AT_CONNECTION_SECURITY] = (unsigned char)~(settings.connectionSecurity & 0xFF);
  return writeDataFile(SETTINGS_FILE_NAME, image, sizeof image);
}
