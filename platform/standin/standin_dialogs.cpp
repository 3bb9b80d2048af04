// Modal dialogs, property sheets and their controls, dropped files, the
// open-file dialog, the string table, and the bit of GDI the title
// picture needs. Controls come into being when the program or the test
// first names them by id: the stand-in does not read dialog templates.
#include <string.h>

#include "platform/standin/standin_world.h"

struct _PSP {
  PROPSHEETPAGEW page;
  std::string templateName;
};

struct HDROP__ {
  std::vector<std::string> paths;
};

struct HBITMAP__ {
  int unused;
  int width = 0;
  int height = 0;
  int bitsPerPixel = 32;
  bool topDown = true;
  // 0xAARRGGBB (a mask's pixels 0 or 0xFFFFFF), in the order of the rows
  // as the bitmap stores them.
  std::vector<uint32_t> pixels = {};
};
// A context fresh from GetDC stretches in the system's default mode.
struct HDC__ {
  int stretchMode = BLACKONWHITE;
};

namespace standin {

namespace {

struct Sheet {
  const PROPSHEETHEADERW* header = nullptr;
  std::vector<HWND> pages;
  std::vector<bool> shown;
  size_t current = 0;
  bool closed = false;
};

std::deque<std::function<void()>> sheetUsers;
std::vector<PropertySheetShown> sheets;
std::vector<std::unique_ptr<_PSP>> pageHandles;
Sheet* openSheet = nullptr;
std::vector<std::unique_ptr<HDROP__>> drops;
size_t liveDrops = 0;
std::deque<std::string> fileAnswers;
std::vector<FileDialogShown> fileDialogRecords;
std::map<UINT, std::string> strings;
std::vector<std::string> dialogNames;
const RECT USUAL_SHEET_PLACE = {309, 262, 309 + 336, 262 + 430};
RECT sheetPlace = USUAL_SHEET_PLACE;
bool titleLibrary = false;
bool titlePicture = false;
HINSTANCE__ titleModule{"KivvetLE.dll"};
HBITMAP__ titleBitmap{0};
HDC__ screenDc, memoryDc;
std::vector<BlitRecord> blitRecords;
int gdiObjects = 0;
std::vector<std::unique_ptr<HBITMAP__>> bitmaps;  // made from pixels

HWND control(HWND dialog, int id) {
  if (!dialog) return nullptr;
  HWND& slot = dialog->controls[id];
  if (!slot) {
    slot = newWindow("control", "");
    slot->parent = dialog;
    slot->id = id;
  }
  return slot;
}

// What the page answered, as it set it with DWLP_MSGRESULT.
LONG_PTR notifyPage(HWND page, UINT code) {
  NMHDR header{page->parent, 0, code};
  page->messageResult = 0;
  page->dialogProc(page, WM_NOTIFY, 0, (LPARAM)&header);
  return page->messageResult;
}

}  // namespace

void onNextPropertySheet(std::function<void()> user) { sheetUsers.push_back(std::move(user)); }
void setSheetPlace(int x, int y, int width, int height) {
  sheetPlace = RECT{x, y, x + width, y + height};
}
const std::vector<PropertySheetShown>& propertySheets() { return sheets; }

HWND showPage(int index) {
  Sheet* sheet = openSheet;
  if (!sheet || index < 0 || (size_t)index >= sheet->pages.size()) return nullptr;
  sheet->current = (size_t)index;
  HWND page = sheet->pages[(size_t)index];
  if (!sheet->shown[(size_t)index]) {
    sheet->shown[(size_t)index] = true;
    _PSP* psp = (_PSP*)sheet->header->phpage[index];
    page->dialogProc(page, WM_INITDIALOG, 0, (LPARAM)&psp->page);
  }
  return page;
}

void pressOk() {
  Sheet* sheet = openSheet;
  if (!sheet || sheet->closed) return;
  // A page that refuses its texts stays open in front, and the pages after
  // it hear nothing.
  for (size_t i = 0; i < sheet->pages.size(); i++)
    if (sheet->shown[i] && notifyPage(sheet->pages[i], PSN_APPLY) != PSNRET_NOERROR) {
      sheet->current = i;
      return;
    }
  sheet->closed = true;
}

void pressCancel() {
  Sheet* sheet = openSheet;
  if (!sheet || sheet->closed) return;
  notifyPage(sheet->pages[sheet->current], PSN_QUERYCANCEL);
  sheet->closed = true;
}

std::string controlText(HWND dialog, int id) { return control(dialog, id)->title; }
bool controlChecked(HWND dialog, int id) { return control(dialog, id)->checked; }
bool controlEnabled(HWND dialog, int id) { return control(dialog, id)->enabled; }
void typeInto(HWND dialog, int id, const std::string& text) { control(dialog, id)->title = text; }
bool sheetOpen() { return openSheet && !openSheet->closed; }

void click(HWND dialog, int id) {
  HWND button = control(dialog, id);
  if (!button->enabled) return;
  button->checked = !button->checked;
  dialog->dialogProc(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)button);
}

