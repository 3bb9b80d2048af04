// The server's side of an IMAP session taken apart: received bytes made
// into whole responses, literals read by their count, and the responses a
// check needs read out of them. Pure: the reader's state is the caller's
// record, and nothing here sends, keeps or shows anything.
#ifndef KIVVET_CHECK_IMAPREADER_H
#define KIVVET_CHECK_IMAPREADER_H

#include <stddef.h>

#include "platform/win32.h"

// A response's text outside its literals; what goes beyond is passed over
// up to the response's end, as an overlong POP3 line is.
const DWORD IMAP_TEXT_BYTES = 1024;
// The first literal of a response (the header fields of a preview); the
// rest of a longer one, and every later literal, are counted and passed
// over.
const DWORD IMAP_LITERAL_BYTES = 2048;

// The numbers of a SEARCH response, or the set of an ESEARCH's ALL
// (RFC 4731), taken as they come and never held whole: how many, and the
// highest few in ascending order.
const DWORD IMAP_NUMBERS_KEPT = 5;
struct ImapNumbers {
  DWORD count;  // a range "4:9" counts each of its numbers
  DWORD highest[IMAP_NUMBERS_KEPT];
  DWORD kept;
};

struct ImapReader {
  // The text of the response under way, each literal left as its "{n}"
  // and the text after it following at once; NUL-terminated, without the
  // CR LF that ended it.
  char text[IMAP_TEXT_BYTES];
  DWORD textLength;
  char literal[IMAP_LITERAL_BYTES];
  DWORD literalLength;
  DWORD literals;     // literals begun in this response
  DWORD literalLeft;  // bytes of the literal under way still to come
  int textCut;        // the text outgrew its place; the rest was passed over
  int literalCut;     // the first literal outgrew its place
  int complete;       // text holds a whole response; take it, then nextImapResponse
  // What the end of the line so far says about a literal: 0 nothing, 1 a
  // "{", 2 and digits, 3 and a "+", 4 the closing "}" (a CR may follow).
  int marker;
  DWORD markerCount;  // the digits read so far; a count past DWORD's range stays at its top
  // A SEARCH's numbers, or an ESEARCH's ALL set, go to `numbers` rather
  // than the text, which keeps "* SEARCH" or the ESEARCH's words.
  ImapNumbers numbers;
  int numbering;  // 0 no list; 1 a SEARCH's numbers; 2 an ALL set
  DWORD number;   // the number under way, and the start of its range
  DWORD rangeFrom;
  int hasNumber;
  int inRange;
};

// An empty reader, before a session's first byte.
void startImapReader(ImapReader* reader);
// Takes bytes until a response is complete or they run out; returns how
// many it took. The caller takes the complete response, calls
// nextImapResponse, and feeds the bytes that are left.
DWORD readImapBytes(ImapReader* reader, const char* bytes, DWORD length);
void nextImapResponse(ImapReader* reader);

enum ImapKind { ImapUntagged, ImapContinuation, ImapTagged, ImapUnreadable };
enum ImapStatus { ImapNoStatus, ImapOk, ImapNo, ImapBad, ImapPreauth, ImapBye };

// One response as read from a reader's text; the pointers point into it.
struct ImapResponse {
  ImapKind kind;
  const char* tag;  // tagged: the tag, tagLength bytes
  size_t tagLength;
  ImapStatus status;  // OK, NO, BAD, PREAUTH or BYE, tagged or not
  int numbered;       // "* 12 EXISTS": the number and then the name
  DWORD number;
  char name[16];  // upper-cased: EXISTS, RECENT, FETCH, CAPABILITY, SEARCH...
  // The response code between "[" and "]", codeLength bytes; NULL when none.
  const char* code;
  size_t codeLength;
  const char* rest;  // what follows the name, or the status and its code
};

// 1 when the text is a response this program can read (the kind is not
// ImapUnreadable).
int readImapResponse(const char* text, ImapResponse* response);
int isImapTag(const ImapResponse* response, const char* tag);
// A response code of a name and a number: "UIDVALIDITY 3", "UIDNEXT 8".
int imapCodeNumber(const ImapResponse* response, const char* name, DWORD* value);
// An atom in a list of atoms separated by spaces (a capability list),
// compared without regard to case.
int hasImapAtom(const char* list, size_t length, const char* atom);
// The capabilities a response tells: "* CAPABILITY ..." or the code
// "[CAPABILITY ...]" of a greeting or a tagged OK. NULL when it tells none.
const char* imapCapabilities(const ImapResponse* response, size_t* length);

// What a FETCH response says of its message.
struct ImapFetch {
  int hasUid;
  DWORD uid;
  int hasFlags;
  int seen;
  int hasHeader;  // a BODY[...] item with its literal (not NIL)
};
// rest: the parenthesised items after "* n FETCH". 0 when they cannot be read.
int readImapFetch(const char* rest, ImapFetch* fetch);

// What a STATUS response says of a mailbox; an item it lacks stays 0.
struct ImapMailboxStatus {
  DWORD messages;
  DWORD uidNext;
  DWORD uidValidity;
};
// rest: the mailbox name and the parenthesised items after "* STATUS".
int readImapStatus(const char* rest, ImapMailboxStatus* status);
// What an ESEARCH response says (RFC 4731): the tag of the command it
// answers, and the COUNT and MAX it told; its ALL set is in the reader's
// numbers.
struct ImapSearchResult {
  const char* tag;  // pointing into the text; NULL when it names none
  size_t tagLength;
  int hasCount;
  DWORD count;
  int hasMax;
  DWORD max;
};
// rest: what follows "* ESEARCH". 0 when it cannot be read.
int readImapSearchResult(const char* rest, ImapSearchResult* result);
// The next number of a SEARCH list, from *cursor on; 0 at its end.
int nextImapNumber(const char** cursor, DWORD* value);

// A text as an IMAP quoted string, quotes included; 0 when it must go as a
// literal instead (a line break, a byte outside ASCII) or does not fit.
int quoteImapString(const char* text, char* quoted, size_t size);

#endif
