#include "base/sjis.h"

int isSjisLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

size_t copyWholeCharacters(char* destination, size_t size, const char* source) {
  if (size == 0) return 0;
  size_t length = 0;
  while (source[length] != '\0') {
    size_t step =
        isSjisLeadByte((unsigned char)source[length]) && source[length + 1] != '\0' ? 2 : 1;
    if (length + step > size - 1) break;
    length += step;
  }
  for (size_t i = 0; i < length; i++) destination[i] = source[i];
  destination[length] = '\0';
  return length;
}