void chooseItem(HWND dialog, int id, int index) {
  HWND list = control(dialog, id);
  if (!list->enabled || index < 0 || index >= (int)list->items.size()) return;
  list->selection = index;
  dialog->dialogProc(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), (LPARAM)list);
}

int controlSelection(HWND dialog, int id) { return control(dialog, id)->selection; }
std::vector<std::string> controlItems(HWND dialog, int id) { return control(dialog, id)->items; }

void clickOption(HWND dialog, int id, const std::vector<int>& group) {
  HWND button = control(dialog, id);
  if (!button->enabled) return;
  for (int other : group) control(dialog, other)->checked = false;
  button->checked = true;
  dialog->dialogProc(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)button);
}

void dropFiles(HWND dialog, const std::vector<std::string>& paths) {
  if (!dialog->acceptsFiles) return;
  drops.push_back(std::unique_ptr<HDROP__>(new HDROP__{paths}));
  liveDrops++;
  dialog->dialogProc(dialog, WM_DROPFILES, (WPARAM)drops.back().get(), 0);
}

size_t openDropCount() { return liveDrops; }

void pressF1(HWND dialog, int id) {
  HWND item = id == 0 ? dialog : control(dialog, id);
  HELPINFO help{sizeof(HELPINFO), HELPINFO_WINDOW, id, item, 0, {0, 0}};
  dialog->dialogProc(dialog, WM_HELP, 0, (LPARAM)&help);
}

void answerNextFileDialog(const std::string& path) { fileAnswers.push_back(path); }
const std::vector<FileDialogShown>& fileDialogs() { return fileDialogRecords; }
void setString(UINT id, const std::string& text) { strings[id] = text; }
const std::vector<std::string>& dialogsRun() { return dialogNames; }
void setTitleLibrary(bool present, bool hasPicture) {
  titleLibrary = present;
  titlePicture = hasPicture;
}
const std::vector<BlitRecord>& blits() { return blitRecords; }
int liveGdiObjectCount() { return gdiObjects; }

void resetDialogs() {
  bitmaps.clear();
  sheetUsers.clear();
  sheets.clear();
  pageHandles.clear();
  openSheet = nullptr;
  drops.clear();
  liveDrops = 0;
  fileAnswers.clear();
  fileDialogRecords.clear();
  strings.clear();
  dialogNames.clear();
  sheetPlace = USUAL_SHEET_PLACE;
  titleLibrary = titlePicture = false;
  blitRecords.clear();
  gdiObjects = 0;
}

bool isTitleModule(HMODULE module) { return module == &titleModule; }
HMODULE loadTitleLibrary() { return titleLibrary ? &titleModule : nullptr; }

}  // namespace standin

using standin::record;
using standin::recording;

HWND GetDlgItem(HWND dialog, int id) { return standin::control(dialog, id); }

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
  standin::control(dialog, id)->title = standin::narrow(text);
  return TRUE;
}

UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR text, int size) {
  if (size <= 0) return 0;
  return (UINT)standin::copyOut(standin::control(dialog, id)->title, text, (size_t)size);
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned) {
  std::string text = isSigned ? std::to_string((int)value) : std::to_string(value);
  standin::control(dialog, id)->title = text;
  return TRUE;
}

