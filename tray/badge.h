// The count of new mail on the tray icon: a small red badge with white
// figures in the icon's lower right corner, drawn into the icon's own
// pixels at the size the tray shows, so it stays sharp at every scaling.
#ifndef KIVVET_TRAY_BADGE_H
#define KIVVET_TRAY_BADGE_H

#include "platform/win32.h"

// The badge reads 1 to 9, and "9+" for more.
const DWORD MOST_BADGE_FIGURE = 9;
// Opaque red and white, 0xAARRGGBB: the red stands out from a light
// taskbar and a dark one alike, the white figures from the red.
const DWORD BADGE_COLOUR = 0xFFD01818;
const DWORD BADGE_FIGURE_COLOUR = 0xFFFFFFFF;

// Draws the badge of count (not 0) over pixels of size x size, 0xAARRGGBB,
// top row first. The rest of the picture stays as it is.
void drawBadge(DWORD* pixels, int size, DWORD count);
// The program's icon of that name at size pixels with the badge of count;
// NULL when Windows would not make it. The caller destroys it.
HICON makeBadgedIcon(const char* iconName, int size, DWORD count);

#endif
