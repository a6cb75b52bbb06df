// The extraction engine end to end on the host: self-extractors holding
// archives written at test time by zip, 7z and Python's zipfile, extracted
// by a run started as the main dialog's Unzip button starts it.
#include "archive/entry_extraction.h"
#include "container/sfx_config.h"
#include "output/output_paths.h"
#include "platform/host/host_control.h"
#include "startup/sfx_state.h"
#include "startup/start_sequence.h"
#include "stub_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

int Shell(const std::string& command) { return system((command + " >/dev/null 2>&1").c_str()); }

// Runs a Python snippet that writes a ZIP archive to argv[1] with zipfile.
std::vector<uint8_t> PythonZip(const std::string& folder, const std::string& body) {
  std::string script = folder + "/make.py", out = folder + "/py.zip";
  std::ofstream(script) << "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1], 'w')\n" << body << "\nz.close()\n";
  EXPECT_EQ(Shell("python3 " + script + " " + out), 0) << body;
  return ReadFile(out);
}

struct RunOutcome {
  UINT exitCode = 0;
  int runCode = -1;  // RunExtraction's result; -1 when no run started
  DWORD filesUnzipped = 0;
};

class Extraction : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetStubAndHost();
    folder_ = MakeTempFolder();
    target_ = folder_ + "/out";
  }

  // Builds a self-extractor around `zip`, starts it and presses Unzip once.
  RunOutcome Extract(const std::vector<uint8_t>& zip, uint32_t flags = 0, const char* password = nullptr,
                     bool checkEndRecord = true) {
    SyntheticSfx options;
    options.withEndRecordCheck = checkEndRecord;
    options.archive = zip;
    options.flags |= flags;
    options.texts[0] = target_;
    std::string path = folder_ + "/setup.exe";
    WriteFile(path, MakeSyntheticSfx(options).bytes);
    HostSetModulePath(path);
    RunOutcome outcome;
    HostSetMainDialogHandler([&] {
      if (password) {
        static char kept[256];
        snprintf(kept, sizeof kept, "%s", password);
        Sfx.Password = kept;
      }
      outcome.runCode = RunExtraction();
      outcome.filesUnzipped = Sfx.FilesUnzipped;
    });
    std::string tail;
    outcome.exitCode = StartSelfExtractor(nullptr, tail.data());
    return outcome;
  }

  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const HostMessageBox& box : HostMessageBoxes()) texts.push_back(box.text);
    return texts;
  }

  std::string folder_, target_;
};

