// The settings sheet: the only place where the user changes the settings.
#ifndef KIVVET_SHEET_SHEET_H
#define KIVVET_SHEET_SHEET_H

#include "platform/win32.h"

// Shows the reason in a box first, when there is one (blank or broken
// settings, a password that cannot be read). The menu's guarded items
// are grayed until it has closed.
void openSettingsSheet(HWND window, const char* reason);
int CALLBACK sheetCallback(HWND sheet, UINT message, LPARAM lParam);

#endif
