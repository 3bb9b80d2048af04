/* What Windows Sockets 2 does here with an overlapped GetAddrInfoExW:
 * whether the call returns WSA_IO_PENDING, on which thread the completion
 * routine runs (the caller's, or another), whether the routine's
 * PostMessageW reaches a window's message loop, what the lookup found,
 * and what GetAddrInfoExCancel answers for a lookup under way.
 *
 *   lookupprobe NAME      prints one line per fact, then "done"
 */
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <stdio.h>

#define MSG_DONE (WM_USER + 1)

/* Older MinGW-w64 headers leave these two out. */
WINSOCK_API_LINKAGE int WSAAPI GetAddrInfoExCancel(LPHANDLE handle);
WINSOCK_API_LINKAGE int WSAAPI GetAddrInfoExOverlappedResult(LPOVERLAPPED overlapped);

static HWND window;
static DWORD mainThread;
static volatile LONG routineThread;
static volatile LONG routineError = -1;

static void CALLBACK done(DWORD error, DWORD bytes, LPWSAOVERLAPPED overlapped) {
  (void)bytes;
  (void)overlapped;
  routineError = (LONG)error;
  routineThread = (LONG)GetCurrentThreadId();
  PostMessageW(window, MSG_DONE, error, 0);
}

static void show(const ADDRINFOEXW* list) {
  for (; list; list = (const ADDRINFOEXW*)list->ai_next) {
    wchar_t text[64];
    DWORD length = 64;
    WSAAddressToStringW(list->ai_addr, (DWORD)list->ai_addrlen, NULL, text, &length);
    printf("address: family %d %ls\n", list->ai_family, text);
  }
}

/* Waits for the window's message, at most ms. */
static int waitMessage(DWORD ms) {
  DWORD start = GetTickCount();
  MSG msg;
  while (GetTickCount() - start < ms) {
    while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
      if (msg.message == MSG_DONE) return 1;
      DispatchMessageW(&msg);
    }
    MsgWaitForMultipleObjects(0, NULL, FALSE, 50, QS_ALLINPUT);
  }
  return 0;
}

int main(int argc, char** argv) {
  WSADATA data;
  wchar_t name[256];
  ADDRINFOEXW hints, *result = NULL;
  OVERLAPPED overlapped;
  HANDLE handle = NULL;
  int answer, posted;
  if (argc < 2) return 2;
  MultiByteToWideChar(CP_UTF8, 0, argv[1], -1, name, 256);
  printf("WSAStartup: %d\n", WSAStartup(MAKEWORD(2, 2), &data));
  window = CreateWindowExW(0, L"STATIC", L"probe", 0, 0, 0, 1, 1, HWND_MESSAGE, NULL, NULL, NULL);
  mainThread = GetCurrentThreadId();
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;

  memset(&overlapped, 0, sizeof overlapped);
  answer = GetAddrInfoExW(name, L"110", NS_DNS, NULL, &hints, &result, NULL, &overlapped,
                          (LPLOOKUPSERVICE_COMPLETION_ROUTINE)(void*)done, &handle);
  printf("overlapped call: %d (WSA_IO_PENDING %d), handle %s\n", answer, (int)WSA_IO_PENDING,
         handle ? "set" : "null");
  posted = waitMessage(10000);
  printf("message reached the loop: %s\n", posted ? "yes" : "no");
  printf("routine: error %ld, %s\n", (long)routineError,
         routineThread == 0 ? "never ran"
         : (DWORD)routineThread == mainThread ? "on the caller's thread"
                                              : "on another thread");
  printf("overlapped result: %d\n", GetAddrInfoExOverlappedResult(&overlapped));
  show(result);
  if (result) FreeAddrInfoExW(result);

  /* A second lookup, cancelled at once. */
  result = NULL;
  handle = NULL;
  routineThread = 0;
  routineError = -1;
  memset(&overlapped, 0, sizeof overlapped);
  answer = GetAddrInfoExW(name, L"110", NS_DNS, NULL, &hints, &result, NULL, &overlapped,
                          (LPLOOKUPSERVICE_COMPLETION_ROUTINE)(void*)done, &handle);
  printf("cancel: %d (WSA_INVALID_HANDLE %d)\n", GetAddrInfoExCancel(&handle),
         (int)WSA_INVALID_HANDLE);
  posted = waitMessage(10000);
  printf("after cancel the routine ran: %s, error %ld (WSA_E_CANCELLED %d)\n",
         posted ? "yes" : "no", (long)routineError, (int)WSA_E_CANCELLED);
  if (result) FreeAddrInfoExW(result);
  printf("done\n");
  return 0;
}
