// Starting processes, asking the shell to open documents, the module's
// own path, and the popup menu's modal loop.
#include <string.h>

#include <set>

#include "platform/standin/standin_world.h"

// An open key of the user's registry.
struct HKEY__ {
  std::string path;  // lower-case, as compared
};

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

// HKEY_CURRENT_USER: key path -> value name -> text, both lower-cased.
std::map<std::string, std::map<std::string, std::string>> registry;
std::vector<std::unique_ptr<HKEY__>> openKeys;

// ASCII letters to lower case; the second byte of a Shift-JIS character
// stays as it is.
std::string folded(const std::string& text) {
  std::string out = text;
  for (size_t i = 0; i < out.size(); i++) {
    unsigned char c = (unsigned char)out[i];
    if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {
      i++;
    } else if (c >= 'A' && c <= 'Z') {
      out[i] = (char)(c - 'A' + 'a');
    }
  }
  return out;
}

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
  registry.clear();
  openKeys.clear();
}

std::optional<std::string> registryText(const std::string& key, const std::string& name) {
  auto values = registry.find(folded(key));
  if (values == registry.end()) return std::nullopt;
  auto value = values->second.find(folded(name));
  if (value == values->second.end()) return std::nullopt;
  return value->second;
}
void setRegistryText(const std::string& key, const std::string& name, const std::string& text) {
  registry[folded(key)][folded(name)] = text;
}
size_t openRegistryKeyCount() { return openKeys.size(); }

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
using standin::recording;

BOOL CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES,
                    LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCSTR directory,
                    STARTUPINFOA* startup, PROCESS_INFORMATION* information) {
  if (recording())
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
  if (recording())
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
  if (recording()) record("TrackPopupMenu");
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
  if (!recording()) return TRUE;
  record("PlaySoundA(" + standin::quoted(sound) + ")");
  standin::sounds.push_back(standin::Sound{standin::now(), sound ? sound : "",
                                           module == standin::programInstance(), flags});
  return TRUE;
}

BOOL MessageBeep(UINT type) {
  if (!recording()) return TRUE;
  record("MessageBeep(" + std::to_string(type) + ")");
  standin::sounds.push_back(standin::Sound{standin::now(), "beep", false, type});
  return TRUE;
}

// ---- the user's registry ----------------------------------------------------------

namespace {

LONG openKey(HKEY root, LPCSTR subKey, bool create, HKEY* result) {
  if (root != HKEY_CURRENT_USER || subKey == nullptr || result == nullptr)
    return ERROR_INVALID_PARAMETER;
  std::string path = standin::folded(subKey);
  if (!create && standin::registry.find(path) == standin::registry.end())
    return ERROR_FILE_NOT_FOUND;
  standin::registry[path];
  standin::openKeys.push_back(std::unique_ptr<HKEY__>(new HKEY__{path}));
  *result = standin::openKeys.back().get();
  return ERROR_SUCCESS;
}

std::map<std::string, std::string>* valuesOf(HKEY key) {
  for (auto& open : standin::openKeys)
    if (open.get() == key) return &standin::registry[key->path];
  return nullptr;
}

}  // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM, HKEY* result) {
  return openKey(key, subKey, false, result);
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                     HKEY* result, LPDWORD) {
  return openKey(key, subKey, true, result);
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, BYTE* data, LPDWORD size) {
  auto* values = valuesOf(key);
  if (values == nullptr) return ERROR_INVALID_HANDLE;
  auto value = values->find(standin::folded(name ? name : ""));
  if (value == values->end()) return ERROR_FILE_NOT_FOUND;
  if (type) *type = REG_SZ;
  DWORD needed = (DWORD)value->second.size() + 1;
  if (data != nullptr && (size == nullptr || *size < needed)) {
    if (size) *size = needed;
    return ERROR_MORE_DATA;
  }
  if (data != nullptr) memcpy(data, value->second.c_str(), needed);
  if (size) *size = needed;
  return ERROR_SUCCESS;
}

// A text value's size counts its NUL, as Windows expects it to.
LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
  if (recording()) record("RegSetValueExA(" + standin::quoted(name) + ")");
  auto* values = valuesOf(key);
  if (values == nullptr) return ERROR_INVALID_HANDLE;
  if (type != REG_SZ || data == nullptr || size == 0 || data[size - 1] != '\0')
    return ERROR_INVALID_PARAMETER;
  (*values)[standin::folded(name ? name : "")] = std::string((const char*)data, size - 1);
  return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY key, LPCSTR name) {
  if (recording()) record("RegDeleteValueA(" + standin::quoted(name) + ")");
  auto* values = valuesOf(key);
  if (values == nullptr) return ERROR_INVALID_HANDLE;
  return values->erase(standin::folded(name ? name : "")) > 0 ? ERROR_SUCCESS
                                                              : ERROR_FILE_NOT_FOUND;
}

LONG RegCloseKey(HKEY key) {
  for (auto open = standin::openKeys.begin(); open != standin::openKeys.end(); ++open) {
    if (open->get() == key) {
      standin::openKeys.erase(open);
      return ERROR_SUCCESS;
    }
  }
  return ERROR_INVALID_HANDLE;
}
