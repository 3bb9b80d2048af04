// KivvetLE.cfg: the exact bytes, round trips, and files that are short,
// long, corrupt or unavailable.
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "base/datafile.h"
#include "tests/support/program.h"

namespace {

class SettingsFile : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    allocateSettingsTexts();
  }
  std::string file() { return standin::readFile("C:\\KivvetLE.cfg"); }
  void setFile(const std::string& bytes) { standin::writeFile("C:\\KivvetLE.cfg", bytes); }
  unsigned char at(const std::string& bytes, size_t offset) {
    return (unsigned char)bytes.at(offset);
  }
};

TEST_F(SettingsFile, DefaultsAreWrittenByteForByte) {
  ASSERT_EQ(1, saveSettings());
  std::string bytes = file();
  ASSERT_EQ(1818u, bytes.size());
  for (size_t i = 0; i < 384; i++) ASSERT_EQ(0xFF, at(bytes, i)) << i;
  EXPECT_EQ(0xFF, at(bytes, 384));
  EXPECT_EQ(0x91, at(bytes, 385));  // port 110
  EXPECT_EQ(0xF5, at(bytes, 386));  // 10 minutes
  for (size_t i = 387; i <= 389; i++) EXPECT_EQ(0xFE, at(bytes, i)) << i;
  for (size_t i = 390; i <= 1162; i++) ASSERT_EQ(0xFF, at(bytes, i)) << i;
  for (size_t i = 1163; i < 1291; i++) ASSERT_EQ(0x00, at(bytes, i)) << i;
  // Plain text, no fast scan, no balloon, the password unprotected, no
  // previews, POP3.
  for (size_t i = 1291; i < 1811; i++) EXPECT_EQ(0xFF, at(bytes, i)) << i;
  // Quiet while the user cannot be disturbed, no quiet hours, no count,
  // each check telling its own.
  EXPECT_EQ(std::string("\xFE\0\0\0\0\xFF\xFF", 7), bytes.substr(1811));
}

TEST_F(SettingsFile, TheMannersFollowAndAnOlderFileKeepsTheCatAsItWas) {
  settings.quietWhileBusy = 0;
  settings.quietFrom = 22 * 60 + 30;  // 22:30 to 6:00
  settings.quietUntil = 6 * 60;
  settings.showCount = 1;
  settings.keepTelling = 1;
  saveSettings();
  std::string bytes = file();
  EXPECT_EQ(std::string("\xFF\xB9\xFA\x97\xFE\xFE\xFE", 7), bytes.substr(1811));
  setDefaultSettings();
  ASSERT_EQ(1, loadSettings());
  EXPECT_EQ(0, settings.quietWhileBusy);
  EXPECT_EQ(1350, settings.quietFrom);
  EXPECT_EQ(360, settings.quietUntil);
  EXPECT_EQ(1, settings.showCount);
  EXPECT_EQ(1, settings.keepTelling);

  // Each byte the file does not reach means what the program did before.
  for (size_t length : {1810u, 1812u, 1815u, 1816u, 1817u}) {
    setFile(bytes.substr(0, length));
    ASSERT_EQ(1, loadSettings());
    EXPECT_EQ(length <= 1811 ? 1 : 0, settings.quietWhileBusy) << length;
    EXPECT_EQ(length < 1816 ? QUIET_HOURS_NONE : 1350, settings.quietFrom) << length;
    EXPECT_EQ(length < 1817 ? 0 : 1, settings.showCount) << length;
    EXPECT_EQ(0, settings.keepTelling) << length;
  }
  // Only 0 is off, only 1 is on; an end outside the day is no span.
  setFile(bytes.substr(0, 1811) + (char)~7 + "\xFF\xFF" + (char)~0xA0 + (char)~0x05 + (char)~2 +
          (char)~2);
  ASSERT_EQ(1, loadSettings());
  EXPECT_EQ(1, settings.quietWhileBusy);
  EXPECT_EQ(QUIET_HOURS_NONE, settings.quietFrom);
  EXPECT_EQ(QUIET_HOURS_NONE, settings.quietUntil);
  EXPECT_EQ(0, settings.showCount);
  EXPECT_EQ(0, settings.keepTelling);

  // A first start: the cat speaks and blinks for new mail only, and
  // shows its count.
  DeleteFileW(u"KivvetLE.cfg");
  setDefaultSettings();
  EXPECT_EQ(0, loadSettings());
  EXPECT_EQ(1, settings.soundNewOnly);
  EXPECT_EQ(1, settings.blinkNewOnly);
  EXPECT_EQ(1, settings.showCount);
  EXPECT_EQ(1, settings.keepTelling);
  EXPECT_EQ(1, settings.quietWhileBusy);
}

