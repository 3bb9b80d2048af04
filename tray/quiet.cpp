#include "tray/quiet.h"

#include "settings/settings.h"

namespace {

// What Windows says of the user's desktop. A shell that cannot tell
// (an error) lets the cat speak, as it always did.
int userCannotBeDisturbed() {
  QUERY_USER_NOTIFICATION_STATE state;
  if (SHQueryUserNotificationState(&state) != S_OK) return 0;
  switch (state) {
    case QUNS_BUSY:                     // a full-screen program
    case QUNS_RUNNING_D3D_FULL_SCREEN:  // a game
    case QUNS_PRESENTATION_MODE:
    case QUNS_QUIET_TIME:
    case QUNS_APP:  // a full-screen app of the Store
      return 1;
    default: return 0;  // accepting notifications, or away (locked): nobody is disturbed
  }
}

int minuteOfDay() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return now.wHour * 60 + now.wMinute;
}

}  // namespace

int withinQuietHours(int minute, int from, int until) {
  if (from < 0 || until < 0 || from >= MINUTES_PER_DAY || until >= MINUTES_PER_DAY) return 0;
  if (from <= until) return minute >= from && minute < until;
  return minute >= from || minute < until;
}

int keepsQuiet() {
  if (withinQuietHours(minuteOfDay(), settings.quietFrom, settings.quietUntil)) return 1;
  return settings.quietWhileBusy != 0 && userCannotBeDisturbed();
}
