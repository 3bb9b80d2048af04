// The table of mailbox records. Each record lives here, in its slot, from
// start-up to the end; a slot without an account keeps a record that
// nothing checks.
#include "check/mailboxes.h"

#include <stdio.h>
#include <string.h>

#include "base/text.h"
#include "check/check.h"
#include "check/imap.h"
#include "check/knownuids.h"
#include "check/pop3.h"
#include "settings/settings.h"
#include "tray/previews.h"

Mailbox mailboxes[MOST_MAILBOXES];

namespace {

// The accounts in use when the files last held them.
int accountsSettled = 1;

// The protocols, by the accounts' PROTOCOL_ values.
const Protocol* const protocols[] = {&pop3Protocol, &imapProtocol};
static_assert(PROTOCOL_POP3 == 0 && PROTOCOL_IMAP == 1, "protocols by their accounts' value");

void moveFile(const char* from, const char* to) {
  MoveFileExW(wide(from).text, wide(to).text, MOVEFILE_REPLACE_EXISTING);
}

// The record of slot made afresh for the account now there, with the UID
// slots it had, emptied, and the known UIDs of its file.
void remakeMailbox(int slot) {
  Mailbox* box = &mailboxes[slot];
  static char* current[UID_SLOTS];
  static char* known[UID_SLOTS];
  memcpy(current, box->currentUids, sizeof current);
  memcpy(known, box->knownUids, sizeof known);
  initMailbox(box, slot, &accounts[slot], protocols);
  memcpy(box->currentUids, current, sizeof current);
  memcpy(box->knownUids, known, sizeof known);
  for (DWORD i = 0; i < UID_SLOTS; i++) {
    memset(box->currentUids[i], 0, UID_SLOT_BYTES);
    memset(box->knownUids[i], 0, UID_SLOT_BYTES);
  }
  showInTray(&box->counts, slot);
  loadKnownUids(box);
}

}  // namespace

int createMailboxes() {
  int complete = 1;
  for (Mailbox& box : mailboxes) {
    for (DWORD i = 0; i < UID_SLOTS && complete; i++) {
      box.currentUids[i] = (char*)LocalAlloc(LMEM_ZEROINIT, UID_SLOT_BYTES);
      box.knownUids[i] = (char*)LocalAlloc(LMEM_ZEROINIT, UID_SLOT_BYTES);
      complete = box.currentUids[i] != NULL && box.knownUids[i] != NULL;
    }
  }
  if (!complete) releaseMailboxes();
  return complete;
}

void releaseMailboxes() {
  for (Mailbox& box : mailboxes) {
    for (DWORD i = 0; i < UID_SLOTS; i++) {
      LocalFree(box.currentUids[i]);
      LocalFree(box.knownUids[i]);
      box.currentUids[i] = NULL;
      box.knownUids[i] = NULL;
    }
  }
}

void initMailboxes() {
  for (int slot = 0; slot < MOST_MAILBOXES; slot++) {
    initMailbox(&mailboxes[slot], slot, &accounts[slot], protocols);
    showInTray(&mailboxes[slot].counts, slot);
  }
}

int loadAllKnownUids(int (*patiently)(int (*load)(Mailbox* box), Mailbox* box)) {
  accountsSettled = accountCount;
  int loaded = 1;
  for (int slot = 0; slot < accountCount; slot++)
    loaded = patiently(loadKnownUids, &mailboxes[slot]) > 0 && loaded;
  return loaded;
}

void checkAllMailboxes(HWND window) {
  for (int slot = 0; slot < accountCount; slot++) startCheck(window, &mailboxes[slot], 0);
}

Mailbox* mailboxInUse(int slot) {
  return slot >= 0 && slot < accountCount ? &mailboxes[slot] : NULL;
}

// Moved in two steps, through names of their own, so that two files that
// change places never meet; the file of an account removed goes.
void followAccounts() {
  char name[32];
  char moving[40];
  int kept[MOST_MAILBOXES] = {};
  for (int slot = 0; slot < accountCount; slot++) {
    int origin = accountOrigin(slot);
    if (origin < 0) continue;
    kept[origin] = 1;
    if (origin == slot) continue;
    knownUidsFileName(origin, name, sizeof name);
    snprintf(moving, sizeof moving, "%s.moving", name);
    moveFile(name, moving);
  }
  for (int origin = 0; origin < MOST_MAILBOXES; origin++) {
    if (kept[origin]) continue;
    knownUidsFileName(origin, name, sizeof name);
    DeleteFileW(wide(name).text);
  }
  for (int slot = 0; slot < accountCount; slot++) {
    int origin = accountOrigin(slot);
    if (origin < 0 || origin == slot) continue;
    knownUidsFileName(origin, name, sizeof name);
    snprintf(moving, sizeof moving, "%s.moving", name);
    knownUidsFileName(slot, name, sizeof name);
    moveFile(moving, name);
  }
  for (int slot = 0; slot < MOST_MAILBOXES; slot++) {
    int moved = slot < accountCount && accountOrigin(slot) != slot;
    int removed = slot >= accountCount && slot < accountsSettled;
    if (moved || removed) remakeMailbox(slot);
  }
  settleAccountOrigins();
  accountsSettled = accountCount;
}
