// Every change of the icon goes through setTrayIcon, always with both a
// picture and a tooltip, so the tray shows exactly what the last accepted
// request asked for.
#include "tray/trayicon.h"

#include <stdio.h>
#include <string.h>

#include "base/appstate.h"
#include "base/system.h"
#include "base/text.h"
#include "settings/settings.h"
#include "tray/badge.h"
#include "tray/notify.h"
#include "tray/previews.h"

namespace {

const int TRAY_ATTEMPTS = 6;
const DWORD TRAY_RETRY_PAUSE_MS = 1000;
const size_t TOOLTIP_UNITS = 64;        // szTip of the record's first form: WCHARs with the NUL
const size_t PROGRESS_BYTES = 256;      // a progress text in UTF-8
const UINT BALLOON_TIMEOUT_MS = 10000;  // what Windows before Vista heeds
const int SMALL_ICON = 16;              // pixels at 100 %

struct Tray {
  // 1 while the shell holds our icon: a change to an icon that is not
  // there would only be refused, after the whole retry pause.
  int iconShown;
  int retrying;  // TIMER_TRAY runs: the shell refused the icon so far
};
Tray tray;

// What the last accepted change showed, and the text it was asked with
// (as much as the tooltip can hold: 51 UTF-16 units follow the title).
char shownIcon[16];
WCHAR shownTip[TOOLTIP_UNITS];
char shownText[256];
DWORD shownBadge;  // the count drawn into the picture
// A progress text waiting for TIMER_PROGRESS; empty when none waits.
char pendingProgress[PROGRESS_BYTES];

// The pictures with the count, made once for each picture the
// announcement shows (the voice's and the blink's) and kept until the
// count or the size changes: the shell copies an icon, so a picture may go
// as soon as the tray holds a newer one.
const int BADGED_PICTURES = 6;
struct BadgedPicture {
  char name[16];
  HICON icon;
};
struct Badge {
  DWORD count;  // 0: no badge
  int size;     // of the pictures made
  BadgedPicture pictures[BADGED_PICTURES];
  int made;
};
Badge badge;

void dropBadgedPictures() {
  for (int i = 0; i < badge.made; i++) DestroyIcon(badge.pictures[i].icon);
  badge.made = 0;
}

// The named picture with the count, or NULL for the plain one (no count,
// or Windows would not make it).
HICON badgedPicture(const char* iconName, int size) {
  if (badge.count == 0) return NULL;
  if (size != badge.size) {
    dropBadgedPictures();
    badge.size = size;
  }
  for (int i = 0; i < badge.made; i++)
    if (strcmp(badge.pictures[i].name, iconName) == 0) return badge.pictures[i].icon;
  if (badge.made == BADGED_PICTURES) dropBadgedPictures();
  HICON icon = makeBadgedIcon(iconName, size, badge.count);
  if (icon == NULL) return NULL;
  copyWholeCharacters(badge.pictures[badge.made].name, sizeof badge.pictures[0].name, iconName);
  badge.pictures[badge.made++].icon = icon;
  return icon;
}

char trayNote[64];
// Of a mailbox's name, the tooltip shows up to ten characters.
const size_t MAILBOX_TIP_NAME_BYTES = 10 * 3 + 1;

void appendText(char* work, size_t size, const char* text) {
  size_t used = strlen(work);
  copyWholeCharacters(work + used, size - used, text);
}

// "Kivvet LE - " and then the caller's text, or what tooltipMode selects.
// The result is cut to the tooltip field on a character boundary; the
// rest of the field is zero, so that two tips compare whole.
void composeTooltip(const char* text, WCHAR* tip) {
  char work[512];
  char counts[32];  // two unsigned counts and " : " need up to 24 bytes
  snprintf(work, sizeof work, "%s - ", APP_TITLE);
  if (text[0] != '\0') {
    appendText(work, sizeof work, text);
  } else if (accountCount > 1) {
    // A line for each mailbox: its name, cut short, and its counts.
    for (int slot = 0; slot < accountCount; slot++) {
      char name[MAILBOX_TIP_NAME_BYTES];
      if (accounts[slot].accountName[0] != '\0')
        copyWholeCharacters(name, sizeof name, accounts[slot].accountName);
      else
        snprintf(name, sizeof name, "%d", slot + 1);
      snprintf(counts, sizeof counts, ": %u/%u", (unsigned)newCountOf(slot),
               (unsigned)countsOf(slot)->messageCount);
      if (slot > 0) appendText(work, sizeof work, "\n");
      appendText(work, sizeof work, name);
      appendText(work, sizeof work, counts);
    }
  } else if (settings.tooltipMode == 1) {
    snprintf(counts, sizeof counts, "%u/%u", (unsigned)shownNewCount(),
             (unsigned)shownCounts()->messageCount);
    appendText(work, sizeof work, counts);
  } else if (settings.tooltipMode == 2) {
    appendText(work, sizeof work, accounts[0].accountName);
    snprintf(counts, sizeof counts, " : %u/%u", (unsigned)shownNewCount(),
             (unsigned)shownCounts()->messageCount);
    appendText(work, sizeof work, counts);
  } else {
    appendText(work, sizeof work, accounts[0].accountName);
  }
  if (text[0] == '\0' && trayNote[0] != '\0') {
    appendText(work, sizeof work, "\n");
    appendText(work, sizeof work, trayNote);
  }
  memset(tip, 0, TOOLTIP_UNITS * sizeof(WCHAR));
  toWide(work, tip, TOOLTIP_UNITS);
}

// The tray shows small icons: at 150 % scaling it asks for 24 pixels,
// which the resources hold, rather than a 32-pixel icon shrunk. It lies on
// the primary monitor's taskbar and follows that monitor's scaling, which
// the user may have changed since the log-on (the system's small-icon
// metric keeps the old one); the shell then announces a new taskbar and
// the icon is added again at the new size.
int smallIconSize() {
  POINT primary = {0, 0};
  return SMALL_ICON * monitorDpi(primary) / BASE_DPI;
}

// A removal names the icon and nothing else: at shutdown the settings
// it would otherwise read have already been released.
void fillRecord(HWND window, DWORD action, const char* iconName, const char* text,
                NOTIFYICONDATAW* record) {
  memset(record, 0, sizeof *record);
  record->cbSize = NOTIFYICONDATAW_V1_SIZE;
  record->hWnd = window;
  record->uID = TRAY_ICON_ID;
  if (action == NIM_DELETE) return;
  record->uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  record->uCallbackMessage = MSG_TRAY_NOTIFY;
  int size = smallIconSize();
  record->hIcon = badgedPicture(iconName, size);
  if (record->hIcon == NULL)
    record->hIcon =
        (HICON)LoadImageW(app.appInstance, wide(iconName).text, IMAGE_ICON, size, size, LR_SHARED);
  composeTooltip(text, record->szTip);
}

void remember(const char* iconName, const char* text, const NOTIFYICONDATAW& record) {
  copyWholeCharacters(shownIcon, sizeof shownIcon, iconName);
  copyWholeCharacters(shownText, sizeof shownText, text);
  memcpy(shownTip, record.szTip, sizeof shownTip);  // composeTooltip zeroed its tail
  shownBadge = badge.count;
}

}  // namespace