TEST_F(SettingsFile, ConnectionSecurityFollowsTheOriginalRecord) {
  for (int security : {SECURITY_NONE, SECURITY_STLS, SECURITY_TLS}) {
    accounts[0].connectionSecurity = security;
    accounts[0].port = 995;
    ASSERT_EQ(1, saveSettings());
    std::string bytes = file();
    EXPECT_EQ((unsigned char)~security, at(bytes, 1291));
    EXPECT_EQ(0xFC, at(bytes, 384));  // every older offset where it was
    accounts[0].connectionSecurity = -7;
    ASSERT_EQ(1, loadSettings());
    EXPECT_EQ(security, accounts[0].connectionSecurity);
    EXPECT_EQ(995, accounts[0].port);
  }
}

TEST_F(SettingsFile, TheBalloonByteFollowsAndAnOlderFileMeansNoBalloon) {
  settings.notifyBalloon = 1;
  saveSettings();
  std::string bytes = file();
  EXPECT_EQ(0xFE, at(bytes, 1293));
  setFile(bytes.substr(0, 1292) + (char)0xFE);  // and the fast scan's byte is kept
  ASSERT_EQ(1, loadSettings());
  EXPECT_EQ(0, settings.notifyBalloon);
  saveSettings();
  EXPECT_EQ(0xFE, at(file(), 1292));

  // The previews, after the protected password's place, by the same rule;
  // a first start turns them on.
  accounts[0].showPreviews = 1;
  saveSettings();
  EXPECT_EQ(0xFE, at(file(), 1809));
  ASSERT_EQ(1, loadSettings());
  EXPECT_EQ(1, accounts[0].showPreviews);
  for (size_t length : {1809u, 1810u}) {
    setFile(file().substr(0, length - 1) + (char)~2);
    ASSERT_EQ(1, loadSettings());
    EXPECT_EQ(0, accounts[0].showPreviews) << length;
  }
  DeleteFileW(u"KivvetLE.cfg");
  EXPECT_EQ(0, loadSettings());
  EXPECT_EQ(1, accounts[0].showPreviews);
}

TEST_F(SettingsFile, AnOlderFileMeansPlainTextAndAnUnknownValueStaysUnknown) {
  strcpy(accounts[0].serverHost, "pop.example.jp");
  strcpy(accounts[0].userId, "cat");
  strcpy(accounts[0].password, "nyan");
  accounts[0].connectionSecurity = SECURITY_TLS;
  accounts[0].port = 995;
  strcpy(accounts[0].accountName, "古いファイル");
  saveSettings();
  std::string current = file();

  setFile(current.substr(0, 1291));
  ASSERT_EQ(1, loadSettings());
  EXPECT_STREQ("nyan", accounts[0].password);  // in the record, never protected
  EXPECT_EQ(SECURITY_NONE, accounts[0].connectionSecurity);
  EXPECT_EQ(995, accounts[0].port);
  EXPECT_STREQ("古いファイル", accounts[0].accountName);

  // A damaged or tampered byte is no reason to send the password in
  // clear: it stays what it is, and a check refuses it.
  for (int stored : {3, 0x80, 0xFF}) {
    setFile(current.substr(0, 1291) + (char)~stored);
    ASSERT_EQ(1, loadSettings());
    EXPECT_EQ(stored, accounts[0].connectionSecurity);
    EXPECT_STREQ("暗号化の設定が壊れているにゃ.\nもう一度選んでにゃ.", settingsProblem());
  }

  // The protocol, by the same rule: a file without its byte means POP3,
  // and one that asks for what this version does not speak is refused.
  setFile(current.substr(0, 1810));
  ASSERT_EQ(1, loadSettings());
  EXPECT_EQ(PROTOCOL_POP3, accounts[0].mailProtocol);
  EXPECT_EQ(NULL, settingsProblem());
  for (int stored : {PROTOCOL_IMAP, 2, 0xFF}) {
    setFile(current.substr(0, 1810) + (char)~stored);
    ASSERT_EQ(1, loadSettings());
    EXPECT_EQ(stored, accounts[0].mailProtocol);
    if (stored == PROTOCOL_IMAP)
      EXPECT_EQ(NULL, settingsProblem());
    else
      EXPECT_STREQ("受信方式の設定がこの版では使えないにゃ.\n設定し直してにゃ.", settingsProblem());
    ASSERT_EQ(1, saveSettings());
    EXPECT_EQ((unsigned char)~stored, at(file(), 1810));
  }
  accounts[0].mailProtocol = PROTOCOL_POP3;

  // Fast scan, the byte after: set only by a 1; a file without it walks.
  accounts[0].fastScan = 1;
  saveSettings();
  EXPECT_EQ(0xFE, at(file(), 1292));
  EXPECT_EQ(0xFC, at(file(), 384));
  for (int stored : {0, 2, 0xFF}) {
    setFile(file().substr(0, 1292) + (char)~stored);
    ASSERT_EQ(1, loadSettings());
    EXPECT_EQ(0, accounts[0].fastScan) << stored;
  }
  setFile(current.substr(0, 1292) + (char)~1);
  ASSERT_EQ(1, loadSettings());
  EXPECT_EQ(1, accounts[0].fastScan);
  setFile(current.substr(0, 1292));
  ASSERT_EQ(1, loadSettings());
  EXPECT_EQ(0, accounts[0].fastScan);
}

