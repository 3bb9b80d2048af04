#include "check/apop.h"

#include <string.h>

#include "check/md5.h"

namespace {

// Length of text, but never more than limit; bytes past the limit are not read.
unsigned int boundedLength(const char* text, unsigned int limit) {
  unsigned int length = 0;
  while (length < limit && text[length] != '\0') {
    length++;
  }
  return length;
}

}  // namespace

int findApopTimestamp(const char* line, unsigned int length, const char** start,
                      unsigned int* timestampLength) {
  *start = NULL;
  *timestampLength = 0;

  unsigned int open = 0;
  while (open < length && line[open] != '\0' && line[open] != '<') {
    open++;
  }
  if (open >= length || line[open] != '<') {
    return 0;
  }

  unsigned int close = open + 1;
  while (close < length && line[close] != '\0' && line[close] != '>') {
    close++;
  }
  if (close >= length || line[close] != '>') {
    return 0;
  }

  *start = line + open;
  *timestampLength = close - open + 1;
  return 1;
}

int buildApopDigest(char* out33, const char* greetingLine, const char* password) {
  if (greetingLine == NULL) {
    return 0;
  }
  const char* timestamp;
  unsigned int timestampLength;
  unsigned int greetingLength = boundedLength(greetingLine, APOP_GREETING_MAX);
  if (!findApopTimestamp(greetingLine, greetingLength, &timestamp, &timestampLength)) {
    return 0;
  }
  unsigned int passwordLength = (password == NULL) ? 0 : boundedLength(password, APOP_PASSWORD_MAX);

  // The timestamp holds no NUL (the search stops at one), so the text
  // digested is exactly the timestamp followed by the password.
  char text[APOP_GREETING_MAX + APOP_PASSWORD_MAX + 1];
  memcpy(text, timestamp, timestampLength);
  if (passwordLength > 0) {
    memcpy(text + timestampLength, password, passwordLength);
  }
  text[timestampLength + passwordLength] = '\0';
  apopDigest(out33, text);
  return 1;
}
