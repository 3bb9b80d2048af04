// The settings sheet as a user fills it in: what each page shows, what
// OK and Cancel keep, the enabling on the sound page, the file choosers,
// dropped files and F1.
#include <sys/stat.h>

#include "resources/ids.h"
#include "sheet/sheet.h"
#include "tests/support/mailcheck.h"

namespace {

class SettingsSheet : public MailCheck {
 protected:
  // Opens the sheet from the menu; `user` acts while it is open.
  void openWith(std::function<void()> user) {
    standin::onNextPropertySheet(std::move(user));
    PostMessageW(window, WM_COMMAND, CMD_SETTINGS, 0);
    standin::pump();
  }
  const std::vector<int> voiceOptions{IDC_USE_VOICE, IDC_USE_BEEP};
  const std::vector<int> tooltipOptions{IDC_TOOLTIP_ACCOUNT, IDC_TOOLTIP_COUNTS, IDC_TOOLTIP_BOTH};
};

TEST_F(SettingsSheet, IsDescribedAsFourPagesWithOkAndCancelOnly) {
  openWith(nullptr);
  ASSERT_EQ(1u, standin::propertySheets().size());
  const auto& sheet = standin::propertySheets()[0];
  EXPECT_EQ(PROPSHEETHEADERW_V2_SIZE, sheet.size);
  EXPECT_EQ(PSH_USEICONID | PSH_NOAPPLYNOW | PSH_USECALLBACK, sheet.flags);
  EXPECT_EQ(window, sheet.parent);
  EXPECT_EQ("設定するにゃ", sheet.caption);
  EXPECT_EQ("APPICON", sheet.icon);
  EXPECT_EQ((std::vector<std::string>{"SETTINGDLG1", "SETTINGDLG2", "SETTINGDLG3", "SETTINGDLG4"}),
            sheet.templates);
  EXPECT_EQ(PROPSHEETPAGEW_V2_SIZE, sheet.pageSizes[0]);
  EXPECT_EQ(1, sheet.callbackResult);
  EXPECT_EQ(0, sheetCallback(NULL, 2, 0));
}

// At 200 % on a 1920 x 1080 screen the sheet, put beside the hidden
// window, would reach below the taskbar: it is moved up into the work
// area. One that fits stays where Windows put it.
TEST_F(SettingsSheet, StaysAboveTheTaskbarWhenScaledUp) {
  standin::setScreenSize(1920, 1080);
  standin::setSheetPlace(760, 440, 672, 860);
  openWith(nullptr);
  standin::setSheetPlace(309, 262, 336, 430);
  openWith(nullptr);
  ASSERT_EQ(2u, standin::propertySheets().size());
  const RECT& big = standin::propertySheets()[0].placed;
  EXPECT_EQ(760, big.left);
  EXPECT_EQ(1040, big.bottom);
  EXPECT_EQ(860, big.bottom - big.top);
  const RECT& usual = standin::propertySheets()[1].placed;
  EXPECT_EQ(309, usual.left);
  EXPECT_EQ(262, usual.top);
}

TEST_F(SettingsSheet, PageOneShowsAndStoresTheAccount) {
  strcpy(accounts[0].accountName, "自宅");
  accounts[0].port = 995;
  accounts[0].intervalMinutes = 15;
  accounts[0].useApop = 1;
  accounts[0].fastScan = 1;
  openWith([] {
    HWND page = standin::showPage(0);
    EXPECT_EQ("自宅", standin::controlText(page, IDC_ACCOUNT_NAME));
    EXPECT_EQ("127.0.0.1", standin::controlText(page, IDC_SERVER_HOST));
    EXPECT_EQ("995", standin::controlText(page, IDC_PORT));
    EXPECT_EQ("15", standin::controlText(page, IDC_INTERVAL));
    EXPECT_FALSE(standin::controlChecked(page, IDC_CHECK_AT_STARTUP));
    EXPECT_TRUE(standin::controlChecked(page, IDC_USE_APOP));
    EXPECT_TRUE(standin::controlChecked(page, IDC_FAST_SCAN));
    standin::click(page, IDC_FAST_SCAN);
    standin::typeInto(page, IDC_SERVER_HOST, "pop.example.jp");
    standin::typeInto(page, IDC_PORT, "");
    standin::typeInto(page, IDC_INTERVAL, "0");
    standin::click(page, IDC_CHECK_AT_STARTUP);
    // The file holds 127 bytes of Shift-JIS: a longer text, or one with a
    // character Shift-JIS has not, is refused and nothing is taken.
    for (std::string refused : {std::string(128, 'u'), std::string("Zoë 😺")}) {
      standin::typeInto(page, IDC_USER_ID, refused);
      standin::pressOk();
      EXPECT_TRUE(standin::sheetOpen());
      EXPECT_EQ(
          "「" + refused + "」は設定ファイルにしまえないにゃ.\n使えない文字を外すか、短くしてにゃ.",
          standin::messageBoxes().back().text);
      EXPECT_STREQ("127.0.0.1", accounts[0].serverHost);
    }
    standin::typeInto(page, IDC_USER_ID, std::string(127, 'u'));
    // A port is at most 65535: a larger one is refused the same way.
    for (const char* port : {"65536", "99999999999"}) {
      standin::typeInto(page, IDC_PORT, port);
      standin::pressOk();
      EXPECT_TRUE(standin::sheetOpen()) << port;
      EXPECT_EQ("ポート番号は1から65535までにしてにゃ.", standin::messageBoxes().back().text);
      EXPECT_STREQ("127.0.0.1", accounts[0].serverHost);
    }
    standin::typeInto(page, IDC_PORT, "");
    standin::pressOk();
  });
  EXPECT_STREQ("pop.example.jp", accounts[0].serverHost);
  EXPECT_EQ(127u, strlen(accounts[0].userId));
  EXPECT_EQ(0, accounts[0].port);             // an empty port is 0
  EXPECT_EQ(1, accounts[0].intervalMinutes);  // 0 minutes would never check
  EXPECT_EQ(1, settings.checkAtStartup);
  EXPECT_EQ(0, accounts[0].fastScan);
  // Written, and the program goes on with a full period.
  std::string file = standin::readFile("C:\\KivvetLE.cfg");
  EXPECT_EQ((char)~'p', file[0]);
  EXPECT_EQ(60000u, standin::timerPeriod(window, TIMER_INTERVAL));
  EXPECT_EQ(standin::now() + 60000, standin::timerDue(window, TIMER_INTERVAL));
}

// The list of mailboxes: one added, refused by its name, moved up and
// another removed; Cancel keeps them all, OK takes them with their files.
TEST_F(SettingsSheet, PageOneListsTheMailboxesAndTheirFilesFollow) {
  strcpy(accounts[0].accountName, "自宅");
  settings.soundNewOnly = 1;  // the UIDs are kept
  server.uids = {"a", "b"};
  check();
  const std::string homeUids = standin::readFile("C:\\KivvetLE.log");
  auto addWork = [](HWND page) {
    standin::click(page, IDC_MAILBOX_ADD);
    standin::typeInto(page, IDC_ACCOUNT_NAME, "仕事");
    standin::typeInto(page, IDC_SERVER_HOST, "imap.example.jp");
    standin::typeInto(page, IDC_PORT, "70000");
  };
  openWith([&] {
    HWND page = standin::showPage(0);
    EXPECT_EQ(std::vector<std::string>{"自宅"}, standin::controlItems(page, IDC_MAILBOX_LIST));
    addWork(page);
    standin::pressCancel();
  });
  EXPECT_EQ(1, accountCount);
  openWith([&] {
    HWND page = standin::showPage(0);
    addWork(page);
    standin::click(page, IDC_MAILBOX_UP);
    EXPECT_EQ("「仕事」のポート番号は1から65535までにしてにゃ.",
              standin::messageBoxes().back().text);
    standin::typeInto(page, IDC_PORT, "993");
    standin::click(page, IDC_MAILBOX_UP);
    EXPECT_EQ((std::vector<std::string>{"仕事", "自宅"}),
              standin::controlItems(page, IDC_MAILBOX_LIST));
    standin::chooseItem(page, IDC_MAILBOX_LIST, 1);
    EXPECT_EQ("127.0.0.1", standin::controlText(page, IDC_SERVER_HOST));
    standin::pressOk();
  });
  ASSERT_EQ(2, accountCount);
  EXPECT_STREQ("imap.example.jp", accounts[0].serverHost);
  EXPECT_EQ(993, accounts[0].port);
  EXPECT_STREQ("自宅", accounts[1].accountName);
  // The first mailbox's UIDs went with it to the second place.
  EXPECT_EQ(homeUids, standin::readFile("C:\\KivvetLE-2.log"));
  EXPECT_STREQ("a", mailboxes[1].knownUids[0]);
  EXPECT_STREQ("", mailboxes[0].knownUids[0]);
  // 仕事 removed, its file with it; a last one removed leaves the one
  // before chosen; a new one takes no file of another's.
  openWith([&] {
    HWND page = standin::showPage(0);
    standin::click(page, IDC_MAILBOX_REMOVE);  // the chosen one: 仕事
    addWork(page);
    standin::click(page, IDC_MAILBOX_REMOVE);
    EXPECT_EQ("自宅", standin::controlText(page, IDC_ACCOUNT_NAME));
    standin::typeInto(page, IDC_ACCOUNT_NAME, "家");
    standin::click(page, IDC_MAILBOX_ADD);
    standin::typeInto(page, IDC_SERVER_HOST, "pop.example.jp");
    standin::pressOk();
  });
  ASSERT_EQ(2, accountCount);
  EXPECT_STREQ("家", accounts[0].accountName);
  EXPECT_EQ(homeUids, standin::readFile("C:\\KivvetLE.log"));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(u"KivvetLE-2.log"));
}

