// Windows, the message queue, timers on the virtual clock, menus, message
// boxes, the notification area and local memory.
#include <errno.h>
#include <iconv.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <utility>

#include "platform/standin/standin_world.h"

namespace standin {

namespace {

World* theWorld = nullptr;
HINSTANCE__ programModule{"program"};

Timer* findTimer(HWND window, UINT_PTR id) {
  for (Timer& timer : world().timers)
    if (timer.window == window && timer.id == id) return &timer;
  return nullptr;
}

// The earliest due timer that has no WM_TIMER waiting yet.
Timer* dueTimer() {
  Timer* best = nullptr;
  for (Timer& timer : world().timers)
    if (timer.due <= world().clock && (!best || timer.due < best->due)) best = &timer;
  return best;
}

// The next virtual time at which something can happen, or false.
bool nextEventTime(DWORD* time) {
  bool found = false;
  DWORD best = 0;
  for (const Timer& timer : world().timers)
    if (!found || timer.due < best) best = timer.due, found = true;
  for (const Scheduled& item : world().scheduled)
    if (!found || item.time < best) best = item.time, found = true;
  *time = best;
  return found;
}

void runScheduledActions() {
  for (;;) {
    auto& list = world().scheduled;
    auto due = list.end();
    for (auto it = list.begin(); it != list.end(); ++it)
      if (it->time <= world().clock && (due == list.end() || it->order < due->order)) due = it;
    if (due == list.end()) return;
    std::function<void()> action = due->action;
    list.erase(due);
    action();
  }
}

// Takes the next message the way GetMessage ranks them: posted messages
// first, then the quit flag, then timers.
bool takeMessage(MSG* msg, bool takeQuit) {
  World& w = world();
  if (!w.queue.empty()) {
    *msg = w.queue.front();
    w.queue.pop_front();
    return true;
  }
  if (w.quitPosted) {
    if (!takeQuit) return false;
    w.quitPosted = false;
    *msg = MSG{nullptr, WM_QUIT, (WPARAM)w.quitCode, 0, w.clock, {0, 0}};
    return true;
  }
  if (Timer* timer = dueTimer()) {
    *msg = MSG{timer->window, WM_TIMER, timer->id, (LPARAM)timer->proc, w.clock, {0, 0}};
    timer->due = w.clock + timer->period;
    return true;
  }
  return false;
}

}  // namespace

World& world() {
  if (!theWorld) theWorld = new World();
  return *theWorld;
}

bool recording() { return world().keepRecords; }
void record(const std::string& line) { world().trace.push_back(line); }

std::string quoted(const char* text) {
  if (!text) return "NULL";
  if (IS_INTRESOURCE(text)) return "#" + std::to_string((unsigned)(ULONG_PTR)text);
  return std::string("\"") + text + "\"";
}

void reset() {
  delete theWorld;
  theWorld = new World();
  resetFiles();
  resetNet();
  resetShell();
  resetDialogs();
  resetTls();
  setArguments({"KivvetLE.exe"});
}

void resetKeepingWindows() {
  World& w = world();
  // The clock starts again too: a DWORD of milliseconds runs out after
  // 49 days, some 33,000 inputs of the dialogue fuzzer.
  w.clock = 0;
  w.queue.clear();
  w.quitPosted = false;
  w.stalled = false;
  w.trace.clear();
  w.timers.clear();
  w.scheduled.clear();
  w.messageBoxes.clear();
  w.messageBoxActions.clear();
  w.trayCallActions.clear();
  w.messageBoxAnswers.clear();
  w.trayRequests.clear();
  w.trayRefusals = 0;
  w.allocCountdown = 0;
  w.lastError = 0;
  resetFiles();
  resetNet();
  resetShell();
  resetDialogs();
  resetTls();
}

HINSTANCE programInstance() { return &programModule; }

std::u16string commandLine;

// The words are put into one line as the C run-time would split it:
// quoted when they hold a blank, with the backslashes before a quote
// doubled.
void setArguments(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) {
    if (!line.empty()) line += ' ';
    bool quote = word.empty() || word.find_first_of(" \t\"") != std::string::npos;
    if (!quote) {
      line += word;
      continue;
    }
    line += '"';
    size_t backslashes = 0;
    for (char c : word) {
      if (c == '\\') {
        backslashes++;
        continue;
      }
      line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
      backslashes = 0;
      line += c;
    }
    line.append(2 * backslashes, '\\');
    line += '"';
  }
  commandLine = widen(line);
}

