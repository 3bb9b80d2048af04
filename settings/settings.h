// The user's configuration and its file, KivvetLE.cfg.
#ifndef KIVVET_SETTINGS_SETTINGS_H
#define KIVVET_SETTINGS_SETTINGS_H

#include "platform/win32.h"

const DWORD SHORT_TEXT_BYTES = 128;  // serverHost, userId, password, accountName
const DWORD LONG_TEXT_BYTES = 256;   // voicePath, mailerPath, mailerArgs
// The original record is 1291 bytes; the connection security byte and
// the fast scan byte follow.
const DWORD SETTINGS_FILE_BYTES = 1293;

// How a check reaches the server.
const int SECURITY_NONE = 0;  // plain text, as the original record knew it
const int SECURITY_STLS = 1;  // the plain port, then STLS before logging in
const int SECURITY_TLS = 2;   // TLS from the first byte (usually port 995)
const int POP3_PORT = 110;    // the plain port, and the default
const int IMPLICIT_TLS_PORT = 995;

extern const char SETTINGS_FILE_NAME[];

// Text fields point at fixed slots that start-up allocates zero-filled; each
// text ends with a NUL inside its slot.
struct Settings {
  char* serverHost;
  char* userId;
  char* password;
  int port;
  int intervalMinutes;
  int checkAtStartup;
  int soundNotify;
  int useVoice;
  int soundNewOnly;
  int customVoice;
  char* voicePath;
  char* mailerPath;
  char* mailerArgs;
  int tooltipMode;
  int blinkNewOnly;
  int useApop;
  char* accountName;
  int connectionSecurity;  // SECURITY_*; a file without the byte means none
  int fastScan;            // 1: new mail is counted from one UIDL listing; 0: UIDL per message
  int showSplash;          // not stored: the -TOFF switch clears it
};

extern Settings settings;

// The record as it stands before anything is loaded (texts untouched).
void setDefaultSettings();
// 1: loaded; 0: there is no file; -1: the file is there but cannot be
// read (another program holds it, or it may not be opened).
int loadSettings();
int saveSettings();

#endif
