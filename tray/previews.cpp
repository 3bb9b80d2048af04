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
  const Preview& preview = previews[index];
  copyWholeCharacters(text, size, preview.sender);
  size_t used = strlen(text);
  if (preview.sender[0] != '\0' && preview.subject[0] != '\0')
    used += copyWholeCharacters(text + used, size - used, ": ");
  copyWholeCharacters(text + used, size - used, preview.subject);
}

void previewLabel(DWORD index, char* label, size_t size) {
  if (size == 0) return;
  char line[2 * PREVIEW_TEXT_BYTES + 4];
  previewLine(index, line, sizeof line);
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

DWORD previewsVersion() { return version; }