std::string narrow(LPCWSTR text) {
  std::string result;
  if (!text) return result;
  for (size_t i = 0; text[i]; i++) {
    unsigned long code = text[i];
    if (code >= 0xD800 && code <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
    else if (code >= 0xD800 && code <= 0xDFFF)
      code = 0xFFFD;
    if (code < 0x80) {
      result += (char)code;
    } else if (code < 0x800) {
      result += (char)(0xC0 | code >> 6);
      result += (char)(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      result += (char)(0xE0 | code >> 12);
      result += (char)(0x80 | (code >> 6 & 0x3F));
      result += (char)(0x80 | (code & 0x3F));
    } else {
      result += (char)(0xF0 | code >> 18);
      result += (char)(0x80 | (code >> 12 & 0x3F));
      result += (char)(0x80 | (code >> 6 & 0x3F));
      result += (char)(0x80 | (code & 0x3F));
    }
  }
  return result;
}

std::string narrowWithin(const WCHAR* field, size_t units) {
  std::u16string text;
  for (size_t i = 0; i < units && field[i]; i++) text += field[i];
  return narrow(text.c_str());
}

std::u16string widen(const std::string& text) {
  std::u16string result;
  const unsigned char* p = (const unsigned char*)text.c_str();
  while (*p) {
    unsigned long code = *p;
    size_t length = code < 0x80 ? 1 : code >= 0xF0 ? 4 : code >= 0xE0 ? 3 : code >= 0xC0 ? 2 : 1;
    if (length > 1) code &= 0x3F >> (length - 1);
    size_t i = 1;
    for (; i < length && (p[i] & 0xC0) == 0x80; i++) code = code << 6 | (p[i] & 0x3F);
    if (i < length || (length == 1 && *p >= 0x80)) code = 0xFFFD, length = 1;
    p += length;
    if (code >= 0x10000) {
      result += (char16_t)(0xD800 + ((code - 0x10000) >> 10));
      result += (char16_t)(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      result += (char16_t)code;
    }
  }
  return result;
}

size_t copyOut(const std::string& text, LPWSTR buffer, size_t units) {
  if (units == 0) return 0;
  std::u16string wide = widen(text);
  size_t copied = std::min(wide.size(), units - 1);
  // Windows cuts where the buffer ends, even between two surrogates.
  memcpy(buffer, wide.data(), copied * sizeof(WCHAR));
  buffer[copied] = 0;
  return copied;
}

std::string quoted(LPCWSTR text) {
  return text ? quoted(narrow(text).c_str()) : quoted((const char*)nullptr);
}

std::string resourceName(LPCWSTR name) {
  return IS_INTRESOURCE(name) ? "#" + std::to_string((unsigned)(ULONG_PTR)name) : narrow(name);
}

DWORD now() { return world().clock; }

void pump() {
  MSG msg;
  for (;;) {
    runScheduledActions();
    if (!takeMessage(&msg, false)) break;
    DispatchMessageW(&msg);
  }
}

void runScheduledActionsNow() { runScheduledActions(); }

void advance(DWORD ms) {
  World& w = world();
  DWORD target = w.clock + ms;
  pump();
  DWORD next;
  while (nextEventTime(&next) && next <= target) {
    if (next > w.clock) w.clock = next;
    runScheduledActions();
    pump();
  }
  w.clock = target;
  runScheduledActions();
  pump();
}

void at(DWORD time, std::function<void()> action) {
  world().scheduled.push_back(Scheduled{time, world().scheduleOrder++, std::move(action)});
}

bool stalled() { return world().stalled; }

bool onlyTimerUntil(HWND window, UINT_PTR id, DWORD time) {
  const World& w = world();
  if (!w.queue.empty() || w.quitPosted) return false;
  for (const Scheduled& item : w.scheduled)
    if (item.time <= time) return false;
  for (const Timer& timer : w.timers)
    if ((timer.window != window || timer.id != id) && timer.due <= time) return false;
  return true;
}
size_t queuedMessageCount() { return world().queue.size(); }

const std::vector<std::string>& trace() { return world().trace; }
void clearTrace() { world().trace.clear(); }
void keepRecords(bool on) { world().keepRecords = on; }
std::vector<std::string> traceOf(const std::string& prefix) {
  std::vector<std::string> lines;
  for (const std::string& line : world().trace)
    if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
  return lines;
}

HWND findWindow(const std::string& className) {
  for (auto& window : world().windows)
    if (window->alive && window->className == className) return window.get();
  return nullptr;
}

WindowInfo windowInfo(HWND w) {
  return WindowInfo{w->className, w->title, w->style,  w->exStyle, w->x,
                    w->y,         w->width, w->height, false,      w->alive};
}

bool isWindowAlive(HWND window) { return window && window->alive; }

HWND newWindow(const std::string& className, const std::string& title) {
  std::unique_ptr<HWND__> window(new HWND__());
  window->className = className;
  window->title = title;
  window->proc = nullptr;
  window->style = window->exStyle = 0;
  window->x = window->y = window->width = window->height = 0;
  window->alive = true;
  world().windows.push_back(std::move(window));
  return world().windows.back().get();
}

void runModalLoop(HWND dialog) {
  MSG msg;
  while (!dialog->ended) {
    runScheduledActions();
    if (takeMessage(&msg, false)) {
      DispatchMessageW(&msg);
      continue;
    }
    DWORD next;
    if (!nextEventTime(&next)) break;
    if (next > world().clock) world().clock = next;
  }
}
void failNextRegisterClass() { world().failRegisterClass = true; }
void failNextCreateWindow() { world().failCreateWindow = true; }
void setDpi(int dpi) { world().dpi = dpi; }
void setMonitorDpi(int dpi) { world().monitorDpi = dpi; }
HMONITOR primaryMonitor() { return reinterpret_cast<HMONITOR>(0x10001); }
int iconSize(HICON icon) { return icon ? icon->size : 0; }
size_t liveMadeIconCount() {
  size_t live = 0;
  for (const auto& icon : world().madeIcons) live += icon->alive ? 1 : 0;
  return live;
}

void setScreenSize(int width, int height) {
  world().screenWidth = width;
  world().screenHeight = height;
}

bool timerRunning(HWND window, UINT_PTR id) { return findTimer(window, id) != nullptr; }
UINT timerPeriod(HWND window, UINT_PTR id) {
  Timer* timer = findTimer(window, id);
  return timer ? timer->period : 0;
}
DWORD timerDue(HWND window, UINT_PTR id) {
  Timer* timer = findTimer(window, id);
  return timer ? timer->due : 0;
}

std::vector<MenuItem> menuItems(HMENU menu) { return menu ? menu->items : std::vector<MenuItem>(); }
size_t liveMenuCount() {
  size_t count = 0;
  for (auto& menu : world().menus) count += menu->alive;
  return count;
}

const std::vector<MessageBoxRecord>& messageBoxes() { return world().messageBoxes; }
void onNextMessageBox(std::function<void()> action) {
  world().messageBoxActions.push_back(std::move(action));
}
void answerNextMessageBox(int button) { world().messageBoxAnswers.push_back(button); }
void duringNextTrayCall(std::function<void()> action) {
  world().trayCallActions.push_back(std::move(action));
}

const std::vector<TrayRequest>& trayRequests() { return world().trayRequests; }
const TrayIcon* trayIcon(HWND window, UINT id) {
  for (const TrayIcon& icon : world().tray)
    if (icon.window == window && icon.id == id) return &icon;
  return nullptr;
}
size_t trayIconCount() { return world().tray.size(); }
void refuseTrayRequests(int n) { world().trayRefusals = n; }

void restartTaskbar() {
  World& w = world();
  w.tray.clear();
  UINT message = RegisterWindowMessageW(u"TaskbarCreated");
  for (auto& window : w.windows)
    if (window->alive) PostMessageW(window.get(), message, 0, 0);
}

std::string iconName(HICON icon) { return icon ? icon->name : std::string(); }

void failLocalAllocAt(int n) { world().allocCountdown = n; }
size_t liveAllocationCount() { return world().liveAllocations; }

void failWSAStartup(int error) { world().wsaStartupError = error; }
int wsaStartupVersion() { return world().wsaStartupVersion; }

}  // namespace standin

using standin::record;
using standin::recording;
using standin::world;

// ---- windows ----------------------------------------------------------------

ATOM RegisterClassW(const WNDCLASSW* windowClass) {
  auto& w = world();
  std::string name = standin::narrow(windowClass->lpszClassName);
  if (recording())
    record("RegisterClassW(" + standin::quoted(name.c_str()) + ", icon " +
           standin::iconName(windowClass->hIcon) + ")");
  if (w.failRegisterClass || w.classes.count(name)) {
    w.failRegisterClass = false;
    return 0;
  }
  w.classes[name] = windowClass->lpfnWndProc;
  return (ATOM)w.classes.size();
}

HWND CreateWindowExW(DWORD exStyle, LPCWSTR classNameW, LPCWSTR windowNameW, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU, HINSTANCE instance,
                     LPVOID param) {
  auto& w = world();
  std::string className = standin::narrow(classNameW);
  std::string windowName = standin::narrow(windowNameW);
  if (recording())
    record("CreateWindowExW(" + standin::quoted(classNameW) + ", " + standin::quoted(windowNameW) +
           ")");
  if (className == standin::TOOLTIP_CLASS) {
    HWND tip = standin::newWindow(className, "");
    tip->parent = parent;
    return tip;
  }
  auto found = w.classes.find(className);
  if (found == w.classes.end() || w.failCreateWindow) {
    w.failCreateWindow = false;
    return nullptr;
  }
  HWND window = standin::newWindow(className, windowName);
  window->proc = found->second;
  window->style = style, window->exStyle = exStyle;
  window->x = x, window->y = y, window->width = width, window->height = height;
  CREATESTRUCTW create{param, instance, nullptr,     nullptr,     height,     width,
                       y,     x,        (LONG)style, windowNameW, classNameW, exStyle};
  if (window->proc(window, WM_CREATE, 0, (LPARAM)&create) == -1) {
    DestroyWindow(window);
    return nullptr;
  }
  return window;
}

namespace standin {
// A window that goes takes its timers with it.
void forgetWindow(HWND window) {
  window->alive = false;
  auto& timers = world().timers;
  timers.erase(std::remove_if(timers.begin(), timers.end(),
                              [window](const standin::Timer& t) { return t.window == window; }),
               timers.end());
}
}  // namespace standin

BOOL DestroyWindow(HWND window) {
  if (!standin::isWindowAlive(window)) return FALSE;
  if (recording()) record("DestroyWindow");
  if (window->proc) window->proc(window, WM_DESTROY, 0, 0);
  standin::forgetWindow(window);
  return TRUE;
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
  if (recording())
    record("MoveWindow(" + std::to_string(x) + ", " + std::to_string(y) + ", " +
           std::to_string(width) + ", " + std::to_string(height) + ", " + std::to_string(repaint) +
           ")");
  if (!standin::isWindowAlive(window)) return FALSE;
  window->x = x, window->y = y, window->width = width, window->height = height;
  return TRUE;
}

LRESULT DefWindowProcW(HWND window, UINT message, WPARAM, LPARAM) {
  if (message == WM_CLOSE) DestroyWindow(window);
  return 0;
}

BOOL GetMessageW(LPMSG msg, HWND, UINT, UINT) {
  auto& w = world();
  for (;;) {
    standin::runScheduledActions();
    if (standin::takeMessage(msg, true)) return msg->message != WM_QUIT;
    DWORD next;
    if (!standin::nextEventTime(&next)) {
      // Nothing can ever arrive: end the loop rather than hang the test.
      w.stalled = true;
      *msg = MSG{nullptr, WM_QUIT, 0, 0, w.clock, {0, 0}};
      return FALSE;
    }
    if (next > w.clock) w.clock = next;
  }
}

BOOL TranslateMessage(const MSG*) { return FALSE; }

LRESULT DispatchMessageW(const MSG* msg) {
  if (msg->message == WM_TIMER && msg->lParam) {
    ((TIMERPROC)msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, world().clock);
    return 0;
  }
  if (!standin::isWindowAlive(msg->hwnd)) return 0;
  if (!msg->hwnd->proc) return 0;
  return msg->hwnd->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!standin::isWindowAlive(window)) return FALSE;
  world().queue.push_back(MSG{window, message, wParam, lParam, world().clock, {0, 0}});
  return TRUE;
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!standin::isWindowAlive(window)) return 0;
  if (window->dialogProc) return window->dialogProc(window, message, wParam, lParam);
  if (window->className == standin::TOOLTIP_CLASS)
    return standin::tooltipMessage(window, message, wParam, lParam);
  if (!window->proc) return 0;
  return window->proc(window, message, wParam, lParam);
}

