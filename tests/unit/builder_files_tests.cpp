// dravik-sfx build from files and folders: what ZIP readers make of the
// result, how names, times and methods are stored, code pages, determinism,
// and the command line's usage and failure statuses.
//
// Controls: Info-ZIP unzip, 7-Zip, Python's zipfile, file(1), and a forward
// walker of our own written in Python (sfx_zip_walk.py).
#include "builder/deflate_pool.h"
#include "builder_fixture.h"
#include "stub_fixture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <ctime>

namespace {

constexpr int kExitFailure = 2;
constexpr int kExitUsage = 64;

class BuildFromFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    work = MakeTempFolder();
    source = work + "/src";
    MakeSourceTree(source);
    output = work + "/out.exe";
  }
  CommandResult Build(std::vector<std::string> args) {
    args.insert(args.begin(), {"build", "-o", output});
    return RunSfx(args);
  }
  // Python's view of the archive: one "name|method|date_time" line per entry.
  std::string Listing(const std::string& file) {
    CommandResult r = RunShell("python3 -c " + ShellQuote(
        "import sys, zipfile\n"
        "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
        "    print(i.filename, i.compress_type, '%04d-%02d-%02d %02d:%02d:%02d' % i.date_time, sep='|')\n") +
        " " + ShellQuote(file));
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }
  std::string work, source, output;
};

// Every ZIP reader we know accepts the self-extractor as it is, without a
// warning: unzip, 7z (as a PE and forced to read it as a ZIP), zipfile and
// our forward walker; file(1) sees a GUI program of the stub's architecture;
// and the stub's own checks and engine (dravik-sfx test) pass. Both stubs.
TEST_F(BuildFromFiles, ExternalReadersAcceptItWithoutWarnings) {
  std::string unzip = RequireTool("unzip"), sevenZip = RequireTool("7z"), file = RequireTool("file");
  RequireTool("python3");
  const std::pair<const char*, const char*> arches[] = {{"x86", "PE32 executable (GUI) Intel 80386"},
                                                        {"x64", "PE32+ executable (GUI) x86-64"}};
  for (const auto& [arch, kind] : arches) {
    SCOPED_TRACE(arch);
    ASSERT_EQ(Build({"--arch", arch, "-C", source, "."}).status, 0);
    CommandResult tested = RunShell(unzip + " -t " + ShellQuote(output));
    EXPECT_EQ(tested.status, 0) << tested.out << tested.err;
    EXPECT_EQ(tested.out.find("warning"), std::string::npos) << tested.out;
    EXPECT_EQ(tested.err, "");
    for (const char* type : {"", "-tzip "}) {
      CommandResult seven = RunShell(sevenZip + " t " + type + ShellQuote(output));
      EXPECT_EQ(seven.status, 0) << seven.out << seven.err;
      EXPECT_EQ(seven.out.find("WARNING"), std::string::npos) << type << seven.out;
      EXPECT_EQ(seven.out.find("Tail Size"), std::string::npos) << type << seven.out;
    }
    CommandResult walked = RunShell("python3 " + ShellQuote(DRAVIK_ZIP_WALK) + " " + ShellQuote(output));
    EXPECT_EQ(walked.status, 0) << walked.out;
    CommandResult zipfile = RunShell("python3 -c 'import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip())' " +
                                     ShellQuote(output));
    EXPECT_EQ(zipfile.status, 0) << zipfile.out << zipfile.err;
    CommandResult described = RunShell(file + " -b " + ShellQuote(output));
    EXPECT_NE(described.out.find(kind), std::string::npos) << described.out;
    CommandResult selfTest = RunSfx({"test", output});
    EXPECT_EQ(selfTest.status, 0) << selfTest.out << selfTest.err;
  }
}

TEST_F(BuildFromFiles, EntriesExtractToTheSameBytes) {
  std::string unzip = RequireTool("unzip");
  ASSERT_EQ(Build({"-C", source, "."}).status, 0);
  std::string unpacked = work + "/unpacked";
  ASSERT_EQ(RunShell(unzip + " -q " + ShellQuote(output) + " -d " + ShellQuote(unpacked)).status, 0);
  CommandResult compared = RunShell("diff -r " + ShellQuote(source) + " " + ShellQuote(unpacked));
  EXPECT_EQ(compared.status, 0) << compared.out;
}

