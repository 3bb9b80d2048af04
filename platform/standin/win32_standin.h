// The headless stand-in for the Win32 API on Linux: exactly the types,
// constants and calls that the program uses, with the values and the
// behaviour of the real ones as far as the program can tell. Tests steer
// and observe it through standin_control.h.
//
// Sizes of records follow the same macros as the SDK (NOTIFYICONDATAA_V1_SIZE,
// sizeof), so the program never spells a byte count of its own.
#ifndef KIVVET_PLATFORM_STANDIN_WIN32_STANDIN_H
#define KIVVET_PLATFORM_STANDIN_WIN32_STANDIN_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#define WINAPI
#define CALLBACK
#define APIENTRY

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int INT;
typedef unsigned int UINT;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
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

#define MAKEINTRESOURCEA(i) ((LPSTR)(ULONG_PTR)(WORD)(i))
#define IS_INTRESOURCE(p) ((((ULONG_PTR)(p)) >> 16) == 0)
#define LOWORD(l) ((WORD)(((ULONG_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((ULONG_PTR)(l)) >> 16) & 0xffff))
#define MAKELONG(a, b) ((LONG)(((WORD)(((ULONG_PTR)(a)) & 0xffff)) | ((DWORD)((WORD)(((ULONG_PTR)(b)) & 0xffff))) << 16))
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
#define WM_USER 0x0400

#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define COLOR_WINDOW 5
#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define WS_POPUP 0x80000000u
#define WS_EX_TOOLWINDOW 0x00000080u
#define CW_USEDEFAULT ((int)0x80000000)
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1

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

typedef struct tagWNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
} WNDCLASSA;

typedef struct tagCREATESTRUCTA {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
} CREATESTRUCTA;

ATOM RegisterClassA(const WNDCLASSA* windowClass);
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
BOOL DestroyWindow(HWND window);
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
UINT RegisterWindowMessageA(LPCSTR name);
int GetSystemMetrics(int index);
BOOL SetForegroundWindow(HWND window);
BOOL GetCursorPos(POINT* point);

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc);
BOOL KillTimer(HWND window, UINT_PTR id);
DWORD GetTickCount(void);
void Sleep(DWORD milliseconds);

HICON LoadIconA(HINSTANCE instance, LPCSTR name);
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);

// ---- menus ----------------------------------------------------------------

#define MF_STRING 0x0000u
#define MF_ENABLED 0x0000u
#define MF_GRAYED 0x0001u
#define MF_DISABLED 0x0002u
#define MF_BYCOMMAND 0x0000u
#define TPM_LEFTALIGN 0x0000u
#define TPM_TOPALIGN 0x0000u
#define TPM_RIGHTBUTTON 0x0002u

HMENU CreatePopupMenu(void);
BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR id, LPCSTR item);
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

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// ---- common controls ---------------------------------------------------------

void InitCommonControls(void);

// ---- the notification area ------------------------------------------------

#define NIM_ADD 0x00000000u
#define NIM_MODIFY 0x00000001u
#define NIM_DELETE 0x00000002u
#define NIF_MESSAGE 0x00000001u
#define NIF_ICON 0x00000002u
#define NIF_TIP 0x00000004u

typedef struct _NOTIFYICONDATAA {
  DWORD cbSize;
  HWND hWnd;
  UINT uID;
  UINT uFlags;
  UINT uCallbackMessage;
  HICON hIcon;
  CHAR szTip[128];
  DWORD dwState;
  DWORD dwStateMask;
  CHAR szInfo[256];
  UINT uTimeout;
  CHAR szInfoTitle[64];
  DWORD dwInfoFlags;
} NOTIFYICONDATAA, *PNOTIFYICONDATAA;

#define NOTIFYICONDATAA_V1_SIZE (offsetof(NOTIFYICONDATAA, szTip) + 64)

BOOL Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data);

// ---- memory -------------------------------------------------------------------

#define LMEM_FIXED 0x0000u
#define LMEM_ZEROINIT 0x0040u
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

HLOCAL LocalAlloc(UINT flags, size_t bytes);
HLOCAL LocalFree(HLOCAL memory);

// ---- files and directories ----------------------------------------------------

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define INVALID_SET_FILE_POINTER ((DWORD)-1)

#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_SHARING_VIOLATION 32
#define ERROR_HANDLE_DISK_FULL 39
#define ERROR_FILE_EXISTS 80
#define ERROR_DISK_FULL 112
#define ERROR_ALREADY_EXISTS 183

