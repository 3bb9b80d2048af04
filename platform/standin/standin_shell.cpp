// Starting processes, asking the shell to open documents, the module's
// own path, and the popup menu's modal loop.
#include <string.h>

#include <set>

#include "platform/standin/standin_world.h"

namespace standin {

namespace {

std::vector<ProcessStart> processes;
bool processFails = false;
std::set<intptr_t> processHandles;
intptr_t nextProcessHandle = 0x7000;
std::vector<ShellRequest> shell;
std::string modulePath;

struct MenuChoice {
  UINT_PTR choice;
  std::function<void()> action;
};
std::deque<MenuChoice> menuChoices;
std::vector<MenuShown> menus;
std::vector<Sound> sounds;

}  // namespace

void resetShell() {
  processes.clear();
  processFails = false;
  processHandles.clear();
  shell.clear();
  modulePath = "C:\\Program Files\\KivvetLE\\KivvetLE.exe";
  menuChoices.clear();
  menus.clear();
  sounds.clear();
}

const std::vector<Sound>& soundsPlayed() { return sounds; }

bool closeProcessHandle(HANDLE handle) { return processHandles.erase((intptr_t)handle) > 0; }

const std::vector<ProcessStart>& processesStarted() { return processes; }
void failNextProcess() { processFails = true; }
size_t openProcessHandleCount() { return processHandles.size(); }
const std::vector<ShellRequest>& shellRequests() { return shell; }
void setModulePath(const std::string& windowsPath) { modulePath = windowsPath; }
void onNextMenu(UINT_PTR choice, std::function<void()> action) {
  menuChoices.push_back(MenuChoice{choice, std::move(action)});
}
const std::vector<MenuShown>& menusShown() { return menus; }

}  // namespace standin

using standin::record;

BOOL CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES,
                    LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCSTR directory,
                    STARTUPINFOA* startup, PROCESS_INFORMATION* information) {
  record("CreateProcessA(" + standin::quoted(application) + ", " + standin::quoted(commandLine) +
         ")");
  std::string where = directory ? directory : standin::currentDirectory();
  bool fails = standin::processFails || !application ||
               GetFileAttributesA(application) == INVALID_FILE_ATTRIBUTES;
  standin::processFails = false;
  if (fails) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  standin::processes.push_back(
      standin::ProcessStart{application, commandLine ? commandLine : "", where, *startup});
  information->hProcess = (HANDLE)standin::nextProcessHandle++;
  information->hThread = (HANDLE)standin::nextProcessHandle++;
  information->dwProcessId = 4000 + (DWORD)standin::processes.size();
  information->dwThreadId = 5000 + (DWORD)standin::processes.size();
  standin::processHandles.insert((intptr_t)information->hProcess);
  standin::processHandles.insert((intptr_t)information->hThread);
  return TRUE;
}

HINSTANCE ShellExecuteA(HWND, LPCSTR verb, LPCSTR file, LPCSTR, LPCSTR, INT show) {
  record("ShellExecuteA(" + standin::quoted(verb) + ", " + standin::quoted(file) + ")");
  standin::shell.push_back(standin::ShellRequest{verb ? verb : "", file ? file : "", show});
  return (HINSTANCE)(intptr_t)42;
}

DWORD GetModuleFileNameA(HMODULE, LPSTR buffer, DWORD size) {
  const std::string& path = standin::modulePath;
  if (size == 0) return 0;
  DWORD copied = (DWORD)std::min((size_t)size - 1, path.size());
  memcpy(buffer, path.data(), copied);
  buffer[copied] = '\0';
  return copied;
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND window, const RECT*) {
  record("TrackPopupMenu");
  if (!menu || !menu->alive) return FALSE;
  standin::menus.push_back(standin::MenuShown{flags, x, y, menu->items});
  if (standin::menuChoices.empty()) return TRUE;
  standin::MenuChoice choice = standin::menuChoices.front();
  standin::menuChoices.pop_front();
  // The menu runs its own loop: what is posted meanwhile is dispatched.
  if (choice.action) choice.action();
  for (const standin::MenuItem& item : menu->items)
    if (item.id == choice.choice && !item.grayed) PostMessageA(window, WM_COMMAND, item.id, 0);
  return TRUE;
}

BOOL PlaySoundA(LPCSTR sound, HMODULE module, DWORD flags) {
  record("PlaySoundA(" + standin::quoted(sound) + ")");
  standin::sounds.push_back(standin::Sound{standin::now(), sound ? sound : "",
                                           module == standin::programInstance(), flags});
  return TRUE;
}

BOOL MessageBeep(UINT type) {
  record("MessageBeep(" + std::to_string(type) + ")");
  standin::sounds.push_back(standin::Sound{standin::now(), "beep", false, type});
  return TRUE;
}