TEST_F(SettingsFile, AProtectedPasswordIsNowhereInTheFileAndOnlyItsOwnerReadsIt) {
  strcpy(accounts[0].serverHost, "pop.example.jp");
  strcpy(accounts[0].userId, "cat");
  strcpy(accounts[0].password, "nyan-nyan");
  accounts[0].protectPassword = 1;
  ASSERT_EQ(1, saveSettings());
  std::string bytes = file();
  for (size_t i = 256; i < 384; i++) ASSERT_EQ(0xFF, at(bytes, i)) << i;  // the slot stays empty
  EXPECT_EQ(0xFE, at(bytes, 1294));
  size_t length = (size_t)(unsigned char)~bytes[1295] | (size_t)(unsigned char)~bytes[1296] << 8;
  ASSERT_GE(1810u, 1297 + length);
  ASSERT_EQ(1818u, bytes.size());
  EXPECT_EQ(std::string::npos, bytes.find("nyan"));
  EXPECT_EQ(std::string::npos,
            bytes.find(std::string{(char)~'n', (char)~'y', (char)~'a', (char)~'n'}));

  memset(accounts[0].password, 0, SHORT_TEXT_BYTES);
  ASSERT_EQ(1, loadSettings());
  EXPECT_STREQ("nyan-nyan", accounts[0].password);
  EXPECT_EQ(1, accounts[0].protectPassword);
  EXPECT_EQ(0, accounts[0].passwordLost);

  // Another account: no password, never an empty one to log in with, and
  // the protected bytes go back unchanged when the settings are saved.
  standin::setWindowsAccount("dog");
  ASSERT_EQ(1, loadSettings());
  EXPECT_STREQ("", accounts[0].password);
  EXPECT_EQ(1, accounts[0].passwordLost);
  EXPECT_STREQ("保存したパスワードが読めないにゃ.\nもう一度入れてにゃ.", settingsProblem());
  ASSERT_EQ(1, saveSettings());
  EXPECT_EQ(bytes, file());
  standin::setWindowsAccount("cat");
  ASSERT_EQ(1, loadSettings());
  EXPECT_STREQ("nyan-nyan", accounts[0].password);

  // Unprotected again: the slot holds the password, and the protected
  // bytes are written over.
  accounts[0].protectPassword = 0;
  ASSERT_EQ(1, saveSettings());
  bytes = file();
  EXPECT_EQ(0xFF, at(bytes, 1294));
  EXPECT_EQ((char)~'n', bytes[256]);
  for (size_t i = 1295; i < 1811; i++) ASSERT_EQ(0xFF, at(bytes, i)) << i;

  // A flag this program does not know, a length past the end, or data
  // that Windows unprotects but is no password of ours (no NUL within a
  // slot) is a password that cannot be read.
  std::string foreign(200, 'x');
  DATA_BLOB in = {200, (BYTE*)&foreign[0]}, out = {0, NULL};
  ASSERT_TRUE(CryptProtectData(&in, NULL, NULL, NULL, NULL, CRYPTPROTECT_UI_FORBIDDEN, &out));
  std::string notOurs =
      bytes.substr(0, 1294) + (char)~1 + (char)~out.cbData + (char)~(out.cbData >> 8);
  for (DWORD i = 0; i < out.cbData; i++) notOurs += (char)~out.pbData[i];
  LocalFree(out.pbData);
  for (std::string damaged :
       {bytes.substr(0, 1294) + (char)~2, bytes.substr(0, 1294) + (char)~1 + "\xF0\xFF", notOurs}) {
    setFile(damaged);
    ASSERT_EQ(1, loadSettings());
    EXPECT_EQ(1, accounts[0].passwordLost);
    EXPECT_STREQ("", accounts[0].password);
    ASSERT_EQ(1, saveSettings());  // and the next save keeps it protected
    EXPECT_EQ(0xFE, at(file(), 1294));
  }
}

