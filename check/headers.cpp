// Header lines are unfolded (RFC 5322: a line that begins with a blank
// continues the field before it), From and Subject taken, their encoded
// words decoded (RFC 2047) through the system's code pages, each charset
// found by its name in the system's MIME database, and whatever
// could upset a tray menu or a balloon removed: control characters and
// the characters that turn the direction of text around.
#include "check/headers.h"

#include <stdio.h>
#include <string.h>

#include "base/text.h"

namespace {

// A field's raw value, unfolded. The shown text is at most 80 characters,
// which even Q-encoded words of UTF-8 spell in less than this.
const size_t RAW_BYTES = 4096;
// The value once its 8-bit bytes are UTF-8: up to three bytes each.
const size_t TEXT_BYTES = 3 * RAW_BYTES;
const UINT ISO_2022_JP = 50220;
const UINT SHIFT_JIS = 932;
const UINT UTF_8 = 65001;
const UINT EUC_JP = 20932;
const UINT GB18030 = 54936;
const UINT GBK = 936;

// Every work area of the reader, in one place so that readHeaders wipes
// them all: nothing of a message stays behind once its fields are taken.
struct WorkAreas {
  WCHAR wideText[RAW_BYTES + 1];
  char sjis[RAW_BYTES];
  char wordBytes[RAW_BYTES];
  char scratch[RAW_BYTES];
  char name[TEXT_BYTES];
  char senderDecoded[TEXT_BYTES];
  char commentText[TEXT_BYTES];
  char raw[RAW_BYTES];
  char text[TEXT_BYTES];
  char decoded[TEXT_BYTES];
};
WorkAreas work;

struct Charset {
  const char* name;
  UINT codePage;
};
// Names in use that the MIME database lacks (Wine's lacks every one of
// these); "cp" or "windows-" and a number name that code page.
const Charset missingCharsets[] = {
    {"utf8", UTF_8},     {"windows-31j", SHIFT_JIS}, {"iso-8859-15", 28605}, {"gb18030", GB18030},
    {"big5-hkscs", 950}, {"koi8-u", 21866},          {"iso-8859-13", 28603},
};
// The charset key of the database: a code page (InternetEncoding), or the
// name the charset is an alias for (AliasForCharset).
const char CHARSET_KEY[] = "MIME\\Database\\Charset\\";
const int MOST_ALIASES = 4;
const size_t CHARSET_NAME_BYTES = 64;

int sameNoCase(const char* a, size_t length, const char* b) {
  if (strlen(b) != length) return 0;
  for (size_t i = 0; i < length; i++) {
    char c = a[i] >= 'A' && a[i] <= 'Z' ? (char)(a[i] - 'A' + 'a') : a[i];
    if (c != b[i]) return 0;
  }
  return 1;
}

// The code page of a charset in the system's MIME database, through its
// aliases; 0 when the database has no such name.
UINT codePageInDatabase(const char* name) {
  char key[sizeof CHARSET_KEY + CHARSET_NAME_BYTES];
  WCHAR alias[CHARSET_NAME_BYTES];
  snprintf(key, sizeof key, "%s%s", CHARSET_KEY, name);
  for (int step = 0; step <= MOST_ALIASES; step++) {
    HKEY charset;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, wide(key).text, 0, KEY_QUERY_VALUE, &charset) !=
        ERROR_SUCCESS)
      return 0;
    DWORD codePage = 0, type = 0, size = sizeof codePage;
    LONG found = RegQueryValueExW(charset, wide("InternetEncoding").text, NULL, &type,
                                  (BYTE*)&codePage, &size);
    if (found == ERROR_SUCCESS && type == REG_DWORD && size == sizeof codePage) {
      RegCloseKey(charset);
      return codePage;
    }
    size = sizeof alias - sizeof(WCHAR);
    found =
        RegQueryValueExW(charset, wide("AliasForCharset").text, NULL, &type, (BYTE*)alias, &size);
    RegCloseKey(charset);
    if (found != ERROR_SUCCESS || type != REG_SZ) return 0;
    alias[size / sizeof(WCHAR)] = 0;  // a value may lack its NUL
    char aliasName[3 * CHARSET_NAME_BYTES];
    toUtf8(alias, aliasName, sizeof aliasName);
    snprintf(key, sizeof key, "%s%s", CHARSET_KEY, aliasName);
  }
  return 0;
}