// Each PATH is stored under its own name, as zip -r and tar store it; a
// folder entry "name/" comes before its contents, which are in name order.
TEST_F(BuildFromFiles, PathsAreStoredUnderTheirOwnNames) {
  struct Case {
    std::vector<std::string> paths;  // run from the folder that holds src/
    std::string names;
  } cases[] = {
      {{"-C", "src", "."}, "a.txt empty/ empty.dat sub/ sub/b.txt sub/c.bin"},
      {{"src/sub"}, "src/sub/ src/sub/b.txt src/sub/c.bin"},
      {{"./src/sub/"}, "src/sub/ src/sub/b.txt src/sub/c.bin"},
      {{"-C", "src", "sub/c.bin", "a.txt"}, "sub/c.bin a.txt"},
      {{"-C", "src", "empty"}, "empty/"},
      {{"-C", "src", "sub", "sub/b.txt"}, "sub/ sub/b.txt sub/c.bin"},  // a path given twice is stored once
      {{"src/a.txt"}, "src/a.txt"},
  };
  for (const Case& c : cases) {
    std::string line = "cd " + ShellQuote(work) + " && " + ShellQuote(DRAVIK_SFX_PROGRAM) + " build -o out.exe";
    for (const std::string& path : c.paths) line += " " + ShellQuote(path);
    CommandResult built = RunShell(line);
    ASSERT_EQ(built.status, 0) << line << built.err;
    std::string listing = Listing(output), names;
    for (size_t at = 0; at < listing.size(); at = listing.find('\n', at) + 1)
      names += (names.empty() ? "" : " ") + listing.substr(at, listing.find('|', at) - at);
    EXPECT_EQ(names, c.names) << line;
  }
}

// Deflate when it shrinks the data; store at level 0, for empty files,
// folders and data that deflate would only make longer.
TEST_F(BuildFromFiles, DeflatesOnlyWhenItShrinksAndLevelZeroStores) {
  ASSERT_EQ(Build({"-C", source, "."}).status, 0);
  std::string listing = Listing(output);
  for (const char* line : {"a.txt|0|", "empty.dat|0|", "sub/|0|", "sub/b.txt|8|", "sub/c.bin|0|"})
    EXPECT_NE(listing.find(line), std::string::npos) << line << "\n" << listing;
  ASSERT_EQ(Build({"--level", "0", "-C", source, "."}).status, 0);
  EXPECT_NE(Listing(output).find("sub/b.txt|0|"), std::string::npos);
}

// Times are the files' modification times in local time, which is how the
// self-extractor gives them back on Windows.
TEST_F(BuildFromFiles, DosTimesAreLocalTimes) {
  struct Case {
    const char* zone;
    const char* expected;  // kTreeTime (2021-06-15 12:34:56 UTC) there
  } cases[] = {{"UTC0", "2021-06-15 12:34:56"},
               {"JST-9", "2021-06-15 21:34:56"},
               {"EST5EDT,M3.2.0,M11.1.0", "2021-06-15 08:34:56"}};
  for (const Case& c : cases) {
    CommandResult built = RunSfx({"build", "-o", output, "-C", source, "a.txt"}, std::string("TZ=") + ShellQuote(c.zone));
    ASSERT_EQ(built.status, 0) << built.err;
    EXPECT_EQ(Listing(output), std::string("a.txt|0|") + c.expected + "\n") << c.zone;
  }
}

TEST_F(BuildFromFiles, TimesOutsideTheDosRangeAreClampedToIt) {
  SetModificationTime(source + "/a.txt", 0);              // 1970: before 1980
  SetModificationTime(source + "/empty.dat", 5000000000);  // 2128: after 2107
  CommandResult built = RunSfx({"build", "-o", output, "-C", source, "a.txt", "empty.dat"}, "TZ=UTC0");
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_EQ(Listing(output), "a.txt|0|1980-01-01 00:00:00\nempty.dat|0|2107-12-31 23:59:58\n");
}

TEST_F(BuildFromFiles, SameInputAndOptionsGiveTheSameBytes) {
  for (const char* arch : {"x86", "x64"}) {
    std::vector<std::string> options = {"--arch", arch, "--folder", "C:\\Out", "--prompt", "Go?", "--level", "6",
                                        "-C", source, "."};
    ASSERT_EQ(Build(options).status, 0);
    std::vector<uint8_t> first = ReadFile(output);
    sleep(1);  // a build time, if one crept in, would now differ
    std::string second = work + "/again.exe";
    options.insert(options.begin(), {"build", "-o", second});
    ASSERT_EQ(RunSfx(options).status, 0);
    EXPECT_TRUE(first == ReadFile(second)) << arch;
  }
}

