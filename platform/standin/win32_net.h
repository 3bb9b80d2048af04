// Windows Sockets and the libraries loaded at run time (the online test),
// as standin_net.cpp implements them.
#ifndef KIVVET_PLATFORM_STANDIN_WIN32_NET_H
#define KIVVET_PLATFORM_STANDIN_WIN32_NET_H

#include "platform/standin/win32_core.h"

// u_char, u_short and u_long come from the C library's <sys/types.h>, as
// on Windows from winsock.h; u_long is wider here, which the program never
// relies on (addresses are copied as 4 bytes).
#include <sys/types.h>

#define AF_INET 2
#define SOCK_STREAM 1
#define INADDR_NONE 0xffffffffu
#define FD_READ 0x01
#define FD_WRITE 0x02
#define FD_CONNECT 0x10
#define FD_CLOSE 0x20
#define SD_SEND 1
#define SD_BOTH 2

#define WSAEINVAL 10022
#define WSAEWOULDBLOCK 10035
#define WSAEALREADY 10037
#define WSAENOTSOCK 10038
#define WSAENETDOWN 10050
#define WSAECONNRESET 10054
#define WSAECONNREFUSED 10061
#define WSAENOBUFS 10055
#define WSAHOST_NOT_FOUND 11001

#define WSAGETASYNCERROR(lParam) HIWORD(lParam)
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
HANDLE WSAAsyncGetHostByName(HWND window, UINT message, const char* name, char* buffer, int length);
int WSACancelAsyncRequest(HANDLE task);

// ---- libraries ------------------------------------------------------------------

typedef LONG_PTR(WINAPI* FARPROC)(void);

#define LOAD_LIBRARY_AS_DATAFILE 0x00000002
#define LOAD_LIBRARY_AS_IMAGE_RESOURCE 0x00000020
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#define ERROR_INVALID_PARAMETER 87
// A bare name is searched for as Windows does: the program's folder, the
// system's, the current directory; a full path is taken as it stands.
// Without LOAD_LIBRARY_AS_IMAGE_RESOURCE the library's code runs.
HMODULE LoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags);
HMODULE GetModuleHandleW(LPCWSTR name);
UINT GetSystemDirectoryW(LPWSTR buffer, UINT size);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);

#endif
