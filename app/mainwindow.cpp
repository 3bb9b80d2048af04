// The main window's life: everything the program sets up when the window
// is created, the dispatch of its messages, and the orderly end.
#include "app/mainwindow.h"

#include "app/commands.h"
#include "base/appstate.h"
#include "base/text.h"
#include "base/trace.h"
#include "check/check.h"
#include "check/knownuids.h"
#include "check/mailboxes.h"
#include "check/schedule.h"
#include "net/connection.h"
#include "settings/settings.h"
#include "sheet/sheet.h"
#include "tray/menu.h"
#include "tray/notify.h"
#include "tray/previews.h"
#include "tray/splash.h"
#include "tray/trayicon.h"

namespace {

const DWORD HELD_FILE_PATIENCE_MS = 15000;
const DWORD HELD_FILE_PAUSE_MS = 500;

// Sent to every top-level window when the taskbar is made anew.
UINT taskbarCreatedMsg = 0;

// The fixed text slots of the records: the program's, and each mailbox
// slot's account's, made at start-up and released at the end.
char** textSlot(size_t i, int slot) {
  return textSlotOf(TEXT_SLOTS[i], &settings, &accounts[slot]);
}
int slotsOf(size_t i) { return TEXT_SLOTS[i].ofAccount ? MOST_MAILBOXES : 1; }

void releaseBuffers() {
  for (size_t i = 0; i < TEXT_SLOT_COUNT; i++) {
    for (int slot = 0; slot < slotsOf(i); slot++) {
      LocalFree(*textSlot(i, slot));
      *textSlot(i, slot) = NULL;
    }
  }
  releaseMailboxes();
}

// Returns 0, with nothing left allocated, when memory runs out.
int createBuffers() {
  int complete = 1;
  for (size_t i = 0; i < TEXT_SLOT_COUNT; i++) {
    for (int slot = 0; slot < slotsOf(i); slot++) {
      *textSlot(i, slot) = (char*)LocalAlloc(LMEM_ZEROINIT, TEXT_SLOTS[i].bytes);
      complete = complete && *textSlot(i, slot) != NULL;
    }
  }
  complete = complete && createMailboxes();
  if (!complete) releaseBuffers();
  return complete;
}

// Tries a load for some seconds while another program holds the file.
// Returns what the last try returned; -1 when the file stayed held.
int loadSettingsFile(Mailbox*) { return loadSettings(); }

int loadPatiently(int (*load)(Mailbox* box), Mailbox* box) {
  for (DWORD waited = 0;; waited += HELD_FILE_PAUSE_MS) {
    // A load fails only when the open failed, which sets the error.
    int result = load(box);
    if (result > 0) return result;
    if (GetLastError() != ERROR_SHARING_VIOLATION) return result;
    if (waited >= HELD_FILE_PATIENCE_MS) return -1;
    Sleep(HELD_FILE_PAUSE_MS);
  }
}

// -W<directory> makes the directory current; -TOFF turns the splash off;
// -V writes the trace of what the program does.
// "/" works as well as "-", and the letters may be of either case. Every
// word is looked at, the program's own path included. The words are
// Windows' own, in UTF-16: a folder of any name is found.
void parseCommandLine() {
  int traced = 0;
  int count = 0;
  LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (words == NULL) return;
  for (int i = 0; i < count; i++) {
    const WCHAR* word = words[i];
    if (word[0] != '-' && word[0] != '/') continue;
    WCHAR letter = word[1];
    if (letter == 'W' || letter == 'w') {
      SetCurrentDirectoryW(word + 2);
    } else if (letter == 'T' || letter == 't') {
      if (lstrcmpiW(word + 2, wide("OFF").text) == 0) settings.showSplash = 0;
    } else if (letter == 'V' || letter == 'v') {
      traced = 1;
    }
  }
  LocalFree(words);
  // Beside the settings, wherever -W put them.
  if (traced) startTrace();
}

int onCreate(HWND window, WPARAM, LPARAM) {
  // A new window starts every part from its first state.
  app.windowGone = 0;
  initMailboxes();
  initTrayIcon();
  parseCommandLine();
  Sleep(STARTUP_PAUSE_MS);
  if (settings.showSplash == 1) runSplash(window);
  // A WM_CLOSE from outside can reach the window inside any modal loop.
  if (app.windowGone) return 0;
  InitCommonControls();

  // The hidden window owns the settings sheet and the message boxes of a
  // check, which Windows places near their owner: near the centre.
  int halfWidth = GetSystemMetrics(SM_CXSCREEN) / 2;
  int halfHeight = GetSystemMetrics(SM_CYSCREEN) / 2;
  MoveWindow(window, halfWidth - 200, halfHeight - 100, 1, 1, FALSE);

  createTrayMenu();

  taskbarCreatedMsg = RegisterWindowMessageW(wide("TaskbarCreated").text);

  if (!createBuffers()) {
    MessageBoxW(NULL, wide("メモリが足りないので起動できないにゃ.").text, wide(APP_TITLE).text,
                MB_ICONERROR);
    return 0;
  }

  // A settings file that is there but cannot be read is not a first
  // start: asking for everything anew would soon overwrite it. At log-on
  // a scanner or a sync tool may hold it for some seconds.
  int loaded = loadPatiently(loadSettingsFile, NULL);
  while (loaded < 0) {
    if (MessageBoxW(
            NULL,
            wide(
                "設定ファイルKivvetLE.cfgが読めないにゃ.\nほかのプログラムが使っていないか確かめて、再試行を押してにゃ.")
                .text,
            wide(APP_TITLE).text, MB_RETRYCANCEL | MB_ICONWARNING) != IDRETRY)
      return 0;
    loaded = loadPatiently(loadSettingsFile, NULL);
  }
  if (loaded == 0) openSettingsSheet(window, NULL);
  if (app.windowGone) return 0;
  // A password protected for another Windows user or machine: the user
  // hears so at once and enters it again, rather than see a login fail.
  if (accounts[0].passwordLost) openSettingsSheet(window, settingsProblem());
  if (app.windowGone) return 0;
  // The known UIDs likewise: read too early, every message would count as
  // new and the list be written over.
  loadAllKnownUids(loadPatiently);
  setTrayIcon(window, NIM_ADD, "APPICON", "");
  if (app.windowGone) return 0;

  if (settings.checkAtStartup == 1)
    PostMessageW(window, WM_COMMAND, CMD_CHECK, 0);
  else
    for (int slot = 0; slot < accountCount; slot++) startIntervalTimer(window, &mailboxes[slot]);
  return 1;
}

// The window may end inside any call that waits for another process or
// runs a modal loop (the shell, a box, the sheet): a WM_CLOSE sent from
// outside arrives there. The step that made the call still runs when this
// returns, so nothing it uses is released here: the window's end is only
// marked, the timers stop and the icon goes; the rest waits for
// endProgram, after the message loop.
void onDestroy(HWND window, WPARAM, LPARAM) {
  app.windowGone = 1;
  stopAnnouncement(window);
  for (int slot = 0; slot < accountCount; slot++) {
    stopSchedule(window, &mailboxes[slot]);
    stopCheckTimers(window, &mailboxes[slot]);
  }
  setTrayIcon(window, NIM_DELETE, "APPICON", "");
  PostQuitMessage(0);
}

}  // namespace