// The entries are deflated on several threads but written in order, each
// on its own: one thread, two or three give the same bytes, on a tree of
// many files of mixed sizes and kinds (some stored, some deflated, some over
// a megabyte), which zipfile and our own test read back whole.
TEST_F(BuildFromFiles, ThreadCountsGiveTheSameBytes) {
  std::string mixed = work + "/mixed";
  CommandResult made = RunShell("python3 -c " + ShellQuote(
      "import os, random, sys\n"
      "r = random.Random(5)\n"
      "for i in range(48):\n"
      "    folder = os.path.join(sys.argv[1], 'd%d' % (i % 3))\n"
      "    os.makedirs(folder, exist_ok=True)\n"
      "    size = r.choice([0, 1, 100, 4000, 65536, 300000, 1500000])\n"
      "    data = r.randbytes(size) if i % 2 else bytes(r.randrange(4) for _ in range(size))\n"
      "    open(os.path.join(folder, 'f%02d' % i), 'wb').write(data)\n") + " " + ShellQuote(mixed));
  ASSERT_EQ(made.status, 0) << made.err;
  std::vector<uint8_t> first;
  for (const char* threads : {"1", "2", "3"}) {
    ASSERT_EQ(Build({"-j", threads, "--level", "6", "-C", mixed, "."}).status, 0) << threads;
    if (first.empty()) first = ReadFile(output);
    else EXPECT_TRUE(first == ReadFile(output)) << "-j " << threads;
  }
  CommandResult tested = RunShell("python3 -c " + ShellQuote(
      "import sys, zipfile\nz = zipfile.ZipFile(sys.argv[1])\nprint(z.testzip(), len(z.infolist()))\n") + " " +
      ShellQuote(output));
  EXPECT_EQ(tested.out, "None 51\n") << tested.err;
  EXPECT_EQ(RunSfx({"test", output}).status, 0);
}

// With --ansi-names, names go from UTF-8 to the Windows code page; one it
// cannot hold is refused, naming the file.
TEST_F(BuildFromFiles, NamesAreConvertedToTheCodePage) {
  struct Case {
    const char* name;         // UTF-8 on disk
    const char* codePage;
    const char* storedBytes;  // in the archive, or nullptr: refused
  } cases[] = {
      {"caf\xC3\xA9.txt", "1252", "caf\xE9.txt"},
      {"\xE2\x82\xAC.txt", "1252", "\x80.txt"},                         // the euro sign
      {"\xE6\x97\xA5\xE6\x9C\xAC.txt", "932", "\x93\xFA\x96\x7B.txt"},  // 日本
      {"\xE8\xA1\xA8.txt", "932", "\x95\x5C.txt"},                      // 表: trail byte 0x5C
      {"\xE6\x97\xA5\xE6\x9C\xAC.txt", "1252", nullptr},
      {"\xCE\xB1.txt", "932", "\x83\xBF.txt"},                           // Greek alpha exists in 932
      {"\xC3\xA9.txt", "932", nullptr},                                 // é does not
  };
  for (const Case& c : cases) {
    std::string folder = MakeTempFolder();
    WriteFile(folder + "/" + c.name, {'x'});
    CommandResult built = RunSfx({"build", "-o", output, "--ansi-names", "--codepage", c.codePage, "-C", folder, c.name});
    if (!c.storedBytes) {
      EXPECT_EQ(built.status, kExitFailure) << c.name;
      EXPECT_EQ(LineCount(built.err), 1) << built.err;
      EXPECT_NE(built.err.find(c.name), std::string::npos) << built.err;
      EXPECT_NE(built.err.find(c.codePage), std::string::npos) << built.err;
      continue;
    }
    ASSERT_EQ(built.status, 0) << c.name << built.err;
    std::vector<uint8_t> image = ReadFile(output);
    long recordAt = FindRecord(image);
    uint32_t archiveAt = Le32(image, recordAt + 12);
    std::string stored(image.begin() + archiveAt + 30, image.begin() + archiveAt + 30 + Le16(image, archiveAt + 26));
    EXPECT_EQ(stored, c.storedBytes) << c.name;
  }
}

