// Entry names in every script: how dravik-sfx build stores them (ASCII as
// it is, anything else in UTF-8 with flag bit 11, the code page only with
// --ansi-names), how it reads the names of a wrapped archive (flagged UTF-8,
// the Unicode Path field, code page 437 or --zip-codepage), and that Python's
// zipfile, unzip, 7z and dravik-sfx extract all list and write the same names.
#include "builder_fixture.h"
#include "stub_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

constexpr int kExitFailure = 2;
constexpr uint16_t kUtf8Flag = 0x800;

// The names of the table, each a file; one inside a folder, and one of 188
// characters, near the 200-byte limit on a name.
std::vector<std::string> TableNames() {
  std::string longName = std::string(180, 'l') + "-\u00e9.txt";
  return {"caf\u00e9.txt",
          "na\u00efve r\u00e9sum\u00e9.txt",
          "\u041e\u0442\u0447\u0451\u0442.txt",
          "\u65e5\u672c\u8a9e.txt",
          "\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac.txt",
          "emoji-\U0001F600.txt",
          "\u043f\u0430\u043f\u043a\u0430/\u0444\u0430\u0439\u043b.txt",
          longName,
          "plain.txt"};
}

std::set<std::string> Lines(const std::string& text) {
  std::set<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.insert(line);
  return lines;
}

// Each entry's name bytes and flags from the central directory, read by
// Python's zipfile (orig_filename is what the header holds, decoded as the
// flag says).
struct StoredName {
  std::string name;
  uint16_t flags;
};

std::vector<StoredName> CentralNames(const std::string& exe) {
  CommandResult listed = RunShell(
      "python3 -c \"import sys, zipfile\n"
      "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
      "    raw = i.filename.encode('utf-8' if i.flag_bits & 0x800 else 'cp437')\n"
      "    print(i.flag_bits, raw.hex())\" " + ShellQuote(exe));
  EXPECT_EQ(listed.status, 0) << listed.err;
  std::vector<StoredName> names;
  std::istringstream in(listed.out);
  for (unsigned flags; in >> flags;) {
    std::string hex, bytes;
    in >> hex;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    names.push_back({bytes, static_cast<uint16_t>(flags)});
  }
  return names;
}

// The file names each reader lists for the self-extractor, folders left out.
void ExpectEveryReaderLists(const std::string& exe, const std::set<std::string>& expected) {
  CommandResult python = RunShell("python3 -c \"import sys, zipfile\n"
                                  "[print(n) for n in zipfile.ZipFile(sys.argv[1]).namelist() if not n.endswith('/')]\" " +
                                  ShellQuote(exe));
  EXPECT_EQ(Lines(python.out), expected) << "Python's zipfile";
  CommandResult unzip = RunShell("unzip -Z1 " + ShellQuote(exe) + " | grep -v '/$'");
  EXPECT_EQ(Lines(unzip.out), expected) << "unzip -Z1";
  // 7z lists folders too, without their '/', and the archive itself first.
  CommandResult seven = RunShell("7z l -slt -tzip " + ShellQuote(exe) + " | sed -n 's/^Path = //p' | tail -n +2");
  std::set<std::string> sevenPaths = Lines(seven.out);
  for (const std::string& name : expected) EXPECT_TRUE(sevenPaths.count(name)) << "7z lists no " << name;
  std::string out = MakeTempFolder() + "/out";
  CommandResult extracted = RunSfx({"extract", exe, "-d", out});
  EXPECT_EQ(extracted.status, 0) << extracted.err;
  std::set<std::string> written;
  for (const auto& entry : fs::recursive_directory_iterator(out))
    if (entry.is_regular_file()) written.insert(fs::relative(entry.path(), out).string());
  EXPECT_EQ(written, expected) << "dravik-sfx extract";
}

bool IsAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