// The arrows reach every port, and a number outside their range (an
// interval the arrows do not reach) shows and survives an OK.
TEST_F(SettingsSheet, PageOneKeepsAPortAbove32767AndALongInterval) {
  accounts[0].port = 40000;
  accounts[0].intervalMinutes = 200;
  openWith([] {
    HWND page = standin::showPage(0);
    EXPECT_EQ("40000", standin::controlText(page, IDC_PORT));
    BOOL error = TRUE;
    EXPECT_EQ(40000, SendDlgItemMessageW(page, IDC_PORT_SPIN, UDM_GETPOS32, 0, (LPARAM)&error));
    EXPECT_FALSE(error);
    standin::pressOk();
  });
  EXPECT_EQ(40000, accounts[0].port);
  EXPECT_EQ(200, accounts[0].intervalMinutes);
}

TEST_F(SettingsSheet, PageOneOffersTheConnectionSecurityAndSuggestsItsPort) {
  accounts[0].connectionSecurity = SECURITY_STLS;
  openWith([] {
    HWND page = standin::showPage(0);
    EXPECT_EQ((std::vector<std::string>{"暗号化しないにゃ", "STLSで暗号化するにゃ",
                                        "SSL/TLSで暗号化するにゃ"}),
              standin::controlItems(page, IDC_CONNECTION_SECURITY));
    EXPECT_EQ(SECURITY_STLS, standin::controlSelection(page, IDC_CONNECTION_SECURITY));
    // Implicit TLS with the plain port moves to 995, and back again.
    standin::chooseItem(page, IDC_CONNECTION_SECURITY, SECURITY_TLS);
    EXPECT_EQ("995", standin::controlText(page, IDC_PORT));
    standin::chooseItem(page, IDC_CONNECTION_SECURITY, SECURITY_NONE);
    EXPECT_EQ("110", standin::controlText(page, IDC_PORT));
    // A port of the user's own choosing stays.
    standin::typeInto(page, IDC_PORT, "1110");
    standin::chooseItem(page, IDC_CONNECTION_SECURITY, SECURITY_TLS);
    EXPECT_EQ("1110", standin::controlText(page, IDC_PORT));
    standin::pressOk();
  });
  EXPECT_EQ(SECURITY_TLS, accounts[0].connectionSecurity);
  EXPECT_EQ(1110, accounts[0].port);
  EXPECT_EQ((char)~SECURITY_TLS, standin::readFile("C:\\KivvetLE.cfg").at(1291));

  accounts[0].mailProtocol = 2;  // a later version's: shown as POP3
  openWith([] {
    HWND page = standin::showPage(0);
    EXPECT_EQ(SECURITY_TLS, standin::controlSelection(page, IDC_CONNECTION_SECURITY));
    EXPECT_EQ("STLSで暗号化するにゃ", standin::controlItems(page, IDC_CONNECTION_SECURITY).at(1));
    standin::chooseItem(page, IDC_CONNECTION_SECURITY, SECURITY_NONE);
    standin::pressCancel();
  });
  EXPECT_EQ(SECURITY_TLS, accounts[0].connectionSecurity);
}