// As Windows: leading blanks skipped, then digits; anything else, or a
// value past 32 bits, is no number and gives 0.
UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL) {
  const std::string& text = standin::control(dialog, id)->title;
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') i++;
  unsigned long long value = 0;
  bool digits = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; i++) {
    value = value * 10 + (unsigned)(text[i] - '0');
    digits = true;
    if (value > 0xFFFFFFFFull) digits = false, i = text.size();
  }
  bool ok = digits && i == text.size();
  if (translated) *translated = ok;
  return ok ? (UINT)value : 0;
}

namespace {

// An up-down control of the program's pages (UDS_SETBUDDYINT and
// UDS_AUTOBUDDY) steps the box before it in the template, which has the
// id one below its own. As on Windows, a position outside the range is
// moved to its nearer end, and the box then shows the position.
LRESULT setSpinPosition(HWND spin, int position) {
  int previous = spin->position;
  if (position < spin->lowest) position = spin->lowest;
  if (position > spin->highest) position = spin->highest;
  spin->position = position;
  standin::control(spin->parent, spin->id - 1)->title = std::to_string(position);
  return previous;
}

// The position is read back from the box first; a box that holds no
// number within the range leaves it and reports an error.
LRESULT spinPosition(HWND spin, BOOL* error) {
  BOOL isNumber = FALSE;
  UINT typed = GetDlgItemInt(spin->parent, spin->id - 1, &isNumber, FALSE);
  bool fits =
      isNumber && typed <= 0x7FFFFFFF && (int)typed >= spin->lowest && (int)typed <= spin->highest;
  if (fits) spin->position = (int)typed;
  if (error) *error = !fits;
  return spin->position;
}

}  // namespace

LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND item = standin::control(dialog, id);
  switch (message) {
    case BM_SETCHECK: item->checked = wParam == BST_CHECKED; return 0;
    case BM_GETCHECK: return item->checked ? BST_CHECKED : BST_UNCHECKED;
    // The 16-bit messages carry signed 16-bit numbers.
    case UDM_SETRANGE:
      item->lowest = (short)HIWORD(lParam);
      item->highest = (short)LOWORD(lParam);
      return 0;
    case UDM_SETPOS: return setSpinPosition(item, (short)LOWORD(lParam));
    case UDM_SETRANGE32:
      item->lowest = (int)wParam;
      item->highest = (int)lParam;
      return 0;
    case UDM_SETPOS32: return setSpinPosition(item, (int)lParam);
    case UDM_GETPOS32: return spinPosition(item, (BOOL*)lParam);
    case CB_ADDSTRING:
      item->items.push_back(standin::narrow((LPCWSTR)lParam));
      return (LRESULT)item->items.size() - 1;
    case CB_SETCURSEL:
      item->selection = wParam < item->items.size() ? (int)wParam : -1;
      return item->selection < 0 ? CB_ERR : item->selection;
    case CB_GETCURSEL: return item->selection < 0 ? CB_ERR : item->selection;
    // Empties the list, its selection with it; it always answers CB_OKAY (0).
    case CB_RESETCONTENT:
      item->items.clear();
      item->selection = -1;
      return 0;
    default: return 0;
  }
}

BOOL EnableWindow(HWND window, BOOL enable) {
  bool wasDisabled = !window->enabled;
  window->enabled = enable != FALSE;
  return wasDisabled;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  if (recording()) record("EndDialog(" + std::to_string(result) + ")");
  dialog->ended = true;
  dialog->result = result;
  return TRUE;
}

LONG GetWindowLongW(HWND window, int index) { return index == GWL_ID && window ? window->id : 0; }

LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
  if (index != DWLP_MSGRESULT || !window || !window->dialogProc) return 0;
  LONG_PTR previous = window->messageResult;
  window->messageResult = value;
  return previous;
}

INT_PTR DialogBoxParamW(HINSTANCE, LPCWSTR name, HWND owner, DLGPROC proc, LPARAM param) {
  std::string templateName = standin::resourceName(name);
  if (recording()) record("DialogBoxParamW(" + templateName + ")");
  standin::dialogNames.push_back(templateName);
  HWND dialog = standin::newWindow("#32770", "");
  dialog->dialogProc = proc;
  dialog->parent = owner;
  proc(dialog, WM_INITDIALOG, 0, param);
  standin::runModalLoop(dialog);
  standin::forgetWindow(dialog);
  return dialog->ended ? dialog->result : -1;
}

