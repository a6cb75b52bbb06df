// Path and text helpers, single-byte and with the double-byte code page 932
// (whose trail bytes may be 0x5C, the backslash).
#include "platform/host/host_control.h"
#include "stub_fixture.h"
#include "util/path_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

namespace {

class PathText : public ::testing::Test {
 protected:
  void SetUp() override { ResetStubAndHost(); }
};

// "\x95\x5C" is a double-byte character in code page 932 whose trail byte is
// the backslash.
const char kTrail5C[] = "\x95\x5C";

struct StripCase {
  const char* path;
  const char* after;
  bool removed;
};

TEST_F(PathText, StripTrailingSeparator) {
  const StripCase cases[] = {
      {"", "", false},
      {"\\", "\\", false},
      {"C:", "C:", false},
      {"C:\\", "C:\\", false},
      {"C:\\dir\\", "C:\\dir", true},
      {"C:dir\\", "C:dir", true},
      {"\\\\", "\\\\", false},
      {"\\\\server\\share\\", "\\\\server\\share", true},
      {"dir/", "dir", true},
      {"dir\\\\", "dir\\", true},
      {"dir", "dir", false},
  };
  for (const StripCase& c : cases) {
    char buffer[64];
    strcpy(buffer, c.path);
    EXPECT_EQ(StripTrailingSeparator(buffer), c.removed) << c.path;
    EXPECT_STREQ(buffer, c.after) << c.path;
  }
}

TEST_F(PathText, EnsureTrailingSeparator) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "\\"}, {"C:", "C:\\"}, {"C:\\", "C:\\"}, {"C:/", "C:/"}, {"dir", "dir\\"},
  };
  for (const auto& [path, after] : cases) {
    char buffer[64];
    strcpy(buffer, path);
    EnsureTrailingSeparator(buffer);
    EXPECT_STREQ(buffer, after) << path;
  }
}

TEST_F(PathText, FileNamePartAndLastSeparator) {
  const std::pair<const char*, const char*> cases[] = {
      {"name", "name"}, {"C:name", "C:name"}, {"dir\\", ""}, {"a/b\\c.exe", "c.exe"}, {"\\x", "x"},
  };
  for (const auto& [path, name] : cases) EXPECT_STREQ(FileNamePart(path), name) << path;
  EXPECT_EQ(FindLastSeparator("name"), nullptr);
}

TEST_F(PathText, LastCharAndFindChar) {
  EXPECT_EQ(LastChar(""), nullptr);
  const char text[] = "ab c";
  EXPECT_EQ(LastChar(text), text + 3);
  EXPECT_EQ(FindChar(text, ' '), text + 2);
  EXPECT_EQ(FindChar(text, 'z'), text + 4);  // the terminating NUL
}

TEST_F(PathText, DoubleByteTrailBackslashIsNoSeparator) {
  HostSetCodePage(932);
  std::string path = std::string("dir\\") + kTrail5C;  // dir\<char ending in 0x5C>
  EXPECT_EQ(FindLastSeparator(path.c_str()), path.c_str() + 3);
  EXPECT_EQ(LastChar(path.c_str()), path.c_str() + 4);
  EXPECT_TRUE(IsMultiByteChar(path.c_str() + 4));
  char buffer[32];
  strcpy(buffer, path.c_str());
  EXPECT_FALSE(StripTrailingSeparator(buffer));
  EXPECT_EQ(std::string(buffer), path);
  EnsureTrailingSeparator(buffer);
  EXPECT_EQ(std::string(buffer), path + "\\");
  EXPECT_EQ(FindChar(kTrail5C, '\\'), kTrail5C + 2);

  HostSetCodePage(1252);  // the same bytes are two characters in 1252
  EXPECT_EQ(FindLastSeparator(path.c_str()), path.c_str() + 5);
}

TEST_F(PathText, CharacterClasses) {
  EXPECT_TRUE(IsAsciiLetter('A') && IsAsciiLetter('z'));
  EXPECT_FALSE(IsAsciiLetter('@') || IsAsciiLetter('[') || IsAsciiLetter(0xC0) || IsAsciiLetter('1'));
  EXPECT_TRUE(IsPathSeparator('\\') && IsPathSeparator('/'));
  EXPECT_FALSE(IsPathSeparator(':'));
  EXPECT_FALSE(IsMultiByteChar(""));
}

TEST_F(PathText, ByteOperationsWithZeroCount) {
  char destination[4] = "abc";
  CopyBytes(destination, "xyz", 0);
  EXPECT_STREQ(destination, "abc");
  EXPECT_EQ(BytesDiffer("a", "b", 0), 0);
  EXPECT_EQ(BytesDiffer("abcd", "abce", 4), 1);
  EXPECT_EQ(BytesDiffer("abcd", "abce", 3), 0);
  FillBytes(destination, 0x141, 2);  // only the low byte counts
  EXPECT_EQ(destination[0], 'A');
  EXPECT_EQ(destination[1], 'A');
}

TEST_F(PathText, UseLongFileName) {
  std::string folder = MakeTempFolder();
  WriteFile(folder + "/Long Name.exe", {1});
  char path[300];
  snprintf(path, sizeof path, "%s/Long Name.exe", folder.c_str());
  UseLongFileName(path);
  EXPECT_EQ(std::string(path), folder + "/Long Name.exe");
  snprintf(path, sizeof path, "%s/missing.exe", folder.c_str());
  UseLongFileName(path);
  EXPECT_EQ(std::string(path), folder + "/missing.exe");  // not found: unchanged
}

}  // namespace
