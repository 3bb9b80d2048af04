// Windows Sockets 2 with the test as the far end: IPv4 and IPv6 sockets,
// each address answering connections as the test says (or as its own
// connect action decides), overlapped lookups on the virtual clock, and
// the WININET connection query.
//
// Notifications follow Windows Sockets: FD_READ is posted when data
// arrives and none is outstanding, and again after a recv that leaves data
// behind; messages already queued for a socket stay queued after it is
// closed, as they do on Windows.
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <set>

#include "platform/standin/standin_world.h"

namespace standin {

namespace {

struct FakeSocket {
  bool open = true;
  int family = AF_INET;
  std::string address;  // where it was connected
  HWND window = nullptr;
  UINT message = 0;
  long events = 0;
  std::string inbox;
  std::string sent;
  std::string partialLine;
  bool readOutstanding = false;
  bool peerClosed = false;
  int recvError = 0;
  long sendRoom = -1;  // bytes send() still takes; -1: any number
  std::string flood;   // repeated without end by every recv
  int floodReads = 0;
  // The server's end of a TLS channel.
  enum { NoTls, AwaitClientHello, AwaitClientKey, TlsOpen } tls = NoTls;
  TlsServer tlsScript;
  std::string tlsPending;  // from the program, not yet a whole record
  // SIO_KEEPALIVE_VALS (0 ms: off), and a far end gone without a word.
  DWORD keepAliveMs = 0;
  DWORD keepAliveIntervalMs = 0;
  bool vanished = false;
};

struct Lookup {
  std::string name;
  ADDRINFOEXW** result;
  LPOVERLAPPED overlapped;
  LPLOOKUPSERVICE_COMPLETION_ROUTINE routine;
  bool pending;
};

// One entry of a lookup's answer, with the address it points at.
struct AnswerEntry {
  ADDRINFOEXW info;
  SOCKADDR_STORAGE address;
};

struct AddressAnswer {
  Answer answer;
  DWORD after;
};

std::map<SOCKET, FakeSocket> sockets;
SOCKET nextSocket = 0x40;
SOCKET newestSocket = INVALID_SOCKET;
bool socketFails = false;
bool asyncSelectFails = false;
int connectError = 0;
int lastErrorCode = 0;
std::string connectAddress;
int connectPort = 0;
std::function<void(SOCKET)> connectAction;
std::function<void(SOCKET, const std::string&)> lineAction;
std::function<void(SOCKET)> tlsOpenAction;

std::map<std::string, AddressAnswer> answers;

std::map<std::string, std::vector<std::string>> hosts;
DWORD lookupDelay = 0;
bool lookupRequestFails = false;
bool cancelAsWine = false;
std::map<intptr_t, Lookup> lookups;
intptr_t nextLookup = 0x1000;
std::set<ADDRINFOEXW*> liveAnswers;

bool online = true;
bool wininetPresent = true;
bool shcorePresent = true;
bool wininetExportPresent = true;
int librariesLoaded = 0;
HINSTANCE__ wininetModule{"WININET.DLL"};
HINSTANCE__ shcoreModule{"SHCORE.DLL"};

FakeSocket* find(SOCKET s) {
  auto found = sockets.find(s);
  return found == sockets.end() || !found->second.open ? nullptr : &found->second;
}

void notify(SOCKET s, FakeSocket& socket, int event, int error) {
  if (socket.window && (socket.events & event))
    PostMessageW(socket.window, socket.message, s, MAKELPARAM(event, error));
}

bool parseNumber(const char* text, size_t length, uint32_t* value) {
  if (length == 0) return false;
  int base = 10;
  size_t i = 0;
  if (length > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    i = 2;
    if (length == 2) return false;
  } else if (length > 1 && text[0] == '0') {
    base = 8;
    i = 1;
  }
  uint64_t result = 0;
  for (; i < length; i++) {
    int digit;
    char c = text[i];
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return false;
    if (digit >= base) return false;
    result = result * (uint64_t)base + (uint64_t)digit;
    if (result > 0xFFFFFFFFull) return false;
  }
  *value = (uint32_t)result;
  return true;
}

// Windows' reading of an Internet address: one to four parts, each
// decimal, octal (leading 0) or hexadecimal (0x); the last part fills the
// remaining bytes. The result is in network byte order.
uint32_t parseAddress(const char* text) {
  uint32_t parts[4];
  int count = 0;
  const char* start = text;
  for (const char* p = text;; p++) {
    if (*p == '.' || *p == '\0') {
      if (count == 4 || !parseNumber(start, (size_t)(p - start), &parts[count])) return INADDR_NONE;
      count++;
      if (*p == '\0') break;
      start = p + 1;
    }
  }
  uint32_t host = 0;
  uint32_t limits[] = {0xFFFFFFFFu, 0xFFFFFFu, 0xFFFFu, 0xFFu};
  for (int i = 0; i < count - 1; i++) {
    if (parts[i] > 0xFF) return INADDR_NONE;
    host |= parts[i] << (24 - 8 * i);
  }
  if (parts[count - 1] > limits[count - 1]) return INADDR_NONE;
  host |= parts[count - 1];
  return ((host & 0xFF) << 24) | ((host & 0xFF00) << 8) | ((host >> 8) & 0xFF00) | (host >> 24);
}

// IPv6 in its text form (RFC 4291, 2.2): eight groups of hexadecimal,
// one run of them perhaps written "::", the last two perhaps as dotted
// IPv4. The stand-in cannot ask the host's libraries, whose sockets it
// stands in for.
bool parseIpv6(const char* text, u_char bytes[16]) {
  uint16_t groups[8] = {};
  int count = 0, gap = -1;
  const char* p = text;
  if (p[0] == ':' && p[1] == ':') {
    gap = 0;
    p += 2;
  } else if (*p == ':') {
    return false;
  }
  while (*p) {
    if (count == 8) return false;
    const char* start = p;
    unsigned value = 0;
    while (isxdigit((unsigned char)*p) && p - start < 5)
      value =
          value * 16 + (unsigned)(isdigit((unsigned char)*p) ? *p - '0' : (*p | 0x20) - 'a' + 10),
      p++;
    if (*p == '.' && count <= 6) {
      uint32_t v4 = INADDR_NONE;
      int dots = 0;
      for (const char* q = start; *q; q++) dots += *q == '.';
      if (dots == 3) v4 = parseAddress(start);
      if (v4 == INADDR_NONE && strcmp(start, "255.255.255.255") != 0) return false;
      const u_char* v4bytes = (const u_char*)&v4;
      groups[count++] = (uint16_t)(v4bytes[0] << 8 | v4bytes[1]);
      groups[count++] = (uint16_t)(v4bytes[2] << 8 | v4bytes[3]);
      break;
    }
    if (p == start || p - start > 4) return false;
    groups[count++] = (uint16_t)value;
    if (*p == '\0') break;
    if (*p != ':') return false;
    p++;
    if (*p == ':') {
      if (gap >= 0) return false;
      gap = count;
      p++;
    } else if (*p == '\0') {
      return false;
    }
  }
  if (gap < 0 ? count != 8 : count > 7) return false;
  uint16_t full[8] = {};
  int tail = gap < 0 ? 0 : count - gap;
  for (int i = 0; i < count - tail; i++) full[i] = groups[i];
  for (int i = 0; i < tail; i++) full[8 - tail + i] = groups[gap + i];
  for (int i = 0; i < 8; i++)
    bytes[2 * i] = (u_char)(full[i] >> 8), bytes[2 * i + 1] = (u_char)full[i];
  return true;
}

// IPv6 as Windows writes it (RFC 5952): the longest run of two or more
// zero groups as "::", the first of equal runs.
std::string formatIpv6(const u_char bytes[16]) {
  uint16_t groups[8];
  for (int i = 0; i < 8; i++) groups[i] = (uint16_t)(bytes[2 * i] << 8 | bytes[2 * i + 1]);
  int bestStart = -1, bestLength = 1;
  for (int i = 0; i < 8;) {
    int j = i;
    while (j < 8 && groups[j] == 0) j++;
    if (j - i > bestLength) bestStart = i, bestLength = j - i;
    i = j > i ? j : i + 1;
  }
  std::string text;
  char group[8];
  for (int i = 0; i < 8; i++) {
    if (i == bestStart) {
      text += "::";
      i += bestLength - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ":";
    snprintf(group, sizeof group, "%x", groups[i]);
    text += group;
  }
  return text;
}

std::string formatIpv4(const u_char bytes[4]) {
  return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
         std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

// An address as the test names it: dotted IPv4, or IPv6 in its text form
// with its zone, if any, after a "%".
std::string addressText(const struct sockaddr* address) {
  if (address->sa_family == AF_INET6) {
    const struct sockaddr_in6* in6 = (const struct sockaddr_in6*)address;
    std::string text = formatIpv6(in6->sin6_addr.s6_addr);
    if (in6->sin6_scope_id != 0) text += "%" + std::to_string(in6->sin6_scope_id);
    return text;
  }
  return formatIpv4((const u_char*)&((const struct sockaddr_in*)address)->sin_addr.s_addr);
}

// The name's addresses, each in a block of its own as Windows hands
// them out; the caller frees the list with FreeAddrInfoExW.
ADDRINFOEXW* answerFor(const std::vector<std::string>& addresses) {
  ADDRINFOEXW* first = nullptr;
  ADDRINFOEXW** link = &first;
  for (const std::string& text : addresses) {
    AnswerEntry* entry = new AnswerEntry();
    struct sockaddr_in6* in6 = (struct sockaddr_in6*)&entry->address;
    struct sockaddr_in* in4 = (struct sockaddr_in*)&entry->address;
    if (parseIpv6(text.c_str(), in6->sin6_addr.s6_addr)) {
      in6->sin6_family = AF_INET6;
      entry->info.ai_addrlen = sizeof *in6;
    } else {
      in4->sin_family = AF_INET;
      in4->sin_addr.s_addr = parseAddress(text.c_str());
      entry->info.ai_addrlen = sizeof *in4;
    }
    entry->info.ai_family = entry->address.ss_family;
    entry->info.ai_socktype = SOCK_STREAM;
    entry->info.ai_protocol = IPPROTO_TCP;
    entry->info.ai_addr = (struct sockaddr*)&entry->address;
    *link = &entry->info;
    link = &entry->info.ai_next;
  }
  if (first) liveAnswers.insert(first);
  return first;
}

// The system's thread finishes the lookup: the answer is written, then
// the routine runs.
void completeLookup(intptr_t handle) {
  auto found = lookups.find(handle);
  if (found == lookups.end() || !found->second.pending) return;
  Lookup& lookup = found->second;
  lookup.pending = false;
  auto host = hosts.find(lookup.name);
  DWORD error = host == hosts.end() || host->second.empty() ? WSAHOST_NOT_FOUND : 0;
  if (!error) *lookup.result = answerFor(host->second);
  lookup.overlapped->Internal = error;
  lookup.routine(error, 0, lookup.overlapped);
}

BOOL WINAPI internetGetConnectedState(LPDWORD flags, DWORD) {
  if (flags) *flags = online ? 0x02 : 0;
  return online ? TRUE : FALSE;
}

// The effective, angular and raw figures (0, 1, 2) of a monitor that
// exists; anything else Windows refuses.
HRESULT WINAPI getDpiForMonitor(HMONITOR monitor, int kind, UINT* x, UINT* y) {
  if (monitor != primaryMonitor() || kind < 0 || kind > 2 || !x || !y) return E_INVALIDARG;
  *x = *y = (UINT)(world().monitorDpi ? world().monitorDpi : world().dpi);
  return S_OK;
}

}  // namespace

void resetNet() {
  sockets.clear();
  newestSocket = INVALID_SOCKET;
  socketFails = asyncSelectFails = false;
  connectError = lastErrorCode = 0;
  connectAddress.clear();
  connectPort = 0;
  connectAction = nullptr;
  lineAction = nullptr;
  tlsOpenAction = nullptr;
  answers.clear();
  hosts.clear();
  lookupDelay = 0;
  lookupRequestFails = cancelAsWine = false;
  lookups.clear();
  // Answers the program never freed are its leaks, and are left to show.
  liveAnswers.clear();
  online = wininetPresent = wininetExportPresent = shcorePresent = true;
  librariesLoaded = 0;
  resetLibraries();
}

void failNextSocket() { socketFails = true; }
void failNextAsyncSelect() { asyncSelectFails = true; }
void failNextConnect(int error) { connectError = error; }
void failNextRecv(int error) {
  if (FakeSocket* socket = find(newestSocket)) socket->recvError = error;
}
SOCKET lastSocket() { return newestSocket; }
bool socketOpen(SOCKET s) { return find(s) != nullptr; }
size_t openSocketCount() {
  size_t count = 0;
  for (auto& entry : sockets) count += entry.second.open;
  return count;
}
std::string lastConnectAddress() { return connectAddress; }
std::string addressOf(SOCKET s) {
  auto found = sockets.find(s);
  return found == sockets.end() ? std::string() : found->second.address;
}
int lastConnectPort() { return connectPort; }
long selectedEvents(SOCKET s) {
  auto found = sockets.find(s);
  return found == sockets.end() ? 0 : found->second.events;
}

void connectionEstablished(SOCKET s, int error) {
  if (FakeSocket* socket = find(s)) {
    if (error) socket->peerClosed = true;
    notify(s, *socket, FD_CONNECT, error);
  }
}

void serverSends(SOCKET s, const std::string& bytes) {
  FakeSocket* socket = find(s);
  if (socket && socket->tls == FakeSocket::TlsOpen) {
    std::string records;
    for (size_t at = 0; at < bytes.size(); at += 16384)
      records += tlsDataRecord(bytes.substr(at, 16384));
    return serverSendsRaw(s, records);
  }
  serverSendsRaw(s, bytes);
}

void serverSendsRaw(SOCKET s, const std::string& bytes) {
  FakeSocket* socket = find(s);
  if (!socket || socket->peerClosed || socket->vanished) return;
  socket->inbox += bytes;
  if (!socket->readOutstanding) {
    socket->readOutstanding = true;
    notify(s, *socket, FD_READ, 0);
  }
}

void serverFloods(SOCKET s, const std::string& pattern) {
  if (FakeSocket* socket = find(s)) {
    socket->flood = pattern;
    notify(s, *socket, FD_READ, 0);
  }
}

int floodReads(SOCKET s) {
  auto found = sockets.find(s);
  return found == sockets.end() ? 0 : found->second.floodReads;
}

void serverCloses(SOCKET s, int error) {
  if (FakeSocket* socket = find(s)) {
    socket->peerClosed = true;
    notify(s, *socket, FD_CLOSE, error);
  }
}

namespace {

// Ten probes unanswered after the keep-alive time break the connection.
void breakByKeepAlives(SOCKET s, FakeSocket& socket) {
  if (!socket.vanished || socket.keepAliveMs == 0) return;
  standin::at(now() + socket.keepAliveMs + 10 * socket.keepAliveIntervalMs, [s] {
    FakeSocket* gone = find(s);
    if (!gone || gone->peerClosed) return;
    gone->peerClosed = true;
    notify(s, *gone, FD_CLOSE, WSAENETRESET);
  });
}

}  // namespace

void serverVanishes(SOCKET s) {
  if (FakeSocket* socket = find(s)) {
    socket->vanished = true;
    breakByKeepAlives(s, *socket);
  }
}

std::string sentBy(SOCKET s) {
  auto found = sockets.find(s);
  return found == sockets.end() ? std::string() : found->second.sent;
}

void onConnect(std::function<void(SOCKET)> action) { connectAction = std::move(action); }
void onLineSent(std::function<void(SOCKET, const std::string&)> action) {
  lineAction = std::move(action);
}

void serveTls(SOCKET s, const TlsServer& script) {
  if (FakeSocket* socket = find(s)) {
    socket->tls = FakeSocket::AwaitClientHello;
    socket->tlsScript = script;
    socket->tlsPending.clear();
  }
}

void onTlsOpen(std::function<void(SOCKET)> action) { tlsOpenAction = std::move(action); }

void limitSendRoom(SOCKET s, long bytes) {
  if (FakeSocket* socket = find(s)) socket->sendRoom = bytes;
}

void makeWritable(SOCKET s) {
  if (FakeSocket* socket = find(s)) {
    socket->sendRoom = -1;
    notify(s, *socket, FD_WRITE, 0);
  }
}

namespace {

// The server's handshake records, whole or in the script's pieces; then
// `after`, once the last piece is on its way.
void sendHandshake(SOCKET s, const TlsServer& script, const std::string& records,
                   std::function<void()> after = nullptr) {
  if (script.pieceSize == 0) {
    serverSendsRaw(s, records);
    if (after) after();
    return;
  }
  DWORD when = now();
  for (size_t at = 0; at < records.size(); at += script.pieceSize) {
    std::string piece = records.substr(at, script.pieceSize);
    standin::at(++when, [s, piece] { serverSendsRaw(s, piece); });
  }
  if (after) standin::at(when, after);
}

// Lines of plain text the program sent, to the test's server.
void takeLines(SOCKET s, FakeSocket* socket, const std::string& text) {
  socket->partialLine += text;
  size_t end;
  while ((end = socket->partialLine.find("\r\n")) != std::string::npos) {
    std::string line = socket->partialLine.substr(0, end);
    socket->partialLine.erase(0, end + 2);
    if (lineAction) lineAction(s, line);
    if (!find(s)) return;
  }
}

// The server's end of TLS reads what the program sent.
// The server's finish, naming its certificate.
std::string finishOf(const TlsServer& script) {
  return "server-finished name=" + script.certificateName +
         " trusted=" + (script.trusted ? "1" : "0") + " expired=" + (script.expired ? "1" : "0") +
         " revoked=" + (script.revoked ? "1" : "0") +
         " offline=" + (script.revocationOffline ? "1" : "0") +
         " withheld=" + std::to_string(script.withheld);
}

void serverReadsTls(SOCKET s, FakeSocket* socket) {
  int type;
  std::string body;
  size_t length;
  while (takeTlsRecord(socket->tlsPending, &type, &body, &length)) {
    socket->tlsPending.erase(0, length);
    const TlsServer& script = socket->tlsScript;
    if (socket->tls == FakeSocket::AwaitClientHello && type == 0x16 &&
        body.compare(0, 12, "client-hello") == 0) {
      if (script.refusesHandshake)
        return sendHandshake(s, script, tlsRecord(0x15, "handshake-failure"));
      if (script.resumes && body.size() > 7 && body.compare(body.size() - 7, 7, " resume") == 0) {
        socket->tls = FakeSocket::TlsOpen;
        return sendHandshake(
            s, script, tlsRecord(0x16, "server-hello resumed") + tlsRecord(0x16, finishOf(script)),
            [s] {
              if (tlsOpenAction) tlsOpenAction(s);
            });
      }
      socket->tls = FakeSocket::AwaitClientKey;
      sendHandshake(s, script,
                    tlsRecord(0x16, script.asksForCertificate ? "server-hello certificate-request"
                                                              : "server-hello"));
    } else if (socket->tls == FakeSocket::AwaitClientKey && type == 0x16 && body == "client-key") {
      std::string records = tlsRecord(0x16, finishOf(script));
      if (script.sendsTicket) records += tlsRecord(0x16, "ticket");
      socket->tls = FakeSocket::TlsOpen;
      sendHandshake(s, script, records, [s] {
        if (tlsOpenAction) tlsOpenAction(s);
      });
    } else if (socket->tls == FakeSocket::TlsOpen && type == 0x17 && body.size() >= 16) {
      takeLines(s, socket, maskTlsText(body.substr(0, body.size() - 16)));
    }
    socket = find(s);
    if (!socket) return;
  }
}

}  // namespace

// The name as the wide lookup will ask for it: bytes that are no UTF-8
// have become U+FFFD on the way.
void setHostAddress(const std::string& name, const std::string& dotted) {
  setHostAddresses(name, {dotted});
}
void setHostAddresses(const std::string& name, const std::vector<std::string>& addresses) {
  hosts[narrow(widen(name).c_str())] = addresses;
}
void answerConnections(const std::string& address, Answer answer, DWORD afterMs) {
  answers[address] = AddressAnswer{answer, afterMs};
}
void forgetConnectionAnswers() { answers.clear(); }
void cancelLookupsAsWine() { cancelAsWine = true; }
size_t unfreedLookupAnswers() { return liveAnswers.size(); }
void setLookupDelay(DWORD ms) { lookupDelay = ms; }
void failNextLookupRequest() { lookupRequestFails = true; }
size_t pendingLookupCount() {
  size_t count = 0;
  for (auto& entry : lookups) count += entry.second.pending;
  return count;
}
size_t lookupRequestCount() { return lookups.size(); }
HANDLE lastLookupHandle() { return lookups.empty() ? nullptr : (HANDLE)lookups.rbegin()->first; }

void setOnline(bool value) { online = value; }
void setWininet(bool libraryPresent, bool exportPresent) {
  wininetPresent = libraryPresent;
  wininetExportPresent = exportPresent;
}
void setShcore(bool present) { shcorePresent = present; }
int loadedLibraryCount() { return librariesLoaded; }

}  // namespace standin

using standin::record;
using standin::recording;

SOCKET socket(int family, int type, int) {
  if (recording()) record("socket");
  if (standin::socketFails || (family != AF_INET && family != AF_INET6) || type != SOCK_STREAM) {
    standin::socketFails = false;
    standin::lastErrorCode = family == AF_INET || family == AF_INET6 ? WSAENOBUFS : WSAEAFNOSUPPORT;
    return INVALID_SOCKET;
  }
  SOCKET s = standin::nextSocket++;
  standin::sockets[s] = standin::FakeSocket();
  standin::sockets[s].family = family;
  standin::newestSocket = s;
  return s;
}

int closesocket(SOCKET s) {
  if (recording()) record("closesocket");
  standin::FakeSocket* socket = standin::find(s);
  if (!socket) {
    standin::lastErrorCode = WSAENOTSOCK;
    return SOCKET_ERROR;
  }
  socket->open = false;
  return 0;
}

int connect(SOCKET s, const struct sockaddr* address, int length) {
  standin::FakeSocket* socket = standin::find(s);
  if (!socket) {
    standin::lastErrorCode = WSAENOTSOCK;
    return SOCKET_ERROR;
  }
  // As strict as Windows: the socket's own family, at its full length.
  int needed = socket->family == AF_INET6 ? (int)sizeof(struct sockaddr_in6)
                                          : (int)sizeof(struct sockaddr_in);
  if (!address || length < needed) {
    standin::lastErrorCode = WSAEFAULT;
    return SOCKET_ERROR;
  }
  if (address->sa_family != socket->family) {
    standin::lastErrorCode = WSAEAFNOSUPPORT;
    return SOCKET_ERROR;
  }
  std::string text = standin::addressText(address);
  // The port sits at the same place in both families.
  standin::connectAddress = socket->address = text;
  standin::connectPort = htons(((const struct sockaddr_in*)address)->sin_port);
  if (recording())
    record("connect(" + (socket->family == AF_INET6 ? "[" + text + "]" : text) + ":" +
           std::to_string(standin::connectPort) + ")");
  int error = standin::connectError;
  standin::connectError = 0;
  if (error) {
    standin::lastErrorCode = error;
    return SOCKET_ERROR;
  }
  // Windows makes an IPv6 socket IPv6-only: an IPv4 address written as
  // IPv6 (::ffff:a.b.c.d) is never reached through it.
  const u_char* v6 = ((const struct sockaddr_in6*)address)->sin6_addr.s6_addr;
  static const u_char MAPPED[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  if (socket->family == AF_INET6 && memcmp(v6, MAPPED, sizeof MAPPED) == 0) {
    standin::at(standin::now(), [s] {
      if (standin::find(s)) standin::connectionEstablished(s, WSAEADDRNOTAVAIL);
    });
    standin::lastErrorCode = WSAEWOULDBLOCK;
    return SOCKET_ERROR;
  }
  auto answer = standin::answers.find(text);
  auto action = standin::connectAction;
  if (answer != standin::answers.end()) {
    standin::Answer kind = answer->second.answer;
    // An accepted connection is the onConnect action's, as any other;
    // one closed before its time never connects.
    if (kind != standin::Answer::NeverAnswers)
      standin::at(standin::now() + answer->second.after, [s, kind, action] {
        if (!standin::find(s)) return;
        if (kind == standin::Answer::Refuses)
          return standin::connectionEstablished(s, WSAECONNREFUSED);
        if (action) return action(s);
        standin::connectionEstablished(s, 0);
      });
  } else if (standin::connectAction) {
    auto action = standin::connectAction;
    standin::at(standin::now(), [action, s] { action(s); });
  }
  standin::lastErrorCode = WSAEWOULDBLOCK;
  return SOCKET_ERROR;
}

int recv(SOCKET s, char* buffer, int length, int) {
  standin::FakeSocket* socket = standin::find(s);
  if (!socket) {
    standin::lastErrorCode = WSAENOTSOCK;
    return SOCKET_ERROR;
  }
  socket->readOutstanding = false;
  if (socket->recvError) {
    standin::lastErrorCode = socket->recvError;
    socket->recvError = 0;
    return SOCKET_ERROR;
  }
  // A server that never stops sending; it gives up after 10,000 reads
  // so that a reader without a limit shows in the count, not as a hang.
  if (!socket->flood.empty() && socket->floodReads < 10000) {
    for (int i = 0; i < length; i++) buffer[i] = socket->flood[(size_t)i % socket->flood.size()];
    socket->floodReads++;
    standin::notify(s, *socket, FD_READ, 0);
    return length;
  }
  if (socket->inbox.empty()) {
    if (socket->peerClosed) return 0;
    standin::lastErrorCode = WSAEWOULDBLOCK;
    return SOCKET_ERROR;
  }
  size_t count = std::min(socket->inbox.size(), (size_t)length);
  memcpy(buffer, socket->inbox.data(), count);
  socket->inbox.erase(0, count);
  if (!socket->inbox.empty()) {
    socket->readOutstanding = true;
    standin::notify(s, *socket, FD_READ, 0);
  }
  return (int)count;
}

int send(SOCKET s, const char* buffer, int length, int) {
  standin::FakeSocket* socket = standin::find(s);
  if (!socket) {
    standin::lastErrorCode = WSAENOTSOCK;
    return SOCKET_ERROR;
  }
  if (socket->sendRoom == 0) {
    standin::lastErrorCode = WSAEWOULDBLOCK;
    return SOCKET_ERROR;
  }
  if (socket->sendRoom > 0 && length > socket->sendRoom) length = (int)socket->sendRoom;
  if (socket->sendRoom > 0) socket->sendRoom -= length;
  std::string bytes(buffer, (size_t)length);
  socket->sent += bytes;
  if (socket->vanished) return length;
  if (socket->tls != standin::FakeSocket::NoTls) {
    if (recording()) record("send(" + std::to_string(length) + " bytes of TLS)");
    socket->tlsPending += bytes;
    standin::serverReadsTls(s, socket);
    return length;
  }
  if (recording()) record("send(" + standin::quoted(bytes.c_str()) + ")");
  standin::takeLines(s, socket, bytes);
  return length;
}

int shutdown(SOCKET s, int) {
  standin::FakeSocket* socket = standin::find(s);
  if (!socket) {
    standin::lastErrorCode = WSAENOTSOCK;
    return SOCKET_ERROR;
  }
  return 0;
}

int WSAAsyncSelect(SOCKET s, HWND window, UINT message, LONG events) {
  standin::FakeSocket* socket = standin::find(s);
  if (!socket || standin::asyncSelectFails) {
    standin::asyncSelectFails = false;
    standin::lastErrorCode = WSAEINVAL;
    return SOCKET_ERROR;
  }
  socket->window = window;
  socket->message = message;
  socket->events = events;
  return 0;
}

int WSAIoctl(SOCKET s, DWORD code, void* in, DWORD inSize, void*, DWORD, LPDWORD returned,
             LPWSAOVERLAPPED overlapped, void* routine) {
  standin::FakeSocket* socket = standin::find(s);
  if (!socket || code != SIO_KEEPALIVE_VALS || in == NULL || inSize < sizeof(tcp_keepalive) ||
      returned == NULL || overlapped != NULL || routine != NULL) {
    standin::lastErrorCode = socket ? WSAEINVAL : WSAENOTSOCK;
    return SOCKET_ERROR;
  }
  const tcp_keepalive* values = (const tcp_keepalive*)in;
  socket->keepAliveMs = values->onoff ? (DWORD)values->keepalivetime : 0;
  socket->keepAliveIntervalMs = (DWORD)values->keepaliveinterval;
  *returned = 0;
  if (recording())
    record("WSAIoctl(SIO_KEEPALIVE_VALS " + std::to_string(socket->keepAliveMs) + " " +
           std::to_string(values->keepaliveinterval) + ")");
  standin::breakByKeepAlives(s, *socket);
  return 0;
}

int WSAGetLastError(void) { return standin::lastErrorCode; }

unsigned long inet_addr(const char* text) { return standin::parseAddress(text); }

u_short htons(u_short value) { return (u_short)((value << 8) | (value >> 8)); }
// Windows reads IPv4 here only as four decimal parts.
int InetPtonW(int family, LPCWSTR text, void* address) {
  std::string narrow = standin::narrow(text);
  if (family == AF_INET6) return standin::parseIpv6(narrow.c_str(), (u_char*)address) ? 1 : 0;
  if (family != AF_INET) {
    standin::lastErrorCode = WSAEAFNOSUPPORT;
    return -1;
  }
  unsigned parts[4];
  char end;
  if (sscanf(narrow.c_str(), "%3u.%3u.%3u.%3u%c", &parts[0], &parts[1], &parts[2], &parts[3],
             &end) != 4)
    return 0;
  for (int i = 0; i < 4; i++) {
    if (parts[i] > 255) return 0;
    ((u_char*)address)[i] = (u_char)parts[i];
  }
  return 1;
}

LPCWSTR InetNtopW(int family, const void* address, LPWSTR text, size_t units) {
  std::string narrow;
  if (family == AF_INET6)
    narrow = standin::formatIpv6((const u_char*)address);
  else if (family == AF_INET)
    narrow = standin::formatIpv4((const u_char*)address);
  if (narrow.empty() || narrow.size() >= units) {
    standin::lastErrorCode = WSAEINVAL;
    return nullptr;
  }
  standin::copyOut(narrow, text, units);
  return text;
}

int GetAddrInfoExW(LPCWSTR name, LPCWSTR service, DWORD nameSpace, void* provider,
                   const ADDRINFOEXW* hints, ADDRINFOEXW** result, struct timeval* timeout,
                   LPOVERLAPPED overlapped, LPLOOKUPSERVICE_COMPLETION_ROUTINE routine,
                   LPHANDLE handle) {
  if (recording()) record("GetAddrInfoExW(" + standin::quoted(name) + ")");
  // Only the asynchronous form the program uses; the rest of a hint must
  // be empty, as Windows requires.
  if (!name || service || nameSpace != NS_DNS || provider || timeout || !result || !overlapped ||
      overlapped->hEvent || !routine)
    return WSAEINVAL;
  if (hints && (hints->ai_addrlen || hints->ai_canonname || hints->ai_addr || hints->ai_next))
    return WSANO_RECOVERY;
  if (standin::lookupRequestFails) {
    standin::lookupRequestFails = false;
    return WSANO_RECOVERY;
  }
  *result = nullptr;
  intptr_t id = standin::nextLookup++;
  standin::lookups[id] = standin::Lookup{standin::narrow(name), result, overlapped, routine, true};
  if (handle) *handle = (HANDLE)id;
  standin::at(standin::now() + standin::lookupDelay, [id] { standin::completeLookup(id); });
  return WSA_IO_PENDING;
}

int GetAddrInfoExCancel(LPHANDLE handle) {
  if (recording()) record("GetAddrInfoExCancel");
  if (standin::cancelAsWine || !handle) return WSA_INVALID_HANDLE;
  auto found = standin::lookups.find((intptr_t)*handle);
  if (found == standin::lookups.end() || !found->second.pending) return WSA_INVALID_HANDLE;
  standin::Lookup& lookup = found->second;
  lookup.pending = false;
  lookup.overlapped->Internal = WSA_E_CANCELLED;
  lookup.routine(WSA_E_CANCELLED, 0, lookup.overlapped);
  return 0;
}

void FreeAddrInfoExW(ADDRINFOEXW* result) {
  if (!result) return;
  if (!standin::liveAnswers.erase(result)) {
    fprintf(stderr, "stand-in: FreeAddrInfoExW of a list it never gave, or gave back already\n");
    abort();
  }
  while (result) {
    ADDRINFOEXW* next = result->ai_next;
    delete (standin::AnswerEntry*)result;
    result = next;
  }
}

namespace standin {
namespace {

const char SYSTEM_FOLDER[] = "C:\\Windows\\system32";
HINSTANCE__ kernelModule{"KERNEL32.DLL"};
DWORD defaultLibraryDirectories = 0;
int titleCodeRuns = 0;
std::string titleFolder;  // empty: the program's own

BOOL WINAPI setDefaultDllDirectories(DWORD flags) {
  if (recording()) record("SetDefaultDllDirectories(" + std::to_string(flags) + ")");
  defaultLibraryDirectories = flags;
  return TRUE;
}

std::string folderOf(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string withoutSlash(std::string folder) {
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  return lower(folder);
}

// Where Windows looks for a bare name, in its order.
std::vector<std::string> searchedFolders(DWORD flags) {
  std::string program = modulePath();
  if ((flags | defaultLibraryDirectories) & LOAD_LIBRARY_SEARCH_SYSTEM32) return {SYSTEM_FOLDER};
  return {folderOf(program), SYSTEM_FOLDER, currentDirectory()};
}

}  // namespace

void setTitleLibraryFolder(const std::string& folder) { titleFolder = folder; }
int titleLibraryCodeRuns() { return titleCodeRuns; }
DWORD defaultDllDirectories() { return defaultLibraryDirectories; }
void resetLibraries() {
  defaultLibraryDirectories = 0;
  titleCodeRuns = 0;
  titleFolder.clear();
}

}  // namespace standin

HMODULE LoadLibraryExW(LPCWSTR name, HANDLE, DWORD flags) {
  if (recording())
    record("LoadLibraryExW(" + standin::quoted(name) + ", " + std::to_string(flags) + ")");
  std::string path = standin::narrow(name);
  std::vector<std::string> folders{standin::folderOf(path)};
  if (path.find('\\') == std::string::npos) folders = standin::searchedFolders(flags);
  std::string file = standin::lower(path.substr(path.find_last_of('\\') + 1));
  std::string program = standin::modulePath();
  std::string titleAt = standin::withoutSlash(
      standin::titleFolder.empty() ? standin::folderOf(program) : standin::titleFolder);
  for (const std::string& folder : folders) {
    std::string at = standin::withoutSlash(folder);
    if (file == "wininet.dll" && at == standin::lower(standin::SYSTEM_FOLDER) &&
        standin::wininetPresent) {
      standin::librariesLoaded++;
      return &standin::wininetModule;
    }
    if (file == "shcore.dll" && at == standin::lower(standin::SYSTEM_FOLDER) &&
        standin::shcorePresent) {
      standin::librariesLoaded++;
      return &standin::shcoreModule;
    }
    if (file == "kivvetle.dll" && at == titleAt) {
      HMODULE title = standin::loadTitleLibrary();
      if (!title) break;
      if ((flags & (LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE)) !=
          (LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE))
        standin::titleCodeRuns++;
      return title;
    }
  }
  SetLastError(126);
  return nullptr;
}

HMODULE GetModuleHandleW(LPCWSTR name) {
  if (name && standin::lower(standin::narrow(name)) == "kernel32.dll")
    return &standin::kernelModule;
  return nullptr;
}

UINT GetSystemDirectoryW(LPWSTR buffer, UINT size) {
  UINT length = (UINT)strlen(standin::SYSTEM_FOLDER);
  if (size <= length) return length + 1;
  standin::copyOut(standin::SYSTEM_FOLDER, buffer, size);
  return length;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  if (module == &standin::kernelModule && strcmp(name, "SetDefaultDllDirectories") == 0)
    return (FARPROC)(void*)standin::setDefaultDllDirectories;
  if (module == &standin::wininetModule && standin::wininetExportPresent &&
      strcmp(name, "InternetGetConnectedState") == 0)
    return (FARPROC)(void*)standin::internetGetConnectedState;
  if (module == &standin::shcoreModule && strcmp(name, "GetDpiForMonitor") == 0)
    return (FARPROC)(void*)standin::getDpiForMonitor;
  return nullptr;
}

BOOL FreeLibrary(HMODULE module) {
  if (recording()) record("FreeLibrary");
  if (standin::isTitleModule(module)) return TRUE;
  if ((module == &standin::wininetModule || module == &standin::shcoreModule) &&
      standin::librariesLoaded > 0) {
    standin::librariesLoaded--;
    return TRUE;
  }
  return FALSE;
}
