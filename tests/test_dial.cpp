// Dialling through a check: the race of a name's IPv6 and IPv4 addresses
// on the stand-in's clock, addresses written in the server box, and a
// lookup the platform cannot cancel.
#include "net/dial.h"

#include "tests/support/mailcheck.h"

namespace {

class Dialling : public MailCheck {
 protected:
  // Starts a check against a name with these addresses; the server of
  // the test answers every address not told otherwise.
  void checkName(const std::vector<std::string>& addresses) {
    strcpy(accounts[0].serverHost, "dual.example");
    standin::setHostAddresses("dual.example", addresses);
    standin::clearTrace();
    PostMessageW(window, WM_COMMAND, CMD_CHECK, 0);
    standin::pump();
  }
  std::vector<std::string> attempts() { return standin::traceOf("connect("); }
};

// Each situation of a name with both families, on the clock: when the
// second attempt starts, which address wins, and that the loser never
// reaches the server (closed before it connects) and is not tried again.
TEST_F(Dialling, TheFamiliesRaceAndTheFirstToConnectIsKept) {
  const auto NEVER = standin::Answer::NeverAnswers, REFUSES = standin::Answer::Refuses,
             ACCEPTS = standin::Answer::Accepts;
  const std::string V6 = "::1", V4 = "127.0.0.1";
  struct Case {
    const char* situation;
    std::vector<std::string> addresses;
    struct Answer {
      std::string address;
      standin::Answer answer;
      DWORD after;
    };
    std::vector<Answer> answers;
    DWORD secondAttemptAt;  // 0: none
    std::string winner;
  } cases[] = {
      {"IPv6 never answers", {V6, V4}, {{V6, NEVER, 0}}, 250, V4},
      {"IPv6 refuses", {V6, V4}, {{V6, REFUSES, 0}}, 1, V4},
      {"IPv4 never answers, listed first", {V4, V6}, {{V4, NEVER, 0}}, 250, V6},
      {"IPv6 slower than the pause", {V6, V4}, {{V6, ACCEPTS, 300}}, 250, V4},
      {"IPv6 slow, IPv4 refuses meanwhile: IPv6 is still waited for",
       {V6, V4},
       {{V6, ACCEPTS, 400}, {V4, REFUSES, 50}},
       250,
       V6},
      {"IPv4 only", {V4}, {}, 0, V4},
      {"IPv6 only", {V6}, {}, 0, V6},
      {"both answer", {V6, V4}, {}, 0, V6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.situation);
    for (const auto& a : c.answers) standin::answerConnections(a.address, a.answer, a.after);
    int connections = server.connections;
    checkName(c.addresses);
    // Nothing before the pause; the second attempt at its end, or at once
    // when the first was refused.
    if (c.secondAttemptAt > 1) {
      standin::advance(c.secondAttemptAt - 1);
      EXPECT_EQ(1u, attempts().size());
    }
    standin::advance(1);
    EXPECT_EQ(c.secondAttemptAt ? 2u : 1u, attempts().size());
    standin::advance(1000);
    EXPECT_EQ(c.winner, standin::addressOf(server.socket));
    EXPECT_EQ("USER cat\r\nPASS nyan\r\nSTAT\r\nQUIT\r\n", sent());
    EXPECT_EQ(0, app.busy);
    EXPECT_EQ(0u, standin::openSocketCount());
    standin::advance(100000);
    EXPECT_EQ(c.secondAttemptAt ? 2u : 1u, attempts().size());  // the loser is not tried again
    EXPECT_EQ(connections + 1, server.connections);
    standin::forgetConnectionAnswers();
  }
}

TEST_F(Dialling, AttemptsTakeTheFamiliesInTurnAndAllFailingIsUnreachable) {
  for (const char* address : {"127.0.0.1", "127.0.0.2", "::1"})
    standin::answerConnections(address, standin::Answer::Refuses, 100);
  checkName({"127.0.0.1", "127.0.0.2", "::1"});
  standin::advance(1000);
  EXPECT_EQ((std::vector<std::string>{"connect(127.0.0.1:110)", "connect([::1]:110)",
                                      "connect(127.0.0.2:110)"}),
            attempts());
  EXPECT_EQ("サーバにつながらないにゃ.またすぐ確かめるにゃ.", tip());
  EXPECT_EQ(0u, standin::openSocketCount());
}

TEST_F(Dialling, AnAddressInTheServerBoxNeedsNoLookup) {
  struct Case {
    const char* box;
    const char* attempt;  // the connection tried, or the name looked up
  } cases[] = {
      {"::1", "connect([::1]:110)"},
      {"[::1]", "connect([::1]:110)"},
      {"[2001:db8::1]", "connect([2001:db8::1]:110)"},
      {"2001:db8:0:0:1:0:0:1", "connect([2001:db8::1:0:0:1]:110)"},
      {"[127.0.0.1]", "connect(127.0.0.1:110)"},
      {"[fe80::1%12]", "connect([fe80::1%12]:110)"},
      {"::ffff:127.0.0.1", "connect(127.0.0.1:110)"},
      {"2001:db8::1::2", "GetAddrInfoExW(\"2001:db8::1::2\")"},
      {"[::1", "GetAddrInfoExW(\"[::1\")"},
      {"[fe80::1%eth0]", "GetAddrInfoExW(\"fe80::1%eth0\")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.box);
    strcpy(accounts[0].serverHost, c.box);
    size_t lookups = standin::lookupRequestCount();
    standin::clearTrace();
    check();
    if (strncmp(c.attempt, "connect(", 8) == 0) {
      EXPECT_EQ(lookups, standin::lookupRequestCount());
      EXPECT_EQ(std::vector<std::string>{c.attempt}, attempts());
    } else {
      EXPECT_EQ(std::vector<std::string>{c.attempt}, standin::traceOf("GetAddrInfoExW("));
      EXPECT_TRUE(attempts().empty());
    }
    standin::advance(1000);
  }
}

// Wine cannot cancel a lookup: its answer comes after the check that
// asked has ended, and must neither connect nor be lost.
TEST_F(Dialling, ALookupThatCannotBeCancelledEndsInNothingButItsMemory) {
  standin::cancelLookupsAsWine();
  standin::setLookupDelay(90000);
  checkName({"127.0.0.1"});
  standin::advance(60000);  // the check times out
  ASSERT_EQ(0, app.busy);
  EXPECT_EQ(1u, standin::pendingLookupCount());
  standin::setLookupDelay(0);
  checkName({"127.0.0.2"});  // the retry's own lookup answers at once
  standin::advance(40000);   // the first one's answer comes too
  EXPECT_EQ((std::vector<std::string>{"connect(127.0.0.2:110)"}), attempts());
  EXPECT_EQ(0u, standin::unfreedLookupAnswers());
  EXPECT_EQ(1, server.connections);
}

}  // namespace
