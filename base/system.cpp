#include "base/system.h"

#include <string.h>

#include "base/text.h"

namespace {

// GetDpiForMonitor of SHCORE, Windows 8.1 and later, and its kind of
// figure that follows the user's scaling.
typedef HRESULT(WINAPI* MonitorDpiQuery)(HMONITOR monitor, int kind, UINT* x, UINT* y);
const int EFFECTIVE_DPI = 0;
// Past 500 % no Windows scales; a figure outside is taken for 100 %.
const int MOST_DPI = BASE_DPI * 5;

int askMonitor(POINT point) {
  HMODULE library = loadSystemLibrary("SHCORE.DLL");
  if (library == NULL) return 0;
  UINT x = 0;
  UINT y = 0;
  FARPROC procedure = GetProcAddress(library, "GetDpiForMonitor");
  if (procedure != NULL) {
    MonitorDpiQuery query =
        reinterpret_cast<MonitorDpiQuery>(reinterpret_cast<void (*)(void)>(procedure));
    HMONITOR monitor = MonitorFromPoint(point, MONITOR_DEFAULTTOPRIMARY);
    if (query(monitor, EFFECTIVE_DPI, &x, &y) != S_OK) x = 0;
  }
  FreeLibrary(library);
  return (int)x;
}

}  // namespace

// A system that does not know the search flag (Windows 7 without its
// update) is given the folder's full path.
HMODULE loadSystemLibrary(const char* name) {
  WideText file = wide(name);
  HMODULE library = LoadLibraryExW(file.text, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (library != NULL || GetLastError() != ERROR_INVALID_PARAMETER) return library;
  WCHAR path[MAX_PATH];
  UINT length = GetSystemDirectoryW(path, MAX_PATH);
  size_t nameLength = 0;
  while (file.text[nameLength] != 0) nameLength++;
  if (length == 0 || length + 1 + nameLength + 1 > MAX_PATH) return NULL;
  path[length] = '\\';
  memcpy(path + length + 1, file.text, (nameLength + 1) * sizeof(WCHAR));
  return LoadLibraryExW(path, NULL, 0);
}

// Where Windows has one scaling for all monitors, the screen's drawing
// context tells it.
int monitorDpi(POINT point) {
  int dpi = askMonitor(point);
  if (dpi == 0) {
    HDC screen = GetDC(NULL);
    dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(NULL, screen);
  }
  return dpi >= BASE_DPI && dpi <= MOST_DPI ? dpi : BASE_DPI;
}