TEST_F(SettingsFile, PortIsStoredBigEndianAndComplemented) {
  accounts[0].port = 443;
  saveSettings();
  EXPECT_EQ(0xFE, at(file(), 384));
  EXPECT_EQ(0x44, at(file(), 385));
}

TEST_F(SettingsFile, EveryFieldSurvivesSaveAndLoad) {
  std::string host(127, 'h'), user = "ユーザー", longPath(255, 'p');
  strcpy(accounts[0].serverHost, host.c_str());
  strcpy(accounts[0].userId, user.c_str());
  strcpy(accounts[0].password, "p@ss ワード");
  strcpy(settings.voicePath, "C:\\声\\ニャー.wav");
  strcpy(settings.mailerPath, longPath.c_str());
  strcpy(settings.mailerArgs, "/check \"受信箱\"");
  strcpy(accounts[0].accountName, "自宅のメール");
  int values[][11] = {
      // port, interval, startup, sound, voice, newOnly, custom, tooltip, blink, apop
      {0, 1, 0, 0, 0, 1, 1, 0, 1, 1},
      {32767, 127, 1, 1, 1, 0, 0, 1, 0, 0},
      {995, 60, 0, 1, 0, 1, 0, 2, 1, 0},
  };
  for (auto& v : values) {
    accounts[0].port = v[0], accounts[0].intervalMinutes = v[1], settings.checkAtStartup = v[2];
    settings.soundNotify = v[3], settings.useVoice = v[4], settings.soundNewOnly = v[5];
    settings.customVoice = v[6], settings.tooltipMode = v[7], settings.blinkNewOnly = v[8];
    accounts[0].useApop = v[9];
    ASSERT_EQ(1, saveSettings());
    setDefaultSettings();
    memset(accounts[0].serverHost, 0, SHORT_TEXT_BYTES);
    memset(settings.mailerPath, 0, LONG_TEXT_BYTES);
    memset(accounts[0].accountName, 0, SHORT_TEXT_BYTES);
    ASSERT_EQ(1, loadSettings());
    EXPECT_EQ(v[0], accounts[0].port);
    EXPECT_EQ(v[1], accounts[0].intervalMinutes);
    EXPECT_EQ(v[2], settings.checkAtStartup);
    EXPECT_EQ(v[3], settings.soundNotify);
    EXPECT_EQ(v[4], settings.useVoice);
    EXPECT_EQ(v[5], settings.soundNewOnly);
    EXPECT_EQ(v[6], settings.customVoice);
    EXPECT_EQ(v[7], settings.tooltipMode);
    EXPECT_EQ(v[8], settings.blinkNewOnly);
    EXPECT_EQ(v[9], accounts[0].useApop);
    EXPECT_EQ(host, accounts[0].serverHost);
    EXPECT_EQ(user, accounts[0].userId);
    EXPECT_STREQ("p@ss ワード", accounts[0].password);
    EXPECT_STREQ("C:\\声\\ニャー.wav", settings.voicePath);
    EXPECT_EQ(longPath, settings.mailerPath);
    EXPECT_STREQ("/check \"受信箱\"", settings.mailerArgs);
    EXPECT_STREQ("自宅のメール", accounts[0].accountName);
  }
}

