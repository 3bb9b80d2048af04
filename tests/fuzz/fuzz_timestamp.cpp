// Any greeting line: the APOP timestamp is found only as the rules say,
// within the line, and the digest text is always 32 lowercase hex digits.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "check/apop.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line((const char*)data, size);
  const char* start = nullptr;
  unsigned int length = 0;
  if (findApopTimestamp(line.c_str(), (unsigned int)line.size(), &start, &length)) {
    if (start < line.c_str() || start + length > line.c_str() + line.size()) abort();
    if (length < 2 || start[0] != '<' || start[length - 1] != '>') abort();
    if (memchr(line.c_str(), '<', (size_t)(start - line.c_str())) != nullptr) abort();
    if (memchr(start + 1, '>', length - 2) != nullptr) abort();
  }
  char digest[34];
  memset(digest, 'X', sizeof digest);
  if (buildApopDigest(digest, line.c_str(), "nyan")) {
    if (digest[32] != '\0' || digest[33] != 'X') abort();
    for (int i = 0; i < 32; i++)
      if (!((digest[i] >= '0' && digest[i] <= '9') || (digest[i] >= 'a' && digest[i] <= 'f')))
        abort();
  }
  return 0;
}
