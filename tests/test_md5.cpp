#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "check/apop.h"
#include "check/md5.h"

namespace {

std::string digestTextOf(const unsigned char* bytes, unsigned int count) {
  Md5Context context;
  unsigned char digest[16];
  char text[33];
  md5Init(&context);
  md5Update(&context, bytes, count);
  md5Final(digest, &context);
  md5DigestText(text, digest);
  return text;
}

// Bytes 1, 8, 15, ... wrapping at 256, so the high half of the byte range is covered too.
std::string patternBytes(unsigned int count) {
  std::string bytes;
  for (unsigned int i = 0; i < count; i++) {
    bytes += (char)((i * 7 + 1) & 0xff);
  }
  return bytes;
}

const unsigned char* asBytes(const std::string& text) { return (const unsigned char*)text.data(); }

}  // namespace

TEST(Md5, Rfc1321SuiteInLowercase) {
  struct Case {
    const char* text;
    const char* digest;
  };
  const Case cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Case& c : cases) {
    char out[34];
    memset(out, 'X', sizeof(out));
    apopDigest(out, c.text);
    EXPECT_STREQ(c.digest, out) << "input \"" << c.text << "\"";
    EXPECT_EQ('X', out[33]) << "wrote past the 33-byte text";
  }
}

TEST(Md5, PaddingEdgesAroundOneBlock) {
  struct Case {
    unsigned int count;
    const char* digest;
  };
  const Case cases[] = {
      {55, "8c3eb046bcdb1f0ffe75fdbaf890cf13"}, {56, "d5e0fa3122448ddd3d843a9c5ed9e839"},
      {63, "1dd0d6ddeb881b118518c2881555f34b"}, {64, "7b412e00d38c31b0845a4f502d39d5e3"},
      {65, "ba03b626aceb7b09c86c2d544afe1dce"},
  };
  for (const Case& c : cases) {
    std::string input = patternBytes(c.count);
    EXPECT_EQ(c.digest, digestTextOf(asBytes(input), c.count)) << c.count << " bytes";
  }
}

TEST(Md5, PiecesAtEverySplitEqualOnePiece) {
  const std::string input = patternBytes(200);
  const std::string whole = "b7d1717b4709c38cc0bd9311383ed3d7";
  ASSERT_EQ(whole, digestTextOf(asBytes(input), 200));

  for (unsigned int split = 0; split <= 200; split++) {
    Md5Context context;
    unsigned char digest[16];
    char text[33];
    md5Init(&context);
    md5Update(&context, asBytes(input), split);
    md5Update(&context, asBytes(input) + split, 200 - split);
    md5Final(digest, &context);
    md5DigestText(text, digest);
    EXPECT_EQ(whole, text) << "split at " << split;
  }

  Md5Context context;
  unsigned char digest[16];
  char text[33];
  md5Init(&context);
  for (unsigned int i = 0; i < 200; i++) {
    md5Update(&context, asBytes(input) + i, 1);
  }
  md5Final(digest, &context);
  md5DigestText(text, digest);
  EXPECT_EQ(whole, text) << "one byte at a time";
}

TEST(Md5, FinalClearsTheWholeContext) {
  const std::string input = patternBytes(100);
  Md5Context context;
  unsigned char digest[16];
  md5Init(&context);
  md5Update(&context, asBytes(input), 100);
  md5Final(digest, &context);

  Md5Context zero;
  memset(&zero, 0, sizeof(zero));
  EXPECT_EQ(0, memcmp(&zero, &context, sizeof(context)));
}

TEST(Apop, TimestampRules) {
  struct Case {
    const char* greeting;
    int found;
    unsigned int offset;
    unsigned int length;
  };
  const Case cases[] = {
      {"+OK ready <1896.697170952@dbc.mtview.ca.us>\r", 1, 10, 33},
      {"+OK <a<b> x>\r", 1, 4, 5},             // two '<' before the first '>'
      {"+OK > first <x@y> then\r", 1, 12, 5},  // an earlier '>' is not used
      {"+OK <> ready\r", 1, 4, 2},             // "<>" counts as a timestamp
      {"<>", 1, 0, 2},
      {"+OK <no end\r", 0, 0, 0},
      {"+OK >only<\r", 0, 0, 0},
      {"+OK no stamp\r", 0, 0, 0},
      {"", 0, 0, 0},
  };
  for (const Case& c : cases) {
    const char* start = c.greeting;  // must be cleared when nothing is found
    unsigned int length = 99;
    EXPECT_EQ(c.found,
              findApopTimestamp(c.greeting, (unsigned int)strlen(c.greeting), &start, &length))
        << c.greeting;
    EXPECT_EQ(c.found ? c.greeting + c.offset : nullptr, start) << c.greeting;
    EXPECT_EQ(c.length, length) << c.greeting;
  }

  // The given length ends the search even without a NUL.
  const char* start;
  unsigned int length;
  EXPECT_EQ(0, findApopTimestamp("+OK <a@b>", 8, &start, &length));
  EXPECT_EQ(1, findApopTimestamp("+OK <a@b>", 9, &start, &length));
}

TEST(Apop, DigestOfTimestampAndPassword) {
  struct Case {
    const char* greeting;
    const char* password;
    const char* digest;  // nullptr: no timestamp
  };
  const Case cases[] = {
      {"+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r", "tanstaaf",
       "c4c9334bac560ecc979e58001b3e22fb"},
      {"+OK <a<b> x>\r", "pw", "a54539852f944f9531204e6cfb95beb5"},
      {"+OK > first <x@y> then\r", "", "d34673922a653815690ab325c2f4c13e"},
      {"+OK <> ready\r", "pw", "161f11d7b2e6cb1ea80d59ee6357b31b"},
      {"+OK <t@h>\r", "\x82\xa0\x82\xa2", "96dfb0b8b590ebf0a0d47b3bdd05c492"},
      {"+OK <no end\r", "pw", nullptr},
      {"+OK no stamp\r", "pw", nullptr},
  };
  for (const Case& c : cases) {
    char out[33] = "untouched";
    EXPECT_EQ(c.digest ? 1 : 0, buildApopDigest(out, c.greeting, c.password)) << c.greeting;
    EXPECT_STREQ(c.digest ? c.digest : "untouched", out) << c.greeting;
  }
}

TEST(Apop, LongGreetingAndPasswordStayInBounds) {
  const std::string stamp = "<1896.697170952@dbc.mtview.ca.us>";
  const std::string filler(APOP_GREETING_MAX - 4 - stamp.size() - 1, 'x');
  const std::string greeting = "+OK " + filler + stamp + "\r";  // exactly the bound
  ASSERT_EQ(APOP_GREETING_MAX, greeting.size());
  const std::string password(APOP_PASSWORD_MAX, 'p');

  char out[33];
  ASSERT_EQ(1, buildApopDigest(out, greeting.c_str(), password.c_str()));
  EXPECT_STREQ("c7e97f756fc40609c034e3bd38c3d2ca", out);

  // A longer password is cut to its first APOP_PASSWORD_MAX bytes.
  const std::string longPassword(300, 'p');
  ASSERT_EQ(1, buildApopDigest(out, greeting.c_str(), longPassword.c_str()));
  EXPECT_STREQ("c7e97f756fc40609c034e3bd38c3d2ca", out);

  // A timestamp closing beyond the bound is not looked for.
  const std::string tooLong = "+OK " + filler + "xx" + stamp;
  EXPECT_EQ(0, buildApopDigest(out, tooLong.c_str(), "pw"));
}
