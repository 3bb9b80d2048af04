// The tray menu: its items in the order of the commands, and its showing.
#ifndef KIVVET_TRAY_MENU_H
#define KIVVET_TRAY_MENU_H

#include "platform/win32.h"

// The popup menu in app.trayMenu.
void createTrayMenu();
void destroyTrayMenu();
// Shows the menu at the cursor; its command comes as WM_COMMAND.
void showTrayMenu(HWND window);

#endif
