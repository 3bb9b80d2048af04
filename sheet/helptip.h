// A topic of the program's help shown as a small popup beside a control.
#ifndef KIVVET_SHEET_HELPTIP_H
#define KIVVET_SHEET_HELPTIP_H

#include "platform/win32.h"

void showHelpTopic(HWND control, UINT topic);

#endif
