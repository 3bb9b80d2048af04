// The POP3 dialogue: what the program says to a server, how it reads the
// replies, and what the user sees at each step.
#include "app/mainwindow.h"
#include "check/mailboxes.h"
#include "check/pop3.h"

#include "check/knownuids.h"
#include "check/md5.h"
#include "tests/support/mailcheck.h"
#include "tray/previews.h"

namespace {

using Dialogue = MailCheck;

TEST_F(Dialogue, LogsInCountsAndQuitsWithUserAndPass) {
  server.uids = {"a1", "a2", "a3"};
  server.replyDelayMs = 2 * PROGRESS_DELAY_MS;  // far enough for each step's text to be seen
  size_t mark = standin::trayRequests().size();
  PostMessageW(window, WM_COMMAND, CMD_CHECK, 0);
  standin::advance(5 * server.replyDelayMs + 50);
  EXPECT_EQ("USER cat\r\nPASS nyan\r\nSTAT\r\nQUIT\r\n", sent());
  std::vector<std::string> expected = {
      "APPICON Kivvet LE - POP3サーバに接続中...",
      "APPICON Kivvet LE - ユーザーIDを認証中...",
      "APPICON Kivvet LE - パスワードを認証中...",
      "APPICON Kivvet LE - メールの数を取得中...",
      "APPICON Kivvet LE - ",  // the announcement's first frame, at once
  };
  EXPECT_EQ(expected, tipsSince(mark));
  EXPECT_TRUE(standin::timerRunning(window, TIMER_VOICE));
  EXPECT_EQ(3u, mailboxes[0].counts.messageCount);
  EXPECT_EQ(0u, mailboxes[0].counts.newCount);
  EXPECT_EQ(Idle, mailboxes[0].dialogue.state);
  EXPECT_FALSE(standin::socketOpen(server.socket));
  EXPECT_EQ(0, app.busy);
  EXPECT_TRUE(standin::timerRunning(window, TIMER_INTERVAL));
  EXPECT_FALSE(standin::timerRunning(window, TIMER_RESPONSE));
  // Without new-mail counting the known list and its file stay alone.
  EXPECT_FALSE(standin::fileExists("C:\\KivvetLE.log"));

  // A near server answers each step at once: the shell is asked only for
  // the text that stays.
  server.replyDelayMs = 0;
  mark = standin::trayRequests().size();
  check();
  expected = {expected[0], expected[4]};
  EXPECT_EQ(expected, tipsSince(mark));
  // A server that hangs up at PASS leaves no password in the buffers.
  server.closesOn["PASS"] = 0;
  check();
  EXPECT_EQ(nullptr, strstr(mailboxes[0].dialogue.sendBuffer, "nyan"));
}

TEST_F(Dialogue, ResponseCodesHaveTheirOwnTextsAndTheTemporaryOnesComeBackSooner) {
  struct Case {
    const char* reply;
    const char* text;
    bool temporary;
  } cases[] = {
      {"-ERR [IN-USE] locked", "ほかのメールソフトがメールボックスを使用中にゃ.", true},
      {"-ERR [login-delay] wait", "ログインの間隔が短すぎるとサーバに言われたにゃ.", true},
      {"-ERR [SYS/TEMP/DB] later", "サーバが一時的な障害中にゃ.あとでまた確かめるにゃ.", true},
      {"-ERR [SYS/PERM] broken", "サーバに障害があってログインできないにゃ.", false},
      {"-ERR [AUTH] no", "サーバがユーザーIDかパスワードを認めないにゃ.", false},
      {"-ERR [SYS] vague", "ユーザーIDまたはパスワードが違います.", false},
      {"-ERR [IN-USER] unknown", "ユーザーIDまたはパスワードが違います.", false},
  };
  for (const Case& c : cases) {
    resetRetries(&mailboxes[0]);
    server.replies["PASS"] = c.reply;
    check();
    EXPECT_EQ(c.text, tip()) << c.reply;
    WCHAR units[52];
    EXPECT_TRUE(toWide(c.text, units, 52));  // the tooltip holds it whole
    EXPECT_EQ(c.temporary ? "APPICON" : "NOGOODICON", icon()) << c.reply;
    EXPECT_EQ(c.temporary ? 60000u : 600000u, standin::timerPeriod(window, TIMER_INTERVAL))
        << c.reply;
    EXPECT_EQ("QUIT", server.commands.back());
  }
}

TEST_F(Dialogue, LogsInWithApopFromTheGreetingsTimestamp) {
  accounts[0].useApop = 1;
  strcpy(accounts[0].userId, "mrose");
  strcpy(accounts[0].password, "tanstaaf");
  check();
  EXPECT_EQ("APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\nSTAT\r\nQUIT\r\n", sent());
  EXPECT_EQ(0, app.busy);
}

TEST_F(Dialogue, TheUserIdAndPasswordGoInTheShiftJisOfTheSettingsFile) {
  strcpy(accounts[0].userId, "ねこ");
  strcpy(accounts[0].password, "表にゃ");  // 表's second byte is a backslash
  server.user = "\x82\xcb\x82\xb1";
  server.password = "\x95\x5c\x82\xc9\x82\xe1";
  check();
  EXPECT_EQ("USER \x82\xcb\x82\xb1\r\nPASS \x95\x5c\x82\xc9\x82\xe1\r\nSTAT\r\nQUIT\r\n", sent());
  accounts[0].useApop = 1;
  server.commands.clear();
  check();
  char digest[33];
  apopDigest(digest, "<1896.697170952@dbc.mtview.ca.us>\x95\x5c\x82\xc9\x82\xe1");
  EXPECT_EQ(std::string("APOP \x82\xcb\x82\xb1 ") + digest + "\r\nSTAT\r\nQUIT\r\n", sent());
}

TEST_F(Dialogue, ApopWithoutATimestampNeverSendsTheSecret) {
  accounts[0].useApop = 1;
  server.greeting = "+OK POP3 server ready";
  check();
  EXPECT_EQ("QUIT\r\n", sent());
  EXPECT_EQ("NOGOODICON", icon());
  EXPECT_EQ("接続しているサーバはAPOPに対応していません.", tip());
  EXPECT_FALSE(standin::socketOpen(server.socket));
}

TEST_F(Dialogue, ALongGreetingWithItsTimestampAtTheEndStillLogsIn) {
  accounts[0].useApop = 1;
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
  EXPECT_STREQ("uid-one", mailboxes[0].currentUids[0]);
  EXPECT_STREQ("uid-two", mailboxes[0].currentUids[1]);
  EXPECT_STREQ("uid-three", mailboxes[0].currentUids[2]);
  EXPECT_EQ(3u, mailboxes[0].counts.newCount);
  EXPECT_EQ(3u, mailboxes[0].known.knownCount);
  EXPECT_EQ(32768u, standin::readFile("C:\\KivvetLE.log").size());
}

TEST_F(Dialogue, AnEmptyMailboxSendsQuitAtOnceAndKeepsTheKnownList) {
  settings.blinkNewOnly = 1;
  mailboxes[0].known.knownCount = 2;
  strcpy(mailboxes[0].knownUids[0], "old");
  check();
  EXPECT_EQ("USER cat\r\nPASS nyan\r\nSTAT\r\nQUIT\r\n", sent());
  EXPECT_EQ(2u, mailboxes[0].known.knownCount);
  EXPECT_STREQ("old", mailboxes[0].knownUids[0]);
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
    EXPECT_EQ(Idle, mailboxes[0].dialogue.state);
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
  EXPECT_EQ(Idle, mailboxes[0].dialogue.state);
  EXPECT_EQ(0, app.busy);
}

TEST_F(Dialogue, RepliesSplitAtEveryByteGiveTheSameDialogue) {
  settings.soundNewOnly = 1;
  server.uids = {"first", "second"};
  server.pieceSize = 1;
  check();
  standin::advance(5000);
  EXPECT_EQ("USER cat\r\nPASS nyan\r\nSTAT\r\nUIDL 1\r\nUIDL 2\r\nQUIT\r\n", sent());
  EXPECT_STREQ("first", mailboxes[0].currentUids[0]);
  EXPECT_STREQ("second", mailboxes[0].currentUids[1]);
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
    ASSERT_EQ(AwaitGreeting, mailboxes[0].dialogue.state);
  }
  void feed(const std::string& text) {
    feedReceivedText(window, &mailboxes[0].connection, text.c_str(), (DWORD)text.size());
  }
};

