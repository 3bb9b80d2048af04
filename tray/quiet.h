// When the cat keeps quiet about new mail: while Windows says the user
// cannot be disturbed (a full-screen program or game, a presentation,
// quiet time), and in the user's quiet hours. The icon still tells.
#ifndef KIVVET_TRAY_QUIET_H
#define KIVVET_TRAY_QUIET_H

#include "platform/win32.h"

// 1: no voice and no balloon now, as the settings ask.
int keepsQuiet();
// 1 when the minute of the day lies in the span from..until: from
// included, until not, across midnight when until comes first. A span
// that starts where it ends, or has an end outside the day, is none.
int withinQuietHours(int minute, int from, int until);

#endif
