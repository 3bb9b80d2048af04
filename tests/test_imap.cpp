// The IMAP dialogue as its server and its user see it: the ways in, new
// mail told by UID and flag, the previews, and IDLE's push with its ends.
#include "base/trace.h"
#include "tests/support/imapcheck.h"
#include "tray/previews.h"
#include "tray/register.h"

namespace {

// Disabled until the program speaks IMAP: the suite then loses its
// "DISABLED_".
class Imap : public ImapCheck {
 protected:
  // Two messages read long ago and one unread.
  void fillMailbox() {
    deliver(server, "From: Mike <m@x>\r\nSubject: old\r\n", "\\Seen");
    deliver(server, "From: Mike <m@x>\r\nSubject: older\r\n", "\\Answered \\Seen");
    deliver(server, "Received: x\r\nFrom: Tama <t@x>\r\nSubject: nyan\r\n");
  }
  void withoutIdle() {
    server.greeting = "* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] ready";
    server.capabilities = {"IMAP4rev1", "AUTH=PLAIN"};
  }
  std::vector<std::string> previews() {
    std::vector<std::string> lines;
    for (DWORD i = 0; i < previewCount(shownPreviews()); i++) {
      char line[2 * PREVIEW_TEXT_BYTES + 4];
      previewLine(shownPreviews(), i, line, sizeof line);
      lines.push_back(line);
    }
    return lines;
  }
  size_t sounds() { return standin::soundsPlayed().size(); }
};

// However the session opens (capabilities in the greeting or asked for,
// PREAUTH; a password quoted with its quote and backslash escaped, or a
// literal after the go-ahead or with LITERAL+; AUTHENTICATE PLAIN where
// LOGIN is disabled; STARTTLS, whose "OK" hides plain text behind it, or
// TLS from the first byte), the program looks at INBOX without setting a
// flag, counts the unread mail, asks the newest's headers, and stays in
// IDLE where the server has it.
TEST_F(Imap, EveryWayInLeadsToTheSameCountAndPreview) {
  const std::string login = "LOGIN \"cat\" \"nyan\"", plain = "AGNhdABueWFu";
  struct Case {
    std::string greeting;              // or just the capabilities it tells
    std::vector<std::string> opening;  // what comes before EXAMINE
    const char* password = "nyan";
    int security = SECURITY_NONE;
    std::string last = "IDLE";
    size_t pieces = 0;  // the server's answers in pieces of this many bytes
  } cases[] = {
      {"IMAP4rev1 IDLE", {login}},
      {"IMAP4rev1 IDLE", {login}, "nyan", SECURITY_NONE, "IDLE", 5},
      {"* OK ready", {"CAPABILITY", login}},
      {"* PREAUTH [CAPABILITY IMAP4rev1 IDLE] ready", {}},
      // IDLE may be offered once logged in: the capabilities are asked again.
      {"IMAP4rev1", {login, "CAPABILITY"}, "nyan", SECURITY_NONE, "LOGOUT"},
      {"IMAP4rev1 IDLE", {"LOGIN \"cat\" \"ny\\\"a\\\\n\""}, "ny\"a\\n"},
      {"IMAP4rev1 IDLE", {"LOGIN \"cat\" {9}\r\n表にゃ"}, "表にゃ"},
      {"IMAP4rev1 IDLE LITERAL+", {"LOGIN \"cat\" {9+}\r\n表にゃ"}, "表にゃ"},
      {"IMAP4rev1 IDLE LOGINDISABLED AUTH=PLAIN SASL-IR", {"AUTHENTICATE PLAIN " + plain}},
      // Seven bytes to encode: base64's padding of two.
      {"IMAP4rev1 IDLE LOGINDISABLED AUTH=PLAIN SASL-IR",
       {"AUTHENTICATE PLAIN AGNhdABueQ=="},
       "ny"},
      {"IMAP4rev1 IDLE LOGINDISABLED AUTH=PLAIN", {"AUTHENTICATE PLAIN", plain}},
      // The capabilities told in clear are asked again inside TLS.
      {"IMAP4rev1 STARTTLS IDLE", {"STARTTLS", "CAPABILITY", login}, "nyan", SECURITY_STLS},
      {"IMAP4rev1 IDLE", {login}, "nyan", SECURITY_TLS},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.opening));
    TearDown();
    server = FakeImap();
    SetUp();
    server.greeting =
        c.greeting[0] == '*' ? c.greeting : "* OK [CAPABILITY " + c.greeting + "] ready";
    server.loginDisabled = c.greeting.find("LOGINDISABLED") != std::string::npos;
    if (c.greeting == "IMAP4rev1") withoutIdle();
    server.password = c.password;
    server.pieceSize = c.pieces;
    strcpy(accounts[0].password, c.password);
    if (c.security != SECURITY_NONE) {
      strcpy(accounts[0].serverHost, "localhost");
      standin::setHostAddress("localhost", "127.0.0.1");
      accounts[0].connectionSecurity = server.tls = c.security;
      accounts[0].port = c.security == SECURITY_TLS ? IMAP_TLS_PORT : IMAP_PORT;
      server.startTlsInjection = "* OK [CAPABILITY IMAP4rev1] injected\r\n* BYE injected\r\n";
    }
    fillMailbox();
    size_t before = sounds();
    check();
    standin::advance(2000);  // answers in pieces take a while
    std::vector<std::string> expected = c.opening;
    expected.insert(expected.end(),
                    {"EXAMINE INBOX", "UID FETCH * (UID)", "UID SEARCH UNSEEN",
                     "UID FETCH 3 (BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)])", c.last});
    EXPECT_EQ(expected, said());
    EXPECT_EQ(3u, mailboxes[0].counts.messageCount);
    EXPECT_EQ(1u, mailboxes[0].counts.newCount);
    EXPECT_EQ(std::vector<std::string>{"Tama: nyan"}, previews());
    EXPECT_EQ(before + 1, sounds());
    EXPECT_FALSE(server.couldSetSeen);
    EXPECT_EQ(0, app.busy);
    EXPECT_EQ(c.last == "IDLE", standin::socketOpen(server.socket));
    if (c.security != SECURITY_NONE) {
      EXPECT_EQ(std::string::npos, sent().find("nyan"));  // nothing of the login in clear
    }
  }
}