TEST_F(LineAssembler, SeveralRepliesInOneChunkAreTakenInOrder) {
  feed("+OK hi\r\n+OK user\r\n+OK pass\r\n+OK 7 100\r\n");
  EXPECT_EQ("USER cat\r\nPASS nyan\r\nSTAT\r\nQUIT\r\n", sent());
  EXPECT_EQ(7u, mailboxes[0].counts.messageCount);
}

TEST_F(LineAssembler, ALineIsHandledOnceWhenItsLineFeedArrives) {
  feed("+OK hel");
  EXPECT_EQ("", sent());
  feed("lo\r");
  EXPECT_EQ("", sent());
  feed("\n+OK");
  EXPECT_EQ("USER cat\r\n", sent());
  EXPECT_STREQ("+OK", mailboxes[0].connection.lineBuffer);
}

TEST_F(LineAssembler, AnEmptyLineOrAnyLineNotStartingWithMinusIsPositive) {
  feed("\r\n");
  feed("ok\n");
  feed("-\r\n");
  EXPECT_EQ("USER cat\r\nPASS nyan\r\nQUIT\r\n", sent());
}

// Judged by its first bytes, in the pieces a socket delivers: a long
// refusal is a refusal, and the rest of a long line is no line of its own.
TEST_F(LineAssembler, AnOverlongLineIsJudgedByItsFirstBytesAndItsRestPassedOver) {
  auto feedInPieces = [this](const std::string& text) {
    for (size_t at = 0; at < text.size(); at += 255) feed(text.substr(at, 255));
  };
  feed("+OK hi\r\n+OK user\r\n");
  feedInPieces("-ERR " + std::string(1395, 'x') + "\r\n");
  EXPECT_EQ("USER cat\r\nPASS nyan\r\nQUIT\r\n", sent());
  EXPECT_EQ("ユーザーIDまたはパスワードが違います.", tip());
  EXPECT_EQ(AwaitQuitReply, mailboxes[0].dialogue.state);  // the line's tail is no answer to QUIT

  accounts[0].fastScan = 1;
  settings.soundNewOnly = 1;
  check();
  feedInPieces("+OK hi\r\n-ERR\r\n+OK\r\n+OK\r\n+OK 3 100\r\n+OK\r\n1 a\r\n2 " +
               std::string(1100, 'b') + "\r\n3 c\r\n.\r\n");
  EXPECT_EQ(AwaitQuitReply, mailboxes[0].dialogue.state);
  EXPECT_EQ(3u, mailboxes[0].counts.messageCount);
  EXPECT_STREQ("c", mailboxes[0].currentUids[2]);
}

