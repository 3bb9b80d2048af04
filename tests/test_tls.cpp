// Checks over TLS: implicit TLS and STLS carry the same dialogue inside
// the channel; a bad certificate, a refused handshake or a server without
// STLS end the check before the password leaves the program; whatever
// way a session ends, SChannel gets back everything it handed out.
#include "app/mainwindow.h"
#include "check/check.h"
#include "check/mailboxes.h"
#include "check/md5.h"
#include "net/tls.h"
#include "tests/support/mailcheck.h"

namespace {

const char TEXT_TLS_FAILED[] = "暗号化通信を始められなかったにゃ.";
const char TEXT_CERT_UNTRUSTED[] = "サーバの証明書が信頼できないにゃ.";
const char TEXT_CERT_WRONG_HOST[] = "証明書のサーバ名が違うにゃ.";
const char TEXT_CERT_EXPIRED[] = "サーバの証明書の期限切れにゃ.";
const char TEXT_NO_STLS[] = "サーバがSTLSに対応していないにゃ.";
const char TEXT_CERT_REVOKED[] = "サーバの証明書は取り消されているにゃ.";
const char TEXT_CERT_CHANGED[] = "サーバの証明書が途中で変わったにゃ.";

class TlsCheck : public MailCheck {
 protected:
  void SetUp() override {
    MailCheck::SetUp();
    strcpy(accounts[0].serverHost, "localhost");
    standin::setHostAddress("localhost", "127.0.0.1");
    server.uids = {"a1", "b2", "c3"};
  }
  void useImplicitTls() {
    accounts[0].connectionSecurity = SECURITY_TLS;
    accounts[0].port = 995;
    server.tls = SECURITY_TLS;
  }
  void useStls() {
    accounts[0].connectionSecurity = SECURITY_STLS;
    server.tls = SECURITY_STLS;
  }
  // The session is over and SChannel has everything back, but for the
  // credentials, which the program's end gives back.
  void expectSessionGone() {
    EXPECT_FALSE(standin::socketOpen(server.socket));
    endTlsForShutdown(&mailboxes[0].connection.tls);
    EXPECT_EQ(0, standin::liveTlsObjects());
    EXPECT_EQ(TlsOff, mailboxes[0].connection.tls.phase);
    EXPECT_EQ(0, app.busy);
  }
  bool passwordLeft() {
    for (const std::string& command : server.commands)
      if (command.rfind("PASS", 0) == 0 || command.rfind("APOP", 0) == 0 ||
          command.rfind("USER", 0) == 0)
        return true;
    return sent().find("nyan") != std::string::npos;
  }
};

TEST_F(TlsCheck, ImplicitTlsRunsTheWholeDialogueInsideTheChannel) {
  useImplicitTls();
  settings.soundNewOnly = 1;
  check();
  EXPECT_EQ("APPICON", icon());
  EXPECT_EQ(3u, mailboxes[0].counts.messageCount);
  EXPECT_EQ((std::vector<std::string>{"CAPA", "USER cat", "PASS nyan", "STAT", "UIDL 1", "UIDL 2",
                                      "UIDL 3", "QUIT"}),
            server.commands);
  EXPECT_EQ(995, standin::lastConnectPort());
  // Nothing of the dialogue crossed the wire in clear.
  EXPECT_EQ(std::string::npos, sent().find("USER"));
  EXPECT_EQ(std::string::npos, sent().find("nyan"));
  EXPECT_EQ(
      (DWORD)(SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO),
      standin::lastCredentialFlags());
  EXPECT_EQ((DWORD)(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT),
            standin::lastCredentialProtocols());
  EXPECT_EQ((DWORD)SCH_CREDENTIALS_VERSION, standin::lastCredentialVersion());
  // Revocation of the chain short of its root, fetched briefly.
  EXPECT_NE(0u, standin::lastChainFlags() & CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT);
  EXPECT_NE(0u, standin::lastChainFlags() & CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT);
  EXPECT_GT(standin::lastChainTimeout(), 0u);
  EXPECT_LE(standin::lastChainTimeout(), 5000u);
  expectSessionGone();
  EXPECT_EQ(600000u, standin::timerPeriod(window, TIMER_INTERVAL));
}

TEST_F(TlsCheck, LoginDelayFromCapaSpacesTheChecksWhateverTheInterval) {
  useImplicitTls();
  accounts[0].intervalMinutes = 1;
  // EXPIRE (RFC 2449) is no spacing of logins, whatever its number.
  server.replies["CAPA"] = "+OK\r\nUIDL\r\nLOGIN-DELAY 900 USER\r\nEXPIRE 1440\r\n.";
  check();
  EXPECT_LT(899000u, loginDelayLeftMs(&mailboxes[0]));
  PostMessageW(window, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);  // nor a wake
  standin::advance(899000);
  EXPECT_EQ(1, server.connections);
  standin::advance(2000);
  EXPECT_EQ(2, server.connections);
  // More than a day waits a day, whatever the number.
  for (const char* seconds : {"100000", "4294967296"}) {
    server.replies["CAPA"] = std::string("+OK\r\nLOGIN-DELAY ") + seconds + "\r\n.";
    check();
    EXPECT_EQ(86400000u, standin::timerPeriod(window, TIMER_INTERVAL)) << seconds;
  }
}

TEST_F(TlsCheck, StlsLogsInAfterTheHandshakeWithTheFirstGreetingsTimestamp) {
  useStls();
  accounts[0].useApop = 1;
  check();
  EXPECT_EQ("APPICON", icon());
  ASSERT_EQ(5u, server.commands.size());
  EXPECT_EQ("STLS", server.commands[0]);
  EXPECT_EQ("CAPA", server.commands[1]);  // asked anew inside the channel
  char digest[33];
  apopDigest(digest, "<1896.697170952@dbc.mtview.ca.us>nyan");
  EXPECT_EQ(std::string("APOP cat ") + digest, server.commands[2]);
  EXPECT_EQ("STAT", server.commands[3]);
  // Only STLS itself went in clear.
  EXPECT_EQ(0u, sent().find("STLS\r\n"));
  EXPECT_EQ(std::string::npos, sent().find("APOP"));
  expectSessionGone();
}

TEST_F(TlsCheck, PlainTextBehindTheAnswerToStlsIsNeverRead) {
  // A man in the middle appends his own reply to the server's "+OK": it
  // would be read as the answer to the next command.
  useStls();
  server.replies["STLS"] = "+OK begin TLS\r\n-ERR injected";
  standin::onLineSent([this](SOCKET s, const std::string& line) {
    server.commands.push_back(line);
    if (line == "STLS") {
      standin::serverSends(s, "+OK begin TLS\r\n-ERR injected\r\n+OK 9 9\r\n");
      standin::serveTls(s, server.tlsScript);
    } else if (line == "USER cat" || line == "PASS nyan" || line == "CAPA") {
      standin::serverSends(s, line == "CAPA" ? "+OK\r\n.\r\n" : "+OK\r\n");
    } else if (line == "STAT") {
      standin::serverSends(s, "+OK 2 100\r\n");
    } else if (line == "QUIT") {
      standin::serverSends(s, "+OK bye\r\n");
    }
  });
  check();
  EXPECT_EQ("APPICON", icon());
  EXPECT_EQ(2u, mailboxes[0].counts.messageCount);
  EXPECT_EQ((std::vector<std::string>{"STLS", "CAPA", "USER cat", "PASS nyan", "STAT", "QUIT"}),
            server.commands);
}

TEST_F(TlsCheck, AServerWithoutStlsIsLeftBeforeTheLogin) {
  accounts[0].connectionSecurity = SECURITY_STLS;  // the server speaks plain text only
  check();
  EXPECT_EQ("NOGOODICON", icon());
  EXPECT_EQ(TEXT_NO_STLS, tip());
  // Not even QUIT goes in clear on a session meant to be encrypted.
  EXPECT_EQ((std::vector<std::string>{"STLS"}), server.commands);
  EXPECT_FALSE(passwordLeft());
  expectSessionGone();
}

TEST_F(TlsCheck, ABadCertificateEndsTheCheckBeforeAnyLogin) {
  struct Case {
    const char* name;
    bool trusted, expired, revoked, offline;
    const char* text;
  } cases[] = {
      {"mail.example.com", true, false, false, false, TEXT_CERT_WRONG_HOST},
      {"localhost", false, false, false, false, TEXT_CERT_UNTRUSTED},
      {"localhost", true, true, false, false, TEXT_CERT_EXPIRED},
      {"localhost", true, false, true, false, TEXT_CERT_REVOKED},
      {"LOCALHOST", true, false, false, false, nullptr},  // names compare without case
      {"localhost", true, false, false, true, nullptr},   // nobody could tell: it passes
      {"mail.example.com", true, false, false, true, TEXT_CERT_WRONG_HOST},
  };
  for (int stls = 0; stls < 2; stls++)
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (stls ? " over STLS" : " over implicit TLS"));
      stls ? useStls() : useImplicitTls();
      server.tlsScript.certificateName = c.name;
      server.tlsScript.trusted = c.trusted;
      server.tlsScript.expired = c.expired;
      server.tlsScript.revoked = c.revoked;
      server.tlsScript.revocationOffline = c.offline;
      server.commands.clear();
      check();
      if (c.text == nullptr) {
        EXPECT_EQ("APPICON", icon());
        EXPECT_TRUE(passwordLeft());
      } else {
        EXPECT_EQ("NOGOODICON", icon());
        EXPECT_EQ(c.text, tip());
        EXPECT_FALSE(passwordLeft());
        EXPECT_EQ(stls ? std::vector<std::string>{"STLS"} : std::vector<std::string>{},
                  server.commands);
      }
      expectSessionGone();
    }

  // Wine's policy calls a revoked chain's revocation unknown: the chain
  // still says revoked, and it is never asked again with revocation
  // ignored.
  standin::answerRevocationAsWine();
  server.tlsScript = standin::TlsServer();
  server.tlsScript.revoked = true;
  server.commands.clear();
  check();
  EXPECT_EQ(TEXT_CERT_REVOKED, tip());
  EXPECT_FALSE(passwordLeft());
  expectSessionGone();

  // A server name that cannot be converted for the check names nothing.
  useImplicitTls();
  strcpy(accounts[0].serverHost, "mail\xFF");
  standin::setHostAddress("mail\xFF", "127.0.0.1");
  server.tlsScript = standin::TlsServer();
  check();
  EXPECT_EQ(TEXT_CERT_WRONG_HOST, tip());
  EXPECT_FALSE(passwordLeft());
  expectSessionGone();
}

