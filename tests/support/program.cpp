#include "tests/support/program.h"

#include <string.h>

#include "app/main.h"
#include "app/mainwindow.h"

namespace {

char** const textSlots[] = {&accounts[0].serverHost, &accounts[0].userId,     &accounts[0].password,
                            &settings.voicePath,  &settings.mailerPath, &settings.mailerArgs,
                            &accounts[0].accountName};
bool slotsFromTest = false;
HWND mainWindow = nullptr;
bool started = false;

void freeTestSlots() {
  if (!slotsFromTest) return;
  for (char** slot : textSlots) {
    LocalFree(*slot);
    *slot = nullptr;
  }
  slotsFromTest = false;
}

}  // namespace

void resetProgram() {
  freeTestSlots();
  standin::reset();
  memset(&app, 0, sizeof app);
  for (char** slot : textSlots) *slot = nullptr;
  setDefaultSettings();
  mainWindow = nullptr;
}

void allocateSettingsTexts() {
  for (char** slot : textSlots) {
    DWORD size = (slot == &settings.voicePath || slot == &settings.mailerPath ||
                  slot == &settings.mailerArgs)
                     ? LONG_TEXT_BYTES
                     : SHORT_TEXT_BYTES;
    *slot = (char*)LocalAlloc(LMEM_ZEROINIT, size);
  }
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