// A NUL from the server costs at most its own line, as a blank, never
// the lines behind it: in a status line, a listing and a header block.
TEST_F(LineAssembler, ANulIsABlankAndCostsNoLineBehindIt) {
  accounts[0].fastScan = 1;
  settings.soundNewOnly = 1;
  accounts[0].showPreviews = 1;
  using namespace std::string_literals;
  feed("+OK hi\0\r\n-ERR\r\n+OK\r\n+OK\r\n+OK 2\0 0\r\n+OK\r\n1 a\0x\r\n2 b\r\n.\r\n"s);
  feed("+OK\r\nFrom: cat\r\nSubject: a\0b\r\n.\r\n+OK\0\r\n.\r\n"s);
  EXPECT_EQ("CAPA\r\nUSER cat\r\nPASS nyan\r\nSTAT\r\nUIDL\r\nTOP 2 0\r\nTOP 1 0\r\nQUIT\r\n",
            sent());
  EXPECT_STREQ("a", mailboxes[0].currentUids[0]);
  ASSERT_EQ(2u, previewCount(shownPreviews()));
  char line[2 * PREVIEW_TEXT_BYTES + 4];
  previewLine(shownPreviews(), 0, line, sizeof line);
  EXPECT_STREQ("cat: a b", line);
}

TEST_F(LineAssembler, LinesAfterTheSessionEndedAreIgnored) {
  feed("+OK\r\n+OK\r\n+OK\r\n+OK 0 0\r\n+OK bye\r\n-ERR late\r\n+OK late\r\n");
  EXPECT_EQ(Idle, mailboxes[0].dialogue.state);
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
  EXPECT_STREQ("abc", mailboxes[0].currentUids[0]);
  EXPECT_STREQ("", mailboxes[0].currentUids[1]);
  EXPECT_STREQ("x", mailboxes[0].currentUids[2]);
}

TEST_F(UidStorage, LongUidsStayApartAndFitTheirSlots) {
  std::string first(70, 'u'), second = std::string(69, 'u') + "v";
  std::string exact(32, 'e');
  server.uids = {first, second, exact};
  check();
  EXPECT_EQ(32u, strlen(mailboxes[0].currentUids[0]));
  EXPECT_EQ(32u, strlen(mailboxes[0].currentUids[1]));
  EXPECT_STRNE(mailboxes[0].currentUids[0], mailboxes[0].currentUids[1]);
  EXPECT_EQ(exact, mailboxes[0].currentUids[2]);
  EXPECT_EQ(3u, mailboxes[0].counts.newCount);
  // The same mailbox again: the long UIDs are recognised.
  check();
  EXPECT_EQ(0u, mailboxes[0].counts.newCount);
}