void PostQuitMessage(int exitCode) {
  if (recording()) record("PostQuitMessage(" + std::to_string(exitCode) + ")");
  world().quitPosted = true;
  world().quitCode = exitCode;
}

UINT RegisterWindowMessageW(LPCWSTR nameW) {
  std::string name = standin::narrow(nameW);
  auto& known = world().registeredMessages;
  auto found = known.find(name);
  if (found != known.end()) return found->second;
  UINT id = 0xC000 + (UINT)known.size() + 0x10;
  known[name] = id;
  if (recording()) record("RegisterWindowMessageW(" + standin::quoted(nameW) + ")");
  return id;
}

int GetSystemMetrics(int index) {
  if (index == SM_CXSCREEN) return world().screenWidth;
  if (index == SM_CYSCREEN) return world().screenHeight;
  return 0;
}

BOOL SetForegroundWindow(HWND) {
  if (recording()) record("SetForegroundWindow");
  return TRUE;
}

HMONITOR MonitorFromPoint(POINT point, DWORD flags) {
  HMONITOR primary = standin::primaryMonitor();
  if (flags > MONITOR_DEFAULTTONEAREST) return nullptr;
  bool onScreen = point.x >= 0 && point.y >= 0 && point.x < world().screenWidth &&
                  point.y < world().screenHeight;
  return onScreen || flags != MONITOR_DEFAULTTONULL ? primary : nullptr;
}

