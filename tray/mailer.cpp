// The mail program is started in its own directory. The directory is
// handed to CreateProcessA rather than made our own current directory for
// a moment: the settings and UID files are read relative to ours, and a
// current directory that could not be saved could not be restored either.
#include "tray/mailer.h"

#include <string.h>

#include "app/sjis.h"
#include "settings/settings.h"

int directoryOf(const char* path, char* directory, size_t size) {
  size_t cut = 0;
  int found = 0;
  for (size_t i = 0; path[i] != '\0'; i++) {
    if (path[i] == '\\' || path[i] == '/') {
      cut = i;
      found = 1;
    } else if (isSjisLeadByte((unsigned char)path[i]) && path[i + 1] != '\0') {
      i++;  // the trail byte may be 0x5C, as in 表 or ソ
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
  char path[MAX_PATH + 1];
  DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
  if (length == 0 || length >= sizeof path) return 0;
  return directoryOf(path, directory, size);
}

int appendPath(char* path, size_t size, const char* name) {
  size_t used = strlen(path);
  size_t needed = used + 1 + strlen(name) + 1;
  if (needed > size) return 0;
  if (used > 0 && path[used - 1] != '\\') path[used++] = '\\';
  strcpy(path + used, name);
  return 1;
}

void launchMailer() {
  // A blank, the whole of mailerArgs and the terminator always fit.
  char commandLine[1 + LONG_TEXT_BYTES + 1];
  commandLine[0] = ' ';
  strcpy(commandLine + 1, settings.mailerArgs);

  char directory[LONG_TEXT_BYTES + 1];
  const char* startIn = NULL;
  if (directoryOf(settings.mailerPath, directory, sizeof directory) &&
      GetFileAttributesA(directory) != INVALID_FILE_ATTRIBUTES)
    startIn = directory;

  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION started;
  memset(&started, 0, sizeof started);
  if (CreateProcessA(settings.mailerPath, commandLine, NULL, NULL, FALSE, 0, NULL, startIn,
                     &startup, &started)) {
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
  }
}
