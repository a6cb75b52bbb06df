// dravik-sfx build: the file layout the stub relies on. The payload section
// and the image header fields, the configuration record and its flags, the
// stub CRC and the image checksum (each computed here by code of its own),
// the text limits, the stubs the builder must refuse, and dravik-sfx info.
#include "builder/pe_image.h"
#include "builder_fixture.h"
#include "stub_fixture.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <sys/stat.h>

#include <cstring>

namespace {

constexpr int kExitFailure = 2;

// Record fields, from the marker's first byte.
constexpr unsigned kStubCrcAt = 8, kArchiveAt = 12, kConfigBlockAt = 16, kEndRecordAt = 20, kTotalSizeAt = 24,
                   kFlagsAt = 28, kFinalisedAt = 42, kEntryPointAt = 54;

struct Built {
  CommandResult result;
  std::vector<uint8_t> image;
  long record = -1;
  std::string folder;  // holds src/ and out.exe
  uint32_t Field(unsigned at) const { return Le32(image, record + at); }
};

// Builds from a two-file tree with `options`; the image is empty on failure.
Built BuildWith(std::vector<std::string> options) {
  std::string folder = MakeTempFolder();
  MakeSourceTree(folder + "/src");
  options.insert(options.begin(), {"build", "-o", folder + "/out.exe", "-C", folder + "/src"});
  options.push_back("a.txt");
  options.push_back("sub");
  Built built;
  built.folder = folder;
  built.result = RunSfx(options);
  if (built.result.status == 0) {
    built.image = ReadFile(folder + "/out.exe");
    built.record = FindRecord(built.image);
  }
  return built;
}

// Each added section follows the one before it, raw data and virtual range
// on their alignments.
void ExpectFollows(const PeView& image, const SectionHeader& before, const SectionHeader& added) {
  EXPECT_EQ(added.rawAt % image.fileAlignment, 0u);
  EXPECT_EQ(added.rawAt, (before.rawAt + before.rawSize + image.fileAlignment - 1) / image.fileAlignment * image.fileAlignment);
  EXPECT_EQ(added.rawSize % image.fileAlignment, 0u);
  uint32_t beforeVirtualEnd = before.virtualAddress + std::max(before.virtualSize, before.rawSize);
  EXPECT_EQ(added.virtualAddress,
            (beforeVirtualEnd + image.sectionAlignment - 1) / image.sectionAlignment * image.sectionAlignment);
}

// The sections a self-extractor built with the stub of `arch` adds: the
// resources, which the resource directory points at, and the payload.
void ExpectPayloadSectionAfterTheStub(const char* arch) {
  std::vector<uint8_t> stub = BuiltStub(arch);
  PeView before = ReadPeView(stub);
  Built built = BuildWith({"--arch", arch});
  ASSERT_EQ(built.result.status, 0) << built.result.err;
  PeView after = ReadPeView(built.image);

  ASSERT_EQ(after.sections.size(), before.sections.size() + 2);
  const SectionHeader& resources = after.sections[after.sections.size() - 2];
  const SectionHeader& payload = after.sections.back();
  EXPECT_EQ(resources.name, ".rsrc");
  EXPECT_EQ(resources.characteristics, 0x40000040u);
  ExpectFollows(after, before.sections.back(), resources);
  uint32_t resourceDirectoryAt = after.optionalAt + (std::string(arch) == "x64" ? 112 : 96) + 2 * 8;
  EXPECT_EQ(Le32(built.image, resourceDirectoryAt), resources.virtualAddress);
  EXPECT_LE(Le32(built.image, resourceDirectoryAt + 4), resources.rawSize);

  EXPECT_EQ(payload.name, "_dravik_");
  EXPECT_EQ(payload.characteristics, 0x42000040u);
  ExpectFollows(after, resources, payload);
  EXPECT_EQ(payload.rawAt + payload.rawSize, built.image.size());
  EXPECT_GE(payload.virtualSize, built.Field(kEndRecordAt) + 22 - payload.rawAt);
  EXPECT_EQ(after.sizeOfImage,
            (payload.virtualAddress + payload.virtualSize + after.sectionAlignment - 1) / after.sectionAlignment *
                after.sectionAlignment);
  EXPECT_EQ(after.sizeOfInitializedData, before.sizeOfInitializedData + resources.rawSize + payload.rawSize);
  EXPECT_EQ(after.entryPoint, before.entryPoint);
  EXPECT_EQ(built.Field(kConfigBlockAt), payload.rawAt);
}

// The added sections: .rsrc, then _dravik_, the last one, on the
// alignments, raw data right after the stub's last section, and counted by
// the header. Both stubs.
// A self-extractor written in pieces has its image checksum summed piece by
// piece: pieces cut at odd offsets (a word split between two), in any
// order, give the checksum of the whole, as the reference computes it.
TEST(PeChecksum, PiecesAddUpToTheWhole) {
  std::vector<uint8_t> file(4099);
  for (size_t i = 0; i < file.size(); i++) file[i] = static_cast<uint8_t>(i * 131 + 7);
  constexpr uint32_t kCheckSumAt = 64;
  for (int i = 0; i < 4; i++) file[kCheckSumAt + i] = 0;
  const std::vector<size_t> cuts[] = {{}, {1}, {2}, {1, 2, 3}, {333, 1000, 1001, 4098}, {4098}};
  for (const std::vector<size_t>& cut : cuts) {
    std::vector<size_t> bounds = {0};
    bounds.insert(bounds.end(), cut.begin(), cut.end());
    bounds.push_back(file.size());
    PeChecksum checksum;
    for (size_t piece = bounds.size() - 1; piece-- > 0;)  // last piece first
      checksum.Add(&file[bounds[piece]], bounds[piece + 1] - bounds[piece], bounds[piece]);
    EXPECT_EQ(checksum.Value(file.size()), ReferencePeChecksum(file, kCheckSumAt)) << cut.size() << " cuts";
  }
}

TEST(PayloadSection, FollowsTheStubOnItsAlignments) {
  for (const char* arch : kStubArches) {
    SCOPED_TRACE(arch);
    ExpectPayloadSectionAfterTheStub(arch);
  }
}

TEST(ConfigurationRecord, FieldsDescribeThePayload) {
  Built built = BuildWith({"--folder", "C:\\Dest", "--prompt", "Unpack?", "--caption", "Setup kit", "--info", "About"});
  ASSERT_EQ(built.result.status, 0) << built.result.err;
  ASSERT_GE(built.record, 0);
  const std::vector<uint8_t>& b = built.image;
  uint32_t configAt = built.Field(kConfigBlockAt), archiveAt = built.Field(kArchiveAt);
  std::string block(b.begin() + configAt, b.begin() + archiveAt);
  static const char kBlock[] = "C:\\Dest\0Dravik Self-Extractor\0Unpack?\0Setup kit\0About\0";
  EXPECT_EQ(block, std::string(kBlock, sizeof kBlock - 1));
  EXPECT_EQ(Le32(b, archiveAt), 0x04034B50u);  // the first local header
  EXPECT_EQ(Le32(b, built.Field(kEndRecordAt)), 0x06054B50u);
  uint32_t endAt = built.Field(kEndRecordAt);
  uint32_t directoryAt = Le32(b, endAt + 16);
  EXPECT_EQ(Le32(b, directoryAt), 0x02014B50u);   // directory offset counted from the file's start
  EXPECT_EQ(Le32(b, directoryAt + 42), archiveAt);  // so is the first entry's local header offset
  uint32_t total = 0;
  for (const char* file : {"/src/a.txt", "/src/sub/b.txt", "/src/sub/c.bin"})
    total += static_cast<uint32_t>(ReadFile(built.folder + file).size());
  EXPECT_EQ(built.Field(kTotalSizeAt), total);
  EXPECT_EQ(Le16(b, built.record + kFinalisedAt), 0xFFFF);
  EXPECT_EQ(built.Field(kEntryPointAt), ReadPeView(b).entryPoint);
  for (unsigned reserved : {32u, 36u, 44u, 48u}) EXPECT_EQ(built.Field(reserved), 0u) << reserved;
  for (unsigned reserved : {40u, 52u, 58u}) EXPECT_EQ(Le16(b, built.record + reserved), 0u) << reserved;
}

TEST(ConfigurationRecord, FlagsFollowTheOptions) {
  struct Case {
    std::vector<std::string> options;
    uint32_t flags;
  } cases[] = {
      {{}, 0x800},
      {{"--overwrite"}, 0x802},
      // A caption makes a setup: the archiver, About and Help buttons are left
      // out unless --buttons names them.
      {{"--caption", "Kit"}, 0x70000810},
      {{"--caption", "Kit", "--caption-title"}, 0x70040810},
      {{"--caption", "Kit", "--buttons", "run,about,help"}, 0x810},
      {{"--buttons", "about"}, 0x50000800},
      {{"--buttons", "help,run"}, 0x20000800},
      {{"--buttons", "none"}, 0x70000800},
      {{"--caption-title"}, 0x40800},  // the dialog is titled "Setup"
      {{"--auto"}, 0xA00},
      {{"--prompt", "Go?", "--prompt-buttons", "ok"}, 0x800},
      {{"--prompt", "Go?", "--prompt-buttons", "yesno"}, 0x80800},
      {{"--prompt", "Go?", "--prompt-buttons", "okcancel"}, 0x180800},
      {{"--crc-from-start"}, 0x0},
      {{"--no-stub-crc"}, 0x800},
      {{"--overwrite", "--auto", "--crc-from-start", "--caption", "K"}, 0x70000212},
      {{"--run", "setup.exe"}, 0x70000800},  // a setup shows no archiver buttons unless asked
      {{"--temp", "--run", "setup.exe"}, 0x70200800},
  };
  for (const Case& c : cases) {
    Built built = BuildWith(c.options);
    ASSERT_EQ(built.result.status, 0) << built.result.err;
    EXPECT_EQ(built.Field(kFlagsAt), c.flags) << ::testing::PrintToString(c.options);
  }
}

// The stub CRC, computed here over the first ArchiveOffset bytes with the
// CRC field zeroed: from just after the image header by default (248 bytes
// after e_lfanew in PE32, 264 in PE32+), from the file's first byte with
// --crc-from-start, and 0 (check off) with --no-stub-crc. The image checksum
// is that of the finished file when the CRC leaves the header out, and 0
// when the CRC covers it.
TEST(StubCrc, CoversTheStubPartAsTheStubChecksIt) {
  struct Case {
    std::vector<std::string> options;
    bool checked, fromStart, checkSum;
    uint32_t imageHeaderSize = 248;
  } cases[] = {
      {{}, true, false, true},
      {{"--crc-from-start"}, true, true, false},
      {{"--no-stub-crc"}, false, false, true},
      {{"--arch", "x64"}, true, false, true, 264},
      {{"--arch", "x64", "--crc-from-start"}, true, true, false, 264},
      {{"--arch", "x64", "--no-stub-crc"}, false, false, true, 264},
  };
  for (const Case& c : cases) {
    Built built = BuildWith(c.options);
    ASSERT_EQ(built.result.status, 0) << built.result.err;
    PeView pe = ReadPeView(built.image);
    std::vector<uint8_t> copy(built.image.begin(), built.image.begin() + built.Field(kArchiveAt));
    memset(&copy[built.record + kStubCrcAt], 0, 4);
    size_t start = c.fromStart ? 0 : pe.lfanew + c.imageHeaderSize;
    uint32_t expected = static_cast<uint32_t>(crc32(0, copy.data() + start, static_cast<uInt>(copy.size() - start)));
    EXPECT_EQ(built.Field(kStubCrcAt), c.checked ? expected : 0u) << ::testing::PrintToString(c.options);
    uint32_t checkSumAt = pe.optionalAt + 64;
    EXPECT_EQ(pe.checkSum, c.checkSum ? ReferencePeChecksum(built.image, checkSumAt) : 0u)
        << ::testing::PrintToString(c.options);
    CommandResult selfTest = RunSfx({"test", built.folder + "/out.exe"});
    EXPECT_EQ(selfTest.status, 0) << selfTest.out << selfTest.err;
  }
}

// Limits in bytes after conversion to the code page; the message names the
// option. The five texts together must fit the 1,256-byte block.
TEST(ConfigBlockTexts, LimitsAreEnforcedAfterConversion) {
  const std::string kanji = "\xE6\x97\xA5";  // 3 bytes in UTF-8, 2 in code page 932
  struct Case {
    std::vector<std::string> options;
    const char* refusal;  // nullptr: accepted
  } cases[] = {
      {{"--folder", std::string(260, 'f')}, nullptr},
      {{"--folder", std::string(261, 'f')}, "--folder"},
      {{"--prompt", std::string(513, 'p')}, nullptr},
      {{"--prompt", std::string(514, 'p')}, "--prompt"},
      {{"--caption", std::string(64, 'c')}, nullptr},
      {{"--caption", std::string(65, 'c')}, "--caption"},
      {{"--info", std::string(511, 'i')}, nullptr},
      {{"--info", std::string(512, 'i')}, "--info"},
      {{"--codepage", "932", "--caption", [&] { std::string t; for (int i = 0; i < 32; i++) t += kanji; return t; }()}, nullptr},
      {{"--codepage", "932", "--caption", [&] { std::string t; for (int i = 0; i < 33; i++) t += kanji; return t; }()}, "--caption"},
      {{"--caption", "\xE6\x97\xA5"}, "1252"},  // not in the code page
      {{"--folder", std::string(260, 'f'), "--prompt", std::string(513, 'p'), "--caption", std::string(64, 'c'),
        "--info", std::string(394, 'i')}, "1256"},  // with the 21-byte credit text and 5 terminators: 1,257
      {{"--folder", std::string(260, 'f'), "--prompt", std::string(513, 'p'), "--caption", std::string(64, 'c'),
        "--info", std::string(393, 'i')}, nullptr},  // exactly 1,256
      {{"--prompt", "PK\x03\x04"}, "signature"},  // a ZIP signature may not stand before the archive
      {{"--run", std::string(511, 'r')}, nullptr},
      {{"--run", std::string(512, 'r')}, "--run"},
      // Each {folder} may become 260 bytes in the stub's 1,023-byte command line.
      {{"--run", "x" + std::string(" {folder}") + " {folder} {folder}"}, nullptr},
      {{"--run", "x {folder} {folder} {folder} {folder}"}, "1023"},
  };
  for (const Case& c : cases) {
    Built built = BuildWith(c.options);
    if (!c.refusal) {
      EXPECT_EQ(built.result.status, 0) << built.result.err;
      continue;
    }
    EXPECT_EQ(built.result.status, kExitFailure) << c.refusal;
    EXPECT_EQ(LineCount(built.result.err), 1) << built.result.err;
    EXPECT_NE(built.result.err.find(c.refusal), std::string::npos) << built.result.err;
  }
}

// The default information text lists the options given (not the output,
// stub or password), each value with it.
TEST(ConfigBlockTexts, DefaultInfoListsTheOptionsGiven) {
  Built built = BuildWith({"--folder", "C:\\My Files", "--overwrite", "--level", "5", "--prompt-buttons", "yesno"});
  ASSERT_EQ(built.result.status, 0) << built.result.err;
  uint32_t archiveAt = built.Field(kArchiveAt);
  std::string block(built.image.begin() + built.Field(kConfigBlockAt), built.image.begin() + archiveAt - 1);
  std::string info = block.substr(block.rfind('\0') + 1);
  EXPECT_NE(info.find("--folder \"C:\\My Files\" --overwrite --level 5 --prompt-buttons yesno"), std::string::npos) << info;
  EXPECT_EQ(info.find("out.exe"), std::string::npos) << info;
}

// Stubs the builder must refuse, each made from the real stub of `arch`: an
// i386 PE32 or x86-64 PE32+ GUI image, the payload has to be the last section
// with nothing after it, the record must be there and no complete ZIP
// signature may stand in the stub. The unchanged stub given with --stub
// gives the same file as the built-in one.
void ExpectUnusableStubsRefused(const std::string& arch) {
  const std::vector<uint8_t> stub = BuiltStub(arch);
  const uint32_t optionalSize = arch == "x64" ? 240 : 224;
  const PeView pe = ReadPeView(stub);
  const SectionHeader& firstSection = pe.sections.front();
  auto withBytes = [&](size_t at, std::vector<uint8_t> bytes) {
    std::vector<uint8_t> changed = stub;
    std::copy(bytes.begin(), bytes.end(), changed.begin() + at);
    return changed;
  };
  auto signatureInCode = [&](uint8_t third, uint8_t fourth) {
    return withBytes(firstSection.rawAt + 16, {'P', 'K', third, fourth});
  };
  // The image header moved down until the section table fills SizeOfHeaders
  // but for less than one more 40-byte header.
  auto noRoomForASection = [&] {
    std::vector<uint8_t> changed = stub;
    uint32_t headerBytes = 24 + optionalSize + 40 * static_cast<uint32_t>(pe.sections.size());
    uint32_t newLfanew = (std::min(pe.sizeOfHeaders, firstSection.rawAt) - headerBytes - 8) & ~7u;
    std::vector<uint8_t> header(stub.begin() + pe.lfanew, stub.begin() + pe.lfanew + headerBytes);
    std::fill(changed.begin() + 64, changed.begin() + pe.sizeOfHeaders, 0);
    std::copy(header.begin(), header.end(), changed.begin() + newLfanew);
    for (int i = 0; i < 4; i++) changed[60 + i] = static_cast<uint8_t>(newLfanew >> (8 * i));
    return changed;
  };
  long record = FindRecord(stub);
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"overlay after the last section", [&] { auto b = stub; b.push_back(0); return b; }()},
      {"local header signature", signatureInCode(3, 4)},
      {"central header signature", signatureInCode(1, 2)},
      {"end record signature", signatureInCode(5, 6)},
      {"digital signature", signatureInCode(5, 5)},
      {"spanning marker", signatureInCode('0', '0')},
      {"spanning signature", signatureInCode(7, 8)},
      {"no record", withBytes(record, {'X'})},
      {"an ARM64 image", withBytes(pe.lfanew + 4, {0x64, 0xAA})},
      {"the other architecture's machine", withBytes(pe.lfanew + 4, {arch == "x64" ? uint8_t{0x4C} : uint8_t{0x64},
                                                                     arch == "x64" ? uint8_t{0x01} : uint8_t{0x86}})},
      {"the other optional header's magic", withBytes(pe.optionalAt, {0x0B, arch == "x64" ? uint8_t{0x01} : uint8_t{0x02}})},
      {"a console program", withBytes(pe.optionalAt + 68, {3, 0})},
      {"not a PE", std::vector<uint8_t>(stub.begin(), stub.begin() + 100)},
      {"not an executable", {'h', 'e', 'l', 'l', 'o'}},
      {"cut inside its last section", std::vector<uint8_t>(stub.begin(), stub.end() - 100)},
      {"no room for a section header", noRoomForASection()},
  };
  std::string folder = MakeTempFolder();
  MakeSourceTree(folder + "/src");
  for (const Case& c : cases) {
    WriteFile(folder + "/stub.exe", c.bytes);
    CommandResult r = RunSfx({"build", "-o", folder + "/out.exe", "--stub", folder + "/stub.exe", "-C", folder + "/src", "."});
    EXPECT_EQ(r.status, kExitFailure) << c.what;
    EXPECT_EQ(LineCount(r.err), 1) << c.what << ": " << r.err;
    EXPECT_NE(r.err.find("stub"), std::string::npos) << c.what << ": " << r.err;
  }
  WriteFile(folder + "/stub.exe", stub);
  ASSERT_EQ(RunSfx({"build", "-o", folder + "/given.exe", "--stub", folder + "/stub.exe", "--info", "i", "-C",
                    folder + "/src", "."}).status, 0);
  ASSERT_EQ(RunSfx({"build", "-o", folder + "/builtin.exe", "--arch", arch, "--info", "i", "-C", folder + "/src", "."})
                .status, 0);
  EXPECT_TRUE(ReadFile(folder + "/given.exe") == ReadFile(folder + "/builtin.exe"));
}

