// Starting processes, asking the shell to open documents, the module's
// own path, and the popup menu's modal loop.
#include <string.h>

#include <set>

#include "platform/standin/standin_world.h"

// An open key of the user's registry, or of the MIME database.
struct HKEY__ {
  std::string path;                   // lower-case, as compared
  const struct MimeCharset* charset;  // a key of the MIME database, else null
};

// HKEY_CLASSES_ROOT\MIME\Database\Charset as Windows and Wine fill it,
// for the names the tests use: a name's key holds its code page, or the
// name it is an alias for. Only the header reader reads it.
struct MimeCharset {
  const char* name;
  DWORD codePage;          // "Codepage": the family's Windows code page
  DWORD internetEncoding;  // "InternetEncoding": the one to convert with
  const char* alias;       // "AliasForCharset", or null
  DWORD aliasType = REG_SZ;
};
const MimeCharset mimeCharsets[] = {
    {"utf-8", 1200, 65001, nullptr},
    {"iso-2022-jp", 932, 50220, nullptr},
    {"csiso2022jp", 0, 0, "_iso-2022-jp$ESC"},
    {"_iso-2022-jp$esc", 932, 50221, nullptr},
    {"shift_jis", 932, 932, nullptr},
    {"x-sjis", 0, 0, "shift_jis"},
    {"euc-jp", 932, 51932, nullptr},  // which MultiByteToWideChar lacks
    {"iso-8859-1", 1252, 1252, nullptr},
    {"us-ascii", 0, 0, "iso-8859-1"},
    {"iso-8859-2", 1250, 28592, nullptr},
    {"latin2", 0, 0, "iso-8859-2"},
    {"iso-8859-7", 1253, 28597, nullptr},
    {"windows-1250", 1250, 1250, nullptr},
    {"windows-1251", 1251, 1251, nullptr},
    {"windows-1252", 1252, 1252, nullptr},
    {"koi8-r", 1251, 20866, nullptr},
    {"ks_c_5601-1987", 949, 949, nullptr},
    {"gb2312", 936, 936, nullptr},
    {"gbk", 0, 0, "gb2312"},
    {"big5", 950, 950, nullptr},
    // A loop no real database has, which a reader must still get out of,
    // and an alias of another type than text, as a damaged one may hold.
    {"x-loop", 0, 0, "x-loop"},
    {"x-damaged", 0, 0, "shift_jis", REG_DWORD},
};

namespace standin {

namespace {

std::vector<ProcessStart> processes;
std::set<intptr_t> processHandles;
intptr_t nextProcessHandle = 0x7000;
std::vector<ShellRequest> shell;
std::string programPath;

struct MenuChoice {
  UINT_PTR choice;
  std::function<void()> action;
};
std::deque<MenuChoice> menuChoices;
std::vector<MenuShown> menus;
std::vector<Sound> sounds;
QUERY_USER_NOTIFICATION_STATE notificationState = QUNS_ACCEPTS_NOTIFICATIONS;
HRESULT notificationFailure = S_OK;
size_t notificationQueries = 0;
std::string userModelId;

// HKEY_CURRENT_USER: key path -> value name -> text, both lower-cased.
std::map<std::string, std::map<std::string, std::string>> registry;
std::vector<std::unique_ptr<HKEY__>> openKeys;
bool registryWritesRefused = false;

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
  processHandles.clear();
  shell.clear();
  programPath = "C:\\Program Files\\KivvetLE\\KivvetLE.exe";
  menuChoices.clear();
  menus.clear();
  sounds.clear();
  notificationState = QUNS_ACCEPTS_NOTIFICATIONS;
  notificationFailure = S_OK;
  notificationQueries = 0;
  userModelId.clear();
  registry.clear();
  openKeys.clear();
  registryWritesRefused = false;
}

void refuseRegistryWrites() { registryWritesRefused = true; }

std::optional<std::string> registryText(const std::string& key, const std::string& name) {
  auto values = registry.find(folded(key));
  if (values == registry.end()) return std::nullopt;
  auto value = values->second.find(folded(name));
  if (value == values->second.end()) return std::nullopt;
  return value->second;
}
size_t openRegistryKeyCount() { return openKeys.size(); }

const std::vector<Sound>& soundsPlayed() { return sounds; }

void answerNotificationState(QUERY_USER_NOTIFICATION_STATE state, HRESULT failure) {
  notificationState = state;
  notificationFailure = failure;
}
size_t notificationStateQueries() { return notificationQueries; }
const std::string& appUserModelId() { return userModelId; }

bool closeProcessHandle(HANDLE handle) { return processHandles.erase((intptr_t)handle) > 0; }

const std::vector<ProcessStart>& processesStarted() { return processes; }
size_t openProcessHandleCount() { return processHandles.size(); }
const std::vector<ShellRequest>& shellRequests() { return shell; }
void setModulePath(const std::string& windowsPath) { programPath = windowsPath; }
const std::string& modulePath() { return programPath; }
void onNextMenu(UINT_PTR choice, std::function<void()> action) {
  menuChoices.push_back(MenuChoice{choice, std::move(action)});
}
const std::vector<MenuShown>& menusShown() { return menus; }

}  // namespace standin

