// Dialling: the overlapped lookup and the race of connection attempts.
//
// The lookup runs in the system (GetAddrInfoExW with an OVERLAPPED and a
// completion routine). The routine runs on one of the system's threads,
// so its only acts are to mark its lookup done and to post
// MSG_HOST_RESOLVED; the window's thread reads the result when that
// message comes. The message carries nothing: a posted message may come
// from anyone, so the dial looks only at the lookups it holds itself.
//
// A lookup's memory is the system's until its completion has run:
// Windows calls the routine at once with WSA_E_CANCELLED when a lookup is
// cancelled, but Wine cannot cancel one (GetAddrInfoExCancel answers
// WSA_INVALID_HANDLE) and completes it with its result whenever the
// name's answer comes. A cancelled lookup therefore waits among the
// dial's orphans until it is marked done, and only then is freed.
#include "net/dial.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "base/appstate.h"
#include "base/text.h"
#include "base/trace.h"

struct DialLookup {
  // First, so that the routine finds the lookup from its OVERLAPPED.
  OVERLAPPED overlapped;
  HWND window;
  ADDRINFOEXW* result;
  HANDLE cancelHandle;
  DWORD error;
  // Set by the completion routine, last, on the system's thread.
  volatile LONG done;
};

namespace {

const LONG DIAL_EVENTS = FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE;

void CALLBACK onLookupDone(DWORD error, DWORD, LPWSAOVERLAPPED overlapped) {
  DialLookup* lookup = reinterpret_cast<DialLookup*>(overlapped);
  HWND window = lookup->window;
  lookup->error = error;
  // From here on the window's thread may free the lookup at any moment.
  InterlockedExchange(&lookup->done, 1);
  PostMessageW(window, MSG_HOST_RESOLVED, 0, 0);
}

int isDone(DialLookup* lookup) { return InterlockedCompareExchange(&lookup->done, 0, 0) != 0; }

void freeLookup(DialLookup* lookup) {
  if (lookup->result != NULL) FreeAddrInfoExW(lookup->result);
  LocalFree(lookup);
}

void freeDoneOrphans(Dial* dial) {
  for (DialLookup*& orphan : dial->orphans) {
    if (orphan == NULL || !isDone(orphan)) continue;
    freeLookup(orphan);
    orphan = NULL;
  }
}

void addressText(const DialAddress& address, char* text, size_t size) {
  WCHAR wideText[64] = {};
  const void* bytes;
  if (address.address.ss_family == AF_INET6)
    bytes = &reinterpret_cast<const sockaddr_in6*>(&address.address)->sin6_addr;
  else
    bytes = &reinterpret_cast<const sockaddr_in*>(&address.address)->sin_addr;
  if (InetNtopW(address.address.ss_family, bytes, wideText, 64) == NULL) wideText[0] = 0;
  char host[64];
  toUtf8(wideText, host, sizeof host);
  if (address.address.ss_family != AF_INET6) {
    snprintf(text, size, "%s", host);
    return;
  }
  DWORD zone = reinterpret_cast<const sockaddr_in6*>(&address.address)->sin6_scope_id;
  if (zone != 0)
    snprintf(text, size, "[%s%%%lu]", host, (unsigned long)zone);
  else
    snprintf(text, size, "[%s]", host);
}

void closeAttempt(DialAddress& address, HWND window) {
  // Notifications stop before the socket closes: a later socket may get
  // the same handle value.
  WSAAsyncSelect(address.socket, window, 0, 0);
  closesocket(address.socket);
  address.socket = INVALID_SOCKET;
}

int attemptsRunning(const Dial* dial) {
  for (int i = 0; i < dial->addressCount; i++)
    if (dial->addresses[i].socket != INVALID_SOCKET) return 1;
  return 0;
}

// Opens one attempt on the address; 0 when it failed at once.
int attempt(Dial* dial, HWND window, DialAddress& address) {
  char text[80];
  addressText(address, text, sizeof text);
  traceLine("connecting to %s port %u", text, (unsigned)dial->port);
  SOCKET s = socket(address.address.ss_family, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    dial->failure = DialNoSocket;
    return 0;
  }
  // Also makes the socket non-blocking. The winner keeps these events.
  if (WSAAsyncSelect(s, window, MSG_SOCKET_EVENT, DIAL_EVENTS) == SOCKET_ERROR) {
    closesocket(s);
    dial->failure = DialSelectFailed;
    return 0;
  }
  if (connect(s, reinterpret_cast<const sockaddr*>(&address.address), address.length) ==
          SOCKET_ERROR &&
      WSAGetLastError() != WSAEWOULDBLOCK) {
    traceLine("%s: connect failed (%d)", text, WSAGetLastError());
    address.socket = s;
    closeAttempt(address, window);
    dial->failure = DialConnectFailed;
    return 0;
  }
  address.socket = s;
  return 1;
}

void CALLBACK onAttemptDelay(HWND window, UINT, UINT_PTR id, DWORD);

void stopTimer(Dial* dial, HWND window) {
  if (!dial->timerArmed) return;
  KillTimer(window, (UINT_PTR)dial);
  dial->timerArmed = 0;
}

// Starts the next attempt that can be started, and arms the pause before
// the one after it. Decides the dial only when no address is left and no
// attempt runs.
DialResult attemptNext(Dial* dial, HWND window) {
  while (dial->nextAddress < dial->addressCount) {
    if (!attempt(dial, window, dial->addresses[dial->nextAddress++])) continue;
    if (dial->nextAddress < dial->addressCount) {
      SetTimer(window, (UINT_PTR)dial, DIAL_ATTEMPT_DELAY_MS, onAttemptDelay);
      dial->timerArmed = 1;
    } else {
      stopTimer(dial, window);
    }
    return DialPending;
  }
  stopTimer(dial, window);
  return attemptsRunning(dial) ? DialPending : DialFailed;
}

// The pause is over and no attempt has connected: the next one starts
// beside the others. An earlier one still runs (a failure would have
// started the next at once), so this decides nothing.
void CALLBACK onAttemptDelay(HWND window, UINT, UINT_PTR id, DWORD) {
  attemptNext(reinterpret_cast<Dial*>(id), window);
}

// An IPv4 address written as IPv6 (::ffff:a.b.c.d): Windows makes an IPv6
// socket IPv6-only, so only an IPv4 socket reaches it.
int isMappedIpv4(const sockaddr* address, size_t length) {
  static const unsigned char MAPPED_PREFIX[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  return address->sa_family == AF_INET6 && length >= sizeof(sockaddr_in6) &&
         memcmp(reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr.s6_addr, MAPPED_PREFIX,
                sizeof MAPPED_PREFIX) == 0;
}

void addAddress(Dial* dial, const sockaddr* address, size_t length) {
  if (isMappedIpv4(address, length)) {
    sockaddr_in in4;
    memset(&in4, 0, sizeof in4);
    in4.sin_family = AF_INET;
    memcpy(&in4.sin_addr.s_addr,
           reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr.s6_addr + 12, 4);
    return addAddress(dial, reinterpret_cast<const sockaddr*>(&in4), sizeof in4);
  }
  if (dial->addressCount == DIAL_MOST_ADDRESSES || length > sizeof(SOCKADDR_STORAGE)) return;
  DialAddress& entry = dial->addresses[dial->addressCount++];
  memset(&entry.address, 0, sizeof entry.address);
  memcpy(&entry.address, address, length);
  entry.length = (int)length;
  entry.socket = INVALID_SOCKET;
  u_short port = htons(dial->port);
  if (address->sa_family == AF_INET6)
    reinterpret_cast<sockaddr_in6*>(&entry.address)->sin6_port = port;
  else
    reinterpret_cast<sockaddr_in*>(&entry.address)->sin_port = port;
}

// MinGW-w64's ws2tcpip.h points ai_next at a misspelt struct of its own
// (addrinfoexW, never defined); the entry behind it is an ADDRINFOEXW.
const ADDRINFOEXW* nextEntry(const ADDRINFOEXW* entry) {
  return reinterpret_cast<const ADDRINFOEXW*>(entry->ai_next);
}

// The lookup's addresses in the system's order of preference, the two
// families taken in turn from the family of the first (RFC 8305, 4).
void takeAddresses(Dial* dial, const ADDRINFOEXW* list) {
  const ADDRINFOEXW* next[2] = {NULL, NULL};  // the first family's, the other's
  int firstFamily = 0;
  for (const ADDRINFOEXW* entry = list; entry != NULL; entry = nextEntry(entry)) {
    if ((entry->ai_family != AF_INET && entry->ai_family != AF_INET6) || entry->ai_addr == NULL)
      continue;
    if (firstFamily == 0) firstFamily = entry->ai_family;
    int side = entry->ai_family == firstFamily ? 0 : 1;
    if (next[side] == NULL) next[side] = entry;
  }
  for (int turn = 0; next[0] != NULL || next[1] != NULL; turn ^= 1) {
    const ADDRINFOEXW*& entry = next[next[turn] != NULL ? turn : turn ^ 1];
    addAddress(dial, entry->ai_addr, entry->ai_addrlen);
    int family = entry->ai_family;
    do {
      entry = nextEntry(entry);
    } while (entry != NULL && (entry->ai_family != family || entry->ai_addr == NULL));
  }
}

// A server's name or address as typed, without the brackets around an
// address ([2001:db8::1], [fe80::1%12]): neither the address's parse nor
// the lookup knows them. 0 when it does not fit.
int takeBrackets(const char* host, char* bare, size_t size) {
  size_t length = strlen(host);
  if (length >= 2 && host[0] == '[' && host[length - 1] == ']') {
    host++;
    length -= 2;
  }
  if (length >= size) return 0;
  memcpy(bare, host, length);
  bare[length] = '\0';
  return 1;
}

// The zone of a link-local address (fe80::1%12): Windows names it by the
// interface's number. 0 for anything else, which is left to the lookup.
int readZone(const char* zone, DWORD* scope) {
  size_t digits = strspn(zone, "0123456789");
  if (digits == 0 || digits > 9 || zone[digits] != '\0') return 0;
  *scope = (DWORD)strtoul(zone, NULL, 10);
  return 1;
}

// An address written as one needs no lookup: IPv4 in any form inet_addr
// reads (all ones excepted, which is no server's), IPv6 in its text form,
// perhaps with a zone.
int takeLiteral(Dial* dial, const char* host) {
  sockaddr_in in4;
  memset(&in4, 0, sizeof in4);
  in4.sin_family = AF_INET;
  in4.sin_addr.s_addr = inet_addr(host);
  if (in4.sin_addr.s_addr != INADDR_NONE) {
    addAddress(dial, reinterpret_cast<const sockaddr*>(&in4), sizeof in4);
    return 1;
  }
  char address[64];
  const char* zone = strchr(host, '%');
  size_t length = zone != NULL ? (size_t)(zone - host) : strlen(host);
  if (length >= sizeof address) return 0;
  memcpy(address, host, length);
  address[length] = '\0';
  sockaddr_in6 in6;
  memset(&in6, 0, sizeof in6);
  in6.sin6_family = AF_INET6;
  DWORD scope = 0;
  if (zone != NULL && !readZone(zone + 1, &scope)) return 0;
  in6.sin6_scope_id = scope;
  if (InetPtonW(AF_INET6, wide(address).text, &in6.sin6_addr) != 1) return 0;
  addAddress(dial, reinterpret_cast<const sockaddr*>(&in6), sizeof in6);
  return 1;
}

// Takes the lookup's answer (it is freed then), and starts the race.
DialResult finishLookup(Dial* dial, HWND window, DialLookup* lookup) {
  if (lookup->error == 0 && lookup->result != NULL) takeAddresses(dial, lookup->result);
  traceLine("lookup: error %lu, %d addresses", (unsigned long)lookup->error, dial->addressCount);
  freeLookup(lookup);
  if (dial->addressCount == 0) {
    dial->failure = DialNoSuchHost;
    return DialFailed;
  }
  return attemptNext(dial, window);
}

}  // namespace

DialResult startDial(Dial* dial, HWND window, const char* host, u_short port) {
  cancelDial(dial, window);
  dial->port = port;
  dial->failure = DialNoFailure;
  dial->winner = INVALID_SOCKET;
  char bare[DIAL_HOST_BYTES];
  if (!takeBrackets(host, bare, sizeof bare)) {
    dial->failure = DialNoSuchHost;
    return DialFailed;
  }
  if (takeLiteral(dial, bare)) return attemptNext(dial, window);

  // Zero-filled: the OVERLAPPED must start empty.
  DialLookup* lookup = (DialLookup*)LocalAlloc(LMEM_ZEROINIT, sizeof(DialLookup));
  if (lookup == NULL) {
    dial->failure = DialNoSuchHost;
    return DialFailed;
  }
  lookup->window = window;
  ADDRINFOEXW hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  traceLine("looking up %s", bare);
  int answer = GetAddrInfoExW(
      wide(bare).text, NULL, NS_DNS, NULL, &hints, &lookup->result, NULL, &lookup->overlapped,
      reinterpret_cast<LPLOOKUPSERVICE_COMPLETION_ROUTINE>(onLookupDone), &lookup->cancelHandle);
  if (answer == WSA_IO_PENDING) {
    dial->lookup = lookup;
    return DialPending;
  }
  // Answered at once, without the routine: a result or a refusal.
  lookup->error = (DWORD)answer;
  return finishLookup(dial, window, lookup);
}

DialResult onDialLookup(Dial* dial, HWND window) {
  freeDoneOrphans(dial);
  DialLookup* lookup = dial->lookup;
  if (lookup == NULL || !isDone(lookup)) return DialPending;
  dial->lookup = NULL;
  return finishLookup(dial, window, lookup);
}

DialResult onDialSocketEvent(Dial* dial, HWND window, WPARAM wParam, LPARAM lParam) {
  SOCKET s = (SOCKET)wParam;
  int found = -1;
  for (int i = 0; i < dial->addressCount && found < 0; i++)
    if (s != INVALID_SOCKET && dial->addresses[i].socket == s) found = i;
  // Whatever else an attempt's handle value carries before its FD_CONNECT
  // was queued for a socket closed earlier.
  if (found < 0 || WSAGETSELECTEVENT(lParam) != FD_CONNECT) return DialPending;
  DialAddress& address = dial->addresses[found];
  char text[80];
  addressText(address, text, sizeof text);
  if (WSAGETSELECTERROR(lParam) != 0) {
    traceLine("%s: no connection (%d)", text, (int)WSAGETSELECTERROR(lParam));
    closeAttempt(address, window);
    dial->failure = WSAGETSELECTERROR(lParam) == WSAECONNREFUSED ? DialRefused : DialUnreachable;
    // A failure does not wait out the pause.
    return attemptNext(dial, window);
  }
  traceLine("connected to %s", text);
  dial->winner = s;
  address.socket = INVALID_SOCKET;
  cancelDial(dial, window);
  return DialConnected;
}

int dialUnderWay(const Dial* dial) { return dial->lookup != NULL || attemptsRunning(dial); }

void cancelDial(Dial* dial, HWND window) {
  stopTimer(dial, window);
  for (int i = 0; i < dial->addressCount; i++)
    if (dial->addresses[i].socket != INVALID_SOCKET) closeAttempt(dial->addresses[i], window);
  dial->addressCount = 0;
  dial->nextAddress = 0;
  freeDoneOrphans(dial);
  DialLookup* lookup = dial->lookup;
  if (lookup == NULL) return;
  dial->lookup = NULL;
  // The handle is the system's only until the completion has run.
  if (isDone(lookup)) return freeLookup(lookup);
  // Windows completes a cancelled lookup at once; Wine lets it run on.
  GetAddrInfoExCancel(&lookup->cancelHandle);
  if (isDone(lookup)) return freeLookup(lookup);
  for (DialLookup*& orphan : dial->orphans) {
    if (orphan != NULL) continue;
    orphan = lookup;
    return;
  }
  // Every place taken by lookups that never end: this one is left to the
  // system, a few bytes lost rather than memory freed under its feet.
}
