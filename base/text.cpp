#include "base/text.h"

#include <string.h>

namespace {

const unsigned long REPLACEMENT = 0xFFFD;
const UINT SHIFT_JIS = 932;

}  // namespace

size_t utf8Character(const unsigned char* text, unsigned long* code) {
  unsigned char first = text[0];
  size_t length = first < 0x80                     ? 1
                  : first >= 0xC2 && first <= 0xDF ? 2
                  : first >= 0xE0 && first <= 0xEF ? 3
                  : first >= 0xF0 && first <= 0xF4 ? 4
                                                   : 0;
  if (length == 1) {
    *code = first;
    return 1;
  }
  *code = REPLACEMENT;
  if (length == 0) return 1;
  unsigned long value = first & (0x7F >> length);
  for (size_t i = 1; i < length; i++) {
    if ((text[i] & 0xC0) != 0x80) return 1;
    value = value << 6 | (text[i] & 0x3F);
  }
  unsigned long least = length == 3 ? 0x800 : length == 4 ? 0x10000 : 0x80;
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 1;
  *code = value;
  return length;
}

size_t copyWholeCharacters(char* destination, size_t size, const char* source) {
  if (size == 0) return 0;
  size_t length = 0;
  unsigned long code;
  while (source[length] != '\0') {
    size_t step = utf8Character((const unsigned char*)source + length, &code);
    if (length + step > size - 1) break;
    length += step;
  }
  memcpy(destination, source, length);
  destination[length] = '\0';
  return length;
}

int toWide(const char* text, WCHAR* wide, size_t units) {
  if (units == 0) return 0;
  const unsigned char* p = (const unsigned char*)text;
  size_t used = 0;
  unsigned long code;
  while (*p != '\0') {
    size_t step = utf8Character(p, &code);
    size_t need = code >= 0x10000 ? 2 : 1;
    if (used + need > units - 1) {
      wide[used] = 0;
      return 0;
    }
    if (need == 2) {
      wide[used++] = (WCHAR)(0xD800 + ((code - 0x10000) >> 10));
      wide[used++] = (WCHAR)(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      wide[used++] = (WCHAR)code;
    }
    p += step;
  }
  wide[used] = 0;
  return 1;
}

int toUtf8(const WCHAR* wide, char* text, size_t size) {
  if (size == 0) return 0;
  size_t used = 0;
  for (size_t i = 0; wide[i] != 0; i++) {
    unsigned long code = wide[i];
    if (code >= 0xD800 && code <= 0xDBFF && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      i++;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = REPLACEMENT;
    }
    size_t need = code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
    if (used + need > size - 1) {
      text[used] = '\0';
      return 0;
    }
    if (need == 1) {
      text[used++] = (char)code;
      continue;
    }
    static const unsigned char LEADS[] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (size_t k = need - 1; k > 0; k--)
      text[used + k] = (char)(0x80 | (code >> (6 * (need - 1 - k)) & 0x3F));
    text[used] = (char)(LEADS[need] | code >> (6 * (need - 1)));
    used += need;
  }
  text[used] = '\0';
  return 1;
}

WideText wide(const char* text) {
  WideText result;
  toWide(text, result.text, WIDE_TEXT_UNITS);
  return result;
}

int sjisToUtf8(const char* sjis, char* text, size_t size) {
  WCHAR work[WIDE_TEXT_UNITS];
  text[0] = '\0';
  if (MultiByteToWideChar(SHIFT_JIS, MB_ERR_INVALID_CHARS, sjis, -1, work, WIDE_TEXT_UNITS) == 0)
    return 0;
  if (toUtf8(work, text, size)) return 1;
  text[0] = '\0';
  return 0;
}

void fileTextToUtf8(const char* bytes, char* text, size_t size) {
  if (sjisToUtf8(bytes, text, size)) return;
  WCHAR work[WIDE_TEXT_UNITS];
  // The count tells where the text ends: a lead byte at its end must not
  // leave the rest of the work area to be read as text.
  int units = MultiByteToWideChar(CP_ACP, 0, bytes, -1, work, WIDE_TEXT_UNITS - 1);
  work[units > 0 ? units : 0] = 0;
  toUtf8(work, text, size);
}

// Windows would put a near character (a "best fit") or the default one
// where Shift-JIS has none; asking for neither and converting back tells
// whether the text came through whole.
int utf8ToSjis(const char* text, char* sjis, size_t size) {
  WCHAR work[WIDE_TEXT_UNITS];
  WCHAR back[WIDE_TEXT_UNITS];
  BOOL defaulted = FALSE;
  sjis[0] = '\0';
  if (size == 0 || !toWide(text, work, WIDE_TEXT_UNITS)) return 0;
  int same =
      WideCharToMultiByte(SHIFT_JIS, WC_NO_BEST_FIT_CHARS, work, -1, sjis, (int)size, NULL,
                          &defaulted) > 0 &&
      !defaulted &&
      MultiByteToWideChar(SHIFT_JIS, MB_ERR_INVALID_CHARS, sjis, -1, back, WIDE_TEXT_UNITS) > 0;
  for (size_t i = 0; same; i++) {
    if (work[i] != back[i]) same = 0;
    if (work[i] == 0) break;
  }
  if (same) return 1;
  sjis[0] = '\0';
  return 0;
}