TEST(EntryNames, BuiltFromFilesInUtf8WithTheFlag) {
  std::string work = MakeTempFolder(), source = work + "/src", exe = work + "/names.exe";
  std::set<std::string> expected;
  for (const std::string& name : TableNames()) {
    fs::create_directories(fs::path(source + "/" + name).parent_path());
    std::ofstream(source + "/" + name) << name;
    expected.insert(name);
  }
  CommandResult built = RunSfx({"build", "-o", exe, "-C", source, "."});
  ASSERT_EQ(built.status, 0) << built.err;
  for (const StoredName& stored : CentralNames(exe)) {
    SCOPED_TRACE(stored.name);
    EXPECT_EQ((stored.flags & kUtf8Flag) != 0, !IsAscii(stored.name));  // ASCII names stay unflagged
  }
  ExpectEveryReaderLists(exe, expected);
  CommandResult info = RunSfx({"info", "--entries", exe});
  EXPECT_NE(info.out.find("\u041e\u0442\u0447\u0451\u0442.txt  (UTF-8 name)"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("plain.txt\n"), std::string::npos) << info.out;
}

// --ansi-names keeps today's names: in the code page, unflagged.
TEST(EntryNames, AnsiNamesStayInTheCodePage) {
  struct Case {
    const char* name;
    const char* codePage;
    const char* storedBytes;  // nullptr: refused
  } cases[] = {
      {"caf\u00e9.txt", "1252", "caf\xE9.txt"},
      {"\u041e\u0442\u0447\u0451\u0442.txt", "1251", "\xCE\xF2\xF7\xB8\xF2.txt"},
      {"\u0395\u03bb.txt", "1253", "\xC5\xEB.txt"},
      {"\u4e2d\u6587.txt", "936", "\xD6\xD0\xCE\xC4.txt"},
      {"\u0e44\u0e17\u0e22.txt", "874", "\xE4\xB7\xC2.txt"},
      {"emoji-\U0001F600.txt", "1252", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string folder = MakeTempFolder(), exe = folder + "/a.exe";
    std::ofstream(folder + "/" + c.name) << "x";
    CommandResult built = RunSfx({"build", "-o", exe, "--ansi-names", "--codepage", c.codePage, "-C", folder, c.name});
    if (!c.storedBytes) {
      EXPECT_EQ(built.status, kExitFailure);
      EXPECT_NE(built.err.find("code page 1252"), std::string::npos) << built.err;
      continue;
    }
    ASSERT_EQ(built.status, 0) << built.err;
    std::vector<StoredName> names = CentralNames(exe);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].name, c.storedBytes);
    EXPECT_EQ(names[0].flags & kUtf8Flag, 0);
  }
}

TEST(EntryNames, CodePageOptionTakesTheWindowsAnsiCodePages) {
  std::string folder = MakeTempFolder(), exe = folder + "/a.exe";
  std::ofstream(folder + "/a.txt") << "x";
  for (const char* accepted : {"1250", "1251", "1252", "1253", "1254", "1255", "1256", "1257", "1258", "874", "932",
                               "936", "949", "950"})
    EXPECT_EQ(RunSfx({"build", "-o", exe, "--codepage", accepted, "-C", folder, "a.txt"}).status, 0) << accepted;
  for (const char* refused : {"437", "65001", "1259", "x"})
    EXPECT_EQ(RunSfx({"build", "-o", exe, "--codepage", refused, "-C", folder, "a.txt"}).status, 64) << refused;
}

// Python writes an archive whose names are ASCII placeholders, then the
// placeholders are replaced byte for byte in both headers: names in a code
// page no current writer produces, without the UTF-8 flag. `extra` (hex)
// is given to every entry's local and central extra field.
std::string ArchiveWithRawNames(const std::string& folder, const std::vector<std::string>& rawNames,
                                const std::string& extraHex = "") {
  std::string zip = folder + "/raw.zip";
  std::string script = "import sys, zipfile\nnames = [bytes.fromhex(h) for h in sys.argv[2:]]\n"
                       "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
                       "for i, n in enumerate(names):\n"
                       "    info = zipfile.ZipInfo('%0*d' % (len(n), i))\n"
                       "    info.extra = bytes.fromhex('" + extraHex + "')\n"
                       "    z.writestr(info, n)\n"
                       "z.close()\n"
                       "data = open(sys.argv[1], 'rb').read()\n"
                       "for i, n in enumerate(names):\n"
                       "    data = data.replace(b'%0*d' % (len(n), i), n)\n"
                       "open(sys.argv[1], 'wb').write(data)\n";
  std::ofstream(folder + "/raw.py") << script;
  std::string args;
  for (const std::string& name : rawNames) {
    std::string hex;
    for (unsigned char c : name) {
      char two[3];
      snprintf(two, sizeof two, "%02x", c);
      hex += two;
    }
    args += " " + hex;
  }
  CommandResult made = RunShell("python3 " + ShellQuote(folder + "/raw.py") + " " + ShellQuote(zip) + args);
  EXPECT_EQ(made.status, 0) << made.err;
  return zip;
}

