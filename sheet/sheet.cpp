// Around the sheet: the guarded menu items are grayed while it is open
// (and while the box that leads to it is up); afterwards the settings are
// saved (after OK and Cancel alike) and the icon refreshed. The top stops
// and restarts the schedule around it.
#include "sheet/sheet.h"

#include "base/appstate.h"
#include "base/text.h"
#include "settings/settings.h"
#include "sheet/pages.h"
#include "tray/trayicon.h"

namespace {

struct PageTemplate {
  const char* name;
  DLGPROC proc;
};

const PageTemplate pageTemplates[] = {
    {"SETTINGDLG1", basicPageProc},
    {"SETTINGDLG2", soundPageProc},
    {"SETTINGDLG3", mailerPageProc},
    {"SETTINGDLG4", displayPageProc},
};
const UINT PAGE_COUNT = sizeof pageTemplates / sizeof pageTemplates[0];

}  // namespace

namespace {

// Windows places the sheet beside the hidden window near the middle of
// the screen and then sizes it for its pages: at 200 % on a screen of
// 1080 lines it would reach below the taskbar and hide its OK button. It
// is moved up (and left) into its monitor's work area instead.
void keepOnScreen(HWND sheet) {
  RECT frame;
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  if (!GetWindowRect(sheet, &frame) ||
      !GetMonitorInfoW(MonitorFromWindow(sheet, MONITOR_DEFAULTTONEAREST), &monitor))
    return;
  const RECT& work = monitor.rcWork;
  LONG x = frame.left;
  LONG y = frame.top;
  if (frame.right > work.right) x -= frame.right - work.right;
  if (frame.bottom > work.bottom) y -= frame.bottom - work.bottom;
  if (x < work.left) x = work.left;
  if (y < work.top) y = work.top;
  if (x == frame.left && y == frame.top) return;
  SetWindowPos(sheet, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

int CALLBACK sheetCallback(HWND sheet, UINT message, LPARAM) {
  if (message != PSCB_INITIALIZED) return 0;
  keepOnScreen(sheet);
  return 1;
}

namespace {

void runSheet(HWND window) {
  // The names must outlive the sheet: its pages are made as they are shown.
  WideText names[PAGE_COUNT];
  HPROPSHEETPAGE pages[PAGE_COUNT];
  for (UINT i = 0; i < PAGE_COUNT; i++) {
    names[i] = wide(pageTemplates[i].name);
    PROPSHEETPAGEW page = {};
    page.dwSize = PROPSHEETPAGEW_V2_SIZE;
    page.dwFlags = PSP_DEFAULT;
    page.hInstance = app.appInstance;
    page.pszTemplate = names[i].text;
    page.pfnDlgProc = pageTemplates[i].proc;
    pages[i] = CreatePropertySheetPageW(&page);
  }

  WideText icon = wide("APPICON");
  WideText caption = wide("設定するにゃ");
  PROPSHEETHEADERW sheet = {};
  sheet.dwSize = PROPSHEETHEADERW_V2_SIZE;
  sheet.dwFlags = PSH_USEICONID | PSH_NOAPPLYNOW | PSH_USECALLBACK;
  sheet.hwndParent = window;
  sheet.hInstance = app.appInstance;
  sheet.pszIcon = icon.text;
  sheet.pszCaption = caption.text;
  sheet.nPages = PAGE_COUNT;
  sheet.nStartPage = 0;
  sheet.phpage = pages;
  sheet.pfnCallback = (PFNPROPSHEETCALLBACK)sheetCallback;

  PropertySheetW(&sheet);
  // Closed from outside (log-off, taskkill): the sheet went with the main
  // window, and nothing is saved.
  if (app.windowGone) return;
  int saved = saveSettings();
  if (!saved)
    MessageBoxW(
        window,
        wide(
            "設定を保存できなかったにゃ.\nKivvetLE.cfgが読み取り専用か、ほかのプログラムが使っているかもしれないにゃ.")
            .text,
        wide(APP_TITLE).text, MB_OK | MB_ICONWARNING);
}

}  // namespace

void openSettingsSheet(HWND window, const char* reason) {
  becomeBusy(0);
  app.settingsOpen++;
  if (reason != NULL)
    MessageBoxW(window, wide(reason).text, wide(APP_TITLE).text, MB_OK | MB_ICONINFORMATION);
  if (!app.windowGone) runSheet(window);
  app.settingsOpen--;
  if (app.windowGone) return;
  becomeIdle();
  // The tray no longer shows a failure.
  forgetMailboxFailures();
  setTrayIcon(window, NIM_MODIFY, "APPICON", "");
}
