// The previews of the newest new messages, in fixed slots. They are wiped,
// not only forgotten, when they go.
#include "tray/previews.h"

#include <string.h>

#include "base/text.h"

namespace {

struct Preview {
  char sender[PREVIEW_TEXT_BYTES];
  char subject[PREVIEW_TEXT_BYTES];
};
Preview previews[MOST_PREVIEWS];
DWORD count = 0;
DWORD version = 0;

}  // namespace

// Slots past count hold nothing: they were wiped when they went, or were
// never written.
void dropPreviews() {
  if (count == 0) return;
  volatile char* bytes = (volatile char*)previews;
  for (size_t i = 0; i < count * sizeof previews[0]; i++) bytes[i] = 0;
  count = 0;
  version++;
}

void addPreview(const char* sender, const char* subject) {
  if (count == MOST_PREVIEWS) return;
  copyWholeCharacters(previews[count].sender, PREVIEW_TEXT_BYTES, sender);
  copyWholeCharacters(previews[count].subject, PREVIEW_TEXT_BYTES, subject);
  count++;
  version++;
}

DWORD previewCount() { return count; }

void previewLine(DWORD index, char* text, size_t size) {
  if (size == 0) return;
  text[0] = '\0';
  if (index >= count) return;
  copyWholeCharacters(text, size, previews[index].sender);
  size_t used = strlen(text);
  copyWholeCharacters(text + used, size - used, ": ");
  used = strlen(text);
  copyWholeCharacters(text + used, size - used, previews[index].subject);
}

DWORD previewsVersion() { return version; }