TEST_F(TlsCheck, EventsOutOfOrderNeverReadOrSendPlainText) {
  // Under implicit TLS: the greeting in clear before the connection is
  // reported, then the connection reported twice.
  useImplicitTls();
  standin::onConnect([this](SOCKET s) {
    server.socket = s;
    standin::serverSends(s, server.greeting + "\r\n");
    standin::connectionEstablished(s, 0);
    standin::connectionEstablished(s, 0);
    standin::serveTls(s, server.tlsScript);
  });
  check();
  EXPECT_EQ(1u, standin::traceOf("InitializeSecurityContextA(hello)").size());
  EXPECT_EQ(std::string::npos, sent().find("USER"));
  // What came before the connection is never read, so this session hears
  // no more and ends at its time-out with every handle given back.
  EXPECT_TRUE(server.commands.empty());
  standin::advance(RESPONSE_TIMEOUT_MS + 1000);
  expectSessionGone();

  // A session meant for STLS sends nothing else in clear, whatever it is
  // asked to send.
  useStls();
  server.greets = false;
  check();
  mailboxes[0].dialogue.state = AwaitUserReply;
  EXPECT_EQ(0, sendText(&mailboxes[0].connection, "PASS nyan\r\n", 11));
  EXPECT_EQ(std::string::npos, sent().find("nyan"));
}