typedef struct _SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
typedef struct _OVERLAPPED* LPOVERLAPPED;

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method);
BOOL CloseHandle(HANDLE object);
BOOL DeleteFileA(LPCSTR name);
DWORD GetLastError(void);
void SetLastError(DWORD error);
DWORD GetCurrentDirectoryA(DWORD length, LPSTR buffer);
BOOL SetCurrentDirectoryA(LPCSTR path);

// ---- strings ------------------------------------------------------------------

int lstrcmpiA(LPCSTR a, LPCSTR b);
int lstrlenA(LPCSTR text);

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
#define WSAVERNOTSUPPORTED 10092

int WSAStartup(WORD version, LPWSADATA data);
int WSACleanup(void);

// u_char, u_short and u_long come from the C library's <sys/types.h>, as
// on Windows from winsock.h; u_long is wider here, which the program never
// relies on (addresses are copied as 4 bytes).
#include <sys/types.h>

#define AF_INET 2
#define SOCK_STREAM 1
#define INADDR_NONE 0xffffffffu
#define FD_READ 0x01
#define FD_WRITE 0x02
#define FD_OOB 0x04
#define FD_ACCEPT 0x08
#define FD_CONNECT 0x10
#define FD_CLOSE 0x20
#define SD_RECEIVE 0
#define SD_SEND 1
#define SD_BOTH 2
#define MAXGETHOSTSTRUCT 1024

#define WSAEINVAL 10022
#define WSAEWOULDBLOCK 10035
#define WSAEALREADY 10037
#define WSAENOTSOCK 10038
#define WSAENETDOWN 10050
#define WSAECONNABORTED 10053
#define WSAECONNRESET 10054
#define WSAETIMEDOUT 10060
#define WSAECONNREFUSED 10061
#define WSAENOBUFS 10055
#define WSAHOST_NOT_FOUND 11001

#define WSAGETASYNCERROR(lParam) HIWORD(lParam)
#define WSAGETASYNCBUFLEN(lParam) LOWORD(lParam)
#define WSAGETSELECTEVENT(lParam) LOWORD(lParam)
#define WSAGETSELECTERROR(lParam) HIWORD(lParam)

struct in_addr {
  uint32_t s_addr;
};

struct sockaddr {
  u_short sa_family;
  char sa_data[14];
};

struct sockaddr_in {
  short sin_family;
  u_short sin_port;
  struct in_addr sin_addr;
  char sin_zero[8];
};

struct hostent {
  char* h_name;
  char** h_aliases;
  short h_addrtype;
  short h_length;
  char** h_addr_list;
};

SOCKET socket(int family, int type, int protocol);
int closesocket(SOCKET s);
int connect(SOCKET s, const struct sockaddr* address, int length);
int recv(SOCKET s, char* buffer, int length, int flags);
int send(SOCKET s, const char* buffer, int length, int flags);
int shutdown(SOCKET s, int how);
int WSAAsyncSelect(SOCKET s, HWND window, UINT message, LONG events);
int WSAGetLastError(void);
unsigned long inet_addr(const char* text);
u_short htons(u_short value);
u_short ntohs(u_short value);
HANDLE WSAAsyncGetHostByName(HWND window, UINT message, const char* name, char* buffer, int length);
int WSACancelAsyncRequest(HANDLE task);

// ---- libraries ------------------------------------------------------------------

typedef LONG_PTR(WINAPI* FARPROC)(void);

HMODULE LoadLibraryA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);

#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
DWORD GetFileAttributesA(LPCSTR path);

// ---- sound ------------------------------------------------------------------

#define SND_SYNC 0x0000u
#define SND_ASYNC 0x0001u
#define SND_NODEFAULT 0x0002u
#define SND_MEMORY 0x0004u
#define SND_NOSTOP 0x0010u
#define SND_FILENAME 0x00020000u
#define SND_RESOURCE 0x00040004u

BOOL PlaySoundA(LPCSTR sound, HMODULE module, DWORD flags);
BOOL MessageBeep(UINT type);

// ---- processes and the shell -----------------------------------------------------

#define STARTF_USESHOWWINDOW 0x00000001u
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

typedef struct _STARTUPINFOA {
  DWORD cb;
  LPSTR lpReserved;
  LPSTR lpDesktop;
  LPSTR lpTitle;
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
} STARTUPINFOA;