void initTrayIcon() {
  tray = Tray();
  badge = Badge();
  shownIcon[0] = '\0';
  shownBadge = 0;
  pendingProgress[0] = '\0';
  trayNote[0] = '\0';
}

namespace {

// What each mailbox's last check failed with, while it stands.
char failures[MOST_MAILBOXES][FAILURE_TEXT_BYTES];

}  // namespace

void showMailboxFailure(int slot, const char* text) {
  if (slot < 0 || slot >= MOST_MAILBOXES) return;
  copyWholeCharacters(failures[slot], FAILURE_TEXT_BYTES, text != NULL ? text : "");
}

void forgetMailboxFailures() { memset(failures, 0, sizeof failures); }

void setTrayIcon(HWND window, DWORD action, const char* iconName, const char* text) {
  // With several mailboxes, the plain icon gives way to a failure that
  // stands, so that one mailbox's news cannot hide another's trouble.
  for (int slot = 0; accountCount > 1 && slot < accountCount; slot++) {
    if (strcmp(iconName, "APPICON") != 0 || text[0] != '\0' || failures[slot][0] == '\0') continue;
    iconName = "NOGOODICON";
    text = failures[slot];
  }
  // The shell refuses to change or remove an icon it does not hold, and
  // each refusal would cost the whole retry pause (as at the first start,
  // when the settings sheet closes before the icon has been added).
  if (action != NIM_ADD && !tray.iconShown) return;
  if (pendingProgress[0] != '\0') {
    KillTimer(window, TIMER_PROGRESS);
    pendingProgress[0] = '\0';
  }

  NOTIFYICONDATAW record;
  fillRecord(window, action, iconName, text, &record);

  // The shell may not be ready yet (early in a log-on): try again a few
  // times before giving up silently.
  BOOL accepted = Shell_NotifyIconW(action, &record);
  for (int attempt = 1; !accepted && attempt < TRAY_ATTEMPTS && !app.windowGone; attempt++) {
    Sleep(TRAY_RETRY_PAUSE_MS);
    accepted = Shell_NotifyIconW(action, &record);
  }

  // An add is also refused when the shell still holds the icon (a
  // "TaskbarCreated" that did not come from a new taskbar): then the icon
  // is there, and a change shows what was asked.
  if (action == NIM_ADD && !accepted) accepted = Shell_NotifyIconW(NIM_MODIFY, &record);
  if (action == NIM_ADD) tray.iconShown = accepted ? 1 : 0;
  if (action == NIM_DELETE) {
    tray.iconShown = 0;
    setTrayBadge(0);
  }
  if (accepted && action != NIM_DELETE) remember(iconName, text, record);
  if (!tray.iconShown) shownIcon[0] = '\0';
  // Early in a log-on the shell may refuse for longer than the pauses
  // above, and "TaskbarCreated" may never come: keep trying now and then
  // until the icon is there.
  if (action == NIM_ADD && !accepted) {
    SetTimer(window, TIMER_TRAY, TRAY_RETRY_MS, trayRetryTimerProc);
    tray.retrying = 1;
  } else if (tray.retrying && (action == NIM_ADD || action == NIM_DELETE)) {
    KillTimer(window, TIMER_TRAY);
    tray.retrying = 0;
  }
}