HMONITOR MonitorFromWindow(HWND window, DWORD flags) {
  if (!standin::isWindowAlive(window) || flags > MONITOR_DEFAULTTONEAREST) return nullptr;
  return standin::primaryMonitor();
}

// The record's first form only, which is all the program asks for.
BOOL GetMonitorInfoW(HMONITOR monitor, MONITORINFO* info) {
  if (monitor != standin::primaryMonitor() || !info || info->cbSize != sizeof(MONITORINFO))
    return FALSE;
  const int TASKBAR = 40;
  info->rcMonitor = RECT{0, 0, world().screenWidth, world().screenHeight};
  info->rcWork = RECT{0, 0, world().screenWidth, world().screenHeight - TASKBAR};
  info->dwFlags = MONITORINFOF_PRIMARY;
  return TRUE;
}

BOOL GetCursorPos(POINT* point) {
  point->x = 1000;
  point->y = 750;
  return TRUE;
}

// ---- timers -------------------------------------------------------------------

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc) {
  if (recording()) record("SetTimer(" + std::to_string(id) + ", " + std::to_string(elapse) + ")");
  if (!standin::isWindowAlive(window)) return 0;
  // USER_TIMER_MINIMUM and USER_TIMER_MAXIMUM, as Windows clamps them.
  if (elapse < 10) elapse = 10;
  if (elapse > 0x7FFFFFFFu) elapse = 0x7FFFFFFFu;
  DWORD due = world().clock + elapse;
  if (standin::Timer* timer = standin::findTimer(window, id)) {
    timer->period = elapse, timer->proc = proc, timer->due = due;
  } else {
    world().timers.push_back(standin::Timer{window, id, elapse, proc, due, false});
  }
  return id;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
  if (recording()) record("KillTimer(" + std::to_string(id) + ")");
  auto& timers = world().timers;
  for (auto it = timers.begin(); it != timers.end(); ++it)
    if (it->window == window && it->id == id) {
      timers.erase(it);
      return TRUE;
    }
  return FALSE;
}

