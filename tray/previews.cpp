// The previews of the newest new messages, in fixed slots. They are wiped,
// not only forgotten, when they go.
#include "tray/previews.h"

#include <string.h>

#include "base/text.h"
#include "settings/settings.h"
#include "tray/register.h"

namespace {

// What the tray shows before a mailbox is given: nothing (no slot has
// a register).
const MailCounts noCounts = {0, 0};

const MailCounts* counts = &noCounts;
int slot = -1;

}  // namespace

void showInTray(const MailCounts* mailCounts, int mailboxSlot) {
  counts = mailCounts != NULL ? mailCounts : &noCounts;
  slot = mailCounts != NULL ? mailboxSlot : -1;
}

const MailCounts* shownCounts() { return counts; }

int shownSlot() { return slot; }

DWORD shownNewCount() { return settings.keepTelling == 1 ? untoldCount(slot) : counts->newCount; }

const Previews* shownPreviews() { return untoldPreviews(slot); }

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
