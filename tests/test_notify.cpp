// The announcement as a user sees and hears it: pictures and sounds on a
// time line measured from the end of the check.
#include "tray/notify.h"

#include <math.h>

#include <set>

#include "tray/badge.h"
#include "tray/quiet.h"
#include "tray/register.h"

#include "tests/support/mailcheck.h"

namespace {

class Announcement : public MailCheck {
 protected:
  // Checks, then lets `ms` pass; returns what the tray showed and what
  // sounded, as "time picture" and "time sound" lines.
  std::vector<std::string> checkAndWatch(DWORD ms) {
    size_t requests = standin::trayRequests().size();
    size_t sounds = standin::soundsPlayed().size();
    DWORD start = standin::now();
    check();
    standin::advance(ms - 100);
    std::vector<std::string> seen;
    const auto& all = standin::trayRequests();
    for (size_t i = requests; i < all.size(); i++)
      if (all[i].data.tip.substr(0, all[i].data.tip.find('\n')) == "Kivvet LE - " + standinTip())
        seen.push_back(std::to_string(all[i].time - start) + " " + all[i].data.icon);
    for (size_t i = sounds; i < standin::soundsPlayed().size(); i++) {
      const auto& sound = standin::soundsPlayed()[i];
      seen.push_back(std::to_string(sound.time - start) + " sound " + sound.sound);
    }
    std::stable_sort(seen.begin(), seen.end(), [](const std::string& a, const std::string& b) {
      return std::stoul(a) < std::stoul(b);
    });
    return seen;
  }
  std::string standinTip() { return accounts[0].accountName; }
  size_t soundCount() { return standin::soundsPlayed().size(); }
};

TEST_F(Announcement, SpeaksOncePerNewMessageThenBlinks) {
  settings.soundNewOnly = 1;
  server.uids = {"a", "b"};
  check();  // both known now
  server.uids = {"a", "b", "c", "d"};
  size_t before = soundCount();
  std::vector<std::string> expected = {
      "0 APPICON",       "0 sound VOICE",   "200 VOICE1ICON",  "400 VOICE2ICON",
      "600 VOICE1ICON",  "800 APPICON",     "1000 APPICON",    "1000 sound VOICE",
      "1200 VOICE1ICON", "1400 VOICE2ICON", "1600 VOICE1ICON", "1800 APPICON",
      "2300 BLANKICON",  "2800 GETICON",    "3300 BLANKICON",  "3800 GETICON",
  };
  EXPECT_EQ(expected, checkAndWatch(4000));
  const auto& sound = standin::soundsPlayed().back();
  EXPECT_TRUE(sound.fromProgram);
  EXPECT_EQ(SND_RESOURCE | SND_ASYNC, sound.flags);
  EXPECT_EQ(2u, soundCount() - before);
  EXPECT_FALSE(standin::timerRunning(window, TIMER_VOICE));
  EXPECT_TRUE(standin::timerRunning(window, TIMER_BLINK));
}

// Two mailboxes' results close together: one voice, the second's sound
// after the first's, each a second apart.
TEST_F(Announcement, TwoMailboxesToldTogetherShareOneVoice) {
  settings.soundNewOnly = 1;
  settings.keepTelling = 1;
  settings.notifyBalloon = 1;
  ASSERT_EQ(1, addAccount());
  strcpy(accounts[1].accountName, "仕事");
  mailboxes[0].counts = {2, 2};
  mailboxes[1].counts = {1, 1};
  size_t before = soundCount();
  DWORD start = standin::now();
  startNotification(window, 0);
  standin::advance(300);
  pauseAnnouncementForCheck(window, 1);  // the second's check cuts no voice of the first
  registerCheckEnds(1, 1, 1, &mailboxes[1].previews);
  startNotification(window, 1);
  EXPECT_EQ("「仕事」に新しいメールが1通届いたにゃ.", standin::trayRequests().back().data.info);
  standin::advance(5000);
  std::vector<DWORD> times;
  for (size_t i = before; i < soundCount(); i++)
    times.push_back(standin::soundsPlayed()[i].time - start);
  EXPECT_EQ((std::vector<DWORD>{0, 1000, 2000}), times);
}

TEST_F(Announcement, ABalloonTellsTheNewMailBesideTheVoice) {
  settings.notifyBalloon = 1;
  strcpy(accounts[0].accountName, "home");
  server.uids = {"a", "b"};
  checkAndWatch(1000);
  check();  // nothing new: no balloon
  server.uids.push_back("c");
  checkAndWatch(1000);  // one new message has its balloon too
  std::vector<standin::TrayRequest> balloons;
  for (const auto& request : standin::trayRequests())
    if (request.data.flags & NIF_INFO) balloons.push_back(request);
  ASSERT_EQ(2u, balloons.size());
  EXPECT_EQ("「home」に新しいメールが1通届いたにゃ.", balloons[1].data.info);
  EXPECT_TRUE(balloons[0].accepted);
  EXPECT_EQ(NOTIFYICONDATAW_V2_SIZE, balloons[0].cbSize);
  EXPECT_EQ(NIF_INFO, balloons[0].data.flags);  // the picture and the tooltip stay
  EXPECT_EQ("Kivvet LE", balloons[0].data.infoTitle);
  EXPECT_EQ("「home」に新しいメールが2通届いたにゃ.", balloons[0].data.info);
  EXPECT_EQ(NIIF_INFO | NIIF_NOSOUND | NIIF_RESPECT_QUIET_TIME, balloons[0].data.infoFlags);
  EXPECT_LE(1u, soundCount());  // and the cat speaks all the same
}

TEST_F(Announcement, AFullMailboxIsToldInAFewSecondsWithItsCount) {
  settings.soundNewOnly = 1;
  for (int i = 1; i <= 1100; i++) server.uids.push_back("m" + std::to_string(i));
  check();
  standin::advance(8000);
  EXPECT_EQ(5u, soundCount());
  EXPECT_FALSE(standin::timerRunning(window, TIMER_VOICE));
  EXPECT_TRUE(standin::timerRunning(window, TIMER_BLINK));
  EXPECT_EQ("メールが1024通あるにゃ.", tip());
  // Three new messages still give three sounds.
  for (int i = 1101; i <= 1103; i++) server.uids.push_back("m" + std::to_string(i));
  check();
  standin::advance(8000);
  EXPECT_EQ(8u, soundCount());
  EXPECT_EQ("", tip());
}

TEST_F(Announcement, AnnouncesEveryMessageWhenNotOnlyNewOnes) {
  server.uids = {"a", "b", "c"};
  checkAndWatch(100);
  size_t before = soundCount();
  checkAndWatch(10000);  // nothing new, all three announced
  EXPECT_EQ(3u, soundCount() - before);
}

TEST_F(Announcement, FlagsDecideVoiceAndBlink) {
  struct Case {
    int soundNotify, soundNewOnly, blinkNewOnly;
    std::vector<std::string> uids;  // the second check's mailbox; the first knew "k"
    size_t sounds;
    bool blinks;
  } cases[] = {
      {0, 0, 0, {"k"}, 0, true},   // no voice: the blink at once
      {1, 1, 0, {"k"}, 0, true},   // nothing new to say, but mail to blink for
      {1, 1, 1, {"k"}, 0, false},  // nothing new at all: the normal icon
      {1, 0, 1, {"k"}, 1, false},  // the voice, then no blink
      {1, 0, 0, {}, 0, false},     // an empty mailbox
      {-1, 0, 0, {"k"}, 0, true},  // odd values count as off
      {1, -1, 0, {"k", "n"}, 0, true}, {1, 0, -1, {"k", "n"}, 2, false},
  };
  for (const Case& c : cases) {
    server.uids = {"k"};
    settings.blinkNewOnly = 1;
    check();  // learns "k"
    settings.soundNotify = c.soundNotify;
    settings.soundNewOnly = c.soundNewOnly;
    settings.blinkNewOnly = c.blinkNewOnly;
    server.uids = c.uids;
    size_t before = soundCount();
    checkAndWatch(5000);
    EXPECT_EQ(c.sounds, soundCount() - before) << c.soundNotify << c.soundNewOnly << c.blinkNewOnly;
    EXPECT_EQ(c.blinks, standin::timerRunning(window, TIMER_BLINK));
    if (!c.blinks) {
      EXPECT_EQ("APPICON", icon());
    }
    EXPECT_EQ("", tip());
  }
}

TEST_F(Announcement, TheSoundFollowsTheVoiceSettings) {
  server.uids = {"a"};
  struct Case {
    int useVoice, customVoice;
    std::string sound;
    DWORD flags;
  } cases[] = {{1, 0, "VOICE", SND_RESOURCE | SND_ASYNC},
               {1, 1, "C:\\声\\nya.wav", SND_FILENAME | SND_ASYNC},
               {1, -1, "C:\\声\\nya.wav", SND_FILENAME | SND_ASYNC},
               {0, 1, "beep", 0xFFFFFFFF},
               {-1, 0, "beep", 0xFFFFFFFF}};
  strcpy(settings.voicePath, "C:\\声\\nya.wav");
  for (const Case& c : cases) {
    settings.useVoice = c.useVoice;
    settings.customVoice = c.customVoice;
    checkAndWatch(300);
    EXPECT_EQ(c.sound, standin::soundsPlayed().back().sound);
    EXPECT_EQ(c.flags, standin::soundsPlayed().back().flags);
  }
}

TEST_F(Announcement, ADoubleClickSilencesTheCatAndNoBlinkFollows) {
  server.uids = {"a", "b", "c"};
  checkAndWatch(1300);  // two sounds so far, in the middle of the second cycle
  EXPECT_EQ(2u, soundCount());
  PostMessageW(window, MSG_TRAY_NOTIFY, TRAY_ICON_ID, WM_LBUTTONDBLCLK);
  standin::advance(5000);
  EXPECT_EQ(2u, soundCount());
  EXPECT_EQ("APPICON", icon());
  EXPECT_FALSE(standin::timerRunning(window, TIMER_VOICE));
  EXPECT_FALSE(standin::timerRunning(window, TIMER_BLINK));
  // The next announcement starts from its first frame.
  auto seen = checkAndWatch(300);
  EXPECT_EQ("0 APPICON", seen[0]);
  EXPECT_EQ("0 sound VOICE", seen[1]);
}

TEST_F(Announcement, TheNextCheckOrTheEndStopsTheBlink) {
  settings.soundNotify = 0;
  server.uids = {"a"};
  checkAndWatch(1000);
  ASSERT_TRUE(standin::timerRunning(window, TIMER_BLINK));
  server.greets = false;
  check();
  EXPECT_FALSE(standin::timerRunning(window, TIMER_BLINK));
  EXPECT_EQ("APPICON", icon());
  DestroyWindow(window);
  EXPECT_FALSE(standin::timerRunning(window, TIMER_VOICE));
}

// Windows says the user cannot be disturbed: the cat neither speaks nor
// shows a balloon, but turns to the new-mail picture, without blinking,
// until the double click; the user who said no hears it as before.
TEST_F(Announcement, KeepsQuietWhileTheUserCannotBeDisturbed) {
  settings.soundNewOnly = 1;
  settings.blinkNewOnly = 1;
  settings.notifyBalloon = 1;
  accounts[0].showPreviews = 1;  // the tooltip names the sender
  server.headers.assign(16, "From: Neko <n@x>\r\nSubject: hi\r\n");
  struct Case {
    QUERY_USER_NOTIFICATION_STATE state;
    HRESULT answer;
    int quietWhileBusy;
    bool quiet;
  } cases[] = {
      {QUNS_BUSY, S_OK, 1, true},
      {QUNS_RUNNING_D3D_FULL_SCREEN, S_OK, 1, true},
      {QUNS_PRESENTATION_MODE, S_OK, 1, true},
      {QUNS_QUIET_TIME, S_OK, 1, true},
      {QUNS_APP, S_OK, 1, true},
      {QUNS_ACCEPTS_NOTIFICATIONS, S_OK, 1, false},
      {QUNS_NOT_PRESENT, S_OK, 1, false},
      {QUNS_BUSY, E_FAIL, 1, false},
      {QUNS_BUSY, S_OK, 0, false},
  };
  int next = 0;
  for (const Case& c : cases) {
    standin::answerNotificationState(c.state, c.answer);
    settings.quietWhileBusy = c.quietWhileBusy;
    server.uids.push_back("m" + std::to_string(next++));
    size_t sounds = soundCount();
    size_t requests = standin::trayRequests().size();
    checkAndWatch(1000);
    bool balloon = false;
    for (size_t i = requests; i < standin::trayRequests().size(); i++)
      balloon = balloon || (standin::trayRequests()[i].data.flags & NIF_INFO);
    std::string shown = tip();  // a taskbar made anew (Explorer restarted) shows the same
    standin::restartTaskbar();
    standin::pump();
    EXPECT_EQ(shown, tip()) << c.state;
    EXPECT_EQ(c.quiet, soundCount() == sounds) << c.state << " " << c.answer;
    EXPECT_EQ(c.quiet, !balloon) << c.state;
    EXPECT_EQ(c.quiet, !standin::timerRunning(window, TIMER_BLINK) && icon() == "GETICON");
  }
  // Nothing to tell: Windows is not asked.
  size_t queries = standin::notificationStateQueries();
  server.uids.clear();
  check();
  EXPECT_EQ(queries, standin::notificationStateQueries());
}

TEST_F(Announcement, KeepsQuietInItsHoursAcrossMidnight) {
  EXPECT_TRUE(withinQuietHours(23 * 60, 22 * 60, 7 * 60));
  EXPECT_TRUE(withinQuietHours(0, 22 * 60, 7 * 60));
  EXPECT_FALSE(withinQuietHours(7 * 60, 22 * 60, 7 * 60));
  EXPECT_FALSE(withinQuietHours(21 * 60 + 59, 22 * 60, 7 * 60));
  EXPECT_TRUE(withinQuietHours(12 * 60, 12 * 60, 13 * 60));
  EXPECT_FALSE(withinQuietHours(13 * 60, 12 * 60, 13 * 60));
  EXPECT_FALSE(withinQuietHours(0, QUIET_HOURS_NONE, QUIET_HOURS_NONE));
  settings.quietFrom = 22 * 60;
  settings.quietUntil = 7 * 60;
  server.uids = {"a"};
  for (int hour : {23, 3, 7, 12}) {
    standin::setLocalTime(hour, 0);
    size_t sounds = soundCount();
    checkAndWatch(300);
    EXPECT_EQ(hour == 7 || hour == 12, soundCount() > sounds) << hour;
  }
}

// The badge at every size the tray asks for: each count its own picture
// ("9+" for ten and more), in the lower right corner, red with white
// figures, which stand out on a light taskbar and a dark one.
TEST_F(Announcement, TheCountIsDrawnLegiblyAtEverySize) {
  auto luminance = [](DWORD c) {
    double sum = 0, weights[] = {0.0722, 0.7152, 0.2126};
    for (int i = 0; i < 3; i++) sum += weights[i] * std::pow((c >> 8 * i & 0xFF) / 255.0, 2.2);
    return sum + 0.05;
  };
  EXPECT_LE(3.0, luminance(0xFFFFFF) / luminance(BADGE_COLOUR));
  EXPECT_LE(3.0, luminance(BADGE_COLOUR) / luminance(0));
  EXPECT_LE(4.5, luminance(BADGE_FIGURE_COLOUR) / luminance(BADGE_COLOUR));
  for (int size : {16, 20, 24, 32, 40, 48}) {
    std::set<std::vector<DWORD>> pictures;
    for (DWORD count : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12}) {
      std::vector<DWORD> pixels(size * size, 0);
      drawBadge(pixels.data(), size, count);
      int red = 0, white = 0;
      for (int i = 0; i < size * size; i++) {
        if (pixels[i] == 0) continue;
        EXPECT_TRUE(i % size >= size / 3 && i / size >= size / 2) << size << " " << count;
        red += pixels[i] == BADGE_COLOUR;
        white += pixels[i] == BADGE_FIGURE_COLOUR;
      }
      EXPECT_LT(white, red) << size << " " << count;
      EXPECT_LE(size < 40 ? 3 : 12, white) << size << " " << count;
      pictures.insert(pixels);
    }
    EXPECT_EQ(10u, pictures.size()) << size;  // 10 and 12 are both "9+"
  }
  // The small font's figures, each the last of its badge ("+" that of
  // "9+"), one pixel in from the badge's lower right corner.
  const std::string drawn =
      " #  ### ### # # ### ### ### ### ###    \n"
      "##    #   # # # #   #     # # # # #  # \n"
      " #  ### ### ### ### ###   # ### ### ###\n"
      " #  #     #   #   # # #  #  # #   #  # \n"
      "### ### ###   # ### ###  #  ### ###    \n";
  for (DWORD count = 1; count <= 10; count++) {
    std::vector<DWORD> pixels(16 * 16, 0);
    drawBadge(pixels.data(), 16, count);
    std::string seen, expected;
    for (int y = 10; y < 15; y++, seen += '\n', expected += '\n')
      for (int x = 12; x < 15; x++) {
        seen += pixels[y * 16 + x] == BADGE_FIGURE_COLOUR ? '#' : ' ';
        expected += drawn[(y - 10) * 40 + (count - 1) * 4 + x - 12];
      }
    EXPECT_EQ(expected, seen) << count;
  }
}