// Mail that arrives during IDLE is fetched and announced at once in the
// same session, and the program idles again; mail that arrives already
// read is counted and kept quiet.
TEST_F(Imap, NewMailDuringIdleIsAnnouncedAtOnceAndIdleResumes) {
  fillMailbox();
  check();
  standin::advance(5000);  // the first announcement is over
  for (std::string flags : {"", "\\Seen"}) {
    size_t from = server.commands.size(), before = sounds();
    standin::clearTrace();
    deliver(server, "From: Kuro <k@x>\r\nSubject: mew\r\n", flags);
    standin::advance(5000);
    EXPECT_TRUE(saidInOrder(from, {"DONE", "UID SEARCH UID", "IDLE"})) << flags;
    // DONE leaves before the shell is asked to change the icon.
    const std::vector<std::string>& calls = standin::trace();
    auto first = [&](const std::string& prefix) {
      for (size_t i = 0; i < calls.size(); i++)
        if (calls[i].compare(0, prefix.size(), prefix) == 0) return i;
      return calls.size();
    };
    EXPECT_LT(first("send(\"DONE"), first("Shell_NotifyIconW(MODIFY")) << flags;
    // The count goes in DONE's send, without NOOP: the news is in.
    EXPECT_NE(std::string::npos, calls[first("send(\"DONE")].find("UID SEARCH")) << flags;
    EXPECT_FALSE(saidInOrder(from, {"NOOP"})) << flags;
    EXPECT_EQ("IDLE", lastSaid());
    EXPECT_EQ(server.messages.size(), mailboxes[0].counts.messageCount);
    EXPECT_EQ(before + flags.empty(), sounds()) << flags;
    if (flags.empty()) {
      EXPECT_EQ(std::vector<std::string>{"Kuro: mew"}, previews());
    }
  }
  // The menu's check asks NOOP first: the server told nothing.
  size_t from = server.commands.size();
  check();
  EXPECT_TRUE(saidInOrder(from, {"DONE", "NOOP", "UID SEARCH", "IDLE"}));
  EXPECT_EQ(1, server.connections);
  EXPECT_FALSE(server.couldSetSeen);
  EXPECT_EQ("新着メールを待っているにゃ", note());
}

