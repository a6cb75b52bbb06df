// dravik-sfx build --zip: archives written by other tools (zip, zip to a
// pipe, 7z, Python's zipfile seekable and streaming, bsdtar) and the
// external test archives are wrapped with every entry's data unchanged, the
// local headers completed from the central directory and descriptors given
// their signature; what the self-extractor could not extract is refused.
#include "builder_fixture.h"
#include "stub_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

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

// unzip extracts exe into `unpacked` exactly as `tree` (whose empty folder
// some writers store no entry for).
void ExpectUnzipsTo(const std::string& exe, const std::string& tree, const std::string& unpacked) {
  ASSERT_EQ(RunShell("unzip -q " + ShellQuote(exe) + " -d " + ShellQuote(unpacked)).status, 0);
  CommandResult compared = RunShell("mkdir -p " + ShellQuote(unpacked + "/empty") + " && diff -r " + ShellQuote(tree) +
                                    " " + ShellQuote(unpacked));
  EXPECT_EQ(compared.status, 0) << compared.out;
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
    ExpectUnzipsTo(exe, tree, unpacked);
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
      {"test_read_format_zip_7z_lzma.zip", nullptr},  // its LZMA entry re-encoded
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

// Archives made here with what neither the self-extractor nor the builder
// can take. `method(n, flags)` sets an entry's method (and flag bits) in
// both its headers.
TEST(WrapZip, RefusesWhatTheStubCannotExtract) {
  struct Case {
    const char* what;
    const char* python;  // writes the archive to sys.argv[1]
    const char* refusal;
  } cases[] = {
      {"Implode", "z = zipfile.ZipFile(p, 'w'); z.writestr('a', b'x' * 100); z.close(); method(6)",
       "entry \"a\" is compressed with Implode (method 6), which neither the self-extractor nor the builder can decode"},
      {"PPMd", "z = zipfile.ZipFile(p, 'w'); z.writestr('a', b'x' * 100); z.close(); method(98)", "PPMd (method 98)"},
      {"AES without its extra field", "z = zipfile.ZipFile(p, 'w'); z.writestr('a', b'x' * 100); z.close(); method(99, 1)",
       "entry \"a\" is AES-encrypted but its AES extra field is missing or damaged"},
      {"encrypted bzip2", "z = zipfile.ZipFile(p, 'w', zipfile.ZIP_BZIP2); z.writestr('a', b'x' * 100); z.close(); method(12, 1)",
       "encrypted and compressed with bzip2 (method 12)"},
      {"damaged bzip2",
       "z = zipfile.ZipFile(p, 'w', zipfile.ZIP_BZIP2); z.writestr('a', b'x' * 100); z.close()\n"
       "b = bytearray(open(p, 'rb').read()); b[40:44] = b'\\0' * 4; open(p, 'wb').write(b)",
       "the data of \"a\" (bzip2 (method 12)) cannot be decoded: the bzip2 stream is damaged"},
      {"LZMA over its size",
       "z = zipfile.ZipFile(p, 'w', zipfile.ZIP_LZMA); z.writestr('a', b'x' * 100); z.close()\n"
       "b = bytearray(open(p, 'rb').read())\n"
       "for s in (b'PK\\x03\\x04', b'PK\\x01\\x02'): h = b.find(s); o = 22 if s[2] == 3 else 24; b[h + o:h + o + 4] = (99).to_bytes(4, 'little')\n"
       "open(p, 'wb').write(b)", "(LZMA (method 14)) cannot be decoded: it decodes to more bytes than its directory entry says"},
      {"bzip2 CRC",
       "z = zipfile.ZipFile(p, 'w', zipfile.ZIP_BZIP2); z.writestr('a', b'x' * 100); z.close()\n"
       "b = bytearray(open(p, 'rb').read())\n"
       "for s, o in ((b'PK\\x03\\x04', 14), (b'PK\\x01\\x02', 16)): h = b.find(s); b[h + o] ^= 1\n"
       "open(p, 'wb').write(b)", "(bzip2 (method 12)) has the CRC-32"},
      {"ZIP64 marker without its value",
       "z = zipfile.ZipFile(p, 'w'); z.writestr('a', b'x'); z.close()\n"
       "b = bytearray(open(p, 'rb').read()); c = b.find(b'PK\\x01\\x02'); b[c + 24:c + 28] = b'\\xff' * 4\n"
       "open(p, 'wb').write(b)", "marks a ZIP64 value that its extra field lacks"},
      {"ZIP64 end record missing",
       "z = zipfile.ZipFile(p, 'w'); z.writestr('a', b'x'); z.close()\n"
       "b = bytearray(open(p, 'rb').read()); e = b.rfind(b'PK\\x05\\x06'); b[e + 16:e + 20] = b'\\xff' * 4\n"
       "open(p, 'wb').write(b)", "ZIP64 end record that is missing"},
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
    const char* setMethod =
        "def method(n, flags=0):\n"
        "    b = bytearray(open(p, 'rb').read())\n"
        "    for s, o in ((b'PK\\x03\\x04', 6), (b'PK\\x01\\x02', 8)):\n"
        "        h = b.find(s); b[h + o] |= flags; b[h + o + 2:h + o + 4] = n.to_bytes(2, 'little')\n"
        "    open(p, 'wb').write(b)\n";
    CommandResult made = RunShell("python3 -c " + ShellQuote(std::string("import sys, zipfile\np = sys.argv[1]\n") + setMethod + c.python) +
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

// Archives that really need ZIP64 are refused at once, from their end
// records and directory alone: a stored 5 GiB entry, three stored entries
// of 1 GiB (their data holes in sparse files), and 66,000 entries, each in
// well under a second, naming the limit and by how much it is broken, and
// writing nothing.
TEST(WrapZip, RefusesArchivesThatNeedZip64AtOnce) {
  const char* writers =
      "import struct, sys, zipfile\n"
      "def sparse(path, sizes):\n"
      "    # stored entries of zeros, the data left as holes; ZIP64 sizes, offsets and end records\n"
      "    directory, at = b'', 0\n"
      "    with open(path, 'wb') as f:\n"
      "        for n, size in enumerate(sizes):\n"
      "            name = b'big%d.bin' % n\n"
      "            local = struct.pack('<IHHHHHIIIHH', 0x04034B50, 45, 0, 0, 0, 0x21, 0, 0xFFFFFFFF, 0xFFFFFFFF, len(name), 20)\n"
      "            f.seek(at); f.write(local + name + struct.pack('<HHQQ', 1, 16, size, size))\n"
      "            directory += struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, 45, 45, 0, 0, 0, 0x21, 0, 0xFFFFFFFF,\n"
      "                                     0xFFFFFFFF, len(name), 28, 0, 0, 0, 0, 0xFFFFFFFF)\n"
      "            directory += name + struct.pack('<HHQQQ', 1, 24, size, size, at)\n"
      "            at += len(local) + len(name) + 20 + size\n"
      "        end64 = struct.pack('<IQHHIIQQQQ', 0x06064B50, 44, 45, 45, 0, 0, len(sizes), len(sizes), len(directory), at)\n"
      "        locator = struct.pack('<IIQI', 0x07064B50, 0, at + len(directory), 1)\n"
      "        end = struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, len(sizes), len(sizes), len(directory), 0xFFFFFFFF, 0)\n"
      "        f.seek(at); f.write(directory + end64 + locator + end)\n"
      "sparse(sys.argv[1], [5 << 30])\n"
      "sparse(sys.argv[3], [1 << 30] * 3)\n"
      "with zipfile.ZipFile(sys.argv[2], 'w') as z:\n"
      "    for i in range(66000): z.writestr('f%05d' % i, b'')\n";
  std::string work = MakeTempFolder();
  std::string big = work + "/big.zip", many = work + "/many.zip", large = work + "/large.zip";
  CommandResult made = RunShell("python3 -c " + ShellQuote(writers) + " " + ShellQuote(big) + " " + ShellQuote(many) + " " +
                                ShellQuote(large));
  ASSERT_EQ(made.status, 0) << made.err;
  struct Case {
    std::string archive;
    const char* refusal;
  } cases[] = {
      {big, "entry \"big0.bin\" is 5368709120 bytes (5.0 GiB); the self-extractor extracts entries under 4 GiB "
            "(at most 4294967294 bytes): 1073741826 bytes over"},
      {many, "the archive has 66000 entries; the self-extractor reads at most 65535 (the classic ZIP limit): 465 too many"},
      // 3 GiB of data, three local headers of 30 + 8 + 20 bytes, three central
      // ones of 46 + 8 + 28, the ZIP64 end record (56), its locator (20) and
      // the end record (22): 3221225472 + 518 bytes.
      {large, "the archive is 3221225990 bytes (3.0 GiB); the self-extractor reads archives under 2 GiB "
              "(at most 2147483647 bytes): 1073742343 bytes over"},
  };
  for (const Case& c : cases) {
    std::string exe = work + "/out.exe";
    auto started = std::chrono::steady_clock::now();
    CommandResult built = RunSfx({"build", "-o", exe, "--zip", c.archive});
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(built.status, kExitFailure) << c.archive;
    EXPECT_EQ(built.err, "dravik-sfx build: " + c.archive + ": " + c.refusal + "\n");
    EXPECT_LT(seconds, 1.0) << c.archive;
    EXPECT_NE(access(exe.c_str(), F_OK), 0) << c.archive;
  }
}

// ZIP64 records whose values all fit are read, and the self-extractor gets
// classic records: no ZIP64 end record or locator, no ZIP64 extra field,
// "version needed" 2.0. Python's force_zip64 writes ZIP64 local extra
// fields; Info-ZIP reading from a pipe (`cat file | zip - -`) adds ZIP64
// end records and a ZIP64 descriptor.
TEST(WrapZip, Zip64RecordsThatFitAreWrittenClassic) {
  RequireTool("zip");
  std::string work = MakeTempFolder();
  std::string fromPython = work + "/python.zip", fromPipe = work + "/pipe.zip";
  ASSERT_EQ(RunShell("python3 -c " + ShellQuote("import sys, zipfile\n"
                                                "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                                                "    for n in ('a.txt', 'b.txt'):\n"
                                                "        with z.open(n, 'w', force_zip64=True) as f: f.write(n.encode() * 500)\n") +
                     " " + ShellQuote(fromPython)).status, 0);
  ASSERT_EQ(RunShell("seq 1 3000 | zip -q - - > " + ShellQuote(fromPipe)).status, 0);
  ASSERT_NE(ReadFile(fromPipe).size(), 0u);
  for (const std::string& archive : {fromPython, fromPipe}) {
    SCOPED_TRACE(archive);
    std::string exe = archive + ".exe";
    CommandResult built = RunSfx({"build", "-o", exe, "--zip", archive});
    ASSERT_EQ(built.status, 0) << built.err;
    ExpectReadersAccept(exe);
    CommandResult classic = RunShell("python3 -c " + ShellQuote("import sys, zipfile\n"
                                                                "data = open(sys.argv[1], 'rb').read()\n"
                                                                "assert b'PK\\x06\\x06' not in data and b'PK\\x06\\x07' not in data\n"
                                                                "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
                                                                "    assert b'\\x01\\x00' != i.extra[:2], i.extra\n"
                                                                "    assert i.extract_version == 20, i.extract_version\n") +
                                     " " + ShellQuote(exe));
    EXPECT_EQ(classic.status, 0) << classic.err;
  }
}

// Entries in methods the stub cannot read are re-encoded: every reader
// accepts the result without warnings, the files come out the same, and
// `info` says what each entry was.
TEST(WrapZip, ReencodedEntriesPassEveryReader) {
  for (const char* tool : {"unzip", "7z"}) RequireTool(tool);
  std::string work = MakeTempFolder(), tree = work + "/tree";
  MakeSourceTree(tree);
  struct Case {
    const char* method;
    const char* words;
  } cases[] = {{"ZIP_BZIP2", "bzip2 (method 12)"}, {"ZIP_LZMA", "LZMA (method 14)"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    std::string archive = work + "/" + c.method + ".zip", exe = work + "/" + c.method + ".exe", unpacked = work + "/" + c.method;
    ASSERT_EQ(RunShell("cd " + ShellQuote(tree) + " && python3 -c " +
                       ShellQuote(std::string("import os, sys, zipfile\n"
                                              "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.") + c.method + ")\n"
                                              "for d, _, fs in sorted(os.walk('.')):\n"
                                              "    [z.write(os.path.join(d, f)) for f in sorted(fs)]\n"
                                              "z.close()") + " " + ShellQuote(archive)).status, 0);
    CommandResult built = RunSfx({"build", "-o", exe, "--zip", archive});
    ASSERT_EQ(built.status, 0) << built.err;
    ExpectReadersAccept(exe);
    ExpectUnzipsTo(exe, tree, unpacked);
    CommandResult info = RunSfx({"info", exe});
    EXPECT_NE(info.out.find(std::string("(re-encoded from ") + c.words + ")"), std::string::npos) << info.out;
    // The same archive and options give the same self-extractor.
    std::string again = exe + ".again";
    ASSERT_EQ(RunSfx({"build", "-o", again, "--zip", archive}).status, 0);
    EXPECT_EQ(ReadFile(again), ReadFile(exe));
  }
}

// ZIP64 end records behind a prefix (another self-extractor's stub, say):
// the ZIP64 end record is found before its locator, and the prefix dropped.
TEST(WrapZip, Zip64EndRecordsBehindAPrefix) {
  RequireTool("zip");
  std::string work = MakeTempFolder();
  std::string archive = work + "/in.zip", exe = work + "/out.exe";
  std::string plain = work + "/plain.zip";  // from a pipe into a file: ZIP64 end records
  ASSERT_EQ(RunShell("seq 1 3000 | zip -q - - > " + ShellQuote(plain) + " && (head -c 999 /dev/urandom; cat " +
                     ShellQuote(plain) + ") > " + ShellQuote(archive)).status, 0);
  std::vector<uint8_t> bytes = ReadFile(archive);
  const uint8_t zip64EndRecord[] = {'P', 'K', 6, 6};
  ASSERT_NE(std::search(bytes.begin() + 999, bytes.end(), zip64EndRecord, zip64EndRecord + 4), bytes.end());
  CommandResult built = RunSfx({"build", "-o", exe, "--zip", archive});
  ASSERT_EQ(built.status, 0) << built.err;
  ExpectReadersAccept(exe);
}

// AES entries, as 7-Zip writes them (AE-2: no CRC-32 recorded): refused
// without a password, in the words the publisher needs, with no output;
// refused with a wrong one; with the right one decrypted, checked and
// encrypted again the traditional way, the same files coming out.
TEST(WrapZip, AesEntriesNeedThePassword) {
  for (const char* tool : {"7z", "unzip"}) RequireTool(tool);
  std::string work = MakeTempFolder(), tree = work + "/tree";
  MakeSourceTree(tree);
  for (const char* options : {"-mem=AES256", "-mem=AES128 -mm=BZip2"}) {
    SCOPED_TRACE(options);
    std::string archive = work + "/aes.zip", exe = work + "/aes.exe", unpacked = work + "/unpacked";
    RunShell("rm -rf " + ShellQuote(archive) + " " + ShellQuote(exe) + " " + ShellQuote(unpacked));
    ASSERT_EQ(RunShell("cd " + ShellQuote(tree) + " && 7z a -tzip -bd -pS3cret " + options + " " + ShellQuote(archive) +
                       " . >/dev/null").status, 0);
    CommandResult refused = RunSfx({"build", "-o", exe, "--zip", archive});
    EXPECT_EQ(refused.status, kExitFailure);
    EXPECT_EQ(LineCount(refused.err), 1) << refused.err;
    EXPECT_NE(refused.err.find("is AES-encrypted; the self-extractor reads traditional ZIP encryption only: re-create the "
                               "archive with ZipCrypto, or build from the files with --password"),
              std::string::npos) << refused.err;
    EXPECT_NE(access(exe.c_str(), F_OK), 0);
    CommandResult wrong = RunSfx({"build", "-o", exe, "--zip", archive, "--password", "s3cret"});
    EXPECT_EQ(wrong.status, kExitFailure);
    EXPECT_NE(wrong.err.find("is AES-encrypted with another password than the one given"), std::string::npos) << wrong.err;
    EXPECT_NE(access(exe.c_str(), F_OK), 0);
    CommandResult built = RunSfx({"build", "-o", exe, "--zip", archive, "--password", "S3cret"});
    ASSERT_EQ(built.status, 0) << built.err;
    CommandResult tested = RunShell("unzip -t -P S3cret " + ShellQuote(exe));
    EXPECT_EQ(tested.status, 0) << tested.out;
    CommandResult selfTest = RunSfx({"test", exe, "--password", "S3cret"});
    EXPECT_EQ(selfTest.status, 0) << selfTest.err;
    ASSERT_EQ(RunSfx({"extract", exe, "-d", unpacked, "--password", "S3cret"}).status, 0);
    CommandResult compared = RunShell("diff -r " + ShellQuote(tree) + " " + ShellQuote(unpacked));
    EXPECT_EQ(compared.status, 0) << compared.out;
  }
}

}  // namespace
