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
    strcpy(settings.password, c.password);
    if (c.security != SECURITY_NONE) {
      strcpy(settings.serverHost, "localhost");
      standin::setHostAddress("localhost", "127.0.0.1");
      settings.connectionSecurity = server.tls = c.security;
      settings.port = c.security == SECURITY_TLS ? IMAP_TLS_PORT : IMAP_PORT;
      server.startTlsInjection = "* OK [CAPABILITY IMAP4rev1] injected\r\n* BYE injected\r\n";
    }
    fillMailbox();
    size_t before = sounds();
    check();
    standin::advance(2000);  // answers in pieces take a while
    std::vector<std::string> expected = c.opening;
    expected.insert(expected.end(),
                    {"EXAMINE INBOX", "UID FETCH 1:* (UID FLAGS)",
                     "UID FETCH 3 (BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)])", c.last});
    EXPECT_EQ(expected, said());
    EXPECT_EQ(3u, mailbox.counts.messageCount);
    EXPECT_EQ(1u, mailbox.counts.newCount);
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
    deliver(server, "From: Kuro <k@x>\r\nSubject: mew\r\n", flags);
    standin::advance(5000);
    EXPECT_TRUE(saidInOrder(from, {"DONE", "UID FETCH", "IDLE"})) << flags;
    EXPECT_EQ("IDLE", lastSaid());
    EXPECT_EQ(server.messages.size(), mailbox.counts.messageCount);
    EXPECT_EQ(before + flags.empty(), sounds()) << flags;
    if (flags.empty()) {
      EXPECT_EQ(std::vector<std::string>{"Kuro: mew"}, previews());
    }
  }
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
  EXPECT_TRUE(saidInOrder(from, {"EXAMINE INBOX", "UID FETCH 4:* (UID FLAGS)", "IDLE"}));
  EXPECT_TRUE(standin::socketOpen(server.socket));
  EXPECT_EQ(before, sounds());
  EXPECT_NE("NOGOODICON", icon());
}

// The server's keep-alives tell how long it may keep quiet: the first,
// soon after IDLE began, tells nothing. IDLE is renewed within 25 minutes
// on the same connection, and a server quiet for longer than its
// keep-alive and a minute is taken for gone and connected again.
TEST_F(Imap, KeepAlivesTellWhenAQuietServerIsGoneAndIdleIsRenewedInTime) {
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
  standin::advance(159000);  // the last word was the renewed IDLE's "+"
  EXPECT_EQ(1, server.connections);
  standin::advance(2000);
  EXPECT_EQ(2, server.connections);
}

// A BYE, in the greeting or later, ends the check without a word more from
// the program; the mail it did not count is new to the next check, and
// the mail it counted before the headers came is announced.
TEST_F(Imap, AByeEndsTheCheckAndTheMailStaysNew) {
  for (std::string at : {"greeting", "EXAMINE", "UID FETCH", "UID FETCH 3"}) {
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
    // Nothing after the flight that EXAMINE and the fetch went in.
    EXPECT_EQ(at == "greeting" ? "" : "UID FETCH", lastSaid().substr(0, 9));
    // Once counted, the count is announced all the same, without previews.
    bool counted = at == "UID FETCH 3";
    EXPECT_EQ(counted ? 1u : 0u, mailbox.counts.newCount);
    EXPECT_EQ(0u, previewCount(shownPreviews()));
    withoutIdle();
    server.byeOn.clear();
    check();
    EXPECT_EQ(counted ? 0u : 1u, mailbox.counts.newCount);
  }
}

// A session meant to be secured goes no further in clear: a server that
// offers no STARTTLS, or greets logged in already, hears nothing at all.
// A server that echoes the password leaves it out of the trace, and no
// header line gets there either.
TEST_F(Imap, NothingGoesInClearAndTheTraceKeepsNoSecret) {
  settings.connectionSecurity = SECURITY_STLS;
  for (const char* greeting :
       {"* OK [CAPABILITY IMAP4rev1 IDLE] hi", "* PREAUTH [CAPABILITY IDLE] hi"}) {
    server.greeting = greeting;
    check();
    EXPECT_EQ("NOGOODICON", icon()) << greeting;
    EXPECT_EQ(0u, server.commands.size()) << greeting;
  }
  settings.connectionSecurity = SECURITY_NONE;
  server.greeting = FakeImap().greeting;
  server.replies["LOGIN"] = "OK [CAPABILITY IMAP4rev1 IDLE] welcome, nyan";
  startTrace();
  fillMailbox();
  check();
  std::string trace = standin::readFile("C:\\KivvetLE-trace.txt");
  EXPECT_NE(std::string::npos, trace.find("LOGIN ********"));
  EXPECT_EQ(std::string::npos, trace.find("nyan"));
}

// What was seen outlives a restart: the next check asks only whether
// anything came since. A new UIDVALIDITY makes every UID another message's: nothing is
// announced, and counting goes on from its UIDNEXT.
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
  EXPECT_EQ(0u, mailbox.counts.newCount);
  EXPECT_EQ(3u, mailbox.counts.messageCount);
  server.uidValidity++;
  server.messages.clear();
  server.uidNext = 1;
  fillMailbox();
  deliver(server, "From: Kuro <k@x>\r\nSubject: mew\r\n");
  check();
  EXPECT_EQ(4u, mailbox.counts.messageCount);
  EXPECT_EQ(0u, mailbox.counts.newCount);
  EXPECT_FALSE(standin::timerRunning(window, TIMER_VOICE));
  deliver(server, "From: Kuro <k@x>\r\nSubject: mew again\r\n");
  check();
  EXPECT_EQ(1u, mailbox.counts.newCount);
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
  EXPECT_TRUE(saidInOrder(from, {"DONE", "UID FETCH 3,4,5,6:*", "IDLE", "DONE", "UID FETCH 4,5,6:*",
                                 "IDLE", "DONE", "UID FETCH 5,6:*"}));
  EXPECT_EQ("IDLE", lastSaid());
  EXPECT_EQ(0u, untoldCount(0));
  EXPECT_EQ(before, sounds());
  EXPECT_FALSE(standin::timerRunning(window, TIMER_BLINK));
  EXPECT_EQ("APPICON", icon());
}

}  // namespace