// 200 bytes is the longest name the self-extractor takes; the limit counts
// the stored name with its folders.
TEST_F(BuildFromFiles, NamesOver200BytesAreRefused) {
  std::string folder = MakeTempFolder();
  mkdir((folder + "/d").c_str(), 0755);
  WriteFile(folder + "/d/" + std::string(198, 'n'), {'x'});  // "d/" + 198: 200 bytes
  EXPECT_EQ(RunSfx({"build", "-o", output, "-C", folder, "d"}).status, 0);
  WriteFile(folder + "/d/" + std::string(199, 'n'), {'x'});  // 201 bytes
  CommandResult refused = RunSfx({"build", "-o", output, "-C", folder, "d"});
  EXPECT_EQ(refused.status, kExitFailure);
  EXPECT_EQ(LineCount(refused.err), 1) << refused.err;
  EXPECT_NE(refused.err.find("200 bytes"), std::string::npos) << refused.err;
}

TEST(BuildCommandLine, WrongUsageExits64) {
  std::string folder = MakeTempFolder();
  MakeSourceTree(folder + "/src");
  std::string out = folder + "/o.exe", src = folder + "/src";
  const std::vector<std::string> cases[] = {
      {},
      {"frobnicate"},
      {"build"},
      {"build", src},                                    // no -o
      {"build", "-o", out},                              // nothing to archive
      {"build", "-o", out, "--zip", "x.zip", src},       // both
      {"build", "-o", out, "--bogus", src},
      {"build", "-o", out, "--level", "13", src},
      {"build", "-o", out, "--level", "x", src},
      {"build", "-o", out, "--codepage", "437", src},
      {"build", "-o", out, "--codepage", "1252x", src},
      {"build", "-o", out, "--prompt-buttons", "maybe", src},
      {"build", "-o", out, "--arch", "arm64", src},
      {"build", "-o", out, "--arch", "X64", src},
      {"build", "-o", out, src, "--folder"},             // an option without its value
      {"info"},
      {"info", "a.exe", "b.exe"},
  };
  for (const auto& args : cases) {
    CommandResult r = RunSfx(args);
    std::string shown;
    for (const std::string& a : args) shown += a + " ";
    EXPECT_EQ(r.status, kExitUsage) << shown;
    EXPECT_NE(r.err, "") << shown;
    if (args.size() > 1 && args[0] == "build") EXPECT_EQ(LineCount(r.err), 1) << shown << r.err;
    EXPECT_FALSE(access(out.c_str(), F_OK) == 0) << shown;
  }
}

TEST(BuildCommandLine, HelpOnEveryCommand) {
  for (std::vector<std::string> args : {std::vector<std::string>{"--help"}, {"build", "--help"}, {"info", "--help"},
                                        {"test", "--help"}, {"extract", "--help"}}) {
    CommandResult r = RunSfx(args);
    EXPECT_EQ(r.status, 0) << args[0];
    EXPECT_NE(r.out.find("usage"), std::string::npos) << args[0];
  }
  CommandResult build = RunSfx({"build", "--help"});
  for (const char* option : {"-C DIR", "--folder", "--prompt", "--prompt-buttons", "--caption", "--caption-title",
                             "--info", "--overwrite", "--auto", "--level", "--codepage", "--no-stub-crc",
                             "--crc-from-start", "--zip", "--stub", "--arch x86|x64"})
    EXPECT_NE(build.out.find(option), std::string::npos) << option;
}

// A failure says what went wrong on one line, exits 2 and leaves nothing
// under the output's name, nor a temporary file beside it; an existing
// file of that name stays as it was.
TEST(BuildCommandLine, FailuresExit2WithOneLineAndNoOutput) {
  std::string folder = MakeTempFolder();
  MakeSourceTree(folder + "/src");
  std::string out = folder + "/o.exe", src = folder + "/src";
  WriteFile(folder + "/not.zip", {'n', 'o'});
  WriteFile(folder + "/x64-stub.exe", ReadFile(DRAVIK_STUB_FILE_X64));
  struct Case {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"-C", src, "missing.txt"}, "missing.txt"},
      {{"--zip", folder + "/absent.zip"}, "absent.zip"},
      {{"--zip", folder + "/not.zip"}, "not a ZIP"},
      {{"--stub", folder + "/absent.exe", src}, "absent.exe"},
      {{"--stub", folder + "/not.zip", src}, "not an x86 (PE32) or x64 (PE32+) Windows program"},
      {{"--stub", folder + "/x64-stub.exe", "--arch", "x86", src}, "is an x64 program, not x86"},
      {{"--caption", std::string(65, 'c'), src}, "--caption"},
  };
  for (bool existing : {false, true}) {
    if (existing) WriteFile(out, {'o', 'l', 'd'});
    for (const Case& c : cases) {
      std::vector<std::string> args = c.args;
      args.insert(args.begin(), {"build", "-o", out});
      CommandResult r = RunSfx(args);
      EXPECT_EQ(r.status, kExitFailure) << c.says;
      EXPECT_EQ(LineCount(r.err), 1) << r.err;
      EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
      if (existing) EXPECT_TRUE(ReadFile(out) == std::vector<uint8_t>({'o', 'l', 'd'}));
      else EXPECT_NE(access(out.c_str(), F_OK), 0);
    }
    CommandResult listing = RunShell("ls " + ShellQuote(folder));
    EXPECT_EQ(listing.out, existing ? "not.zip\no.exe\nsrc\nx64-stub.exe\n" : "not.zip\nsrc\nx64-stub.exe\n");
  }
}

