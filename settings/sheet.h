// The settings sheet: the only place where the user changes the settings.
#ifndef KIVVET_SETTINGS_SHEET_H
#define KIVVET_SETTINGS_SHEET_H

#include "platform/win32.h"

void openSettingsSheet(HWND window);
int CALLBACK sheetCallback(HWND sheet, UINT message, LPARAM lParam);

INT_PTR CALLBACK basicPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK soundPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK mailerPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK displayPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// Context help: pairs of (control id, topic id), ended by (0, 0).
extern const DWORD basicPageHelp[];
extern const DWORD soundPageHelp[];
extern const DWORD mailerPageHelp[];
extern const DWORD displayPageHelp[];
// Shows the topic of the control a WM_HELP names, if the page's table
// has one; labels and the page itself have none.
void showContextHelp(const DWORD* table, const HELPINFO* help);

#endif
