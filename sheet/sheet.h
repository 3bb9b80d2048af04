// The settings sheet: the only place where the user changes the settings.
#ifndef KIVVET_SHEET_SHEET_H
#define KIVVET_SHEET_SHEET_H

#include "platform/win32.h"

void openSettingsSheet(HWND window);
int CALLBACK sheetCallback(HWND sheet, UINT message, LPARAM lParam);

#endif