TEST_F(TlsCheck, ALaterHandshakeMustShowTheFirstCertificate) {
  useImplicitTls();
  server.greets = false;
  check();
  ASSERT_EQ(TlsOpen, mailboxes[0].connection.tls.phase);
  std::string same = "server-finished name=localhost trusted=1 expired=0 revoked=0 offline=0";
  standin::serverSendsRaw(server.socket, standin::tlsRecord(0x16, same));
  standin::pump();
  ASSERT_EQ(TlsOpen, mailboxes[0].connection.tls.phase);
  std::string other = "server-finished name=localhost trusted=1 expired=0 revoked=0 offline=1";
  standin::serverSendsRaw(server.socket, standin::tlsRecord(0x16, other) +
                                             standin::tlsDataRecord(server.greeting + "\r\n"));
  standin::pump();
  EXPECT_EQ(TEXT_CERT_CHANGED, tip());
  EXPECT_FALSE(passwordLeft());
  expectSessionGone();

  // A handshake that does not grant what the channel is relied on for.
  server.greets = true;
  for (ULONG withheld : {ISC_RET_CONFIDENTIALITY, ISC_RET_REPLAY_DETECT, ISC_RET_STREAM}) {
    server.tlsScript.withheld = withheld;
    check();
    EXPECT_EQ(TEXT_TLS_FAILED, tip());
    EXPECT_FALSE(passwordLeft());
    expectSessionGone();
  }
}