// A small tree of sources: nested folders, an empty file, text and binary.
void MakeTree(const std::string& root) {
  fs::create_directories(root + "/docs/deep");
  fs::create_directories(root + "/empty-folder");
  WriteFile(root + "/readme.txt", std::vector<uint8_t>(5000, 'r'));
  WriteFile(root + "/empty.dat", {});
  std::vector<uint8_t> noise(70000);
  for (size_t i = 0; i < noise.size(); i++) noise[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
  WriteFile(root + "/docs/noise.bin", noise);
  WriteFile(root + "/docs/deep/exact.bin", std::vector<uint8_t>(2048, 'e'));
  WriteFile(root + "/docs/deep/one-more.bin", std::vector<uint8_t>(2049, 'o'));
}

// Every file under `source` is under `target` with the same bytes and, to
// the 2-second resolution of DOS times, the same modification time.
void ExpectSameTree(const std::string& source, const std::string& target) {
  for (const auto& entry : fs::recursive_directory_iterator(source)) {
    fs::path relative = fs::relative(entry.path(), source);
    fs::path copy = fs::path(target) / relative;
    ASSERT_TRUE(fs::exists(copy)) << relative;
    if (entry.is_directory()) continue;
    EXPECT_TRUE(ReadFile(entry.path()) == ReadFile(copy)) << relative << " differs";
    struct stat a, b;
    stat(entry.path().c_str(), &a);
    stat(copy.c_str(), &b);
    EXPECT_LE(std::llabs(static_cast<long long>(a.st_mtime) - b.st_mtime), 2) << relative << " dated wrongly";
  }
}

TEST_F(Extraction, ArchivesOfPeerToolsExtractWhole) {
  std::string source = folder_ + "/src";
  MakeTree(source);
  const std::pair<const char*, std::string> makers[] = {
      {"zip stored", "cd " + source + " && zip -q -r -0 ../a.zip ."},
      {"zip -1", "cd " + source + " && zip -q -r -1 ../a.zip ."},
      {"zip -9", "cd " + source + " && zip -q -r -9 ../a.zip ."},
      {"7z deflate", "cd " + source + " && 7z a -tzip -mm=Deflate ../a.zip ."},
  };
  for (const auto& [name, command] : makers) {
    SCOPED_TRACE(name);
    ResetStubAndHost();
    fs::remove_all(target_);
    fs::remove(folder_ + "/a.zip");
    ASSERT_EQ(Shell(command), 0) << command;
    RunOutcome outcome = Extract(ReadFile(folder_ + "/a.zip"));
    EXPECT_EQ(outcome.runCode, 0) << ::testing::PrintToString(BoxTexts());
    EXPECT_EQ(outcome.filesUnzipped, 5u);
    ExpectSameTree(source, target_);
  }
}

TEST_F(Extraction, EncryptedArchivesNeedTheirPassword) {
  std::string source = folder_ + "/src";
  MakeTree(source);
  const std::pair<const char*, std::string> makers[] = {
      {"zip -P", "cd " + source + " && zip -q -r -P s3cret ../e.zip ."},
      {"zip -P stored", "cd " + source + " && zip -q -r -0 -P s3cret ../e.zip ."},
      {"7z ZipCrypto", "cd " + source + " && 7z a -tzip -mem=ZipCrypto -ps3cret ../e.zip ."},
  };
  struct Attempt {
    const char* password;
    int runCode;
    const char* message;
  };
  const Attempt attempts[] = {
      {"s3cret", 0, nullptr},
      {"wrong", 2, "Incorrect password specified"},
      {nullptr, 2, "No password specified"},
  };
  for (const auto& [name, command] : makers) {
    fs::remove(folder_ + "/e.zip");
    ASSERT_EQ(Shell(command), 0) << command;
    std::vector<uint8_t> zip = ReadFile(folder_ + "/e.zip");
    for (const Attempt& attempt : attempts) {
      SCOPED_TRACE(std::string(name) + " with " + (attempt.password ? attempt.password : "no password"));
      ResetStubAndHost();
      fs::remove_all(target_);
      RunOutcome outcome = Extract(zip, SfxFlag::HasPassword, attempt.password);
      EXPECT_EQ(outcome.runCode, attempt.runCode);
      if (attempt.message) {
        ASSERT_EQ(BoxTexts(), std::vector<std::string>{attempt.message});
        EXPECT_EQ(HostMessageBoxes()[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
      } else {
        ExpectSameTree(source, target_);
      }
    }
  }
}

TEST_F(Extraction, OverwriteQuestionAnswers) {
  std::vector<uint8_t> zip = PythonZip(folder_, "z.writestr('a.txt', 'new a')\nz.writestr('b.txt', 'new b')");
  struct Case {
    int answer;
    int runCode;
    const char* contentAfter;
  };
  const Case cases[] = {{IDYES, 0, "new a"}, {IDNO, 0, "old"}, {IDCANCEL, 1, "old"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    ResetStubAndHost();
    fs::remove_all(target_);
    fs::create_directories(target_);
    WriteFile(target_ + "/a.txt", {'o', 'l', 'd'});
    HostQueueAnswers({c.answer});
    RunOutcome outcome = Extract(zip);
    EXPECT_EQ(outcome.runCode, c.runCode);
    ASSERT_EQ(HostMessageBoxes().size(), 1u);
    std::string shown = target_ + "\\a.txt";  // the output path, with '\\' separators
    std::replace(shown.begin(), shown.end(), '/', '\\');
    EXPECT_EQ(HostMessageBoxes()[0].text, "File " + shown + " already exists.  Overwrite file?");
    EXPECT_EQ(HostMessageBoxes()[0].type, static_cast<UINT>(MB_YESNOCANCEL));
    std::vector<uint8_t> after = ReadFile(target_ + "/a.txt");
    EXPECT_EQ(std::string(after.begin(), after.end()), c.contentAfter);
    EXPECT_EQ(fs::exists(target_ + "/b.txt"), c.runCode == 0);
  }
  ResetStubAndHost();
  EXPECT_EQ(Extract(zip, SfxFlag::OverwriteDefault).runCode, 0);  // no question asked
  EXPECT_TRUE(HostMessageBoxes().empty());
}

TEST_F(Extraction, UnsafeNamesAreRefusedBeforeAnythingIsWritten) {
  const char* names[] = {"../evil", "C:x", "a/../../b", "x:stream", "CON", "sub/nul.txt", "com1", "Lpt9.log",
                         "//server/share", "..\\\\evil"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    ResetStubAndHost();
    fs::remove_all(folder_ + "/zone");
    target_ = folder_ + "/zone/out";
    std::vector<uint8_t> zip = PythonZip(folder_, std::string("z.writestr('ok.txt', 'fine')\nz.writestr(") +
                                                      "'" + name + "', 'evil')");
    RunOutcome outcome = Extract(zip);
    EXPECT_EQ(outcome.runCode, 2);
    ASSERT_EQ(HostMessageBoxes().size(), 1u);
    EXPECT_NE(HostMessageBoxes()[0].text.find("Zip file contains an unsafe file name: "), std::string::npos);
    EXPECT_NE(HostMessageBoxes()[0].text.find(" - unzip operation cancelled."), std::string::npos);
    // Only the entry before the unsafe one exists, and nothing outside the destination.
    size_t made = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder_ + "/zone")) {
      (void)entry;
      made++;
    }
    EXPECT_EQ(made, 2u);  // out and out/ok.txt
  }
}

// Two stored entries written by zipfile, laid out as
//   0     local header "a.txt" (30 + 5), data 'A' x 5000 at 35
//   5035  local header "b.txt", data 'B' x 10 at 5070
//   5080  central directory (2 x 51 bytes)
//   5182  end record (22 bytes), 5204 in all
std::vector<uint8_t> TwoStoredEntries(const std::string& folder) {
  std::vector<uint8_t> zip = PythonZip(folder, "z.writestr('a.txt', 'A' * 5000)\nz.writestr('b.txt', 'B' * 10)");
  EXPECT_EQ(zip.size(), 5204u);
  return zip;
}

struct DamageCase {
  const char* what;
  size_t cutAt;          // 0: not cut
  size_t changeAt;       // 0: nothing changed
  uint8_t changeTo;
  std::string expected;  // the one box's text; "<n>" stands for the read error n
};

TEST_F(Extraction, DamagedArchivesEndWithTheirMessage) {
  const DamageCase cases[] = {
      {"cut inside the data", 135, 0, 0, "<2>"},
      {"cut inside a signature", 5037, 0, 0, "<9>"},
      {"cut inside a local header", 5045, 0, 0, "<4>"},
      {"cut inside a name", 5067, 0, 0, "<1>"},
      {"no central directory", 5080, 0, 0, "<9>"},
      {"cut inside a central header", 5100, 0, 0, "<6>"},
      {"cut inside the end record", 5192, 0, 0, "<7>"},
      {"unknown signature", 0, 5037, 0x09, "Invalid ZIP header.  Possible cause: file transfer error."},
      {"unsupported method", 0, 5035 + 8, 12, "Unsupported compression method"},
      {"damaged data", 0, 40, 'Z', "crc"},
  };
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.what);
    ResetStubAndHost();
    fs::remove_all(target_);
    std::vector<uint8_t> zip = TwoStoredEntries(folder_);
    if (c.cutAt) zip.resize(c.cutAt);
    if (c.changeAt) zip[c.changeAt] = c.changeTo;
    RunOutcome outcome = Extract(zip, 0, nullptr, false);
    EXPECT_EQ(outcome.runCode, 2);
    std::string expected = c.expected;
    if (expected[0] == '<')
      expected = "Error reading " + folder_ + "/setup.exe.  Possible cause: bad disk or file transfer error. " + expected;
    if (expected == "crc") {
      std::string path = target_ + "\\a.txt";
      std::replace(path.begin(), path.end(), '/', '\\');
      expected = "ZIP damaged: file " + path + ": Bad CRC 058b7970 (should be 131a7bbe).  Possible cause: file transfer error.";
    }
    ASSERT_EQ(BoxTexts(), std::vector<std::string>{expected});
    EXPECT_EQ(HostMessageBoxes()[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
  }
}

TEST_F(Extraction, WhatStaysOnDiskAfterAFailure) {
  std::vector<uint8_t> zip = TwoStoredEntries(folder_);
  zip[5035 + 8] = 12;  // b.txt: an unsupported method
  Extract(zip, 0, nullptr, false);
  EXPECT_EQ(ReadFile(target_ + "/a.txt").size(), 5000u);  // extracted before the failure
  ASSERT_TRUE(fs::exists(target_ + "/b.txt"));
  EXPECT_EQ(fs::file_size(target_ + "/b.txt"), 0u);  // created, left empty

  ResetStubAndHost();
  fs::remove_all(target_);
  zip = TwoStoredEntries(folder_);
  zip[40] = 'Z';
  Extract(zip, 0, nullptr, false);
  EXPECT_EQ(ReadFile(target_ + "/a.txt").size(), 5000u);  // complete as extracted, though its CRC failed
}

TEST_F(Extraction, EmptyEntryOfAnUnknownMethodIsJustCreated) {
  std::vector<uint8_t> zip = PythonZip(folder_, "z.writestr('e.txt', '')");
  zip[8] = 12;  // method 12, but no data at all
  EXPECT_EQ(Extract(zip).runCode, 0);
  EXPECT_TRUE(fs::exists(target_ + "/e.txt"));
}

TEST_F(Extraction, NameLengthLimit) {
  std::string longest(200, 'n'), tooLong(201, 'n');
  std::vector<uint8_t> zip = PythonZip(folder_, "z.writestr('" + longest + "', 'x')");
  target_ = folder_ + "/o";  // keeps the joined path under 260 characters
  EXPECT_EQ(Extract(zip).runCode, 0);
  EXPECT_TRUE(fs::exists(target_ + "/" + longest));
  ResetStubAndHost();
  zip = PythonZip(folder_, "z.writestr('" + tooLong + "', 'x')");
  EXPECT_EQ(Extract(zip).runCode, 2);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Zip file contains filenames longer than are allowed by\nWindows. "
                                                 "Dravik Self-Extractor cannot process this\nZip file."});
}

