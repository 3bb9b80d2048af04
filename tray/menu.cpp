// The tray menu: its items and its showing at the cursor.
#include "tray/menu.h"

#include "base/appstate.h"
#include "base/text.h"

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

// TrackPopupMenu runs a modal loop that dispatches our messages; a second
// right click meanwhile must not open the menu inside itself.
int menuOpen = 0;

}  // namespace

void createTrayMenu() {
  app.trayMenu = CreatePopupMenu();
  for (const MenuEntry& entry : trayMenuEntries)
    AppendMenuW(app.trayMenu, MF_STRING, entry.id, wide(entry.label).text);
}

void destroyTrayMenu() {
  DestroyMenu(app.trayMenu);
  app.trayMenu = NULL;
}

void showTrayMenu(HWND window) {
  if (menuOpen) return;
  POINT cursor;
  GetCursorPos(&cursor);
  // Without this the menu stays open when the user clicks elsewhere.
  SetForegroundWindow(window);
  menuOpen = 1;
  TrackPopupMenu(app.trayMenu, TPM_RIGHTBUTTON | TPM_LEFTALIGN | TPM_TOPALIGN, cursor.x, cursor.y,
                 0, window, NULL);
  menuOpen = 0;
  // Lets the menu close properly the next time it is opened.
  PostMessageW(window, WM_NULL, 0, 0);
}
