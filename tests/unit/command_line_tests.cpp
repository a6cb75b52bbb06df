// The command-line tail, "-info" and the unattended-mode option.
#include "base/sfx_state.h"
#include "startup/command_line.h"
#include "stub_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(CommandTail, FollowsTheProgramName) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},
      {"prog.exe", ""},
      {"prog.exe /auto c:\\out", "/auto c:\\out"},
      {"\"C:\\My Files\\prog.exe\" -info", " -info"},
      {"\"C:\\My Files\\prog.exe\"", ""},
      {"\"C:\\unclosed quote", ""},
  };
  for (const auto& [line, tail] : cases) {
    std::string copy = line;
    EXPECT_STREQ(CommandTail(copy.data()), tail) << line;
  }
}

TEST(CommandTail, InfoIsFoundAnywhereInExactCase) {
  EXPECT_TRUE(TailAsksForInfo(" -info"));
  EXPECT_TRUE(TailAsksForInfo(" /auto c:\\my-information"));
  EXPECT_FALSE(TailAsksForInfo(" -INFO"));
  EXPECT_FALSE(TailAsksForInfo(" -inf"));
  EXPECT_FALSE(TailAsksForInfo(""));
}

struct OptionCase {
  const char* tail;
  int unattendedBefore;
  int unattendedAfter;
  const char* folderAfter;  // the default folder is "DEFAULT"
};

TEST(ParseCommandLine, AppliesAutoAndNoAuto) {
  const OptionCase cases[] = {
      {"/auto", 0, 1, "DEFAULT"},
      {"-Auto", 0, 1, "DEFAULT"},
      {"/AUTO", 0, 1, "DEFAULT"},
      {"/noauto", 1, 0, "DEFAULT"},
      {"-NoAuto c:\\x", 1, 0, "DEFAULT"},
      {"/auto c:\\out", 0, 1, "c:\\out"},
      {"/auto   c:\\out", 0, 1, "c:\\out"},
      {"/auto \"c:\\my files\" -x", 0, 1, "c:\\my files"},
      {"/auto c:\\my files -x", 0, 1, "c:\\my files -x"},
      {"/autoc:\\out", 0, 1, "C:\\OUT"},
      {"/automatic", 0, 1, "MATIC"},
      {"/auto \"c:\\unclosed", 0, 1, "c:\\unclosed"},
      {"/au", 0, 0, "DEFAULT"},
      {"/x", 1, 1, "DEFAULT"},
      {"/help", 0, 0, "DEFAULT"},
      {"c:\\my-dir /auto", 0, 0, "DEFAULT"},
      {"", 1, 1, "DEFAULT"},
      {"no option here", 0, 0, "DEFAULT"},
  };
  for (const OptionCase& c : cases) {
    ResetStubAndHost();
    strcpy(Sfx.TargetFolder, "DEFAULT");
    Sfx.Unattended = c.unattendedBefore;
    std::string tail = c.tail;
    ParseCommandLine(tail.data());
    EXPECT_EQ(Sfx.Unattended, static_cast<DWORD>(c.unattendedAfter)) << c.tail;
    EXPECT_STREQ(Sfx.TargetFolder, c.folderAfter) << c.tail;
  }
}

TEST(ParseCommandLine, UpperCasesOnlyTheOptionWord) {
  ResetStubAndHost();
  std::string tail = "/auto c:\\out";
  ParseCommandLine(tail.data());
  EXPECT_EQ(tail, "/AUTO c:\\out");
}

TEST(ParseCommandLine, OverlongFolderIsCutToThePathLimit) {
  ResetStubAndHost();
  std::string tail = "/auto " + std::string(400, 'x');
  ParseCommandLine(tail.data());
  EXPECT_EQ(strlen(Sfx.TargetFolder), static_cast<size_t>(MAX_PATH));
}

}  // namespace
