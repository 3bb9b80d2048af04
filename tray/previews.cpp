// The previews of the newest new messages, in fixed slots. They are wiped,
// not only forgotten, when they go.
#include "tray/previews.h"

#include <string.h>

#include "base/text.h"

namespace {

// What the tray shows before a mailbox is given: nothing.
const MailCounts noCounts = {0, 0};
Previews noPreviews;

const MailCounts* counts = &noCounts;
Previews* previews = &noPreviews;

}  // namespace

void showInTray(const MailCounts* mailCounts, Previews* mailPreviews) {
  counts = mailCounts != NULL ? mailCounts : &noCounts;
  previews = mailPreviews != NULL ? mailPreviews : &noPreviews;
}

const MailCounts* shownCounts() { return counts; }

Previews* shownPreviews() { return previews; }

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
  copyWholeCharacters(text, size, p->slots[index].sender);
  size_t used = strlen(text);
  copyWholeCharacters(text + used, size - used, ": ");
  used = strlen(text);
  copyWholeCharacters(text + used, size - used, p->slots[index].subject);
}

DWORD previewsVersion(const Previews* p) { return p->version; }
