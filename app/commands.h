// What the user asks through the tray: the menu's commands and the mouse
// on the icon, the double click also starting the mail program.
#ifndef KIVVET_APP_COMMANDS_H
#define KIVVET_APP_COMMANDS_H

#include "platform/win32.h"

// CMD_CHECK checks every mailbox that is not busy.
void onCommand(HWND window, WPARAM wParam, LPARAM lParam);
// MSG_CHECK_MAILBOX: the check of the mailbox in slot wParam; lParam
// tells a check the interval timer asked for.
void onCheckMailbox(HWND window, WPARAM wParam, LPARAM lParam);
void onTrayNotify(HWND window, WPARAM wParam, LPARAM lParam);
// MSG_SETTINGS_NEEDED: a check found the settings unusable; the cat says
// why, and the settings sheet opens.
void onSettingsNeeded(HWND window, WPARAM wParam, LPARAM lParam);

#endif