// A server may end an IDLE after some minutes: the program connects again
// at once and quietly, asks only for what came since, and idles again.
TEST_F(Imap, AServerThatDropsIdleIsReconnectedQuietly) {
  server.idleDropMs = 3 * 60000;
  fillMailbox();
  check();
  standin::advance(5000);
  size_t from = server.commands.size(), before = sounds();
  standin::advance(3 * 60000 + 61000);
  EXPECT_EQ(2, server.connections);
  EXPECT_TRUE(saidInOrder(from, {"EXAMINE INBOX", "UID SEARCH UID 4:* UNSEEN", "IDLE"}));
  EXPECT_TRUE(standin::socketOpen(server.socket));
  EXPECT_EQ(before, sounds());
  EXPECT_NE("NOGOODICON", icon());
}

// New mail is counted by SEARCH for the unseen from the mark: the whole
// inbox at first, with ESEARCH's set for the previews or its count where
// the server offers it. A server that refuses SEARCH is asked every
// UID's flags; one that tells no UIDNEXT its highest UID, for the mark.
TEST_F(Imap, SearchCountsTheUnseenFromTheMark) {
  const std::string headers = " (BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)])";
  struct Case {
    std::string server;
    std::vector<std::string> first, later;  // the commands that count and fetch
  } cases[] = {
      {"",
       {"FETCH * (UID)", "SEARCH UNSEEN", "FETCH 3,4" + headers},
       {"FETCH * (UID)", "SEARCH UID 6:* UNSEEN", "FETCH 6" + headers}},
      {"ESEARCH",
       {"FETCH * (UID)", "SEARCH RETURN (ALL) UNSEEN", "FETCH 3,4" + headers},
       {"FETCH * (UID)", "SEARCH RETURN (ALL) UID 6:* UNSEEN", "FETCH 6" + headers}},
      {"NOOP answered last",
       {"FETCH * (UID)", "SEARCH UNSEEN", "FETCH 3,4" + headers},
       {"FETCH * (UID)", "SEARCH UID 6:* UNSEEN", "FETCH 6" + headers}},
      {"ESEARCH told by the login",
       {"FETCH * (UID)", "SEARCH UNSEEN", "FETCH 3,4" + headers},
       {"FETCH * (UID)", "SEARCH RETURN (ALL) UID 6:* UNSEEN", "FETCH 6" + headers}},
      {"ESEARCH, no previews",
       {"FETCH * (UID)", "SEARCH RETURN (COUNT MAX) UNSEEN"},
       {"FETCH * (UID)", "SEARCH RETURN (COUNT MAX) UID 6:* UNSEEN"}},
      {"SEARCH refused",
       {"FETCH * (UID)", "SEARCH UNSEEN", "FETCH 1:* (UID FLAGS)", "FETCH 3,4" + headers},
       {"FETCH 6:* (UID FLAGS)", "FETCH 6" + headers}},
      {"no UIDNEXT",
       {"FETCH * (UID)", "SEARCH UNSEEN", "FETCH 3,4" + headers},
       {"FETCH * (UID)", "SEARCH UID 6:* UNSEEN", "FETCH 6" + headers}},
      {"IDLE ended with the news",
       {"FETCH * (UID)", "SEARCH UNSEEN", "FETCH 3,4" + headers},
       {"FETCH * (UID)", "SEARCH UID 6:* UNSEEN", "FETCH 6" + headers}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.server);
    TearDown();
    server = FakeImap();
    SetUp();
    bool esearch = c.server.rfind("ESEARCH", 0) == 0 && c.server != "ESEARCH told by the login";
    server.greeting =
        std::string("* OK [CAPABILITY IMAP4rev1 IDLE") + (esearch ? " ESEARCH" : "") + "] ready";
    accounts[0].showPreviews = c.server != "ESEARCH, no previews";
    server.noUidNext = c.server == "no UIDNEXT";
    server.idleEndsWithNews = c.server == "IDLE ended with the news";
    if (c.server == "SEARCH refused") server.replies["UID SEARCH"] = "BAD unknown command";
    if (c.server == "NOOP answered last") server.heldBack = "NOOP";
    if (c.server == "ESEARCH told by the login")
      server.replies["LOGIN"] = "OK [CAPABILITY IMAP4rev1 IDLE ESEARCH] in";
    fillMailbox();
    deliver(server, "From: Kuro <k@x>\r\nSubject: mew\r\n");
    deliver(server, "From: Kuro <k@x>\r\nSubject: read\r\n", "\\Seen");
    check();
    EXPECT_EQ(2u, mailboxes[0].counts.newCount);
    size_t from = server.commands.size();
    deliver(server, "From: Kuro <k@x>\r\nSubject: again\r\n");
    standin::advance(5000);
    EXPECT_EQ(1u, mailboxes[0].counts.newCount);
    std::vector<std::string> counting[2];
    for (size_t i = 0; i < server.commands.size(); i++)
      if (said()[i].rfind("UID ", 0) == 0) counting[i >= from].push_back(said()[i].substr(4));
    EXPECT_EQ(c.first, counting[0]);
    EXPECT_EQ(c.later, counting[1]);
  }
}