// The pool hands the entries over in their order, and never has more in
// work than its budget, counting twice each entry's size, except for one
// entry over the budget, which runs alone; the entries are the same bytes
// whatever the number of threads. A failure to read an entry is reported
// as it, once every entry before it has been taken, and none after it is.
TEST(DeflatePool, HandsEntriesOverInOrderWithinItsBudget) {
  const uint32_t sizes[] = {0, 700, 3000, 10, 1500, 9000, 1, 2000, 2000, 0, 4500, 600, 12000, 50, 3000};
  constexpr uint64_t kBudget = 8000;
  auto dataOf = [](size_t index, uint32_t size) {
    std::vector<uint8_t> data(size);
    uint32_t noise = 2463534242u + static_cast<uint32_t>(index);  // xorshift: odd entries do not compress
    for (uint32_t i = 0; i < size; i++) {
      noise ^= noise << 13, noise ^= noise >> 17, noise ^= noise << 5;
      data[i] = static_cast<uint8_t>(index % 2 ? noise : i / 64);
    }
    return data;
  };
  struct Run {
    std::vector<ZipEntry> entries;
    std::vector<size_t> taken;
    bool ok;
    std::string error;
  };
  auto run = [&](unsigned threads, size_t failing) {
    Run r;
    for (uint32_t size : sizes) r.entries.emplace_back().uncompressedSize = size;
    std::atomic<uint64_t> inWork{0};
    std::atomic<bool> overBudget{false};
    auto load = [&](size_t i, ZipEntry& entry, std::string* error) {
      uint64_t cost = 2 * uint64_t{sizes[i]};
      if (i == failing) {
        *error = "entry " + std::to_string(i) + " cannot be read";
        return false;  // never taken, so never counted
      }
      uint64_t now = inWork += cost;
      if (now > kBudget && now != cost) overBudget = true;
      entry.data = dataOf(i, sizes[i]);
      return true;
    };
    auto take = [&](size_t i, ZipEntry&, std::string*) {
      r.taken.push_back(i);
      inWork -= 2 * uint64_t{sizes[i]};
      return true;
    };
    DeflateWork work{6, threads, false, kBudget};
    r.ok = MakeEntries(r.entries, load, take, work, &r.error);
    EXPECT_FALSE(overBudget) << threads << " threads";
    return r;
  };
  const size_t count = std::size(sizes);
  Run one = run(1, count);
  ASSERT_TRUE(one.ok) << one.error;
  for (unsigned threads : {1u, 2u, 4u}) {
    Run r = run(threads, count);
    ASSERT_TRUE(r.ok) << r.error;
    std::vector<size_t> inOrder(count);
    for (size_t i = 0; i < count; i++) inOrder[i] = i;
    EXPECT_EQ(r.taken, inOrder) << threads << " threads";
    for (size_t i = 0; i < count; i++) {
      EXPECT_EQ(r.entries[i].method, one.entries[i].method) << i;
      EXPECT_TRUE(r.entries[i].data == one.entries[i].data) << i;
    }
    Run failed = run(threads, 5);
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.error, "entry 5 cannot be read");
    EXPECT_EQ(failed.taken, std::vector<size_t>({0, 1, 2, 3, 4})) << threads << " threads";
  }
  // Deflated where that shrinks the data: the runs of bytes, not the noise.
  EXPECT_EQ(one.entries[2].method, 8);
  EXPECT_EQ(one.entries[5].method, 0);
}