typedef struct _PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
} PROCESS_INFORMATION;

BOOL CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                    LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD flags,
                    LPVOID environment, LPCSTR directory, STARTUPINFOA* startup,
                    PROCESS_INFORMATION* information);
HINSTANCE ShellExecuteA(HWND window, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                        INT show);

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND window, const RECT* rect);

// ---- dialogs ------------------------------------------------------------------

typedef intptr_t INT_PTR;
typedef uintptr_t DWORD_PTR;
typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

#define WM_PAINT 0x000F
#define WM_NOTIFY 0x004E
#define WM_HELP 0x0053
#define WM_INITDIALOG 0x0110
#define WM_DROPFILES 0x0233
#define BN_CLICKED 0
#define BM_GETCHECK 0x00F0
#define CB_ADDSTRING 0x0143
#define CB_GETCURSEL 0x0147
#define CB_SETCURSEL 0x014E
#define CB_ERR (-1)
#define CBN_SELCHANGE 1
#define BM_SETCHECK 0x00F1
#define BST_UNCHECKED 0
#define BST_CHECKED 1
#define UDM_SETRANGE (WM_USER + 101)
#define UDM_SETPOS (WM_USER + 103)
#define GWL_ID (-12)
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)MAKELONG(l, h))

typedef struct tagNMHDR {
  HWND hwndFrom;
  UINT_PTR idFrom;
  UINT code;
} NMHDR;

typedef struct tagHELPINFO {
  UINT cbSize;
  int iContextType;
  int iCtrlId;
  HANDLE hItemHandle;
  DWORD_PTR dwContextId;
  POINT MousePos;
} HELPINFO, *LPHELPINFO;
#define HELPINFO_WINDOW 0x0001

HWND GetDlgItem(HWND dialog, int id);
BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int size);
BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned);
UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned);
LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsWindowEnabled(HWND window);
BOOL EndDialog(HWND dialog, INT_PTR result);
LONG GetWindowLongA(HWND window, int index);
INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR name, HWND owner, DLGPROC proc, LPARAM param);
int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size);

HWND GetParent(HWND window);
BOOL IsWindow(HWND window);
BOOL GetWindowRect(HWND window, RECT* rect);

// ---- tooltips (the help popup) ------------------------------------------------

#define TOOLTIPS_CLASSA "tooltips_class32"
#define WS_EX_TOPMOST 0x00000008u
#define TTS_ALWAYSTIP 0x01u
#define TTS_NOPREFIX 0x02u
#define TTF_TRACK 0x0020u
#define TTF_ABSOLUTE 0x0080u
#define TTM_TRACKACTIVATE (WM_USER + 17)
#define TTM_TRACKPOSITION (WM_USER + 18)
#define TTM_SETMAXTIPWIDTH (WM_USER + 24)
#define TTM_ADDTOOLA (WM_USER + 4)
#define TTM_DELTOOLA (WM_USER + 5)

typedef struct tagTOOLINFOA {
  UINT cbSize;
  UINT uFlags;
  HWND hwnd;
  UINT_PTR uId;
  RECT rect;
  HINSTANCE hinst;
  LPSTR lpszText;
  LPARAM lParam;
  void* lpReserved;
} TOOLINFOA;

// ---- property sheets --------------------------------------------------------------

typedef struct _PSP* HPROPSHEETPAGE;
typedef int(CALLBACK* PFNPROPSHEETCALLBACK)(HWND, UINT, LPARAM);
typedef UINT(CALLBACK* LPFNPSPCALLBACKA)(HWND, UINT, struct _PROPSHEETPAGEA*);

#define PSP_DEFAULT 0x00000000u
#define PSH_USEICONID 0x00000004u
#define PSH_NOAPPLYNOW 0x00000080u
#define PSH_USECALLBACK 0x00000100u
#define PSCB_INITIALIZED 1
#define PSN_FIRST (0U - 200U)
#define PSN_APPLY (PSN_FIRST - 2)
#define PSN_QUERYCANCEL (PSN_FIRST - 9)

