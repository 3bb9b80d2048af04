// The previews of the newest new messages, in fixed slots. They are wiped,
// not only forgotten, when they go.
#include "tray/previews.h"

#include <stdio.h>
#include <string.h>

#include "base/text.h"
#include "settings/settings.h"
#include "tray/register.h"

namespace {

// What a slot counts before its mailbox is given: nothing.
const MailCounts noCounts = {0, 0};
const MailCounts* counts[MOST_MAILBOXES];
MailCounts sums;
Previews merged;

}  // namespace

void showInTray(const MailCounts* mailCounts, int slot) {
  if (slot >= 0 && slot < MOST_MAILBOXES) counts[slot] = mailCounts;
}

const MailCounts* countsOf(int slot) {
  return slot >= 0 && slot < MOST_MAILBOXES && counts[slot] != NULL ? counts[slot] : &noCounts;
}

const MailCounts* shownCounts() {
  DWORD messages = 0;
  DWORD fresh = 0;
  for (int slot = 0; slot < accountCount; slot++) {
    messages += countsOf(slot)->messageCount;
    fresh += countsOf(slot)->newCount;
  }
  sums = {messages, fresh};
  return &sums;
}

DWORD newCountOf(int slot) {
  return settings.keepTelling == 1 ? untoldCount(slot) : countsOf(slot)->newCount;
}

DWORD shownNewCount() {
  DWORD count = 0;
  for (int slot = 0; slot < accountCount; slot++) count += newCountOf(slot);
  return count;
}

const Previews* shownPreviews() {
  if (accountCount == 1) return untoldPreviews(0);
  int order[MOST_MAILBOXES];
  DWORD version = 0;
  for (int slot = 0; slot < accountCount; slot++) {
    int at = slot;
    for (; at > 0 && lastJoinOf(order[at - 1]) < lastJoinOf(slot); at--) order[at] = order[at - 1];
    order[at] = slot;
    version = version * 31 + previewsVersion(untoldPreviews(slot));
  }
  if (version == merged.version && merged.previewsHeld > 0) return &merged;
  dropPreviews(&merged);
  for (int i = 0; i < accountCount; i++) {
    const Previews* previews = untoldPreviews(order[i]);
    const char* name = accounts[order[i]].accountName;
    for (DWORD n = 0; n < previewCount(previews); n++) {
      char sender[PREVIEW_TEXT_BYTES + SHORT_TEXT_BYTES + 4];
      if (name[0] != '\0')
        snprintf(sender, sizeof sender, "[%s] %s", name, previews->slots[n].sender);
      else
        snprintf(sender, sizeof sender, "%s", previews->slots[n].sender);
      addPreview(&merged, sender, previews->slots[n].subject);
    }
  }
  merged.version = version;
  return &merged;
}

DWORD quietMailCount() {
  DWORD count = 0;
  for (int slot = 0; slot < accountCount; slot++) count += quietCount(slot);
  return count;
}

void acknowledgeAllMail() {
  for (int slot = 0; slot < MOST_MAILBOXES; slot++) acknowledgeRegister(slot);
}

void forgetAllQuietMail() {
  for (int slot = 0; slot < MOST_MAILBOXES; slot++) forgetQuietMail(slot);
}

// Slots past the count hold nothing: they were wiped when they went, or
// were never written.
void dropPreviews(Previews* p) {
  if (p->previewsHeld == 0) return;
  volatile char* bytes = (volatile char*)p->slots;
  for (size_t i = 0; i < p->previewsHeld * sizeof p->slots[0]; i++) bytes[i] = 0;
  p->previewsHeld = 0;
  p->version++;
}

void addPreview(Previews* p, const char* sender, const char* subject) {
  if (p->previewsHeld == MOST_PREVIEWS) return;
  copyWholeCharacters(p->slots[p->previewsHeld].sender, PREVIEW_TEXT_BYTES, sender);
  copyWholeCharacters(p->slots[p->previewsHeld].subject, PREVIEW_TEXT_BYTES, subject);
  p->previewsHeld++;
  p->version++;
}

DWORD previewCount(const Previews* p) { return p->previewsHeld; }

void previewLine(const Previews* p, DWORD index, char* text, size_t size) {
  if (size == 0) return;
  text[0] = '\0';
  if (index >= p->previewsHeld) return;
  const Preview& preview = p->slots[index];
  copyWholeCharacters(text, size, preview.sender);
  size_t used = strlen(text);
  if (preview.sender[0] != '\0' && preview.subject[0] != '\0')
    used += copyWholeCharacters(text + used, size - used, ": ");
  copyWholeCharacters(text + used, size - used, preview.subject);
}

void previewLabel(const Previews* p, DWORD index, char* label, size_t size) {
  if (size == 0) return;
  char line[2 * PREVIEW_TEXT_BYTES + 4];
  previewLine(p, index, line, sizeof line);
  size_t used = 0;
  for (const char* text = line; *text != '\0' && used + 2 < size; text++) {
    if (*text == '&') label[used++] = '&';
    label[used++] = *text;
  }
  label[used] = '\0';
  // Never a character cut in half at the end.
  char whole[2 * sizeof line];
  copyWholeCharacters(whole, sizeof whole, label);
  copyWholeCharacters(label, size, whole);
  memset(line, 0, sizeof line);
  memset(whole, 0, sizeof whole);
}

DWORD previewsVersion(const Previews* p) { return p->version; }