TEST_F(UidStorage, ABigMailboxIsWalkedOverItsNewestMessages) {
  for (int i = 1; i <= 2000; i++) server.uids.push_back("m" + std::to_string(i));
  settings.tooltipMode = 1;
  check();
  EXPECT_EQ(2000u, mailboxes[0].counts.messageCount);
  EXPECT_EQ(0u, server.commands[3].find("UIDL 977"));
  EXPECT_STREQ("m977", mailboxes[0].currentUids[0]);
  EXPECT_STREQ("m2000", mailboxes[0].currentUids[1023]);
  EXPECT_EQ(1024u, mailboxes[0].counts.newCount);
  standin::advance(200);  // the first frame of the voice shows the counts
  EXPECT_EQ("1024/2000", tip());
  // Two more arrive: only they are new.
  server.uids.push_back("m2001");
  server.uids.push_back("m2002");
  check();
  EXPECT_EQ(2u, mailboxes[0].counts.newCount);
  EXPECT_EQ(1024u, mailboxes[0].known.knownCount);
}

TEST_F(UidStorage, ADeletionInABigMailboxIsNoNewMail) {
  for (int i = 1; i <= 1100; i++) server.uids.push_back("m" + std::to_string(i));
  check();
  // Deleted elsewhere: an older message, never walked, moves into the walk.
  server.uids.erase(server.uids.begin() + 1050);
  check();
  EXPECT_EQ(0u, mailboxes[0].counts.newCount);
  // A deletion and an arrival in the same interval: only the arrival.
  server.uids.erase(server.uids.begin() + 1000);
  server.uids.push_back("m1101");
  check();
  EXPECT_EQ(1u, mailboxes[0].counts.newCount);
  check();
  EXPECT_EQ(0u, mailboxes[0].counts.newCount);
}

}  // namespace

namespace {

class FastScan : public MailCheck {
 protected:
  void SetUp() override {
    MailCheck::SetUp();
    settings.soundNewOnly = 1;
    accounts[0].fastScan = 1;
  }
  std::vector<std::string> table() {
    std::vector<std::string> uids;
    for (DWORD i = 0; i < mailboxes[0].counts.messageCount && i < UID_SLOTS; i++)
      uids.push_back(mailboxes[0].currentUids[i]);
    return uids;
  }
  // What a check leaves: the counts, the known list and its file.
  std::string outcome() {
    std::string all = std::to_string(mailboxes[0].counts.messageCount) + "/" +
                      std::to_string(mailboxes[0].counts.newCount) + "/" +
                      std::to_string(mailboxes[0].known.knownCount) + ":";
    for (DWORD i = 0; i < mailboxes[0].known.knownCount; i++)
      all += std::string(mailboxes[0].knownUids[i]) + ",";
    // The file's texts; what follows a NUL in a record, and the leftovers
    // after the list, depend on what the slots held before.
    std::string file = standin::readFile("C:\\KivvetLE.log");
    for (size_t at = 0; at < mailboxes[0].known.knownCount * 32u && at + 32 <= file.size();
         at += 32) {
      std::string record = file.substr(at, 32);
      for (char& c : record) c = (char)~c;
      all += record.substr(0, record.find('\0')) + ";";
    }
    return all;
  }
  void forget() {
    mailboxes[0].known.knownCount = 0;
    mailboxes[0].dialogue.capabilities.capaKnown = 0;
    standin::writeFile("C:\\KivvetLE.log", "");
  }
};

TEST_F(FastScan, OneListingLeavesWhatTheWalkLeaves) {
  // Long UIDs, one without a UID, more messages than the table holds; and
  // a small mailbox whose replies come a byte at a time.
  for (size_t count : {1100u, 30u}) {
    server.uids.clear();
    for (size_t i = 1; i <= count; i++)
      server.uids.push_back(i % 7 ? "m" + std::to_string(i)
                                  : std::string(66, (char)('a' + i % 26)) + std::to_string(i));
    server.uids[count - 20] = "";
    server.pieceSize = count < 100 ? 1 : 0;
    std::string outcomes[2];
    for (int fast : {0, 1}) {
      accounts[0].fastScan = fast;
      forget();
      for (int round = 0; round < 2; round++) {
        check();
        standin::advance(20000);
        outcomes[fast] += outcome();
        EXPECT_NE("NOGOODICON", icon());
        server.uids.push_back("late");  // and again, with one new message
      }
      server.uids.resize(count);
    }
    size_t first = 0;
    while (first < outcomes[0].size() && outcomes[0][first] == outcomes[1][first]) first++;
    EXPECT_EQ(outcomes[0].size(), first) << count << " differ at " << outcomes[0].substr(first, 40);
  }
  EXPECT_EQ("CAPA\r\nUSER cat\r\nPASS nyan\r\nSTAT\r\nUIDL\r\nQUIT\r\n", sent());
  EXPECT_EQ(1u, mailboxes[0].counts.newCount);
}

TEST_F(FastScan, DotStuffingIsUndoneAndOnlyALoneDotEnds) {
  server.uids = {"x", "y"};
  server.listing = "+OK\r\n.1 a\r\n..\r\n2 b\r\n. \r\n3 c\n.\r\n+OK bye";
  server.silentOn = {"QUIT"};
  check();
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), table());
  EXPECT_EQ(3u, mailboxes[0].counts.newCount);
  EXPECT_EQ(Idle, mailboxes[0].dialogue.state);  // "+OK bye" after the dot answered QUIT
}

