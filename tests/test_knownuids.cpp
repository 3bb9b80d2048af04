// Telling new mail from old: the known-UID list, its comparison with the
// UIDs of a check, and KivvetLE.log.
#include "app/mainwindow.h"
#include "check/knownuids.h"
#include "check/mailboxes.h"

#include <algorithm>
#include <random>

#include "tests/support/mailcheck.h"

namespace {

class KnownUids : public MailCheck {
 protected:
  void SetUp() override {
    MailCheck::SetUp();
    settings.soundNewOnly = 1;
  }
  std::vector<std::string> known() {
    std::vector<std::string> list;
    for (DWORD i = 0; i < mailboxes[0].known.knownCount; i++)
      list.push_back(mailboxes[0].knownUids[i]);
    return list;
  }
  // The UIDs the file holds, record by record, up to the first empty one.
  std::vector<std::string> fileUids() {
    std::string bytes = standin::readFile("C:\\KivvetLE.log");
    std::vector<std::string> uids;
    for (size_t at = 0; at + 32 <= bytes.size(); at += 32) {
      std::string record = bytes.substr(at, 32);
      for (char& c : record) c = (char)~c;
      record = record.substr(0, record.find('\0'));
      if (record.empty()) break;
      uids.push_back(record);
    }
    return uids;
  }
  // A restart: the tables as start-up makes them, then the file loaded.
  void restart() {
    for (DWORD i = 0; i < UID_SLOTS; i++) {
      memset(mailboxes[0].knownUids[i], 0, UID_SLOTS_BYTES);
      memset(mailboxes[0].currentUids[i], 0, UID_SLOTS_BYTES);
    }
    mailboxes[0].known.knownCount = 0;
    ASSERT_EQ(1, loadKnownUids(&mailboxes[0]));
  }
  static const DWORD UID_SLOTS_BYTES = UID_SLOT_BYTES;
};

TEST_F(KnownUids, TheFirstCheckFindsEverythingNewAndWritesTheFile) {
  server.uids = {"u1", "u2", "u3", "u4", "u5"};
  check();
  EXPECT_EQ(5u, mailboxes[0].counts.newCount);
  EXPECT_EQ(server.uids, known());
  std::string bytes = standin::readFile("C:\\KivvetLE.log");
  ASSERT_EQ(32768u, bytes.size());
  EXPECT_EQ(server.uids, fileUids());
  // A record that never held a UID is stored as 32 bytes of 0xFF.
  EXPECT_EQ(std::string(32, (char)0xFF), bytes.substr(32 * 1023));

  check();
  EXPECT_EQ(0u, mailboxes[0].counts.newCount);
  EXPECT_EQ(server.uids, known());
}

TEST_F(KnownUids, DeletedMessagesLeaveAndArrivalsAreAppended) {
  server.uids = {"old1", "old2", "old3", "old4", "old5"};
  check();
  server.uids = {"old3", "old4", "old5", "new1", "new2"};
  check();
  EXPECT_EQ(2u, mailboxes[0].counts.newCount);
  EXPECT_EQ(server.uids, known());
}

TEST_F(KnownUids, CountsSurviveARestart) {
  server.uids = {"a", "b", "c"};
  check();
  restart();
  EXPECT_EQ(1024u, mailboxes[0].known.knownCount);
  check();
  EXPECT_EQ(0u, mailboxes[0].counts.newCount);
  EXPECT_EQ(server.uids, known());
  server.uids.push_back("d");
  restart();
  check();
  EXPECT_EQ(1u, mailboxes[0].counts.newCount);
}

TEST_F(KnownUids, UidsAreComparedExactly) {
  std::string longest(32, 'Z');
  server.uids = {"Abc", longest};
  check();
  restart();
  server.uids = {longest, "abc", "ABC"};
  check();
  EXPECT_EQ(2u, mailboxes[0].counts.newCount);  // letter case makes a different UID
  EXPECT_EQ(longest, known()[0]);
}

TEST_F(KnownUids, WithoutCountingNothingIsCompared) {
  server.uids = {"x1", "x2"};
  check();
  settings.soundNewOnly = 0;
  server.uids = {"x2", "x3"};
  check();
  EXPECT_EQ(0u, mailboxes[0].counts.newCount);
  EXPECT_EQ((std::vector<std::string>{"x1", "x2"}), known());
  settings.blinkNewOnly = 1;
  check();
  EXPECT_EQ(1u, mailboxes[0].counts.newCount);
}

TEST_F(KnownUids, LeftoversFromARestartNeverOverfillTheList) {
  // 1000 messages compared; the first 500 deleted and compared again (the
  // kept 500 move to the front, their old slots keep copies); a restart
  // loads all 1024 records; 500 new messages arrive.
  for (int i = 0; i < 1000; i++) server.uids.push_back("m" + std::to_string(i));
  check();
  server.uids.erase(server.uids.begin(), server.uids.begin() + 500);
  check();
  restart();
  for (int i = 1000; i < 1500; i++) server.uids.push_back("m" + std::to_string(i));
  check();
  EXPECT_EQ(500u, mailboxes[0].counts.newCount);
  EXPECT_LE(mailboxes[0].known.knownCount, 1024u);
  EXPECT_EQ(server.uids, known());  // each UID once, none lost
}

TEST_F(KnownUids, AnUnwritableFileKeepsItsContentsAndTheListStaysRight) {
  server.uids = {"p", "q"};
  check();
  std::string before = standin::readFile("C:\\KivvetLE.log");
  HANDLE holder = CreateFileW(u"KivvetLE.log", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  server.uids = {"q", "r"};
  check();
  CloseHandle(holder);
  EXPECT_EQ(before, standin::readFile("C:\\KivvetLE.log"));
  EXPECT_EQ((std::vector<std::string>{"q", "r"}), known());
  EXPECT_EQ(0, app.busy);
}

TEST_F(KnownUids, TheFileIsWholeOrNotThereAfterAWriteThatStops) {
  // The disk fills during the first save: the file the save began goes.
  server.uids = {"p", "q"};
  standin::failWritesAfterBytes(1000);
  check();
  EXPECT_FALSE(standin::fileExists("C:\\KivvetLE.log"));
  EXPECT_EQ((std::vector<std::string>{"p", "q"}), known());

  // Over a whole file the write goes in place and the size stays.
  standin::failWritesAfterBytes(-1);
  check();
  ASSERT_EQ(32768u, standin::readFile("C:\\KivvetLE.log").size());
  server.uids = {"q", "r"};
  standin::failWritesAfterBytes(32);
  check();
  EXPECT_EQ(32768u, standin::readFile("C:\\KivvetLE.log").size());
  // The first record was rewritten, the second is still the old one: after
  // a restart "r" counts as new once more. Mail may be told twice, never
  // lost.
  EXPECT_EQ((std::vector<std::string>{"q", "q"}), fileUids());
  standin::failWritesAfterBytes(-1);
  restart();
  check();
  EXPECT_EQ(1u, mailboxes[0].counts.newCount);
  EXPECT_EQ((std::vector<std::string>{"q", "r"}), fileUids());
}

TEST_F(KnownUids, AFileHeldForAMomentIsReadAfterAShortWait) {
  server.uids = {"p"};
  check();
  HANDLE holder = CreateFileW(u"KivvetLE.log", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  standin::at(standin::now() + 250, [holder] { CloseHandle(holder); });
  restart();
  EXPECT_STREQ("p", mailboxes[0].knownUids[0]);
}

TEST_F(KnownUids, AShortFileLoadsAsFarAsItGoes) {
  std::string bytes;
  for (const char* uid : {"s1", "s2"}) {
    std::string record(32, '\0');
    memcpy(&record[0], uid, 2);
    for (char& c : record) c = (char)~c;
    bytes += record;
  }
  standin::writeFile("C:\\KivvetLE.log", bytes + "\x01\x02");
  restart();
  EXPECT_STREQ("s1", mailboxes[0].knownUids[0]);
  EXPECT_STREQ("s2", mailboxes[0].knownUids[1]);
  EXPECT_EQ(32u, strlen(mailboxes[0].knownUids[5]));  // 0xFF text: matches no UID
  server.uids = {"s2", "s3"};
  check();
  EXPECT_EQ(1u, mailboxes[0].counts.newCount);
  EXPECT_EQ((std::vector<std::string>{"s2", "s3"}), known());
}

// The merge against the plain definition: every known UID compared with
// every current one, known UIDs kept once in order, the rest appended
// once; in a mailbox larger than the walk, those before the first known
// one are not new, unless none is known.
TEST_F(KnownUids, MergeAgreesWithComparingEveryPair) {
  std::mt19937 random(20261207);
  for (int round = 0; round < 60; round++) {
    bool large = round % 2 == 1;
    DWORD knownCount = random() % 1025, currentCount = large ? 1024 : random() % 1025;
    int alphabet = 1 + (int)(random() % 1500);
    // Of every length up to 32, each slot keeping behind its NUL what a
    // longer UID of an earlier round left there.
    auto uid = [&] {
      unsigned id = random() % alphabet;
      return std::string(id % 29, 'u') + std::to_string(id);
    };
    std::vector<std::string> knownList, currentList;
    for (DWORD i = 0; i < knownCount; i++) knownList.push_back(uid());
    for (DWORD j = 0; j < currentCount; j++) currentList.push_back(uid());

    std::vector<std::string> expected;
    DWORD expectedNew = 0;
    for (const auto& uid : knownList)
      if (std::count(currentList.begin(), currentList.end(), uid) &&
          !std::count(expected.begin(), expected.end(), uid))
        expected.push_back(uid);
    bool seenKnown = expected.empty() || !large;
    for (const auto& uid : currentList)
      if (!std::count(knownList.begin(), knownList.end(), uid)) {
        if (std::count(expected.begin(), expected.end(), uid)) continue;
        expected.push_back(uid);
        if (seenKnown) expectedNew++;
      } else {
        seenKnown = true;
      }

    for (DWORD i = 0; i < knownCount; i++) strcpy(mailboxes[0].knownUids[i], knownList[i].c_str());
    for (DWORD j = 0; j < currentCount; j++)
      strcpy(mailboxes[0].currentUids[j], currentList[j].c_str());
    mailboxes[0].known.knownCount = knownCount;
    mailboxes[0].counts.messageCount = large ? 1025 + random() % 1000 : currentCount;
    ASSERT_EQ(expectedNew, mergeUidLists(&mailboxes[0])) << round;
    ASSERT_EQ(expected, known()) << round;
  }
}

}  // namespace
