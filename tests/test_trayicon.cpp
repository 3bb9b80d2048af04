// The tray icon's tooltip, the record handed to the shell, and the retries
// when the shell refuses.
#include <string.h>

#include "app/mainwindow.h"
#include "check/mailboxes.h"
#include "tests/support/program.h"
#include "tray/trayicon.h"

namespace {

class TrayIcon : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    writeSettingsFile();
    window = startProgram();
    standin::pump();
    standin::clearTrace();
    setTrayNote("");  // the next check's time, which the last case shows
  }
  std::string tooltipFor(const char* text) {
    setTrayIcon(window, NIM_MODIFY, "APPICON", text);
    return standin::trayIcon(window, TRAY_ICON_ID)->tip;
  }
  HWND window = nullptr;
};

TEST_F(TrayIcon, TheStandardTooltipFollowsTheMode) {
  EXPECT_EQ("Kivvet LE - ", tooltipFor(""));  // empty account, trailing blank kept

  strcpy(accounts[0].accountName, "home");
  settings.tooltipMode = 1;
  EXPECT_EQ("Kivvet LE - 0/0", tooltipFor(""));
  mailboxes[0].counts.newCount = 2;
  mailboxes[0].counts.messageCount = 15;
  EXPECT_EQ("Kivvet LE - 2/15", tooltipFor(""));
  settings.tooltipMode = 2;
  EXPECT_EQ("Kivvet LE - home : 2/15", tooltipFor(""));
  for (int mode : {0, 3, -1, 255}) {
    settings.tooltipMode = mode;
    EXPECT_EQ("Kivvet LE - home", tooltipFor("")) << mode;
  }
  settings.tooltipMode = 2;
  EXPECT_EQ("Kivvet LE - オフラインです.", tooltipFor("オフラインです."));
  // A note goes below the standard tooltip, never below a caller's text.
  setTrayNote("次は9:05に確かめるにゃ");
  EXPECT_EQ("Kivvet LE - home : 2/15\n次は9:05に確かめるにゃ", tooltipFor(""));
  EXPECT_EQ("Kivvet LE - オフラインです.", tooltipFor("オフラインです."));
  // With a second mailbox, a line for each: its name, cut to ten
  // characters, and its counts.
  setTrayNote("");
  ASSERT_EQ(1, addAccount());
  strcpy(accounts[1].accountName, "とても長い名前のメールボックス");
  mailboxes[1].counts.newCount = 1;
  mailboxes[1].counts.messageCount = 3;
  EXPECT_EQ("Kivvet LE - home: 2/15\nとても長い名前のメー: 1/3", tooltipFor(""));
  EXPECT_EQ("APPICON", standin::trayIcon(window, TRAY_ICON_ID)->icon);
  // A mailbox's failure stands in for the plain icon, not for the blink.
  showMailboxFailure(1, "「仕事」サーバが見つからないにゃ.");
  EXPECT_EQ("Kivvet LE - 「仕事」サーバが見つからないにゃ.", tooltipFor(""));
  EXPECT_EQ("NOGOODICON", standin::trayIcon(window, TRAY_ICON_ID)->icon);
  setTrayIcon(window, NIM_MODIFY, "GETICON", "");
  EXPECT_EQ("GETICON", standin::trayIcon(window, TRAY_ICON_ID)->icon);
}

TEST_F(TrayIcon, CountsAreUnsigned) {
  settings.tooltipMode = 1;
  mailboxes[0].counts.newCount = 0xFFFFFFFFu;
  mailboxes[0].counts.messageCount = 0x80000000u;
  EXPECT_EQ("Kivvet LE - 4294967295/2147483648", tooltipFor(""));
}

TEST_F(TrayIcon, TheLongestFailureTextsFitTheTooltipWhole) {
  const char* texts[] = {"接続しているサーバはSTATコマンドに対応していません.",
                         "接続しているサーバはUIDLコマンドに対応していません.",
                         "接続しているサーバはQUITコマンドに対応していません."};
  for (const char* text : texts) EXPECT_EQ(std::string("Kivvet LE - ") + text, tooltipFor(text));
}

TEST_F(TrayIcon, ALongTooltipIsCutBetweenCharacters) {
  // 12 WCHARs of prefix, then 63 WCHARs of the text fill the field; a
  // character beyond a BMP one takes two, which stay together.
  for (const char* letter : {"猫", "😺"}) {
    std::string account;
    for (int i = 0; i < 60; i++) account += letter;
    strcpy(accounts[0].accountName, account.c_str());
    size_t whole = strlen(letter) == 3 ? 51 : 25;
    for (int mode : {0, 2}) {
      settings.tooltipMode = mode;
      std::string tip = tooltipFor("");
      EXPECT_EQ(12 + whole * strlen(letter), tip.size()) << letter;
      EXPECT_EQ(0, std::string("Kivvet LE - " + account).compare(0, tip.size(), tip));
    }
  }
  // The same with the largest counts after an account of ASCII only.
  strcpy(accounts[0].accountName, std::string(127, 'n').c_str());
  mailboxes[0].counts.newCount = mailboxes[0].counts.messageCount = 0xFFFFFFFFu;
  settings.tooltipMode = 2;
  EXPECT_EQ(63u, tooltipFor("").size());
}