// 0 for a charset this program does not know; a language after "*"
// (RFC 2231) changes nothing.
UINT codePageOf(const char* name, size_t length) {
  const char* star = (const char*)memchr(name, '*', length);
  if (star != NULL) length = (size_t)(star - name);
  // A charset is a token of printable ASCII; a backslash would reach
  // another key of the registry.
  char token[CHARSET_NAME_BYTES];
  if (length == 0 || length >= sizeof token) return 0;
  for (size_t i = 0; i < length; i++)
    if (name[i] <= ' ' || name[i] > '~' || name[i] == '\\') return 0;
  memcpy(token, name, length);
  token[length] = '\0';
  UINT codePage = codePageInDatabase(token);
  if (codePage != 0) return codePage;
  for (const Charset& charset : missingCharsets)
    if (sameNoCase(name, length, charset.name)) return charset.codePage;
  const char* number = NULL;
  if (length > 2 && sameNoCase(name, 2, "cp")) number = name + 2;
  if (length > 8 && sameNoCase(name, 8, "windows-")) number = name + 8;
  if (number == NULL || length - (size_t)(number - name) > 5) return 0;
  for (const char* p = number; p < name + length; p++) {
    if (*p < '0' || *p > '9') return 0;
    codePage = codePage * 10 + (UINT)(*p - '0');
  }
  return codePage;
}

// The database names code pages that MultiByteToWideChar lacks: EUC-JP's
// 51932 (only MLang has it) everywhere, GB18030 on Wine. These go through
// the nearest code page it has; the ISO-2022-JP family through the
// program's own rule.
UINT convertibleCodePage(UINT codePage) {
  if (codePage == 51932) return EUC_JP;
  if (codePage >= ISO_2022_JP && codePage <= 50222) return ISO_2022_JP;
  return codePage;
}

// ISO-2022-JP (RFC 1468) into Shift-JIS, the same characters by a fixed
// rule: not every system converts code page 50220 (Wine does not), while
// each has 932. ASCII, JIS X 0201 Roman and katakana, and JIS X 0208;
// any other escape or byte fails. Returns the length, or 0.
size_t iso2022jpToSjis(const char* in, size_t length, char* out) {
  enum { ASCII, KANJI, KATAKANA } mode = ASCII;
  size_t used = 0;
  for (size_t i = 0; i < length; i++) {
    unsigned char c = (unsigned char)in[i];
    if (c == 0x1B) {
      if (i + 2 >= length) return 0;
      char a = in[i + 1], b = in[i + 2];
      if (a == '(' && (b == 'B' || b == 'J'))
        mode = ASCII;
      else if (a == '(' && b == 'I')
        mode = KATAKANA;
      else if (a == '$' && (b == '@' || b == 'B'))
        mode = KANJI;
      else
        return 0;
      i += 2;
      continue;
    }
    if (c >= 0x80) return 0;
    if (mode == ASCII || c < 0x21 || c > 0x7E) {
      out[used++] = (char)c;
    } else if (mode == KATAKANA) {
      if (c > 0x5F) return 0;
      out[used++] = (char)(c + 0x80);
    } else {
      if (i + 1 >= length) return 0;
      unsigned char d = (unsigned char)in[++i];
      if (d < 0x21 || d > 0x7E) return 0;
      out[used++] = (char)(((c + 1) >> 1) + (c <= 0x5E ? 0x70 : 0xB0));
      out[used++] = (char)((c & 1) ? d + (d >= 0x60 ? 0x20 : 0x1F) : d + 0x7E);
    }
  }
  return used;
}

// Bytes in a code page to UTF-8, appended at out (size bytes left with
// the NUL). With strict a byte that is no character fails the whole.
// Returns 0 on failure.
int appendDecoded(UINT codePage, int strict, const char* bytes, size_t length, char* out,
                  size_t size) {
  WCHAR* wideText = work.wideText;
  char* sjis = work.sjis;
  if (length == 0) return 1;
  if (length > RAW_BYTES) return 0;
  codePage = convertibleCodePage(codePage);
  if (codePage == ISO_2022_JP) {
    length = iso2022jpToSjis(bytes, length, sjis);
    if (length == 0) return 0;
    bytes = sjis;
    codePage = SHIFT_JIS;
  }
  DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
  int units = MultiByteToWideChar(codePage, flags, bytes, (int)length, wideText, (int)RAW_BYTES);
  // A system without GB18030 reads its two-byte part, which is GBK.
  if (units <= 0 && codePage == GB18030)
    units = MultiByteToWideChar(GBK, flags, bytes, (int)length, wideText, (int)RAW_BYTES);
  if (units <= 0) return 0;
  wideText[units] = 0;
  size_t used = strlen(out);
  toUtf8(wideText, out + used, size - used);
  memset(sjis, 0, sizeof work.sjis);
  return 1;
}