using standin::record;
using standin::recording;

BOOL CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES,
                    LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCWSTR directory,
                    STARTUPINFOW* startup, PROCESS_INFORMATION* information) {
  if (recording())
    record("CreateProcessW(" + standin::quoted(application) + ", " + standin::quoted(commandLine) +
           ")");
  std::string where = directory ? standin::narrow(directory) : standin::currentDirectory();
  bool fails = !application || GetFileAttributesW(application) == INVALID_FILE_ATTRIBUTES;
  if (fails) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  standin::processes.push_back(standin::ProcessStart{
      standin::narrow(application), standin::narrow(commandLine), where, *startup});
  information->hProcess = (HANDLE)standin::nextProcessHandle++;
  information->hThread = (HANDLE)standin::nextProcessHandle++;
  information->dwProcessId = 4000 + (DWORD)standin::processes.size();
  information->dwThreadId = 5000 + (DWORD)standin::processes.size();
  standin::processHandles.insert((intptr_t)information->hProcess);
  standin::processHandles.insert((intptr_t)information->hThread);
  return TRUE;
}

HINSTANCE ShellExecuteW(HWND, LPCWSTR verb, LPCWSTR file, LPCWSTR, LPCWSTR, INT show) {
  if (recording())
    record("ShellExecuteW(" + standin::quoted(verb) + ", " + standin::quoted(file) + ")");
  standin::shell.push_back(
      standin::ShellRequest{standin::narrow(verb), standin::narrow(file), show});
  return (HINSTANCE)(intptr_t)42;
}

// A buffer too small gets what fits, and the answer is its size.
DWORD GetModuleFileNameW(HMODULE, LPWSTR buffer, DWORD size) {
  if (size == 0) return 0;
  size_t copied = standin::copyOut(standin::programPath, buffer, size);
  return standin::widen(standin::programPath).size() >= size ? size : (DWORD)copied;
}

// As the C run-time splits it: blanks part words outside quotes; 2n
// backslashes before a quote are n and the quote counts, 2n+1 are n and
// a quote of the word; other backslashes are themselves.
LPWSTR* CommandLineToArgvW(LPCWSTR line, int* count) {
  std::vector<std::u16string> words;
  size_t i = 0;
  while (line[i]) {
    while (line[i] == u' ' || line[i] == u'\t') i++;
    if (!line[i]) break;
    std::u16string word;
    bool quoted = false;
    for (; line[i] && (quoted || (line[i] != u' ' && line[i] != u'\t')); i++) {
      size_t backslashes = 0;
      while (line[i] == u'\\') backslashes++, i++;
      if (line[i] == u'"') {
        word.append(backslashes / 2, u'\\');
        if (backslashes % 2) {
          word += u'"';
        } else {
          quoted = !quoted;
        }
      } else {
        word.append(backslashes, u'\\');
        if (!line[i]) break;
        if (!quoted && (line[i] == u' ' || line[i] == u'\t')) break;
        word += line[i];
      }
    }
    words.push_back(word);
  }
  size_t bytes = (words.size() + 1) * sizeof(LPWSTR);
  for (const auto& word : words) bytes += (word.size() + 1) * sizeof(WCHAR);
  LPWSTR* result = (LPWSTR*)LocalAlloc(0, bytes);
  if (!result) return nullptr;
  WCHAR* text = (WCHAR*)(result + words.size() + 1);
  for (size_t k = 0; k < words.size(); k++) {
    result[k] = text;
    memcpy(text, words[k].c_str(), (words[k].size() + 1) * sizeof(WCHAR));
    text += words[k].size() + 1;
  }
  result[words.size()] = nullptr;
  *count = (int)words.size();
  return result;
}