TEST(StubChecks, UnusableStubsAreRefused) {
  for (const char* arch : kStubArches) {
    SCOPED_TRACE(arch);
    ExpectUnusableStubsRefused(arch);
  }
}

// The summary: architecture, the options that differ from the defaults,
// the texts and the archive; the record's fields, reserved ones included,
// only in the JSON, which a script reads.
TEST(InfoCommand, SummarisesAndPrintsEverythingAsJson) {
  Built built = BuildWith({"--folder", "C:\\Dest", "--caption", "Kit", "--caption-title", "--prompt", "Go?",
                           "--prompt-buttons", "okcancel", "--overwrite", "--auto"});
  ASSERT_EQ(built.result.status, 0) << built.result.err;
  CommandResult info = RunSfx({"info", built.folder + "/out.exe"});
  ASSERT_EQ(info.status, 0) << info.err;
  for (const char* expected :
       {"Stub                x86 (PE32, i386)\n",
        "Options             --overwrite --auto --caption-title --prompt-buttons okcancel --buttons none\n",
        "Folder              \"C:\\\\Dest\"\n", "StartupPrompt       \"Go?\"\n", "Caption             \"Kit\"\n",
        "Archive             4 entries (3 files, 1 folders)", "sub/b.txt", "deflated", "stored", "a.txt"})
    EXPECT_NE(info.out.find(expected), std::string::npos) << expected << "\n" << info.out;
  EXPECT_EQ(info.out.find("Reserved32a"), std::string::npos) << info.out;

  CommandResult json = RunShell(ShellQuote(DRAVIK_SFX_PROGRAM) + " info --json " + ShellQuote(built.folder + "/out.exe") +
                                " | python3 -c 'import json, sys; d = json.load(sys.stdin); r = d[\"record\"]; "
                                "print(r[\"ArchiveOffset\"], r[\"Reserved32a\"], r[\"Finalised\"], \" \".join(d[\"flags\"]), "
                                "d[\"texts\"][\"Caption\"])'");
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out, std::to_string(built.Field(kArchiveAt)) +
                          " 0 65535 OverwriteDefault UseCaption AutoUnzip CrcAfterHeaders CaptionAsTitle PromptAsks "
                          "PromptOkCancel HideRunArchiver HideAbout HideHelp Kit\n");

  Built x64 = BuildWith({"--arch", "x64"});
  ASSERT_EQ(x64.result.status, 0) << x64.result.err;
  info = RunSfx({"info", x64.folder + "/out.exe"});
  EXPECT_NE(info.out.find("Stub                x64 (PE32+, x86-64)\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Options             (the defaults)\n"), std::string::npos) << info.out;
}

