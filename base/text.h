// The program's texts are UTF-8 in char. They change form only here:
// UTF-16 for the wide calls of Windows, and Shift-JIS (code page 932) for
// the settings file's record, whose slots other versions of the program
// read as they are.
#ifndef KIVVET_BASE_TEXT_H
#define KIVVET_BASE_TEXT_H

#include <stddef.h>

#include "platform/win32.h"

// The UTF-8 character at text: its code and its length in bytes. A byte
// that begins none, or one whose sequence is broken, overlong or a
// surrogate, is one character of its own, U+FFFD.
size_t utf8Character(const unsigned char* text, unsigned long* code);

// Copies as much of source as fits into destination (size bytes with the
// NUL), never ending inside a character. Returns the number of bytes copied.
size_t copyWholeCharacters(char* destination, size_t size, const char* source);

// UTF-8 to UTF-16 into units WCHARs with the NUL, cut before a character
// that does not fit whole (a pair of surrogates stays together). A byte
// that begins no character becomes U+FFFD. Returns 1 when all of it fit.
int toWide(const char* text, WCHAR* wide, size_t units);
// UTF-16 to UTF-8 into size bytes with the NUL, cut likewise; a lone
// surrogate becomes U+FFFD. Returns 1 when all of it fit.
int toUtf8(const WCHAR* wide, char* text, size_t size);

// A text or path for one wide call: wide("KivvetLE.cfg").text. The
// temporary lives to the end of the statement that makes it.
const size_t WIDE_TEXT_UNITS = 1024;
struct WideText {
  WCHAR text[WIDE_TEXT_UNITS];
};
WideText wide(const char* text);

// Shift-JIS to UTF-8. A byte sequence that is no Shift-JIS, or a text too
// long for size, gives the empty text and 0.
int sjisToUtf8(const char* sjis, char* text, size_t size);
// A text of the settings file as it is shown: Shift-JIS when it is, else
// bytes that a version of the program calling Windows' ANSI functions
// wrote on a system of another code page (a password "caf\xE9"), read in
// the system's ANSI code page, whatever no character becomes the
// replacement character. Always gives a text, cut to size.
void fileTextToUtf8(const char* bytes, char* text, size_t size);
// UTF-8 to Shift-JIS into size bytes with the NUL. A character that
// Shift-JIS cannot hold, or a text that does not fit, gives the empty
// text and 0: never a '?' in its place.
int utf8ToSjis(const char* text, char* sjis, size_t size);

#endif
