// Any content of KivvetLE.cfg and KivvetLE.log: loading must not crash,
// every settings text ends inside its slot, every UID slot holds at most
// 32 characters, and a merge afterwards stays within its table.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "app/mainwindow.h"
#include "base/appstate.h"
#include "check/knownuids.h"
#include "check/mailboxes.h"
#include "platform/standin/standin_control.h"
#include "settings/settings.h"

namespace {

void allocate() {
  static bool done = false;
  if (done) return;
  done = true;
  char** shortSlots[] = {&accounts[0].serverHost, &accounts[0].userId, &accounts[0].password,
                         &accounts[0].accountName};
  char** longSlots[] = {&settings.voicePath, &settings.mailerPath, &settings.mailerArgs};
  for (char** slot : shortSlots) *slot = (char*)calloc(1, SHORT_TEXT_BYTES);
  for (char** slot : longSlots) *slot = (char*)calloc(1, LONG_TEXT_BYTES);
  for (DWORD i = 0; i < UID_SLOTS; i++) {
    mailboxes[0].knownUids[i] = (char*)calloc(1, UID_SLOT_BYTES);
    mailboxes[0].currentUids[i] = (char*)calloc(1, UID_SLOT_BYTES);
  }
  standin::reset();
  standin::keepRecords(false);
  standin::keepFilesInMemory();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  allocate();
  static std::string bytes;
  bytes.assign((const char*)data, size);
  standin::writeFile("C:\\KivvetLE.cfg", bytes);
  if (loadSettings() != 1) abort();
  const char* shortTexts[] = {accounts[0].serverHost, accounts[0].userId, accounts[0].password,
                              accounts[0].accountName};
  const char* longTexts[] = {settings.voicePath, settings.mailerPath, settings.mailerArgs};
  for (const char* text : shortTexts)
    if (strnlen(text, SHORT_TEXT_BYTES) == SHORT_TEXT_BYTES) abort();
  for (const char* text : longTexts)
    if (strnlen(text, LONG_TEXT_BYTES) == LONG_TEXT_BYTES) abort();
  // A connection byte this program does not know is kept, and no check
  // may then connect.
  if ((accounts[0].connectionSecurity < SECURITY_NONE ||
       accounts[0].connectionSecurity > SECURITY_TLS) &&
      settingsProblem() == NULL)
    abort();

  standin::writeFile("C:\\KivvetLE.log", bytes);
  for (DWORD i = 0; i < UID_SLOTS; i++) memset(mailboxes[0].knownUids[i], 0, UID_SLOT_BYTES);
  if (loadKnownUids(&mailboxes[0]) != 1) abort();
  for (DWORD i = 0; i < UID_SLOTS; i++)
    if (strlen(mailboxes[0].knownUids[i]) > 32) abort();
  // The same records as this check's UIDs: all known, nothing new.
  for (DWORD i = 0; i < UID_SLOTS; i++)
    memcpy(mailboxes[0].currentUids[i], mailboxes[0].knownUids[i], UID_SLOT_BYTES);
  mailboxes[0].counts.messageCount = size % 2000;
  DWORD fresh = mergeUidLists(&mailboxes[0]);
  if (mailboxes[0].known.knownCount > UID_SLOTS || fresh > UID_SLOTS) abort();
  return 0;
}