DWORD GetTickCount(void) { return world().clock; }

// A Monday in spring; only the time of day moves.
void GetLocalTime(SYSTEMTIME* time) {
  const long long DAY_MS = 86400000LL;
  long long ms = ((world().localTimeAtZero + world().clock) % DAY_MS + DAY_MS) % DAY_MS;
  *time = SYSTEMTIME{2024,
                     4,
                     1,
                     1,
                     (WORD)(ms / 3600000),
                     (WORD)(ms / 60000 % 60),
                     (WORD)(ms / 1000 % 60),
                     (WORD)(ms % 1000)};
}

void standin::setLocalTime(int hour, int minute) {
  world().localTimeAtZero = (hour * 60LL + minute) * 60000LL - world().clock;
}

void Sleep(DWORD milliseconds) {
  if (recording()) record("Sleep(" + std::to_string(milliseconds) + ")");
  world().clock += milliseconds;
  // The rest of the world goes on meanwhile; our own messages wait.
  standin::runScheduledActionsNow();
}

HICON LoadIconW(HINSTANCE instance, LPCWSTR name) {
  std::string key = standin::resourceName(name);
  if (!instance && !IS_INTRESOURCE(name)) return nullptr;
  auto& icons = world().icons;
  auto& slot = icons[key];
  if (!slot) slot.reset(new HICON__{key});
  return slot.get();
}

HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name) { return LoadIconW(instance, name); }

