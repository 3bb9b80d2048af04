// The tray menu's commands and the mouse on the icon.
#include "tray/menu.h"

#include "app/appstate.h"
#include "check/check.h"
#include "settings/settings.h"
#include "settings/sheet.h"
#include "tray/mailer.h"
#include "tray/trayicon.h"

namespace {

struct MenuEntry {
  UINT id;
  const char* label;
};

const MenuEntry trayMenuEntries[] = {
    {CMD_CHECK, "メールチェックするにゃ(&C)"},
    {CMD_SETTINGS, "設定するにゃ(&S)"},
    {CMD_HELP, "ヘルプを見るにゃ(&H)"},
    {CMD_HOMEPAGE, "ホームページを見るにゃ(&A)"},
    {CMD_EXIT, "おしまいにゃ(&X)"},
};

const char HELP_FILE_NAME[] = "KivvetLE.html";

// The program's own page: the help page beside the program, which tells
// what the program is and where it comes from.
const char HOME_PAGE_FILE_NAME[] = "KivvetLE.html";

// TrackPopupMenu runs a modal loop that dispatches our messages; a second
// right click meanwhile must not open the menu inside itself.
int menuOpen = 0;

// Opens a document that lies beside the program, if it is there.
void openBesideProgram(HWND window, const char* name) {
  char path[MAX_PATH + 32];
  if (!programDirectory(path, sizeof path) || !appendPath(path, sizeof path, name)) return;
  if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return;
  ShellExecuteA(window, "open", path, NULL, NULL, SW_SHOW);
}

void openHelp(HWND window) { openBesideProgram(window, HELP_FILE_NAME); }

void openHomePage(HWND window) { openBesideProgram(window, HOME_PAGE_FILE_NAME); }

}  // namespace

void createTrayMenu() {
  app.trayMenu = CreatePopupMenu();
  for (const MenuEntry& entry : trayMenuEntries)
    AppendMenuA(app.trayMenu, MF_STRING, entry.id, entry.label);
}

void destroyTrayMenu() {
  DestroyMenu(app.trayMenu);
  app.trayMenu = NULL;
}

void onCommand(HWND window, WPARAM wParam, LPARAM) {
  switch (LOWORD(wParam)) {
    case CMD_CHECK: startCheck(window); break;
    case CMD_SETTINGS: openSettingsSheet(window); break;
    case CMD_HELP: openHelp(window); break;
    case CMD_HOMEPAGE: openHomePage(window); break;
    case CMD_EXIT: DestroyWindow(window); break;
    default: break;
  }
}

void onTrayNotify(HWND window, WPARAM, LPARAM lParam) {
  switch ((UINT)lParam) {
    case WM_RBUTTONUP: {
      if (menuOpen) return;
      POINT cursor;
      GetCursorPos(&cursor);
      // Without this the menu stays open when the user clicks elsewhere.
      SetForegroundWindow(window);
      menuOpen = 1;
      TrackPopupMenu(app.trayMenu, TPM_RIGHTBUTTON | TPM_LEFTALIGN | TPM_TOPALIGN, cursor.x,
                     cursor.y, 0, window, NULL);
      menuOpen = 0;
      // Lets the menu close properly the next time it is opened.
      PostMessageA(window, WM_NULL, 0, 0);
      break;
    }
    case WM_LBUTTONDBLCLK:
      KillTimer(window, TIMER_VOICE);
      KillTimer(window, TIMER_BLINK);
      setTrayIcon(window, NIM_MODIFY, "APPICON", "");
      // Closed meanwhile: the user is not left with a mail program.
      if (app.windowGone) break;
      if (settings.mailerPath[0] != '\0') launchMailer();
      break;
    default: break;
  }
}
