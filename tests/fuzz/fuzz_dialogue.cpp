// Whatever a server sends, in whatever pieces: the program must neither
// crash nor overrun a buffer, and every session must end with the program
// free to check again.
//
// Input: byte 0 picks the protocol (POP3 or IMAP), the settings (APOP, new-mail counting, fast
// scan, the balloon) and the connection: plain text; STLS, the server turning to TLS when asked;
// implicit TLS with the server's handshake done for it, the pieces then
// arriving as records; implicit TLS with the pieces taken as raw records.
// Then pieces, each a length byte and that many bytes, delivered as
// separate chunks.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "app/main.h"
#include "app/mainwindow.h"
#include "base/appstate.h"
#include "check/check.h"
#include "check/imap.h"
#include "check/mailboxes.h"
#include "check/pop3.h"
#include "check/schedule.h"
#include "net/tls.h"
#include "platform/standin/standin_control.h"
#include "settings/settings.h"

namespace {

// The main window is made once; each input then starts from the state it
// had right after its creation, as a program that was just started. The
// window, its menu and its 2048 UID slots are not made anew per input.
AppState afterStart;
// The mailbox's record as initMailbox makes it, with the window's UID
// slots, kept after the first input.
Mailbox afresh;
bool haveAfresh = false;

// The record afresh. Its header block (64 KB of its 146) is not copied:
// the program reads it no further than headerLength and wipes that part
// at a session's end; the part an input left is wiped here all the same.
// A new record per input (initMailbox zeroes the connection and its TLS
// channel once more each) took a fifth of an input's instructions.
void restoreMailbox() {
  Dialogue& d = mailboxes[0].dialogue;
  memset(d.headerBlock, 0, std::min<size_t>(d.headerLength, HEADER_BLOCK_BYTES));
  char* to = (char*)(void*)&mailboxes[0];
  const char* from = (const char*)(const void*)&afresh;
  size_t block = (size_t)(d.headerBlock - to);
  size_t after = block + HEADER_BLOCK_BYTES;
  memcpy(to, from, block);
  memcpy(to + after, from + after, sizeof mailboxes[0] - after);
}

HWND startProgram() {
  static HWND window = NULL;
  if (window && haveAfresh) {
    app = afterStart;
    restoreMailbox();
  } else if (window) {
    app = afterStart;
    // The mailbox's record afresh, as the window's creation made it; its
    // UID slots stay, emptied.
    char* currentUids[UID_SLOTS];
    char* knownUids[UID_SLOTS];
    memcpy(currentUids, mailboxes[0].currentUids, sizeof currentUids);
    memcpy(knownUids, mailboxes[0].knownUids, sizeof knownUids);
    static const Protocol* const protocols[] = {&pop3Protocol, &imapProtocol};
    initMailbox(&mailboxes[0], 0, &accounts[0], protocols);
    memcpy(mailboxes[0].currentUids, currentUids, sizeof currentUids);
    memcpy(mailboxes[0].knownUids, knownUids, sizeof knownUids);
    memcpy((void*)&afresh, (const void*)&mailboxes[0], sizeof mailboxes[0]);
    haveAfresh = true;
  }
  if (window) {
    for (DWORD i = 0; i < UID_SLOTS; i++) {
      memset(mailboxes[0].currentUids[i], 0, UID_SLOT_BYTES);
      memset(mailboxes[0].knownUids[i], 0, UID_SLOT_BYTES);
    }
    char* texts[] = {accounts[0].serverHost, accounts[0].userId, accounts[0].password,
                     accounts[0].accountName};
    char* longTexts[] = {settings.voicePath, settings.mailerPath, settings.mailerArgs};
    for (char* text : texts) memset(text, 0, SHORT_TEXT_BYTES);
    for (char* text : longTexts) memset(text, 0, LONG_TEXT_BYTES);
    setDefaultSettings();
    settings.checkAtStartup = 0;
    settings.showSplash = 0;
    startIntervalTimer(window, &mailboxes[0]);
    return window;
  }
  standin::reset();
  standin::keepRecords(false);
  standin::keepFilesInMemory();
  memset(&app, 0, sizeof app);
  setDefaultSettings();
  settings.checkAtStartup = 0;
  settings.showSplash = 0;
  app.appInstance = standin::programInstance();
  registerMainClass(app.appInstance);
  standin::writeFile("C:\\KivvetLE.cfg", "");  // a file exists: no sheet
  window = createMainWindow(app.appInstance);
  afterStart = app;
  return window;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  HWND window = startProgram();
  strcpy(accounts[0].userId, "cat");
  strcpy(accounts[0].password, "nyan");
  accounts[0].port = 110;
  accounts[0].intervalMinutes = 10;
  accounts[0].useApop = data[0] & 1;
  settings.soundNewOnly = (data[0] >> 1) & 1;
  settings.blinkNewOnly = (data[0] >> 2) & 1;
  settings.notifyBalloon = (data[0] >> 6) & 1;
  int connection = (data[0] >> 3) & 3;
  accounts[0].fastScan = (data[0] >> 5) & 1;
  accounts[0].connectionSecurity = connection == 0   ? SECURITY_NONE
                                   : connection == 1 ? SECURITY_STLS
                                                     : SECURITY_TLS;
  accounts[0].mailProtocol = data[0] >> 7 ? PROTOCOL_IMAP : PROTOCOL_POP3;
  accounts[0].showPreviews = 1;
  strcpy(accounts[0].serverHost, connection == 0 ? "127.0.0.1" : "localhost");
  standin::setHostAddress("localhost", "127.0.0.1");
  bool raw = connection == 3;

  SOCKET server = INVALID_SOCKET;
  standin::onConnect([&server, connection](SOCKET s) {
    server = s;
    standin::connectionEstablished(s, 0);
    if (connection == 2) standin::serveTls(s, standin::TlsServer());
  });
  standin::onLineSent([connection](SOCKET s, const std::string& line) {
    bool upgrade =
        line == "STLS" || (line.size() > 9 && line.substr(line.size() - 9) == " STARTTLS");
    if (connection == 1 && upgrade) standin::serveTls(s, standin::TlsServer());
  });
  PostMessageW(window, WM_COMMAND, CMD_CHECK, 0);
  standin::pump();

  size_t at = 1;
  while (at < size) {
    size_t length = data[at++];
    if (length > size - at) length = size - at;
    std::string piece((const char*)data + at, length);
    raw ? standin::serverSendsRaw(server, piece) : standin::serverSends(server, piece);
    at += length;
    standin::pump();
  }
  // Whatever state the dialogue is in, the server now hangs up, and 130 s
  // pass: the program must be idle again. Once nothing but the blink can
  // happen before the end, the rest would only redraw the icon, twice a
  // second: the clock stops a second later, the blink having run a cycle.
  // An IMAP session held open and lost is taken up again a minute later,
  // and that one waits a minute for its greeting.
  standin::serverCloses(server, 0);
  DWORD end = standin::now() + (accounts[0].mailProtocol == PROTOCOL_IMAP ? 260000 : 130000);
  while (standin::now() < end && !standin::onlyTimerUntil(window, TIMER_BLINK, end))
    standin::advance(std::min<DWORD>(1000, end - standin::now()));
  standin::advance(std::min<DWORD>(1000, end - standin::now()));
  if (app.busy != 0 || mailboxes[0].dialogue.state != Idle || standin::socketOpen(server)) abort();
  if (mailboxes[0].imap.imapState != ImapResting) abort();
  if (strlen(mailboxes[0].connection.lineBuffer) >= LINE_BUFFER_BYTES) abort();
  // The credentials outlive a session; the program's end gives them back.
  endTlsForShutdown(&mailboxes[0].connection.tls);
  if (mailboxes[0].connection.tls.phase != TlsOff || standin::liveTlsObjects() != 0) abort();
  // Released here rather than at the next start, so that an input that
  // leaves more behind than it found is a leak the fuzzer reports.
  standin::resetKeepingWindows();
  return 0;
}