// IMAP: the page names the chosen protocol, a usual port follows the
// protocol and the security, and the choice goes to the file.
TEST_F(SettingsSheet, PageOneOffersImapAndSpeaksOfTheChosenProtocol) {
  accounts[0].mailProtocol = PROTOCOL_IMAP;
  accounts[0].connectionSecurity = SECURITY_STLS;
  accounts[0].port = 143;
  EXPECT_EQ(NULL, settingsProblem());
  auto says = [](HWND page, std::string server, std::string port, std::string startTls) {
    EXPECT_EQ(server + "サーバのアドレスを入力してにゃ（必須）",
              standin::controlText(page, IDC_SERVER_LABEL));
    EXPECT_EQ(port,
              standin::controlText(page, IDC_PORT_LABEL) + standin::controlText(page, IDC_PORT));
    EXPECT_EQ(startTls, standin::controlItems(page, IDC_CONNECTION_SECURITY).at(1));
    EXPECT_EQ(server == "POP" ? 2 : 0, standin::controlEnabled(page, IDC_USE_APOP) +
                                           standin::controlEnabled(page, IDC_FAST_SCAN));
  };
  openWith([&] {
    HWND page = standin::showPage(0);
    says(page, "IMAP", "IMAPポート番号を入力してにゃ（通常は143番）143",
         "STARTTLSで暗号化するにゃ");
    standin::chooseItem(page, IDC_CONNECTION_SECURITY, SECURITY_TLS);
    EXPECT_EQ("993", standin::controlText(page, IDC_PORT));
    standin::chooseItem(page, IDC_MAIL_PROTOCOL, PROTOCOL_POP3);
    says(page, "POP", "POP3ポート番号を入力してにゃ（通常は110番）995", "STLSで暗号化するにゃ");
    standin::chooseItem(page, IDC_CONNECTION_SECURITY, SECURITY_STLS);
    standin::chooseItem(page, IDC_MAIL_PROTOCOL, PROTOCOL_IMAP);
    EXPECT_EQ("143", standin::controlText(page, IDC_PORT));
    standin::chooseItem(page, IDC_MAIL_PROTOCOL, PROTOCOL_POP3);
    standin::pressOk();
  });
  EXPECT_EQ((char)~PROTOCOL_POP3, standin::readFile("C:\\KivvetLE.cfg").at(1810));
  accounts[0].mailProtocol = PROTOCOL_IMAP;
  ASSERT_EQ(1, loadSettings());
  EXPECT_EQ(PROTOCOL_POP3, accounts[0].mailProtocol);
}