namespace {

// The chosen item, in the menu or in one of its submenus that can open.
bool chooseIn(HMENU menu, UINT_PTR choice, HWND window) {
  for (const standin::MenuItem& item : menu->items) {
    if (item.grayed) continue;
    if ((item.flags & MF_POPUP) && chooseIn((HMENU)item.id, choice, window)) return true;
    if (!(item.flags & (MF_POPUP | MF_SEPARATOR)) && item.id == choice) {
      PostMessageW(window, WM_COMMAND, item.id, 0);
      return true;
    }
  }
  return false;
}

}  // namespace

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND window, const RECT*) {
  if (recording()) record("TrackPopupMenu");
  if (!menu || !menu->alive) return FALSE;
  standin::menus.push_back(standin::MenuShown{flags, x, y, menu->items});
  if (standin::menuChoices.empty()) return TRUE;
  standin::MenuChoice choice = standin::menuChoices.front();
  standin::menuChoices.pop_front();
  // The menu runs its own loop: what is posted meanwhile is dispatched.
  if (choice.action) choice.action();
  if (choice.choice != 0) chooseIn(menu, choice.choice, window);
  return TRUE;
}

BOOL PlaySoundW(LPCWSTR sound, HMODULE module, DWORD flags) {
  if (!recording()) return TRUE;
  record("PlaySoundW(" + standin::quoted(sound) + ")");
  standin::sounds.push_back(standin::Sound{standin::now(), standin::narrow(sound),
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

const char MIME_CHARSETS[] = "mime\\database\\charset\\";

LONG openKey(HKEY root, LPCWSTR subKey, bool create, HKEY* result) {
  if (subKey == nullptr || result == nullptr) return ERROR_INVALID_PARAMETER;
  std::string path = standin::folded(standin::narrow(subKey));
  if (root == HKEY_CLASSES_ROOT && !create) {
    if (path.rfind(MIME_CHARSETS, 0) != 0) return ERROR_FILE_NOT_FOUND;
    for (const MimeCharset& charset : mimeCharsets) {
      if (path.substr(strlen(MIME_CHARSETS)) != charset.name) continue;
      standin::openKeys.push_back(std::unique_ptr<HKEY__>(new HKEY__{path, &charset}));
      *result = standin::openKeys.back().get();
      return ERROR_SUCCESS;
    }
    return ERROR_FILE_NOT_FOUND;
  }
  if (root != HKEY_CURRENT_USER) return ERROR_INVALID_PARAMETER;
  if (!create && standin::registry.find(path) == standin::registry.end())
    return ERROR_FILE_NOT_FOUND;
  standin::registry[path];
  standin::openKeys.push_back(std::unique_ptr<HKEY__>(new HKEY__{path, nullptr}));
  *result = standin::openKeys.back().get();
  return ERROR_SUCCESS;
}

std::map<std::string, std::string>* valuesOf(HKEY key) {
  for (auto& open : standin::openKeys)
    if (open.get() == key && key->charset == nullptr) return &standin::registry[key->path];
  return nullptr;
}

bool isOpen(HKEY key) {
  for (auto& open : standin::openKeys)
    if (open.get() == key) return true;
  return false;
}

// A value's bytes as Windows hands them out: ERROR_MORE_DATA and the
// size needed when the buffer is too small.
LONG handOut(DWORD valueType, const void* bytes, DWORD needed, LPDWORD type, BYTE* data,
             LPDWORD size) {
  if (type) *type = valueType;
  if (data != nullptr && (size == nullptr || *size < needed)) {
    if (size) *size = needed;
    return ERROR_MORE_DATA;
  }
  if (data != nullptr) memcpy(data, bytes, needed);
  if (size) *size = needed;
  return ERROR_SUCCESS;
}

LONG charsetValue(const MimeCharset& charset, const std::string& name, LPDWORD type, BYTE* data,
                  LPDWORD size) {
  if (charset.alias != nullptr) {
    if (name != "aliasforcharset") return ERROR_FILE_NOT_FOUND;
    std::u16string text = standin::widen(charset.alias);
    return handOut(charset.aliasType, text.c_str(), (DWORD)((text.size() + 1) * sizeof(WCHAR)),
                   type, data, size);
  }
  if (name == "codepage") return handOut(REG_DWORD, &charset.codePage, 4, type, data, size);
  if (name == "internetencoding")
    return handOut(REG_DWORD, &charset.internetEncoding, 4, type, data, size);
  return ERROR_FILE_NOT_FOUND;
}

}  // namespace

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM, HKEY* result) {
  return openKey(key, subKey, false, result);
}

// As on Windows, a reserved argument must be 0.
LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR, DWORD, REGSAM,
                     LPSECURITY_ATTRIBUTES, HKEY* result, LPDWORD) {
  if (reserved != 0) return ERROR_INVALID_PARAMETER;
  if (standin::registryWritesRefused) return ERROR_ACCESS_DENIED;
  return openKey(key, subKey, true, result);
}