TEST_F(FastScan, TheListingIsTheTruthWhateverStatSaid) {
  server.uids = {"u1", "u2", "u3"};
  server.listing = "+OK\r\n1 u1\r\n2 u2\r\n3 u3\r\n4 u4\r\n5 u5\r\n.";
  check();
  EXPECT_EQ(5u, mailboxes[0].counts.messageCount);
  EXPECT_EQ(5u, mailboxes[0].known.knownCount);
  server.listing = "+OK\r\n2 u2\r\n.";
  check();
  EXPECT_EQ(1u, mailboxes[0].counts.messageCount);
  EXPECT_EQ((std::vector<std::string>{"u2"}), table());
  EXPECT_EQ(1u, mailboxes[0].known.knownCount);
  // Emptied since STAT: compared with nothing, as an empty mailbox is.
  server.listing = "+OK\r\n.";
  check();
  EXPECT_EQ(0u, mailboxes[0].counts.messageCount);
  EXPECT_EQ(1u, mailboxes[0].known.knownCount);
  EXPECT_EQ("APPICON", icon());
}

TEST_F(FastScan, NumbersInAnyOrderOrWithGapsGiveTheNewestInMessageOrder) {
  server.uids = {"x"};
  // A number listed again is one message.
  server.listing = "+OK\r\n3 c\r\n1 a\r\n9 i\r\n3 c\r\n3 c\r\nnot a line\r\n2\r\n.";
  check();
  EXPECT_EQ((std::vector<std::string>{"a", "", "c", "i"}), table());
  EXPECT_EQ(4u, mailboxes[0].counts.newCount);
  // Backwards and more than the table holds: the 1024 highest numbers.
  server.listing = "+OK";
  for (int n = 3000; n >= 1; n--)
    server.listing += "\r\n" + std::to_string(n) + " m" + std::to_string(n);
  server.listing += "\r\n.";
  check();
  EXPECT_EQ(3000u, mailboxes[0].counts.messageCount);
  EXPECT_STREQ("m1977", mailboxes[0].currentUids[0]);
  EXPECT_STREQ("m2500", mailboxes[0].currentUids[523]);
  EXPECT_STREQ("m3000", mailboxes[0].currentUids[1023]);
  // Scattered: still exactly the 1024 highest, in order.
  server.listing = "+OK";
  for (int k = 1; k <= 3000; k++) {
    std::string n = std::to_string(k * 97 % 3001);
    server.listing += "\r\n" + n + " m" + n;
  }
  server.listing += "\r\n.";
  std::vector<std::string> highest;
  for (int n = 1977; n <= 3000; n++) highest.push_back("m" + std::to_string(n));
  check();
  EXPECT_EQ(3000u, mailboxes[0].counts.messageCount);
  EXPECT_EQ(highest, table());
}

TEST_F(FastScan, AServerWithoutTheListingIsWalkedInTheSameSession) {
  server.uids = {"a", "b"};
  server.lists = false;
  check();
  EXPECT_EQ("CAPA\r\nUSER cat\r\nPASS nyan\r\nSTAT\r\nUIDL\r\nUIDL 1\r\nUIDL 2\r\nQUIT\r\n",
            sent());
  EXPECT_EQ(1, server.connections);
  EXPECT_EQ("APPICON", icon());
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), table());
  EXPECT_EQ(2u, mailboxes[0].counts.newCount);
}

TEST_F(FastScan, ALongListingIsNeverCutOffButSilenceIs) {
  server.uids = {"x"};
  server.listing = "+OK\r\n1 a";
  check();
  // 50 000 lines in four parts 50 s apart: longer than three minutes.
  std::string rest;
  for (int n = 2; n <= 50000; n++) rest += "\r\n" + std::to_string(n) + " u" + std::to_string(n);
  for (size_t part = 0, size = rest.size() / 4; part < 4; part++) {
    standin::advance(50000);
    serverSay(server, rest.substr(part * size, part == 3 ? std::string::npos : size));
  }
  serverSay(server, "\r\n.\r\n");
  standin::advance(100);
  EXPECT_EQ("APPICON", icon());
  EXPECT_EQ(50000u, mailboxes[0].counts.messageCount);
  EXPECT_STREQ("u50000", mailboxes[0].currentUids[1023]);

  server.listing = "+OK\r\n1 a\r\n2 b";  // and then nothing more
  check();
  standin::advance(59000);
  EXPECT_EQ(1, app.busy);
  standin::advance(2000);
  EXPECT_EQ("NOGOODICON", icon());
  EXPECT_EQ("サーバからの応答がありません.タイムアウトしました.", tip());
  EXPECT_EQ(0, app.busy);
  EXPECT_FALSE(standin::socketOpen(server.socket));
}

