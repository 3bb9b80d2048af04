// The program's texts and their forms: whole characters, UTF-16 for
// Windows, Shift-JIS for the settings file.
#include <string.h>

#include <string>

#include "base/text.h"
#include "tests/support/program.h"

namespace {

TEST(Text, CopiesAndConversionsKeepWholeCharacters) {
  char out[8];
  EXPECT_EQ(7u, copyWholeCharacters(out, sizeof out, "abcdefghij"));
  // U+0800, the least character of three bytes, is one too.
  EXPECT_EQ(6u, copyWholeCharacters(out, sizeof out, "猫猫\u0800猫"));
  EXPECT_EQ(5u, copyWholeCharacters(out, sizeof out, "ab猫猫猫"));
  EXPECT_STREQ("ab猫", out);
  EXPECT_EQ(5u, copyWholeCharacters(out, sizeof out, "a😺😺"));
  // A byte that begins no character (a damaged text) counts as one.
  EXPECT_EQ(2u, copyWholeCharacters(out, sizeof out, "a\xe7"));
  unsigned long code = 0;
  EXPECT_EQ(1u, utf8Character((const unsigned char*)"\x80", &code));  // no lead byte
  EXPECT_EQ(0xFFFDu, code);
  EXPECT_EQ(0u, copyWholeCharacters(out, 1, "abc"));
  EXPECT_STREQ("", out);

  // UTF-8 and UTF-16 both ways, cut before what does not fit whole.
  WCHAR units[4];
  EXPECT_TRUE(toWide("Zoë", units, 4));
  EXPECT_EQ(u"Zoë", std::u16string(units));
  EXPECT_FALSE(toWide("a😺", units, 3));
  EXPECT_EQ(u"a", std::u16string(units));
  EXPECT_TRUE(toWide("😺", units, 3));
  EXPECT_TRUE(toUtf8(units, out, 5));
  EXPECT_STREQ("😺", out);
  EXPECT_FALSE(toUtf8(units, out, 4));
  EXPECT_STREQ("", out);
  const WCHAR lone[] = {0xD83D, 'x', 0};
  EXPECT_TRUE(toUtf8(lone, out, sizeof out));
  EXPECT_STREQ("\xEF\xBF\xBDx", out);  // U+FFFD
  EXPECT_TRUE(toWide("", units, 1));
  EXPECT_EQ(0, units[0]);

  // Shift-JIS of the settings file: a second byte of 0x5C is no
  // backslash; what it cannot hold, or what does not fit, is refused.
  struct Case {
    const char* sjis;
    const char* text;
  } both[] = {{"\x95\x5C\x83\x5C\\", "表ソ\\"}, {"\xB6\xDD", "ｶﾝ"}, {"", ""}};
  char sjis[16];
  char text[16];
  for (const Case& c : both) {
    EXPECT_TRUE(sjisToUtf8(c.sjis, text, sizeof text));
    EXPECT_STREQ(c.text, text);
    EXPECT_TRUE(utf8ToSjis(c.text, sjis, sizeof sjis));
    EXPECT_STREQ(c.sjis, sjis);
  }
  for (const char* foreign : {"Zoë", "😺", "한", "¥", "a\xe7"})
    EXPECT_FALSE(utf8ToSjis(foreign, sjis, sizeof sjis)) << foreign;
  EXPECT_STREQ("", sjis);
  EXPECT_FALSE(sjisToUtf8("\x81", text, sizeof text));  // a lead byte alone
  // The longest slot: 255 bytes fit 256 with the NUL, 256 do not.
  std::string longest(127, 'x');
  for (int i = 0; i < 64; i++) longest += "猫";
  char slot[256];
  EXPECT_TRUE(utf8ToSjis(longest.c_str(), slot, sizeof slot));
  EXPECT_EQ(255u, strlen(slot));
  EXPECT_FALSE(utf8ToSjis((longest + "x").c_str(), slot, sizeof slot));
  char back[LONG_TEXT_BYTES];
  std::string kana(255, '\xB6');  // half-width: one byte here, three in UTF-8
  EXPECT_TRUE(sjisToUtf8(kana.c_str(), back, sizeof back));
  EXPECT_EQ(765u, strlen(back));
}

}  // namespace
