// Five hundred checks in a row, each started by the interval timer,
// against a server that misbehaves at random (a fixed seed): resets,
// closes and silence in any state, refusals, garbage, replies in pieces
// of any size, new and deleted mail, long UIDs. After every check the
// program is idle with no socket open, and the UID file is whole.
#include <random>

#include "app/mainwindow.h"
#include "check/knownuids.h"
#include "check/mailboxes.h"
#include "tests/support/mailcheck.h"

namespace {

const char* const STATES[] = {"greeting", "USER", "PASS", "STAT", "UIDL", "QUIT"};
enum Fault { None, Refusal, Silence, Close, Reset, Garbage };

struct Plan {
  Fault fault;
  std::string state;
};

class Soak : public MailCheck {
 protected:
  std::mt19937 rng{20261207};
  int delivered = 0;
  std::vector<std::string> everUids;  // as the program stores them

  int pick(int n) { return (int)(rng() % (unsigned)n); }

  std::string newUid() {
    delivered++;
    std::string uid = "m" + std::to_string(delivered);
    if (pick(8) == 0)
      uid += "-" + std::string(60, (char)('a' + delivered % 26));  // 70 characters at most
    char stored[UID_SLOT_BYTES];
    storeUid(stored, uid.c_str(), uid.size());
    everUids.push_back(stored);
    return uid;
  }

  std::string garbage() {
    std::string text(pick(300), '\0');
    for (char& c : text) {
      c = (char)pick(256);
      if (c == '\n') c = 'x';
    }
    return text;
  }

  // Arranges the server for the next check and says what it will do.
  Plan arrange() {
    server.replies.clear();
    server.silentOn.clear();
    server.closesOn.clear();
    server.greets = true;
    server.greeting = "+OK POP3 server ready <1.2@soak>";
    const size_t pieces[] = {0, 0, 0, 1, 2, 3, 7, 50, 255};
    server.pieceSize = pieces[pick(9)];
    if (!server.uids.empty() && pick(5) == 0)
      server.uids.erase(server.uids.begin() + pick((int)server.uids.size()));
    const int arrivals[] = {0, 0, 0, 1, 1, 2, 5};
    for (int n = arrivals[pick(7)]; n > 0; n--) server.uids.push_back(newUid());
    // The user reads and deletes mail now and then: the mailbox stays small.
    while (server.uids.size() > 40)
      server.uids.erase(server.uids.begin() + pick((int)server.uids.size()));

    Plan plan{(Fault)pick(6), STATES[pick(6)]};
    if (pick(3) == 0) plan.fault = None;
    const std::string& state = plan.state;
    switch (plan.fault) {
      case None: break;
      case Refusal:
        if (state == "greeting")
          server.greeting = "-ERR not now";
        else
          server.replies[state] = "-ERR no";
        break;
      case Silence:
        if (state == "greeting")
          server.greets = false;
        else
          server.silentOn.push_back(state);
        break;
      case Close: server.closesOn[state] = 0; break;
      case Reset: server.closesOn[state] = WSAECONNRESET; break;
      case Garbage:
        if (state == "greeting")
          server.greeting = garbage();
        else
          server.replies[state] = garbage();
        break;
    }
    return plan;
  }

  // Whether the plan's fault is met at all: UIDL comes only for a mailbox
  // that is not empty.
  bool faultMet(const Plan& plan) {
    return plan.fault != None && (plan.state != "UIDL" || !server.uids.empty());
  }