// The previews: TOP n 0 for the newest new messages only, five at most,
// newest first; a refused TOP or a block over 64 KB costs only its own
// preview. A server that pipelines gets the TOPs with QUIT in a second
// flight, or QUIT alone when nothing is new.
TEST_F(FastScan, PreviewsAskTheNewestNewMessagesForTheirHeadersOnly) {
  accounts[0].showPreviews = 1;
  for (int n = 1; n <= 8; n++) {
    server.uids.push_back("m" + std::to_string(n));
    server.headers.push_back("Received: x\r\nFrom: Cat " + std::to_string(n) +
                             " <c@x>\r\nSubject: no. " + std::to_string(n) + "\r\n");
  }
  server.headers[6] = "";  // TOP 7 is refused
  server.headers[4] = "X-Big: " + std::string(70000, 'x') + "\r\nFrom: big <b@x>\r\n";
  for (int pipelining : {0, 1}) {
    accounts[0].fastScan = pipelining;
    server.capabilities =
        pipelining ? std::vector<std::string>{"PIPELINING", "UIDL"} : std::vector<std::string>{};
    server.uids.resize(2);
    forget();
    check();
    EXPECT_EQ("TOP 2 0\r\nTOP 1 0\r\nQUIT\r\n", sent().substr(sent().find("TOP")));
    for (int n = 3; n <= 8; n++) server.uids.push_back("m" + std::to_string(n));
    size_t before = standin::traceOf("send(").size();
    check();
    standin::advance(1000);
    std::string tops = "TOP 8 0\r\nTOP 7 0\r\nTOP 6 0\r\nTOP 5 0\r\nTOP 4 0\r\nQUIT\r\n";
    EXPECT_EQ(tops, sent().substr(sent().find("TOP")));
    // The first check asked CAPA: this one sends its flight after the
    // greeting, and the TOPs with QUIT in a second one.
    EXPECT_EQ(pipelining ? 2u : 17u, standin::traceOf("send(").size() - before);
    EXPECT_EQ(6u, mailboxes[0].counts.newCount);
    EXPECT_EQ(Idle, mailboxes[0].dialogue.state);
    EXPECT_NE("NOGOODICON", icon());
    ASSERT_EQ(3u, previewCount(shownPreviews()));
    const char* lines[] = {"Cat 8: no. 8", "Cat 6: no. 6", "Cat 4: no. 4"};
    for (DWORD i = 0; i < 3; i++) {
      char line[2 * PREVIEW_TEXT_BYTES + 4];
      previewLine(shownPreviews(), i, line, sizeof line);
      EXPECT_STREQ(lines[i], line) << pipelining;
    }
    // Nothing new: no TOP, and the next check forgets the previews.
    before = standin::traceOf("send(").size();
    check();
    EXPECT_EQ(std::string::npos, sent().find("TOP"));
    std::string tail = pipelining ? "UIDL\r\nQUIT\r\n" : "UIDL 8\r\nQUIT\r\n";
    EXPECT_EQ(tail, sent().substr(sent().size() - tail.size()));
    if (pipelining) {
      EXPECT_EQ(2u, standin::traceOf("send(").size() - before);
    }
    EXPECT_EQ(0u, previewCount(shownPreviews()));
  }
}

// 64 KB as received, its CR LFs and the blank line behind the fields
// included, is the largest block previewed.
TEST_F(FastScan, AHeaderBlockOfSixtyFourKilobytesIsTheLargestPreviewed) {
  accounts[0].showPreviews = 1;
  server.uids = {"a", "b"};
  std::string block = "Subject: hi\r\nX-Pad: ";
  block += std::string(65536 - block.size() - 4, 'x') + "\r\n";
  server.headers = {block + "X: y\r\n", block};
  check();
  EXPECT_EQ(1u, previewCount(shownPreviews()));
}