int LoadStringW(HINSTANCE, UINT id, LPWSTR buffer, int size) {
  auto found = standin::strings.find(id);
  if (found == standin::strings.end() || size <= 0) return 0;
  return (int)standin::copyOut(found->second, buffer, (size_t)size);
}

// Sizes as common controls 5 take them (version 6 takes more): any other
// is refused, as Windows refuses it.
HPROPSHEETPAGE CreatePropertySheetPageW(const PROPSHEETPAGEW* page) {
  if (page->dwSize != PROPSHEETPAGEW_V1_SIZE && page->dwSize != PROPSHEETPAGEW_V2_SIZE) return NULL;
  std::unique_ptr<_PSP> copy(new _PSP{*page, standin::resourceName(page->pszTemplate)});
  copy->page.dwSize = page->dwSize;
  standin::pageHandles.push_back(std::move(copy));
  return standin::pageHandles.back().get();
}

INT_PTR PropertySheetW(const PROPSHEETHEADERW* header) {
  if (recording()) record("PropertySheetW");
  if (header->dwSize != PROPSHEETHEADERW_V1_SIZE && header->dwSize != PROPSHEETHEADERW_V2_SIZE)
    return -1;
  standin::PropertySheetShown shown{header->dwSize,
                                    header->dwFlags,
                                    header->hwndParent,
                                    standin::narrow(header->pszCaption),
                                    standin::resourceName(header->pszIcon),
                                    header->nPages,
                                    header->nStartPage,
                                    {},
                                    {},
                                    -1,
                                    {}};
  HWND frame = standin::newWindow("#32770", shown.caption);
  frame->x = (int)standin::sheetPlace.left;
  frame->y = (int)standin::sheetPlace.top;
  frame->width = (int)(standin::sheetPlace.right - standin::sheetPlace.left);
  frame->height = (int)(standin::sheetPlace.bottom - standin::sheetPlace.top);
  standin::Sheet sheet;
  sheet.header = header;
  for (UINT i = 0; i < header->nPages; i++) {
    _PSP* psp = (_PSP*)header->phpage[i];
    shown.templates.push_back(psp->templateName);
    shown.pageSizes.push_back(psp->page.dwSize);
    HWND page = standin::newWindow("#32770", psp->templateName);
    page->dialogProc = psp->page.pfnDlgProc;
    page->parent = frame;
    sheet.pages.push_back(page);
    sheet.shown.push_back(false);
  }
  if (header->pfnCallback) shown.callbackResult = header->pfnCallback(frame, PSCB_INITIALIZED, 0);
  GetWindowRect(frame, &shown.placed);
  standin::sheets.push_back(shown);

  standin::Sheet* outer = standin::openSheet;
  standin::openSheet = &sheet;
  standin::showPage((int)header->nStartPage);
  if (!standin::sheetUsers.empty()) {
    std::function<void()> user = standin::sheetUsers.front();
    standin::sheetUsers.pop_front();
    if (user) user();
  }
  if (!sheet.closed) standin::pressCancel();
  standin::openSheet = outer;
  // The pages go with the sheet, and so do the windows they own.
  for (auto& window : standin::world().windows)
    if (window->alive && window->parent && window->parent->parent == frame)
      standin::forgetWindow(window.get());
  for (HWND page : sheet.pages) standin::forgetWindow(page);
  standin::forgetWindow(frame);
  return 1;
}

void DragAcceptFiles(HWND window, BOOL accept) { window->acceptsFiles = accept != FALSE; }

UINT DragQueryFileW(HDROP drop, UINT index, LPWSTR file, UINT size) {
  if (index == 0xFFFFFFFFu) return (UINT)drop->paths.size();
  if (index >= drop->paths.size()) return 0;
  const std::string& path = drop->paths[index];
  if (!file) return (UINT)standin::widen(path).size();
  if (size == 0) return 0;
  return (UINT)standin::copyOut(path, file, size);
}

void DragFinish(HDROP) {
  if (standin::liveDrops > 0) standin::liveDrops--;
}