TEST_F(TlsCheck, AFailedHandshakeSaysSo) {
  // The server refuses with an alert; credentials can't be had; a plain
  // POP3 server answers on the port that was to speak TLS.
  for (int variant = 0; variant < 3; variant++) {
    SCOPED_TRACE(variant);
    useImplicitTls();
    server.tlsScript.refusesHandshake = variant == 0;
    if (variant == 1) standin::failCredentials(2);  // the newer request and the older
    if (variant == 2) server.tls = 0;
    server.commands.clear();
    check();
    EXPECT_EQ("NOGOODICON", icon());
    EXPECT_EQ(TEXT_TLS_FAILED, tip());
    EXPECT_TRUE(server.commands.empty());
    expectSessionGone();
    EXPECT_EQ(600000u, standin::timerPeriod(window, TIMER_INTERVAL));
  }
}

TEST_F(TlsCheck, TheHandshakeSurvivesPiecesRequestsAndTickets) {
  // Handshake records one byte at a time, a request for a client
  // certificate (there is none to give), a ticket after the finish, and
  // replies cut into small records.
  useImplicitTls();
  server.tlsScript.pieceSize = 1;
  server.tlsScript.asksForCertificate = true;
  server.tlsScript.sendsTicket = true;
  server.pieceSize = 3;
  check();
  standin::advance(1000);
  EXPECT_NE("NOGOODICON", icon());
  EXPECT_EQ(3u, mailboxes[0].counts.messageCount);
  EXPECT_EQ((std::vector<std::string>{"CAPA", "USER cat", "PASS nyan", "STAT", "QUIT"}),
            server.commands);
  expectSessionGone();
}

TEST_F(TlsCheck, ARecordWaitsForItsLastByte) {
  useImplicitTls();
  server.greets = false;
  check();
  ASSERT_EQ(TlsOpen, mailboxes[0].connection.tls.phase);
  std::string greeting = standin::tlsDataRecord(server.greeting + "\r\n");
  standin::serverSendsRaw(server.socket, greeting.substr(0, greeting.size() - 1));
  standin::pump();
  EXPECT_TRUE(server.commands.empty());
  standin::serverSendsRaw(server.socket, greeting.substr(greeting.size() - 1));
  standin::advance(100);
  EXPECT_EQ("APPICON", icon());
  EXPECT_EQ(3u, mailboxes[0].counts.messageCount);
}

TEST_F(TlsCheck, ARecordLargerThanTLSAllowsEndsTheCheck) {
  useImplicitTls();
  server.greets = false;
  check();
  ASSERT_EQ(TlsOpen, mailboxes[0].connection.tls.phase);
  std::string header("\x17\x03\x03\xFF\xFF", 5);
  standin::serverSendsRaw(server.socket, header + std::string(TLS_INPUT_BYTES, 'x'));
  standin::pump();
  EXPECT_EQ("NOGOODICON", icon());
  EXPECT_EQ(TEXT_TLS_FAILED, tip());
  expectSessionGone();
}

TEST_F(TlsCheck, AHandshakeThatFillsTheInputEndsTheCheckAtOnce) {
  useImplicitTls();
  server.tls = 0;
  server.greets = false;
  check();
  std::string header("\x16\x03\x03\xFF\xFF", 5);
  standin::serverSendsRaw(server.socket, header + std::string(TLS_INPUT_BYTES, 'x'));
  standin::pump();
  EXPECT_EQ(TEXT_TLS_FAILED, tip());
  expectSessionGone();
}

TEST_F(TlsCheck, ARecordOfManyLinesGivesEveryLine) {
  useImplicitTls();
  accounts[0].fastScan = 1;
  settings.soundNewOnly = 1;
  server.uids.clear();
  for (int n = 1; n <= 300; n++) server.uids.push_back("uid" + std::to_string(n));
  check();
  EXPECT_EQ("APPICON", icon());
  EXPECT_EQ(300u, mailboxes[0].counts.newCount);
  EXPECT_STREQ("uid300", mailboxes[0].knownUids[299]);
}

TEST_F(TlsCheck, TheServerClosingTheChannelEndsTheSessionAsAHangUpWould) {
  useImplicitTls();
  server.silentOn = {"STAT", "QUIT"};
  check();
  standin::serverSendsRaw(server.socket, standin::tlsRecord(0x15, "close-notify"));
  standin::pump();
  EXPECT_EQ("NOGOODICON", icon());
  EXPECT_EQ("サーバからデータが転送されませんでした.", tip());
  expectSessionGone();

  // After QUIT the result stands; the close only ends the session.
  server.silentOn = {"QUIT"};
  check();
  EXPECT_EQ("APPICON", icon());
  standin::serverSendsRaw(server.socket, standin::tlsRecord(0x15, "close-notify"));
  standin::pump();
  EXPECT_EQ("APPICON", icon());
  expectSessionGone();
  EXPECT_EQ(0u, standin::timerPeriod(window, TIMER_QUIT));
}

