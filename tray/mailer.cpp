// The mail program is started in its own directory. The directory is
// handed to CreateProcessW rather than made our own current directory for
// a moment: the settings and UID files are read relative to ours, and a
// current directory that could not be saved could not be restored either.
#include "tray/mailer.h"

#include <string.h>

#include "base/paths.h"
#include "base/text.h"
#include "settings/settings.h"

void launchMailer() {
  // A blank, the whole of mailerArgs and the terminator always fit.
  // Windows writes to the line: a buffer of our own. A blank, the whole
  // of mailerArgs and the terminator always fit.
  WCHAR commandLine[1 + LONG_TEXT_BYTES + 1];
  commandLine[0] = ' ';
  toWide(settings.mailerArgs, commandLine + 1, LONG_TEXT_BYTES + 1);

  char directory[LONG_TEXT_BYTES + 1];
  WideText startIn = {};
  int haveStartIn = directoryOf(settings.mailerPath, directory, sizeof directory) &&
                    GetFileAttributesW(wide(directory).text) != INVALID_FILE_ATTRIBUTES;
  if (haveStartIn) startIn = wide(directory);

  STARTUPINFOW startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION started;
  memset(&started, 0, sizeof started);
  if (CreateProcessW(wide(settings.mailerPath).text, commandLine, NULL, NULL, FALSE, 0, NULL,
                     haveStartIn ? startIn.text : NULL, &startup, &started)) {
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
  }
}
