// The header reader: who wrote a message and about what, as the tray may
// show it. One named case per row.
#include "check/headers.h"

#include <string.h>

#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/support/program.h"

namespace {

struct HeaderCase {
  std::string name;
  std::string block;
  std::string sender;
  std::string subject;
};

// A failure names its case, not the bytes of the record.
void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }

std::vector<HeaderCase> headerCases() {
  std::vector<HeaderCase> cases = {
      {"FoldedLinesADisplayNameAndAFieldNameInAnyCase",
       "Received: x\r\n y\r\nfrom: \"Yamada, Taro\"\r\n <taro@example.jp>\r\nSUBJECT: one\r\n\ttwo\r\n"
       "\r\nSubject: body",
       "Yamada, Taro", "one two"},
      {"IsoTwentyTwoJpInBAndANameInQuotes",
       "From: \"=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?=\" <y@example.jp>\n"
       "Subject: =?iso-2022-jp?B?GyRCJUYlOSVIGyhC?=\n",
       "山田", "テスト"},
      {"AdjacentWordsJoinWithoutTheirBlanks",
       "From: cat@example.jp ( )\nSubject: =?UTF-8?B?5pel5pys?= =?UTF-8?B?6Kqe44Gn?=\n",
       "cat@example.jp", "日本語で"},
      {"ACharacterSplitOverTwoWordsComesBackWhole",
       "Subject: =?UTF-8?B?5pel5g==?= =?UTF-8?B?nKzoqp4=?=\n", "", "日本語"},
      {"QEncodedUtf8AmongPlainWords",
       "From: <only@example.jp>\nSubject: =?utf-8?Q?Caf=C3=A9_au?= lait =?UTF-8?Q?=E2=82=AC?=\n",
       "only@example.jp", "Café au lait €"},
      {"OtherCharsetsAndANameInAComment",
       "From: x@example.jp (=?Shift_JIS?B?g2yDUg==?=)\nSubject: =?EUC-JP?B?pMuk46TD?= "
       "=?ISO-8859-1?Q?=E9t=E9?= =?US-ASCII?Q?ok?= =?koi8-r?B?68/U?= =?UTF-8?B?fn4+?= "
       "=?windows-1252?Q?=A2?=\n",
       "ネコ", "にゃっétéokКот~~>¢"},
      // Found in the system's database, through aliases; names it lacks
      // from the program's own few; a loop of aliases, or an alias that is
      // no text, is no charset.
      {"CharsetsTheSystemKnowsAndTheirAliases",
       "From: =?csISO2022JP?B?GyRCOzNFRBsoQg==?= <y@example.jp>\nSubject: "
       "=?windows-1251?Q?=CA=EE=F2?= =?latin2?Q?=A3=F3d=BC?= =?iso-8859-7?Q?=C3=DC=F4=E1?= "
       "=?cp1250?Q?=8A?= =?utf8?Q?=E2=82=AC?= =?gb18030?B?w6iVMIQ0?= =?koi8-u?Q?=A7?= "
       "=?x-loop?Q?a?= =?x-damaged?Q?a?=\n",
       "山田", "КотŁódźΓάταŠ€猫😺ї =?x-loop?Q?a?= =?x-damaged?Q?a?="},
      {"MalformedWordsAndAnUnknownCharsetStandAsWritten",
       "From: =?UTF-8?B?!!!?= =?UTF-8?X?hi?= =?UTF-8?Q?open <a@b>\nSubject: =?x-unknown?Q?hi?= "
       "=?UTF-8?Q?=Z9?= =?UTF-8?B?4oI?= =?UTF-8?B?QQ=A?= =?a\\b?Q?c?=\n",
       "=?UTF-8?B?!!!?= =?UTF-8?X?hi?= =?UTF-8?Q?open",
       "=?x-unknown?Q?hi?= =?UTF-8?Q?=Z9?= =?UTF-8?B?4oI?= =?UTF-8?B?QQ=A?= =?a\\b?Q?c?="},
      {"EightBitBytesAreUtf8WhenValidElseShiftJis",
       "From: \xe7\x8c\xab <c@d>\nSubject: \x94\x4c\x82\xcc\x98\x62\n", "猫", "猫の話"},
      {"RawIsoTwentyTwoJp", "Subject: \x1b$B%M%3!\"\x1b(B!\n", "", "ネコ、!"},
      {"ControlCharactersAndABidiOverrideGo",
       "From: \"Evil\xe2\x80\xae\xe2\x80\x8e"
       "fdp.exe\" <e@f>\nSubject: a\x01"
       "b\x7f"
       "c=?UTF-8?Q?=1B=C2=85d?=\n",
       "Evilfdp.exe", "abcd"},
      {"InvisibleCharactersAndTagsGoAndAPileOfAccentsKeepsTwo",
       "From: a\xcc\x81\xcc\x81\xcc\x81\xcc\x81 <x@y>\nSubject: a\xc2\xad"
       "b\xe2\x80\x8b\xe2\x80\x8f\xe2\x80\xa8\xe2\x81\xa0\xe2\x81\xaf"
       "c\xef\xbb\xbf\xf3\xa0\x80\x81\xf3\xa0\x81\xbf"
       "d\n",
       "a\xcc\x81\xcc\x81", "abcd"},
      {"EmptyFields", "From:   \nSubject:\n", "", ""},
  };
  // 84 characters of four bytes (three to a base64 group): the 80 that
  // fill the slot are kept, and no more; of 84 one-byte characters, which
  // the slot could hold, 80 still.
  std::string emoji = "Subject: =?UTF-8?B?", eighty;
  for (int i = 0; i < 28; i++) emoji += "8J+YuvCfmLrwn5i6";
  for (int i = 0; i < 80; i++) eighty += "😺";
  cases.push_back({"EightyFourBigCharactersKeepEighty", emoji + "?=\n", "", eighty});
  cases.push_back({"EightyFourSmallCharactersKeepEighty", "Subject: " + std::string(84, 'a') + "\n",
                   "", std::string(80, 'a')});
  return cases;
}

class HeaderReader : public ProgramTest, public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(HeaderReader, TakesSenderAndSubjectFitToShow) {
  const HeaderCase& c = GetParam();
  HeaderFields fields;
  memset(&fields, 'x', sizeof fields);
  readHeaders(c.block.c_str(), c.block.size(), &fields);
  EXPECT_EQ(c.sender, fields.sender);
  EXPECT_EQ(c.subject, fields.subject);
  EXPECT_EQ(0u, standin::openRegistryKeyCount());
}

INSTANTIATE_TEST_SUITE_P(, HeaderReader, ::testing::ValuesIn(headerCases()),
                         [](const ::testing::TestParamInfo<HeaderCase>& info) {
                           return info.param.name;
                         });

}  // namespace
