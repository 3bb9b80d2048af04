#include "tray/menu.h"

#include "app/appstate.h"
#include "check/check.h"
#include "settings/sheet.h"

void setBusy(int menuEnabled) {
  UINT state = menuEnabled == 1 ? MF_ENABLED : MF_GRAYED;
  EnableMenuItem(app.trayMenu, CMD_CHECK, MF_BYCOMMAND | state);
  EnableMenuItem(app.trayMenu, CMD_SETTINGS, MF_BYCOMMAND | state);
  EnableMenuItem(app.trayMenu, CMD_EXIT, MF_BYCOMMAND | state);
  app.busy = menuEnabled == 1 ? 0 : 1;
}

void onCommand(HWND window, WPARAM wParam, LPARAM) {
  switch (LOWORD(wParam)) {
    case CMD_CHECK: startCheck(window); break;
    case CMD_SETTINGS: openSettingsSheet(window); break;
    case CMD_EXIT: DestroyWindow(window); break;
    default: break;
  }
}

void onTrayNotify(HWND, WPARAM, LPARAM) {}
