// Paths: a file's directory, the program's own, and a name added to one.
#include "base/paths.h"

#include <string.h>

#include "base/text.h"

int directoryOf(const char* path, char* directory, size_t size) {
  size_t cut = 0;
  int found = 0;
  for (size_t i = 0; path[i] != '\0'; i++) {
    // UTF-8: no byte of a character past ASCII is a separator.
    if (path[i] == '\\' || path[i] == '/') {
      cut = i;
      found = 1;
    }
  }
  if (!found) return 0;
  // "C:\mail.exe" lies in the root "C:\", not in "C:" (the current
  // directory of drive C).
  if (cut == 2 && path[1] == ':') cut = 3;
  if (cut == 0) cut = 1;  // "\mail.exe": the root of the current drive
  if (cut + 1 > size) return 0;
  memcpy(directory, path, cut);
  directory[cut] = '\0';
  return 1;
}

int programDirectory(char* directory, size_t size) {
  WCHAR path[MAX_PATH + 1];
  char text[3 * MAX_PATH + 1];
  DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH + 1);
  if (length == 0 || length >= MAX_PATH + 1 || !toUtf8(path, text, sizeof text)) return 0;
  return directoryOf(text, directory, size);
}

int appendPath(char* path, size_t size, const char* name) {
  size_t used = strlen(path);
  size_t needed = used + 1 + strlen(name) + 1;
  if (needed > size) return 0;
  if (used > 0 && path[used - 1] != '\\') path[used++] = '\\';
  strcpy(path + used, name);
  return 1;
}