TEST_F(TrayIcon, TheRecordIsTheFirstFormWithCallbackAndResourceIcon) {
  setTrayIcon(window, NIM_MODIFY, "GETICON", "");
  const standin::TrayRequest& request = standin::trayRequests().back();
  EXPECT_EQ(NOTIFYICONDATAW_V1_SIZE, request.cbSize);
  EXPECT_EQ(NIF_MESSAGE | NIF_ICON | NIF_TIP, request.data.flags);
  EXPECT_EQ(MSG_TRAY_NOTIFY, request.data.callbackMessage);
  EXPECT_EQ(TRAY_ICON_ID, request.data.id);
  EXPECT_EQ("GETICON", request.data.icon);
  // The small-icon size of the scaling, one the resources hold.
  EXPECT_EQ(16, request.data.iconSize);
  for (int dpi : {120, 144, 192}) {
    standin::setDpi(dpi);
    setTrayIcon(window, NIM_MODIFY, "GETICON", "");
    EXPECT_EQ(16 * dpi / 96, standin::trayRequests().back().data.iconSize);
  }
}

// The primary monitor's scaling changed since the log-on: the shell
// announces its taskbar anew, with the icon still in it, and the icon
// comes at the new size, its count too, the pictures of the old size
// gone. Windows 7 has one scaling, the log-on's.
TEST_F(TrayIcon, AChangedScalingBringsTheIconAtItsNewSize) {
  setTrayBadge(3);
  tooltipFor("");
  for (bool shcore : {true, false}) {
    standin::setShcore(shcore);
    standin::setMonitorDpi(192);
    PostMessageW(window, RegisterWindowMessageW(u"TaskbarCreated"), 0, 0);
    standin::pump();
    EXPECT_EQ(1u, standin::trayIconCount());
    EXPECT_EQ(shcore ? 32 : 16, standin::trayIcon(window, TRAY_ICON_ID)->iconSize) << shcore;
    EXPECT_EQ(1u, standin::liveMadeIconCount());
  }
  EXPECT_EQ(0, standin::loadedLibraryCount());
}

TEST_F(TrayIcon, ARefusedRequestIsTriedSixTimesWithFivePauses) {
  size_t before = standin::trayRequests().size();
  DWORD start = standin::now();
  standin::refuseTrayRequests(5);
  setTrayIcon(window, NIM_MODIFY, "GETICON", "");
  EXPECT_EQ(6u, standin::trayRequests().size() - before);
  EXPECT_EQ(5000u, standin::now() - start);
  EXPECT_EQ("GETICON", standin::trayIcon(window, TRAY_ICON_ID)->icon);

  standin::clearTrace();
  // Refused every time: give up after six, icon as it was.
  before = standin::trayRequests().size();
  start = standin::now();
  standin::refuseTrayRequests(100);
  setTrayIcon(window, NIM_MODIFY, "NOGOODICON", "だめ");
  EXPECT_EQ(6u, standin::trayRequests().size() - before);
  EXPECT_EQ(std::vector<std::string>(5, "Sleep(1000)"), standin::traceOf("Sleep"));
  EXPECT_EQ(5000u, standin::now() - start);
  EXPECT_EQ("GETICON", standin::trayIcon(window, TRAY_ICON_ID)->icon);
}

TEST_F(TrayIcon, ARefusedAddLeavesLaterChangesCheap) {
  setTrayIcon(window, NIM_DELETE, "APPICON", "");
  standin::refuseTrayRequests(6);
  setTrayIcon(window, NIM_ADD, "APPICON", "");
  EXPECT_EQ(0u, standin::trayIconCount());
  standin::clearTrace();
  DWORD start = standin::now();
  setTrayIcon(window, NIM_MODIFY, "GETICON", "");
  EXPECT_EQ(start, standin::now());
  // The shell comes back and announces a new taskbar: the icon returns.
  standin::restartTaskbar();
  standin::pump();
  EXPECT_EQ(1u, standin::trayIconCount());
}

TEST_F(TrayIcon, AnIconTheShellRefusedAtLogOnComesOnceItIsReady) {
  setTrayIcon(window, NIM_DELETE, "APPICON", "");
  // Seven refusals at the add (six tries and the change that follows),
  // two at the tries every ten seconds after it.
  standin::refuseTrayRequests(9);
  setTrayIcon(window, NIM_ADD, "APPICON", "");
  EXPECT_EQ(0u, standin::trayIconCount());
  standin::advance(25000);
  EXPECT_EQ(0u, standin::trayIconCount());
  standin::advance(10000);
  ASSERT_EQ(1u, standin::trayIconCount());
  EXPECT_EQ("APPICON", standin::trayIcon(window, TRAY_ICON_ID)->icon);
  EXPECT_FALSE(standin::timerRunning(window, TIMER_TRAY));
}

TEST_F(TrayIcon, ADuplicateAddStillShowsWhatWasAsked) {
  setTrayIcon(window, NIM_ADD, "GETICON", "");
  EXPECT_EQ(1u, standin::trayIconCount());
  EXPECT_EQ("GETICON", standin::trayIcon(window, TRAY_ICON_ID)->icon);
}

}  // namespace