typedef struct _PROPSHEETPAGEA {
  DWORD dwSize;
  DWORD dwFlags;
  HINSTANCE hInstance;
  union {
    LPCSTR pszTemplate;
    const void* pResource;
  };
  union {
    HICON hIcon;
    LPCSTR pszIcon;
  };
  LPCSTR pszTitle;
  DLGPROC pfnDlgProc;
  LPARAM lParam;
  LPFNPSPCALLBACKA pfnCallback;
  UINT* pcRefParent;
  LPCSTR pszHeaderTitle;
  LPCSTR pszHeaderSubTitle;
} PROPSHEETPAGEA;

typedef struct _PROPSHEETHEADERA {
  DWORD dwSize;
  DWORD dwFlags;
  HWND hwndParent;
  HINSTANCE hInstance;
  union {
    HICON hIcon;
    LPCSTR pszIcon;
  };
  LPCSTR pszCaption;
  UINT nPages;
  union {
    UINT nStartPage;
    LPCSTR pStartPage;
  };
  union {
    const PROPSHEETPAGEA* ppsp;
    HPROPSHEETPAGE* phpage;
  };
  PFNPROPSHEETCALLBACK pfnCallback;
  union {
    void* hbmWatermark;
    LPCSTR pszbmWatermark;
  };
  void* hplWatermark;
  union {
    void* hbmHeader;
    LPCSTR pszbmHeader;
  };
} PROPSHEETHEADERA;

#define PROPSHEETPAGEA_V2_SIZE (offsetof(PROPSHEETPAGEA, pszHeaderSubTitle) + sizeof(LPCSTR))
#define PROPSHEETHEADERA_V2_SIZE (offsetof(PROPSHEETHEADERA, pszbmHeader) + sizeof(LPCSTR))

HPROPSHEETPAGE CreatePropertySheetPageA(const PROPSHEETPAGEA* page);
INT_PTR PropertySheetA(const PROPSHEETHEADERA* header);

// ---- files dropped and chosen ------------------------------------------------------

typedef struct HDROP__* HDROP;
void DragAcceptFiles(HWND window, BOOL accept);
UINT DragQueryFileA(HDROP drop, UINT index, LPSTR file, UINT size);
void DragFinish(HDROP drop);

#define OFN_HIDEREADONLY 0x00000004u
#define OFN_NOCHANGEDIR 0x00000008u
#define OFN_FILEMUSTEXIST 0x00001000u

typedef struct tagOFNA {
  DWORD lStructSize;
  HWND hwndOwner;
  HINSTANCE hInstance;
  LPCSTR lpstrFilter;
  LPSTR lpstrCustomFilter;
  DWORD nMaxCustFilter;
  DWORD nFilterIndex;
  LPSTR lpstrFile;
  DWORD nMaxFile;
  LPSTR lpstrFileTitle;
  DWORD nMaxFileTitle;
  LPCSTR lpstrInitialDir;
  LPCSTR lpstrTitle;
  DWORD Flags;
  WORD nFileOffset;
  WORD nFileExtension;
  LPCSTR lpstrDefExt;
  LPARAM lCustData;
  void* lpfnHook;
  LPCSTR lpTemplateName;
  void* pvReserved;
  DWORD dwReserved;
  DWORD FlagsEx;
} OPENFILENAMEA;

#define OPENFILENAME_SIZE_VERSION_400A (offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR))
BOOL GetOpenFileNameA(OPENFILENAMEA* dialog);

// ---- drawing (the title picture) ------------------------------------------------

typedef struct HDC__* HDC;
typedef struct HBITMAP__* HBITMAP;
typedef void* HGDIOBJ;
#define SRCCOPY 0x00CC0020u
HBITMAP LoadBitmapA(HINSTANCE instance, LPCSTR name);
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
HDC CreateCompatibleDC(HDC dc);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BOOL BitBlt(HDC target, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
            DWORD operation);
BOOL DeleteDC(HDC dc);
BOOL DeleteObject(HGDIOBJ object);

// ---- TLS: SSPI with the SChannel package, and certificate chains ----------------
//
// The stand-in's SChannel speaks a toy protocol with the test's server
// (see standin_control.h): records shaped like TLS's, whose contents are
// merely masked, so the tests see what went in clear and what did not.

typedef unsigned long ULONG;
typedef LONG HRESULT;
typedef LONG SECURITY_STATUS;
typedef char SEC_CHAR;
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
#define FAILED(status) ((HRESULT)(status) < 0)

typedef struct _SecHandle {
  ULONG_PTR dwLower;
  ULONG_PTR dwUpper;
} SecHandle, CredHandle, CtxtHandle, *PCredHandle, *PCtxtHandle;
typedef struct _TimeStamp {
  DWORD LowPart;
  LONG HighPart;
} TimeStamp, *PTimeStamp;

