// The POP3 dialogue: what the program says to a server, how it reads the
// replies, and what the user sees at each step.
#include "check/pop3.h"

#include "check/knownuids.h"
#include "tests/support/mailcheck.h"

namespace {

using Dialogue = MailCheck;

TEST_F(Dialogue, LogsInCountsAndQuitsWithUserAndPass) {
  server.uids = {"a1", "a2", "a3"};
  size_t mark = standin::trayRequests().size();
  check();
  EXPECT_EQ("USER cat\r\nPASS nyan\r\nSTAT\r\nQUIT\r\n", sent());
  std::vector<std::string> expected = {
      "APPICON Kivvet LE - ",
      "APPICON Kivvet LE - POP3サーバに接続中...",
      "APPICON Kivvet LE - ユーザーIDを認証中...",
      "APPICON Kivvet LE - パスワードを認証中...",
      "APPICON Kivvet LE - メールの数を取得中...",
  };
  EXPECT_EQ(expected, tipsSince(mark));
  // The announcement takes over; its first frame is still to come.
  EXPECT_TRUE(standin::timerRunning(window, TIMER_VOICE));
  EXPECT_EQ(3u, app.messageCount);
  EXPECT_EQ(0u, app.newCount);
  EXPECT_EQ(Idle, app.sessionState);
  EXPECT_FALSE(standin::socketOpen(server.socket));
  EXPECT_EQ(0, app.busy);
  EXPECT_TRUE(standin::timerRunning(window, TIMER_INTERVAL));
  EXPECT_FALSE(standin::timerRunning(window, TIMER_RESPONSE));
  // Without new-mail counting the known list and its file stay alone.
  EXPECT_FALSE(standin::fileExists("C:\\KivvetLE.log"));
}

TEST_F(Dialogue, LogsInWithApopFromTheGreetingsTimestamp) {
  settings.useApop = 1;
  strcpy(settings.userId, "mrose");
  strcpy(settings.password, "tanstaaf");
  check();
  EXPECT_EQ("APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\nSTAT\r\nQUIT\r\n", sent());
  EXPECT_EQ(0, app.busy);
}

TEST_F(Dialogue, ApopWithoutATimestampNeverSendsTheSecret) {
  settings.useApop = 1;
  server.greeting = "+OK POP3 server ready";
  check();
  EXPECT_EQ("QUIT\r\n", sent());
  EXPECT_EQ("NOGOODICON", icon());
  EXPECT_EQ("接続しているサーバはAPOPに対応していません.", tip());
  EXPECT_FALSE(standin::socketOpen(server.socket));
}

TEST_F(Dialogue, ALongGreetingWithItsTimestampAtTheEndStillLogsIn) {
  settings.useApop = 1;
  // Up to what the line buffer holds: the timestamp is looked for in the
  // whole line, not only in its first 512 bytes.
  const std::string stamp = " <42.4242@pop.example.jp>";
  for (size_t length : {490u, 600u, 1021u}) {
    server.greeting = "+OK " + std::string(length - 4 - stamp.size(), 'x') + stamp;
    ASSERT_EQ(length, server.greeting.size());
    server.commands.clear();
    check();
    ASSERT_EQ(0u, sent().find("APOP cat ")) << length;
    EXPECT_EQ("APPICON", icon()) << length;
    EXPECT_EQ(3u, server.commands.size()) << length;  // APOP, STAT, QUIT
    EXPECT_EQ(0, app.busy);
  }
}

TEST_F(Dialogue, WalksUidlForEveryMessageWhenNewMailIsCounted) {
  settings.soundNewOnly = 1;
  server.uids = {"uid-one", "uid-two", "uid-three"};
  check();
  EXPECT_EQ("USER cat\r\nPASS nyan\r\nSTAT\r\nUIDL 1\r\nUIDL 2\r\nUIDL 3\r\nQUIT\r\n", sent());
  EXPECT_STREQ("uid-one", app.currentUids[0]);
  EXPECT_STREQ("uid-two", app.currentUids[1]);
  EXPECT_STREQ("uid-three", app.currentUids[2]);
  EXPECT_EQ(3u, app.newCount);
  EXPECT_EQ(3u, app.knownCount);
  EXPECT_EQ(32768u, standin::readFile("C:\\KivvetLE.log").size());
}

TEST_F(Dialogue, AnEmptyMailboxSendsQuitAtOnceAndKeepsTheKnownList) {
  settings.blinkNewOnly = 1;
  app.knownCount = 2;
  strcpy(app.knownUids[0], "old");
  check();
  EXPECT_EQ("USER cat\r\nPASS nyan\r\nSTAT\r\nQUIT\r\n", sent());
  EXPECT_EQ(2u, app.knownCount);
  EXPECT_STREQ("old", app.knownUids[0]);
  EXPECT_FALSE(standin::fileExists("C:\\KivvetLE.log"));
}

struct Refusal {
  const char* command;    // the command the server refuses ("" : the greeting)
  const char* sentUntil;  // what the program sent up to its QUIT
  const char* text;
};

TEST_F(Dialogue, EveryRefusalIsShownAndFollowedByQuit) {
  const Refusal refusals[] = {
      {"", "QUIT\r\n", "サーバに接続を拒否されました."},
      {"USER", "USER cat\r\nQUIT\r\n", "ユーザーIDまたはパスワードが違います."},
      {"PASS", "USER cat\r\nPASS nyan\r\nQUIT\r\n", "ユーザーIDまたはパスワードが違います."},
      {"STAT", "USER cat\r\nPASS nyan\r\nSTAT\r\nQUIT\r\n",
       "接続しているサーバはSTATコマンドに対応していません."},
      {"UIDL", "USER cat\r\nPASS nyan\r\nSTAT\r\nUIDL 1\r\nQUIT\r\n",
       "接続しているサーバはUIDLコマンドに対応していません."},
  };
  settings.soundNewOnly = 1;
  server.uids = {"u1", "u2"};
  for (const Refusal& refusal : refusals) {
    server.replies.clear();
    server.greeting = "+OK hello";
    if (refusal.command[0] == '\0')
      server.greeting = "-ERR go away";
    else
      server.replies[refusal.command] = "-ERR no";
    check();
    EXPECT_EQ(refusal.sentUntil, sent()) << refusal.text;
    EXPECT_EQ("NOGOODICON", icon());
    EXPECT_EQ(refusal.text, tip());
    // The positive answer to QUIT closed the session and left the icon.
    EXPECT_FALSE(standin::socketOpen(server.socket));
    EXPECT_EQ(0, app.busy);
    EXPECT_EQ(Idle, app.sessionState);
  }
  // Refused logins never touch the known list.
  EXPECT_FALSE(standin::fileExists("C:\\KivvetLE.log"));
}

TEST_F(Dialogue, ARefusedQuitIsAskedOnceMore) {
  server.replies["QUIT"] = "-ERR not now";
  server.silentOn = {"QUIT"};
  check();
  serverSay(server, "-ERR not now\r\n");
  standin::pump();
  EXPECT_EQ("NOGOODICON", icon());
  EXPECT_EQ("接続しているサーバはQUITコマンドに対応していません.", tip());
  EXPECT_EQ("USER cat\r\nPASS nyan\r\nSTAT\r\nQUIT\r\nQUIT\r\n", sent());
  serverSay(server, "+OK\r\n");
  standin::pump();
  EXPECT_FALSE(standin::socketOpen(server.socket));
  EXPECT_EQ(0, app.busy);
}

TEST_F(Dialogue, AServerThatRefusesQuitForEverIsLeft) {
  server.replies["QUIT"] = "-ERR never";
  check();
  size_t quits = 0;
  for (const auto& command : server.commands) quits += command == "QUIT";
  EXPECT_EQ(2u, quits);
  EXPECT_FALSE(standin::socketOpen(server.socket));
  EXPECT_EQ(Idle, app.sessionState);
  EXPECT_EQ(0, app.busy);
}

TEST_F(Dialogue, RepliesSplitAtEveryByteGiveTheSameDialogue) {
  settings.soundNewOnly = 1;
  server.uids = {"first", "second"};
  server.pieceSize = 1;
  check();
  standin::advance(5000);
  EXPECT_EQ("USER cat\r\nPASS nyan\r\nSTAT\r\nUIDL 1\r\nUIDL 2\r\nQUIT\r\n", sent());
  EXPECT_STREQ("first", app.currentUids[0]);
  EXPECT_STREQ("second", app.currentUids[1]);
  EXPECT_EQ(0, app.busy);
}

// The line assembler on its own, with a session waiting for its greeting.
class LineAssembler : public MailCheck {
 protected:
  void SetUp() override {
    MailCheck::SetUp();
    server.greets = false;
    server.silentOn = {"USER", "PASS", "STAT", "UIDL", "QUIT"};
    check();
    ASSERT_EQ(AwaitGreeting, app.sessionState);
  }
  void feed(const std::string& text) { feedReceivedText(window, text.c_str(), (DWORD)text.size()); }
};

TEST_F(LineAssembler, SeveralRepliesInOneChunkAreTakenInOrder) {
  feed("+OK hi\r\n+OK user\r\n+OK pass\r\n+OK 7 100\r\n");
  EXPECT_EQ("USER cat\r\nPASS nyan\r\nSTAT\r\nQUIT\r\n", sent());
  EXPECT_EQ(7u, app.messageCount);
}

TEST_F(LineAssembler, ALineIsHandledOnceWhenItsLineFeedArrives) {
  feed("+OK hel");
  EXPECT_EQ("", sent());
  feed("lo\r");
  EXPECT_EQ("", sent());
  feed("\n+OK");
  EXPECT_EQ("USER cat\r\n", sent());
  EXPECT_STREQ("+OK", app.lineBuffer);
  EXPECT_EQ(3u, app.lineLength);
}

TEST_F(LineAssembler, AnEmptyLineOrAnyLineNotStartingWithMinusIsPositive) {
  feed("\r\n");
  feed("ok\n");
  feed("-\r\n");
  EXPECT_EQ("USER cat\r\nPASS nyan\r\nQUIT\r\n", sent());
}

TEST_F(LineAssembler, AChunkThatWouldOverfillTheBufferIsDroppedWithWhatWasHeld) {
  feed(std::string(1000, 'x'));
  feed(std::string(59, 'y') + "\n");
  EXPECT_EQ(0u, app.lineLength);
  EXPECT_EQ("", sent());
  // The next chunk is measured against what is left: nothing.
  feed("+OK again\r\n");
  EXPECT_EQ("USER cat\r\n", sent());
}

TEST_F(LineAssembler, ATextWithANulEndsThere) {
  feed(std::string("+OK\0junk", 8) + "\r\n");
  EXPECT_EQ("", sent());  // the line feed came after the NUL
  feed("\r\n");
  EXPECT_EQ("USER cat\r\n", sent());
}

TEST_F(LineAssembler, LinesAfterTheSessionEndedAreIgnored) {
  feed("+OK\r\n+OK\r\n+OK\r\n+OK 0 0\r\n+OK bye\r\n-ERR late\r\n+OK late\r\n");
  EXPECT_EQ(Idle, app.sessionState);
  EXPECT_EQ("APPICON", icon());
}

class UidStorage : public MailCheck {
 protected:
  void SetUp() override {
    MailCheck::SetUp();
    settings.soundNewOnly = 1;
  }
};

TEST_F(UidStorage, CarriageReturnsAndMissingUidsLeaveCleanSlots) {
  server.uids = {"abc", "", "x y"};
  check();
  EXPECT_STREQ("abc", app.currentUids[0]);
  EXPECT_STREQ("", app.currentUids[1]);
  EXPECT_STREQ("x", app.currentUids[2]);
}

TEST_F(UidStorage, LongUidsStayApartAndFitTheirSlots) {
  std::string first(70, 'u'), second = std::string(69, 'u') + "v";
  std::string exact(32, 'e');
  server.uids = {first, second, exact};
  check();
  EXPECT_EQ(32u, strlen(app.currentUids[0]));
  EXPECT_EQ(32u, strlen(app.currentUids[1]));
  EXPECT_STRNE(app.currentUids[0], app.currentUids[1]);
  EXPECT_EQ(exact, app.currentUids[2]);
  EXPECT_EQ(3u, app.newCount);
  // The same mailbox again: the long UIDs are recognised.
  check();
  EXPECT_EQ(0u, app.newCount);
}

TEST_F(UidStorage, ABigMailboxIsWalkedOverItsNewestMessages) {
  for (int i = 1; i <= 2000; i++) server.uids.push_back("m" + std::to_string(i));
  settings.tooltipMode = 1;
  check();
  EXPECT_EQ(2000u, app.messageCount);
  EXPECT_EQ(0u, server.commands[3].find("UIDL 977"));
  EXPECT_STREQ("m977", app.currentUids[0]);
  EXPECT_STREQ("m2000", app.currentUids[1023]);
  EXPECT_EQ(1024u, app.newCount);
  standin::advance(200);  // the first frame of the voice shows the counts
  EXPECT_EQ("1024/2000", tip());
  // Two more arrive: only they are new.
  server.uids.push_back("m2001");
  server.uids.push_back("m2002");
  check();
  EXPECT_EQ(2u, app.newCount);
  EXPECT_EQ(1024u, app.knownCount);
}

TEST_F(UidStorage, ADeletionInABigMailboxIsNoNewMail) {
  for (int i = 1; i <= 1100; i++) server.uids.push_back("m" + std::to_string(i));
  check();
  // Deleted elsewhere: an older message, never walked, moves into the walk.
  server.uids.erase(server.uids.begin() + 1050);
  check();
  EXPECT_EQ(0u, app.newCount);
  // A deletion and an arrival in the same interval: only the arrival.
  server.uids.erase(server.uids.begin() + 1000);
  server.uids.push_back("m1101");
  check();
  EXPECT_EQ(1u, app.newCount);
  check();
  EXPECT_EQ(0u, app.newCount);
}

}  // namespace
