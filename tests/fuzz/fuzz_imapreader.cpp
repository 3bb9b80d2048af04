// Any bytes from an IMAP server, in pieces of any size: the reader keeps
// within its bounds, and every response it tells is read without going
// past its text.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "check/imapreader.h"

namespace {

ImapReader reader;

void readOut(const char* text) {
  ImapResponse response;
  if (!readImapResponse(text, &response)) return;
  const char* end = text + strlen(text);
  if (response.rest < text || response.rest > end) abort();
  if (response.code != NULL && response.code + response.codeLength > end) abort();
  size_t length = 0;
  const char* list = imapCapabilities(&response, &length);
  if (list != NULL && (list < text || list + length > end)) abort();
  if (list != NULL) hasImapAtom(list, length, "IDLE");
  DWORD value;
  imapCodeNumber(&response, "UIDNEXT", &value);
  ImapFetch fetch;
  readImapFetch(response.rest, &fetch);
  ImapMailboxStatus status;
  readImapStatus(response.rest, &status);
  ImapSearchResult found;
  if (readImapSearchResult(response.rest, &found) && found.tag != NULL &&
      (found.tag < text || found.tag + found.tagLength > end))
    abort();
  const char* cursor = response.rest;
  while (nextImapNumber(&cursor, &value)) {
  }
  char quoted[64];
  quoteImapString(text, quoted, sizeof quoted);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t piece = data[0] % 32 + 1;
  startImapReader(&reader);
  for (size_t at = 1; at < size; at += piece) {
    size_t length = size - at < piece ? size - at : piece;
    const char* bytes = (const char*)data + at;
    for (DWORD used = 0; used < length;) {
      DWORD took = readImapBytes(&reader, bytes + used, (DWORD)(length - used));
      used += took;
      if (reader.textLength >= IMAP_TEXT_BYTES || reader.text[reader.textLength] != '\0' ||
          reader.literalLength > IMAP_LITERAL_BYTES || reader.numbers.kept > IMAP_NUMBERS_KEPT)
        abort();
      if (!reader.complete) {
        if (took == 0) abort();
        continue;
      }
      readOut(reader.text);
      nextImapResponse(&reader);
    }
  }
  return 0;
}