void appendBytes(char* out, size_t size, const char* bytes, size_t length) {
  size_t used = strlen(out);
  if (used + length > size - 1) length = size - 1 - used;
  memcpy(out + used, bytes, length);
  out[used + length] = '\0';
}

// A raw value into UTF-8: 8-bit bytes are UTF-8 when they are valid as
// such, else Shift-JIS; a value in ISO-2022-JP without encoding (its
// escape sequences) is read as that.
void valueToUtf8(const char* raw, char* text, size_t size) {
  text[0] = '\0';
  size_t length = strlen(raw);
  int eightBit = 0;
  for (size_t i = 0; i < length; i++)
    if ((unsigned char)raw[i] >= 0x80) eightBit = 1;
  if (strstr(raw, "\x1b$B") != NULL || strstr(raw, "\x1b$@") != NULL) {
    if (appendDecoded(ISO_2022_JP, 1, raw, length, text, size)) return;
  }
  if (eightBit && !appendDecoded(UTF_8, 1, raw, length, text, size))
    appendDecoded(SHIFT_JIS, 0, raw, length, text, size);
  else if (!eightBit)
    appendBytes(text, size, raw, length);
}

int base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Appends the decoded payload to bytes (at *used, room for RAW_BYTES);
// 0 when the payload is malformed.
int decodePayload(char encoding, const char* p, size_t length, char* bytes, size_t* used) {
  size_t at = *used;
  if (encoding == 'B' || encoding == 'b') {
    unsigned long bits = 0;
    int count = 0;
    size_t i = 0;
    for (; i < length && p[i] != '='; i++) {
      int value = base64Value(p[i]);
      if (value < 0) return 0;
      bits = bits << 6 | (unsigned long)value;
      if (++count % 4 == 0) {
        if (at + 3 > RAW_BYTES) return 0;
        bytes[at++] = (char)(bits >> 16);
        bytes[at++] = (char)(bits >> 8);
        bytes[at++] = (char)bits;
        bits = 0;
      }
    }
    for (size_t k = i; k < length; k++)
      if (p[k] != '=') return 0;
    int left = count % 4;
    if (left == 1 || (left == 0 && i < length) || at + 2 > RAW_BYTES) return 0;
    if (left == 2) bytes[at++] = (char)(bits >> 4);
    if (left == 3) {
      bytes[at++] = (char)(bits >> 10);
      bytes[at++] = (char)(bits >> 2);
    }
  } else {
    for (size_t i = 0; i < length; i++) {
      if (at + 1 > RAW_BYTES) return 0;
      if (p[i] == '_') {
        bytes[at++] = ' ';
      } else if (p[i] != '=') {
        bytes[at++] = p[i];
      } else {
        if (i + 2 >= length) return 0;
        int high = hexValue(p[i + 1]), low = hexValue(p[i + 2]);
        if (high < 0 || low < 0) return 0;
        bytes[at++] = (char)(high << 4 | low);
        i += 2;
      }
    }
  }
  *used = at;
  return 1;
}

struct EncodedWord {
  const char* charset;
  size_t charsetLength;
  char encoding;
  const char* payload;
  size_t payloadLength;
  const char* end;  // just after "?="
};

// "=?charset?B|Q?payload?=" at p, without blanks inside.
int parseEncodedWord(const char* p, EncodedWord* word) {
  if (p[0] != '=' || p[1] != '?') return 0;
  const char* charset = p + 2;
  const char* q = charset;
  while (*q != '\0' && *q != '?' && *q != ' ' && *q != '\t') q++;
  if (*q != '?' || q == charset) return 0;
  char encoding = q[1];
  if (!strchr("BbQq", encoding) || encoding == '\0' || q[2] != '?') return 0;
  const char* payload = q + 3;
  const char* r = payload;
  while (*r != '\0' && *r != '?' && *r != ' ' && *r != '\t') r++;
  if (r[0] != '?' || r[1] != '=') return 0;
  *word = {charset, (size_t)(q - charset), encoding, payload, (size_t)(r - payload), r + 2};
  return 1;
}

