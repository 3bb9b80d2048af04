// Whatever a server sends, in whatever pieces: the program must neither
// crash nor overrun a buffer, and every session must end with the program
// free to check again.
//
// Input: byte 0 picks the settings (APOP, new-mail counting); then pieces,
// each a length byte and that many bytes, delivered as separate chunks.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "app/appstate.h"
#include "app/mainwindow.h"
#include "platform/standin/standin_control.h"
#include "settings/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  standin::reset();
  memset(&app, 0, sizeof app);
  setDefaultSettings();
  settings.checkAtStartup = 0;
  settings.showSplash = 0;
  app.appInstance = standin::programInstance();
  registerMainClass(app.appInstance);
  standin::writeFile("C:\\KivvetLE.cfg", "");  // a file exists: no sheet
  HWND window = createMainWindow(app.appInstance);
  strcpy(settings.serverHost, "127.0.0.1");
  strcpy(settings.userId, "cat");
  strcpy(settings.password, "nyan");
  settings.port = 110;
  settings.intervalMinutes = 10;
  settings.useApop = data[0] & 1;
  settings.soundNewOnly = (data[0] >> 1) & 1;
  settings.blinkNewOnly = (data[0] >> 2) & 1;

  SOCKET server = INVALID_SOCKET;
  standin::onConnect([&server](SOCKET s) {
    server = s;
    standin::connectionEstablished(s, 0);
  });
  PostMessageA(window, WM_COMMAND, CMD_CHECK, 0);
  standin::pump();

  size_t at = 1;
  while (at < size) {
    size_t length = data[at++];
    if (length > size - at) length = size - at;
    standin::serverSends(server, std::string((const char*)data + at, length));
    at += length;
    standin::pump();
  }
  // Whatever state the dialogue is in, the server now hangs up, and time
  // passes: the program must be idle again.
  standin::serverCloses(server, 0);
  standin::advance(130000);
  if (app.busy != 0 || app.sessionState != Idle || standin::socketOpen(server)) abort();
  if (app.lineLength >= LINE_BUFFER_BYTES || strlen(app.lineBuffer) != app.lineLength) abort();
  DestroyWindow(window);
  return 0;
}