// The server's keep-alives tell how long it may keep quiet: the first,
// soon after IDLE began, tells nothing. IDLE is renewed within 25 minutes
// on the same connection, and a server quiet for longer than its
// keep-alive and a minute is taken for gone and connected again. One that
// vanished without a word is taken up again quietly when the user asks,
// and found by the system's keep-alives long before the renewal.
TEST_F(Imap, KeepAlivesTellWhenAQuietServerIsGoneAndIdleIsRenewedInTime) {
  accounts[0].intervalMinutes = 60;
  fillMailbox();
  check();
  standin::advance(20000);
  imapSay(server, "* OK still here\r\n");
  size_t from = server.commands.size();
  for (int i = 0; i < 12; i++) {
    standin::advance(120000);
    imapSay(server, "* OK still here\r\n");
  }
  EXPECT_EQ(from, server.commands.size());
  standin::advance(60000);  // 25 minutes after IDLE began, and 20 s more
  EXPECT_TRUE(saidInOrder(from, {"DONE", "IDLE"}));
  EXPECT_EQ(from + 2, server.commands.size());  // a renewal counts nothing
  standin::advance(159000);                     // the last word was the renewed IDLE's "+"
  EXPECT_EQ(1, server.connections);
  standin::advance(2000);
  EXPECT_EQ(2, server.connections);
  standin::advance(60000);
  standin::serverVanishes(server.socket);
  check();
  standin::advance(61000);
  EXPECT_EQ(3, server.connections);
  EXPECT_NE("NOGOODICON", icon());
  standin::serverVanishes(server.socket);
  standin::advance(3 * 60000);
  EXPECT_EQ(4, server.connections);
}