// Decodes a word's payload into bytes; 0 for a malformed word or an
// unknown charset, which then stand as they are.
int wordBytes(const EncodedWord& word, char* bytes, size_t* used) {
  if (codePageOf(word.charset, word.charsetLength) == 0) return 0;
  return decodePayload(word.encoding, word.payload, word.payloadLength, bytes, used);
}

// Decodes the encoded words of text into out. Adjacent words (only blanks
// between them) of one charset are joined before they are converted, so a
// character split between two words comes back whole; the blanks between
// them go. A run that will not convert stands as it was written.
void decodeWords(const char* text, char* out, size_t size) {
  char* bytes = work.wordBytes;
  out[0] = '\0';
  size_t used = 0;
  const char* runStart = NULL;  // the first word of the run pending
  const char* runEnd = NULL;
  EncodedWord runWord = {};
  auto flush = [&]() {
    if (runStart == NULL) return;
    if (!appendDecoded(codePageOf(runWord.charset, runWord.charsetLength), 1, bytes, used, out,
                       size))
      appendBytes(out, size, runStart, (size_t)(runEnd - runStart));
    runStart = NULL;
    used = 0;
  };
  const char* p = text;
  while (*p != '\0') {
    EncodedWord word;
    size_t before = used;
    if (parseEncodedWord(p, &word)) {
      int joins = runStart != NULL && word.charsetLength == runWord.charsetLength &&
                  codePageOf(word.charset, word.charsetLength) ==
                      codePageOf(runWord.charset, runWord.charsetLength);
      if (!joins) flush();
      before = used;
      if (wordBytes(word, bytes, &used)) {
        if (runStart == NULL) {
          runStart = p;
          runWord = word;
        }
        runEnd = word.end;
        p = word.end;
        continue;
      }
      used = before;
      flush();
    }
    // Blanks between two words that decode are dropped.
    if (runStart != NULL && (*p == ' ' || *p == '\t')) {
      const char* next = p;
      while (*next == ' ' || *next == '\t') next++;
      size_t probe = 0;
      char* scratch = work.scratch;
      if (parseEncodedWord(next, &word) && wordBytes(word, scratch, &probe)) {
        p = next;
        continue;
      }
    }
    flush();
    appendBytes(out, size, p, 1);
    p++;
  }
  flush();
}

// Controls, the characters that turn the direction of text around, and
// those that show nothing: the soft hyphen, the zero-width ones, the line
// and paragraph separators, the invisible operators, the byte-order mark
// and the tags.
int isUnwanted(unsigned long code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x00AD || code == 0x061C ||
         (code >= 0x200B && code <= 0x200F) || (code >= 0x2028 && code <= 0x202E) ||
         (code >= 0x2060 && code <= 0x206F) || code == 0xFEFF ||
         (code >= 0xE0000 && code <= 0xE007F);
}

// The combining marks that any script may pile on a character.
int isCombiningMark(unsigned long code) {
  return (code >= 0x0300 && code <= 0x036F) || (code >= 0x1AB0 && code <= 0x1AFF) ||
         (code >= 0x1DC0 && code <= 0x1DFF) || (code >= 0x20D0 && code <= 0x20FF) ||
         (code >= 0xFE20 && code <= 0xFE2F);
}

// No character carries more marks than this: a pile of them spills over
// the lines around it.
const int MOST_MARKS = 2;

}  // namespace

// Tabs become blanks, the unwanted characters go, and so do the marks
// past MOST_MARKS on one character; blanks at either end go, and at most
// PREVIEW_CHARS characters are kept.
void cleanText(const char* text, char* out, size_t size) {
  const unsigned char* p = (const unsigned char*)text;
  size_t used = 0;
  size_t characters = 0;
  size_t lastSolid = 0;  // bytes up to the last character that is no blank
  int marks = 0;         // on the last character kept
  out[0] = '\0';
  while (*p != '\0' && characters < PREVIEW_CHARS) {
    unsigned long code;
    size_t length = utf8Character(p, &code);
    const unsigned char* from = p;
    p += length;
    if (code == '\t') {
      code = ' ';
      from = (const unsigned char*)" ";
    }
    if (isUnwanted(code) || (code == ' ' && used == 0)) continue;
    int mark = isCombiningMark(code);
    if (mark && marks == MOST_MARKS) continue;
    marks = mark ? marks + 1 : 0;
    if (code == 0xFFFD && length == 1) {
      from = (const unsigned char*)"\xEF\xBF\xBD";
      length = 3;
    }
    if (used + length > size - 1) break;
    memcpy(out + used, from, length);
    used += length;
    characters++;
    if (code != ' ') lastSolid = used;
  }
  out[lastSolid] = '\0';
}

