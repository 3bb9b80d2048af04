// The stand-in's core, as standin_core.cpp implements it: the basic types,
// windows and the message queue, timers, menus, message boxes, the
// notification area, local memory, the last error and the start of
// Windows Sockets.
#ifndef KIVVET_PLATFORM_STANDIN_WIN32_CORE_H
#define KIVVET_PLATFORM_STANDIN_WIN32_CORE_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#define WINAPI
#define CALLBACK

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef LONG HRESULT;
#define S_OK ((HRESULT)0)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define E_UNEXPECTED ((HRESULT)0x8000FFFF)
#define E_FAIL ((HRESULT)0x80004005)
typedef int INT;
typedef unsigned int UINT;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
// Windows' UTF-16 unit: 16 bits, as on Windows (wchar_t is 32 on Linux).
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef WORD ATOM;
typedef void* HANDLE;
typedef HANDLE HLOCAL;
typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HMENU__* HMENU;
typedef struct HICON__* HICON;
typedef HICON HCURSOR;
typedef struct HBRUSH__* HBRUSH;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define MAKEINTRESOURCEW(i) ((LPWSTR)(ULONG_PTR)(WORD)(i))
#define IS_INTRESOURCE(p) ((((ULONG_PTR)(p)) >> 16) == 0)
#define LOWORD(l) ((WORD)(((ULONG_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((ULONG_PTR)(l)) >> 16) & 0xffff))
#define MAKELONG(a, b) \
  ((LONG)(((WORD)(((ULONG_PTR)(a)) & 0xffff)) | ((DWORD)((WORD)(((ULONG_PTR)(b)) & 0xffff))) << 16))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)MAKELONG(l, h))
#define MAX_PATH 260

// ---- messages and windows ------------------------------------------------

#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_COMMAND 0x0111
#define WM_TIMER 0x0113
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_LBUTTONDBLCLK 0x0203
#define WM_RBUTTONDOWN 0x0204
#define WM_RBUTTONUP 0x0205
#define WM_RBUTTONDBLCLK 0x0206
#define WM_POWERBROADCAST 0x0218
#define WM_USER 0x0400

#define PBT_APMSUSPEND 0x0004
#define PBT_APMRESUMECRITICAL 0x0006
#define PBT_APMRESUMESUSPEND 0x0007
#define PBT_APMRESUMEAUTOMATIC 0x0012

#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define COLOR_WINDOW 5
#define IDC_ARROW MAKEINTRESOURCEW(32512)
#define WS_POPUP 0x80000000u
#define WS_EX_TOOLWINDOW 0x00000080u
#define CW_USEDEFAULT ((int)0x80000000)
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define IMAGE_ICON 1
#define LR_SHARED 0x00008000u

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

typedef struct tagRECT {
  LONG left, top, right, bottom;
} RECT;

typedef struct tagPOINT {
  LONG x;
  LONG y;
} POINT;

typedef struct tagMSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
} MSG, *LPMSG;

typedef struct tagWNDCLASSW {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCWSTR lpszMenuName;
  LPCWSTR lpszClassName;
} WNDCLASSW;

typedef struct tagCREATESTRUCTW {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCWSTR lpszName;
  LPCWSTR lpszClass;
  DWORD dwExStyle;
} CREATESTRUCTW;

ATOM RegisterClassW(const WNDCLASSW* windowClass);
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
BOOL DestroyWindow(HWND window);
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL GetMessageW(LPMSG msg, HWND window, UINT filterMin, UINT filterMax);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageW(const MSG* msg);
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
UINT RegisterWindowMessageW(LPCWSTR name);
int GetSystemMetrics(int index);
// The stand-in has one monitor, the primary, as large as the screen.
typedef struct HMONITOR__* HMONITOR;
#define MONITOR_DEFAULTTONULL 0
#define MONITOR_DEFAULTTOPRIMARY 1
#define MONITOR_DEFAULTTONEAREST 2
HMONITOR MonitorFromPoint(POINT point, DWORD flags);
HMONITOR MonitorFromWindow(HWND window, DWORD flags);
// Its work area leaves out a taskbar of 40 pixels along the bottom.
typedef struct tagMONITORINFO {
  DWORD cbSize;
  RECT rcMonitor;
  RECT rcWork;
  DWORD dwFlags;
} MONITORINFO;
#define MONITORINFOF_PRIMARY 0x00000001u
BOOL GetMonitorInfoW(HMONITOR monitor, MONITORINFO* info);
BOOL SetForegroundWindow(HWND window);
BOOL GetCursorPos(POINT* point);

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc);
BOOL KillTimer(HWND window, UINT_PTR id);
DWORD GetTickCount(void);
typedef struct _SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
} SYSTEMTIME;
// The time of day follows the virtual clock (standin::setLocalTime).
void GetLocalTime(SYSTEMTIME* time);
void Sleep(DWORD milliseconds);
// Milliseconds on the virtual clock.

