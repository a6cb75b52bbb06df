// Path and text helpers, single-byte and with the double-byte code page 932
// (whose trail bytes may be 0x5C, the backslash).
#include "base/sfx_state.h"
#include "base/utf8_text.h"
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

// RFC 3629 well-formedness: what a strict decoder accepts, and the forms
// other decoders read leniently ('/' and '.' spelt overlong, surrogates).
TEST(Utf8Text, StrictValidation) {
  struct Case {
    const char* text;
    bool wellFormed;
    UINT utf16Units;  // when well-formed
  };
  const Case cases[] = {
      {"plain.txt", true, 9},
      {"caf\xC3\xA9", true, 4},                        // U+00E9
      {"\xE6\x97\xA5\xE6\x9C\xAC", true, 2},            // U+65E5 U+672C
      {"\xF0\x9F\x98\x80", true, 2},                    // U+1F600: a surrogate pair
      {"\xEF\xBC\x8E\xEF\xBC\x8E", true, 2},            // two U+FF0E: well-formed, checked elsewhere
      {"\xF4\x8F\xBF\xBF", true, 2},                    // U+10FFFF, the last code point
      {"\xED\x9F\xBF", true, 1},                        // U+D7FF, just below the surrogates
      {"\xC0\xAE\xC0\xAE", false, 0},                   // ".." overlong
      {"\xC0\xAF", false, 0},                           // '/' overlong
      {"\xE0\x80\xAF", false, 0},                       // '/' overlong in three bytes
      {"\xF0\x80\x80\xAF", false, 0},                   // '/' overlong in four bytes
      {"\xC1\xBF", false, 0},                           // overlong
      {"\xED\xA0\x80", false, 0},                       // U+D800, a surrogate
      {"\xED\xBF\xBF", false, 0},                       // U+DFFF
      {"\xF4\x90\x80\x80", false, 0},                   // above U+10FFFF
      {"\xF5\x80\x80\x80", false, 0},
      {"\xFF", false, 0},
      {"\x80", false, 0},                               // a stray continuation byte
      {"a\xE6\x97", false, 0},                          // cut off
      {"\xE6\x97" "a", false, 0},                       // cut off before ASCII
      {"caf\xE9", false, 0},                            // code page 1252, not UTF-8
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(IsStrictUtf8(c.text), c.wellFormed);
    if (c.wellFormed) EXPECT_EQ(Utf16Length(c.text), c.utf16Units);
  }
}

// While an entry is UTF-8, path texts step byte by byte: a UTF-8 byte that
// code page 932 takes for a lead byte does not swallow the separator after it.
TEST_F(PathText, Utf8EntryTextsStepByByte) {
  HostSetCodePage(932);
  const char name[] = "\xD0\x81/x.txt";  // U+0401 and a separator; 0x81 is a lead byte in 932
  Sfx.EntryUtf8 = 1;
  EXPECT_STREQ(FileNamePart(name), "x.txt");
  EXPECT_STREQ(FindLastSeparator(name), "/x.txt");
  Sfx.EntryUtf8 = 0;
  EXPECT_STREQ(FileNamePart(name), name);  // read as code page 932, the separator is a trail byte
}

}  // namespace