void endProgram() {
  for (Mailbox& box : mailboxes) endCheckForShutdown(&box);
  releaseBuffers();
  destroyTrayMenu();
  endTrace();
}

LRESULT CALLBACK mainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      // Refusing the creation ends the program: a lack of memory, or a
      // settings file that cannot be read.
      return onCreate(window, wParam, lParam) ? 0 : -1;
    case WM_DESTROY: onDestroy(window, wParam, lParam); return 0;
    case WM_COMMAND: onCommand(window, wParam, lParam); return 0;
    case MSG_HOST_RESOLVED: onHostResolved(window, wParam, lParam); return 0;
    case MSG_SOCKET_EVENT: onSocketEvent(window, wParam, lParam); return 0;
    case MSG_TRAY_NOTIFY: onTrayNotify(window, wParam, lParam); return 0;
    case MSG_SETTINGS_NEEDED: onSettingsNeeded(window, wParam, lParam); return 0;
    // TRUE also grants the suspend queries of older Windows.
    case WM_POWERBROADCAST:
      for (int slot = 0; slot < accountCount; slot++)
        onPowerBroadcast(window, &mailboxes[slot], wParam, lParam);
      return TRUE;
    case MSG_CHECK_MAILBOX: onCheckMailbox(window, wParam, lParam); return 0;
    default: break;
  }
  // Explorer restarted and forgot every icon, or the scaling changed and
  // the icon is wanted at its new size: add ours again.
  if (message != 0 && message == taskbarCreatedMsg) {
    addTrayIconAgain(window);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}
