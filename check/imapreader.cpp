// IMAP responses (RFC 3501, read with RFC 9051 in mind). A response is a
// line, unless the line ends in a literal's count "{n}": then n bytes of
// anything follow, line feeds included, and the response goes on after
// them. Literals are therefore read by their count, never by line, and a
// header block's lines cannot end a response or start a false one.
//
// The reader holds one response at a time within fixed bounds: text
// beyond them is passed over up to the response's end, and the response
// is still told (with the cut marked), so that a tagged answer made long
// by a chatty server still ends its command.
#include "check/imapreader.h"

#include <string.h>

namespace {

int isDigit(char c) { return c >= '0' && c <= '9'; }

char upper(char c) { return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c; }

int sameWord(const char* a, size_t length, const char* b) {
  if (strlen(b) != length) return 0;
  for (size_t i = 0; i < length; i++)
    if (upper(a[i]) != upper(b[i])) return 0;
  return 1;
}

// A number of up to 32 bits; 0 when there are no digits or it is larger.
int readNumber(const char** cursor, DWORD* value) {
  const char* p = *cursor;
  unsigned long long n = 0;
  if (!isDigit(*p)) return 0;
  while (isDigit(*p)) {
    n = n * 10 + (unsigned)(*p++ - '0');
    if (n > 0xFFFFFFFFull) return 0;
  }
  *value = (DWORD)n;
  *cursor = p;
  return 1;
}

void skipSpaces(const char** cursor) {
  while (**cursor == ' ') (*cursor)++;
}

// An atom's end: a space, a parenthesis, a bracket's end or the text's.
const char* atomEnd(const char* p) {
  while (*p != '\0' && *p != ' ' && *p != '(' && *p != ')' && *p != ']') p++;
  return p;
}

// Passes over one value of a response: a quoted string, a literal's
// "{n}", a parenthesised list (nested), or an atom or number. 0 when the
// text ends inside it.
int skipValue(const char** cursor) {
  const char* p = *cursor;
  if (*p == '"') {
    for (p++; *p != '"'; p++) {
      if (*p == '\\' && p[1] != '\0') p++;
      if (*p == '\0') return 0;
    }
    p++;
  } else if (*p == '{') {
    p = strchr(p, '}');
    if (p == NULL) return 0;
    p++;
  } else if (*p == '(') {
    p++;
    for (;;) {
      skipSpaces(&p);
      if (*p == ')') break;
      if (*p == '\0' || !skipValue(&p)) return 0;
    }
    p++;
  } else {
    // A bracketed section belongs to its atom: BODY[HEADER.FIELDS (FROM)].
    const char* start = p;
    while (*p != '\0' && *p != ' ' && *p != '(' && *p != ')') {
      if (*p == '[') {
        p = strchr(p, ']');
        if (p == NULL) return 0;
      }
      p++;
    }
    if (p == start) return 0;
  }
  *cursor = p;
  return 1;
}

// A number of a list, or a range of them either way round: counted, and
// the highest few kept in ascending order.
void tallyNumbers(ImapNumbers* numbers, DWORD from, DWORD to) {
  if (from > to) {
    DWORD swap = from;
    from = to;
    to = swap;
  }
  DWORD span = to - from;
  numbers->count = span >= 0xFFFFFFFF - numbers->count ? 0xFFFFFFFF : numbers->count + span + 1;
  for (DWORD n = span < IMAP_NUMBERS_KEPT ? from : to - (IMAP_NUMBERS_KEPT - 1);; n++) {
    DWORD at = numbers->kept;
    if (at < IMAP_NUMBERS_KEPT) {
      numbers->kept++;
    } else if (n > numbers->highest[0]) {
      memmove(numbers->highest, numbers->highest + 1, --at * sizeof n);
    }
    for (; at < IMAP_NUMBERS_KEPT && at > 0 && numbers->highest[at - 1] > n; at--)
      numbers->highest[at] = numbers->highest[at - 1];
    if (at < IMAP_NUMBERS_KEPT) numbers->highest[at] = n;
    if (n == to) return;
  }
}

void endNumber(ImapReader* reader) {
  if (reader->hasNumber)
    tallyNumbers(&reader->numbers, reader->inRange ? reader->rangeFrom : reader->number,
                 reader->number);
  reader->number = 0;
  reader->hasNumber = 0;
  reader->inRange = 0;
}

// A byte of a SEARCH's list or an ALL set; 0 when it ends the list and
// belongs to the text.
int takeNumberByte(ImapReader* reader, char c) {
  if (isDigit(c)) {
    unsigned long long n = (unsigned long long)reader->number * 10 + (unsigned)(c - '0');
    reader->number = n > 0xFFFFFFFFull ? 0xFFFFFFFF : (DWORD)n;
    reader->hasNumber = 1;
    return 1;
  }
  int set = reader->numbering == 2;
  if (c == ':' && set && reader->hasNumber && !reader->inRange) {
    reader->rangeFrom = reader->number;
    reader->number = 0;
    reader->hasNumber = 0;
    reader->inRange = 1;
    return 1;
  }
  endNumber(reader);
  if (c == '\r' || (c == ',' && set) || (c == ' ' && !set)) return 1;
  // An ALL set ends at a space, which the text then does without.
  reader->numbering = 0;
  return c == ' ';
}

int textIs(const ImapReader* reader, size_t from, const char* word) {
  size_t length = strlen(word);
  return reader->textLength >= from + length && sameWord(reader->text + from, length, word);
}

// The text has just taken a space: a SEARCH's numbers or an ALL set may
// follow.
void startNumbers(ImapReader* reader) {
  if (reader->text[0] != '*') return;
  if (reader->textLength == 9 && textIs(reader, 0, "* SEARCH ")) reader->numbering = 1;
  if (reader->textLength >= 14 && textIs(reader, 0, "* ESEARCH ") &&
      textIs(reader, reader->textLength - 5, " ALL "))
    reader->numbering = 2;
}

// A literal stands only in data: the free text of a status response
// (tagged, or untagged OK, NO, BAD, PREAUTH, BYE) and of a continuation
// ends with its line, whatever it ends in.
int mayHoldLiteral(const ImapReader* reader) {
  if (reader->literals > 0) return 1;
  const char* text = reader->text;
  const char* end = text + reader->textLength;
  if (reader->textLength < 2 || text[0] != '*' || text[1] != ' ') return 0;
  const char* p = text + 2;
  while (p < end && isDigit(*p)) p++;
  if (p > text + 2 && p < end && *p == ' ') p++;
  const char* word = p;
  while (p < end && *p != ' ' && *p != '[') p++;
  static const char* const statuses[] = {"OK", "NO", "BAD", "PREAUTH", "BYE"};
  for (const char* status : statuses)
    if (sameWord(word, (size_t)(p - word), status)) return 0;
  return 1;
}

}  // namespace

