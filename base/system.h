// What newer Windows offers beyond the oldest the program runs on, taken
// only where it is there: libraries from the system's own folder, and the
// scaling of the screen.
#ifndef KIVVET_BASE_SYSTEM_H
#define KIVVET_BASE_SYSTEM_H

#include "platform/win32.h"

// The scaling of 100 %: the size in which the program's pictures and
// windows are drawn.
const int BASE_DPI = 96;

// A library of the system's own folder, never one of the same name in the
// current directory (the -W data folder) or along PATH. NULL when the
// system has none. The caller frees it.
HMODULE loadSystemLibrary(const char* name);
// Dots per inch of the monitor at a point of the screen (BASE_DPI at
// 100 %): its own scaling where Windows gives each monitor one (8.1 and
// later), the system's elsewhere.
int monitorDpi(POINT point);

#endif