  void expectWholeUidFile() {
    if (!standin::fileExists("C:\\KivvetLE.log")) return;
    std::string file = standin::readFile("C:\\KivvetLE.log");
    ASSERT_EQ(KNOWN_UIDS_FILE_BYTES, file.size());
    for (DWORD i = 0; i < mailboxes[0].known.knownCount; i++) {
      std::string record = file.substr(i * KNOWN_UIDS_RECORD_BYTES, KNOWN_UIDS_RECORD_BYTES);
      for (char& c : record) c = (char)~c;
      std::string uid = record.substr(0, record.find('\0'));
      ASSERT_EQ(std::string(mailboxes[0].knownUids[i]), uid) << "record " << i;
    }
  }
};

TEST_F(Soak, FiveHundredChecksAgainstARandomlyFailingServer) {
  accounts[0].intervalMinutes = 1;
  settings.soundNotify = 0;
  settings.soundNewOnly = 1;
  settings.blinkNewOnly = 1;
  for (int n = 0; n < 5; n++) server.uids.push_back(newUid());
  check();
  standin::advance(130000);
  ASSERT_EQ(0, app.busy);
  size_t allocations = standin::liveAllocationCount();

  int failures = 0;
  for (int round = 0; round < 500; round++) {
    SCOPED_TRACE("check " + std::to_string(round));
    Plan plan = arrange();
    bool garbled = plan.fault == Garbage;
    int connections = server.connections;

    // The interval timer starts the check within its minute.
    ASSERT_TRUE(standin::timerRunning(window, TIMER_INTERVAL));
    ASSERT_LE(standin::timerDue(window, TIMER_INTERVAL) - standin::now(), 60000u);
    standin::advance(standin::timerDue(window, TIMER_INTERVAL) - standin::now());
    ASSERT_EQ(connections + 1, server.connections) << "no check came with the interval";
    DWORD started = standin::now();

    // While it runs, busy is set and a further request changes nothing.
    if (mailboxes[0].dialogue.state != Idle) {
      ASSERT_EQ(1, app.busy);
      PostMessageW(window, WM_COMMAND, CMD_CHECK, 0);
      standin::pump();
      ASSERT_EQ(connections + 1, server.connections);
    }

    // Ends within the response time-out and the wait for QUIT's answer.
    while ((app.busy || mailboxes[0].dialogue.state != Idle) && standin::now() - started < 125000)
      standin::advance(1000);
    ASSERT_EQ(0, app.busy);
    ASSERT_EQ(Idle, mailboxes[0].dialogue.state);
    ASSERT_EQ(0u, standin::openSocketCount());
    ASSERT_EQ(0u, standin::openFileCount());
    ASSERT_FALSE(standin::timerRunning(window, TIMER_RESPONSE));
    ASSERT_FALSE(standin::timerRunning(window, TIMER_QUIT));
    ASSERT_TRUE(standin::timerRunning(window, TIMER_INTERVAL));

    bool failed = icon() == "NOGOODICON";
    failures += failed;
    if (!garbled) {
      bool mustFail = faultMet(plan) && plan.state != "QUIT";
      // A refused QUIT shows the error, unless new mail was found: the
      // blink that announces it goes on and takes the icon over at its
      // next picture.
      bool blinkTakesOver = false;
      if (plan.fault == Refusal && plan.state == "QUIT") {
        mustFail = true;
        blinkTakesOver = mailboxes[0].counts.newCount > 0;
      }
      if (!blinkTakesOver) {
        ASSERT_EQ(mustFail, failed) << plan.fault << " at " << plan.state;
      }
      if (!failed) {
        // A clean walk leaves exactly the server's UIDs known, newest last.
        std::vector<std::string> known, current;
        for (DWORD i = 0; i < mailboxes[0].known.knownCount; i++)
          known.push_back(mailboxes[0].knownUids[i]);
        for (const std::string& uid : server.uids) {
          char stored[UID_SLOT_BYTES];
          storeUid(stored, uid.c_str(), uid.size());
          current.push_back(stored);
        }
        if (!current.empty()) {
          std::sort(known.begin(), known.end());
          std::sort(current.begin(), current.end());
          ASSERT_EQ(current, known);
        }
      }
    }
    expectWholeUidFile();
    if (HasFatalFailure()) return;
    ASSERT_EQ(allocations, standin::liveAllocationCount());
  }

  // Still checking: the next interval connects, and with a sound server
  // ends well.
  server.replies.clear();
  server.silentOn.clear();
  server.closesOn.clear();
  server.greets = true;
  server.greeting = "+OK POP3 server ready <1.2@soak>";
  server.pieceSize = 0;
  int connections = server.connections;
  standin::advance(60000);
  EXPECT_EQ(connections + 1, server.connections);
  standin::advance(2000);
  EXPECT_EQ(0, app.busy);
  EXPECT_NE("NOGOODICON", icon());
  // Both outcomes came up often.
  EXPECT_GT(failures, 100);
  EXPECT_LT(failures, 400);
}

}  // namespace
