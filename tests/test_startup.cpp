// Start-up, dispatch and shutdown of the hidden main window, as Windows
// would drive them.
#include <string.h>

#include <algorithm>

#include "app/main.h"
#include "app/mainwindow.h"
#include "check/mailboxes.h"
#include "check/schedule.h"
#include "tests/support/program.h"
#include "tray/trayicon.h"

namespace {

using standin::trace;
using standin::traceOf;

// Lines of the trace from the first line that starts with `from`.
std::vector<std::string> traceFrom(const std::string& from) {
  const auto& all = trace();
  auto first = std::find_if(all.begin(), all.end(),
                            [&](const std::string& line) { return line.rfind(from, 0) == 0; });
  return std::vector<std::string>(first, all.end());
}

class StartUp : public ProgramTest {};

TEST_F(StartUp, RunsItsStepsInOrderWhenASettingsFileExists) {
  writeSettingsFile();
  HWND window = startProgram();
  ASSERT_NE(nullptr, window);
  std::vector<std::string> expected = {
      "CreateWindowExW(\"KivvetLiteEdition\", \"Kivvet LE\")",
      "Sleep(3000)",
      "DialogBoxParamW(TITLEDLG)",  // no title library here: no title window
      "LoadLibraryExW(\"C:\\Program Files\\KivvetLE\\KivvetLE.dll\", 34)",
      "EndDialog(0)",
      "LoadLibraryExW(\"SHCORE.DLL\", 2048)",  // the scaling of the screen's middle
      "FreeLibrary",
      "MoveWindow(352, 294, 320, 200, 0)",
      "MoveWindow(5, 5, 310, 158, 0)",
      "MoveWindow(5, 175, 310, 20, 0)",
      "SetTimer(5, 1000)",
      "InitCommonControls",
      "MoveWindow(312, 284, 1, 1, 0)",
      "CreatePopupMenu",
      "AppendMenuW(0, 101, \"メールチェックするにゃ(&C)\")",
      "AppendMenuW(0, 105, \"お知らせを止めるにゃ\")",
      "AppendMenuW(0, 102, \"設定するにゃ(&S)\")",
      "AppendMenuW(0, 103, \"ヘルプを見るにゃ(&H)\")",
      "AppendMenuW(0, 104, \"ホームページを見るにゃ(&A)\")",
      "AppendMenuW(0, 1024, \"おしまいにゃ(&X)\")",
      "RegisterWindowMessageW(\"TaskbarCreated\")",
      "CreateFileW(\"KivvetLE.cfg\")",
      "CreateFileW(\"KivvetLE.mbx\")",
      "CreateFileW(\"KivvetLE.log\")",
      "LoadLibraryExW(\"SHCORE.DLL\", 2048)",  // the scaling of the tray's monitor
      "FreeLibrary",
      "Shell_NotifyIconW(ADD, APPICON, \"Kivvet LE - \") -> 1",
  };
  EXPECT_EQ(expected, traceFrom("CreateWindowExW"));
  EXPECT_EQ(WS_EX_TOOLWINDOW, standin::windowInfo(window).exStyle);
  EXPECT_EQ(WS_POPUP, standin::windowInfo(window).style);
  EXPECT_FALSE(standin::windowInfo(window).visible);
  // Named for the shell before the first window, as the installer names it.
  EXPECT_EQ("Kivvet.KivvetLE", standin::appUserModelId());
  // checkAtStartup 1: the first check is queued, the interval timer waits.
  EXPECT_EQ(1u, standin::queuedMessageCount());
  EXPECT_FALSE(standin::timerRunning(window, TIMER_INTERVAL));
}

TEST_F(StartUp, APasswordProtectedForAnotherAccountIsAskedForAtOnce) {
  allocateSettingsTexts();
  strcpy(accounts[0].serverHost, "127.0.0.1");
  strcpy(accounts[0].userId, "cat");
  strcpy(accounts[0].password, "nyan");
  accounts[0].protectPassword = 1;
  standin::setWindowsAccount("dog");
  writeSettingsFile();
  releaseProgram();  // the slots of the file written; start-up allocates its own
  standin::setWindowsAccount("cat-at-work");
  startProgram();
  ASSERT_EQ(1u, standin::messageBoxes().size());
  EXPECT_EQ("保存したパスワードが読めないにゃ.\nもう一度入れてにゃ.",
            standin::messageBoxes()[0].text);
  ASSERT_EQ(1u, standin::propertySheets().size());
  EXPECT_EQ(0u, standin::propertySheets()[0].startPage);
  // Cancelled: the check that start-up queued asks again, and connects
  // nowhere with an empty password.
  standin::pump();
  EXPECT_EQ(2u, standin::messageBoxes().size());
  EXPECT_EQ(0u, standin::lookupRequestCount());
  EXPECT_TRUE(standin::traceOf("connect").empty());
}

TEST_F(StartUp, WithoutASettingsFileTheSheetComesBeforeTheIconWithoutAStall) {
  HWND window = startProgram();
  ASSERT_NE(nullptr, window);
  // The sheet writes the file when it closes; only then is the icon added.
  EXPECT_TRUE(standin::fileExists("C:\\KivvetLE.cfg"));
  // A new user's record has fast scan on (complemented, as its neighbours).
  EXPECT_EQ((char)~1, standin::readFile("C:\\KivvetLE.cfg").at(1292));
  auto requests = standin::trayRequests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ(NIM_ADD, requests[0].action);
  // The sheet's refresh of an icon that is not there yet costs no pause.
  EXPECT_EQ(std::vector<std::string>{"Sleep(3000)"}, traceOf("Sleep"));
  EXPECT_EQ(3000u, standin::now());
}

TEST_F(StartUp, PlacesTheHiddenWindowFromTheScreenSize) {
  struct Case {
    int width, height, x, y;
  } cases[] = {{1024, 768, 312, 284}, {800, 600, 200, 200}, {1023, 767, 311, 283}};
  for (const Case& c : cases) {
    resetProgram();
    standin::setScreenSize(c.width, c.height);
    HWND window = startProgram();
    auto info = standin::windowInfo(window);
    EXPECT_EQ(c.x, info.x);
    EXPECT_EQ(c.y, info.y);
    EXPECT_EQ(1, info.width);
    EXPECT_EQ(1, info.height);
    releaseProgram();
  }
}

TEST_F(StartUp, OnlyTheOffValueOfTheTSwitchTurnsTheSplashOff) {
  struct Case {
    std::vector<std::string> words;
    int showSplash;
  } cases[] = {{{"-TOFF"}, 0}, {{"/toff"}, 0},     {{"-tOfF"}, 0}, {{"-T"}, 1},
               {{"-TON"}, 1},  {{"-T", "OFF"}, 1}, {{"TOFF"}, 1},  {{"-"}, 1},
               {{"-XOFF"}, 1}, {{"x", "/TOFF"}, 0}};
  for (const Case& c : cases) {
    resetProgram();
    startProgram(c.words);
    EXPECT_EQ(c.showSplash, settings.showSplash) << c.words.back();
    releaseProgram();
  }
}

TEST_F(StartUp, TheWSwitchChoosesWhereTheFilesAre) {
  standin::makeDirectory("C:\\Mail");
  standin::makeDirectory("C:\\Other");
  accounts[0].port = 995;
  writeSettingsFile("C:\\Mail");
  setDefaultSettings();

  startProgram({"-WC:\\Mail"});
  EXPECT_EQ("C:\\Mail", standin::currentDirectory());
  EXPECT_EQ(995, accounts[0].port);
  releaseProgram();

  // Several: each applied in order; one that fails changes nothing. The
  // trace goes beside the settings, whatever the order.
  resetProgram();
  standin::makeDirectory("C:\\Mail");
  standin::makeDirectory("C:\\Other");
  startProgram({"-v", "-WC:\\Other", "/wC:\\Mail", "-WC:\\Missing"});
  EXPECT_EQ("C:\\Mail", standin::currentDirectory());
  EXPECT_TRUE(standin::fileExists("C:\\Mail\\KivvetLE.cfg"));
  EXPECT_TRUE(standin::fileExists("C:\\Mail\\KivvetLE-trace.txt"));
  EXPECT_FALSE(standin::fileExists("C:\\KivvetLE.cfg"));
}

TEST_F(StartUp, TheProgramsOwnPathIsExaminedLikeAnyWord) {
  standin::makeDirectory("C:\\Odd");
  standin::setArguments({"-WC:\\Odd"});
  app.appInstance = standin::programInstance();
  registerMainClass(app.appInstance);
  HWND window = createMainWindow(app.appInstance);
  EXPECT_EQ("C:\\Odd", standin::currentDirectory());
  DestroyWindow(window);
  endProgram();  // as WinMain does after its loop
}

TEST_F(StartUp, WithoutCheckAtStartupTheFirstCheckComesAfterTheInterval) {
  settings.checkAtStartup = 0;
  accounts[0].intervalMinutes = 3;
  writeSettingsFile();
  HWND window = startProgram();
  EXPECT_EQ(0u, standin::queuedMessageCount());
  ASSERT_TRUE(standin::timerRunning(window, TIMER_INTERVAL));
  EXPECT_EQ(180000u, standin::timerPeriod(window, TIMER_INTERVAL));
  EXPECT_EQ(3000u + 180000u, standin::timerDue(window, TIMER_INTERVAL));
}

TEST_F(StartUp, ADamagedIntervalChecksAtTheDefaultInterval) {
  // A settings file cut before the interval's byte, and one whose byte
  // reads 0: neither a check every minute nor a timer of 0.
  settings.checkAtStartup = 0;
  writeSettingsFile();
  std::string file = standin::readFile("C:\\KivvetLE.cfg");
  std::string zero = file;
  zero[386] = (char)0xFF;
  for (const std::string& bytes : {file.substr(0, 386), zero}) {
    resetProgram();
    standin::writeFile("C:\\KivvetLE.cfg", bytes);
    HWND window = startProgram();
    EXPECT_EQ(10, accounts[0].intervalMinutes);
    EXPECT_EQ(600000u, standin::timerPeriod(window, TIMER_INTERVAL));
    releaseProgram();
  }
}

TEST_F(StartUp, TheIntervalTimerQueuesACheckRatherThanRunningIt) {
  HWND window = startProgram();
  standin::pump();
  standin::clearTrace();
  intervalTimerProc(window, WM_TIMER, TIMER_INTERVAL, 0);
  EXPECT_EQ(1u, standin::queuedMessageCount());
}

TEST_F(StartUp, ARecreatedTaskbarGetsTheNormalIconBackWhateverWasShown) {
  writeSettingsFile();
  HWND window = startProgram();
  settings.tooltipMode = 0;
  strcpy(accounts[0].accountName, "home");
  setTrayIcon(window, NIM_MODIFY, "NOGOODICON", "POP3サーバが見つかりません.");
  standin::restartTaskbar();
  EXPECT_EQ(0u, standin::trayIconCount());
  standin::pump();
  const standin::TrayIcon* icon = standin::trayIcon(window, TRAY_ICON_ID);
  ASSERT_NE(nullptr, icon);
  EXPECT_EQ("APPICON", icon->icon);
  EXPECT_EQ("Kivvet LE - home", icon->tip);
  std::string added;  // the picture added again, before anything else changed it
  for (const auto& r : standin::trayRequests()) added = r.action == NIM_ADD ? r.data.icon : added;
  EXPECT_EQ("APPICON", added);
}

TEST_F(StartUp, UnknownMessagesGoToTheDefaultProcedure) {
  HWND window = startProgram();
  EXPECT_EQ(0, SendMessageW(window, 0x7777, 1, 2));
  EXPECT_TRUE(standin::isWindowAlive(window));
}

class Shutdown : public ProgramTest {};

TEST_F(Shutdown, AClosedWindowReleasesEverythingInOrderAndExitsWithZero) {
  writeSettingsFile();
  standin::setArguments({"KivvetLE.exe", "-TOFF"});
  standin::at(60000, [] { PostMessageW(standin::findWindow(APP_CLASS_NAME), WM_CLOSE, 0, 0); });
  size_t before = standin::liveAllocationCount();
  int exitCode = WinMain(standin::programInstance(), NULL, (LPSTR) "-TOFF", 1);
  EXPECT_EQ(0, exitCode);
  EXPECT_FALSE(standin::stalled());
  EXPECT_EQ(before, standin::liveAllocationCount());
  EXPECT_EQ(0u, standin::trayIconCount());
  EXPECT_EQ(0u, standin::liveMenuCount());
  std::vector<std::string> expected = {
      "DestroyWindow",
      "KillTimer(3)",
      "KillTimer(4)",
      "KillTimer(1)",
      "KillTimer(7)",
      "KillTimer(2)",
      "KillTimer(6)",
      "KillTimer(8)",
      "Shell_NotifyIconW(DELETE, , \"\") -> 1",
      "PostQuitMessage(0)",
      // What the handlers used outlives the window, to the loop's end.
      "DestroyMenu",
  };
  EXPECT_EQ(expected, traceFrom("DestroyWindow"));
  EXPECT_EQ(0x0202, standin::wsaStartupVersion());
  EXPECT_EQ((DWORD)LOAD_LIBRARY_SEARCH_SYSTEM32, standin::defaultDllDirectories());
}

TEST_F(Shutdown, TheExitCommandEndsTheProgram) {
  HWND window = startProgram();
  PostMessageW(window, WM_COMMAND, CMD_EXIT, 0);
  standin::pump();
  EXPECT_FALSE(standin::isWindowAlive(window));
  EXPECT_EQ(0u, standin::trayIconCount());
}

TEST_F(Shutdown, EveryStartUpFailureEndsWithExitCodeZero) {
  standin::failWSAStartup(WSASYSNOTREADY);
  EXPECT_EQ(0, WinMain(standin::programInstance(), NULL, (LPSTR) "", 1));
  ASSERT_EQ(1u, standin::messageBoxes().size());
  EXPECT_EQ("WinSockの初期化に失敗しました.", standin::messageBoxes()[0].text);
  EXPECT_EQ("Kivvet LE", standin::messageBoxes()[0].caption);
  EXPECT_EQ(MB_ICONERROR, standin::messageBoxes()[0].type);
  EXPECT_EQ(nullptr, standin::messageBoxes()[0].owner);
  EXPECT_EQ(nullptr, standin::findWindow(APP_CLASS_NAME));

  resetProgram();
  standin::failNextRegisterClass();
  EXPECT_EQ(0, WinMain(standin::programInstance(), NULL, (LPSTR) "", 1));
  EXPECT_TRUE(standin::messageBoxes().empty());

  resetProgram();
  standin::failNextCreateWindow();
  EXPECT_EQ(0, WinMain(standin::programInstance(), NULL, (LPSTR) "", 1));
  EXPECT_TRUE(standin::messageBoxes().empty());
  EXPECT_EQ(0u, standin::trayIconCount());
}

TEST_F(Shutdown, ASettingsFileThatCannotBeReadEndsTheStartUnchanged) {
  // Not a first start: a sheet of defaults would overwrite the user's file
  // as soon as the other program let go of it.
  accounts[0].port = 2110;
  writeSettingsFile();
  std::string before = standin::readFile("C:\\KivvetLE.cfg");
  HANDLE other = CreateFileW(u"C:\\KivvetLE.cfg", GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, other);
  // Held for seconds: the user is asked, and Cancel ends the start.
  EXPECT_EQ(0, WinMain(standin::programInstance(), NULL, (LPSTR) "", 1));
  EXPECT_GE(standin::now(), 15000u);
  ASSERT_EQ(1u, standin::messageBoxes().size());
  EXPECT_EQ(
      "設定ファイルKivvetLE.cfgが読めないにゃ.\nほかのプログラムが使っていないか確かめて、再試行を押してにゃ.",
      standin::messageBoxes()[0].text);
  EXPECT_EQ(MB_RETRYCANCEL | MB_ICONWARNING, standin::messageBoxes()[0].type);
  EXPECT_TRUE(standin::propertySheets().empty());
  EXPECT_EQ(0u, standin::trayIconCount());
  CloseHandle(other);
  EXPECT_EQ(before, standin::readFile("C:\\KivvetLE.cfg"));
}

TEST_F(Shutdown, ASettingsFileHeldAtLogOnIsReadOnceLetGo) {
  accounts[0].port = 2110;
  writeSettingsFile();
  // A scanner holds it for eight seconds: the start waits and goes on.
  HANDLE scanner = CreateFileW(u"C:\\KivvetLE.cfg", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  standin::at(8000, [scanner] { CloseHandle(scanner); });
  accounts[0].port = 110;
  HWND window = startProgram();
  EXPECT_EQ(2110, accounts[0].port);
  EXPECT_TRUE(standin::messageBoxes().empty());
  EXPECT_TRUE(standin::isWindowAlive(window));

  // Held for longer: Retry once it is free starts the program.
  releaseProgram();
  resetProgram();
  accounts[0].port = 2110;
  writeSettingsFile();
  HANDLE sync = CreateFileW(u"C:\\KivvetLE.cfg", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  standin::onNextMessageBox([sync] { CloseHandle(sync); });
  standin::answerNextMessageBox(IDRETRY);
  accounts[0].port = 110;
  window = startProgram();
  EXPECT_EQ(1u, standin::messageBoxes().size());
  EXPECT_EQ(2110, accounts[0].port);
  EXPECT_TRUE(standin::propertySheets().empty());
}

TEST_F(Shutdown, RunningOutOfMemoryAtStartUpSaysSoAndLeavesNothing) {
  // The first allocation is the command line's words.
  for (int failing : {2, 6, 12, 601, 2053}) {
    resetProgram();
    size_t before = standin::liveAllocationCount();
    standin::failLocalAllocAt(failing);
    EXPECT_EQ(0, WinMain(standin::programInstance(), NULL, (LPSTR) "", 1)) << failing;
    ASSERT_EQ(1u, standin::messageBoxes().size()) << failing;
    EXPECT_EQ(MB_ICONERROR, standin::messageBoxes()[0].type);
    EXPECT_EQ(before, standin::liveAllocationCount()) << failing;
    EXPECT_EQ(0u, standin::trayIconCount());
    EXPECT_EQ(0u, standin::liveMenuCount());
  }
}

}  // namespace
