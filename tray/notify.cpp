// The end of a successful check. The voice and the blink are not built
// yet: the result shows as the normal icon with the standard tooltip, and
// the next check is timed from here.
#include "tray/notify.h"

#include "app/appstate.h"
#include "app/mainwindow.h"
#include "tray/trayicon.h"

void startNotification(HWND window) {
  KillTimer(window, TIMER_RESPONSE);
  startIntervalTimer(window);
  setTrayIcon(window, NIM_MODIFY, "APPICON", "");
}