// While new mail is announced, every picture of the cat carries its count
// at the size of the scaling, the cat's own pixels kept around it; the
// double click takes it off.
TEST_F(Announcement, TheIconCarriesTheCountUntilTheDoubleClick) {
  settings.showCount = 1;
  settings.soundNewOnly = 1;
  settings.blinkNewOnly = 1;
  check();
  const int rows[][2] = {{96, 0}, {192, 0}, {96, 2}};  // the scaling, old mail on the server
  for (const auto& row : rows) {
    int dpi = row[0];
    int size = 16 * dpi / 96;
    standin::setDpi(dpi);
    server.uids = {};
    for (int i = 0; i < row[1]; i++) server.uids.push_back("old" + std::to_string(i));
    if (row[1] > 0) check();  // known before the new mail comes: the count is of the new only
    for (const char* uid : {"a", "b", "c"})
      server.uids.push_back(uid + std::to_string(dpi + row[1]));
    std::vector<DWORD> cat(size * size, 0);
    for (int y = 1; y < size - 1; y++)
      for (int x = 1; x < size - 1; x++) cat[y * size + x] = standin::RESOURCE_ICON_COLOUR;
    std::vector<DWORD> blank(size * size, 0);
    drawBadge(cat.data(), size, 3);
    drawBadge(blank.data(), size, 3);
    size_t from = standin::trayRequests().size();
    checkAndWatch(5000);  // three sounds, then the blink
    int frames = 0;
    for (size_t i = from; i < standin::trayRequests().size(); i++) {
      const auto& data = standin::trayRequests()[i].data;
      if (data.pixels.empty()) continue;
      frames++;
      EXPECT_EQ(size, data.iconSize);
      std::vector<DWORD> seen(data.pixels.begin(), data.pixels.end());
      EXPECT_TRUE(seen == cat || seen == blank) << dpi << " " << i;
    }
    EXPECT_LE(15, frames) << dpi;
    EXPECT_GE(6u, standin::liveMadeIconCount());
  }
  PostMessageW(window, MSG_TRAY_NOTIFY, TRAY_ICON_ID, WM_LBUTTONDBLCLK);
  standin::pump();
  EXPECT_TRUE(standin::trayIcon(window, TRAY_ICON_ID)->pixels.empty());
  EXPECT_EQ(0u, standin::liveMadeIconCount());
  EXPECT_EQ(0, standin::liveGdiObjectCount());
}

