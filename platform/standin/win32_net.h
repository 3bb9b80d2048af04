// Windows Sockets 2 (IPv4 and IPv6 sockets, the overlapped lookup) and
// the libraries loaded at run time (the online test), as standin_net.cpp
// implements them.
#ifndef KIVVET_PLATFORM_STANDIN_WIN32_NET_H
#define KIVVET_PLATFORM_STANDIN_WIN32_NET_H

#include "platform/standin/win32_core.h"

// u_char, u_short and u_long come from the C library's <sys/types.h>, as
// on Windows from winsock.h; u_long is wider here, which the program never
// relies on (addresses are copied as 4 bytes).
#include <sys/types.h>

#define AF_UNSPEC 0
#define AF_INET 2
#define AF_INET6 23
#define SOCK_STREAM 1
#define IPPROTO_TCP 6
#define NS_DNS 12
#define INADDR_NONE 0xffffffffu
#define FD_READ 0x01
#define FD_WRITE 0x02
#define FD_CONNECT 0x10
#define FD_CLOSE 0x20
#define SD_SEND 1
#define SD_BOTH 2

#define WSA_INVALID_HANDLE 6
#define WSA_IO_PENDING 997
#define WSAEINVAL 10022
#define WSAEWOULDBLOCK 10035
#define WSAEALREADY 10037
#define WSAENOTSOCK 10038
#define WSAEAFNOSUPPORT 10047
#define WSAEADDRNOTAVAIL 10049
#define WSAENETDOWN 10050
#define WSAENETUNREACH 10051
#define WSAENETRESET 10052
#define WSAECONNRESET 10054
#define WSAECONNREFUSED 10061
#define WSAENOBUFS 10055
#define WSAEFAULT 10014
#define WSA_E_CANCELLED 10111
#define WSAHOST_NOT_FOUND 11001
#define WSANO_RECOVERY 11003

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

struct in6_addr {
  u_char s6_addr[16];
};

struct sockaddr_in6 {
  short sin6_family;
  u_short sin6_port;
  uint32_t sin6_flowinfo;
  struct in6_addr sin6_addr;
  uint32_t sin6_scope_id;
};

// 128 bytes, aligned for any address, as in the SDK.
struct SOCKADDR_STORAGE {
  u_short ss_family;
  char ss_pad1[6];
  int64_t ss_align;
  char ss_pad2[112];
};

struct ADDRINFOEXW {
  int ai_flags;
  int ai_family;
  int ai_socktype;
  int ai_protocol;
  size_t ai_addrlen;
  LPWSTR ai_canonname;
  struct sockaddr* ai_addr;
  void* ai_blob;
  size_t ai_bloblen;
  void* ai_provider;
  ADDRINFOEXW* ai_next;
};

struct _OVERLAPPED {
  ULONG_PTR Internal;
  ULONG_PTR InternalHigh;
  void* Pointer;
  HANDLE hEvent;
};
typedef struct _OVERLAPPED OVERLAPPED;
typedef struct _OVERLAPPED* LPOVERLAPPED;
typedef OVERLAPPED* LPWSAOVERLAPPED;
typedef HANDLE* LPHANDLE;
typedef void(CALLBACK* LPLOOKUPSERVICE_COMPLETION_ROUTINE)(DWORD error, DWORD bytes,
                                                           LPWSAOVERLAPPED overlapped);

SOCKET socket(int family, int type, int protocol);
int closesocket(SOCKET s);
int connect(SOCKET s, const struct sockaddr* address, int length);
int recv(SOCKET s, char* buffer, int length, int flags);
int send(SOCKET s, const char* buffer, int length, int flags);
int shutdown(SOCKET s, int how);
int WSAAsyncSelect(SOCKET s, HWND window, UINT message, LONG events);
int WSAGetLastError(void);
// TCP keep-alives (mstcpip.h): after keepalivetime ms of silence the
// system probes the peer every keepaliveinterval ms, and ten probes
// unanswered break the connection (FD_CLOSE with WSAENETRESET). Any other
// control code is refused.
#define SIO_KEEPALIVE_VALS 0x98000004u
struct tcp_keepalive {
  u_long onoff;
  u_long keepalivetime;
  u_long keepaliveinterval;
};
int WSAIoctl(SOCKET s, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
             LPDWORD returned, LPWSAOVERLAPPED overlapped, void* routine);
unsigned long inet_addr(const char* text);
u_short htons(u_short value);
int InetPtonW(int family, LPCWSTR text, void* address);
LPCWSTR InetNtopW(int family, const void* address, LPWSTR text, size_t units);
// As Windows 8 and later: with an OVERLAPPED (hEvent null) and a
// completion routine, WSA_IO_PENDING, and the routine called later from
// the message loop; anything else is refused. Only the name's addresses,
// no service: the caller sets the port.
int GetAddrInfoExW(LPCWSTR name, LPCWSTR service, DWORD nameSpace, void* provider,
                   const ADDRINFOEXW* hints, ADDRINFOEXW** result, struct timeval* timeout,
                   LPOVERLAPPED overlapped, LPLOOKUPSERVICE_COMPLETION_ROUTINE routine,
                   LPHANDLE handle);
// The routine is called at once with WSA_E_CANCELLED, as on Windows.
int GetAddrInfoExCancel(LPHANDLE handle);
void FreeAddrInfoExW(ADDRINFOEXW* result);

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