// An icon of the program's at a size; shared, as LR_SHARED asks, so each
// name and size is loaded once and never destroyed.
HANDLE LoadImageW(HINSTANCE instance, LPCWSTR nameW, UINT type, int width, int height, UINT flags) {
  LPCWSTR name = nameW;
  if (!instance || IS_INTRESOURCE(name) || type != IMAGE_ICON || width != height || width <= 0 ||
      !(flags & LR_SHARED))
    return nullptr;
  std::string key = standin::narrow(name) + "@" + std::to_string(width);
  auto& slot = world().icons[key];
  if (!slot) slot.reset(new HICON__{standin::narrow(name), width});
  return slot.get();
}

// ---- menus -------------------------------------------------------------------

HMENU CreatePopupMenu(void) {
  if (recording()) record("CreatePopupMenu");
  world().menus.push_back(std::unique_ptr<HMENU__>(new HMENU__{{}, true}));
  return world().menus.back().get();
}

BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR id, LPCWSTR item) {
  if (recording())
    record("AppendMenuW(" + std::to_string(flags) + ", " + std::to_string(id) + ", " +
           standin::quoted(item) + ")");
  if (!menu || !menu->alive) return FALSE;
  menu->items.push_back(
      standin::MenuItem{id, standin::narrow(item), flags, (flags & MF_GRAYED) != 0});
  return TRUE;
}

BOOL EnableMenuItem(HMENU menu, UINT id, UINT enable) {
  if (!menu || !menu->alive) return -1;
  for (auto& item : menu->items)
    if (item.id == id) {
      BOOL previous = item.grayed ? MF_GRAYED : MF_ENABLED;
      item.grayed = (enable & (MF_GRAYED | MF_DISABLED)) != 0;
      return previous;
    }
  return -1;
}

// As on Windows, a menu's submenus go with it.
BOOL DestroyMenu(HMENU menu) {
  if (recording()) record("DestroyMenu");
  if (!menu || !menu->alive) return FALSE;
  menu->alive = false;
  for (const auto& item : menu->items)
    if (item.flags & MF_POPUP) DestroyMenu((HMENU)item.id);
  return TRUE;
}

// ---- message boxes -------------------------------------------------------------

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  auto& w = world();
  if (recording()) record("MessageBoxW(" + standin::quoted(text) + ")");
  w.messageBoxes.push_back(standin::MessageBoxRecord{owner, standin::narrow(text),
                                                     standin::narrow(caption), type, w.clock});
  if (!w.messageBoxActions.empty()) {
    std::function<void()> action = w.messageBoxActions.front();
    w.messageBoxActions.pop_front();
    action();
  }
  if ((type & 0xF) == MB_RETRYCANCEL) {
    if (w.messageBoxAnswers.empty()) return IDCANCEL;
    int button = w.messageBoxAnswers.front();
    w.messageBoxAnswers.pop_front();
    return button;
  }
  return IDOK;
}

void InitCommonControls(void) {
  if (recording()) record("InitCommonControls");
}

// ---- the notification area ----------------------------------------------------

BOOL Shell_NotifyIconW(DWORD message, PNOTIFYICONDATAW data) {
  auto& w = world();
  // The shell answers from another process: while the program waits,
  // Windows delivers the messages other threads send it.
  if (!w.trayCallActions.empty()) {
    std::function<void()> action = w.trayCallActions.front();
    w.trayCallActions.pop_front();
    action();
  }
  standin::TrayIcon icon{data->hWnd,
                         data->uID,
                         data->uFlags,
                         data->uCallbackMessage,
                         standin::iconName(data->hIcon),
                         standin::narrowWithin(data->szTip, 64),
                         0,
                         "",
                         "",
                         0};
  icon.iconSize = standin::iconSize(data->hIcon);
  if (data->hIcon) icon.pixels = data->hIcon->pixels;  // the shell keeps its own copy
  // The stand-in knows the first two forms only: any other size is
  // refused. A balloon needs the second; the shell reads no further than
  // the size it is given.
  bool accepted =
      data->cbSize == NOTIFYICONDATAW_V1_SIZE || data->cbSize == NOTIFYICONDATAW_V2_SIZE;
  if (data->uFlags & NIF_INFO) {
    accepted = accepted && data->cbSize == NOTIFYICONDATAW_V2_SIZE;
    icon.infoTitle = standin::narrowWithin(data->szInfoTitle, 64);
    icon.info = standin::narrowWithin(data->szInfo, 256);
    icon.infoFlags = data->dwInfoFlags;
  }
  if (w.trayRefusals > 0) {
    w.trayRefusals--;
    accepted = false;
  }
  auto existing = std::find_if(w.tray.begin(), w.tray.end(), [&](const standin::TrayIcon& t) {
    return t.window == icon.window && t.id == icon.id;
  });
  if (accepted) {
    if (message == NIM_ADD) {
      accepted = existing == w.tray.end();
      if (accepted) w.tray.push_back(icon);
    } else if (message == NIM_MODIFY) {
      accepted = existing != w.tray.end();
      if (accepted) {
        if (icon.flags & NIF_ICON) {
          existing->icon = icon.icon;
          existing->iconSize = icon.iconSize;
          existing->pixels = icon.pixels;
        }
        if (icon.flags & NIF_TIP) existing->tip = icon.tip;
        if (icon.flags & NIF_MESSAGE) existing->callbackMessage = icon.callbackMessage;
      }
    } else if (message == NIM_DELETE) {
      accepted = existing != w.tray.end();
      if (accepted) w.tray.erase(existing);
    } else {
      accepted = false;
    }
  }
  if (recording()) {
    static const char* const names[] = {"ADD", "MODIFY", "DELETE"};
    record(std::string("Shell_NotifyIconW(") + (message < 3 ? names[message] : "?") + ", " +
           icon.icon + ", " + standin::quoted(icon.tip.c_str()) + ") -> " + (accepted ? "1" : "0"));
    w.trayRequests.push_back(standin::TrayRequest{w.clock, message, data->cbSize, icon, accepted});
  }
  return accepted ? TRUE : FALSE;
}