HICON LoadIconW(HINSTANCE instance, LPCWSTR name);
HANDLE LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int width, int height, UINT flags);
HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name);

// ---- menus ----------------------------------------------------------------

#define MF_STRING 0x0000u
#define MF_ENABLED 0x0000u
#define MF_GRAYED 0x0001u
#define MF_DISABLED 0x0002u
#define MF_POPUP 0x0010u
#define MF_SEPARATOR 0x0800u
#define MF_BYCOMMAND 0x0000u
#define TPM_LEFTALIGN 0x0000u
#define TPM_TOPALIGN 0x0000u
#define TPM_RIGHTBUTTON 0x0002u

HMENU CreatePopupMenu(void);
BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR id, LPCWSTR item);
BOOL EnableMenuItem(HMENU menu, UINT id, UINT enable);
BOOL DestroyMenu(HMENU menu);

// ---- message boxes ----------------------------------------------------------

#define MB_OK 0x0000u
#define MB_RETRYCANCEL 0x0005u
#define MB_ICONERROR 0x0010u
#define MB_ICONWARNING 0x0030u
#define MB_ICONINFORMATION 0x0040u
#define IDOK 1
#define IDCANCEL 2
#define IDRETRY 4

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

// ---- common controls ---------------------------------------------------------

void InitCommonControls(void);

// ---- the notification area ------------------------------------------------

#define NIM_ADD 0x00000000u
#define NIM_MODIFY 0x00000001u
#define NIM_DELETE 0x00000002u
#define NIF_MESSAGE 0x00000001u
#define NIF_ICON 0x00000002u
#define NIF_TIP 0x00000004u
#define NIF_INFO 0x00000010u
#define NIIF_NONE 0x00000000u
#define NIIF_INFO 0x00000001u
#define NIIF_NOSOUND 0x00000010u
#define NIIF_RESPECT_QUIET_TIME 0x00000080u
// The user clicked the balloon (its lParam to the icon's callback).
#define NIN_BALLOONUSERCLICK (WM_USER + 5)

typedef struct _NOTIFYICONDATAW {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  WCHAR szTip[128];
  DWORD dwState;
  DWORD dwStateMask;
  WCHAR szInfo[256];
  UINT uTimeout;
  WCHAR szInfoTitle[64];
  DWORD dwInfoFlags;
} NOTIFYICONDATAW, *PNOTIFYICONDATAW;

#define NOTIFYICONDATAW_V1_SIZE (offsetof(NOTIFYICONDATAW, szTip) + 64 * sizeof(WCHAR))
// The second form, the first to carry a balloon (guidItem follows it).
#define NOTIFYICONDATAW_V2_SIZE (offsetof(NOTIFYICONDATAW, dwInfoFlags) + sizeof(DWORD))

BOOL Shell_NotifyIconW(DWORD message, PNOTIFYICONDATAW data);

// ---- memory -------------------------------------------------------------------

#define LMEM_ZEROINIT 0x0040u

HLOCAL LocalAlloc(UINT flags, size_t bytes);
HLOCAL LocalFree(HLOCAL memory);

// ---- the last error ------------------------------------------------------------

DWORD GetLastError(void);

// ---- strings ------------------------------------------------------------------

int lstrcmpiW(LPCWSTR a, LPCWSTR b);

// Code pages: Shift-JIS (932) both ways, as Windows converts it.
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_NO_BEST_FIT_CHARS 0x00000400
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide,
                        int wideLength);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int length, LPSTR text,
                        int textLength, LPCSTR defaultChar, BOOL* usedDefault);

// ---- Windows Sockets 1.1 --------------------------------------------------------

typedef UINT_PTR SOCKET;
#define INVALID_SOCKET ((SOCKET)(~0))
#define SOCKET_ERROR (-1)

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

typedef struct WSAData {
  WORD wVersion;
  WORD wHighVersion;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
} WSADATA, *LPWSADATA;

#define WSASYSNOTREADY 10091

int WSAStartup(WORD version, LPWSADATA data);
int WSACleanup(void);

// ---- interlocked operations (another thread of the system may share the word) ----

LONG InterlockedExchange(volatile LONG* target, LONG value);
LONG InterlockedCompareExchange(volatile LONG* target, LONG exchange, LONG comparand);

// ---- process entry (the program defines it; tests call it) ----------------------

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

// ---- the command line -------------------------------------------------------------

LPWSTR GetCommandLineW(void);

#endif