// A BYE, in the greeting or later, ends the check without a word more from
// the program; the mail it did not count is new to the next check, and
// the mail it counted before the headers came is announced.
TEST_F(Imap, AByeEndsTheCheckAndTheMailStaysNew) {
  for (std::string at : {"greeting", "EXAMINE", "UID SEARCH", "UID FETCH 3"}) {
    SCOPED_TRACE(at);
    TearDown();
    server = FakeImap();
    SetUp();
    withoutIdle();
    fillMailbox();
    if (at == "greeting")
      server.greeting = "* BYE too busy";
    else
      server.byeOn = {at};
    check();
    EXPECT_EQ(0, app.busy);
    EXPECT_FALSE(standin::socketOpen(server.socket));
    // Nothing after the flight that EXAMINE and the search went in.
    std::string last = at == "greeting" ? "" : at == "UID FETCH 3" ? at : "UID SEARCH";
    EXPECT_EQ(last, lastSaid().substr(0, last.size()));
    // Once counted, the count is announced all the same, without previews.
    bool counted = at == "UID FETCH 3";
    EXPECT_EQ(counted ? 1u : 0u, mailboxes[0].counts.newCount);
    EXPECT_EQ(0u, previewCount(shownPreviews()));
    withoutIdle();
    server.byeOn.clear();
    check();
    EXPECT_EQ(counted ? 0u : 1u, mailboxes[0].counts.newCount);
  }
}

// A session meant to be secured goes no further in clear: a server that
// offers no STARTTLS, or greets logged in already, hears nothing at all.
// A server that echoes the password leaves it out of the trace, and no
// header line or UID of a search gets there either.
TEST_F(Imap, NothingGoesInClearAndTheTraceKeepsNoSecret) {
  accounts[0].connectionSecurity = SECURITY_STLS;
  for (const char* greeting :
       {"* OK [CAPABILITY IMAP4rev1 IDLE] hi", "* PREAUTH [CAPABILITY IDLE] hi"}) {
    server.greeting = greeting;
    check();
    EXPECT_EQ("NOGOODICON", icon()) << greeting;
    EXPECT_EQ(0u, server.commands.size()) << greeting;
  }
  accounts[0].connectionSecurity = SECURITY_NONE;
  server.greeting = FakeImap().greeting;
  server.replies["LOGIN"] = "OK [CAPABILITY IMAP4rev1 IDLE] welcome, nyan";
  startTrace();
  fillMailbox();
  check();
  std::string trace = standin::readFile("C:\\KivvetLE-trace.txt");
  EXPECT_NE(std::string::npos, trace.find("LOGIN ********"));
  EXPECT_EQ(std::string::npos, trace.find("nyan"));
  EXPECT_NE(std::string::npos, trace.find("reply * SEARCH: 1 found"));  // not its UIDs
  size_t login = trace.find("LOGIN ********");                          // of the first mailbox
  EXPECT_NE(std::string::npos, trace.rfind(" [1] ", login));
  EXPECT_GT(trace.rfind(" [1] ", login), trace.rfind('\n', login));
}

// What was seen outlives a restart: the next check asks only whether
// anything came since. A new UIDVALIDITY makes every UID another message's: nothing is
// announced, and counting goes on from its UIDNEXT, or, where the server
// tells none, past the highest UID it has.
TEST_F(Imap, WhatWasSeenOutlivesARestartButNotANewUidValidity) {
  withoutIdle();
  fillMailbox();
  check();
  restart();
  size_t from = server.commands.size();
  check();
  // Without IDLE the session ends with the check: STATUS's UIDNEXT, the
  // mark's, says nothing came, and the inbox is not even examined.
  EXPECT_TRUE(saidInOrder(from, {"STATUS INBOX (MESSAGES UIDNEXT UIDVALIDITY)", "LOGOUT"}));
  EXPECT_FALSE(saidInOrder(from, {"EXAMINE"}));
  EXPECT_EQ(0u, mailboxes[0].counts.newCount);
  EXPECT_EQ(3u, mailboxes[0].counts.messageCount);
  server.uidValidity++;
  server.messages.clear();
  server.uidNext = 1;
  fillMailbox();
  deliver(server, "From: Kuro <k@x>\r\nSubject: mew\r\n");
  check();
  EXPECT_EQ(4u, mailboxes[0].counts.messageCount);
  EXPECT_EQ(0u, mailboxes[0].counts.newCount);
  EXPECT_FALSE(standin::timerRunning(window, TIMER_VOICE));
  deliver(server, "From: Kuro <k@x>\r\nSubject: mew again\r\n");
  check();
  EXPECT_EQ(1u, mailboxes[0].counts.newCount);
  server.noUidNext = true;
  server.uidValidity++;
  server.messages.clear();
  server.uidNext = 1;
  fillMailbox();
  check();
  deliver(server, "From: Kuro <k@x>\r\nSubject: mew once more\r\n");
  check();
  EXPECT_EQ(1u, mailboxes[0].counts.newCount);
}

