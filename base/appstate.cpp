// The ground floor: the shared state record and the few operations on it
// that every folder calls: the menu's busy state.
#include "base/appstate.h"

const char APP_TITLE[] = "Kivvet LE";
const char APP_CLASS_NAME[] = "KivvetLiteEdition";

AppState app;

namespace {

// While busy, the check may stay enabled for the mailboxes still idle.
int checkStays = 0;

// The guarded menu items (check, settings, exit) follow busy.
void setGuardedItems(UINT state) {
  EnableMenuItem(app.trayMenu, CMD_CHECK, MF_BYCOMMAND | (checkStays ? MF_ENABLED : state));
  EnableMenuItem(app.trayMenu, CMD_SETTINGS, MF_BYCOMMAND | state);
  EnableMenuItem(app.trayMenu, CMD_EXIT, MF_BYCOMMAND | state);
}

}  // namespace

void becomeBusy(int mailboxesIdle) {
  checkStays = mailboxesIdle;
  setGuardedItems(MF_GRAYED);
  app.busy = 1;
}

void becomeIdle() {
  checkStays = 0;
  setGuardedItems(MF_ENABLED);
  app.busy = 0;
}

void guardNewMenu() { setGuardedItems(app.busy ? MF_GRAYED : MF_ENABLED); }
