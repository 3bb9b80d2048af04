// Processes, the shell, the popup menu's modal loop and the sounds, as
// standin_shell.cpp implements them.
#ifndef KIVVET_PLATFORM_STANDIN_WIN32_SHELL_H
#define KIVVET_PLATFORM_STANDIN_WIN32_SHELL_H

#include "platform/standin/win32_core.h"

// ---- sound ------------------------------------------------------------------

#define SND_ASYNC 0x0001u
#define SND_NODEFAULT 0x0002u
#define SND_FILENAME 0x00020000u
#define SND_RESOURCE 0x00040004u

BOOL PlaySoundW(LPCWSTR sound, HMODULE module, DWORD flags);
BOOL MessageBeep(UINT type);

// ---- whether the user may be disturbed -------------------------------------------

typedef enum {
  QUNS_NOT_PRESENT = 1,
  QUNS_BUSY = 2,
  QUNS_RUNNING_D3D_FULL_SCREEN = 3,
  QUNS_PRESENTATION_MODE = 4,
  QUNS_ACCEPTS_NOTIFICATIONS = 5,
  QUNS_QUIET_TIME = 6,
  QUNS_APP = 7
} QUERY_USER_NOTIFICATION_STATE;
HRESULT SHQueryUserNotificationState(QUERY_USER_NOTIFICATION_STATE* state);
// The name under which the shell groups the process's notifications.
HRESULT SetCurrentProcessExplicitAppUserModelID(LPCWSTR id);

// ---- processes and the shell -----------------------------------------------------

#define STARTF_USESHOWWINDOW 0x00000001u
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

typedef struct _STARTUPINFOW {
  DWORD cb;
  LPWSTR lpReserved;
  LPWSTR lpDesktop;
  LPWSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  BYTE* lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
} STARTUPINFOW;

typedef struct _PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
} PROCESS_INFORMATION;

BOOL CreateProcessW(LPCWSTR application, LPWSTR commandLine,
                    LPSECURITY_ATTRIBUTES processAttributes, LPSECURITY_ATTRIBUTES threadAttributes,
                    BOOL inheritHandles, DWORD flags, LPVOID environment, LPCWSTR directory,
                    STARTUPINFOW* startup, PROCESS_INFORMATION* information);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
// The words of a command line, in one block that LocalFree releases.
LPWSTR* CommandLineToArgvW(LPCWSTR commandLine, int* count);

// ---- the user's registry -------------------------------------------------------

typedef struct HKEY__* HKEY;
typedef DWORD REGSAM;
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)0x80000001)
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define REG_SZ 1
#define ERROR_INVALID_HANDLE 6
#define ERROR_INVALID_PARAMETER 87
#define ERROR_MORE_DATA 234
LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, HKEY* result);
LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR className, DWORD options,
                     REGSAM access, LPSECURITY_ATTRIBUTES security, HKEY* result,
                     LPDWORD disposition);
LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, BYTE* data,
                      LPDWORD size);
LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);
LONG RegDeleteValueW(HKEY key, LPCWSTR name);
LONG RegCloseKey(HKEY key);
HINSTANCE ShellExecuteW(HWND window, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                        LPCWSTR directory, INT show);

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND window,
                    const RECT* rect);

#endif