TEST_F(TlsCheck, WhatTheSocketRefusesIsSentWhenItHasRoom) {
  useImplicitTls();
  standin::onConnect([this](SOCKET s) {
    server.socket = s;
    standin::limitSendRoom(s, 10);
    standin::connectionEstablished(s, 0);
    standin::serveTls(s, server.tlsScript);
  });
  check();
  EXPECT_EQ(10u, sent().size());  // part of the client's hello
  EXPECT_EQ(TlsHandshake, mailboxes[0].connection.tls.phase);
  standin::makeWritable(server.socket);
  standin::pump();
  // The rest went, the server answered, and the check ran to its end.
  EXPECT_EQ("APPICON", icon());
  EXPECT_EQ((std::vector<std::string>{"CAPA", "USER cat", "PASS nyan", "STAT", "QUIT"}),
            server.commands);
}

TEST_F(TlsCheck, EndingTheProgramMidHandshakeGivesEverythingBack) {
  useImplicitTls();
  server.tlsScript.pieceSize = 1;  // the handshake is still going on
  PostMessageW(window, WM_COMMAND, CMD_CHECK, 0);
  standin::advance(5);
  ASSERT_EQ(TlsHandshake, mailboxes[0].connection.tls.phase);
  releaseProgram();
  EXPECT_EQ(0, standin::liveTlsObjects());
  EXPECT_FALSE(standin::socketOpen(server.socket));
}

TEST_F(TlsCheck, PlainTextChecksNeverTouchSchannel) {
  strcpy(accounts[0].serverHost, "127.0.0.1");
  check();
  EXPECT_EQ("USER cat\r\nPASS nyan\r\nSTAT\r\nQUIT\r\n", sent());
  for (const std::string& line : standin::trace())
    EXPECT_EQ(std::string::npos, line.find("SecurityContext")) << line;
  EXPECT_EQ(0u, standin::lastCredentialFlags());
}

// The credentials outlive a check: the next one to the same server
// resumes its session, and its certificate is checked in full all the
// same. Another server, or a certificate that failed, starts afresh.
TEST_F(TlsCheck, ALaterCheckResumesTheSessionAndChecksTheCertificateAgain) {
  useImplicitTls();
  server.tlsScript.resumes = true;
  check();
  check();
  EXPECT_EQ(1, standin::resumedHandshakes());
  EXPECT_EQ("APPICON", icon());
  // A resumed session's certificate is checked as a new one's.
  server.tlsScript.trusted = false;
  check();
  EXPECT_EQ(2, standin::resumedHandshakes());
  EXPECT_EQ(TEXT_CERT_UNTRUSTED, tip());
  server.tlsScript.trusted = true;
  check();
  EXPECT_EQ(2, standin::resumedHandshakes());
  EXPECT_EQ("APPICON", icon());
  // Another server: new credentials.
  size_t acquired = standin::traceOf("AcquireCredentialsHandleA").size();
  strcpy(accounts[0].serverHost, "mail.localhost");
  server.tlsScript.certificateName = "mail.localhost";
  standin::setHostAddress("mail.localhost", "127.0.0.1");
  check();
  EXPECT_EQ(acquired + 1, standin::traceOf("AcquireCredentialsHandleA").size());
  EXPECT_EQ(2, standin::resumedHandshakes());
  EXPECT_EQ("APPICON", icon());
  // The same server and port, another kind of security: new credentials.
  useStls();
  check();
  EXPECT_EQ(acquired + 2, standin::traceOf("AcquireCredentialsHandleA").size());
  EXPECT_EQ("APPICON", icon());
  expectSessionGone();
  // SChannel before Windows 10 1809 knows only the older request: TLS 1.2.
  standin::setSchCredentialsKnown(false);
  check();
  EXPECT_EQ("APPICON", icon());
  EXPECT_EQ((DWORD)SCHANNEL_CRED_VERSION, standin::lastCredentialVersion());
  EXPECT_EQ((DWORD)SP_PROT_TLS1_2_CLIENT, standin::lastCredentialProtocols());
}

}  // namespace