// A server that hangs up or falls silent while the headers are read costs
// the previews, never the count: it is announced and remembered. A sleep
// then ends the check with nothing remembered, and the next finds the
// mail new.
TEST_F(FastScan, AFailureWhileTheHeadersAreReadStillAnnouncesTheCount) {
  accounts[0].showPreviews = 1;
  settings.blinkNewOnly = 1;
  server.uids = {"a", "b", "c"};
  server.headers.assign(3, "From: cat\r\nSubject: hi\r\n");
  for (int pipelining : {0, 1})
    for (const char* top : {"TOP 3 0", "TOP 1 0"})
      for (int fault = 0; fault < 4; fault++) {
        std::string at = std::string(top) + (pipelining ? " flight" : "") + " " + "cszm"[fault];
        accounts[0].fastScan = pipelining;
        server.capabilities = pipelining ? std::vector<std::string>{"PIPELINING", "UIDL"}
                                         : std::vector<std::string>{};
        server.closesOn.clear();
        server.silentOn.clear();
        server.replies.clear();
        if (fault == 0) server.closesOn[top] = 0;
        if (fault == 1 || fault == 2) server.silentOn = {top, "QUIT"};
        if (fault == 3) server.replies["TOP"] = "+OK\r\nFrom: cat";  // silent in the block
        forget();
        check();
        if (fault == 2) {
          PostMessageW(window, WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
          standin::pump();
        }
        standin::advance(65000);  // the time-out, and the voice
        EXPECT_EQ(0, app.busy) << at;
        EXPECT_FALSE(standin::socketOpen(server.socket)) << at;
        EXPECT_EQ(fault == 2 ? 0u : 3u, mailboxes[0].known.knownCount) << at;
        EXPECT_EQ(fault != 2, standin::timerRunning(window, TIMER_BLINK)) << at;
        EXPECT_EQ(0u, previewCount(shownPreviews())) << at;
        server.closesOn.clear();
        server.silentOn.clear();
        server.replies.clear();
        check();
        EXPECT_EQ(fault == 2 ? 3u : 0u, mailboxes[0].counts.newCount) << at;
      }
}

// Fast scan asks CAPA; a server that lists PIPELINING gets the rest of
// the session in one send, and its replies are read in order, whole or a
// byte at a time. Any other answer leaves the dialogue a step at a time.
TEST_F(FastScan, APipeliningServerGetsTheSessionInOneFlight) {
  server.uids = {"a", "b", "c"};
  const std::vector<std::string> capabilities[] = {{"UIDL", "PIPELINING"},
                                                   {"PIPELINING", "UIDL"},
                                                   {},
                                                   {"UIDL", "PIPELINING-NOT"},
                                                   {"PIPELINING"}};
  for (int i = 0; i < 5; i++) {
    server.capabilities = capabilities[i];
    server.pieceSize = i == 1 ? 1 : 0;
    forget();
    size_t before = standin::traceOf("send(").size();
    check();
    standin::advance(5000);
    EXPECT_EQ("CAPA\r\nUSER cat\r\nPASS nyan\r\nSTAT\r\nUIDL\r\nQUIT\r\n", sent()) << i;
    EXPECT_EQ(i < 2 ? 2u : 6u, standin::traceOf("send(").size() - before) << i;
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), table()) << i;
    EXPECT_EQ(3u, mailboxes[0].counts.newCount) << i;
    EXPECT_NE("NOGOODICON", icon()) << i;
    EXPECT_FALSE(standin::socketOpen(server.socket)) << i;
  }
  // APOP, and no listing where nothing tells new mail from old: without
  // a listing to ask for, UIDL need not be among the capabilities.
  server.capabilities = {"PIPELINING"};
  accounts[0].useApop = 1;
  settings.soundNewOnly = 0;
  forget();
  check();
  EXPECT_EQ(0u, sent().find("CAPA\r\nAPOP cat "));
  EXPECT_EQ("STAT\r\nQUIT\r\n", sent().substr(sent().size() - 12));
  EXPECT_EQ(3u, mailboxes[0].counts.messageCount);
  EXPECT_EQ(Idle, mailboxes[0].dialogue.state);
}

// With QUIT in the flight a server may close right after its answers,
// all of them still unread when the close is told.
TEST_F(FastScan, AServerThatClosesRightAfterItsAnswersIsReadToTheEnd) {
  server.capabilities = {"PIPELINING", "UIDL"};
  server.closesAfterQuit = true;
  for (int n = 1; n <= 3005; n++) server.uids.push_back("m" + std::to_string(n));
  server.headers.assign(3005, "X-Pad: " + std::string(12000, 'x') + "\r\nSubject: hi\r\n");
  for (int previews : {0, 1}) {
    accounts[0].showPreviews = previews;
    forget();
    check();
    EXPECT_EQ(3005u, mailboxes[0].counts.messageCount) << previews;
    EXPECT_EQ(UID_SLOTS, mailboxes[0].counts.newCount) << previews;
    EXPECT_EQ(previews ? 5u : 0u, previewCount(shownPreviews()));
    EXPECT_NE("NOGOODICON", icon()) << previews;
    EXPECT_EQ(0, app.busy) << previews;
  }
}