namespace {

// From: the display name before "<address>", unquoted; the address when
// there is no name; for "address (Name)" the comment.
void readSender(const char* value, char* sender) {
  char* name = work.name;
  char* decoded = work.senderDecoded;
  size_t n = 0;
  const char* angle = NULL;
  const char* comment = NULL;
  size_t commentLength = 0;
  int inQuote = 0, depth = 0;
  const char* p = value;
  for (; *p != '\0'; p++) {
    if (inQuote) {
      if (*p == '\\' && p[1] != '\0') {
        name[n++] = *++p;
        continue;
      }
      if (*p == '"')
        inQuote = 0;
      else
        name[n++] = *p;
      continue;
    }
    if (depth > 0) {
      if (*p == '\\' && p[1] != '\0')
        p++;
      else if (*p == '(')
        depth++;
      else if (*p == ')' && --depth == 0 && comment != NULL && commentLength == 0)
        commentLength = (size_t)(p - comment);
      continue;
    }
    if (*p == '"')
      inQuote = 1;
    else if (*p == '(') {
      depth = 1;
      if (comment == NULL) comment = p + 1;
    } else if (*p == '<') {
      angle = p;
      break;
    } else if (*p == ',') {
      break;  // a list: its first mailbox
    } else {
      name[n++] = *p;
    }
  }
  name[n] = '\0';
  sender[0] = '\0';
  if (angle != NULL) {
    decodeWords(name, decoded, sizeof work.senderDecoded);
    cleanText(decoded, sender, PREVIEW_TEXT_BYTES);
    if (sender[0] != '\0') return;
    const char* close = strchr(angle, '>');
    size_t length = close != NULL ? (size_t)(close - angle - 1) : strlen(angle + 1);
    memcpy(name, angle + 1, length);
    name[length] = '\0';
    cleanText(name, sender, PREVIEW_TEXT_BYTES);
    return;
  }
  if (comment != NULL && commentLength > 0) {
    char* commentText = work.commentText;
    memcpy(commentText, comment, commentLength);
    commentText[commentLength] = '\0';
    decodeWords(commentText, decoded, sizeof work.senderDecoded);
    cleanText(decoded, sender, PREVIEW_TEXT_BYTES);
    if (sender[0] != '\0') return;
  }
  // The bare address, without its comment.
  cleanText(name, sender, PREVIEW_TEXT_BYTES);
}

// The unfolded value of the first field of this name, raw, into value.
void findField(const char* block, size_t length, const char* field, char* value) {
  value[0] = '\0';
  size_t nameLength = strlen(field);
  const char* end = block + length;
  const char* line = block;
  int inField = 0;
  size_t used = 0;
  while (line < end) {
    const char* lineFeed = (const char*)memchr(line, '\n', (size_t)(end - line));
    const char* lineEnd = lineFeed != NULL ? lineFeed : end;
    const char* textEnd = lineEnd > line && lineEnd[-1] == '\r' ? lineEnd - 1 : lineEnd;
    if (textEnd == line) return;  // the empty line: the body would follow
    int continues = *line == ' ' || *line == '\t';
    if (!continues) {
      if (inField) return;
      inField = (size_t)(textEnd - line) > nameLength && line[nameLength] == ':' &&
                sameNoCase(line, nameLength, field);
      if (inField) line += nameLength + 1;
    }
    if (inField) {
      size_t take = (size_t)(textEnd - line);
      if (used + take > RAW_BYTES - 1) take = RAW_BYTES - 1 - used;
      memcpy(value + used, line, take);
      used += take;
      value[used] = '\0';
    }
    if (lineFeed == NULL) return;
    line = lineFeed + 1;
  }
}

}  // namespace

void readHeaders(const char* block, size_t length, HeaderFields* fields) {
  findField(block, length, "from", work.raw);
  valueToUtf8(work.raw, work.text, sizeof work.text);
  readSender(work.text, fields->sender);
  findField(block, length, "subject", work.raw);
  valueToUtf8(work.raw, work.text, sizeof work.text);
  decodeWords(work.text, work.decoded, sizeof work.decoded);
  cleanText(work.decoded, fields->subject, PREVIEW_TEXT_BYTES);
  memset(&work, 0, sizeof work);
}