// A tree that breaks the format's limits whatever its data compresses to is
// refused from its walk alone, before a file is read: the files are sparse
// (nothing is written for them) and the build runs under a memory limit far
// below their sizes, which reading them would break.
TEST(BuildCommandLine, TreesOverTheLimitsAreRefusedBeforeAFileIsRead) {
#if defined(__SANITIZE_ADDRESS__)
  const std::string kMemoryLimit;  // the sanitizer's shadow memory needs address space beyond any such limit
#else
  const std::string kMemoryLimit = "ulimit -v 400000 && ";
#endif
  struct Case {
    const char* makeTree;  // run in the tree's folder
    std::vector<std::string> options;
    const char* says;
  } cases[] = {
      {"truncate -s 4G big.bin", {}, "big.bin is 4 GiB or larger, which needs ZIP64"},
      // Stored, two files of 1.1 GB fill more than 2 GiB, in the stored file as in the self-extractor.
      {"truncate -s 1100M a.bin && truncate -s 1100M b.bin", {"--level", "0"},
       "the archive would be 2 GiB or larger, more than the self-extractor can read"},
      {"python3 -c 'for i in range(65536): open(\"%05d\" % i, \"w\")'", {},
       "65536 entries; an archive without ZIP64 holds at most 65535"},
  };
  for (const Case& c : cases) {
    std::string folder = MakeTempFolder(), tree = folder + "/tree";
    ASSERT_EQ(RunShell("mkdir " + ShellQuote(tree) + " && cd " + ShellQuote(tree) + " && " + c.makeTree).status, 0);
    std::string command = ShellQuote(DRAVIK_SFX_PROGRAM) + " build -o " + ShellQuote(folder + "/out.exe");
    for (const std::string& option : c.options) command += " " + ShellQuote(option);
    CommandResult r = RunShell(kMemoryLimit + command + " -C " + ShellQuote(tree) + " .");
    EXPECT_EQ(r.status, kExitFailure) << c.says;
    EXPECT_EQ(LineCount(r.err), 1) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(RunShell("ls " + ShellQuote(folder)).out, "tree\n");
    RunShell("rm -rf " + ShellQuote(folder));
  }
}

// A build that fails in the middle of writing its output (here at the file
// size limit, within the archive) removes what it has written.
TEST(BuildCommandLine, AFailureWhileWritingLeavesNoOutput) {
  std::string folder = MakeTempFolder(), tree = folder + "/tree";
  ASSERT_EQ(RunShell("mkdir " + ShellQuote(tree) + " && head -c 3000000 /dev/urandom > " + ShellQuote(tree + "/noise.bin"))
                .status,
            0);
  // Ignored, the signal leaves the write to fail with EFBIG.
  CommandResult r = RunShell("trap '' XFSZ && ulimit -f 1024 && " + ShellQuote(DRAVIK_SFX_PROGRAM) + " build -o " +
                             ShellQuote(folder + "/out.exe") + " -C " + ShellQuote(tree) + " .");
  EXPECT_EQ(r.status, kExitFailure);
  EXPECT_EQ(LineCount(r.err), 1) << r.err;
  EXPECT_NE(r.err.find("cannot write " + folder + "/out.exe"), std::string::npos) << r.err;
  EXPECT_EQ(RunShell("ls " + ShellQuote(folder)).out, "tree\n");
}

// A build ended by a signal while it writes (Ctrl-C, a CI job's timeout)
// removes its temporary file too: the build is stopped as soon as that file
// appears, and then nothing of it is left.
TEST(BuildCommandLine, ABuildEndedBySignalLeavesNoOutput) {
  std::string folder = MakeTempFolder(), tree = folder + "/tree";
  ASSERT_EQ(RunShell("mkdir " + ShellQuote(tree) + " && head -c 30000000 /dev/urandom > " + ShellQuote(tree + "/noise.bin"))
                .status,
            0);
  // (SIGINT is not among them: a shell starts a job in the background with it ignored.)
  for (const char* signal : {"TERM", "HUP"}) {
    CommandResult r = RunShell(
        "cd " + ShellQuote(folder) + " && { " + ShellQuote(DRAVIK_SFX_PROGRAM) + " build -j 1 -o out.exe -C tree . & }; " +
        "for i in $(seq 200); do ls out.exe.partial-* >/dev/null 2>&1 && break; sleep 0.05; done; " +
        "kill -" + signal + " $!; wait $!; echo $?; ls");
    EXPECT_EQ(r.out, std::string(signal) == "TERM" ? "143\ntree\n" : "129\ntree\n") << signal;
  }
}

}  // namespace
