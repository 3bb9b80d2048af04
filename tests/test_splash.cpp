// The title window at start-up.
#include "tests/support/program.h"
#include "tray/splash.h"

namespace {

class Splash : public ProgramTest {};

TEST_F(Splash, ShowsThePictureForASecondBelowTheCentre) {
  standin::setTitleLibrary(true, true);
  writeSettingsFile();
  HWND window = startProgram();
  ASSERT_NE(nullptr, window);
  EXPECT_EQ(std::vector<std::string>{"TITLEDLG"}, standin::dialogsRun());
  auto moves = standin::traceOf("MoveWindow");
  EXPECT_EQ("MoveWindow(352, 294, 320, 200, 0)", moves[0]);
  ASSERT_FALSE(standin::blits().empty());
  const auto& blit = standin::blits()[0];
  EXPECT_EQ(3, blit.x);
  EXPECT_EQ(3, blit.y);
  EXPECT_EQ(300, blit.width);
  EXPECT_EQ(150, blit.height);
  EXPECT_EQ(SRCCOPY, blit.operation);
  EXPECT_EQ(0, standin::liveGdiObjectCount());
  EXPECT_EQ(0, standin::titleLibraryCodeRuns());  // taken as pictures only
  // The pause, then a second of title, then the tray icon.
  EXPECT_EQ(4000u, standin::trayRequests()[0].time);
}

// At 200 % the window, its controls and the picture are twice as large,
// the picture stretched smoothly; the monitor's own scaling counts where
// Windows has one (SHCORE), the system's elsewhere.
TEST_F(Splash, GrowsWithTheScalingOfItsMonitor) {
  struct Case {
    int systemDpi, monitorDpi;
    bool shcore;
    const char *window, *picture;
    int inset, width, height;
  };
  const Case cases[] = {
      {192, 0, true, "MoveWindow(192, 204, 640, 400, 0)", "MoveWindow(10, 10, 620, 316, 0)", 6, 600,
       300},
      {96, 192, true, "MoveWindow(192, 204, 640, 400, 0)", "MoveWindow(10, 10, 620, 316, 0)", 6,
       600, 300},
      {96, 192, false, "MoveWindow(352, 294, 320, 200, 0)", "MoveWindow(5, 5, 310, 158, 0)", 3, 300,
       150},
  };
  for (const Case& c : cases) {
    resetProgram();
    standin::setDpi(c.systemDpi);
    standin::setMonitorDpi(c.monitorDpi);
    standin::setShcore(c.shcore);
    standin::setTitleLibrary(true, true);
    writeSettingsFile();
    startProgram();
    auto moves = standin::traceOf("MoveWindow");
    ASSERT_LE(3u, moves.size());
    EXPECT_EQ(c.window, moves[0]) << c.systemDpi << " " << c.monitorDpi << " " << c.shcore;
    EXPECT_EQ(c.picture, moves[1]);
    ASSERT_FALSE(standin::blits().empty());
    const auto& blit = standin::blits()[0];
    EXPECT_EQ(c.inset, blit.x);
    EXPECT_EQ(c.inset, blit.y);
    EXPECT_EQ(c.width, blit.width);
    EXPECT_EQ(c.height, blit.height);
    EXPECT_EQ(300, blit.sourceWidth);
    EXPECT_EQ(150, blit.sourceHeight);
    if (c.width != 300) {
      EXPECT_EQ(HALFTONE, blit.stretchMode);
    }
    EXPECT_EQ(0, standin::liveGdiObjectCount());
    EXPECT_EQ(0, standin::loadedLibraryCount());
    releaseProgram();
  }
}

TEST_F(Splash, WithoutTheLibraryOrItsPictureStartUpGoesStraightOn) {
  for (bool library : {false, true}) {
    resetProgram();
    standin::setTitleLibrary(library, false);
    writeSettingsFile();
    startProgram();
    EXPECT_EQ(1u, standin::dialogsRun().size());
    EXPECT_TRUE(standin::blits().empty());
    EXPECT_TRUE(standin::messageBoxes().empty());
    EXPECT_EQ(3000u, standin::trayRequests()[0].time);
    releaseProgram();
  }
}

TEST_F(Splash, TheLibraryComesOnlyFromTheProgramsFolderAndRunsNoCode) {
  // Beside the settings in the data folder, or in the current directory,
  // a library of that name is never looked at.
  for (const char* folder : {"C:\\", "C:\\Data"}) {
    resetProgram();
    standin::setTitleLibrary(true, true);
    standin::setTitleLibraryFolder(folder);
    writeSettingsFile();
    startProgram({"-WC:\\Data"});
    EXPECT_TRUE(standin::blits().empty()) << folder;
    releaseProgram();
  }
}

TEST_F(Splash, TheOffSwitchShowsNoTitle) {
  standin::setTitleLibrary(true, true);
  writeSettingsFile();
  startProgram({"-TOFF"});
  EXPECT_TRUE(standin::dialogsRun().empty());
}

}  // namespace
