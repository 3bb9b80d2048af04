// The picture and the library are loaded anew for every paint and nothing
// is held between paints. The library is taken from the program's own
// folder only, and as resources: no code of it ever runs. Enter, Escape and the close command do
// not end the window: only its timer, or a picture that cannot be had, does.
#include "tray/splash.h"

#include <string.h>

#include "base/appstate.h"
#include "base/system.h"
#include "base/text.h"
#include "resources/ids.h"
#include "resources/version.h"

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

// Every size and place above is of 100 % scaling. The program draws its
// own pixels (it tells Windows it is aware of each monitor's scaling), so
// at 200 % the title window is twice as big, not a postage stamp.
int scaled(int pixels, int dpi) { return pixels * dpi / BASE_DPI; }

// The window stands in the middle of the primary screen: the scaling of
// that monitor is the one it is drawn in.
int splashDpi() {
  POINT middle = {GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2};
  return monitorDpi(middle);
}

void place(HWND control, const RECT& where, int dpi) {
  MoveWindow(control, scaled(where.left, dpi), scaled(where.top, dpi),
             scaled(where.right - where.left, dpi), scaled(where.bottom - where.top, dpi), FALSE);
}

namespace {

// KivvetLE.dll beside the program, as pictures only. A path too long to
// hold the name gives no library.
HMODULE loadTitleLibrary() {
  WCHAR path[MAX_PATH];
  DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return NULL;
  DWORD cut = length;
  while (cut > 0 && path[cut - 1] != '\\') cut--;
  WideText library = wide("KivvetLE.dll");
  size_t nameLength = 0;
  while (library.text[nameLength] != 0) nameLength++;
  if (cut == 0 || cut + nameLength + 1 > MAX_PATH) return NULL;
  memcpy(path + cut, library.text, (nameLength + 1) * sizeof(WCHAR));
  return LoadLibraryExW(path, NULL, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE);
}

}  // namespace

void paintSplash(HWND splash) {
  HMODULE library = loadTitleLibrary();
  if (library == NULL) {
    EndDialog(splash, 0);
    return;
  }
  HBITMAP picture = LoadBitmapW(library, wide("TITLE").text);
  FreeLibrary(library);  // the loaded bitmap stays valid
  if (picture == NULL) {
    EndDialog(splash, 0);
    return;
  }
  HWND frame = GetDlgItem(splash, IDC_SPLASH_PICTURE);
  HDC target = GetDC(frame);
  HDC memory = CreateCompatibleDC(target);
  HGDIOBJ previous = SelectObject(memory, picture);
  int dpi = splashDpi();
  if (dpi == BASE_DPI) {
    BitBlt(target, PICTURE_INSET, PICTURE_INSET, PICTURE_WIDTH, PICTURE_HEIGHT, memory, 0, 0,
           SRCCOPY);
  } else {
    // Smoothly, rather than in blocks of pixels; the brush origin must be
    // set again after the mode is.
    SetStretchBltMode(target, HALFTONE);
    SetBrushOrgEx(target, 0, 0, NULL);
    StretchBlt(target, scaled(PICTURE_INSET, dpi), scaled(PICTURE_INSET, dpi),
               scaled(PICTURE_WIDTH, dpi), scaled(PICTURE_HEIGHT, dpi), memory, 0, 0, PICTURE_WIDTH,
               PICTURE_HEIGHT, SRCCOPY);
  }
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
  int dpi = splashDpi();
  int width = scaled(SPLASH_WIDTH, dpi);
  int x = GetSystemMetrics(SM_CXSCREEN) / 2 - width / 2;
  int y = GetSystemMetrics(SM_CYSCREEN) / 2 - scaled(SPLASH_ABOVE_MIDDLE, dpi);
  MoveWindow(splash, x, y, width, scaled(SPLASH_HEIGHT, dpi), FALSE);
  place(GetDlgItem(splash, IDC_SPLASH_PICTURE), PICTURE_FRAME, dpi);
  place(GetDlgItem(splash, IDC_SPLASH_VERSION), VERSION_LINE, dpi);
  SetDlgItemTextW(splash, IDC_SPLASH_VERSION, wide("Version " KIVVET_VERSION_SHORT).text);
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
  DialogBoxParamW(app.appInstance, wide("TITLEDLG").text, owner, splashDlgProc, 0);
}
