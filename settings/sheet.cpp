// Around the sheet: the guarded menu items are grayed and the interval
// timer stopped while it is open; afterwards the settings are saved, the
// icon refreshed and the interval timer started with a full period. The
// pages themselves are not built yet, so the sheet closes as if cancelled.
#include "settings/sheet.h"

#include "app/appstate.h"
#include "app/mainwindow.h"
#include "settings/settings.h"
#include "tray/menu.h"
#include "tray/trayicon.h"

void openSettingsSheet(HWND window) {
  setBusy(0);
  KillTimer(window, TIMER_INTERVAL);
  saveSettings();
  setTrayIcon(window, NIM_MODIFY, "APPICON", "");
  startIntervalTimer(window);
  setBusy(1);
}
