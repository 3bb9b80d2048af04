// A running program whose account speaks IMAP to a fake server, with the
// tray's helpers of every check's tests.
#ifndef KIVVET_TESTS_SUPPORT_IMAPCHECK_H
#define KIVVET_TESTS_SUPPORT_IMAPCHECK_H

#include "tests/support/imapserver.h"
#include "tests/support/mailcheck.h"

class ImapCheck : public CheckingProgram {
 protected:
  void SetUp() override {
    CheckingProgram::SetUp();
    accounts[0].mailProtocol = PROTOCOL_IMAP;
    accounts[0].port = IMAP_PORT;
    settings.soundNewOnly = 1;
    accounts[0].showPreviews = 1;
    serveImap(server);
  }
  std::string sent() { return standin::sentBy(server.socket); }
  // The commands from the from-th on, without their tags.
  std::vector<std::string> said(size_t from = 0) {
    std::vector<std::string> lines;
    for (size_t i = from; i < server.commands.size(); i++) {
      const std::string& line = server.commands[i];
      size_t space = line.find(' ');
      lines.push_back(space == std::string::npos ? line : line.substr(space + 1));
    }
    return lines;
  }
  std::string lastSaid() { return server.commands.empty() ? "" : said().back(); }
  // Those commands hold lines that begin so, in this order.
  bool saidInOrder(size_t from, const std::vector<std::string>& beginnings) {
    size_t next = 0;
    for (const std::string& line : said(from))
      if (next < beginnings.size() && line.rfind(beginnings[next], 0) == 0) next++;
    return next == beginnings.size();
  }
  // The program ends and starts again with the same settings, on the
  // files it left.
  void restart() {
    writeSettingsFile();
    releaseProgram();
    // The old window's WM_QUIT ends its loop, as in WinMain; left
    // waiting, it would hold back every timer of the new one.
    MSG message;
    while (GetMessageW(&message, NULL, 0, 0)) DispatchMessageW(&message);
    window = startProgram();
    standin::pump();
  }

  FakeImap server;
};

#endif