// Wrapped archives: each name is read as its writer meant it and stored in
// UTF-8 with the flag; the entry data stay the same bytes.
TEST(EntryNames, WrappedNamesAreReadAsTheirWriterMeantThem) {
  struct Case {
    const char* what;
    std::vector<std::string> rawNames;  // as stored, unflagged
    std::vector<std::string> options;
    std::string extraHex;
    std::set<std::string> expected;
  };
  // The Unicode Path field: id 0x7075, 14 bytes: version 1, the CRC-32 of
  // the stored name "caf\x82.txt" (0xa0976e8f), "café.txt" in UTF-8.
  const Case cases[] = {
      {"code page 437, as the application note says", {"filename_with_\x91o\x86.txt"}, {}, "",
       {"filename_with_\u00e6o\u00e5.txt"}},
      {"code page 932 named with --zip-codepage", {"\x93\xFA\x96\x7B\x8C\xEA.txt", "\x95\x5C.txt"},
       {"--zip-codepage", "932"}, "", {"\u65e5\u672c\u8a9e.txt", "\u8868.txt"}},
      {"code page 866 named with --zip-codepage", {"\x8E\xE2\xE7\xF1\xE2.txt"}, {"--zip-codepage", "866"}, "",
       {"\u041e\u0442\u0447\u0451\u0442.txt"}},
      {"the Unicode Path field", {"caf\x82.txt"}, {}, "75700e00018f6e97a0636166c3a92e747874",
       {"caf\u00e9.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string folder = MakeTempFolder(), exe = folder + "/wrapped.exe";
    std::string zip = ArchiveWithRawNames(folder, c.rawNames, c.extraHex);
    std::vector<std::string> args = {"build", "-o", exe, "--zip", zip};
    args.insert(args.end(), c.options.begin(), c.options.end());
    CommandResult built = RunSfx(args);
    ASSERT_EQ(built.status, 0) << built.err;
    for (const StoredName& stored : CentralNames(exe)) EXPECT_EQ(stored.flags & kUtf8Flag, kUtf8Flag) << stored.name;
    ExpectEveryReaderLists(exe, c.expected);
  }
}

// Archives that already say their names are UTF-8 (Python's zipfile sets
// the flag), and Linux zip's unflagged UTF-8 names, keep their names.
TEST(EntryNames, WrappedUtf8NamesStayAsTheyAre) {
  std::string folder = MakeTempFolder(), source = folder + "/src";
  std::set<std::string> expected;
  for (const std::string& name : TableNames()) {
    fs::create_directories(fs::path(source + "/" + name).parent_path());
    std::ofstream(source + "/" + name) << name;
    expected.insert(name);
  }
  const char* producers[] = {
      "python3 -c \"import os, sys, zipfile\nz = zipfile.ZipFile(sys.argv[1], 'w')\n"
      "for d, _, fs in sorted(os.walk('.')):\n    [z.write(os.path.join(d, f)) for f in sorted(fs)]\nz.close()\" ",
      "LANG=C.UTF-8 zip -qr ",
  };
  for (const char* producer : producers) {
    SCOPED_TRACE(producer);
    std::string zip = folder + "/in.zip", exe = folder + "/out.exe";
    fs::remove(zip);
    ASSERT_EQ(RunShell("cd " + ShellQuote(source) + " && " + producer + ShellQuote(zip) + " .").status, 0);
    CommandResult built = RunSfx({"build", "-o", exe, "--zip", zip});
    ASSERT_EQ(built.status, 0) << built.err;
    ExpectEveryReaderLists(exe, expected);
  }
}

// A name flagged UTF-8 that is not, and an unflagged one that means nothing
// in the code page named, are refused in words before anything is written.
TEST(EntryNames, WrappedNamesThatCannotBeReadAreRefused) {
  std::string folder = MakeTempFolder(), exe = folder + "/out.exe";
  std::string zip = ArchiveWithRawNames(folder, {"\x81\x20.txt"});  // 0x81 0x20: no character in 932
  CommandResult built = RunSfx({"build", "-o", exe, "--zip", zip, "--zip-codepage", "932"});
  EXPECT_EQ(built.status, kExitFailure);
  EXPECT_EQ(LineCount(built.err), 1) << built.err;
  EXPECT_NE(built.err.find("code page 932"), std::string::npos) << built.err;
  EXPECT_FALSE(fs::exists(exe));

  // Flag bit 11 patched into both headers of a code page 1252 name.
  std::vector<uint8_t> bytes = ReadFile(ArchiveWithRawNames(folder, {"caf\xE9.txt"}));
  for (size_t at = 0; at + 4 <= bytes.size(); at++) {
    if (bytes[at] != 'P' || bytes[at + 1] != 'K') continue;
    if (bytes[at + 2] == 3 && bytes[at + 3] == 4) bytes[at + 7] |= 0x08;   // local: flags at 6
    if (bytes[at + 2] == 1 && bytes[at + 3] == 2) bytes[at + 9] |= 0x08;   // central: flags at 8
  }
  WriteFile(folder + "/flagged.zip", bytes);
  built = RunSfx({"build", "-o", exe, "--zip", folder + "/flagged.zip"});
  EXPECT_EQ(built.status, kExitFailure);
  EXPECT_NE(built.err.find("marked as UTF-8 but its name is not UTF-8"), std::string::npos) << built.err;
  EXPECT_FALSE(fs::exists(exe));
}

}  // namespace
