// The extraction engine end to end on the host: self-extractors holding
// archives written at test time by zip, 7z and Python's zipfile, extracted
// by a run started as the main dialog's Unzip button starts it.
#include "archive/decryption.h"
#include "archive/record_walker.h"
#include "base/sfx_state.h"
#include "container/sfx_config.h"
#include "output/output_paths.h"
#include "platform/host/host_control.h"
#include "startup/start_sequence.h"
#include "stub_fixture.h"
#include "util/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
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

// Traditional encryption tells a wrong password by one check byte, so one
// password in 256 passes an entry's check and fails later on its CRC. zip and
// 7z salt every header at random; to keep the test's outcome fixed, the wrong
// password is the first candidate that fails the check of every encrypted
// entry in `zip` (read through its central directory).
std::string PasswordEveryHeaderRefuses(const std::vector<uint8_t>& zip) {
  auto u16 = [&](size_t at) { return static_cast<uint32_t>(zip[at] | zip[at + 1] << 8); };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  size_t end = zip.size() - 22;
  while (u32(end) != 0x06054b50) end--;
  BuildCrcTable();  // the keys are updated through it
  for (int attempt = 0; attempt < 1000; attempt++) {
    std::string candidate = "wrong" + std::to_string(attempt);
    Sfx.Password = candidate.data();
    bool refusedByAll = true;
    for (size_t entry = u32(end + 16), count = u16(end + 10); count > 0; count--) {
      uint32_t flags = u16(entry + 8), local = u32(entry + 42);
      BYTE check = (flags & 8) ? zip[entry + 13] : zip[entry + 19];  // time or CRC, high byte
      size_t data = local + 30 + u16(local + 26) + u16(local + 28);
      if ((flags & 1) && DecryptHeader(&zip[data], check) == 0) refusedByAll = false;
      entry += 46 + u16(entry + 28) + u16(entry + 30) + u16(entry + 32);
    }
    Sfx.Password = nullptr;
    if (refusedByAll) return candidate;
  }
  ADD_FAILURE() << "every candidate passed some entry's check";
  return "wrong";
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
  for (const auto& [name, command] : makers) {
    fs::remove(folder_ + "/e.zip");
    ASSERT_EQ(Shell(command), 0) << command;
    std::vector<uint8_t> zip = ReadFile(folder_ + "/e.zip");
    std::string wrong = PasswordEveryHeaderRefuses(zip);
    const Attempt attempts[] = {
        {"s3cret", 0, nullptr},
        {wrong.c_str(), 2, "Incorrect password specified"},
        {nullptr, 2, "No password specified"},
    };
    for (const Attempt& attempt : attempts) {
      SCOPED_TRACE(std::string(name) + " with " + (attempt.password ? attempt.password : "no password"));
      ResetStubAndHost();
      fs::remove_all(target_);
      RunOutcome outcome = Extract(zip, SfxFlag::HasPassword, attempt.password);
      EXPECT_EQ(outcome.runCode, attempt.runCode);
      if (attempt.message) {
        ASSERT_EQ(BoxTexts(), std::vector<std::string>{attempt.message});
        EXPECT_EQ(HostMessageBoxes()[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
        // The first file stopped the run before it was made: no empty file is left.
        for (const auto& made : fs::recursive_directory_iterator(target_))
          EXPECT_FALSE(made.is_regular_file()) << made.path() << " was made";
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

const char kZipDamaged[] =
    "Zip file is damaged, truncated, or has been changed since it was created.   If you downloaded this file, try "
    "downloading again.";

struct DamageCase {
  const char* what;
  size_t cutAt;          // 0: not cut
  size_t changeAt;       // 0: nothing changed
  uint8_t changeTo;
  std::string expected;  // the one box's text; "<n>" stands for the read error n
};

TEST_F(Extraction, DamagedArchivesEndWithTheirMessage) {
  const DamageCase cases[] = {
      {"cut inside the data: its size runs past the file's end", 135, 0, 0, kZipDamaged},
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

// A folder, then two small stored files, written by zipfile:
//   0    local header "d/" (30 + 2), no data
//   32   local header "f.txt" (30 + 5), data 'F' x 100 at 67
//   167  local header "g.txt" (30 + 5), data 'G' x 5 at 202
//   207  central directory (3 headers), then the end record
std::vector<uint8_t> FolderAndTwoFiles(const std::string& folder) {
  return PythonZip(folder, "z.writestr('d/', '')\nz.writestr('f.txt', 'F' * 100)\nz.writestr('g.txt', 'G' * 5)");
}
constexpr size_t kFolderRecord = 0, kFileRecord = 32, kShortFileRecord = 167;
constexpr size_t kFlagsAt = 6, kCompressedSizeAt = 18, kExtraLengthAt = 28;  // in a local header
constexpr size_t kCentralCommentLengthAt = 32;                               // in a central header

// The last central header's position.
size_t LastCentralHeader(const std::vector<uint8_t>& zip) {
  size_t at = zip.size() - 4;
  while (memcmp(&zip[at], "PK\1\2", 4) != 0) at--;
  return at;
}

struct LyingRecordCase {
  const char* what;
  size_t (*fieldAt)(const std::vector<uint8_t>& zip);
  uint32_t value;
  unsigned width;         // 2 or 4 bytes
  bool spanned;           // the archive is the ".ZIP" volume of disk 1
  bool fileExistsAnswerNo;  // f.txt exists and the overwrite question is answered No
};

// Each record lies about a size or a length; before, the walk seeked back
// onto the same record for ever (a size of minus the record's length) or
// ran past the file's end. Now every one ends at once with the damaged-
// archive message, and nothing is created for the lying entry.
TEST_F(Extraction, RecordsThatLieAboutSizesEndTheWalkAsDamaged) {
  const LyingRecordCase cases[] = {
      {"folder entry: size minus its own record", [](const auto&) { return kFolderRecord + kCompressedSizeAt; },
       static_cast<uint32_t>(-32), 4, false, false},
      {"folder entry: size minus its own record, spanned set",
       [](const auto&) { return kFolderRecord + kCompressedSizeAt; }, static_cast<uint32_t>(-32), 4, true, false},
      {"file entry: size minus its own record", [](const auto&) { return kFileRecord + kCompressedSizeAt; },
       static_cast<uint32_t>(-35), 4, false, false},
      {"file entry: size minus its own record, skipped at the question",
       [](const auto&) { return kFileRecord + kCompressedSizeAt; }, static_cast<uint32_t>(-35), 4, false, true},
      {"file entry: size minus its own record, spanned set",
       [](const auto&) { return kFileRecord + kCompressedSizeAt; }, static_cast<uint32_t>(-35), 4, true, false},
      {"file entry: size past the file's end", [](const auto&) { return kFileRecord + kCompressedSizeAt; },
       0x10000, 4, false, false},
      {"extra field past the file's end", [](const auto&) { return kFileRecord + kExtraLengthAt; }, 0xFFFF, 2,
       false, false},
      {"central header comment past the file's end",
       [](const std::vector<uint8_t>& zip) { return LastCentralHeader(zip) + kCentralCommentLengthAt; }, 0xFFFF,
       2, false, false},
      {"encrypted entry shorter than its encryption header",
       [](const auto&) { return kShortFileRecord + kFlagsAt; }, 0x1, 2, false, false},
  };
  for (const LyingRecordCase& c : cases) {
    SCOPED_TRACE(c.what);
    ResetStubAndHost();
    fs::remove_all(target_);
    std::vector<uint8_t> zip = FolderAndTwoFiles(folder_);
    size_t field = c.fieldAt(zip);
    if (c.width == 2)
      PutU16(zip, field, static_cast<uint16_t>(c.value));
    else
      PutU32(zip, field, c.value);
    uint32_t flags = 0;
    if (c.spanned) {
      flags = SfxFlag::SpannedArchive;
      WriteFile(folder_ + "/setup.ZIP", zip);
      HostSetVolumeLabel('/', "PKBACK# 001");  // the module path's "drive" is "/:"
    }
    if (c.fileExistsAnswerNo) {
      fs::create_directories(target_);
      WriteFile(target_ + "/f.txt", {'o', 'l', 'd'});
      HostQueueAnswers({IDNO});
    }
    auto started = std::chrono::steady_clock::now();
    RunOutcome outcome = Extract(zip, flags);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(outcome.runCode, 2);
    EXPECT_LT(seconds, 1.0);
    std::vector<std::string> texts = BoxTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), kZipDamaged);
    if (!c.fileExistsAnswerNo && c.fieldAt(zip) < kShortFileRecord) EXPECT_FALSE(fs::exists(target_ + "/f.txt"));
  }
}

// A one-entry archive around raw entry data, laid out by hand:
//   0   local header, name, data
//   ..  central header, end record
std::vector<uint8_t> OneEntryZip(const std::string& name, uint16_t method, const std::vector<uint8_t>& data,
                                 uint32_t crc, uint32_t size) {
  std::vector<uint8_t> zip;
  auto u16 = [&](uint32_t v) { zip.push_back(v & 0xFF), zip.push_back((v >> 8) & 0xFF); };
  auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
  auto bytes = [&](const void* p, size_t n) { zip.insert(zip.end(), (const uint8_t*)p, (const uint8_t*)p + n); };
  bytes("PK\3\4", 4), u16(20), u16(0), u16(method), u16(0), u16(0x21), u32(crc);
  u32(static_cast<uint32_t>(data.size())), u32(size), u16(static_cast<uint16_t>(name.size())), u16(0);
  bytes(name.data(), name.size()), bytes(data.data(), data.size());
  uint32_t directoryAt = static_cast<uint32_t>(zip.size());
  bytes("PK\1\2", 4), u16(20), u16(20), u16(0), u16(method), u16(0), u16(0x21), u32(crc);
  u32(static_cast<uint32_t>(data.size())), u32(size), u16(static_cast<uint16_t>(name.size()));
  u16(0), u16(0), u16(0), u16(0), u32(0), u32(0);
  bytes(name.data(), name.size());
  uint32_t directorySize = static_cast<uint32_t>(zip.size()) - directoryAt;
  bytes("PK\5\6", 4), u16(0), u16(0), u16(1), u16(1), u32(directorySize), u32(directoryAt), u16(0);
  return zip;
}

// A deflate stream (RFC 1951) that decodes to nothing: `blocks` empty fixed
// blocks, 10 bits each, the last one final:
//   BFINAL (1 bit), BTYPE = 01 (2 bits, low bit first), end of block: code
//   256, seven 0 bits.
std::vector<uint8_t> EmptyFixedBlocks(size_t blocks) {
  std::vector<uint8_t> stream((blocks * 10 + 7) / 8, 0);
  for (size_t n = 0; n < blocks; n++) {
    size_t bit = n * 10;
    if (n + 1 == blocks) stream[bit / 8] |= 1 << (bit % 8);  // BFINAL
    bit++;
    stream[bit / 8] |= 1 << (bit % 8);  // BTYPE's low bit; its high bit and the code stay 0
  }
  return stream;
}

// Input that writes nothing: a stream of empty blocks reads much and never
// fills an output block, and a run of empty entries reads only records. The
// messages are looked at while input is read all the same, at least once
// per 64 KiB, and an abort confirmed there ends the run silently. Each
// input's first case is the control: with no abort the run completes.
// Time limits stretch in the sanitizer build, whose code runs several
// times slower; what they guard (an abort answered at once, a run that
// ends) stays the same.
#if defined(__SANITIZE_ADDRESS__)
constexpr double kSanitizerSlowdown = 5;
#else
constexpr double kSanitizerSlowdown = 1;
#endif

TEST_F(Extraction, AbortIsAnsweredWhileNothingIsWritten) {
  const size_t kStreamBytes = 256u << 10;
  const std::vector<uint8_t> emptyBlocks =
      OneEntryZip("nothing.bin", 8, EmptyFixedBlocks(kStreamBytes * 8 / 10), 0, 0);
  const size_t kPumpsAtLeast = kStreamBytes / 0x10000 - 1;  // one per 64 KiB read, the last one spared
  // 4,000 empty files: some 130 KiB of records read (30 bytes a local record,
  // 4 of each central one, names apart), and no data.
  const std::vector<uint8_t> emptyEntries =
      PythonZip(folder_, "for n in range(4000): z.writestr('e%04d' % n, b'')");
  struct {
    const char* what;
    const std::vector<uint8_t>& zip;
    size_t pumpsBeforeYes;  // the answer Yes after this many No; none when 0
    double withinSeconds;
  } const cases[] = {{"empty blocks, no abort: an empty file", emptyBlocks, 0, 10.0},
                     {"empty blocks, abort confirmed at the first look", emptyBlocks, 1, 0.5},
                     {"empty blocks, abort after one look per 64 KiB read", emptyBlocks, kPumpsAtLeast, 10.0},
                     {"empty entries, no abort: every file made", emptyEntries, 0, 10.0},
                     {"empty entries, abort confirmed at the first look", emptyEntries, 1, 10.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ResetStubAndHost();
    fs::remove_all(target_);
    std::vector<bool> answers(c.pumpsBeforeYes, false);
    if (c.pumpsBeforeYes) answers.back() = true;
    HostQueuePumpAnswers(answers);
    auto started = std::chrono::steady_clock::now();
    RunOutcome outcome = Extract(c.zip);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    bool aborted = c.pumpsBeforeYes != 0;
    EXPECT_EQ(outcome.runCode, aborted ? 2 : 0);
    EXPECT_EQ(outcome.exitCode, aborted ? kExitCancelled : kExitSuccess);
    EXPECT_TRUE(BoxTexts().empty());  // a confirmed abort shows nothing more
    if (&c.zip == &emptyEntries) EXPECT_EQ(outcome.filesUnzipped < 4000, aborted) << outcome.filesUnzipped;
    EXPECT_LT(seconds, c.withinSeconds * kSanitizerSlowdown);
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

// ---- UTF-8 names (flag bit 11) ------------------------------------------------

// Stored entries written byte by byte, each name flagged UTF-8 (bit 11) or
// not, whatever its bytes: the names other tools would never write.
struct NamedEntry {
  std::string name;
  std::string data;
  bool utf8Flag = true;
};

std::vector<uint8_t> ZipOfNamedEntries(const std::vector<NamedEntry>& entries) {
  std::vector<uint8_t> zip, directory;
  auto u16 = [](std::vector<uint8_t>& out, uint32_t v) { out.push_back(v & 0xFF), out.push_back((v >> 8) & 0xFF); };
  auto u32 = [&](std::vector<uint8_t>& out, uint32_t v) { u16(out, v & 0xFFFF), u16(out, v >> 16); };
  auto bytes = [](std::vector<uint8_t>& out, const std::string& s) { out.insert(out.end(), s.begin(), s.end()); };
  for (const NamedEntry& e : entries) {
    uint32_t at = static_cast<uint32_t>(zip.size());
    uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), e.data.size()));
    uint16_t flags = e.utf8Flag ? 0x800 : 0;
    auto common = [&](std::vector<uint8_t>& out) {
      u16(out, 20), u16(out, flags), u16(out, 0), u16(out, 0), u16(out, 0x21), u32(out, crc);
      u32(out, static_cast<uint32_t>(e.data.size())), u32(out, static_cast<uint32_t>(e.data.size()));
      u16(out, static_cast<uint16_t>(e.name.size())), u16(out, 0);
    };
    bytes(zip, "PK\3\4"), common(zip), bytes(zip, e.name), bytes(zip, e.data);
    bytes(directory, "PK\1\2"), u16(directory, 20), common(directory);
    u16(directory, 0), u16(directory, 0), u16(directory, 0), u32(directory, 0), u32(directory, at);
    bytes(directory, e.name);
  }
  uint32_t directoryAt = static_cast<uint32_t>(zip.size());
  zip.insert(zip.end(), directory.begin(), directory.end());
  bytes(zip, "PK\5\6"), u16(zip, 0), u16(zip, 0), u16(zip, static_cast<uint32_t>(entries.size()));
  u16(zip, static_cast<uint32_t>(entries.size())), u32(zip, static_cast<uint32_t>(directory.size()));
  u32(zip, directoryAt), u16(zip, 0);
  return zip;
}

// Names in several scripts, as Python's zipfile writes them (UTF-8, bit 11),
// come out under their own names; the host's wide calls take them to the
// Linux side as the same UTF-8.
TEST_F(Extraction, Utf8NamesComeOutUnderTheirNames) {
  const std::string names[] = {"caf\u00e9.txt", "na\u00efve r\u00e9sum\u00e9.txt", "\u041e\u0442\u0447\u0451\u0442.txt",
                               "\u65e5\u672c\u8a9e.txt", "\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac.txt",
                               "emoji-\U0001F600.txt", "\u043f\u0430\u043f\u043a\u0430/\u0444\u0430\u0439\u043b.txt"};
  std::string body;
  for (const std::string& name : names) body += "z.writestr('" + name + "', '" + name + "')\n";
  std::vector<uint8_t> zip = PythonZip(folder_, body);
  RunOutcome outcome = Extract(zip);
  EXPECT_EQ(outcome.runCode, 0);
  EXPECT_EQ(outcome.filesUnzipped, std::size(names));
  EXPECT_TRUE(BoxTexts().empty());
  for (const std::string& name : names) {
    std::vector<uint8_t> data = ReadFile(target_ + "/" + name);
    EXPECT_EQ(std::string(data.begin(), data.end()), name);
  }
  EXPECT_EQ(Sfx.EntryUtf8, 0u);  // the texts after the run are ANSI again
}

// The overwrite question and an error box name a UTF-8 entry as it is.
TEST_F(Extraction, MessagesNameUtf8EntriesAsTheyAre) {
  const std::string name = "\u041e\u0442\u0447\u0451\u0442-\U0001F600.txt";
  std::vector<uint8_t> zip = ZipOfNamedEntries({{name, "new"}});
  fs::create_directories(target_);
  WriteFile(target_ + "/" + name, {'o', 'l', 'd'});
  HostQueueAnswers({IDNO});
  EXPECT_EQ(Extract(zip).runCode, 0);
  std::string shown = target_ + "\\" + name;
  std::replace(shown.begin(), shown.end(), '/', '\\');
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"File " + shown + " already exists.  Overwrite file?"});

  ResetStubAndHost();
  fs::remove(target_ + "/" + name);
  fs::create_directories(target_ + "/" + name);  // a folder where the file goes
  EXPECT_EQ(Extract(zip, SfxFlag::OverwriteDefault).runCode, 2);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Can't create output file: " + shown});
}

// Names that are unsafe once decoded, or in a spelling another program
// would fold them to, end the run before anything is written for them.
TEST_F(Extraction, HostileUtf8NamesAreRefusedBeforeAnythingIsWritten) {
  const char* names[] = {
      "\xC0\xAE\xC0\xAE/evil",              // ".." overlong
      "a/\xC0\xAF..\xC0\xAF" "evil",         // '/' overlong
      "\xEF\xBC\x8E\xEF\xBC\x8E/evil",      // ".." full-width (U+FF0E)
      "a\xEF\xBC\x8F..\xEF\xBC\x8F" "evil",  // "/../" with full-width solidus (U+FF0F)
      "\xEF\xBC\xA3\xEF\xBC\xAF\xEF\xBC\xAE.txt",  // "CON" full-width
      "C\xEF\xBC\x9A" "evil",                // "C:" with a full-width colon (U+FF1A)
      "COM\xC2\xB9.log",                     // COM with a superscript one (U+00B9)
      "name\xE3\x80\x80",                    // a trailing ideographic space (U+3000)
      "CON",  "sub/nul.txt", "C:evil", "../evil", "//server/share",
      "\xED\xA0\x80.txt",                    // a surrogate
      "caf\xE9.txt",                         // not UTF-8 at all
      "\xE6\x97",                            // cut off
  };
  for (const char* name : names) {
    SCOPED_TRACE(name);
    ResetStubAndHost();
    fs::remove_all(folder_ + "/zone");
    target_ = folder_ + "/zone/out";
    RunOutcome outcome = Extract(ZipOfNamedEntries({{"ok.txt", "fine"}, {name, "evil"}}));
    EXPECT_EQ(outcome.runCode, 2);
    ASSERT_EQ(HostMessageBoxes().size(), 1u);
    EXPECT_EQ(HostMessageBoxes()[0].text.rfind("Zip file contains an unsafe file name: ", 0), 0u);
    size_t made = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder_ + "/zone")) {
      (void)entry;
      made++;
    }
    EXPECT_EQ(made, 2u);  // out and out/ok.txt
  }
}

// Full-width letters and dots that fold to nothing unsafe are names like any other.
TEST_F(Extraction, FullWidthFormsThatFoldSafelyAreKept) {
  const std::string names[] = {"\uFF21\uFF22\uFF23.txt", "\u8cc7\u6599\uFF0Etxt", "a\uFF0Fb.txt"};
  std::vector<NamedEntry> entries;
  for (const std::string& name : names) entries.push_back({name, "x"});
  EXPECT_EQ(Extract(ZipOfNamedEntries(entries)).runCode, 0);
  for (const std::string& name : names) EXPECT_TRUE(fs::is_regular_file(target_ + "/" + name)) << name;
}

// The length limit counts UTF-16 units, as Windows does: 66 CJK characters
// are 198 bytes but 66 units.
TEST_F(Extraction, Utf8PathLengthsCountUtf16Units) {
  std::string cjk;
  for (int i = 0; i < 66; i++) cjk += "\u6587";
  target_ = folder_ + "/" + std::string(150, 'd');
  EXPECT_EQ(Extract(ZipOfNamedEntries({{cjk, "x"}})).runCode, 0);
  EXPECT_TRUE(fs::is_regular_file(target_ + "/" + cjk));

  ResetStubAndHost();
  target_ = folder_ + "/" + std::string(200, 'e');  // 200 + 1 + 66 units: over the limit
  EXPECT_EQ(Extract(ZipOfNamedEntries({{cjk, "x"}})).runCode, 2);
  ASSERT_EQ(BoxTexts().size(), 1u);
  EXPECT_EQ(BoxTexts()[0], "Can't create output file: " + cjk);
}

// Where Windows has no wide file API (95, 98, Me), a UTF-8 entry ends the
// run in words before anything is made for it; ANSI entries still extract.
TEST_F(Extraction, Utf8NamesNeedTheWideApi) {
  HostSetVersion(0x80000004);  // Windows 95: the top bit set
  RunOutcome outcome = Extract(ZipOfNamedEntries({{"plain.txt", "p", false}, {"caf\u00e9.txt", "c"}}));
  EXPECT_EQ(outcome.runCode, 2);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Zip file contains Unicode file names, which this version of "
                                                 "Windows cannot create - unzip operation cancelled."});
  EXPECT_TRUE(fs::is_regular_file(target_ + "/plain.txt"));
  EXPECT_FALSE(fs::exists(target_ + "/caf\u00e9.txt"));
}

// Entries without the flag go as they always went: their names are in the
// code page (here 1252, so 0xE9 is é on the Linux side too), also when the
// bytes happen to be valid UTF-8: Windows reads C3 A9 as "Ã©", and so does
// the host, so that what dravik-sfx extract shows is what Windows makes.
TEST_F(Extraction, UnflaggedNamesStayInTheCodePage) {
  EXPECT_EQ(Extract(ZipOfNamedEntries({{"caf\xE9.txt", "c", false}, {"d\xC3\xA9j\xC3\xA0/x.txt", "d", false}})).runCode,
            0);
  EXPECT_TRUE(fs::is_regular_file(target_ + "/caf\u00e9.txt"));
  EXPECT_TRUE(fs::is_regular_file(target_ + "/d\u00c3\u00a9j\u00c3\u00a0/x.txt"));
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