// A port above 32767 comes back as it was, never negative: the sheet
// would show nothing and its OK store 0.
TEST_F(SettingsFile, SingleBytesComeBackSignWidenedButThePortAndTheIntervalWhole) {
  accounts[0].port = 40000;
  accounts[0].intervalMinutes = 200;
  saveSettings();
  loadSettings();
  EXPECT_EQ(40000, accounts[0].port);
  EXPECT_EQ(200, accounts[0].intervalMinutes);
  accounts[0].intervalMinutes = 255;
  saveSettings();
  loadSettings();
  EXPECT_EQ(255, accounts[0].intervalMinutes);
}

TEST_F(SettingsFile, AMissingFileAndALockedOneAreToldApart) {
  accounts[0].port = 1234;
  EXPECT_EQ(0, loadSettings());
  EXPECT_EQ(1234, accounts[0].port);

  // Held by another program for good: a few tries, half a second in all.
  saveSettings();
  HANDLE other = CreateFileW(u"KivvetLE.cfg", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, other);
  accounts[0].port = 9;
  accounts[0].fastScan = 0;
  DWORD start = standin::now();
  EXPECT_EQ(-1, loadSettings());
  EXPECT_EQ(0, accounts[0].fastScan);  // no first start
  EXPECT_EQ(500u, standin::now() - start);
  EXPECT_EQ(0, saveSettings());
  EXPECT_EQ(9, accounts[0].port);
  CloseHandle(other);

  // Held for a moment only: the next try reads it.
  other = CreateFileW(u"KivvetLE.cfg", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  standin::at(standin::now() + 150, [other] { CloseHandle(other); });
  EXPECT_EQ(1, loadSettings());
  EXPECT_EQ(1234, accounts[0].port);
}

TEST_F(SettingsFile, AWriteThatStopsHalfWayLeavesNoNewFileBehind) {
  // A full disk (or the end of the process) in the middle of the write: a
  // file the save created goes again, so the next start is a first start
  // rather than one with half a record.
  standin::failWritesAfterBytes(500);
  EXPECT_EQ(0, saveSettings());
  EXPECT_FALSE(standin::fileExists("C:\\KivvetLE.cfg"));
  EXPECT_EQ(0, loadSettings());

  // Over an existing record the write goes in place: every byte is the old
  // one or the new one, and the file keeps its size.
  standin::failWritesAfterBytes(-1);
  accounts[0].port = 1234;
  saveSettings();
  accounts[0].port = 4321;
  strcpy(accounts[0].accountName, "new");
  standin::failWritesAfterBytes(500);
  EXPECT_EQ(0, saveSettings());
  EXPECT_EQ(1818u, file().size());
  accounts[0].port = 0;
  ASSERT_EQ(1, loadSettings());
  EXPECT_EQ(4321, accounts[0].port);          // before the cut
  EXPECT_STREQ("", accounts[0].accountName);  // after it
}

TEST_F(SettingsFile, AFileWithoutTheAccountNameLoadsEverythingElse) {
  strcpy(accounts[0].serverHost, "pop.example.jp");
  strcpy(accounts[0].accountName, "home");
  accounts[0].useApop = 1;
  saveSettings();
  setFile(file().substr(0, 1163));
  memset(accounts[0].serverHost, 0, SHORT_TEXT_BYTES);
  memset(accounts[0].accountName, 0, SHORT_TEXT_BYTES);
  accounts[0].useApop = 0;
  ASSERT_EQ(1, loadSettings());
  EXPECT_STREQ("pop.example.jp", accounts[0].serverHost);
  EXPECT_EQ(1, accounts[0].useApop);
  EXPECT_STREQ("", accounts[0].accountName);
}

TEST_F(SettingsFile, AFileEndingInsideATextKeepsWhatWasReadTerminated) {
  // 60 bytes of host name and no NUL: the file ends in the middle of it.
  std::string bytes(60, (char)~'x');
  setFile(bytes);
  ASSERT_EQ(1, loadSettings());
  EXPECT_EQ(std::string(60, 'x'), accounts[0].serverHost);
  EXPECT_STREQ("", accounts[0].userId);
  EXPECT_STREQ("", settings.mailerArgs);
  // Single-byte fields beyond the end read as complemented zero bytes;
  // the interval as its default.
  EXPECT_EQ(10, accounts[0].intervalMinutes);
  EXPECT_EQ(-1, settings.tooltipMode);
  EXPECT_EQ(65535, accounts[0].port);
}

TEST_F(SettingsFile, NoFileContentLeavesATextWithoutItsNul) {
  for (int fill : {0x00, 0xFF, 0x41, 0x9A}) {
    setFile(std::string(1291, (char)fill));
    ASSERT_EQ(1, loadSettings());
    char* const slots[] = {accounts[0].serverHost, accounts[0].userId, accounts[0].password,
                           accounts[0].accountName};
    for (char* slot : slots) EXPECT_LT(strnlen(slot, SHORT_TEXT_BYTES), SHORT_TEXT_BYTES);
    char* const longSlots[] = {settings.voicePath, settings.mailerPath, settings.mailerArgs};
    for (char* slot : longSlots) EXPECT_LT(strnlen(slot, LONG_TEXT_BYTES), LONG_TEXT_BYTES);
  }
  // An over-long file is read no further than the record.
  // 127 half-width katakana, three bytes each in UTF-8.
  setFile(std::string(5000, (char)0xBE));
  EXPECT_EQ(1, loadSettings());
  EXPECT_EQ(3 * 127u, strlen(accounts[0].accountName));
}

// Texts in Shift-JIS, read as UTF-8 and written back byte for byte: a
// second byte of 0x5C, half-width katakana, a character with two codes
// (0x8790 and 0x81E0 are both ≒) and bytes after the NUL. Texts that an
// ANSI version wrote on a Western system show in its code page and are
// kept byte for byte too.
TEST_F(SettingsFile, ShiftJisTextsComeBackByteForByte) {
  standin::setAnsiCodePage(1252);
  std::string image(1297, '\0');
  std::string mailer = std::string("C:\\\x95\x5C\\\xD2\xB0\xD9.exe", 14);
  std::string account = std::string("\x87\x90\0old", 6);
  std::string password = "caf\xE9", voice = "C:\\Caf\xE9 \x80\\v.wav";
  for (size_t i = 0; i < mailer.size(); i++) image[648 + i] = mailer[i];
  for (size_t i = 0; i < account.size(); i++) image[1163 + i] = account[i];
  for (size_t i = 0; i < password.size(); i++) image[256 + i] = password[i];
  for (size_t i = 0; i < voice.size(); i++) image[392 + i] = voice[i];
  image[386] = 10;  // the interval
  for (size_t i = 0; i < image.size(); i++)
    if (i < 1163 || i >= 1291) image[i] = (char)~image[i];
  setFile(image);
  ASSERT_EQ(1, loadSettings());
  EXPECT_STREQ("C:\\表\\ﾒｰﾙ.exe", settings.mailerPath);
  EXPECT_STREQ("≒", accounts[0].accountName);
  EXPECT_STREQ("café", accounts[0].password);
  EXPECT_STREQ("C:\\Café €\\v.wav", settings.voicePath);
  ASSERT_EQ(1, saveSettings());
  EXPECT_EQ(image, file().substr(0, 1297));
  // A changed text is written in Shift-JIS over the old one.
  strcpy(accounts[0].accountName, "表");
  ASSERT_EQ(1, saveSettings());
  EXPECT_EQ(std::string("\x95\x5C\0old", 6), file().substr(1163, 6));
}

TEST_F(SettingsFile, SavingKeepsTheTailOfALongerFileAndGrowsAShortOne) {
  std::string tail;
  for (int i = 0; i < 709; i++) tail += (char)(i * 7);
  setFile(std::string(1818, 'z') + tail);
  saveSettings();
  std::string bytes = file();
  ASSERT_EQ(2527u, bytes.size());
  EXPECT_EQ(tail, bytes.substr(1818));
  EXPECT_EQ(0x91, at(bytes, 385));
  // A byte of a setting this program does not know goes back as read.
  setFile(std::string(1818, 'z'));
  ASSERT_EQ(1, loadSettings());
  saveSettings();
  EXPECT_EQ('z', file().at(1810));

  setFile(std::string(100, 'z'));
  saveSettings();
  EXPECT_EQ(1818u, file().size());
}

TEST_F(SettingsFile, AReadOnlyFileIsNotWrittenAndSaysSo) {
  saveSettings();
  std::string before = file();
  chmod(standin::hostPath("C:\\KivvetLE.cfg").c_str(), 0444);
  accounts[0].port = 25;
  EXPECT_EQ(0, saveSettings());
  EXPECT_EQ(before, file());
}

TEST_F(SettingsFile, AShortWriteIsReported) {
  standin::failWritesAfterBytes(500);
  EXPECT_EQ(0, saveSettings());
}

TEST(ScrambleBytes, ComplementsInPlaceAndUndoesItself) {
  unsigned char bytes[] = {0x00, 0xFF, 0x5A, 0x91};
  scrambleBytes(bytes, 4);
  EXPECT_EQ(0xFF, bytes[0]);
  EXPECT_EQ(0x00, bytes[1]);
  EXPECT_EQ(0xA5, bytes[2]);
  EXPECT_EQ(0x6E, bytes[3]);
  scrambleBytes(bytes, 0);
  EXPECT_EQ(0xFF, bytes[0]);
  scrambleBytes(bytes, 4);
  EXPECT_EQ(0x5A, bytes[2]);
}

}  // namespace