void startImapReader(ImapReader* reader) { memset(reader, 0, sizeof *reader); }

void nextImapResponse(ImapReader* reader) {
  // The literal may hold a message's headers: nothing of it stays.
  memset(reader->literal, 0, reader->literalLength);
  reader->textLength = 0;
  reader->text[0] = '\0';
  reader->literalLength = 0;
  reader->literals = 0;
  reader->literalLeft = 0;
  reader->textCut = 0;
  reader->literalCut = 0;
  reader->complete = 0;
  reader->marker = 0;
  reader->markerCount = 0;
  memset(&reader->numbers, 0, sizeof reader->numbers);
  reader->numbering = 0;
  reader->number = 0;
  reader->hasNumber = 0;
  reader->inRange = 0;
}

DWORD readImapBytes(ImapReader* reader, const char* bytes, DWORD length) {
  DWORD at = 0;
  while (at < length && !reader->complete) {
    if (reader->literalLeft > 0) {
      DWORD take = length - at < reader->literalLeft ? length - at : reader->literalLeft;
      if (reader->literals == 1) {
        DWORD room = IMAP_LITERAL_BYTES - reader->literalLength;
        DWORD keep = take < room ? take : room;
        memcpy(reader->literal + reader->literalLength, bytes + at, keep);
        reader->literalLength += keep;
        if (keep < take) reader->literalCut = 1;
      }
      reader->literalLeft -= take;
      at += take;
      continue;
    }
    char c = bytes[at++];
    if (reader->numbering != 0 && c != '\n' && takeNumberByte(reader, c)) continue;
    if (c == '\n') {
      if (reader->numbering != 0) endNumber(reader);
      reader->numbering = 0;
      if (reader->textLength > 0 && reader->text[reader->textLength - 1] == '\r')
        reader->textLength--;
      if (reader->marker == 4 && mayHoldLiteral(reader)) {
        // The line ends in a literal's count: its bytes come next, and a
        // literal of none leaves the response going on at once.
        reader->literals++;
        reader->literalLeft = reader->markerCount;
        reader->marker = 0;
      } else {
        reader->complete = 1;
      }
      continue;
    }
    if (c == '{') {
      reader->marker = 1;
      reader->markerCount = 0;
    } else if (isDigit(c) && (reader->marker == 1 || reader->marker == 2)) {
      unsigned long long n = (unsigned long long)reader->markerCount * 10 + (unsigned)(c - '0');
      reader->markerCount = n > 0xFFFFFFFFull ? 0xFFFFFFFF : (DWORD)n;
      reader->marker = 2;
    } else if (c == '+' && reader->marker == 2) {
      reader->marker = 3;
    } else if (c == '}' && (reader->marker == 2 || reader->marker == 3)) {
      reader->marker = 4;
    } else if (!(c == '\r' && reader->marker == 4)) {
      reader->marker = 0;
    }
    if (reader->textLength < IMAP_TEXT_BYTES - 1) {
      reader->text[reader->textLength++] = c;
      if (c == ' ' && reader->numbering == 0) startNumbers(reader);
    } else {
      reader->textCut = 1;
    }
  }
  reader->text[reader->textLength] = '\0';
  return at;
}