TEST_F(Extraction, ExternalArchivesUsedAsTheyAre) {
  const std::string data = std::string(DRAVIK_TESTDATA_DIR) + "/external/";
  // A file "def", then "def/foo" which needs "def" as a folder.
  RunOutcome outcome = Extract(ReadFile(data + "test_read_format_zip_msdos.zip"));
  EXPECT_EQ(outcome.runCode, 2);
  ASSERT_FALSE(BoxTexts().empty());
  EXPECT_EQ(BoxTexts().back().rfind("Can't create output file: ", 0), 0u) << BoxTexts().back();
  EXPECT_NE(BoxTexts().back().find("def\\foo"), std::string::npos) << BoxTexts().back();
  EXPECT_TRUE(fs::is_regular_file(target_ + "/def"));  // what came before stays

  ResetStubAndHost();
  fs::remove_all(target_);
  outcome = Extract(ReadFile(data + "test_read_format_zip_7z_lzma.zip"));
  EXPECT_EQ(outcome.runCode, 2);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Unsupported compression method"});
}

TEST(EntryNames, SafeAndUnsafe) {
  const std::pair<const char*, bool> cases[] = {
      {"a/b/c.txt", true},  {"/x.txt", true},   {"dir/..file/x..y/.a/a.b", true},
      {"./a.txt", true},    {"a/./b", true},    {"./", true},
      // What Windows would open under another name: trailing dots and
      // blanks are stripped, device names are found behind blanks and in
      // more spellings.
      {"...", false},       {"a/.../b", false}, {".. /x", false},
      {"a. ", false},       {"dir./x", false},  {"name ", false},
      {"CON .txt", false},  {"nul  ", false},   {"CONIN$", false},
      {"conout$.log", false}, {"COM\xB9", false}, {"lpt\xB2.txt", false},
      {"COM\xB3/x", false},  {"CONIN", true},    {"COM\xB4", true},
      {"console.txt", true}, {"COM0", true},    {"LPT10", true},
      {"auxiliary/x", true}, {"docs/", true},   {"..", false},
      {"a/..", false},       {"../x", false},   {"a\\..\\b", false},
      {"C:x", false},        {"x:y", false},    {"//unc/share", false},
      {"\\\\unc", false}, {"CON", false},   {"con.txt", false},
      {"dir/Aux.c", false},  {"COM1", false},   {"lpt9.log", false},
      {"PRN/x", false},      {"nul", false},
      // No name at all: its output path is the destination folder with a
      // separator, which the folder code took for a folder entry's name and
      // joined to the destination again ("C:\\dest\\C:\\dest\\").
      {"", false},
  };
  for (const auto& [name, safe] : cases) EXPECT_EQ(IsSafeEntryName(name), safe) << name;
}

// Code page 932: a trail byte 0x5C belongs to its character, while a lead
// byte followed by a byte no code page takes as a trail byte hides that byte
// (the engine fuzz target's containment audit found "\x8E:" in a name).
TEST(EntryNames, DoubleByteCodePage) {
  const std::pair<const char*, bool> cases[] = {
      {"\x95\\.txt", true},      // U+8868, its trail byte 0x5C
      {"\x83\\\x83t/a", true},   // U+30BD U+30D5, then a folder
      {"\x8E:x.txt", false},      // a colon behind a lead byte
      {"a\x95./b", false},        // a dot behind a lead byte
      {"a\x95 ", false},          // a blank behind a lead byte
      {"\x95/..", false},         // a separator behind a lead byte, then ".."
      {"\x8E\x40", true},         // the lowest trail byte
  };
  HostReset();
  HostSetCodePage(932);
  for (const auto& [name, safe] : cases) EXPECT_EQ(IsSafeEntryName(name), safe) << name;
  HostReset();
}

}  // namespace
