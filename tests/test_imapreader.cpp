// IMAP responses taken apart: literals by count, the bounds, and what the
// check reads out of greetings, codes, FETCH and STATUS.
#include "check/imapreader.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

struct Taken {
  std::string text, literal;
  int textCut, literalCut;
  std::vector<DWORD> highest;  // of the numbers, and their count
  DWORD count;
};

// Feeds the bytes in pieces of `piece` and collects every whole response.
std::vector<Taken> responses(const std::string& bytes, size_t piece) {
  static ImapReader reader;
  startImapReader(&reader);
  std::vector<Taken> taken;
  for (size_t at = 0; at < bytes.size(); at += piece) {
    std::string chunk = bytes.substr(at, piece);
    for (DWORD used = 0; used < chunk.size();) {
      used += readImapBytes(&reader, chunk.data() + used, (DWORD)(chunk.size() - used));
      if (!reader.complete) continue;
      taken.push_back({reader.text,
                       std::string(reader.literal, reader.literalLength),
                       reader.textCut,
                       reader.literalCut,
                       {reader.numbers.highest, reader.numbers.highest + reader.numbers.kept},
                       reader.numbers.count});
      nextImapResponse(&reader);
    }
  }
  return taken;
}

// Responses in pieces of every size: literals read by their count, of
// none too, and what outgrows its place passed over up to the response's
// end. A literal's count beyond the text's bound still counts: its bytes
// make no response of their own.
TEST(ImapReader, LiteralsAreReadByCountAndWhatOutgrowsItsPlaceIsPassedOver) {
  const std::string block = "From: a@example.jp\r\nA1 OK forged\r\n{5}\r\n\r\n";
  const std::string fetch = "* 3 FETCH (UID 7 FLAGS (\\Seen) BODY[HEADER.FIELDS (FROM)] {" +
                            std::to_string(block.size()) + "}";
  const std::string bytes =
      fetch + "\r\n" + block + ")\r\n* 4 FETCH (BODY[HEADER] {5}\r\nab\ncd UID 9)\r\n" +
      "* 5 FETCH (BODY[HEADER] {0}\r\n UID 10)\r\n* 9 FETCH (BODY[] " + std::string(3000, 'x') +
      " {12}\r\nA1 OK fake\r\n)\r\n* 6 FETCH {5000}\r\n" + std::string(5000, 'h') +
      ")\r\n* OK [ALERT] send {3}\r\n+ go {2}\r\nA1 OK done {4}\r\n";
  for (size_t piece : {1, 2, 7, 255}) {
    SCOPED_TRACE(piece);
    std::vector<Taken> taken = responses(bytes, piece);
    ASSERT_EQ(8u, taken.size());
    EXPECT_EQ(fetch + ")", taken[0].text);
    EXPECT_EQ(block, taken[0].literal);
    EXPECT_EQ("* 4 FETCH (BODY[HEADER] {5} UID 9)", taken[1].text);
    EXPECT_EQ("ab\ncd", taken[1].literal);
    EXPECT_EQ("* 5 FETCH (BODY[HEADER] {0} UID 10)", taken[2].text);
    EXPECT_TRUE(taken[3].text.size() == IMAP_TEXT_BYTES - 1 && taken[3].textCut);
    EXPECT_TRUE(taken[4].literal.size() == IMAP_LITERAL_BYTES && taken[4].literalCut &&
                !taken[4].textCut);
    // Free text ends where its line does, whatever it ends in.
    EXPECT_EQ("* OK [ALERT] send {3}", taken[5].text);
    EXPECT_EQ("+ go {2}", taken[6].text);
    EXPECT_EQ("A1 OK done {4}", taken[7].text);
  }
}

// A SEARCH's numbers, thousands in any pieces, and an ESEARCH's ALL set
// are counted as they come, the highest kept; the text holds the rest.
TEST(ImapReader, SearchNumbersAreCountedAsTheyComeNeverHeldWhole) {
  std::string bytes = "* SEARCH";
  for (int uid = 5000; uid >= 1; uid--) bytes += " " + std::to_string(uid);
  bytes += "\r\n* search (MODSEQ 9)\r\n* ESEARCH (TAG \"x\") UID ALL 9:12,3,20:18 COUNT 8\r\n";
  for (size_t piece : {1, 7, 255}) {
    SCOPED_TRACE(piece);
    std::vector<Taken> taken = responses(bytes, piece);
    ASSERT_EQ(3u, taken.size());
    EXPECT_TRUE(taken[0].text == "* SEARCH " && taken[0].count == 5000);
    EXPECT_EQ((std::vector<DWORD>{4996, 4997, 4998, 4999, 5000}), taken[0].highest);
    EXPECT_TRUE(taken[1].text == "* search (MODSEQ 9)" && taken[1].count == 0);
    EXPECT_EQ("* ESEARCH (TAG \"x\") UID ALL COUNT 8", taken[2].text);
    EXPECT_EQ((std::vector<DWORD>{11, 12, 18, 19, 20}), taken[2].highest);
    EXPECT_EQ(8u, taken[2].count);
  }
}

