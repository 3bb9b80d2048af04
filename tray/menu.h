// What the user can do with the tray icon: its menu and the double click,
// which also starts the mail program.
#ifndef KIVVET_TRAY_MENU_H
#define KIVVET_TRAY_MENU_H

#include "platform/win32.h"

extern const char HELP_FILE_NAME[];

void onCommand(HWND window, WPARAM wParam, LPARAM lParam);
void onTrayNotify(HWND window, WPARAM wParam, LPARAM lParam);
// 1: idle, the guarded items enabled; anything else: busy, grayed.
void setBusy(int menuEnabled);
void launchMailer();
void openHelp(HWND window);
void openHomePage(HWND window);

#endif