// The entries of info --json are those Python's zipfile lists, with the same
// sizes and CRCs; the summary shortens a long archive, --entries does not.
TEST(InfoCommand, JsonEntriesAreThoseZipfileLists) {
  std::string folder = MakeTempFolder();
  ASSERT_EQ(mkdir((folder + "/src").c_str(), 0755), 0);
  for (int i = 0; i < 14; i++) WriteFile(folder + "/src/file" + std::to_string(100 + i) + ".txt", std::vector<uint8_t>(i * 100, 'x'));
  ASSERT_EQ(RunSfx({"build", "-o", folder + "/out.exe", "-C", folder + "/src", "."}).status, 0);
  std::string file = ShellQuote(folder + "/out.exe");
  const char* listing =
      "import json, subprocess, sys, zipfile\n"
      "ours = json.loads(subprocess.run([sys.argv[1], 'info', '--json', sys.argv[2]], capture_output=True).stdout)\n"
      "theirs = [(i.filename, i.file_size, i.compress_size, i.CRC) for i in zipfile.ZipFile(sys.argv[2]).infolist()]\n"
      "mine = [(e['name'], e['size'], e['packed'], e['crc32']) for e in ours['entries']]\n"
      "sys.exit(0 if mine == theirs and len(mine) == 14 else 'ours %r\\ntheirs %r' % (mine, theirs))\n";
  CommandResult compared = RunShell("python3 -c " + ShellQuote(listing) + " " + ShellQuote(DRAVIK_SFX_PROGRAM) + " " + file);
  EXPECT_EQ(compared.status, 0) << compared.err;
  CommandResult summary = RunSfx({"info", folder + "/out.exe"});
  EXPECT_NE(summary.out.find("... 4 more"), std::string::npos) << summary.out;
  EXPECT_EQ(summary.out.find("file107.txt"), std::string::npos) << summary.out;
  CommandResult every = RunSfx({"info", "--entries", folder + "/out.exe"});
  EXPECT_NE(every.out.find("file107.txt"), std::string::npos) << every.out;
}

