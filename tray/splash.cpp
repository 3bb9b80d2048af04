// The picture and the library are loaded anew for every paint and nothing
// is held between paints. Enter, Escape and the close command do not end
// the window: only its timer, or a picture that cannot be had, does.
#include "tray/splash.h"

#include "app/appstate.h"
#include "resources/ids.h"

namespace {

// The window, in pixels. Its top stands this far above the middle of the
// screen: 90 rather than half its height, so it sits ten pixels low.
const int SPLASH_WIDTH = 320;
const int SPLASH_HEIGHT = 200;
const int SPLASH_ABOVE_MIDDLE = 90;

// The two controls, placed in pixels over the template's dialog units.
const RECT PICTURE_FRAME = {5, 5, 5 + 310, 5 + 158};
const RECT VERSION_LINE = {5, 175, 5 + 310, 175 + 20};

// The part of the picture shown, and where it is drawn inside its frame.
const int PICTURE_WIDTH = 300;
const int PICTURE_HEIGHT = 150;
const int PICTURE_INSET = 3;

void place(HWND control, const RECT& where) {
  MoveWindow(control, where.left, where.top, where.right - where.left, where.bottom - where.top,
             FALSE);
}

void paintSplash(HWND splash) {
  HMODULE library = LoadLibraryA("KivvetLE.dll");
  if (library == NULL) {
    EndDialog(splash, 0);
    return;
  }
  HBITMAP picture = LoadBitmapA(library, "TITLE");
  FreeLibrary(library);  // the loaded bitmap stays valid
  if (picture == NULL) {
    EndDialog(splash, 0);
    return;
  }
  HWND frame = GetDlgItem(splash, IDC_SPLASH_PICTURE);
  HDC target = GetDC(frame);
  HDC memory = CreateCompatibleDC(target);
  HGDIOBJ previous = SelectObject(memory, picture);
  BitBlt(target, PICTURE_INSET, PICTURE_INSET, PICTURE_WIDTH, PICTURE_HEIGHT, memory, 0, 0,
         SRCCOPY);
  SelectObject(memory, previous);
  DeleteDC(memory);
  ReleaseDC(frame, target);
  DeleteObject(picture);
}

void CALLBACK splashTimerProc(HWND splash, UINT, UINT_PTR, DWORD) {
  KillTimer(splash, TIMER_SPLASH);
  EndDialog(splash, 0);
}

void initSplash(HWND splash) {
  paintSplash(splash);
  int x = GetSystemMetrics(SM_CXSCREEN) / 2 - SPLASH_WIDTH / 2;
  int y = GetSystemMetrics(SM_CYSCREEN) / 2 - SPLASH_ABOVE_MIDDLE;
  MoveWindow(splash, x, y, SPLASH_WIDTH, SPLASH_HEIGHT, FALSE);
  place(GetDlgItem(splash, IDC_SPLASH_PICTURE), PICTURE_FRAME);
  place(GetDlgItem(splash, IDC_SPLASH_VERSION), VERSION_LINE);
  SetDlgItemTextA(splash, IDC_SPLASH_VERSION, "Version 2.23");
  SetTimer(splash, TIMER_SPLASH, SPLASH_MS, splashTimerProc);
}

INT_PTR CALLBACK splashDlgProc(HWND splash, UINT message, WPARAM, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    initSplash(splash);
    return TRUE;
  }
  if (message == WM_PAINT) paintSplash(splash);
  // The frame is the picture's: with common controls 6 a picture frame
  // without an image of its own would fill itself over the picture just
  // drawn, so its background brush is the empty one.
  if (message == WM_CTLCOLORSTATIC && (HWND)lParam == GetDlgItem(splash, IDC_SPLASH_PICTURE))
    return (INT_PTR)GetStockObject(NULL_BRUSH);
  return FALSE;
}

}  // namespace

void runSplash(HWND owner) {
  DialogBoxParamA(app.appInstance, "TITLEDLG", owner, splashDlgProc, 0);
}
