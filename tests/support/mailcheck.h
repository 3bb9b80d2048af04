// A running program with an account, a fake server and helpers to see
// what the tray shows.
#ifndef KIVVET_TESTS_SUPPORT_MAILCHECK_H
#define KIVVET_TESTS_SUPPORT_MAILCHECK_H

#include <string.h>

#include "app/mainwindow.h"
#include "check/mailboxes.h"
#include "check/schedule.h"
#include "tests/support/pop3server.h"
#include "tests/support/program.h"
#include "tray/trayicon.h"

// The program and the tray, whichever protocol the server speaks.
class CheckingProgram : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    settings.checkAtStartup = 0;
    writeSettingsFile();
    window = startProgram();
    strcpy(accounts[0].serverHost, "127.0.0.1");
    strcpy(accounts[0].userId, "cat");
    strcpy(accounts[0].password, "nyan");
    standin::pump();
  }

  // Chooses "check mail" and lets everything that follows at once happen.
  void check() {
    PostMessageW(window, WM_COMMAND, CMD_CHECK, 0);
    standin::advance(100);
  }

  std::string icon() { return standin::trayIcon(window, TRAY_ICON_ID)->icon; }
  // The tooltip after the title, without the line of what the program
  // waits for (noteOf gives that).
  std::string tip() {
    std::string full = standin::trayIcon(window, TRAY_ICON_ID)->tip;
    return full.substr(strlen("Kivvet LE - "), full.find('\n') - strlen("Kivvet LE - "));
  }
  std::string note() {
    std::string full = standin::trayIcon(window, TRAY_ICON_ID)->tip;
    return full.find('\n') == std::string::npos ? "" : full.substr(full.find('\n') + 1);
  }
  // Every tooltip text the program asked for, in order, from `from` on.
  std::vector<std::string> tipsSince(size_t from) {
    std::vector<std::string> tips;
    const auto& requests = standin::trayRequests();
    for (size_t i = from; i < requests.size(); i++)
      if (requests[i].accepted)
        tips.push_back(requests[i].data.icon + " " +
                       requests[i].data.tip.substr(0, requests[i].data.tip.find('\n')));
    return tips;
  }
  bool itemGrayed(UINT id) {
    for (const auto& item : standin::menuItems(app.trayMenu))
      if (item.id == id) return item.grayed;
    return false;
  }

  HWND window = nullptr;
};

class MailCheck : public CheckingProgram {
 protected:
  void SetUp() override {
    CheckingProgram::SetUp();
    servePop3(server);
  }
  std::string sent() { return standin::sentBy(server.socket); }

  FakePop3 server;
};

#endif
