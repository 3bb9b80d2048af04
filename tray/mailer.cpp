// The mail program is started in its own directory. The directory is
// handed to CreateProcessA rather than made our own current directory for
// a moment: the settings and UID files are read relative to ours, and a
// current directory that could not be saved could not be restored either.
#include "tray/mailer.h"

#include <string.h>

#include "base/paths.h"
#include "settings/settings.h"

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
