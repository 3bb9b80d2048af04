#include "tests/support/program.h"

#include <string.h>

#include "app/main.h"
#include "app/mainwindow.h"
#include "check/mailboxes.h"

namespace {

// Every text slot of the records: the program's, and each account's.
template <typename Visit>
void forEachTextSlot(Visit visit) {
  for (size_t i = 0; i < TEXT_SLOT_COUNT; i++)
    for (int slot = 0; slot < (TEXT_SLOTS[i].ofAccount ? MOST_MAILBOXES : 1); slot++)
      visit(textSlotOf(TEXT_SLOTS[i], &settings, &accounts[slot]), TEXT_SLOTS[i].bytes);
}
bool slotsFromTest = false;
HWND mainWindow = nullptr;
bool started = false;

void freeTestSlots() {
  if (!slotsFromTest) return;
  forEachTextSlot([](char** slot, DWORD) {
    LocalFree(*slot);
    *slot = nullptr;
  });
  slotsFromTest = false;
}

}  // namespace

void resetProgram() {
  freeTestSlots();
  standin::reset();
  memset(&app, 0, sizeof app);
  forEachTextSlot([](char** slot, DWORD) { *slot = nullptr; });
  setDefaultSettings();
  mainWindow = nullptr;
}

void allocateSettingsTexts() {
  forEachTextSlot([](char** slot, DWORD size) { *slot = (char*)LocalAlloc(LMEM_ZEROINIT, size); });
  slotsFromTest = true;
}

HWND startProgram(const std::vector<std::string>& words) {
  std::vector<std::string> arguments{"C:\\Program Files\\KivvetLE\\KivvetLE.exe"};
  arguments.insert(arguments.end(), words.begin(), words.end());
  standin::setArguments(arguments);
  app.appInstance = standin::programInstance();
  registerMainClass(app.appInstance);  // refused, harmlessly, when already registered
  mainWindow = createMainWindow(app.appInstance);
  started = true;
  return mainWindow;
}

void releaseProgram() {
  if (mainWindow && standin::isWindowAlive(mainWindow)) DestroyWindow(mainWindow);
  // As WinMain does once its message loop has ended.
  if (started) endProgram();
  started = false;
  mainWindow = nullptr;
  freeTestSlots();
}

void writeSettingsFile(const std::string& directory) {
  bool hadSlots = accounts[0].serverHost != nullptr;
  if (!hadSlots) allocateSettingsTexts();
  std::string before = standin::currentDirectory();
  SetCurrentDirectoryW(wide(directory.c_str()).text);
  saveSettings();
  SetCurrentDirectoryW(wide(before.c_str()).text);
  if (!hadSlots) freeTestSlots();
  standin::clearTrace();
}
