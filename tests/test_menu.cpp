// The tray menu, the double click and the start of the mail program.
#include "app/commands.h"
#include "app/mainwindow.h"
#include "check/mailboxes.h"
#include "tray/mailer.h"
#include "tray/menu.h"
#include "tray/notify.h"
#include "tray/previews.h"

#include "tests/support/mailcheck.h"

namespace {

class TrayMenu : public MailCheck {
 protected:
  void rightClick() {
    PostMessageW(window, MSG_TRAY_NOTIFY, TRAY_ICON_ID, WM_RBUTTONUP);
    standin::pump();
  }
  void doubleClick() {
    PostMessageW(window, MSG_TRAY_NOTIFY, TRAY_ICON_ID, WM_LBUTTONDBLCLK);
    standin::pump();
  }
};

TEST_F(TrayMenu, OpensAtTheCursorAndRunsTheChosenCommand) {
  standin::onNextMenu(CMD_CHECK);
  standin::clearTrace();
  rightClick();
  ASSERT_EQ(1u, standin::menusShown().size());
  const auto& shown = standin::menusShown()[0];
  EXPECT_EQ(TPM_RIGHTBUTTON, shown.flags);
  EXPECT_EQ(1000, shown.x);
  EXPECT_EQ(750, shown.y);
  ASSERT_EQ(6u, shown.items.size());
  EXPECT_EQ("メールチェックするにゃ(&C)", shown.items[0].label);
  EXPECT_EQ("お知らせを止めるにゃ", shown.items[1].label);
  EXPECT_TRUE(shown.items[1].grayed);  // nothing to stop
  EXPECT_EQ("おしまいにゃ(&X)", shown.items[5].label);
  auto calls = standin::trace();
  EXPECT_EQ("SetForegroundWindow", calls[0]);
  EXPECT_EQ("TrackPopupMenu", calls[1]);
  EXPECT_EQ(1, server.connections);
}

TEST_F(TrayMenu, GrayedItemsCannotBeChosenWhileACheckRuns) {
  server.greets = false;
  check();
  standin::onNextMenu(CMD_EXIT);
  rightClick();
  EXPECT_TRUE(standin::isWindowAlive(window));
  EXPECT_TRUE(standin::menusShown()[0].items[5].grayed);
  EXPECT_FALSE(standin::menusShown()[0].items[3].grayed);
}

// New mail with previews: the balloon and the tooltip tell who wrote, the
// menu lists it; choosing a message starts the mail program, the stop
// item only silences the cat, and the previews go with the announcement.
TEST_F(TrayMenu, NewMailIsListedAndTheAnnouncementCanBeStopped) {
  settings.blinkNewOnly = 1;
  settings.notifyBalloon = 1;
  accounts[0].showPreviews = 1;
  strcpy(accounts[0].accountName, "home");
  standin::makeDirectory("C:\\Mail");
  standin::writeFile("C:\\Mail\\mailer.exe", "MZ");
  strcpy(settings.mailerPath, "C:\\Mail\\mailer.exe");
  server.uids = {"a", "b"};
  server.headers = {"From: A&B <a@x>\r\nSubject: one\r\n", "From: Neko <n@x>\r\nSubject: two\r\n"};
  for (UINT choice : {CMD_PREVIEW_FIRST + 1, CMD_STOP}) {
    mailboxes[0].known.knownCount = 0;
    check();
    standin::advance(3000);
    EXPECT_TRUE(standin::timerRunning(window, TIMER_BLINK));
    EXPECT_EQ("Neko: two", tip());
    standin::onNextMenu(choice);
    rightClick();
    const auto& items = standin::menusShown().back().items;
    ASSERT_EQ(8u, items.size());
    EXPECT_EQ("新着メール", items[0].label);
    EXPECT_FALSE(items[2 + 1].grayed);  // the stop item
    auto entries = standin::menuItems((HMENU)items[0].id);
    ASSERT_EQ(choice == CMD_STOP ? 1u : 2u, entries.size());
    EXPECT_EQ("Neko: two", entries[0].label);
    if (choice != CMD_STOP) {
      EXPECT_EQ("A&&B: one", entries[1].label);
    }
    standin::pump();
    EXPECT_FALSE(standin::timerRunning(window, TIMER_BLINK));
    EXPECT_EQ("APPICON", icon());
    EXPECT_EQ(0u, previewCount(shownPreviews()));
    EXPECT_EQ(1u, standin::processesStarted().size());  // by the message only
    server.headers[0] = "";                             // a refused TOP: one preview less
  }
  std::vector<std::string> balloons;
  for (const auto& request : standin::trayRequests())
    if (request.data.flags & NIF_INFO) balloons.push_back(request.data.info);
  EXPECT_EQ("「home」に新しいメールが2通届いたにゃ.\nNeko: two\nA&B: one", balloons[0]);
  rightClick();
  EXPECT_EQ(6u, standin::menusShown().back().items.size());
  // A sender or subject missing leaves no bare colon; an "&" in the
  // tooltip marks no key; the balloon's 256 units hold whole lines only.
  server.uids = {"a", "b", "c"};
  std::string cats;  // 80 characters of two UTF-16 units each
  for (int i = 0; i < 80; i++) cats += "\xF0\x9F\x90\xB1";
  server.headers = {"From: C <c@x>\r\nSubject: " + std::string(80, 'x') + "\r\n",
                    "Subject: " + cats + "\r\n", "From: A&B <a@x>\r\n"};
  mailboxes[0].known.knownCount = 0;
  check();
  standin::advance(3000);
  EXPECT_EQ("A&&B", tip());
  for (const auto& request : standin::trayRequests())
    if (request.data.flags & NIF_INFO) balloons.push_back(request.data.info);
  EXPECT_EQ("「home」に新しいメールが3通届いたにゃ.\nA&B\n" + cats, balloons.back());
}

TEST_F(TrayMenu, DoesNotOpenInsideItself) {
  standin::onNextMenu(0, [this] {
    PostMessageW(window, MSG_TRAY_NOTIFY, TRAY_ICON_ID, WM_RBUTTONUP);
    standin::pump();
  });
  rightClick();
  EXPECT_EQ(1u, standin::menusShown().size());
  rightClick();
  EXPECT_EQ(2u, standin::menusShown().size());
}

TEST_F(TrayMenu, ExitEndsTheProgramAndOtherMouseMessagesDoNothing) {
  for (UINT message :
       {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONDBLCLK}) {
    PostMessageW(window, MSG_TRAY_NOTIFY, TRAY_ICON_ID, message);
  }
  standin::clearTrace();
  standin::pump();
  EXPECT_TRUE(standin::trace().empty());
  standin::onNextMenu(CMD_EXIT);
  rightClick();
  EXPECT_FALSE(standin::isWindowAlive(window));
  EXPECT_EQ(0u, standin::trayIconCount());
}

TEST_F(TrayMenu, HelpAndHomePageOpenThePageBesideTheProgramIfThereIsOne) {
  PostMessageW(window, WM_COMMAND, CMD_HELP, 0);
  standin::pump();
  EXPECT_TRUE(standin::shellRequests().empty());

  standin::makeDirectory("C:\\Program Files\\KivvetLE");
  standin::writeFile("C:\\Program Files\\KivvetLE\\KivvetLE.html", "<html></html>");
  PostMessageW(window, WM_COMMAND, CMD_HELP, 0);
  PostMessageW(window, WM_COMMAND, CMD_HOMEPAGE, 0);
  standin::pump();
  ASSERT_EQ(2u, standin::shellRequests().size());
  EXPECT_EQ("open", standin::shellRequests()[0].verb);
  EXPECT_EQ("C:\\Program Files\\KivvetLE\\KivvetLE.html", standin::shellRequests()[0].file);
  EXPECT_EQ(SW_SHOW, standin::shellRequests()[1].show);
}

class DoubleClick : public TrayMenu {
 protected:
  void SetUp() override {
    TrayMenu::SetUp();
    standin::makeDirectory("C:\\Mail");
    standin::writeFile("C:\\Mail\\mailer.exe", "MZ");
  }
  const standin::ProcessStart& started() { return standin::processesStarted().back(); }
};

// A click on the balloon (a notification on Windows 10 and 11) asks for
// the mail it told of.
TEST_F(DoubleClick, AClickOnTheBalloonDoesWhatTheDoubleClickDoes) {
  strcpy(settings.mailerPath, "C:\\Mail\\mailer.exe");
  settings.notifyBalloon = 1;
  server.uids = {"a"};
  check();
  ASSERT_TRUE(announcing());
  PostMessageW(window, MSG_TRAY_NOTIFY, TRAY_ICON_ID, NIN_BALLOONUSERCLICK);
  standin::pump();
  EXPECT_FALSE(announcing());
  EXPECT_EQ("APPICON", icon());
  EXPECT_EQ(1u, standin::processesStarted().size());
}

TEST_F(DoubleClick, StartsTheMailProgramInItsOwnDirectory) {
  strcpy(settings.mailerPath, "C:\\Mail\\mailer.exe");
  strcpy(settings.mailerArgs, "/check");
  doubleClick();
  ASSERT_EQ(1u, standin::processesStarted().size());
  EXPECT_EQ("C:\\Mail\\mailer.exe", started().application);
  EXPECT_EQ(" /check", started().commandLine);
  EXPECT_EQ("C:\\Mail", started().directory);
  EXPECT_EQ(sizeof(STARTUPINFOW), started().startup.cb);
  EXPECT_EQ(STARTF_USESHOWWINDOW, started().startup.dwFlags);
  EXPECT_EQ(SW_SHOWNORMAL, started().startup.wShowWindow);
  EXPECT_EQ("C:\\", standin::currentDirectory());
  EXPECT_EQ(0u, standin::openProcessHandleCount());
  // A second double click starts a second copy.
  doubleClick();
  EXPECT_EQ(2u, standin::processesStarted().size());
}

TEST_F(DoubleClick, TheCommandLineAlwaysHoldsTheBlankAndAllArguments) {
  strcpy(settings.mailerPath, "C:\\Mail\\mailer.exe");
  doubleClick();
  EXPECT_EQ(" ", started().commandLine);
  std::string longest(255, 'a');
  strcpy(settings.mailerArgs, longest.c_str());
  doubleClick();
  EXPECT_EQ(" " + longest, started().commandLine);
}

TEST_F(DoubleClick, ADoubleByteFileNameDoesNotCutThePath) {
  for (const char* name : {"表計算.exe", "ソフト.exe"}) {
    std::string path = std::string("C:\\Mail\\") + name;
    standin::writeFile(path, "MZ");
    strcpy(settings.mailerPath, path.c_str());
    doubleClick();
    EXPECT_EQ("C:\\Mail", started().directory) << name;
  }
  // Neither in a directory name.
  standin::makeDirectory("C:\\表");
  standin::writeFile("C:\\表\\m.exe", "MZ");
  strcpy(settings.mailerPath, "C:\\表\\m.exe");
  doubleClick();
  EXPECT_EQ("C:\\表", started().directory);
}

TEST_F(DoubleClick, PathsWithoutADirectoryStartWhereTheProgramIs) {
  standin::makeDirectory("C:\\Work");
  SetCurrentDirectoryW(u"C:\\Work");
  standin::writeFile("C:\\Work\\mailer.exe", "MZ");
  strcpy(settings.mailerPath, "mailer.exe");
  doubleClick();
  ASSERT_EQ(1u, standin::processesStarted().size());
  EXPECT_EQ("C:\\Work", started().directory);

  // A program in the root starts in the root, not in "C:".
  standin::writeFile("C:\\root.exe", "MZ");
  strcpy(settings.mailerPath, "C:\\root.exe");
  doubleClick();
  EXPECT_EQ("C:\\", started().directory);
  EXPECT_EQ("C:\\Work", standin::currentDirectory());
}

TEST_F(DoubleClick, ALongCurrentDirectoryIsNeverLost) {
  // 257 characters: more than a 256-byte buffer can take back.
  std::string deep = "C:";
  while (deep.size() < 240) deep += "\\abcdefghijklmnopqrstuvwxyz";
  deep += "\\abcdefghijk";
  ASSERT_EQ(257u, deep.size());
  standin::makeDirectory(deep);
  ASSERT_TRUE(SetCurrentDirectoryW(wide(deep.c_str()).text));
  strcpy(settings.mailerPath, "C:\\Mail\\mailer.exe");
  doubleClick();
  EXPECT_EQ("C:\\Mail", started().directory);
  EXPECT_EQ(deep, standin::currentDirectory());
}

TEST_F(DoubleClick, AMissingProgramOrNoneAtAllOnlyResetsTheIcon) {
  setTrayIcon(window, NIM_MODIFY, "GETICON", "");
  SetTimer(window, TIMER_BLINK, 500, nullptr);
  SetTimer(window, TIMER_VOICE, 200, nullptr);
  doubleClick();
  EXPECT_EQ("APPICON", icon());
  EXPECT_FALSE(standin::timerRunning(window, TIMER_BLINK));
  EXPECT_FALSE(standin::timerRunning(window, TIMER_VOICE));
  EXPECT_TRUE(standin::processesStarted().empty());

  strcpy(settings.mailerPath, "C:\\Mail\\gone.exe");
  doubleClick();
  EXPECT_TRUE(standin::processesStarted().empty());
  EXPECT_EQ("C:\\", standin::currentDirectory());
  EXPECT_EQ(0u, standin::messageBoxes().size());
}

TEST_F(DoubleClick, DuringACheckShowsTheStandardTooltipAndTheCheckGoesOn) {
  server.greets = false;
  server.silentOn = {"USER"};
  check();
  doubleClick();
  EXPECT_EQ("APPICON", icon());
  EXPECT_EQ("", tip());
  EXPECT_EQ(1, app.busy);
  serverSay(server, "+OK hi\r\n");
  standin::advance(PROGRESS_DELAY_MS);
  EXPECT_EQ("ユーザーIDを認証中...", tip());
}

}  // namespace
