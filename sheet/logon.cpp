// The value is named after the folder and holds the command line
//   "<program>" "-W<folder>" -TOFF
// which the installer writes the same way for the folder it installs into.
#include "sheet/logon.h"

#include <stdio.h>
#include <string.h>

#include "base/sjis.h"
#include "platform/win32.h"

namespace {

const char RUN_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char VALUE_PREFIX[] = "Kivvet LE - ";
const size_t NAME_BYTES = sizeof VALUE_PREFIX + MAX_PATH;
const size_t COMMAND_BYTES = 2 * MAX_PATH + 32;

int currentFolder(char* folder) {
  DWORD length = GetCurrentDirectoryA(MAX_PATH, folder);
  return length > 0 && length < MAX_PATH ? 1 : 0;
}

int valueName(char* name) {
  char folder[MAX_PATH];
  if (!currentFolder(folder)) return 0;
  snprintf(name, NAME_BYTES, "%s%s", VALUE_PREFIX, folder);
  return 1;
}

// A backslash right before the closing quote would make the quote part of
// the word when the command line is split: a folder that ends in one (a
// drive's root) has it doubled. The second byte of a double-byte
// character may be 0x5C too, and is no backslash.
int endsInBackslash(const char* text) {
  int backslash = 0;
  for (size_t i = 0; text[i] != '\0'; i++) {
    backslash = text[i] == '\\';
    if (isSjisLeadByte((unsigned char)text[i]) && text[i + 1] != '\0') i++;
  }
  return backslash;
}

int commandLine(char* command) {
  char program[MAX_PATH];
  char folder[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, program, sizeof program);
  if (length == 0 || length >= sizeof program || !currentFolder(folder)) return 0;
  snprintf(command, COMMAND_BYTES, "\"%s\" \"-W%s%s\" -TOFF", program, folder,
           endsInBackslash(folder) ? "\\" : "");
  return 1;
}

}  // namespace

int startsAtLogOn() {
  char name[NAME_BYTES];
  HKEY key;
  if (!valueName(name) ||
      RegOpenKeyExA(HKEY_CURRENT_USER, RUN_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return 0;
  DWORD type = 0;
  DWORD size = 0;
  LONG found = RegQueryValueExA(key, name, NULL, &type, NULL, &size);
  RegCloseKey(key);
  return found == ERROR_SUCCESS ? 1 : 0;
}

int setStartAtLogOn(int on) {
  char name[NAME_BYTES];
  char command[COMMAND_BYTES];
  HKEY key;
  if (!valueName(name) || (on && !commandLine(command))) return 0;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, RUN_KEY, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) !=
      ERROR_SUCCESS)
    return 0;
  LONG result;
  if (on) {
    result = RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)command, (DWORD)strlen(command) + 1);
  } else {
    result = RegDeleteValueA(key, name);
    if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return result == ERROR_SUCCESS ? 1 : 0;
}