TEST_F(SettingsSheet, OkStoresOnlyThePagesThatWereShown) {
  settings.soundNotify = 0;
  strcpy(settings.mailerPath, "C:\\Mail\\m.exe");
  settings.tooltipMode = 2;
  openWith([] {
    standin::showPage(0);
    standin::pressOk();
  });
  EXPECT_EQ(0, settings.soundNotify);
  EXPECT_STREQ("C:\\Mail\\m.exe", settings.mailerPath);
  EXPECT_EQ(2, settings.tooltipMode);
}

TEST_F(SettingsSheet, CancelKeepsEverythingButStillWritesTheFile) {
  standin::writeFile("C:\\KivvetLE.cfg", "");
  openWith([this] {
    HWND page = standin::showPage(0);
    standin::typeInto(page, IDC_SERVER_HOST, "changed");
    HWND display = standin::showPage(3);
    standin::clickOption(display, IDC_TOOLTIP_COUNTS, tooltipOptions);
    standin::pressCancel();
  });
  EXPECT_STREQ("127.0.0.1", accounts[0].serverHost);
  EXPECT_EQ(0, settings.tooltipMode);
  EXPECT_EQ(1818u, standin::readFile("C:\\KivvetLE.cfg").size());
}

TEST_F(SettingsSheet, ASaveThatFailsIsToldAndTheSettingsStillApply) {
  standin::writeFile("C:\\KivvetLE.cfg", std::string(1293, (char)0xFF));
  chmod(standin::hostPath("C:\\KivvetLE.cfg").c_str(), 0444);
  size_t boxes = standin::messageBoxes().size();
  openWith([] {
    HWND page = standin::showPage(0);
    standin::typeInto(page, IDC_SERVER_HOST, "pop.example.jp");
    standin::pressOk();
  });
  ASSERT_EQ(boxes + 1, standin::messageBoxes().size());
  EXPECT_EQ(
      "設定を保存できなかったにゃ.\nKivvetLE.cfgが読み取り専用か、ほかのプログラムが使っているかもしれないにゃ.",
      standin::messageBoxes().back().text);
  EXPECT_EQ(std::string(1293, (char)0xFF), standin::readFile("C:\\KivvetLE.cfg"));
  EXPECT_STREQ("pop.example.jp", accounts[0].serverHost);
  EXPECT_EQ(0, app.busy);
  EXPECT_EQ(600000u, standin::timerPeriod(window, TIMER_INTERVAL));
}

