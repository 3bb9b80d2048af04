// The four pages of the settings sheet, in the order the sheet shows them.
#ifndef KIVVET_SHEET_PAGES_H
#define KIVVET_SHEET_PAGES_H

#include "platform/win32.h"

INT_PTR CALLBACK basicPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK soundPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK mailerPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK displayPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

#endif
