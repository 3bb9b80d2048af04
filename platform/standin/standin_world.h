// The stand-in's shared state, seen only by the stand-in's own files.
#ifndef KIVVET_PLATFORM_STANDIN_WORLD_H
#define KIVVET_PLATFORM_STANDIN_WORLD_H

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/standin/standin_control.h"

// Sets what GetLastError answers; the program itself never calls it.
void SetLastError(DWORD error);

struct HWND__ {
  std::string className;
  std::string title;
  WNDPROC proc;
  DWORD style;
  DWORD exStyle;
  int x, y, width, height;
  bool alive;
  // Dialogs and their controls.
  DLGPROC dialogProc = nullptr;
  HWND parent = nullptr;
  int id = 0;
  bool enabled = true;
  bool checked = false;
  bool acceptsFiles = false;
  bool ended = false;
  INT_PTR result = 0;
  LPARAM range = 0;
  int position = 0;
  std::vector<std::string> items;  // of a drop-down list
  int selection = -1;
  LONG_PTR messageResult = 0;  // a dialog's answer to its last notification
  std::map<int, HWND> controls;
};

struct HMENU__ {
  std::vector<standin::MenuItem> items;
  bool alive;
};

struct HICON__ {
  std::string name;
  int size = 32;  // pixels; LoadIconW's icons are the large ones
  // An icon made by CreateIconIndirect: its pixels, 0xAARRGGBB, top row
  // first; a resource's icon has none of its own (GetIconInfo draws one).
  std::vector<uint32_t> pixels = {};
  bool made = false;
  bool alive = true;
};

struct HINSTANCE__ {
  std::string name;
};

namespace standin {

struct Timer {
  HWND window;
  UINT_PTR id;
  UINT period;
  TIMERPROC proc;
  DWORD due;
  bool pending;  // a WM_TIMER for it waits in the queue
};

struct Scheduled {
  DWORD time;
  long order;
  std::function<void()> action;
};

struct World {
  DWORD clock = 0;
  long long localTimeAtZero = 9 * 3600000LL;  // the time of day when the clock read 0
  std::deque<MSG> queue;
  bool quitPosted = false;
  int quitCode = 0;
  bool stalled = false;
  bool keepRecords = true;
  std::vector<std::string> trace;

  std::map<std::string, WNDPROC> classes;
  std::vector<std::unique_ptr<HWND__>> windows;
  bool failRegisterClass = false;
  bool failCreateWindow = false;
  int dpi = 96;
  int monitorDpi = 0;  // 0: the system's
  int screenWidth = 1024;
  int screenHeight = 768;

  std::vector<Timer> timers;
  std::vector<Scheduled> scheduled;
  long scheduleOrder = 0;

  std::vector<std::unique_ptr<HMENU__>> menus;
  std::vector<MessageBoxRecord> messageBoxes;
  std::deque<std::function<void()>> messageBoxActions;
  std::deque<std::function<void()>> trayCallActions;
  std::deque<int> messageBoxAnswers;

  std::map<std::string, UINT> registeredMessages;
  std::vector<TrayRequest> trayRequests;
  std::vector<TrayIcon> tray;
  int trayRefusals = 0;
  std::map<std::string, std::unique_ptr<HICON__>> icons;
  std::vector<std::unique_ptr<HICON__>> madeIcons;

  int allocCountdown = 0;
  size_t liveAllocations = 0;

  int wsaStartupError = 0;
  int wsaStartupVersion = 0;

  DWORD lastError = 0;
};

World& world();
// The one monitor's handle.
HMONITOR primaryMonitor();
// Whether calls are written down (the trace, the tray's requests, the
// sounds): the callers build no record when it is off.
bool recording();
void record(const std::string& line);
std::string quoted(const char* text);
std::string quoted(LPCWSTR text);
// The stand-in keeps its records in UTF-8; the wide calls carry UTF-16.
std::string narrow(LPCWSTR text);
// At most units WCHARs of a fixed field that need not end in a NUL.
std::string narrowWithin(const WCHAR* field, size_t units);
std::u16string widen(const std::string& text);
// A text handed back into the caller's buffer of units WCHARs, NUL
// included, cut where it ends; the WCHARs copied without the NUL.
size_t copyOut(const std::string& text, LPWSTR buffer, size_t units);
// A resource named by number ("#n") or by its name.
std::string resourceName(LPCWSTR name);
// The command line GetCommandLineW answers (setArguments makes it).
extern std::u16string commandLine;
// The program's own path (setModulePath), as GetModuleFileNameW gives it.
const std::string& modulePath();
const char TOOLTIP_CLASS[] = "tooltips_class32";

// Files, sockets and the shell keep their own state; reset() calls these.
void resetFiles();
void resetNet();
void resetShell();
void resetDialogs();
void resetTls();
void resetLibraries();
// ASCII letters in lower case: names Windows compares without case.
std::string lower(std::string text);
// The toy TLS records (standin_tls.cpp): parse one from the front of the
// bytes; false while it is incomplete.
bool takeTlsRecord(const std::string& bytes, int* type, std::string* body, size_t* length);
std::string maskTlsText(const std::string& text);
bool isTitleModule(HMODULE module);
HMODULE loadTitleLibrary();
LRESULT tooltipMessage(HWND tip, UINT message, WPARAM wParam, LPARAM lParam);
// Process handles live beside file handles; CloseHandle asks here.
bool closeProcessHandle(HANDLE handle);
void runScheduledActionsNow();
// A window record owned by the stand-in (dialogs, controls).
HWND newWindow(const std::string& className, const std::string& title);
// Runs the modal loop of a dialog until it ends or nothing can happen.
void runModalLoop(HWND dialog);
void forgetWindow(HWND window);

}  // namespace standin

#endif