int readImapResponse(const char* text, ImapResponse* response) {
  memset(response, 0, sizeof *response);
  response->kind = ImapUnreadable;
  const char* p = text;
  if (p[0] == '+') {
    response->kind = ImapContinuation;
    response->rest = p[1] == ' ' ? p + 2 : p + 1;
    return 1;
  }
  int tagged = !(p[0] == '*' && p[1] == ' ');
  if (tagged) {
    const char* end = p;
    while (*end > ' ' && *end < 0x7F && *end != '(' && *end != ')' && *end != '{' && *end != '"' &&
           *end != '%' && *end != '*')
      end++;
    if (end == p || *end != ' ') return 0;
    response->tag = p;
    response->tagLength = (size_t)(end - p);
    p = end + 1;
  } else {
    p += 2;
    if (isDigit(*p)) {
      if (!readNumber(&p, &response->number) || *p != ' ') return 0;
      response->numbered = 1;
      p++;
    }
  }
  const char* nameEnd = atomEnd(p);
  size_t nameLength = (size_t)(nameEnd - p);
  if (nameLength == 0) return 0;
  if (nameLength < sizeof response->name)
    for (size_t i = 0; i < nameLength; i++) response->name[i] = upper(p[i]);
  static const struct {
    const char* word;
    ImapStatus status;
  } statuses[] = {
      {"OK", ImapOk}, {"NO", ImapNo}, {"BAD", ImapBad}, {"PREAUTH", ImapPreauth}, {"BYE", ImapBye}};
  if (!response->numbered)
    for (const auto& s : statuses)
      if (strcmp(response->name, s.word) == 0) response->status = s.status;
  // A tagged response is the end of a command: OK, NO or BAD, nothing else.
  if (tagged && response->status != ImapOk && response->status != ImapNo &&
      response->status != ImapBad)
    return 0;
  p = nameEnd;
  if (*p == ' ') p++;
  if (response->status != ImapNoStatus && *p == '[') {
    const char* close = strchr(p, ']');
    if (close != NULL) {
      response->code = p + 1;
      response->codeLength = (size_t)(close - p - 1);
      p = close + 1;
      if (*p == ' ') p++;
    }
  }
  response->rest = p;
  response->kind = tagged ? ImapTagged : ImapUntagged;
  return 1;
}

int isImapTag(const ImapResponse* response, const char* tag) {
  return response->kind == ImapTagged && response->tagLength == strlen(tag) &&
         memcmp(response->tag, tag, response->tagLength) == 0;
}

int imapCodeNumber(const ImapResponse* response, const char* name, DWORD* value) {
  size_t length = strlen(name);
  if (response->code == NULL || response->codeLength <= length + 1 ||
      !sameWord(response->code, length, name) || response->code[length] != ' ')
    return 0;
  const char* p = response->code + length + 1;
  DWORD n;
  if (!readNumber(&p, &n) || (*p != ']' && *p != ' ')) return 0;
  *value = n;
  return 1;
}

int hasImapAtom(const char* list, size_t length, const char* atom) {
  const char* end = list + length;
  const char* p = list;
  while (p < end) {
    while (p < end && *p == ' ') p++;
    const char* start = p;
    while (p < end && *p != ' ') p++;
    if (p > start && sameWord(start, (size_t)(p - start), atom)) return 1;
  }
  return 0;
}

const char* imapCapabilities(const ImapResponse* response, size_t* length) {
  if (response->kind == ImapUntagged && response->status == ImapNoStatus &&
      strcmp(response->name, "CAPABILITY") == 0) {
    *length = strlen(response->rest);
    return response->rest;
  }
  const size_t word = strlen("CAPABILITY");
  if (response->code != NULL && response->codeLength >= word &&
      sameWord(response->code, word, "CAPABILITY") &&
      (response->codeLength == word || response->code[word] == ' ')) {
    *length = response->codeLength - word;
    return response->code + word;
  }
  return NULL;
}

