// The user's configuration and its file, KivvetLE.cfg.
#ifndef KIVVET_SETTINGS_SETTINGS_H
#define KIVVET_SETTINGS_SETTINGS_H

#include "base/appstate.h"

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

// A mailbox's account: where and how its mail is checked. Text fields
// point at fixed slots that start-up allocates zero-filled; each text ends
// with a NUL inside its slot.
struct Account {
  char* serverHost;
  char* userId;
  char* password;
  char* accountName;  // the mailbox's name, in the tooltip and the balloon
  int port;
  int intervalMinutes;
  int useApop;
  int connectionSecurity;  // SECURITY_*; a file without the byte means none;
                           // any other value is kept and refused by a check
  int protectPassword;     // 1: the file holds the password protected by
                           // Windows for this user, and the slot stays empty
  int fastScan;            // 1: new mail is counted from one UIDL listing; 0: UIDL per message
  int showPreviews;        // 1: the headers of the newest new messages are fetched (TOP n 0)
                           // and their senders and subjects shown; 0: counts only
  int mailProtocol;        // PROTOCOL_*; a file without the byte means POP3;
                           // any other value is kept and refused by a check
  int passwordLost;        // not stored: the protected password could not be
                           // unprotected (another user or machine); the slot
                           // is empty until the user enters the password again
};

// The program's own settings, one for all its mailboxes.
struct Settings {
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
  int notifyBalloon;  // 1: new mail is also told in a balloon
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
};

// The file of the mailboxes after the first, beside the settings file.
extern const char ACCOUNTS_FILE_NAME[];

// The accounts, one per mailbox slot: slot 0 in KivvetLE.cfg, where it
// always was, the others in the accounts file. accountCount are in use
// (at least one), in the user's order. settings/settings.cpp (loading)
// and sheet/ write them.
extern Account accounts[MOST_MAILBOXES];
extern int accountCount;

// The text slots of the records, by offset in their record, for the code
// that allocates and releases them.
struct TextSlot {
  int ofAccount;  // 1: a member of each Account; 0: of Settings
  size_t member;  // offsetof the char* in its record
  DWORD bytes;
};
extern const TextSlot TEXT_SLOTS[];
extern const size_t TEXT_SLOT_COUNT;
char** textSlotOf(const TextSlot& slot, Settings* program, Account* account);
extern Settings settings;

// The records as they stand before anything is loaded (texts
// untouched): one mailbox.
void setDefaultSettings();
// An account's defaults, for a mailbox the user adds (texts untouched).
void setDefaultAccount(Account* account);
// Why a check of the account cannot run, as the cat tells the user before
// opening the sheet; NULL when nothing stands in the way. With several
// mailboxes the text names the account's.
const char* accountProblem(const Account* account);
// The first of the accounts' problems; NULL when every one can be checked.
const char* settingsProblem();
// 1: loaded; 0: there is no file; -1: the file is there but cannot be
// read (another program holds it, or it may not be opened).
// The accounts file is read with it: a missing or damaged one leaves the
// first mailbox alone.
int loadSettings();
// Writes both files (the accounts file only while there is a second
// mailbox; without one it is removed).
int saveSettings();
// The sheet's changes to the list of mailboxes. Each keeps what the file
// held of every account with it. Adding gives a new account its defaults
// (0 when all slots are taken); removing moves the later ones up.
int addAccount();
void removeAccount(int slot);
void swapAccounts(int slot, int other);
// The slot the account in slot had when the files were last read or
// written (-1: added since), for the files kept per mailbox to follow.
int accountOrigin(int slot);
// The files now hold the accounts as they are.
void settleAccountOrigins();
// The bytes of one of the records' texts (accounts[n].password) as the file
// holds them, with the NUL, into size bytes: those it was read or last
// written with while the text is as they show it (the bytes of another
// code page included), else the text in Shift-JIS. 0 when a changed text
// has no Shift-JIS form or does not fit.
int fileBytesOf(const char* text, char* bytes, size_t size);

#endif
