// Any header block: the sender and the subject come out as valid UTF-8 of
// at most 80 characters, with no control character, none that turns the
// direction of text and none that is invisible, and the same block read
// twice gives the same fields.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "base/text.h"
#include "check/headers.h"
#include "platform/standin/standin_control.h"

namespace {

// Kept apart from the reader's own list on purpose: a character it lets
// through by mistake is caught here.
bool unwanted(unsigned long code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0xAD || code == 0x061C ||
         code == 0x180E || (code >= 0x200B && code <= 0x200F) ||
         (code >= 0x2028 && code <= 0x202E) || (code >= 0x2060 && code <= 0x206F) ||
         code == 0xFEFF || (code >= 0xFFF9 && code <= 0xFFFB) ||
         (code >= 0xE0000 && code <= 0xE007F);
}

void checkField(const char* field, size_t slot) {
  size_t length = strnlen(field, slot);
  if (length == slot) abort();  // no NUL inside the slot
  size_t characters = 0;
  for (size_t i = 0; i < length; characters++) {
    unsigned long code;
    size_t step = utf8Character((const unsigned char*)field + i, &code);
    // U+FFFD stands only for itself, written out in full.
    if (code == 0xFFFD && memcmp(field + i, "\xEF\xBF\xBD", 3) != 0) abort();
    if (unwanted(code)) abort();
    i += step;
  }
  if (characters > PREVIEW_CHARS) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = false;
  if (!started) {
    standin::reset();
    standin::keepRecords(false);
    started = true;
  }
  HeaderFields first, second;
  memset(&first, 'x', sizeof first);
  memset(&second, 'y', sizeof second);
  readHeaders((const char*)data, size, &first);
  readHeaders((const char*)data, size, &second);
  checkField(first.sender, sizeof first.sender);
  checkField(first.subject, sizeof first.subject);
  if (strcmp(first.sender, second.sender) != 0 || strcmp(first.subject, second.subject) != 0)
    abort();
  return 0;
}