// Protected on another account: the owner's bytes survive any OK, and no
// check logs in without a password, until one is typed.
TEST_F(SettingsSheet, APasswordThatCannotBeReadIsKeptUntilAnotherIsTyped) {
  accounts[0].protectPassword = 1;
  ASSERT_EQ(1, saveSettings());
  std::string file = standin::readFile("C:\\KivvetLE.cfg");
  standin::setWindowsAccount("dog");
  ASSERT_EQ(1, loadSettings());
  auto okWith = [this](const char* password) {
    openWith([=] {
      HWND page = standin::showPage(0);
      standin::typeInto(page, IDC_PASSWORD, password);
      standin::pressOk();
    });
  };
  okWith("");
  EXPECT_EQ(file, standin::readFile("C:\\KivvetLE.cfg"));
  check();
  EXPECT_EQ(0, server.connections);
  okWith("wan");
  EXPECT_EQ(0, accounts[0].passwordLost);
  server.password = "wan";
  check();
  EXPECT_EQ("USER cat\r\nPASS wan\r\nSTAT\r\nQUIT\r\n", sent());
}

// An ANSI version wrote the password and a path on a Western system: the
// boxes show them, an OK that leaves them keeps their bytes, and the
// password logs in as those bytes.
TEST_F(SettingsSheet, TextsOfAnotherCodePageSurviveAnOkAndLogIn) {
  standin::setAnsiCodePage(1252);
  ASSERT_EQ(1, saveSettings());
  std::string file = standin::readFile("C:\\KivvetLE.cfg");
  for (size_t i = 0; i < 5; i++) file[256 + i] = (char)~"caf\xE9"[i];
  for (size_t i = 0; i < 15; i++) file[648 + i] = (char)~"C:\\Caf\xE9 Mail\\m"[i];
  standin::writeFile("C:\\KivvetLE.cfg", file);
  ASSERT_EQ(1, loadSettings());
  openWith([] {
    EXPECT_EQ("café", standin::controlText(standin::showPage(0), IDC_PASSWORD));
    EXPECT_EQ("C:\\Café Mail\\m", standin::controlText(standin::showPage(2), IDC_MAILER_PATH));
    standin::pressOk();
    EXPECT_FALSE(standin::sheetOpen());
  });
  EXPECT_EQ(file, standin::readFile("C:\\KivvetLE.cfg"));
  server.password = "caf\xE9";
  check();
  EXPECT_EQ("USER cat\r\nPASS caf\xE9\r\nSTAT\r\nQUIT\r\n", sent());
}

TEST_F(SettingsSheet, AWindowClosedFromOutsideUnderTheSheetEndsCleanly) {
  std::string file = standin::readFile("C:\\KivvetLE.cfg");
  openWith([this] {
    HWND page = standin::showPage(0);
    standin::typeInto(page, IDC_SERVER_HOST, "pop.example.jp");
    SendMessageW(window, WM_CLOSE, 0, 0);  // log-off, taskkill
  });
  EXPECT_FALSE(standin::isWindowAlive(window));
  EXPECT_EQ(1u, standin::propertySheets().size());
  EXPECT_EQ(file, standin::readFile("C:\\KivvetLE.cfg"));
  EXPECT_EQ(0u, standin::trayIconCount());
}

TEST_F(SettingsSheet, TheIntervalKeepsToWhatTheFileCanHold) {
  size_t boxes = standin::messageBoxes().size();
  for (const char* typed : {"200", "255"}) {
    openWith([typed] {
      standin::typeInto(standin::showPage(0), IDC_INTERVAL, typed);
      standin::pressOk();
    });
    EXPECT_EQ(atoi(typed), accounts[0].intervalMinutes);
    EXPECT_EQ(boxes, standin::messageBoxes().size());
  }
  for (const char* typed : {"300", "35792", "99999999999"}) {
    openWith([typed] {
      standin::typeInto(standin::showPage(0), IDC_INTERVAL, typed);
      standin::pressOk();
    });
    EXPECT_EQ(255, accounts[0].intervalMinutes) << typed;
    EXPECT_EQ("到着確認の間隔は1分から255分までにしてにゃ.\n255分にしておくにゃ.",
              standin::messageBoxes().back().text);
    EXPECT_EQ(255u * 60000u, standin::timerPeriod(window, TIMER_INTERVAL));
  }
}