typedef struct _SecBuffer {
  ULONG cbBuffer;
  ULONG BufferType;
  void* pvBuffer;
} SecBuffer, *PSecBuffer;
typedef struct _SecBufferDesc {
  ULONG ulVersion;
  ULONG cBuffers;
  PSecBuffer pBuffers;
} SecBufferDesc, *PSecBufferDesc;
#define SECBUFFER_VERSION 0
#define SECBUFFER_EMPTY 0
#define SECBUFFER_DATA 1
#define SECBUFFER_TOKEN 2
#define SECBUFFER_EXTRA 5
#define SECBUFFER_STREAM_TRAILER 6
#define SECBUFFER_STREAM_HEADER 7

typedef struct _SecPkgContext_StreamSizes {
  ULONG cbHeader;
  ULONG cbTrailer;
  ULONG cbMaximumMessage;
  ULONG cBuffers;
  ULONG cbBlockSize;
} SecPkgContext_StreamSizes;
#define SECPKG_ATTR_STREAM_SIZES 4
#define SECPKG_ATTR_REMOTE_CERT_CONTEXT 0x53

#define SEC_E_OK ((SECURITY_STATUS)0x00000000)
#define SEC_I_CONTINUE_NEEDED ((SECURITY_STATUS)0x00090312)
#define SEC_I_CONTEXT_EXPIRED ((SECURITY_STATUS)0x00090317)
#define SEC_I_INCOMPLETE_CREDENTIALS ((SECURITY_STATUS)0x00090320)
#define SEC_I_RENEGOTIATE ((SECURITY_STATUS)0x00090321)
#define SEC_E_INTERNAL_ERROR ((SECURITY_STATUS)0x80090304)
#define SEC_E_INVALID_HANDLE ((SECURITY_STATUS)0x80090301)
#define SEC_E_INVALID_TOKEN ((SECURITY_STATUS)0x80090308)
#define SEC_E_INCOMPLETE_MESSAGE ((SECURITY_STATUS)0x80090318)
#define SEC_E_ILLEGAL_MESSAGE ((SECURITY_STATUS)0x80090326)
#define SEC_E_DECRYPT_FAILURE ((SECURITY_STATUS)0x80090330)
#define SEC_E_NO_CREDENTIALS ((SECURITY_STATUS)0x8009030E)

#define SECPKG_CRED_OUTBOUND 0x00000002
#define ISC_REQ_REPLAY_DETECT 0x00000004
#define ISC_REQ_SEQUENCE_DETECT 0x00000008
#define ISC_REQ_CONFIDENTIALITY 0x00000010
#define ISC_REQ_ALLOCATE_MEMORY 0x00000100
#define ISC_REQ_STREAM 0x00008000

#define UNISP_NAME_A "Microsoft Unified Security Protocol Provider"
#define SCHANNEL_CRED_VERSION 0x00000004
#define SCH_CRED_MANUAL_CRED_VALIDATION 0x00000008
#define SCH_CRED_NO_DEFAULT_CREDS 0x00000010
typedef void* HCERTSTORE;
typedef struct _SCHANNEL_CRED {
  DWORD dwVersion;
  DWORD cCreds;
  void* paCred;
  HCERTSTORE hRootStore;
  DWORD cMappers;
  void** aphMappers;
  DWORD cSupportedAlgs;
  void* palgSupportedAlgs;
  DWORD grbitEnabledProtocols;
  DWORD dwMinimumCipherStrength;
  DWORD dwMaximumCipherStrength;
  DWORD dwSessionLifespan;
  DWORD dwFlags;
  DWORD dwCredFormat;
} SCHANNEL_CRED;

SECURITY_STATUS AcquireCredentialsHandleA(SEC_CHAR* principal, SEC_CHAR* package, ULONG use,
                                          void* logonId, void* authData, void* getKey,
                                          void* getKeyArgument, PCredHandle credential,
                                          PTimeStamp expiry);
SECURITY_STATUS FreeCredentialsHandle(PCredHandle credential);
SECURITY_STATUS InitializeSecurityContextA(PCredHandle credential, PCtxtHandle context,
                                           SEC_CHAR* targetName, ULONG request, ULONG reserved1,
                                           ULONG dataRepresentation, PSecBufferDesc input,
                                           ULONG reserved2, PCtxtHandle newContext,
                                           PSecBufferDesc output, ULONG* granted, PTimeStamp expiry);