// Sizes in bytes: the UTF-16 text and its NUL.
LONG RegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type, BYTE* data, LPDWORD size) {
  if (!isOpen(key)) return ERROR_INVALID_HANDLE;
  if (key->charset != nullptr)
    return charsetValue(*key->charset, standin::folded(standin::narrow(name)), type, data, size);
  auto* values = valuesOf(key);
  auto value = values->find(standin::folded(standin::narrow(name)));
  if (value == values->end()) return ERROR_FILE_NOT_FOUND;
  std::u16string text = standin::widen(value->second);
  return handOut(REG_SZ, text.c_str(), (DWORD)((text.size() + 1) * sizeof(WCHAR)), type, data,
                 size);
}

// A text value's size counts its NUL, as Windows expects it to.
LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size) {
  if (recording()) record("RegSetValueExW(" + standin::quoted(name) + ")");
  if (reserved != 0) return ERROR_INVALID_PARAMETER;
  auto* values = valuesOf(key);
  if (values == nullptr) return ERROR_INVALID_HANDLE;
  // The size in bytes, the NUL included: a count of characters (half of
  // it) would cut the text short on Windows.
  std::u16string text((size_t)size / sizeof(WCHAR), u'\0');
  if (data != nullptr) memcpy(&text[0], data, text.size() * sizeof(WCHAR));
  if (type != REG_SZ || data == nullptr || size % sizeof(WCHAR) != 0 || text.empty() ||
      text.back() != u'\0' || text.find(u'\0') != text.size() - 1)
    return ERROR_INVALID_PARAMETER;
  text.pop_back();
  (*values)[standin::folded(standin::narrow(name))] = standin::narrow(text.c_str());
  return ERROR_SUCCESS;
}

LONG RegDeleteValueW(HKEY key, LPCWSTR name) {
  if (recording()) record("RegDeleteValueW(" + standin::quoted(name) + ")");
  auto* values = valuesOf(key);
  if (values == nullptr) return ERROR_INVALID_HANDLE;
  return values->erase(standin::folded(standin::narrow(name))) > 0 ? ERROR_SUCCESS
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

// ---- whether the user may be disturbed -------------------------------------------

HRESULT SHQueryUserNotificationState(QUERY_USER_NOTIFICATION_STATE* state) {
  if (!state) return E_INVALIDARG;
  standin::notificationQueries++;
  if (recording()) record("SHQueryUserNotificationState");
  if (standin::notificationFailure != S_OK) return standin::notificationFailure;
  *state = standin::notificationState;
  return S_OK;
}

// Windows takes at most 128 characters, and must be asked before the
// process shows anything.
HRESULT SetCurrentProcessExplicitAppUserModelID(LPCWSTR id) {
  if (!id || standin::narrow(id).empty() || standin::narrow(id).size() > 128) return E_INVALIDARG;
  if (!standin::world().windows.empty()) return E_UNEXPECTED;
  standin::userModelId = standin::narrow(id);
  return S_OK;
}
