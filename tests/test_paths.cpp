// Paths: the folder of a file.
#include "base/paths.h"

#include <gtest/gtest.h>

namespace {

TEST(DirectoryOf, CutsAtTheLastRealSeparator) {
  char directory[64];
  struct Case {
    const char* path;
    const char* directory;  // nullptr: none
  } cases[] = {{"C:\\Mail\\mailer.exe", "C:\\Mail"},
               {"C:\\mailer.exe", "C:\\"},
               {"mailer.exe", nullptr},
               {"\\mailer.exe", "\\"},
               {"C:/Mail/m.exe", "C:/Mail"},
               {"C:\\a\\ソ", "C:\\a"},
               {"\\\\server\\share\\m.exe", "\\\\server\\share"}};
  for (const Case& c : cases) {
    int found = directoryOf(c.path, directory, sizeof directory);
    if (!c.directory) {
      EXPECT_EQ(0, found) << c.path;
    } else {
      EXPECT_EQ(1, found) << c.path;
      EXPECT_STREQ(c.directory, directory);
    }
  }
  EXPECT_EQ(0, directoryOf("C:\\Mail\\m.exe", directory, 7));  // does not fit
}

}  // namespace