// The mark belongs to its account, in a record older copies read: another
// user with the same UIDVALIDITY starts as a first check does. A server
// that renumbers every session is explained in the tooltip.
TEST_F(Imap, TheMarkBelongsToItsAccount) {
  withoutIdle();
  settings.blinkNewOnly = 1;
  fillMailbox();
  check();
  std::string file = standin::readFile("C:\\KivvetLE.log");
  for (char& c : file) c = (char)~c;
  EXPECT_EQ(std::string("IMAP 1000 4\0", 12), file.substr(32768, 12));
  accounts[0].port = 10143;  // the same mailbox, through another port
  check();
  EXPECT_EQ(0u, mailboxes[0].counts.newCount);
  strcpy(accounts[0].userId, (server.user = "dog").c_str());
  server.messages.clear();
  server.uidNext = 1;
  deliver(server, "From: Kuro <k@x>\r\nSubject: one\r\n");
  deliver(server, "From: Kuro <k@x>\r\nSubject: two\r\n");
  check();
  EXPECT_EQ(2u, mailboxes[0].counts.newCount);
  server.validityPerSession = true;
  check();
  check();
  EXPECT_EQ("サーバが毎回メールの番号を付け直すにゃ", note());
}

// Push never brings mail later than polling: an IDLE that tells nothing is
// renewed as a check at the user's shorter interval, and an IDLE the
// server ends by itself is begun again.
TEST_F(Imap, AnIdleThatTellsNothingIsAskedAtTheInterval) {
  for (bool silent : {true, false}) {
    SCOPED_TRACE(silent);
    TearDown();
    server = FakeImap();
    SetUp();
    accounts[0].intervalMinutes = silent ? 1 : 60;
    server.silentIdle = silent;
    server.idleEndMs = silent ? 0 : 2 * 60000;
    fillMailbox();
    check();
    standin::advance(silent ? 5000 : 3 * 60000);
    size_t before = sounds();
    deliver(server, "From: Kuro <k@x>\r\nSubject: mew\r\n");
    standin::advance(silent ? 60000 : 5000);
    EXPECT_EQ(before + 1, sounds());
    EXPECT_EQ(1, server.connections);
  }
}

// A FETCH told unasked, before the fetch's own answers, hides no unread
// message; an EXPUNGE lowers the count, so the next EXISTS is news.
TEST_F(Imap, WhatTheServerTellsUnaskedKeepsTheCountRight) {
  fillMailbox();
  check();
  server.replies["NOOP"] = "* 5 FETCH (UID 5 FLAGS (\\Seen))\r\nOK NOOP completed";
  server.silentIdle = true;
  deliver(server, "From: Kuro <k@x>\r\nSubject: mew\r\n");
  deliver(server, "From: Kuro <k@x>\r\nSubject: read\r\n", "\\Seen");
  check();  // untold: the menu's check asks NOOP
  EXPECT_EQ(1u, mailboxes[0].counts.newCount);
  server.silentIdle = false;
  server.messages.erase(server.messages.begin());
  imapSay(server, "* 1 EXPUNGE\r\n");
  server.toldExists = 4;
  deliver(server, "From: Kuro <k@x>\r\nSubject: again\r\n");
  standin::pump();
  EXPECT_EQ("UID SEARCH UID 6:* UNSEEN", said().end()[-3]);
}

