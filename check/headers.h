// The reader of a message's header block (the answer to TOP n 0): who
// wrote it and about what, as text fit to show.
#ifndef KIVVET_CHECK_HEADERS_H
#define KIVVET_CHECK_HEADERS_H

#include <stddef.h>

#include "tray/previews.h"

struct HeaderFields {
  char sender[PREVIEW_TEXT_BYTES];  // the display name, else the address
  char subject[PREVIEW_TEXT_BYTES];
};

// block: the header lines, each ended by LF (a CR before it is allowed),
// up to the empty line that ends them or the end of length. Either field
// is empty when the block has none. Pure: nothing is kept.
void readHeaders(const char* block, size_t length, HeaderFields* fields);
// A text fit to show, as a preview's fields are: tabs become blanks,
// controls and what turns or hides text go, blanks at either end too, and
// at most PREVIEW_CHARS characters are kept in size bytes.
void cleanText(const char* text, char* out, size_t size);

#endif
