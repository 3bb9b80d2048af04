// The check cycle: guards, the online test, the lookup, the connection,
// the response timer, and every way a check ends.
#include "app/mainwindow.h"
#include "base/trace.h"
#include "check/check.h"
#include "check/mailboxes.h"

#include <functional>

#include "tests/support/mailcheck.h"

namespace {

class CheckCycle : public MailCheck {};

TEST_F(CheckCycle, IsRefusedWhileBusyWithoutAnyChange) {
  server.greets = false;
  check();
  ASSERT_EQ(1, app.busy);
  standin::clearTrace();
  size_t requests = standin::trayRequests().size();
  check();
  EXPECT_TRUE(standin::trace().empty());
  EXPECT_EQ(requests, standin::trayRequests().size());
}

// Two mailboxes check side by side: one failing does not stop the other,
// which tells its mail, and the failure shows again once the mail is seen.
TEST_F(CheckCycle, TwoMailboxesCheckSideBySideAndAFailureStaysShown) {
  ASSERT_EQ(1, addAccount());
  strcpy(accounts[1].accountName, "仕事");
  strcpy(accounts[1].serverHost, "127.0.0.2");
  strcpy(accounts[1].userId, "dog");
  standin::answerConnections("127.0.0.2", standin::Answer::Refuses);
  server.uids = {"a"};
  server.greets = false;
  check();
  EXPECT_FALSE(itemGrayed(CMD_CHECK));  // for the mailbox that is idle
  EXPECT_TRUE(itemGrayed(CMD_SETTINGS));
  EXPECT_EQ(1, server.connections);
  serverSay(server, "+OK hello\r\n");
  standin::pump();
  EXPECT_EQ(1u, mailboxes[0].counts.messageCount);
  standin::advance(FIRST_RETRY_MS + 10000);  // the second refusal in a row is an error
  EXPECT_EQ("NOGOODICON", icon());
  EXPECT_EQ("「仕事」サーバがつなぐのを断ったにゃ.ポート番号を確かめてにゃ.", tip());
  PostMessageW(window, MSG_TRAY_NOTIFY, TRAY_ICON_ID, WM_LBUTTONDBLCLK);
  standin::pump();
  EXPECT_EQ("NOGOODICON", icon());
  EXPECT_EQ(0, app.busy);
}

TEST_F(CheckCycle, GraysTheGuardedItemsWhileItRuns) {
  server.greets = false;
  check();
  EXPECT_TRUE(itemGrayed(CMD_CHECK));
  EXPECT_TRUE(itemGrayed(CMD_SETTINGS));
  EXPECT_TRUE(itemGrayed(CMD_EXIT));
  EXPECT_FALSE(itemGrayed(CMD_HELP));
  EXPECT_FALSE(itemGrayed(CMD_HOMEPAGE));
  serverSay(server, "-ERR busy\r\n+OK bye\r\n");
  standin::pump();
  for (UINT id : {CMD_CHECK, CMD_SETTINGS, CMD_HELP, CMD_HOMEPAGE, CMD_EXIT})
    EXPECT_FALSE(itemGrayed(id));
}

TEST_F(CheckCycle, OfflineShowsTheNormalIconAndTriesAgainSooner) {
  mailboxes[0].counts.messageCount = 4;
  for (int variant = 0; variant < 3; variant++) {
    standin::setOnline(variant != 0);
    standin::setWininet(variant != 1, variant != 2);
    standin::advance(2000);  // the last answer too old to share
    check();
    EXPECT_EQ("APPICON", icon());
    EXPECT_EQ("オフラインです.", tip());
    EXPECT_EQ(0, app.busy);
    EXPECT_EQ(4u, mailboxes[0].counts.messageCount);
    EXPECT_EQ(0, server.connections);
    EXPECT_EQ(60000u << variant, standin::timerPeriod(window, TIMER_INTERVAL));
    EXPECT_EQ(0, standin::loadedLibraryCount());  // loaded and freed each time
  }
}

TEST_F(CheckCycle, ALostNetworkIsTriedAgainSoonerAndShowsItsErrorOnce) {
  accounts[0].intervalMinutes = 5;
  server.acceptsConnection = false;
  server.connectionError = WSAENETUNREACH;
  check();
  EXPECT_EQ("APPICON", icon());  // no alarm for the first failure
  EXPECT_EQ("サーバにつながらないにゃ.またすぐ確かめるにゃ.", tip());
  standin::advance(60000);
  EXPECT_EQ("NOGOODICON", icon());
  EXPECT_EQ("回線異常です.", tip());
  size_t requests = standin::trayRequests().size();
  std::vector<UINT> waits;
  for (int retry = 0; retry < 3; retry++) {
    waits.push_back(standin::timerPeriod(window, TIMER_INTERVAL));
    standin::advance(waits.back());
  }
  EXPECT_EQ((std::vector<UINT>{120000, 240000, 300000}), waits);
  EXPECT_EQ(5, server.connections);
  EXPECT_EQ(requests, standin::trayRequests().size());  // no new error with every retry
  check();                                              // the user's own check shows what it does
  EXPECT_EQ("APPICON Kivvet LE - POP3サーバに接続中...", tipsSince(requests).at(0));
  server.acceptsConnection = true;
  standin::advance(300000);
  EXPECT_EQ(7, server.connections);
  EXPECT_EQ("APPICON", icon());
  EXPECT_EQ(300000u, standin::timerPeriod(window, TIMER_INTERVAL));
}

TEST_F(CheckCycle, ABlankRequiredSettingAsksForTheSettings) {
  // An empty port box is a port of 0, as blank as the rest.
  for (char* blank : {accounts[0].serverHost, accounts[0].userId, (char*)nullptr}) {
    strcpy(accounts[0].serverHost, "127.0.0.1");
    strcpy(accounts[0].userId, "cat");
    accounts[0].port = blank != nullptr ? POP3_PORT : 0;
    if (blank != nullptr) blank[0] = '\0';
    size_t boxes = standin::messageBoxes().size();
    check();
    ASSERT_EQ(boxes + 1, standin::messageBoxes().size());
    const auto& box = standin::messageBoxes().back();
    EXPECT_EQ("必須設定項目に空欄があるにゃ.\n設定してにゃ.", box.text);
    EXPECT_EQ("Kivvet LE", box.caption);
    EXPECT_EQ(MB_OK | MB_ICONINFORMATION, box.type);
    EXPECT_EQ(window, box.owner);
    EXPECT_EQ(0, server.connections);
    EXPECT_EQ(0, app.busy);
    // The sheet closed and armed the next check.
    EXPECT_TRUE(standin::timerRunning(window, TIMER_INTERVAL));
  }
  // An empty password is no reason to stop.
  accounts[0].port = POP3_PORT;
  strcpy(accounts[0].serverHost, "127.0.0.1");
  strcpy(accounts[0].userId, "cat");
  accounts[0].password[0] = '\0';
  server.password = "";
  check();
  EXPECT_EQ(1, server.connections);
  EXPECT_EQ(0u, sent().find("USER cat\r\nPASS \r\n"));
}

TEST_F(CheckCycle, SettingsThatCouldSmuggleOrLeakConnectNowhere) {
  struct Case {
    const char* userId;
    const char* password;
    int security;
    const char* text;
  } cases[] = {
      {"cat\r\nDELE 1", "nyan", SECURITY_NONE,
       "ユーザーIDかパスワードに改行が入っているにゃ.\n設定し直してにゃ."},
      {"cat", "nyan\nDELE 1", SECURITY_NONE,
       "ユーザーIDかパスワードに改行が入っているにゃ.\n設定し直してにゃ."},
      {"cat", "nyan", 3, "暗号化の設定が壊れているにゃ.\nもう一度選んでにゃ."},
  };
  for (const Case& c : cases) {
    strcpy(accounts[0].userId, c.userId);
    strcpy(accounts[0].password, c.password);
    accounts[0].connectionSecurity = c.security;
    size_t sheets = standin::propertySheets().size();
    check();
    ASSERT_FALSE(standin::messageBoxes().empty());
    EXPECT_EQ(c.text, standin::messageBoxes().back().text);
    ASSERT_EQ(sheets + 1, standin::propertySheets().size());
    EXPECT_EQ(0u, standin::propertySheets().back().startPage);
    EXPECT_EQ(0, server.connections);
    EXPECT_EQ(0u, standin::lookupRequestCount());
  }
}

TEST_F(CheckCycle, AWindowClosedUnderTheBlankSettingsBoxEndsWithoutASheet) {
  accounts[0].userId[0] = '\0';
  std::string file = standin::readFile("C:\\KivvetLE.cfg");
  standin::onNextMessageBox([this] {
    // Exit cannot be chosen meanwhile; a log-off closes the window anyway.
    EXPECT_TRUE(itemGrayed(CMD_EXIT));
    SendMessageW(window, WM_CLOSE, 0, 0);
  });
  check();
  EXPECT_FALSE(standin::isWindowAlive(window));
  EXPECT_TRUE(standin::propertySheets().empty());
  EXPECT_EQ(file, standin::readFile("C:\\KivvetLE.cfg"));
}

TEST_F(CheckCycle, ADottedAddressConnectsWithoutALookup) {
  strcpy(accounts[0].serverHost, "192.168.0.1");
  accounts[0].port = 1110;
  check();
  EXPECT_EQ(0u, standin::lookupRequestCount());
  EXPECT_EQ("192.168.0.1", standin::lastConnectAddress());
  EXPECT_EQ(1110, standin::lastConnectPort());
  EXPECT_EQ(FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE, server.eventsAtConnect);
}

TEST_F(CheckCycle, ANameIsLookedUpFirst) {
  strcpy(accounts[0].serverHost, "pop.example.jp");
  standin::setHostAddress("pop.example.jp", "10.1.2.3");
  standin::setLookupDelay(300);
  check();
  EXPECT_EQ(0, server.connections);
  standin::advance(300);
  EXPECT_EQ("10.1.2.3", standin::lastConnectAddress());
  EXPECT_EQ(0, app.busy);
  EXPECT_EQ("USER cat\r\nPASS nyan\r\nSTAT\r\nQUIT\r\n", sent());

  // All ones is no address: it too is looked up.
  strcpy(accounts[0].serverHost, "255.255.255.255");
  check();
  EXPECT_EQ(2u, standin::lookupRequestCount());
}

TEST_F(CheckCycle, EveryFailureBeforeTheDialogueHasItsText) {
  struct Case {
    const char* text;
    std::function<void()> arrange;
  } cases[] = {
      {"POPサーバのアドレスが違います.", [] { strcpy(accounts[0].serverHost, "nowhere.invalid"); }},
      {"POPサーバのアドレスが違います.",
       [] {
         strcpy(accounts[0].serverHost, "pop.example.jp");
         standin::setHostAddress("pop.example.jp", "10.0.0.1");
         standin::failNextLookupRequest();
       }},
      {"ソケットの作成に失敗しました.", [] { standin::failNextSocket(); }},
      {"WSAAsyncSelectでエラーが発生しました.(内部エラー)", [] { standin::failNextAsyncSelect(); }},
      {"サーバへの接続に失敗しました.", [] { standin::failNextConnect(WSAENETDOWN); }},
      {"サーバがつなぐのを断ったにゃ.ポート番号を確かめてにゃ.",
       [this] { server.acceptsConnection = false; }},
      {"回線異常です.",
       [this] {
         server.acceptsConnection = false;
         server.connectionError = WSAENETUNREACH;
       }},
  };
  for (auto& c : cases) {
    strcpy(accounts[0].serverHost, "127.0.0.1");
    server.acceptsConnection = true;
    server.connectionError = WSAECONNREFUSED;
    resetRetries(&mailboxes[0]),
        countRetry(&mailboxes[0]);  // not the first failure in a row, which shows no error yet
    c.arrange();
    check();
    EXPECT_EQ("NOGOODICON", icon()) << c.text;
    EXPECT_EQ(c.text, tip());
    EXPECT_EQ(0, app.busy);
    EXPECT_EQ(0u, standin::openSocketCount()) << c.text;
    EXPECT_FALSE(standin::timerRunning(window, TIMER_RESPONSE));
    EXPECT_TRUE(standin::timerRunning(window, TIMER_INTERVAL));
  }
}

TEST_F(CheckCycle, ReceiveFailuresCloseTheSessionFirst) {
  server.greets = false;
  check();
  standin::failNextRecv(WSAECONNRESET);
  serverSay(server, "+OK");
  standin::pump();
  EXPECT_EQ("サーバからの受信に失敗しました.", tip());
  EXPECT_FALSE(standin::socketOpen(server.socket));

  check();
  PostMessageW(window, MSG_SOCKET_EVENT, server.socket, MAKELPARAM(FD_READ, 0));
  standin::serverCloses(server.socket, 0);
  serverSay(server, "x");  // a closed peer sends nothing more
  standin::pump();
  EXPECT_EQ("サーバからデータが転送されませんでした.", tip());
  EXPECT_FALSE(standin::socketOpen(server.socket));
  EXPECT_EQ(0, app.busy);
}

TEST_F(CheckCycle, ASilentServerTimesOutAfterAMinute) {
  server.greets = false;
  check();
  // check() let 100 ms pass since the online test.
  standin::advance(59899);
  EXPECT_EQ(1, app.busy);
  standin::advance(1);
  EXPECT_EQ("NOGOODICON", icon());
  EXPECT_EQ("サーバからの応答がありません.タイムアウトしました.", tip());
  EXPECT_FALSE(standin::socketOpen(server.socket));
  EXPECT_EQ(0, app.busy);
}

TEST_F(CheckCycle, AByteEveryFiftyNineSecondsLastsNoLongerThanTheSession) {
  server.greets = false;
  check();
  // check() let 100 ms pass; the session has three minutes in all.
  for (int i = 0; i < 3; i++) {
    standin::advance(59000);
    serverSay(server, "+");
    standin::pump();
  }
  standin::advance(2899);
  EXPECT_EQ(1, app.busy);
  EXPECT_EQ("POP3サーバに接続中...", tip());
  standin::advance(1);
  EXPECT_EQ("NOGOODICON", icon());
  EXPECT_EQ("サーバからの応答がありません.タイムアウトしました.", tip());
  EXPECT_FALSE(standin::socketOpen(server.socket));
  EXPECT_EQ(0, app.busy);
  EXPECT_FALSE(standin::timerRunning(window, TIMER_SESSION));
}

TEST_F(CheckCycle, ClosingWithoutAnErrorMidDialogueEndsTheCheckAtOnce) {
  server.greets = false;
  check();
  standin::serverCloses(server.socket, 0);
  standin::pump();
  EXPECT_EQ(0, app.busy);
  EXPECT_EQ("NOGOODICON", icon());
  EXPECT_EQ("回線異常です.", tip());
  EXPECT_EQ(0u, retriesInARow(&mailboxes[0]));  // the server was reached: no early retry
}

// What a user sends when a check goes wrong: the steps, never the secrets,
// nor a word of the mailbox, even from a server that echoes the password
// or answers out of step.
TEST_F(CheckCycle, TheTraceTellsEveryStepButNoSecret) {
  startTrace();  // as -V does
  settings.soundNewOnly = 1;
  server.uids = {"u1"};
  check();
  accounts[0].useApop = 1;
  check();
  std::string digest = standin::sentBy(server.socket).substr(9, 32);
  server.replies["APOP"] = "-ERR [AUTH] no: APOP cat " + digest;
  check();
  accounts[0].useApop = 0;
  accounts[0].fastScan = 1;
  server.capabilities = {"PIPELINING", "UIDL"};
  check();
  server.replies["PASS"] = "-ERR unknown command: PASS nyan";
  server.replies["STAT"] = "nyan";  // out of step
  check();
  std::string trace = standin::readFile("C:\\KivvetLE-trace.txt");
  for (const char* step :
       {"state AwaitGreeting -> AwaitUserReply", "sent USER cat\r\n", "sent PASS ********\r\n",
        "reply +OK\r\n", "state AwaitQuitReply -> Idle", "sent APOP cat ********\r\n",
        "reply -ERR [AUTH]\r\n", "reply -ERR\r\n", "reply ********\r\n", "reply 1 UIDs listed\r\n"})
    EXPECT_NE(std::string::npos, trace.find(step)) << step;
  for (const std::string& secret : {std::string("nyan"), digest, std::string("u1")})
    EXPECT_EQ(std::string::npos, trace.find(secret)) << secret;
}

TEST_F(CheckCycle, TheNextCheckComesByTheIntervalTimer) {
  accounts[0].intervalMinutes = 2;
  standin::setLocalTime(23, 58);
  check();
  EXPECT_EQ(1, server.connections);
  EXPECT_EQ("次は0:00に確かめるにゃ", note());  // the clock's time, past midnight
  standin::advance(119000);
  EXPECT_EQ(1, server.connections);
  standin::advance(1000);
  EXPECT_EQ(2, server.connections);
}

class SleepAndWake : public MailCheck {
 protected:
  void power(WPARAM event) {
    PostMessageW(window, WM_POWERBROADCAST, event, 0);
    standin::pump();
  }
};

TEST_F(SleepAndWake, SleepEndsACheckQuietlyAndTheWakeBringsOneCheckFromWhichTheIntervalCounts) {
  server.greets = false;
  check();
  power(PBT_APMSUSPEND);
  EXPECT_EQ(0, app.busy);
  EXPECT_EQ(0u, standin::openSocketCount());
  EXPECT_EQ("APPICON", icon());
  EXPECT_EQ("", tip());
  server.greets = true;
  standin::advance(598000);  // the interval's check is two seconds away
  power(PBT_APMRESUMEAUTOMATIC);
  standin::advance(WAKE_CHECK_DELAY_MS - 1);
  EXPECT_EQ(1, server.connections);
  standin::advance(10000);
  EXPECT_EQ(2, server.connections);
  power(PBT_APMRESUMESUSPEND);  // Windows may tell it twice
  standin::advance(589000);
  EXPECT_EQ(2, server.connections);
  standin::advance(2000);
  EXPECT_EQ(3, server.connections);
}

TEST_F(SleepAndWake, AWakeNeverChecksWhileTheSettingsSheetIsOpen) {
  standin::onNextPropertySheet([this] {
    power(PBT_APMRESUMEAUTOMATIC);
    standin::advance(30000);
    EXPECT_EQ(0, server.connections);
    standin::pressCancel();
  });
  PostMessageW(window, WM_COMMAND, CMD_SETTINGS, 0);
  standin::pump();
  EXPECT_EQ(0, server.connections);
  EXPECT_EQ(600000u, standin::timerPeriod(window, TIMER_INTERVAL));
  EXPECT_FALSE(standin::timerRunning(window, TIMER_WAKE));
  // Nor while a check runs: the wake's refused check is not asked again.
  power(PBT_APMSUSPEND);
  server.greets = false;
  check();
  power(PBT_APMRESUMEAUTOMATIC);
  standin::advance(30000);
  EXPECT_EQ(1, app.busy);
  EXPECT_FALSE(standin::timerRunning(window, TIMER_WAKE));
}

TEST_F(SleepAndWake, AWakeAfterFailuresStartsTheRetriesAfreshWithoutTheErrorIcon) {
  server.acceptsConnection = false;
  check();
  standin::advance(60000);
  ASSERT_EQ("NOGOODICON", icon());
  power(PBT_APMSUSPEND);
  power(PBT_APMRESUMEAUTOMATIC);
  standin::advance(WAKE_CHECK_DELAY_MS);
  EXPECT_EQ(3, server.connections);
  EXPECT_EQ("APPICON", icon());
  EXPECT_EQ(60000u, standin::timerPeriod(window, TIMER_INTERVAL));
}

// Hazards of the cycle that a careless client falls into.
class CheckHazards : public MailCheck {};

TEST_F(CheckHazards, ATimeOutDuringTheLookupTouchesNoOldSocket) {
  check();  // an earlier, finished session
  SOCKET old = server.socket;
  strcpy(accounts[0].serverHost, "slow.example.jp");
  standin::setHostAddress("slow.example.jp", "10.9.9.9");
  standin::setLookupDelay(120000);
  check();
  standin::clearTrace();
  standin::advance(60000);
  EXPECT_EQ("サーバにつながらないにゃ.またすぐ確かめるにゃ.", tip());
  EXPECT_TRUE(standin::traceOf("closesocket").empty());
  EXPECT_EQ(0u, standin::pendingLookupCount());
  // The lookup's time passes: nothing connects, and only the retry's own
  // lookup waits.
  standin::advance(70000);
  EXPECT_EQ(old, standin::lastSocket());
  EXPECT_EQ(1u, standin::pendingLookupCount());
}

TEST_F(CheckHazards, ALookupReplyForAnEndedCheckIsIgnored) {
  strcpy(accounts[0].serverHost, "pop.example.jp");
  standin::setHostAddress("pop.example.jp", "10.0.0.2");
  standin::setLookupDelay(1000);
  check();
  HANDLE stale = standin::lastLookupHandle();
  ASSERT_NE(nullptr, stale);
  standin::advance(1000);
  ASSERT_EQ(0, app.busy);
  std::string shown = icon() + tip();
  int connections = server.connections;
  // The same reply once more, late, with and without an error.
  PostMessageW(window, MSG_HOST_RESOLVED, (WPARAM)stale, MAKELPARAM(0, 0));
  PostMessageW(window, MSG_HOST_RESOLVED, (WPARAM)stale, MAKELPARAM(0, WSAHOST_NOT_FOUND));
  standin::pump();
  EXPECT_EQ(connections, server.connections);
  EXPECT_EQ(shown, icon() + tip());
}

TEST_F(CheckHazards, ANewCheckFirstClosesASessionStillAwaitingQuit) {
  server.replies["STAT"] = "-ERR later";
  server.silentOn = {"QUIT"};
  check();
  SOCKET old = server.socket;
  ASSERT_TRUE(standin::socketOpen(old));
  ASSERT_EQ(0, app.busy);
  server.replies.clear();
  server.silentOn.clear();
  server.greets = false;
  check();
  EXPECT_FALSE(standin::socketOpen(old));
  EXPECT_NE(old, server.socket);
  // An error posted for the old socket does not end the new session.
  PostMessageW(window, MSG_SOCKET_EVENT, old, MAKELPARAM(FD_CLOSE, WSAECONNRESET));
  standin::pump();
  EXPECT_EQ(1, app.busy);
  EXPECT_EQ("POP3サーバに接続中...", tip());
}

TEST_F(CheckHazards, AServerThatHangsUpInsteadOfAnsweringQuitFreesTheProgram) {
  server.silentOn = {"QUIT"};
  check();
  ASSERT_EQ(AwaitQuitReply, mailboxes[0].dialogue.state);
  standin::serverCloses(server.socket, 0);
  standin::pump();
  EXPECT_EQ(0, app.busy);
  EXPECT_FALSE(standin::socketOpen(server.socket));
  EXPECT_EQ("APPICON", icon());  // the result stays shown

  check();
  standin::serverCloses(server.socket, WSAECONNRESET);
  standin::pump();
  EXPECT_EQ(0, app.busy);
  EXPECT_EQ("APPICON", icon());
}

TEST_F(CheckHazards, AReadThatFailsOrFindsNothingAfterQuitIsNoFailure) {
  server.silentOn = {"QUIT"};
  check();
  ASSERT_EQ(AwaitQuitReply, mailboxes[0].dialogue.state);
  // The data notice comes before the close notice: recv finds nothing.
  PostMessageW(window, MSG_SOCKET_EVENT, server.socket, FD_READ);
  standin::serverCloses(server.socket, 0);
  standin::pump();
  EXPECT_EQ(0, app.busy);
  EXPECT_EQ("APPICON", icon());

  check();
  standin::failNextRecv(WSAECONNRESET);
  PostMessageW(window, MSG_SOCKET_EVENT, server.socket, FD_READ);
  standin::pump();
  EXPECT_FALSE(standin::socketOpen(server.socket));
  EXPECT_EQ("APPICON", icon());
}

TEST_F(CheckHazards, AClosedSocketsLateEventsCannotTouchTheNextSession) {
  check();
  // Windows gives the next socket the same handle value: an error queued
  // for the closed one must not end the session that now holds it.
  SOCKET next = server.socket + 1;
  PostMessageW(window, WM_COMMAND, CMD_CHECK, 0);
  PostMessageW(window, MSG_SOCKET_EVENT, next, MAKELPARAM(FD_CLOSE, WSAECONNRESET));
  standin::advance(100);
  ASSERT_EQ(next, server.socket);
  EXPECT_EQ("STAT", server.commands[2 + 4]);
  EXPECT_NE("NOGOODICON", icon());
}

TEST_F(CheckHazards, AServerThatKeepsSendingCannotHoldTheClose) {
  server.silentOn = {"QUIT"};
  check();
  standin::serverFloods(server.socket, "+OK\r\n");
  standin::pump();
  EXPECT_FALSE(standin::socketOpen(server.socket));
  EXPECT_LE(standin::floodReads(server.socket), 100);
  EXPECT_EQ(0, app.busy);
}

TEST_F(CheckHazards, TheSheetOpenedWhileQuitIsAwaitedKeepsChecksAway) {
  server.replies["PASS"] = "-ERR no";
  server.silentOn = {"QUIT"};
  check();
  ASSERT_EQ(AwaitQuitReply, mailboxes[0].dialogue.state);
  ASSERT_EQ(0, app.busy);
  standin::onNextPropertySheet([this] {
    serverSay(server, "+OK bye\r\n");
    standin::advance(100);
    EXPECT_FALSE(standin::socketOpen(server.socket));
    EXPECT_EQ(1, app.busy);
    EXPECT_TRUE(itemGrayed(CMD_CHECK));
    EXPECT_FALSE(standin::timerRunning(window, TIMER_INTERVAL));
  });
  PostMessageW(window, WM_COMMAND, CMD_SETTINGS, 0);
  standin::pump();
  EXPECT_EQ(0, app.busy);
  EXPECT_TRUE(standin::timerRunning(window, TIMER_INTERVAL));
}

TEST_F(CheckHazards, AServerSilentAfterQuitIsLeftAfterAMinute) {
  server.silentOn = {"QUIT"};
  accounts[0].intervalMinutes = 5;
  check();
  EXPECT_EQ(1, app.busy);
  standin::advance(60000);
  EXPECT_EQ(0, app.busy);
  EXPECT_FALSE(standin::socketOpen(server.socket));
  EXPECT_EQ("APPICON", icon());
  // And the program goes on checking, a full interval after the session
  // ended.
  server.silentOn.clear();
  standin::advance(300000);
  EXPECT_EQ(2, server.connections);
  EXPECT_EQ(0, app.busy);
}

TEST_F(CheckHazards, TheSessionDeadlineWhileQuitIsAwaitedIsNoFailure) {
  server.replyDelayMs = 40000;  // QUIT goes after 160 s
  server.silentOn = {"QUIT"};
  check();
  standin::advance(160000);
  ASSERT_EQ(AwaitQuitReply, mailboxes[0].dialogue.state);
  standin::advance(60000);
  EXPECT_EQ(0, app.busy);
  EXPECT_FALSE(standin::socketOpen(server.socket));
  EXPECT_EQ("APPICON", icon());
}

TEST_F(CheckHazards, TheUnfinishedLineOfAFailedSessionIsNotCarriedOver) {
  server.greets = false;
  check();
  serverSay(server, "+OK hel");
  standin::advance(60000);  // times out with the half line held
  server.greets = true;
  server.greeting = "-ERR not today";
  check();
  EXPECT_EQ("サーバに接続を拒否されました.", tip());
}

TEST_F(CheckHazards, ClosingTheWindowDuringALookupLeavesNoWriteBehind) {
  strcpy(accounts[0].serverHost, "pop.example.jp");
  standin::setHostAddress("pop.example.jp", "10.0.0.3");
  standin::setLookupDelay(10000);
  check();
  PostMessageW(window, WM_CLOSE, 0, 0);
  standin::pump();
  ASSERT_FALSE(standin::isWindowAlive(window));
  standin::advance(20000);  // the sanitizers see any write into freed memory
  EXPECT_EQ(0u, standin::pendingLookupCount());
  EXPECT_EQ(0u, standin::openSocketCount());
}

// Windows delivers a WM_CLOSE sent by the installer or a log-off while
// the program waits inside a call to the shell: the step that made the
// call must find everything it still uses, and go no further.
TEST_F(CheckHazards, AWindowClosedDuringATrayCallInTheMiddleOfAStepEndsThatStep) {
  // The n-th call to the shell from now.
  std::function<void(int)> closeDuringTrayCall = [&](int n) {
    standin::duringNextTrayCall([&, n] {
      if (n > 1) return closeDuringTrayCall(n - 1);
      SendMessageW(window, WM_CLOSE, 0, 0);
    });
  };
  struct Case {
    int trayCall;
    const char* refused;  // the command the server refuses
  };
  // The check's first picture, then the connection; the refusal's, then
  // the busy flag; an empty mailbox's, then the next line.
  for (Case c : {Case{1, ""}, Case{2, "PASS"}, Case{2, ""}}) {
    SCOPED_TRACE(c.trayCall);
    TearDown(), SetUp();
    if (c.refused[0] != '\0') server.replies[c.refused] = "-ERR no";
    closeDuringTrayCall(c.trayCall);
    int connections = server.connections;
    check();
    EXPECT_FALSE(standin::isWindowAlive(window));
    EXPECT_EQ(c.trayCall == 1 ? 0 : 1, server.connections - connections);
  }
}

TEST_F(CheckHazards, ClosingTheWindowMidSessionClosesTheSocket) {
  server.greets = false;
  check();
  releaseProgram();
  EXPECT_EQ(0u, standin::openSocketCount());
}

}  // namespace