// ---- memory ------------------------------------------------------------------

HLOCAL LocalAlloc(UINT flags, size_t bytes) {
  auto& w = world();
  if (w.allocCountdown > 0 && --w.allocCountdown == 0) {
    w.lastError = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  void* memory = (flags & LMEM_ZEROINIT) ? calloc(1, bytes ? bytes : 1) : malloc(bytes ? bytes : 1);
  if (memory) w.liveAllocations++;
  return memory;
}

HLOCAL LocalFree(HLOCAL memory) {
  if (memory) {
    free(memory);
    world().liveAllocations--;
  }
  return nullptr;
}

// ---- strings -------------------------------------------------------------------

int lstrcmpiW(LPCWSTR a, LPCWSTR b) {
  int result = strcasecmp(standin::narrow(a).c_str(), standin::narrow(b).c_str());
  return result < 0 ? -1 : result > 0 ? 1 : 0;
}

LPWSTR GetCommandLineW(void) { return &standin::commandLine[0]; }

// ---- code pages ------------------------------------------------------------------

namespace {

const UINT SHIFT_JIS = 932;
const DWORD ERROR_INSUFFICIENT_BUFFER = 122;
const DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;

// One character through iconv; false when the other side has none.
bool convertOne(bool toUnicode, const char* in, size_t inLength, std::string* out) {
  static iconv_t decoder = iconv_open("UTF-16LE", "CP932");
  static iconv_t encoder = iconv_open("CP932", "UTF-16LE");
  iconv_t converter = toUnicode ? decoder : encoder;
  char buffer[8];
  char* from = (char*)in;
  char* to = buffer;
  size_t left = sizeof buffer;
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  if (iconv(converter, &from, &inLength, &to, &left) == (size_t)-1 || inLength != 0) return false;
  out->assign(buffer, sizeof buffer - left);
  return true;
}

bool isLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

// Hands the result back as Windows does: 0 with the size asked (the size
// needed), the count written otherwise, or 0 and an error.
template <typename Unit>
int handBack(const std::basic_string<Unit>& result, Unit* out, int outLength) {
  if (outLength == 0) return (int)result.size();
  if ((int)result.size() > outLength) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  memcpy(out, result.data(), result.size() * sizeof(Unit));
  return (int)result.size();
}

}  // namespace

namespace {

const DWORD ERROR_INVALID_FLAGS = 1004;
const UINT ISO_2022_JP = 50220;

// The code pages the stand-in knows, each as glibc's iconv names it; a
// code page Windows lacks (51932, say) fails as it fails there.
const char* iconvNameOf(UINT codePage) {
  static const std::pair<UINT, const char*> known[] = {
      {932, "CP932"},         {ISO_2022_JP, "ISO-2022-JP"},
      {20932, "EUC-JP"},      {28591, "ISO-8859-1"},
      {20127, "ASCII"},       {65001, "UTF-8"},
      {28605, "ISO-8859-15"}, {1252, "CP1252"},
      {936, "GBK"},           {950, "BIG5"},
      {949, "CP949"},         {20866, "KOI8-R"},
  };
  for (const auto& entry : known)
    if (entry.first == codePage) return entry.second;
  return nullptr;
}

// A whole text through iconv; a byte sequence that is no character fails
// it with strict, else becomes U+FFFD (and the shift state starts anew).
bool convertText(const char* name, const char* text, size_t length, bool strict,
                 std::u16string* result) {
  iconv_t converter = iconv_open("UTF-16LE", name);
  if (converter == (iconv_t)-1) return false;
  char* from = (char*)text;
  size_t left = length;
  std::string out;
  bool ok = true;
  while (left > 0) {
    char buffer[1024];
    char* to = buffer;
    size_t room = sizeof buffer;
    size_t done = iconv(converter, &from, &left, &to, &room);
    out.append(buffer, sizeof buffer - room);
    if (done != (size_t)-1) break;
    if (errno == E2BIG) continue;
    if (strict) {
      ok = false;
      break;
    }
    out += std::string("\xFD\xFF", 2);
    from++;
    left--;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
  }
  iconv_close(converter);
  for (size_t i = 0; ok && i + 1 < out.size(); i += 2)
    *result += (char16_t)((unsigned char)out[i] | (unsigned char)out[i + 1] << 8);
  return ok;
}

}  // namespace

// Shift-JIS character by character, as before: an undefined byte or a
// lead byte without its partner fails with MB_ERR_INVALID_CHARS and is
// U+30FB without. The other code pages go whole through iconv; as on
// Windows, ISO-2022-JP takes no flags at all.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide,
                        int wideLength) {
  const char* name = iconvNameOf(codePage);
  if (name == nullptr || (flags & ~(DWORD)MB_ERR_INVALID_CHARS) || !text || wideLength < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (codePage == ISO_2022_JP && flags != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  size_t count = length < 0 ? strlen(text) + 1 : (size_t)length;
  std::u16string result;
  if (codePage != SHIFT_JIS) {
    if (!convertText(name, text, count, (flags & MB_ERR_INVALID_CHARS) != 0, &result)) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
    return handBack(result, wide, wideLength);
  }
  for (size_t i = 0; i < count;) {
    unsigned char c = (unsigned char)text[i];
    size_t step = isLeadByte(c) && i + 1 < count ? 2 : 1;
    std::string unit;
    if (!convertOne(true, text + i, step, &unit) || unit.size() != 2) {
      if (flags & MB_ERR_INVALID_CHARS) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
      }
      unit = std::string("\xFB\x30", 2);
    }
    result += (char16_t)((unsigned char)unit[0] | (unsigned char)unit[1] << 8);
    i += step;
  }
  return handBack(result, wide, wideLength);
}

// What Shift-JIS cannot hold becomes '?' and is told in usedDefault. The
// stand-in knows no best fit, so WC_NO_BEST_FIT_CHARS changes nothing
// here; a surrogate has no Shift-JIS form either.
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int length, LPSTR text,
                        int textLength, LPCSTR defaultChar, BOOL* usedDefault) {
  if (codePage != SHIFT_JIS || (flags & ~(DWORD)WC_NO_BEST_FIT_CHARS) || !wide || textLength < 0 ||
      defaultChar) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t count = length < 0 ? std::char_traits<char16_t>::length(wide) + 1 : (size_t)length;
  std::string result;
  if (usedDefault) *usedDefault = FALSE;
  for (size_t i = 0; i < count; i++) {
    char unit[2] = {(char)(wide[i] & 0xFF), (char)(wide[i] >> 8)};
    std::string bytes;
    if ((wide[i] >= 0xD800 && wide[i] <= 0xDFFF) || !convertOne(false, unit, 2, &bytes)) {
      bytes = "?";
      if (usedDefault) *usedDefault = TRUE;
    }
    result += bytes;
  }
  return handBack(result, text, textLength);
}

LONG InterlockedExchange(volatile LONG* target, LONG value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

LONG InterlockedCompareExchange(volatile LONG* target, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                              __ATOMIC_SEQ_CST);
  return comparand;
}

DWORD GetLastError(void) { return world().lastError; }
void SetLastError(DWORD error) { world().lastError = error; }

// ---- Windows Sockets -------------------------------------------------------------

int WSAStartup(WORD version, LPWSADATA data) {
  auto& w = world();
  if (recording()) record("WSAStartup(" + std::to_string(version) + ")");
  w.wsaStartupVersion = version;
  memset(data, 0, sizeof *data);
  if (w.wsaStartupError) return w.wsaStartupError;
  data->wVersion = version;
  data->wHighVersion = 0x0202;
  snprintf(data->szDescription, sizeof data->szDescription, "stand-in sockets");
  return 0;
}

int WSACleanup(void) { return 0; }