// A refused login says what the server said (an ALERT, cleaned as a
// preview is); a server busy for now is asked again soon; only a refusal
// of the credentials, or a bare NO, is a wrong password. An empty mailbox
// whose server refuses "n:*" is empty, not a failure.
TEST_F(Imap, ARefusalTellsWhatTheServerSaid) {
  const std::string wrong = "ユーザーIDまたはパスワードが違います.";
  struct Case {
    std::string command, reply, tip;
    bool soon;
  } cases[] = {
      {"LOGIN", "NO [ALERT] Too many\x07 connections", "「Too many connections」", false},
      {"LOGIN", "NO [AUTHENTICATIONFAILED] no", wrong, false},
      {"LOGIN", "NO [INUSE] busy", "ほかのメールソフトがメールボックスを使用中にゃ.", true},
      {"LOGIN", "NO no", wrong, false},
      {"LOGIN", "NO [PRIVACYREQUIRED] use TLS", "「use TLS」", false},
      {"UID", "BAD invalid message set", "", false},  // the search refused too
  };
  accounts[0].intervalMinutes = 60;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reply);
    server.replies = {{c.command, c.reply}};
    check();
    EXPECT_EQ(c.tip.empty() || c.soon ? "APPICON" : "NOGOODICON", icon());
    EXPECT_NE(std::string::npos, tip().find(c.tip)) << tip();
    if (c.command == "LOGIN") {
      EXPECT_EQ(c.soon ? 60000u : 3600000u, standin::timerPeriod(window, TIMER_INTERVAL));
    }
  }
}

}  // namespace

namespace {

// Kept told, mail pushed one by one adds up; a message flagged \Seen by
// another client, told during IDLE, or expunged, leaves the register at
// once, and the last one going stops the blink without a sound.
TEST_F(Imap, PushedMailAddsUpAndMailReadElsewhereIsTakenBack) {
  settings.keepTelling = 1;
  settings.blinkNewOnly = 1;
  fillMailbox();
  check();
  for (const char* who : {"Kuro", "Shiro"}) {
    deliver(server, "From: " + std::string(who) + " <k@x>\r\nSubject: mew\r\n");
    standin::advance(5000);
  }
  EXPECT_EQ(3u, untoldCount(0));
  EXPECT_EQ((std::vector<std::string>{"Shiro: mew", "Kuro: mew", "Tama: nyan"}), previews());
  size_t before = sounds(), from = server.commands.size();
  // Tama's read, Kuro's expunged, then Shiro's read.
  for (std::string news : {"3 FETCH (FLAGS (\\Seen))", "4 EXPUNGE", "4 FETCH (FLAGS (\\Seen))"}) {
    if (news == "4 EXPUNGE")
      server.messages.erase(server.messages.begin() + 3);
    else
      server.messages[news[0] - '1'].flags = "\\Seen";
    server.toldExists = server.messages.size();
    imapSay(server, "* " + news + "\r\n");
    standin::advance(1000);
  }
  EXPECT_TRUE(
      saidInOrder(from, {"DONE", "UID FETCH 3,4,5 (UID FLAGS)", "UID SEARCH", "IDLE", "DONE",
                         "UID FETCH 4,5 (UID FLAGS)", "IDLE", "DONE", "UID FETCH 5 (UID FLAGS)"}));
  EXPECT_EQ("IDLE", lastSaid());
  EXPECT_EQ(0u, untoldCount(0));
  EXPECT_EQ(before, sounds());
  EXPECT_FALSE(standin::timerRunning(window, TIMER_BLINK));
  EXPECT_EQ("APPICON", icon());
}

}  // namespace
