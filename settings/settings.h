// The user's configuration and its file, KivvetLE.cfg.
#ifndef KIVVET_SETTINGS_SETTINGS_H
#define KIVVET_SETTINGS_SETTINGS_H

#include "platform/win32.h"

// The file's text slots hold Shift-JIS, NUL included, as every version
// of the program reads them.
const DWORD SHORT_FILE_TEXT_BYTES = 128;  // serverHost, userId, password, accountName
const DWORD LONG_FILE_TEXT_BYTES = 256;   // voicePath, mailerPath, mailerArgs
// The slots in memory hold the same texts in UTF-8: up to three bytes
// for each Shift-JIS byte (a half-width katakana), and the NUL.
const DWORD SHORT_TEXT_BYTES = 3 * (SHORT_FILE_TEXT_BYTES - 1) + 1;
const DWORD LONG_TEXT_BYTES = 3 * (LONG_FILE_TEXT_BYTES - 1) + 1;
// Quiet hours that are not set.
const int QUIET_HOURS_NONE = 0xFFFF;
const int MINUTES_PER_DAY = 24 * 60;
// Windows' data protection turns the password into at most this much.
const DWORD PROTECTED_PASSWORD_BYTES = 512;

// How a check reaches the server.
const int SECURITY_NONE = 0;  // plain text, as the original record knew it
const int SECURITY_STLS = 1;  // the plain port, then STLS before logging in
const int SECURITY_TLS = 2;   // TLS from the first byte (usually port 995)
const int POP3_PORT = 110;    // the plain port, and the default
const int IMPLICIT_TLS_PORT = 995;

// Which protocol the mailbox speaks.
const int PROTOCOL_POP3 = 0;  // as the original record knew it
const int PROTOCOL_IMAP = 1;
const int IMAP_PORT = 143;
const int IMAP_TLS_PORT = 993;

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
  int connectionSecurity;  // SECURITY_*; a file without the byte means none;
                           // any other value is kept and refused by a check
  int protectPassword;     // 1: the file holds the password protected by
                           // Windows for this user, and the slot stays empty
  int fastScan;            // 1: new mail is counted from one UIDL listing; 0: UIDL per message
  int notifyBalloon;       // 1: new mail is also told in a balloon
  int showPreviews;        // 1: the headers of the newest new messages are fetched (TOP n 0)
                           // and their senders and subjects shown; 0: counts only
  int mailProtocol;        // PROTOCOL_*; a file without the byte means POP3;
                           // any other value is kept and refused by a check
  // The manners of the announcement on a busy desktop (their bytes follow
  // the previews').
  int quietWhileBusy;  // 1: no voice and no balloon while Windows says the user
                       // cannot be disturbed (full screen, presentation, quiet time)
  int quietFrom;       // quiet hours: the minute of the day they start and the one
  int quietUntil;      // they end (QUIET_HOURS_NONE in both: none)
  int showCount;       // 1: the new-mail count is drawn on the icon
  int keepTelling;     // 1: new mail stays told (count, blink) until the user looks
                       // or it is read elsewhere; 0: each check tells its own
  int showSplash;      // not stored: the -TOFF switch clears it
  int passwordLost;    // not stored: the protected password could not be
                       // unprotected (another user or machine); the slot
                       // is empty until the user enters the password again
};

extern Settings settings;

// The record as it stands before anything is loaded (texts untouched).
void setDefaultSettings();
// Why a check cannot run with these settings, as the cat tells the user
// before opening the sheet; NULL when nothing stands in the way.
const char* settingsProblem();
// 1: loaded; 0: there is no file; -1: the file is there but cannot be
// read (another program holds it, or it may not be opened).
int loadSettings();
int saveSettings();
// The bytes of one of the record's texts (settings.password) as the file
// holds them, with the NUL, into size bytes: those it was read or last
// written with while the text is as they show it (the bytes of another
// code page included), else the text in Shift-JIS. 0 when a changed text
// has no Shift-JIS form or does not fit.
int fileBytesOf(const char* text, char* bytes, size_t size);

#endif