// The run command is the sixth ConfigBlock text, written only when given,
// so a file without one keeps the five texts it always had; info shows it.
TEST(ConfigBlockTexts, RunCommandIsASixthTextOnlyWhenGiven) {
  auto texts = [](const Built& built) {
    std::vector<std::string> found;
    std::string block(built.image.begin() + built.Field(kConfigBlockAt), built.image.begin() + built.Field(kArchiveAt));
    for (size_t at = 0; at < block.size(); at = block.find('\0', at) + 1) found.push_back(block.c_str() + at);
    return found;
  };
  Built plain = BuildWith({"--info", "i"});
  ASSERT_EQ(plain.result.status, 0) << plain.result.err;
  EXPECT_EQ(texts(plain).size(), 5u);
  const std::string command = "msiexec /i \"{folder}\\foo.msi\" /qn";
  Built setup = BuildWith({"--info", "i", "--temp", "--run", command});
  ASSERT_EQ(setup.result.status, 0) << setup.result.err;
  ASSERT_EQ(texts(setup).size(), 6u);
  EXPECT_EQ(texts(setup)[5], command);
  CommandResult info = RunSfx({"info", setup.folder + "/out.exe"});
  EXPECT_NE(info.out.find("RunCommand          \"msiexec /i \\\"{folder}\\\\foo.msi\\\" /qn\"\n"), std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("Options             --buttons none --temp\n"), std::string::npos) << info.out;
  EXPECT_NE(RunSfx({"info", "--json", setup.folder + "/out.exe"}).out.find("\"ExtractToTemp\""), std::string::npos);
  EXPECT_EQ(RunSfx({"info", plain.folder + "/out.exe"}).out.find("RunCommand"), std::string::npos);
}