TEST_F(SettingsSheet, GraysTheGuardedItemsWhileOpen) {
  openWith([this] {
    EXPECT_TRUE(itemGrayed(CMD_CHECK));
    EXPECT_TRUE(itemGrayed(CMD_SETTINGS));
    EXPECT_TRUE(itemGrayed(CMD_EXIT));
    EXPECT_FALSE(itemGrayed(CMD_HELP));
    EXPECT_EQ(1, app.busy);
    EXPECT_FALSE(standin::timerRunning(window, TIMER_INTERVAL));
  });
  EXPECT_FALSE(itemGrayed(CMD_CHECK));
  EXPECT_EQ(0, app.busy);
}

TEST_F(SettingsSheet, TheSoundPageEnablesOnlyWhatCanMatter) {
  settings.soundNotify = 1;
  settings.useVoice = 1;
  settings.customVoice = 0;
  openWith([this] {
    HWND page = standin::showPage(1);
    auto enabled = [page](int id) { return standin::controlEnabled(page, id); };
    EXPECT_TRUE(enabled(IDC_USE_VOICE) && enabled(IDC_USE_BEEP) && enabled(IDC_SOUND_NEW_ONLY));
    EXPECT_TRUE(enabled(IDC_CUSTOM_VOICE));
    EXPECT_FALSE(enabled(IDC_VOICE_PATH) || enabled(IDC_VOICE_BROWSE));
    standin::click(page, IDC_SOUND_NEW_ONLY);

    standin::click(page, IDC_CUSTOM_VOICE);
    EXPECT_TRUE(enabled(IDC_VOICE_PATH) && enabled(IDC_VOICE_BROWSE));
    standin::clickOption(page, IDC_USE_BEEP, voiceOptions);
    EXPECT_FALSE(enabled(IDC_CUSTOM_VOICE) || enabled(IDC_VOICE_PATH) || enabled(IDC_VOICE_BROWSE));
    EXPECT_TRUE(enabled(IDC_SOUND_NEW_ONLY));  // a beep per new message
    standin::clickOption(page, IDC_USE_VOICE, voiceOptions);
    EXPECT_TRUE(enabled(IDC_CUSTOM_VOICE) && enabled(IDC_VOICE_PATH));
    standin::click(page, IDC_SOUND_NOTIFY);  // off: everything below goes gray
    for (int id : {IDC_USE_VOICE, IDC_USE_BEEP, IDC_SOUND_NEW_ONLY, IDC_CUSTOM_VOICE,
                   IDC_VOICE_PATH, IDC_VOICE_BROWSE})
      EXPECT_FALSE(enabled(id)) << id;
    standin::click(page, IDC_SOUND_NOTIFY);
    EXPECT_TRUE(enabled(IDC_VOICE_BROWSE));
    standin::click(page, IDC_SOUND_NOTIFY);
    // Gray controls are stored with the state they show.
    standin::typeInto(page, IDC_VOICE_PATH, "C:\\nya.wav");
    standin::pressOk();
  });
  EXPECT_EQ(0, settings.soundNotify);
  EXPECT_EQ(1, settings.useVoice);
  EXPECT_EQ(1, settings.customVoice);
  EXPECT_EQ(1, settings.soundNewOnly);
  EXPECT_STREQ("C:\\nya.wav", settings.voicePath);
}

TEST_F(SettingsSheet, TheSoundPageStartsGrayWithoutSound) {
  settings.soundNotify = 0;
  settings.customVoice = 1;
  openWith([] {
    HWND page = standin::showPage(1);
    for (int id : {IDC_USE_VOICE, IDC_USE_BEEP, IDC_SOUND_NEW_ONLY, IDC_CUSTOM_VOICE,
                   IDC_VOICE_PATH, IDC_VOICE_BROWSE})
      EXPECT_FALSE(standin::controlEnabled(page, id)) << id;
  });
}

TEST_F(SettingsSheet, TheDisplayPageStoresTheChosenTooltip) {
  for (int mode : {0, 1, 2}) {
    openWith([this, mode] {
      HWND page = standin::showPage(3);
      standin::clickOption(page, IDC_TOOLTIP_ACCOUNT + mode, tooltipOptions);
      standin::pressOk();
    });
    EXPECT_EQ(mode, settings.tooltipMode);
  }
  accounts[0].showPreviews = 1;
  openWith([] {
    HWND page = standin::showPage(3);
    EXPECT_FALSE(standin::controlChecked(page, IDC_NOTIFY_BALLOON));
    EXPECT_TRUE(standin::controlChecked(page, IDC_SHOW_PREVIEWS));
    standin::click(page, IDC_NOTIFY_BALLOON);
    standin::click(page, IDC_SHOW_PREVIEWS);
    standin::pressOk();
  });
  EXPECT_EQ(1, settings.notifyBalloon);
  EXPECT_EQ(0, accounts[0].showPreviews);
  settings.tooltipMode = 7;
  openWith([this] {
    HWND page = standin::showPage(3);
    for (int id : tooltipOptions) EXPECT_FALSE(standin::controlChecked(page, id));
    standin::pressOk();
  });
  EXPECT_EQ(2, settings.tooltipMode);
}