// Kept told (byte 1817 on), new mail adds up across checks until the user
// looks, each way of looking empties it, mail gone from the server leaves
// it; the cat speaks only for each check's new mail. Off, each check
// tells its own.
TEST_F(Announcement, NewMailStaysToldUntilSeenOrGoneFromTheServer) {
  settings.soundNewOnly = 1;
  settings.blinkNewOnly = 1;
  accounts[0].showPreviews = 1;
  server.headers = {"Subject: a\r\n", "Subject: b\r\n", "Subject: c\r\n"};
  for (int keep : {0, 1}) {
    settings.keepTelling = keep;
    server.uids = {};
    check();
    size_t sounds = soundCount();
    for (const char* uid : {"a", "b", "c"}) {
      server.uids.push_back(uid + std::to_string(keep));
      checkAndWatch(3000);
    }
    checkAndWatch(3000);  // nothing new: no voice, and the blink goes on while kept
    EXPECT_EQ(3u, soundCount() - sounds) << keep;
    EXPECT_EQ(keep ? 3u : 0u, shownNewCount()) << keep;
    EXPECT_EQ(keep ? 3u : 0u, previewCount(shownPreviews())) << keep;
    EXPECT_EQ(keep == 1, standin::timerRunning(window, TIMER_BLINK)) << keep;
  }
  server.acceptsConnection = false;  // a failure shows, and the mail stays for the next check
  check();
  EXPECT_FALSE(standin::timerRunning(window, TIMER_BLINK));
  EXPECT_EQ("サーバにつながらないにゃ.またすぐ確かめるにゃ.", tip());
  server.acceptsConnection = true;
  server.uids = {"a1", "c1"};  // "b1" read and deleted elsewhere
  checkAndWatch(1000);
  EXPECT_EQ("ca",
            std::string(shownPreviews()->slots[0].subject) + shownPreviews()->slots[1].subject);
  EXPECT_EQ(2u, untoldCount(0));
  server.uids = {};
  checkAndWatch(1000);
  EXPECT_EQ(0u, untoldCount(0));
  EXPECT_FALSE(standin::timerRunning(window, TIMER_BLINK));
  // The ways of looking: a command of the menu, or the tray's message.
  UINT ways[][2] = {{MSG_TRAY_NOTIFY, WM_LBUTTONDBLCLK},
                    {MSG_TRAY_NOTIFY, NIN_BALLOONUSERCLICK},
                    {WM_COMMAND, CMD_STOP},
                    {WM_COMMAND, CMD_PREVIEW_FIRST}};
  for (auto& way : ways) {
    server.uids.push_back("n" + std::to_string(way[1]));
    checkAndWatch(3000);
    ASSERT_EQ(1u, untoldCount(0)) << way[1];
    PostMessageW(window, way[0], way[0] == WM_COMMAND ? way[1] : TRAY_ICON_ID, way[1]);
    standin::pump();
    EXPECT_EQ(0u, untoldCount(0) + previewCount(shownPreviews())) << way[1];
    checkAndWatch(3000);
    EXPECT_EQ("APPICON", icon()) << way[1];
  }
}

// Mail that came in quiet hours is told once when they are over: one
// sound and one balloon with how many came, at the next minute's look.
TEST_F(Announcement, QuietMailIsToldOnceWhenTheQuietEnds) {
  settings.keepTelling = 1;
  settings.soundNewOnly = 1;
  settings.notifyBalloon = 1;
  settings.quietFrom = 22 * 60;
  settings.quietUntil = 7 * 60;
  standin::setLocalTime(6, 50);
  for (const char* uid : {"a", "b", "c"}) {
    server.uids.push_back(uid);
    checkAndWatch(3000);
  }
  EXPECT_EQ(0u, soundCount());
  EXPECT_EQ("GETICON", icon());
  standin::setLocalTime(7, 0);
  standin::advance(3 * 60000);
  EXPECT_EQ(1u, soundCount());
  std::string told;  // every balloon, the quiet hours' none
  for (const auto& request : standin::trayRequests()) told += request.data.info;
  EXPECT_EQ("取り込み中に3通届いたにゃ.", told);
  EXPECT_TRUE(standin::timerRunning(window, TIMER_BLINK));
  EXPECT_FALSE(standin::timerRunning(window, TIMER_QUIET_END));
}

}  // namespace