// Options a setup cannot be built with: wrong usage, named on one line.
TEST(ConfigBlockTexts, SetupOptionsThatContradictAreRefused) {
  const std::vector<std::string> cases[] = {
      {"--temp"},                                        // nothing to run, and the folder would just go
      {"--temp", "--run", "x.exe", "--folder", "C:\\x"},  // a temporary setup has no folder to choose
      {"--run", "  "},
  };
  for (const auto& options : cases) {
    Built built = BuildWith(options);
    EXPECT_EQ(built.result.status, 64) << ::testing::PrintToString(options);
    EXPECT_NE(built.result.err.find("--"), std::string::npos) << built.result.err;
  }
}

TEST(InfoCommand, RefusesAFileWithoutARecord) {
  std::string folder = MakeTempFolder();
  std::string zip = RequireTool("zip");
  WriteFile(folder + "/a.txt", {'a'});
  ASSERT_EQ(RunShell("cd " + ShellQuote(folder) + " && " + zip + " -q plain.zip a.txt").status, 0);
  for (const char* file : {"/plain.zip", "/missing.exe"}) {
    CommandResult r = RunSfx({"info", folder + file});
    EXPECT_EQ(r.status, kExitFailure) << file;
    EXPECT_EQ(LineCount(r.err), 1) << r.err;
  }
}

