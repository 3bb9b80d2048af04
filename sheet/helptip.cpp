// The help texts live in the program's string table, under the topic's
// number. They are shown in a tracking tooltip just below the control,
// which hides itself after a while or when the next topic is asked for;
// owned by the page, it goes with the sheet. A tool is described in the
// size that common controls 5 and 6 both accept (without lpReserved, which
// version 5 refuses), so the popups work with or without the manifest.
#include "sheet/helptip.h"

#include "base/appstate.h"

namespace {

const UINT_PTR HIDE_TIMER = 1;
const UINT SHOWN_MS = 10000;
const int WIDTH = 280;

HWND helpTip = NULL;

void hideTip(HWND tip) {
  TOOLINFOW tool = {};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = GetParent(tip);
  tool.uId = 1;
  SendMessageW(tip, TTM_TRACKACTIVATE, FALSE, (LPARAM)&tool);
}

void CALLBACK hideTimerProc(HWND tip, UINT, UINT_PTR id, DWORD) {
  KillTimer(tip, id);
  hideTip(tip);
}

}  // namespace

void showHelpTopic(HWND control, UINT topic) {
  WCHAR text[512];
  if (LoadStringW(app.appInstance, topic, text, sizeof text / sizeof text[0]) <= 0) return;
  HWND page = GetParent(control);
  // One topic at a time: a popup left on another page goes first.
  if (helpTip != NULL && IsWindow(helpTip) && GetParent(helpTip) != page) {
    KillTimer(helpTip, HIDE_TIMER);
    DestroyWindow(helpTip);
    helpTip = NULL;
  }
  if (helpTip == NULL || !IsWindow(helpTip)) {
    helpTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, NULL,
                              WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, page, NULL, app.appInstance, NULL);
    if (helpTip == NULL) return;
    SendMessageW(helpTip, TTM_SETMAXTIPWIDTH, 0, WIDTH);
  }
  TOOLINFOW tool = {};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.uFlags = TTF_TRACK | TTF_ABSOLUTE;
  tool.hwnd = page;
  tool.uId = 1;
  tool.lpszText = text;
  SendMessageW(helpTip, TTM_DELTOOLW, 0, (LPARAM)&tool);
  SendMessageW(helpTip, TTM_ADDTOOLW, 0, (LPARAM)&tool);
  RECT where;
  GetWindowRect(control, &where);
  SendMessageW(helpTip, TTM_TRACKPOSITION, 0, MAKELPARAM(where.left, where.bottom + 2));
  SendMessageW(helpTip, TTM_TRACKACTIVATE, TRUE, (LPARAM)&tool);
  SetTimer(helpTip, HIDE_TIMER, SHOWN_MS, hideTimerProc);
}
