// dravik-sfx build --zip: archives written by other tools (zip, zip to a
// pipe, 7z, Python's zipfile seekable and streaming, bsdtar) and the
// external test archives are wrapped with every entry's data unchanged, the
// local headers completed from the central directory and descriptors given
// their signature; what the self-extractor could not extract is refused.
#include "builder_fixture.h"
#include "stub_fixture.h"

#include <gtest/gtest.h>

namespace {

constexpr int kExitFailure = 2;

// Makes `archive` from the folder `tree` (run inside it) with a shell line
// naming tools; "ARCHIVE" stands for the archive's path.
struct Producer {
  const char* name;
  const char* commandLine;
};

const Producer kProducers[] = {
    {"zip -r", "zip -qr ARCHIVE ."},
    {"zip to a pipe", "zip -qr - . | cat > ARCHIVE"},
    {"7z", "7z a -tzip -bd ARCHIVE . >/dev/null"},
    {"zipfile", "python3 -c \"import os, sys, zipfile\n"
                "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n"
                "for d, _, fs in sorted(os.walk('.')):\n"
                "    [z.write(os.path.join(d, f)) for f in sorted(fs)]\n"
                "z.close()\" ARCHIVE"},
    {"zipfile to a pipe", "python3 -c \"import os, sys, zipfile\n"
                          "z = zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_DEFLATED)\n"
                          "for d, _, fs in sorted(os.walk('.')):\n"
                          "    for f in sorted(fs):\n"
                          "        with open(os.path.join(d, f), 'rb') as i, z.open(os.path.join(d, f)[2:], 'w') as o: o.write(i.read())\n"
                          "z.close()\" | cat > ARCHIVE"},
    {"bsdtar", "bsdtar --format zip -cf - . | cat > ARCHIVE"},
};

std::string WithArchive(std::string line, const std::string& archive) {
  for (size_t at; (at = line.find("ARCHIVE")) != std::string::npos;) line.replace(at, 7, ShellQuote(archive));
  return line;
}

// What every wrapped archive must pass: our forward walker (local headers
// complete, 16-byte descriptors with their signature, offsets from the
// file's start), unzip -t and 7z without warnings, and the stub's checks.
void ExpectReadersAccept(const std::string& exe) {
  CommandResult walked = RunShell("python3 " + ShellQuote(DRAVIK_ZIP_WALK) + " " + ShellQuote(exe));
  EXPECT_EQ(walked.status, 0) << walked.out;
  CommandResult tested = RunShell("unzip -t " + ShellQuote(exe));
  EXPECT_EQ(tested.status, 0) << tested.out << tested.err;
  EXPECT_EQ(tested.out.find("warning"), std::string::npos) << tested.out;
  CommandResult seven = RunShell("7z t -tzip " + ShellQuote(exe));
  EXPECT_EQ(seven.status, 0) << seven.out;
  EXPECT_EQ(seven.out.find("WARNING"), std::string::npos) << seven.out;
  CommandResult selfTest = RunSfx({"test", exe});
  EXPECT_EQ(selfTest.status, 0) << selfTest.out << selfTest.err;
}

TEST(WrapZip, ArchivesFromOtherToolsExtractToTheSameBytes) {
  for (const char* tool : {"zip", "unzip", "7z", "python3", "bsdtar"}) RequireTool(tool);
  for (const Producer& producer : kProducers) {
    SCOPED_TRACE(producer.name);
    std::string work = MakeTempFolder(), tree = work + "/tree";
    MakeSourceTree(tree);
    std::string archive = work + "/in.zip", exe = work + "/out.exe", unpacked = work + "/unpacked";
    CommandResult made = RunShell("cd " + ShellQuote(tree) + " && " + WithArchive(producer.commandLine, archive));
    ASSERT_EQ(made.status, 0) << made.err;
    CommandResult built = RunSfx({"build", "-o", exe, "--zip", archive});
    ASSERT_EQ(built.status, 0) << built.err;
    ExpectReadersAccept(exe);
    ASSERT_EQ(RunShell("unzip -q " + ShellQuote(exe) + " -d " + ShellQuote(unpacked)).status, 0);
    // Python's zipfile as used here stores no folder entries.
    CommandResult compared = RunShell("mkdir -p " + ShellQuote(unpacked + "/empty") + " && diff -r " + ShellQuote(tree) + " " +
                                      ShellQuote(unpacked));
    EXPECT_EQ(compared.status, 0) << compared.out;
  }
}

// The entries' data is kept byte for byte: the compressed bytes of each
// entry in the self-extractor are those of the input archive.
TEST(WrapZip, EntryDataIsKeptAsItIs) {
  std::string work = MakeTempFolder(), tree = work + "/tree";
  MakeSourceTree(tree);
  std::string archive = work + "/in.zip", exe = work + "/out.exe";
  ASSERT_EQ(RunShell("cd " + ShellQuote(tree) + " && zip -qr -9 - . | cat > " + ShellQuote(archive)).status, 0);
  ASSERT_EQ(RunSfx({"build", "-o", exe, "--level", "0", "--zip", archive}).status, 0);
  const char* dumpData =
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "for i in z.infolist():\n"
      "    f = z.fp; f.seek(i.header_offset); h = f.read(30)\n"
      "    f.seek(i.header_offset + 30 + int.from_bytes(h[26:28], 'little') + int.from_bytes(h[28:30], 'little'))\n"
      "    print(i.filename, i.compress_type, f.read(i.compress_size).hex())\n";
  CommandResult before = RunShell("python3 -c " + ShellQuote(dumpData) + " " + ShellQuote(archive));
  CommandResult after = RunShell("python3 -c " + ShellQuote(dumpData) + " " + ShellQuote(exe));
  ASSERT_EQ(before.status, 0) << before.err;
  EXPECT_EQ(after.out, before.out);
}

// A prefix before the archive is dropped; the archive comment stays (the
// section's zero padding follows it inside the comment).
TEST(WrapZip, PrefixIsDroppedAndTheCommentKept) {
  std::string work = MakeTempFolder(), tree = work + "/tree";
  MakeSourceTree(tree);
  std::string archive = work + "/in.zip", exe = work + "/out.exe";
  ASSERT_EQ(RunShell("cd " + ShellQuote(tree) + " && zip -qr " + ShellQuote(work + "/plain.zip") + " . && echo 'a note' | zip -qz " +
                     ShellQuote(work + "/plain.zip") + " && (head -c 777 /dev/urandom; cat " + ShellQuote(work + "/plain.zip") +
                     ") > " + ShellQuote(archive)).status, 0);
  CommandResult built = RunSfx({"build", "-o", exe, "--zip", archive});
  ASSERT_EQ(built.status, 0) << built.err;
  ExpectReadersAccept(exe);
  CommandResult comment = RunShell("python3 -c \"import sys, zipfile; print(zipfile.ZipFile(sys.argv[1]).comment.rstrip(b'\\\\0'))\" " +
                                   ShellQuote(exe));
  EXPECT_EQ(comment.out, "b'a note'\n") << comment.err;
}

// The shared external archives: those the stub can extract are wrapped and
// read back by unzip; the others are refused with one line saying why.
TEST(WrapZip, ExternalArchives) {
  const std::string data = std::string(DRAVIK_TESTDATA_DIR) + "/external/";
  struct Case {
    const char* file;
    const char* refusal;  // nullptr: accepted
  } cases[] = {
      {"test_read_format_zip_length_at_end.zip", nullptr},
      {"test_compat_zip_4.zip", nullptr},
      {"test_read_format_zip_padded1.zip", nullptr},
      {"test_read_format_zip_padded2.zip", nullptr},
      {"test_compat_zip_7.xps", nullptr},
      {"test_compat_zip_8.zip", nullptr},
      {"test_read_format_zip_msdos.zip", nullptr},
      {"test_read_format_zip_comment_stored_1.zip", nullptr},
      {"test_read_format_zip_traditional_encryption_data.zip", nullptr},
      {"test_read_format_zip_7z_lzma.zip", "method 14"},
      {"test_read_format_zip_encryption_data.zip", "strong encryption"},
      {"test_read_format_zip_malformed1.zip", "not a ZIP"},
      {"test_read_data_into_fd_size_exceeds_declared_stored.zip", "20 bytes"},
      {"test_read_data_into_fd_size_exceeds_declared_deflate.zip", "its directory entry says 10"},
      // file2's data has the CRC-32 3d66373a, its directory entry (and its
      // descriptor) another: the self-extractor would stop there.
      {"test_read_format_zip.zip", "CRC-32 3d66373a"},
  };
  std::string work = MakeTempFolder();
  for (const Case& c : cases) {
    std::string exe = work + "/" + c.file + ".exe";
    CommandResult built = RunSfx({"build", "-o", exe, "--zip", data + c.file});
    if (c.refusal) {
      EXPECT_EQ(built.status, kExitFailure) << c.file;
      EXPECT_EQ(LineCount(built.err), 1) << built.err;
      EXPECT_NE(built.err.find(c.refusal), std::string::npos) << built.err;
      continue;
    }
    ASSERT_EQ(built.status, 0) << c.file << ": " << built.err;
    CommandResult walked = RunShell("python3 " + ShellQuote(DRAVIK_ZIP_WALK) + " " + ShellQuote(exe) + " 12345678");
    EXPECT_EQ(walked.status, 0) << c.file << ": " << walked.out;
    CommandResult tested = RunShell("unzip -t -P 12345678 " + ShellQuote(exe));
    EXPECT_EQ(tested.status, 0) << c.file << ": " << tested.out;
    EXPECT_EQ(tested.out.find("warning"), std::string::npos) << tested.out;
  }
}

// Archives made here with what the self-extractor cannot take.
TEST(WrapZip, RefusesWhatTheStubCannotExtract) {
  struct Case {
    const char* what;
    const char* python;  // writes the archive to sys.argv[1]
    const char* refusal;
  } cases[] = {
      {"bzip2", "z = zipfile.ZipFile(p, 'w', zipfile.ZIP_BZIP2); z.writestr('a', b'x' * 100); z.close()", "method 12"},
      {"ZIP64", "z = zipfile.ZipFile(p, 'w'); z.writestr('a', b'x'); z.close()\n"
                "b = bytearray(open(p, 'rb').read()); c = b.find(b'PK\\x01\\x02'); b[c + 24:c + 28] = b'\\xff' * 4\n"
                "open(p, 'wb').write(b)", "ZIP64"},
      {"long name", "z = zipfile.ZipFile(p, 'w'); z.writestr('n' * 201, b'x'); z.close()", "200 bytes"},
      {"data into the directory",
       "z = zipfile.ZipFile(p, 'w'); z.writestr('a', b'x' * 10); z.close()\n"
       "b = bytearray(open(p, 'rb').read()); c = b.find(b'PK\\x01\\x02'); b[c + 20:c + 24] = (200).to_bytes(4, 'little')\n"
       "open(p, 'wb').write(b)", "runs past"},
      {"no local header",
       "z = zipfile.ZipFile(p, 'w'); z.writestr('a', b'x'); z.close()\n"
       "b = bytearray(open(p, 'rb').read()); b[0:4] = b'XXXX'; open(p, 'wb').write(b)", "local header"},
      {"cut directory",
       "z = zipfile.ZipFile(p, 'w'); z.writestr('a', b'x'); z.writestr('b', b'y'); z.close()\n"
       "b = bytearray(open(p, 'rb').read()); e = b.rfind(b'PK\\x05\\x06'); b[e + 8:e + 12] = (3).to_bytes(2, 'little') * 2\n"
       "open(p, 'wb').write(b)", "central directory"},
      // An overlap bomb: 300 directory entries all pointing at one local
      // record and its 64 KiB of data (wrapped, 19 MiB of entry data).
      {"one record reached 300 times",
       "import struct\n"
       "z = zipfile.ZipFile(p, 'w'); z.writestr('a', b'x' * 65536); z.close()\n"
       "b = open(p, 'rb').read(); c = b.find(b'PK\\x01\\x02'); h = bytearray(b[c:c + 46]); d = b''\n"
       "for n in range(300):\n"
       "    name = b'e%03d' % n; struct.pack_into('<H', h, 28, len(name)); d += bytes(h) + name\n"
       "end = struct.pack('<4s4H2LH', b'PK\\x05\\x06', 0, 0, 300, 300, len(d), c, 0)\n"
       "open(p, 'wb').write(b[:c] + d + end)",
       "entries \"e000\" and \"e001\" share one local record"},
      {"data over the next record",
       "z = zipfile.ZipFile(p, 'w'); z.writestr('a', b'x' * 100); z.writestr('b', b'y' * 100); z.close()\n"
       "b = bytearray(open(p, 'rb').read()); c = b.find(b'PK\\x01\\x02'); b[c + 20:c + 24] = (140).to_bytes(4, 'little')\n"
       "open(p, 'wb').write(b)", "entries \"a\" and \"b\" overlap"},
  };
  std::string work = MakeTempFolder();
  for (const Case& c : cases) {
    std::string archive = work + "/in.zip", exe = work + "/" + c.what + ".exe";
    CommandResult made = RunShell("python3 -c " + ShellQuote(std::string("import sys, zipfile\np = sys.argv[1]\n") + c.python) +
                                  " " + ShellQuote(archive));
    ASSERT_EQ(made.status, 0) << c.what << made.err;
    CommandResult built = RunSfx({"build", "-o", exe, "--zip", archive});
    EXPECT_EQ(built.status, kExitFailure) << c.what;
    EXPECT_EQ(LineCount(built.err), 1) << c.what << ": " << built.err;
    EXPECT_NE(built.err.find(c.refusal), std::string::npos) << c.what << ": " << built.err;
    EXPECT_NE(access(exe.c_str(), F_OK), 0) << c.what;
  }
}

// A writer that streams may put a ZIP64 block in a local header although
// the sizes fit in 32 bits; once the header holds the sizes the block goes,
// and the entry extracts as any other.
TEST(WrapZip, LocalZip64BlockWithSmallSizesIsDropped) {
  std::string work = MakeTempFolder();
  std::string archive = work + "/in.zip", exe = work + "/out.exe";
  ASSERT_EQ(RunShell("python3 -c " + ShellQuote("import sys, zipfile\n"
                                                "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n"
                                                "with z.open('a.txt', 'w', force_zip64=True) as f: f.write(b'small' * 50)\n"
                                                "z.close()") + " " + ShellQuote(archive)).status, 0);
  CommandResult built = RunSfx({"build", "-o", exe, "--zip", archive});
  ASSERT_EQ(built.status, 0) << built.err;
  ExpectReadersAccept(exe);
  std::vector<uint8_t> image = ReadFile(exe);
  uint32_t archiveAt = Le32(image, FindRecord(image) + 12);
  EXPECT_EQ(Le16(image, archiveAt + 28), 0u);  // no extra field left in the local header
}

}  // namespace
