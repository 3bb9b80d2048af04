// The value is named after the folder and holds the command line
//   "<program>" "-W<folder>" -TOFF
// which the installer writes the same way for the folder it installs into.
#include "sheet/logon.h"

#include <stdio.h>
#include <string.h>

#include "base/text.h"
#include "platform/win32.h"

namespace {

const char RUN_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char VALUE_PREFIX[] = "Kivvet LE - ";
// UTF-8 of paths of up to MAX_PATH WCHARs.
const size_t PATH_BYTES = 3 * MAX_PATH;
const size_t NAME_BYTES = sizeof VALUE_PREFIX + PATH_BYTES;
const size_t COMMAND_BYTES = 2 * PATH_BYTES + 32;

int currentFolder(char* folder) {
  WCHAR path[MAX_PATH];
  DWORD length = GetCurrentDirectoryW(MAX_PATH, path);
  return length > 0 && length < MAX_PATH && toUtf8(path, folder, PATH_BYTES) ? 1 : 0;
}

int valueName(char* name) {
  char folder[PATH_BYTES];
  if (!currentFolder(folder)) return 0;
  snprintf(name, NAME_BYTES, "%s%s", VALUE_PREFIX, folder);
  return 1;
}

// A backslash right before the closing quote would make the quote part of
// the word when the command line is split: a folder that ends in one (a
// drive's root) has it doubled. In UTF-8 no byte of another character
// is a backslash.
int endsInBackslash(const char* text) {
  size_t length = strlen(text);
  return length > 0 && text[length - 1] == '\\';
}

int commandLine(char* command) {
  WCHAR path[MAX_PATH];
  char program[PATH_BYTES];
  char folder[PATH_BYTES];
  DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || !toUtf8(path, program, sizeof program) ||
      !currentFolder(folder))
    return 0;
  snprintf(command, COMMAND_BYTES, "\"%s\" \"-W%s%s\" -TOFF", program, folder,
           endsInBackslash(folder) ? "\\" : "");
  return 1;
}

}  // namespace

int startsAtLogOn() {
  char name[NAME_BYTES];
  HKEY key;
  if (!valueName(name) || RegOpenKeyExW(HKEY_CURRENT_USER, wide(RUN_KEY).text, 0, KEY_QUERY_VALUE,
                                        &key) != ERROR_SUCCESS)
    return 0;
  DWORD type = 0;
  DWORD size = 0;
  LONG found = RegQueryValueExW(key, wide(name).text, NULL, &type, NULL, &size);
  RegCloseKey(key);
  return found == ERROR_SUCCESS ? 1 : 0;
}

int setStartAtLogOn(int on) {
  char name[NAME_BYTES];
  char command[COMMAND_BYTES];
  HKEY key;
  if (!valueName(name) || (on && !commandLine(command))) return 0;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, wide(RUN_KEY).text, 0, NULL, 0, KEY_SET_VALUE, NULL, &key,
                      NULL) != ERROR_SUCCESS)
    return 0;
  LONG result;
  if (on) {
    // The size in bytes, with the NUL.
    WideText value = wide(command);
    size_t units = 0;
    while (value.text[units] != 0) units++;
    result = RegSetValueExW(key, wide(name).text, 0, REG_SZ, (const BYTE*)value.text,
                            (DWORD)((units + 1) * sizeof(WCHAR)));
  } else {
    result = RegDeleteValueW(key, wide(name).text);
    if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return result == ERROR_SUCCESS ? 1 : 0;
}