// ---- two views of one file ----------------------------------------------------

// `zip` (a whole archive whose offsets count from its own start) appended
// to `image`, its offsets moved to count from the start of the file, as a
// publisher's ZIP tool would leave them. The end record's position in the
// file is returned.
size_t AppendArchive(std::vector<uint8_t>& image, std::vector<uint8_t> zip) {
  size_t base = image.size(), end = zip.size() - 22;  // no comment
  uint32_t directoryAt = Le32(zip, end + 16);
  for (size_t at = directoryAt; at < end; at += 46 + Le16(zip, at + 28) + Le16(zip, at + 30) + Le16(zip, at + 32))
    PutU32(zip, at + 42, Le32(zip, at + 42) + static_cast<uint32_t>(base));
  PutU32(zip, end + 16, directoryAt + static_cast<uint32_t>(base));
  image.insert(image.end(), zip.begin(), zip.end());
  return base + end;
}

// The stub reads the record compiled into its image and walks the local
// records from its ArchiveOffset; unzip -l reads the central directory at
// the file's end. A file made so that the two differ (payload.txt for the
// stub, harmless.txt for the others) must be damaged to info and test, and
// never show harmless.txt as the archive. The forgeries:
//   appended:  a second archive appended after the built one; the record is
//              untouched and the stub still extracts the first.
//   forged:    the same, and a copy of the record in the DOS header area
//              (which no loader reads; it is the first marker in the file)
//              pointing at the appended archive, the real record's stub CRC
//              switched off so that the stub accepts the file.
TEST(TwoViews, ArchiveTheStubWalksMustBeTheOneTheDirectoryLists) {
  std::string folder = MakeTempFolder();
  std::string unzip = RequireTool("unzip");
  WriteFile(folder + "/payload.txt", {'p', 'a', 'y', '\n'});
  WriteFile(folder + "/harmless.txt", {'o', 'k', '\n'});
  ASSERT_EQ(RunSfx({"build", "-o", folder + "/built.exe", "-C", folder, "payload.txt"}).status, 0);
  ASSERT_EQ(RunShell("cd " + ShellQuote(folder) + " && " + RequireTool("zip") + " -q -X h.zip harmless.txt").status, 0);
  const std::vector<uint8_t> built = ReadFile(folder + "/built.exe"), harmless = ReadFile(folder + "/h.zip");
  const long record = FindRecord(built);
  constexpr size_t kDosAreaRecord = 64;  // right after the DOS header, before the image header
  ASSERT_GE(Le32(built, 60), kDosAreaRecord + 60) << "no room for a record before the image header";

  struct Forgery {
    const char* name;
    bool appended, forgedRecord;
  } const forgeries[] = {{"untouched", false, false}, {"appended", true, false}, {"forged", true, true}};
  for (const Forgery& f : forgeries) {
    SCOPED_TRACE(f.name);
    std::vector<uint8_t> image = built;
    if (f.appended) {
      uint32_t appendedAt = static_cast<uint32_t>(image.size());
      size_t endRecord = AppendArchive(image, harmless);
      if (f.forgedRecord) {
        PutU32(image, record + kStubCrcAt, 0);
        std::copy(image.begin() + record, image.begin() + record + 60, image.begin() + kDosAreaRecord);
        PutU32(image, kDosAreaRecord + kArchiveAt, appendedAt);
        PutU32(image, kDosAreaRecord + kEndRecordAt, static_cast<uint32_t>(endRecord));
      }
    }
    std::string exe = folder + "/" + f.name + ".exe";
    WriteFile(exe, image);
    CommandResult listed = RunShell(unzip + " -l " + ShellQuote(exe));
    EXPECT_NE(listed.out.find(f.appended ? "harmless.txt" : "payload.txt"), std::string::npos) << listed.out;

    CommandResult tested = RunSfx({"test", exe});
    CommandResult info = RunSfx({"info", exe});
    std::string extracted = folder + "/out-" + f.name;
    CommandResult extract = RunSfx({"extract", exe, "-d", extracted});
    if (!f.appended) {
      EXPECT_EQ(tested.status, 0) << tested.err;
      EXPECT_EQ(info.status, 0) << info.err;
    } else {
      EXPECT_EQ(tested.status, kExitFailure) << tested.out;
      EXPECT_EQ(LineCount(tested.err), 1) << tested.err;
      EXPECT_EQ(tested.err.rfind("Zip file is damaged", 0), 0u) << tested.err;
      EXPECT_NE(tested.err.find("\"harmless.txt\""), std::string::npos) << tested.err;
      EXPECT_EQ(info.status, kExitFailure) << info.out;
      EXPECT_EQ(LineCount(info.err), 1) << info.err;
      EXPECT_NE(info.err.find("damaged"), std::string::npos) << info.err;
      // info shows the record the stub reads, not the forged one
      CommandResult json = RunSfx({"info", "--json", exe});
      std::string archiveField = "\"ArchiveOffset\": " + std::to_string(Le32(built, record + kArchiveAt)) + ",";
      EXPECT_NE(json.out.find(archiveField), std::string::npos) << json.out;
    }
    // extract is the stub's engine: it gets what the stub gets, whatever unzip lists.
    EXPECT_EQ(extract.status, 0) << extract.err;
    EXPECT_EQ(access((extracted + "/payload.txt").c_str(), F_OK), 0);
    EXPECT_NE(access((extracted + "/harmless.txt").c_str(), F_OK), 0);
  }
}

}  // namespace