TEST(ImapReader, GreetingsCodesAndEndsAreRead) {
  ImapResponse r;
  size_t length;
  ASSERT_TRUE(readImapResponse("* OK [CAPABILITY IMAP4rev1 IDLE LOGINDISABLED] ready", &r));
  EXPECT_TRUE(r.kind == ImapUntagged && r.status == ImapOk);
  const char* caps = imapCapabilities(&r, &length);
  ASSERT_NE(nullptr, caps);
  EXPECT_TRUE(hasImapAtom(caps, length, "idle") && hasImapAtom(caps, length, "LOGINDISABLED"));
  EXPECT_FALSE(hasImapAtom(caps, length, "IDL") || hasImapAtom(caps, length, "STARTTLS"));
  EXPECT_STREQ("ready", r.rest);
  ASSERT_TRUE(readImapResponse("* CAPABILITY IMAP4rev1 STARTTLS", &r));
  caps = imapCapabilities(&r, &length);
  EXPECT_TRUE(caps != nullptr && hasImapAtom(caps, length, "STARTTLS"));
  ASSERT_TRUE(readImapResponse("* OK [UIDVALIDITY 4294967295] ok", &r));
  DWORD value = 0;
  EXPECT_TRUE(imapCodeNumber(&r, "UIDVALIDITY", &value) && value == 4294967295u);
  EXPECT_FALSE(imapCodeNumber(&r, "UIDNEXT", &value));
  ASSERT_TRUE(readImapResponse("* OK [UIDNEXT 4294967296] too big", &r));
  EXPECT_FALSE(imapCodeNumber(&r, "UIDNEXT", &value));
  ASSERT_TRUE(readImapResponse("* 12 exists", &r));
  EXPECT_TRUE(r.numbered && r.number == 12 && r.status == ImapNoStatus &&
              strcmp("EXISTS", r.name) == 0);
  EXPECT_TRUE(readImapResponse("* BYE [UNAVAILABLE] going away", &r) && r.status == ImapBye);
  EXPECT_TRUE(readImapResponse("+ idling", &r) && r.kind == ImapContinuation);
  ASSERT_TRUE(readImapResponse("k3 NO [AUTHENTICATIONFAILED] no", &r));
  EXPECT_TRUE(isImapTag(&r, "k3") && !isImapTag(&r, "k") && r.status == ImapNo);
  // A tagged line that ends nothing, or no line at all.
  EXPECT_FALSE(readImapResponse("k3 BYE x", &r) || readImapResponse("", &r) ||
               readImapResponse("* ", &r));
}

TEST(ImapReader, FetchStatusSearchAndQuotedStrings) {
  ImapFetch fetch;
  ASSERT_TRUE(readImapFetch("(UID 7 FLAGS (\\Seen) BODY[HEADER.FIELDS (FROM)] {41})", &fetch));
  EXPECT_TRUE(fetch.uid == 7 && fetch.seen && fetch.hasHeader);
  ASSERT_TRUE(readImapFetch("(BODY[HEADER] {0} UID 10)", &fetch));
  EXPECT_TRUE(fetch.uid == 10 && !fetch.hasFlags && !fetch.seen);
  ASSERT_TRUE(readImapFetch("(FLAGS (\\Seenx \\Flagged) BODY[HEADER] NIL UID 3)", &fetch));
  EXPECT_FALSE(fetch.seen || fetch.hasHeader);
  EXPECT_FALSE(readImapFetch("(UID 4294967296)", &fetch));
  EXPECT_FALSE(readImapFetch("UID 4", &fetch) || readImapFetch("(BODY[HEADER {5}", &fetch));
  ImapMailboxStatus status;
  ASSERT_TRUE(
      readImapStatus("\"IN BOX\" (MESSAGES 3 HIGHESTMODSEQ 123456789012 UIDNEXT 8 "
                     "UIDVALIDITY 5)",
                     &status));
  EXPECT_TRUE(status.messages == 3 && status.uidNext == 8 && status.uidValidity == 5);
  EXPECT_FALSE(readImapStatus("INBOX (UIDNEXT)", &status));
  const char* cursor = " 4 17 (MODSEQ 9)";
  DWORD uid;
  ASSERT_TRUE(nextImapNumber(&cursor, &uid) && uid == 4);
  ASSERT_TRUE(nextImapNumber(&cursor, &uid) && uid == 17);
  EXPECT_FALSE(nextImapNumber(&cursor, &uid));
  ImapSearchResult found;
  ASSERT_TRUE(readImapSearchResult("(TAG \"x\") UID COUNT 3 MAX 9", &found));
  EXPECT_TRUE(std::string(found.tag, found.tagLength) == "x" && found.count == 3 && found.max == 9);
  EXPECT_FALSE(readImapSearchResult("(TAG \"x UID COUNT 3", &found) ||
               readImapSearchResult("(TAG \"x\" UID COUNT 3", &found));

  char quoted[16];
  ASSERT_TRUE(quoteImapString("pa\"s\\", quoted, sizeof quoted));
  EXPECT_STREQ("\"pa\\\"s\\\\\"", quoted);
  EXPECT_FALSE(quoteImapString("ne\r\nko", quoted, sizeof quoted) ||
               quoteImapString("ねこ", quoted, sizeof quoted) ||
               quoteImapString("0123456789abc", quoted, sizeof quoted));
}

}  // namespace
