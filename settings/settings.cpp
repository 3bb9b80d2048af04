// KivvetLE.cfg: a headerless record of 1291 bytes, and bytes after it
// for the connection security and fast scan, so that every older offset
// stays put.
// Every field but the account name is stored complemented, so the password
// is at least not legible in a hex dump. Single-byte fields come back
// sign-widened, and the port is stored big-endian.
#include "settings/settings.h"

#include <string.h>

#include "app/appstate.h"
#include "app/datafile.h"

const char SETTINGS_FILE_NAME[] = "KivvetLE.cfg";

namespace {

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
  record->fastScan = 0;
  record->showSplash = 1;
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

}  // namespace

void setDefaultSettings() { putDefaults(&settings); }

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
  // Likewise the walk of old, unless the file asks for fast scan.
  settings.fastScan = got > AT_FAST_SCAN && (unsigned char)~image[AT_FAST_SCAN] == 1 ? 1 : 0;
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
  for (const ByteField& field : byteFields)
    image[field.offset] = (unsigned char)(*field.value & 0xFF);
  scrambleBytes(image + AT_PORT_HIGH, AT_VOICE_PATH - AT_PORT_HIGH);
  scrambleBytes(image + AT_TOOLTIP_MODE, AT_ACCOUNT_NAME - AT_TOOLTIP_MODE);
  image[AT_CONNECTION_SECURITY] = (unsigned char)~(settings.connectionSecurity & 0xFF);
  image[AT_FAST_SCAN] = (unsigned char)~(settings.fastScan & 0xFF);
  return writeDataFile(SETTINGS_FILE_NAME, image, sizeof image);
}