int readImapFetch(const char* rest, ImapFetch* fetch) {
  memset(fetch, 0, sizeof *fetch);
  const char* p = rest;
  if (*p++ != '(') return 0;
  for (;;) {
    skipSpaces(&p);
    if (*p == ')') return 1;
    const char* name = p;
    const char* end = atomEnd(p);
    size_t length = (size_t)(end - name);
    if (length == 0) return 0;
    int body = length >= 5 && sameWord(name, 5, "BODY[");
    if (body) {
      // The section may hold spaces and parentheses: it runs to its "]",
      // and a partial fetch's "<origin>" may follow.
      end = strchr(name, ']');
      if (end == NULL) return 0;
      end++;
      if (*end == '<') {
        end = strchr(end, '>');
        if (end == NULL) return 0;
        end++;
      }
      length = (size_t)(end - name);
    }
    p = end;
    if (*p++ != ' ') return 0;
    if (sameWord(name, length, "UID")) {
      if (!readNumber(&p, &fetch->uid)) return 0;
      fetch->hasUid = 1;
    } else if (sameWord(name, length, "FLAGS")) {
      if (*p != '(') return 0;
      const char* close = strchr(p, ')');
      if (close == NULL) return 0;
      fetch->hasFlags = 1;
      fetch->seen = hasImapAtom(p + 1, (size_t)(close - p - 1), "\\Seen");
      p = close + 1;
    } else {
      if (body && *p == '{') fetch->hasHeader = 1;
      if (!skipValue(&p)) return 0;
    }
  }
}

int readImapStatus(const char* rest, ImapMailboxStatus* status) {
  memset(status, 0, sizeof *status);
  const char* p = rest;
  if (!skipValue(&p)) return 0;  // the mailbox's name
  skipSpaces(&p);
  if (*p++ != '(') return 0;
  for (;;) {
    skipSpaces(&p);
    if (*p == ')') return 1;
    const char* name = p;
    const char* end = atomEnd(p);
    if (end == name || *end != ' ') return 0;
    p = end + 1;
    DWORD* value = sameWord(name, (size_t)(end - name), "MESSAGES")      ? &status->messages
                   : sameWord(name, (size_t)(end - name), "UIDNEXT")     ? &status->uidNext
                   : sameWord(name, (size_t)(end - name), "UIDVALIDITY") ? &status->uidValidity
                                                                         : NULL;
    if (value != NULL ? !readNumber(&p, value) : !skipValue(&p)) return 0;
  }
}

int nextImapNumber(const char** cursor, DWORD* value) {
  skipSpaces(cursor);
  return readNumber(cursor, value);
}

int quoteImapString(const char* text, char* quoted, size_t size) {
  size_t at = 0;
  if (size < 3) return 0;
  quoted[at++] = '"';
  for (const char* p = text; *p != '\0'; p++) {
    unsigned char c = (unsigned char)*p;
    if (c < 0x20 || c >= 0x7F) return 0;
    if (at + 4 > size) return 0;  // room for an escape, the quote and the NUL
    if (c == '"' || c == '\\') quoted[at++] = '\\';
    quoted[at++] = (char)c;
  }
  quoted[at++] = '"';
  quoted[at] = '\0';
  return 1;
}

int readImapSearchResult(const char* rest, ImapSearchResult* result) {
  memset(result, 0, sizeof *result);
  const char* p = rest;
  if (*p == '(') {
    // The correlator: (TAG "a5").
    p++;
    if (!sameWord(p, 4, "TAG ") || p[4] != '"') return 0;
    result->tag = p + 5;
    p = strchr(result->tag, '"');
    if (p == NULL || p[1] != ')') return 0;
    result->tagLength = (size_t)(p - result->tag);
    p += 2;
  }
  for (;;) {
    skipSpaces(&p);
    if (*p == '\0') return 1;
    const char* name = p;
    p = atomEnd(p);
    size_t length = (size_t)(p - name);
    if (length == 0) return 0;
    // ALL's set is not in the text: the reader counted it.
    if (sameWord(name, length, "UID") || sameWord(name, length, "ALL")) continue;
    skipSpaces(&p);
    int count = sameWord(name, length, "COUNT"), max = sameWord(name, length, "MAX");
    if (count || max) {
      if (!readNumber(&p, count ? &result->count : &result->max)) return 0;
      (count ? result->hasCount : result->hasMax) = 1;
    } else if (!skipValue(&p)) {
      return 0;
    }
  }
}