TEST_F(SettingsSheet, TheChoosersPutTheChosenPathInTheirBox) {
  openWith([] {
    HWND sound = standin::showPage(1);
    standin::click(sound, IDC_CUSTOM_VOICE);
    standin::answerNextFileDialog("C:\\Sounds\\meow.wav");
    standin::click(sound, IDC_VOICE_BROWSE);
    EXPECT_EQ("C:\\Sounds\\meow.wav", standin::controlText(sound, IDC_VOICE_PATH));
    standin::answerNextFileDialog("");  // cancelled: nothing changes
    standin::click(sound, IDC_VOICE_BROWSE);
    EXPECT_EQ("C:\\Sounds\\meow.wav", standin::controlText(sound, IDC_VOICE_PATH));

    HWND mailer = standin::showPage(2);
    standin::answerNextFileDialog("C:\\Mail\\mailer.exe");
    standin::click(mailer, IDC_MAILER_BROWSE);
    standin::pressOk();
  });
  EXPECT_STREQ("C:\\Sounds\\meow.wav", settings.voicePath);
  EXPECT_STREQ("C:\\Mail\\mailer.exe", settings.mailerPath);
  const auto& wave = standin::fileDialogs()[0];
  EXPECT_EQ(OPENFILENAME_SIZE_VERSION_400W, wave.size);
  EXPECT_EQ((std::vector<std::string>{"waveﾌｧｲﾙ(*.wav)", "*.wav"}), wave.filter);
  EXPECT_EQ("wav", wave.defaultExtension);
  EXPECT_EQ(OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_FILEMUSTEXIST, wave.flags);
  EXPECT_EQ(256u, wave.bufferSize);
  EXPECT_EQ("", wave.initialFile);
  const auto& program = standin::fileDialogs()[2];
  EXPECT_EQ((std::vector<std::string>{"ﾒｰﾙｿﾌﾄ(*.exe)", "*.exe"}), program.filter);
  EXPECT_EQ("exe", program.defaultExtension);
}

TEST_F(SettingsSheet, DroppedFilesCountOnlyWithTheRightEnding) {
  settings.customVoice = 0;
  openWith([] {
    HWND sound = standin::showPage(1);
    standin::dropFiles(sound, {"C:\\a.wav"});  // 205 unchecked: not considered
    EXPECT_EQ("", standin::controlText(sound, IDC_VOICE_PATH));
    standin::click(sound, IDC_CUSTOM_VOICE);
    standin::dropFiles(sound, {"C:\\LOUD.WAV"});
    EXPECT_EQ("", standin::controlText(sound, IDC_VOICE_PATH));
    standin::dropFiles(sound, {"C:\\first.wav", "C:\\second.wav"});
    EXPECT_EQ("C:\\first.wav", standin::controlText(sound, IDC_VOICE_PATH));
    standin::dropFiles(sound, {"wav"});
    EXPECT_EQ("C:\\first.wav", standin::controlText(sound, IDC_VOICE_PATH));

    HWND mailer = standin::showPage(2);
    standin::dropFiles(mailer, {"C:\\notes.txt"});
    EXPECT_EQ("", standin::controlText(mailer, IDC_MAILER_PATH));
    standin::dropFiles(mailer, {"C:\\Mail\\mailer.exe", "C:\\other.exe"});
    EXPECT_EQ("C:\\Mail\\mailer.exe", standin::controlText(mailer, IDC_MAILER_PATH));
  });
  EXPECT_EQ(0u, standin::openDropCount());  // every drop released
}