// The announcement keeps its picture, its tooltip and its count (the
// quiet one has no next frame to bring them back); anything else, a
// failure's picture included, gives way to the normal cat.
void addTrayIconAgain(HWND window) {
  // Copies: the change remembers what it shows in the same places.
  char iconName[sizeof shownIcon] = "APPICON";
  char text[sizeof shownText] = "";
  if (announcing() && shownIcon[0] != '\0') {
    memcpy(iconName, shownIcon, sizeof iconName);
    memcpy(text, shownText, sizeof text);
  }
  setTrayIcon(window, NIM_ADD, iconName, text);
}

void CALLBACK trayRetryTimerProc(HWND window, UINT, UINT_PTR, DWORD) {
  NOTIFYICONDATAW record;
  fillRecord(window, NIM_ADD, "APPICON", "", &record);
  // One attempt each time: the timer is the pause.
  if (!Shell_NotifyIconW(NIM_ADD, &record)) return;
  tray.iconShown = 1;
  remember("APPICON", "", record);
  KillTimer(window, TIMER_TRAY);
  tray.retrying = 0;
}

// Each change of the tray waits for the shell's process, some milliseconds
// and more on a busy machine, while a near server answers a step in well
// under one. WM_TIMER comes only when no other message waits, so during a
// quick dialogue only the text the user can actually see is sent.
namespace {

void CALLBACK progressTimerProc(HWND window, UINT, UINT_PTR, DWORD) {
  char text[PROGRESS_BYTES];
  memcpy(text, pendingProgress, sizeof text);
  setTrayIcon(window, NIM_MODIFY, "APPICON", text);
}

}  // namespace

void setTrayProgress(HWND window, const char* text) {
  if (!tray.iconShown) return;
  copyWholeCharacters(pendingProgress, sizeof pendingProgress, text);
  SetTimer(window, TIMER_PROGRESS, PROGRESS_DELAY_MS, progressTimerProc);
}

// The pictures made for another count go; the tray keeps its copy of
// the one it shows until the next change.
void setTrayBadge(DWORD count) {
  if (count == badge.count) return;
  dropBadgedPictures();
  badge.count = count;
}

int trayShows(const char* iconName, const char* text) {
  WCHAR tip[TOOLTIP_UNITS];
  composeTooltip(text, tip);
  // A change still to come is not what the tray shows.
  return tray.iconShown && pendingProgress[0] == '\0' && strcmp(shownIcon, iconName) == 0 &&
         memcmp(shownTip, tip, sizeof tip) == 0 && shownBadge == badge.count;
}

// The balloon needs the record's second form (Windows 2000 and later,
// with or without the common controls 6 of the manifest); its own sound
// is left out, since the cat speaks already, and Windows holds it back
// in its quiet time (7 and later). One attempt: a balloon is not worth
// the retry pauses.
void showBalloon(HWND window, const char* title, const char* text) {
  if (!tray.iconShown) return;
  NOTIFYICONDATAW record;
  memset(&record, 0, sizeof record);
  record.cbSize = NOTIFYICONDATAW_V2_SIZE;
  record.hWnd = window;
  record.uID = TRAY_ICON_ID;
  record.uFlags = NIF_INFO;
  toWide(title, record.szInfoTitle, sizeof record.szInfoTitle / sizeof(WCHAR));
  static_assert(sizeof record.szInfo / sizeof(WCHAR) == BALLOON_TEXT_UNITS, "the balloon's text");
  toWide(text, record.szInfo, BALLOON_TEXT_UNITS);
  record.uTimeout = BALLOON_TIMEOUT_MS;
  record.dwInfoFlags = NIIF_INFO | NIIF_NOSOUND | NIIF_RESPECT_QUIET_TIME;
  Shell_NotifyIconW(NIM_MODIFY, &record);
}

void setTrayNote(const char* note) { copyWholeCharacters(trayNote, sizeof trayNote, note); }
