// What the user can do with the tray icon: its menu and the double click,
// which also starts the mail program.
#ifndef KIVVET_TRAY_MENU_H
#define KIVVET_TRAY_MENU_H

#include "platform/win32.h"

// The popup menu in app.trayMenu, its items in the order of the commands.
void createTrayMenu();
void destroyTrayMenu();
void onCommand(HWND window, WPARAM wParam, LPARAM lParam);
void onTrayNotify(HWND window, WPARAM wParam, LPARAM lParam);

#endif