BOOL GetOpenFileNameW(OPENFILENAMEW* dialog) {
  if (recording()) record("GetOpenFileNameW");
  if (dialog->lStructSize != OPENFILENAME_SIZE_VERSION_400W &&
      dialog->lStructSize != sizeof *dialog)
    return FALSE;
  standin::FileDialogShown shown{dialog->lStructSize,
                                 dialog->hwndOwner,
                                 {},
                                 "",
                                 dialog->Flags,
                                 dialog->nMaxFile,
                                 standin::narrow(dialog->lpstrFile)};
  for (LPCWSTR p = dialog->lpstrFilter; p && *p; p += std::char_traits<char16_t>::length(p) + 1)
    shown.filter.push_back(standin::narrow(p));
  shown.defaultExtension = standin::narrow(dialog->lpstrDefExt);
  standin::fileDialogRecords.push_back(shown);
  std::string answer;
  if (!standin::fileAnswers.empty()) {
    answer = standin::fileAnswers.front();
    standin::fileAnswers.pop_front();
  }
  if (answer.empty() || standin::widen(answer).size() + 1 > dialog->nMaxFile) return FALSE;
  standin::copyOut(answer, dialog->lpstrFile, dialog->nMaxFile);
  return TRUE;
}

HBITMAP LoadBitmapW(HINSTANCE instance, LPCWSTR name) {
  if (!standin::isTitleModule(instance) || !standin::titlePicture || IS_INTRESOURCE(name) ||
      standin::narrow(name) != "TITLE")
    return nullptr;
  standin::gdiObjects++;
  return &standin::titleBitmap;
}

HDC GetDC(HWND) {
  standin::gdiObjects++;
  standin::screenDc = HDC__();
  return &standin::screenDc;
}

int ReleaseDC(HWND, HDC) {
  standin::gdiObjects--;
  return 1;
}

HDC CreateCompatibleDC(HDC) {
  standin::gdiObjects++;
  return &standin::memoryDc;
}

HGDIOBJ SelectObject(HDC, HGDIOBJ) { return nullptr; }

BOOL BitBlt(HDC target, int x, int y, int width, int height, HDC, int sourceX, int sourceY,
            DWORD operation) {
  standin::blitRecords.push_back(standin::BlitRecord{x, y, width, height, sourceX, sourceY, width,
                                                     height, operation, target->stretchMode});
  return TRUE;
}

BOOL StretchBlt(HDC target, int x, int y, int width, int height, HDC, int sourceX, int sourceY,
                int sourceWidth, int sourceHeight, DWORD operation) {
  standin::blitRecords.push_back(standin::BlitRecord{x, y, width, height, sourceX, sourceY,
                                                     sourceWidth, sourceHeight, operation,
                                                     target->stretchMode});
  return TRUE;
}

// Windows knows four modes and refuses any other.
int SetStretchBltMode(HDC dc, int mode) {
  if (mode < BLACKONWHITE || mode > HALFTONE) return 0;
  int previous = dc->stretchMode;
  dc->stretchMode = mode;
  return previous;
}

BOOL SetBrushOrgEx(HDC, int, int, POINT* previous) {
  if (previous) previous->x = previous->y = 0;
  return TRUE;
}

// The screen's scaling; a context has no other figure the program asks.
int GetDeviceCaps(HDC, int index) {
  if (index == LOGPIXELSX || index == LOGPIXELSY) return standin::world().dpi;
  return 0;
}

BOOL DeleteDC(HDC) {
  standin::gdiObjects--;
  return TRUE;
}

// Stock objects are the system's: never created, never deleted.
HGDIOBJ GetStockObject(int object) { return (HGDIOBJ)(intptr_t)(0x9000 + object); }

BOOL DeleteObject(HGDIOBJ) {
  standin::gdiObjects--;
  return TRUE;
}

HWND GetParent(HWND window) { return window ? window->parent : nullptr; }
BOOL IsWindow(HWND window) { return standin::isWindowAlive(window); }

BOOL GetWindowRect(HWND window, RECT* rect) {
  if (!window) return FALSE;
  *rect = RECT{window->x, window->y, window->x + window->width, window->y + window->height};
  return TRUE;
}

