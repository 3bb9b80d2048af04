// What the user asks through the tray: the menu's commands, and the
// mouse on the icon.
#include "app/commands.h"

#include "app/mainwindow.h"
#include "base/appstate.h"
#include "base/paths.h"
#include "base/text.h"
#include "check/check.h"
#include "check/mailboxes.h"
#include "check/schedule.h"
#include "settings/settings.h"
#include "sheet/sheet.h"
#include "tray/mailer.h"
#include "tray/menu.h"
#include "tray/notify.h"
#include "tray/trayicon.h"

namespace {

const char HELP_FILE_NAME[] = "KivvetLE.html";

// The program's own page: the help page beside the program, which tells
// what the program is and where it comes from.
const char HOME_PAGE_FILE_NAME[] = "KivvetLE.html";

// Opens a document that lies beside the program, if it is there.
void openBesideProgram(HWND window, const char* name) {
  char path[3 * MAX_PATH + 32];
  if (!programDirectory(path, sizeof path) || !appendPath(path, sizeof path, name)) return;
  if (GetFileAttributesW(wide(path).text) == INVALID_FILE_ATTRIBUTES) return;
  ShellExecuteW(window, wide("open").text, wide(path).text, NULL, NULL, SW_SHOW);
}

void openHelp(HWND window) { openBesideProgram(window, HELP_FILE_NAME); }

void openHomePage(HWND window) { openBesideProgram(window, HOME_PAGE_FILE_NAME); }

// The settings, from the menu or because a check found them unusable:
// no automatic check comes while they are open, and the next one comes at
// the full interval after them, the tray no longer showing a failure.
// A session held open for the server's news ends first (the settings may
// name another server), and is taken up again once they close.
// Each mailbox's file follows its account through the sheet's changes.
void showSettings(HWND window, const char* reason) {
  int wasHeld[MOST_MAILBOXES] = {};
  for (int slot = 0; slot < accountCount; slot++) {
    stopSchedule(window, &mailboxes[slot]);
    wasHeld[slot] = leaveHeldSession(window, &mailboxes[slot]);
  }
  openSettingsSheet(window, reason);
  if (app.windowGone) return;
  followAccounts();
  for (int slot = 0; slot < accountCount; slot++) {
    resetRetries(&mailboxes[slot]);
    startIntervalTimer(window, &mailboxes[slot]);
    if (wasHeld[slot]) PostMessageW(window, MSG_CHECK_MAILBOX, (WPARAM)slot, CHECK_BY_TIMER);
  }
}

// The double click, and a message chosen in the menu: the announcement
// ends and the mail program starts.
void openMail(HWND window) {
  stopAnnouncement(window);
  setTrayIcon(window, NIM_MODIFY, "APPICON", "");
  // Closed meanwhile: the user is not left with a mail program.
  if (app.windowGone) return;
  if (settings.mailerPath[0] != '\0') launchMailer();
}

}  // namespace

void onSettingsNeeded(HWND window, WPARAM, LPARAM) {
  const char* problem = settingsProblem();
  if (problem != NULL) showSettings(window, problem);
}

void onCommand(HWND window, WPARAM wParam, LPARAM) {
  switch (LOWORD(wParam)) {
    case CMD_CHECK: checkAllMailboxes(window); break;
    case CMD_SETTINGS: showSettings(window, NULL); break;
    case CMD_HELP: openHelp(window); break;
    case CMD_HOMEPAGE: openHomePage(window); break;
    case CMD_EXIT: DestroyWindow(window); break;
    case CMD_STOP:
      stopAnnouncement(window);
      setTrayIcon(window, NIM_MODIFY, "APPICON", "");
      break;
    default:
      if (LOWORD(wParam) >= CMD_PREVIEW_FIRST && LOWORD(wParam) <= CMD_PREVIEW_LAST)
        openMail(window);
      break;
  }
}

void onCheckMailbox(HWND window, WPARAM wParam, LPARAM lParam) {
  Mailbox* box = mailboxInUse((int)wParam);
  if (box != NULL) startCheck(window, box, lParam == CHECK_BY_TIMER);
}

void onTrayNotify(HWND window, WPARAM, LPARAM lParam) {
  switch ((UINT)lParam) {
    case WM_RBUTTONUP: showTrayMenu(window); break;
    // A click on the balloon (the notification on Windows 10 and 11) asks
    // for the mail it told of, as the double click does.
    case WM_LBUTTONDBLCLK:
    case NIN_BALLOONUSERCLICK: openMail(window); break;
    default: break;
  }
}