SECURITY_STATUS DeleteSecurityContext(PCtxtHandle context);
SECURITY_STATUS FreeContextBuffer(void* buffer);
SECURITY_STATUS QueryContextAttributesA(PCtxtHandle context, ULONG attribute, void* buffer);
SECURITY_STATUS EncryptMessage(PCtxtHandle context, ULONG quality, PSecBufferDesc message,
                               ULONG sequence);
SECURITY_STATUS DecryptMessage(PCtxtHandle context, PSecBufferDesc message, ULONG sequence,
                               ULONG* quality);

typedef struct _CERT_CONTEXT {
  DWORD dwCertEncodingType;
  BYTE* pbCertEncoded;
  DWORD cbCertEncoded;
  void* pCertInfo;
  HCERTSTORE hCertStore;
} CERT_CONTEXT;
typedef const CERT_CONTEXT* PCCERT_CONTEXT;
typedef struct _CERT_CHAIN_CONTEXT {
  DWORD cbSize;
} CERT_CHAIN_CONTEXT;
typedef const CERT_CHAIN_CONTEXT* PCCERT_CHAIN_CONTEXT;
typedef void* HCERTCHAINENGINE;
typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *LPFILETIME;
typedef struct _CERT_ENHKEY_USAGE {
  DWORD cUsageIdentifier;
  LPSTR* rgpszUsageIdentifier;
} CERT_ENHKEY_USAGE;
typedef struct _CERT_USAGE_MATCH {
  DWORD dwType;
  CERT_ENHKEY_USAGE Usage;
} CERT_USAGE_MATCH;
typedef struct _CERT_CHAIN_PARA {
  DWORD cbSize;
  CERT_USAGE_MATCH RequestedUsage;
} CERT_CHAIN_PARA;
#define USAGE_MATCH_TYPE_OR 1
#define szOID_PKIX_KP_SERVER_AUTH "1.3.6.1.5.5.7.3.1"
typedef struct _CERT_CHAIN_POLICY_PARA {
  DWORD cbSize;
  DWORD dwFlags;
  void* pvExtraPolicyPara;
} CERT_CHAIN_POLICY_PARA;
typedef struct _CERT_CHAIN_POLICY_STATUS {
  DWORD cbSize;
  DWORD dwError;
  LONG lChainIndex;
  LONG lElementIndex;
  void* pvExtraPolicyStatus;
} CERT_CHAIN_POLICY_STATUS;
typedef struct _HTTPSPolicyCallbackData {
  union {
    DWORD cbStruct;
    DWORD cbSize;
  };
  DWORD dwAuthType;
  DWORD fdwChecks;
  WCHAR* pwszServerName;
} SSL_EXTRA_CERT_CHAIN_POLICY_PARA;
#define AUTHTYPE_SERVER 2
#define CERT_CHAIN_POLICY_SSL ((LPCSTR)4)
#define CERT_E_EXPIRED ((HRESULT)0x800B0101)
#define CERT_E_UNTRUSTEDROOT ((HRESULT)0x800B0109)
#define CERT_E_CHAINING ((HRESULT)0x800B010A)
#define CERT_E_CN_NO_MATCH ((HRESULT)0x800B010F)
#define TRUST_E_CERT_SIGNATURE ((HRESULT)0x80096004)

BOOL CertGetCertificateChain(HCERTCHAINENGINE engine, PCCERT_CONTEXT certificate, LPFILETIME time,
                             HCERTSTORE additional, CERT_CHAIN_PARA* request, DWORD flags,
                             void* reserved, PCCERT_CHAIN_CONTEXT* chain);
BOOL CertVerifyCertificateChainPolicy(LPCSTR policy, PCCERT_CHAIN_CONTEXT chain,
                                      CERT_CHAIN_POLICY_PARA* request,
                                      CERT_CHAIN_POLICY_STATUS* status);
void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT chain);
BOOL CertFreeCertificateContext(PCCERT_CONTEXT certificate);

#define CP_ACP 0
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide,
                        int wideLength);

// ---- process entry (the program defines it; tests call it) ----------------------

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

// ---- the C run-time's argument vector ------------------------------------------

extern int __argc;
extern char** __argv;

#endif