TEST_F(SettingsSheet, F1ShowsTheControlsTopicAndTheArrowsShareTheirBoxs) {
  standin::setString(104, "ポート番号にゃ");
  standin::setString(106, "何分おきかにゃ");
  standin::setString(303, "パラメータにゃ");
  standin::setString(111, "暗号化にゃ");
  standin::setString(204, "新着だけ鳴くにゃ");
  standin::setString(402, "数を出すにゃ");
  standin::setString(113, "高速スキャンにゃ");
  openWith([] {
    HWND page = standin::showPage(0);
    standin::pressF1(page, IDC_FAST_SCAN);
    EXPECT_EQ("高速スキャンにゃ", standin::helpTipText());
    standin::pressF1(page, IDC_PORT_SPIN);
    EXPECT_EQ("ポート番号にゃ", standin::helpTipText());
    standin::pressF1(page, IDC_CONNECTION_SECURITY);
    EXPECT_EQ("暗号化にゃ", standin::helpTipText());
    standin::pressF1(page, IDC_INTERVAL_SPIN);
    EXPECT_EQ("何分おきかにゃ", standin::helpTipText());
    standin::pressF1(page, -1);  // a label: nothing new
    EXPECT_EQ("何分おきかにゃ", standin::helpTipText());
    HWND mailer = standin::showPage(2);
    standin::pressF1(mailer, IDC_MAILER_ARGS);
    EXPECT_EQ("パラメータにゃ", standin::helpTipText());
    standin::advance(9990);  // the popup stays ten seconds, then goes
    EXPECT_EQ("パラメータにゃ", standin::helpTipText());
    standin::advance(10);
    EXPECT_EQ("", standin::helpTipText());
    standin::pressF1(standin::showPage(1), IDC_SOUND_NEW_ONLY);
    EXPECT_EQ("新着だけ鳴くにゃ", standin::helpTipText());
    standin::pressF1(standin::showPage(3), IDC_TOOLTIP_COUNTS);
    EXPECT_EQ("数を出すにゃ", standin::helpTipText());
  });
}

}  // namespace

namespace {

const char RUN_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

TEST_F(SettingsSheet, StartAtLogOnIsOneRunValuePerFolderThatTheBoxShows) {
  standin::setModulePath("C:\\プログラム 表\\KivvetLE.exe");
  auto setBox = [this](bool on) {
    openWith([on] {
      HWND page = standin::showPage(0);
      if (standin::controlChecked(page, IDC_START_AT_LOGON) != on)
        standin::click(page, IDC_START_AT_LOGON);
      standin::pressOk();
    });
  };
  // A folder with a blank and a character whose second byte is 0x5C.
  standin::makeDirectory("C:\\メール 表");
  ASSERT_TRUE(SetCurrentDirectoryW(u"C:\\メール 表"));
  setBox(true);
  EXPECT_EQ("\"C:\\プログラム 表\\KivvetLE.exe\" \"-WC:\\メール 表\" -TOFF",
            standin::registryText(RUN_KEY, "Kivvet LE - C:\\メール 表").value_or("none"));
  // A second copy in another folder: its own value; a drive's root keeps
  // its closing quote apart from its backslash.
  ASSERT_TRUE(SetCurrentDirectoryW(u"C:\\"));
  openWith([] {
    EXPECT_FALSE(standin::controlChecked(standin::showPage(0), IDC_START_AT_LOGON));
    standin::pressCancel();
  });
  setBox(true);
  EXPECT_EQ("\"C:\\プログラム 表\\KivvetLE.exe\" \"-WC:\\\\\" -TOFF",
            standin::registryText(RUN_KEY, "Kivvet LE - C:\\").value_or("none"));
  // The first folder's box shows its value, and taking the tick off
  // removes that value alone.
  ASSERT_TRUE(SetCurrentDirectoryW(u"C:\\メール 表"));
  openWith([] {
    EXPECT_TRUE(standin::controlChecked(standin::showPage(0), IDC_START_AT_LOGON));
    standin::pressCancel();
  });
  setBox(false);
  EXPECT_FALSE(standin::registryText(RUN_KEY, "Kivvet LE - C:\\メール 表").has_value());
  EXPECT_TRUE(standin::registryText(RUN_KEY, "kivvet le - c:\\").has_value());
  EXPECT_EQ(0u, standin::openRegistryKeyCount());
  EXPECT_EQ(std::string::npos, standin::readFile("C:\\KivvetLE.cfg").find("TOFF"));
  // A policy forbids the Run key: the tick that could not be kept is told.
  standin::refuseRegistryWrites();
  size_t boxes = standin::messageBoxes().size();
  setBox(true);
  ASSERT_EQ(boxes + 1, standin::messageBoxes().size());
  EXPECT_EQ(
      "ログオンしたら起動する設定を変えられなかったにゃ.\nWindowsに止められているかもしれないにゃ.",
      standin::messageBoxes().back().text);
}

}  // namespace