// A refusal ends the flight as it ends a session today, with no second
// QUIT: the replies to the commands sent with it are read and passed
// over, the listing with its lines, up to the answer to QUIT.
TEST_F(FastScan, ARefusalInAFlightPassesOverTheRepliesLeft) {
  struct Case {
    const char* command;
    const char* reply;
    const char* icon;
    const char* text;
  } cases[] = {
      {"USER", "-ERR no", "NOGOODICON", "ユーザーIDまたはパスワードが違います."},
      {"PASS", "-ERR [IN-USE] locked", "APPICON",
       "ほかのメールソフトがメールボックスを使用中にゃ."},
      {"PASS", "-ERR [LOGIN-DELAY] wait", "APPICON",
       "ログインの間隔が短すぎるとサーバに言われたにゃ."},
      {"STAT", "-ERR no", "NOGOODICON", "接続しているサーバはSTATコマンドに対応していません."},
      {"UIDL", "-ERR no", "NOGOODICON", "接続しているサーバはUIDLコマンドに対応していません."},
  };
  server.capabilities = {"PIPELINING", "UIDL", "LOGIN-DELAY 900"};
  server.uids = {"a", "b"};
  server.silentOn = {"QUIT"};
  for (const Case& c : cases) {
    resetRetries(&mailboxes[0]);
    server.replies.clear();
    server.replies[c.command] = c.reply;
    check();
    EXPECT_EQ("CAPA\r\nUSER cat\r\nPASS nyan\r\nSTAT\r\nUIDL\r\nQUIT\r\n", sent()) << c.reply;
    EXPECT_EQ(c.icon, icon()) << c.reply;
    EXPECT_EQ(c.text, tip()) << c.reply;
    // Every later reply was passed over: the session waits for QUIT's.
    EXPECT_EQ(AwaitQuitReply, mailboxes[0].dialogue.state) << c.reply;
    EXPECT_TRUE(standin::socketOpen(server.socket)) << c.reply;
    serverSay(server, "+OK bye\r\n");
    standin::pump();
    EXPECT_EQ(Idle, mailboxes[0].dialogue.state) << c.reply;
    EXPECT_FALSE(standin::socketOpen(server.socket)) << c.reply;
    EXPECT_EQ(0, app.busy);
    EXPECT_EQ(0u, mailboxes[0].known.knownCount) << c.reply;
  }
  EXPECT_LT(899000u, loginDelayLeftMs(&mailboxes[0]));
  // A mailbox that STAT finds empty: the listing sent with the flight is
  // passed over in the same way.
  server.replies.clear();
  server.replies["STAT"] = "+OK 0 0";
  check();
  EXPECT_EQ(AwaitQuitReply, mailboxes[0].dialogue.state);
  serverSay(server, "+OK bye\r\n");
  standin::pump();
  EXPECT_EQ(Idle, mailboxes[0].dialogue.state);
  EXPECT_EQ("APPICON", icon());
  // Without a listing in the flight, the answer to QUIT is read as such.
  settings.soundNewOnly = 0;
  server.replies.clear();
  server.replies["PASS"] = "-ERR no";
  check();
  serverSay(server, "+OK bye\r\n");
  standin::pump();
  EXPECT_EQ(Idle, mailboxes[0].dialogue.state);
}

}  // namespace

namespace {

// What CAPA said is kept for the server, port and security: the next
// check sends its flight right after the greeting. A refusal, or another
// server, asks again.
TEST_F(FastScan, TheKeptCapabilitiesSpareCapaUntilARefusalOrAnotherServer) {
  server.uids = {"a", "b"};
  server.capabilities = {"PIPELINING", "UIDL"};
  auto sessionOf = [this]() {
    check();
    standin::advance(1000);
    return sent();
  };
  const std::string flight = "USER cat\r\nPASS nyan\r\nSTAT\r\nUIDL\r\nQUIT\r\n";
  EXPECT_EQ("CAPA\r\n" + flight, sessionOf());
  EXPECT_EQ(flight, sessionOf());
  EXPECT_EQ(2u, mailboxes[0].counts.messageCount);
  server.replies["STAT"] = "-ERR [SYS/TEMP] busy";
  sessionOf();
  server.replies.erase("STAT");
  EXPECT_EQ("CAPA\r\n" + flight, sessionOf());
  accounts[0].port = 1110;
  EXPECT_EQ(0u, sessionOf().find("CAPA\r\n"));
  EXPECT_EQ(flight, sessionOf());
  strcpy(accounts[0].serverHost, "127.0.0.2");  // alike but for its last character
  EXPECT_EQ(0u, sessionOf().find("CAPA\r\n"));
}

}  // namespace