BOOL SetWindowPos(HWND window, HWND, int x, int y, int width, int height, UINT flags) {
  if (!standin::isWindowAlive(window)) return FALSE;
  if (!(flags & SWP_NOMOVE)) {
    window->x = x;
    window->y = y;
  }
  if (!(flags & SWP_NOSIZE)) {
    window->width = width;
    window->height = height;
  }
  return TRUE;
}

namespace standin {

// The help popup: a tracking tooltip of the program's.
LRESULT tooltipMessage(HWND tip, UINT message, WPARAM wParam, LPARAM lParam) {
  const TOOLINFOW* tool = (const TOOLINFOW*)lParam;
  // A tool in a size common controls 5 refuse (sizeof(TOOLINFOW) with
  // lpReserved among them) is refused.
  bool described =
      message == TTM_ADDTOOLW || message == TTM_DELTOOLW || message == TTM_TRACKACTIVATE;
  if (described && (tool == NULL ||
                    (tool->cbSize != TTTOOLINFOW_V1_SIZE && tool->cbSize != TTTOOLINFOW_V2_SIZE)))
    return FALSE;
  switch (message) {
    case TTM_ADDTOOLW: tip->title = standin::narrow(tool->lpszText); return TRUE;
    case TTM_DELTOOLW: tip->title.clear(); return 0;
    case TTM_TRACKACTIVATE: tip->checked = wParam != 0; return 0;
    case TTM_TRACKPOSITION:
      tip->x = (short)LOWORD(lParam), tip->y = (short)HIWORD(lParam);
      return 0;
    default: return 0;
  }
}

std::string helpTipText() {
  for (auto& window : world().windows)
    if (window->alive && window->className == TOOLTIP_CLASS && window->checked)
      return window->title;
  return "";
}

}  // namespace standin

// ---- icons made from pixels --------------------------------------------------------

namespace standin {
namespace {

HBITMAP newBitmap(int width, int height, int bitsPerPixel) {
  bitmaps.push_back(std::unique_ptr<HBITMAP__>(new HBITMAP__()));
  HBITMAP bitmap = bitmaps.back().get();
  bitmap->width = width;
  bitmap->height = height;
  bitmap->bitsPerPixel = bitsPerPixel;
  bitmap->pixels.assign((size_t)width * height, 0);
  gdiObjects++;
  return bitmap;
}

// A pixel of the picture, counted from the top row.
uint32_t& pixelAt(HBITMAP bitmap, int x, int y) {
  int row = bitmap->topDown ? y : bitmap->height - 1 - y;
  return bitmap->pixels[(size_t)row * bitmap->width + x];
}

// A colour table's length other than 0 would have Windows read that many
// colours after the header.
bool is32BitRgb(const BITMAPINFO* info) {
  return info && info->bmiHeader.biSize == sizeof(BITMAPINFOHEADER) &&
         info->bmiHeader.biClrUsed == 0 && info->bmiHeader.biPlanes == 1 &&
         info->bmiHeader.biBitCount == 32 && info->bmiHeader.biCompression == BI_RGB &&
         info->bmiHeader.biWidth > 0 && info->bmiHeader.biHeight != 0;
}

}  // namespace
}  // namespace standin

// A copy of the icon's bitmaps, which the caller deletes: a resource's
// icon is drawn here as the control header describes.
BOOL GetIconInfo(HICON icon, ICONINFO* info) {
  if (!icon || !info || !icon->alive) return FALSE;
  int size = icon->size;
  bool blank = !icon->made && icon->name == "BLANKICON";
  *info = ICONINFO{TRUE, (DWORD)size / 2, (DWORD)size / 2, nullptr, nullptr};
  info->hbmMask = standin::newBitmap(size, blank ? 2 * size : size, 1);
  if (blank) {
    info->hbmMask->pixels.assign(info->hbmMask->pixels.size(), 0xFFFFFF);
    return TRUE;
  }
  info->hbmColor = standin::newBitmap(size, size, 32);
  for (int y = 0; y < size; y++)
    for (int x = 0; x < size; x++) {
      uint32_t pixel;
      if (icon->made) {
        pixel = icon->pixels[(size_t)y * size + x];
      } else {
        bool frame = x == 0 || y == 0 || x == size - 1 || y == size - 1;
        pixel = frame ? 0 : standin::RESOURCE_ICON_COLOUR & 0xFFFFFF;  // no alpha in 16 colours
      }
      bool transparent = icon->made ? (pixel >> 24) == 0 : pixel == 0;
      standin::pixelAt(info->hbmColor, x, y) = pixel;
      standin::pixelAt(info->hbmMask, x, y) = transparent ? 0xFFFFFF : 0;
    }
  return TRUE;
}

int GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, void* bits, BITMAPINFO* info,
              UINT usage) {
  if (!dc || !bitmap || !bits || usage != DIB_RGB_COLORS || !standin::is32BitRgb(info) ||
      info->bmiHeader.biWidth != bitmap->width)
    return 0;
  int height = info->bmiHeader.biHeight < 0 ? -info->bmiHeader.biHeight : info->bmiHeader.biHeight;
  if (start != 0 || (int)lines > height || (int)lines > bitmap->height) return 0;
  uint32_t* out = (uint32_t*)bits;
  for (int row = 0; row < (int)lines; row++) {
    int y = info->bmiHeader.biHeight < 0 ? row : bitmap->height - 1 - row;
    for (int x = 0; x < bitmap->width; x++)
      out[(size_t)row * bitmap->width + x] = standin::pixelAt(bitmap, x, y);
  }
  return (int)lines;
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                         DWORD) {
  if (!standin::is32BitRgb(info) || usage != DIB_RGB_COLORS || !bits || section) return nullptr;
  int height = info->bmiHeader.biHeight < 0 ? -info->bmiHeader.biHeight : info->bmiHeader.biHeight;
  HBITMAP bitmap = standin::newBitmap(info->bmiHeader.biWidth, height, 32);
  bitmap->topDown = info->bmiHeader.biHeight < 0;
  *bits = bitmap->pixels.data();
  return bitmap;
}

// Rows of a one-bit bitmap are padded to whole 16-bit words, top row first.
HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
  if (width <= 0 || height <= 0 || planes != 1 || bitsPerPixel != 1) return nullptr;
  HBITMAP bitmap = standin::newBitmap(width, height, 1);
  const BYTE* rows = (const BYTE*)bits;
  size_t stride = ((size_t)width + 15) / 16 * 2;
  for (int y = 0; rows && y < height; y++)
    for (int x = 0; x < width; x++)
      standin::pixelAt(bitmap, x, y) = (rows[y * stride + x / 8] >> (7 - x % 8)) & 1 ? 0xFFFFFF : 0;
  return bitmap;
}

// The icon copies the pixels: the bitmaps stay the caller's. Where the
// colour bitmap carries alpha, the mask is not used.
HICON CreateIconIndirect(ICONINFO* info) {
  if (!info || !info->fIcon || !info->hbmMask || !info->hbmColor ||
      info->hbmColor->bitsPerPixel != 32 || info->hbmMask->width != info->hbmColor->width ||
      info->hbmMask->height != info->hbmColor->height ||
      info->hbmColor->width != info->hbmColor->height)
    return nullptr;
  HBITMAP color = info->hbmColor;
  auto& icons = standin::world().madeIcons;
  icons.push_back(std::unique_ptr<HICON__>(new HICON__{"", color->width, {}, true, true}));
  HICON icon = icons.back().get();
  bool alpha = false;
  for (uint32_t pixel : color->pixels) alpha = alpha || (pixel >> 24) != 0;
  for (int y = 0; y < color->height; y++)
    for (int x = 0; x < color->width; x++) {
      uint32_t pixel = standin::pixelAt(color, x, y);
      if (!alpha)
        pixel = (pixel & 0xFFFFFF) | (standin::pixelAt(info->hbmMask, x, y) ? 0 : 0xFF000000u);
      icon->pixels.push_back(pixel);
    }
  return icon;
}

// Only an icon made from pixels is destroyed; a shared one is the
// system's.
BOOL DestroyIcon(HICON icon) {
  if (!icon || !icon->made || !icon->alive) return FALSE;
  icon->alive = false;
  return TRUE;
}
