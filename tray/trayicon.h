// The tray icon: the program's only presence on the screen.
#ifndef KIVVET_TRAY_TRAYICON_H
#define KIVVET_TRAY_TRAYICON_H

#include "platform/win32.h"

// Adds (NIM_ADD), changes (NIM_MODIFY) or removes (NIM_DELETE) the icon.
// An empty text selects the standard tooltip of the settings.
void setTrayIcon(HWND window, DWORD action, const char* iconName, const char* text);
// TIMER_TRAY: one more try to add an icon the shell refused at first.
void CALLBACK trayRetryTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);

#endif
