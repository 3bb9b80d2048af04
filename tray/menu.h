// What the user can do with the tray icon: its menu and the double click.
#ifndef KIVVET_TRAY_MENU_H
#define KIVVET_TRAY_MENU_H

#include "platform/win32.h"

void onCommand(HWND window, WPARAM wParam, LPARAM lParam);
void onTrayNotify(HWND window, WPARAM wParam, LPARAM lParam);
// 1: idle, the guarded items enabled; anything else: busy, grayed.
void setBusy(int menuEnabled);

#endif
