// Shift-JIS helpers. Every text of the program is in the Japanese code
// page whatever the system's own code page is, so the lead bytes are
// fixed here rather than asked of the system.
#ifndef KIVVET_BASE_SJIS_H
#define KIVVET_BASE_SJIS_H

#include <stddef.h>

int isSjisLeadByte(unsigned char byte);

// Copies as much of source as fits into destination (size bytes with the
// NUL), never ending on the first half of a double-byte character.
// Returns the number of bytes copied.
size_t copyWholeCharacters(char* destination, size_t size, const char* source);

#endif