// Mailboxes after the first live in their own file: KivvetLE.cfg stays
// byte for byte what one mailbox writes, and nothing of the accounts
// file, however damaged, reaches the first mailbox.
TEST_F(SettingsFile, MoreMailboxesGoToTheirOwnFileAndLeaveTheFirstAlone) {
  strcpy(accounts[0].serverHost, "pop.example.jp");
  strcpy(accounts[0].userId, "tama");
  ASSERT_EQ(1, saveSettings());
  std::string alone = file();
  ASSERT_EQ(1, addAccount());
  strcpy(accounts[1].serverHost, "imap.example.jp");
  strcpy(accounts[1].accountName, "仕事");
  strcpy(accounts[1].password, "neko");
  accounts[1].mailProtocol = PROTOCOL_IMAP;
  accounts[1].port = 993;
  accounts[1].intervalMinutes = 200;
  ASSERT_EQ(1, saveSettings());
  EXPECT_EQ(alone, file());
  std::string boxes = standin::readFile("C:\\KivvetLE.mbx");
  ASSERT_EQ(16u + 7 * 2048, boxes.size());
  EXPECT_EQ(std::string::npos, boxes.find("neko"));

  setDefaultSettings();
  ASSERT_EQ(1, loadSettings());
  ASSERT_EQ(2, accountCount);
  EXPECT_STREQ("pop.example.jp", accounts[0].serverHost);
  EXPECT_STREQ("imap.example.jp", accounts[1].serverHost);
  EXPECT_STREQ("仕事", accounts[1].accountName);
  EXPECT_STREQ("neko", accounts[1].password);
  EXPECT_EQ(PROTOCOL_IMAP, accounts[1].mailProtocol);
  EXPECT_EQ(993, accounts[1].port);
  EXPECT_EQ(200, accounts[1].intervalMinutes);
  EXPECT_STREQ("「仕事」の必須設定項目に空欄があるにゃ.\n設定してにゃ.", settingsProblem());

  // Damaged: not ours, a record missing, a record cut short.
  for (std::string damaged :
       {std::string(16 + 2048, '\0'), boxes.substr(0, 16) + "\xFF", boxes.substr(0, 16 + 2047)}) {
    standin::writeFile("C:\\KivvetLE.mbx", damaged);
    ASSERT_EQ(1, loadSettings());
    EXPECT_EQ(1, accountCount);
    EXPECT_STREQ("pop.example.jp", accounts[0].serverHost);
  }

  // The last one removed, its file goes.
  standin::writeFile("C:\\KivvetLE.mbx", boxes);
  ASSERT_EQ(1, loadSettings());
  removeAccount(0);
  EXPECT_STREQ("imap.example.jp", accounts[0].serverHost);
  ASSERT_EQ(1, saveSettings());
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(u"KivvetLE.mbx"));
}
