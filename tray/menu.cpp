// The tray menu: its items and its showing at the cursor. While new mail
// is announced it also holds who wrote it, in a submenu built anew
// whenever the previews change.
#include "tray/menu.h"

#include "base/appstate.h"
#include "base/text.h"
#include "tray/notify.h"
#include "tray/previews.h"

namespace {

struct MenuEntry {
  UINT id;
  const char* label;
};

const MenuEntry trayMenuEntries[] = {
    {CMD_CHECK, "メールチェックするにゃ(&C)"},    {CMD_STOP, "お知らせを止めるにゃ"},
    {CMD_SETTINGS, "設定するにゃ(&S)"},           {CMD_HELP, "ヘルプを見るにゃ(&H)"},
    {CMD_HOMEPAGE, "ホームページを見るにゃ(&A)"}, {CMD_EXIT, "おしまいにゃ(&X)"},
};

const char NEW_MAIL_LABEL[] = "新着メール";

// TrackPopupMenu runs a modal loop that dispatches our messages; a second
// right click meanwhile must not open the menu inside itself.
int menuOpen = 0;
// The previews the menu was built with.
DWORD builtVersion = 0;

void buildTrayMenu() {
  app.trayMenu = CreatePopupMenu();
  if (previewCount(shownPreviews()) > 0) {
    HMENU newMail = CreatePopupMenu();
    // A sender or subject is shown as it is: an "&" in it marks no key.
    char label[2 * (2 * PREVIEW_TEXT_BYTES + 4)];
    for (DWORD i = 0;
         i < previewCount(shownPreviews()) && CMD_PREVIEW_FIRST + i <= CMD_PREVIEW_LAST; i++) {
      previewLabel(shownPreviews(), i, label, sizeof label);
      AppendMenuW(newMail, MF_STRING, CMD_PREVIEW_FIRST + i, wide(label).text);
    }
    AppendMenuW(app.trayMenu, MF_POPUP, (UINT_PTR)newMail, wide(NEW_MAIL_LABEL).text);
    AppendMenuW(app.trayMenu, MF_SEPARATOR, 0, wide("").text);
  }
  for (const MenuEntry& entry : trayMenuEntries)
    AppendMenuW(app.trayMenu, MF_STRING, entry.id, wide(entry.label).text);
  builtVersion = previewsVersion(shownPreviews());
}

}  // namespace

void createTrayMenu() { buildTrayMenu(); }

void destroyTrayMenu() {
  DestroyMenu(app.trayMenu);
  app.trayMenu = NULL;
}

void showTrayMenu(HWND window) {
  if (menuOpen) return;
  if (builtVersion != previewsVersion(shownPreviews())) {
    DestroyMenu(app.trayMenu);
    buildTrayMenu();
    guardNewMenu();
  }
  EnableMenuItem(app.trayMenu, CMD_STOP, MF_BYCOMMAND | (announcing() ? MF_ENABLED : MF_GRAYED));
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
