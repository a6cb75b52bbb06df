// The deflate decoder on streams written by other people's encoders: every
// deflated entry of archives made by Info-ZIP zip, 7-Zip and Python's
// zipfile, at low and high levels, and libdeflate's raw streams at its
// fastest and strongest levels (those dravik-sfx writes), decodes to exactly
// the original file.
#include "archive/inflate.h"
#include "base/sfx_state.h"
#include "stub_fixture.h"

#include <gtest/gtest.h>
#include <libdeflate.h>

#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

// A raw deflate stream of one entry, found through the central directory.
struct DeflatedEntry {
  std::string name;
  std::vector<uint8_t> stream;
  uint32_t size;
};

uint16_t U16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

// Format notes: the end record (PK\5\6) is the last record unless a comment
// follows it; it gives the central directory's offset and entry count. Each
// central header (PK\1\2) gives the local header's offset and the sizes,
// which local headers of streamed entries leave at 0.
std::vector<DeflatedEntry> DeflatedEntries(const std::vector<uint8_t>& zip) {
  size_t end = zip.size() - 22;
  while (GetU32(zip, end) != 0x06054B50) end--;
  uint16_t count = U16(zip, end + 10);
  size_t at = GetU32(zip, end + 16);
  std::vector<DeflatedEntry> entries;
  for (uint16_t i = 0; i < count; i++) {
    EXPECT_EQ(GetU32(zip, at), 0x02014B50u);
    uint16_t method = U16(zip, at + 10);
    uint32_t compressed = GetU32(zip, at + 20), size = GetU32(zip, at + 24);
    uint16_t nameLength = U16(zip, at + 28), extraLength = U16(zip, at + 30), commentLength = U16(zip, at + 32);
    uint32_t local = GetU32(zip, at + 42);
    std::string name(zip.begin() + at + 46, zip.begin() + at + 46 + nameLength);
    size_t data = local + 30 + U16(zip, local + 26) + U16(zip, local + 28);
    if (method == 8)
      entries.push_back({name, std::vector<uint8_t>(zip.begin() + data, zip.begin() + data + compressed), size});
    at += 46 + nameLength + extraLength + commentLength;
  }
  return entries;
}

// The source files: text, random bytes, long runs, an executable, and sizes
// around the window's 32 KiB.
std::map<std::string, std::vector<uint8_t>> MakeSources(const std::string& folder) {
  std::map<std::string, std::vector<uint8_t>> files;
  std::mt19937 random(7);
  std::string text;
  for (int i = 0; i < 4000; i++) text += "line " + std::to_string(i * 7919 % 1000) + " of a text file\n";
  files["text.txt"] = std::vector<uint8_t>(text.begin(), text.end());
  std::vector<uint8_t> noise(70000);
  for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
  files["noise.bin"] = noise;
  files["runs.bin"] = std::vector<uint8_t>(100000, 'a');
  files["window.bin"] = std::vector<uint8_t>(noise.begin(), noise.begin() + 32768);
  files["window1.bin"] = std::vector<uint8_t>(noise.begin(), noise.begin() + 32769);
  files["tool.bin"] = ReadFile("/usr/bin/zip");
  for (const auto& [name, bytes] : files) WriteFile(folder + "/" + name, bytes);
  return files;
}

int RunQuietly(const std::string& command) { return system((command + " >/dev/null 2>&1").c_str()); }

// Decodes one raw deflate stream with the stub's decoder; expects it to end
// well and give exactly `original`.
void ExpectDecodesTo(const std::vector<uint8_t>& stream, const std::vector<uint8_t>& original, const std::string& name) {
  static std::vector<BYTE> window(kSlideWindowAlloc);
  ResetStubAndHost();
  Sfx.SlideWindow = window.data();
  std::vector<uint8_t> out(original.size());
  int result = InflateToMemory(stream.data(), static_cast<UINT>(stream.size()), out.data(), static_cast<UINT>(out.size()));
  EXPECT_EQ(result, kInflateOk) << name;
  EXPECT_TRUE(out == original) << name << " differs from the original";
}

// libdeflate's raw deflate stream of `data` at `level` (1 to 12).
std::vector<uint8_t> LibdeflateStream(const std::vector<uint8_t>& data, int level) {
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
  std::vector<uint8_t> stream(libdeflate_deflate_compress_bound(compressor, data.size()));
  size_t size = libdeflate_deflate_compress(compressor, data.data(), data.size(), stream.data(), stream.size());
  libdeflate_free_compressor(compressor);
  stream.resize(size);
  return stream;
}

TEST(InflatePeers, EveryDeflatedEntryOfPeerArchivesDecodes) {
  std::string folder = MakeTempFolder();
  std::string sources = folder + "/src";
  ASSERT_EQ(RunQuietly("mkdir " + sources), 0);
  std::map<std::string, std::vector<uint8_t>> files = MakeSources(sources);
  const std::string python = "python3 -c \"import zipfile,os,sys; os.chdir(sys.argv[1]); "
                             "z=zipfile.ZipFile(sys.argv[2],'w',zipfile.ZIP_DEFLATED,compresslevel=int(sys.argv[3])); "
                             "[z.write(n) for n in sorted(os.listdir('.'))]; z.close()\" ";
  const std::pair<std::string, std::string> makers[] = {
      {"zip -1", "cd " + sources + " && zip -q -1 ../zip1.zip *"},
      {"zip -6", "cd " + sources + " && zip -q -6 ../zip6.zip *"},
      {"zip -9", "cd " + sources + " && zip -q -9 ../zip9.zip *"},
      {"7z mx1", "cd " + sources + " && 7z a -tzip -mm=Deflate -mx=1 ../7z1.zip *"},
      {"7z mx9", "cd " + sources + " && 7z a -tzip -mm=Deflate -mx=9 ../7z9.zip *"},
      {"zipfile 1", python + sources + " " + folder + "/py1.zip 1"},
      {"zipfile 9", python + sources + " " + folder + "/py9.zip 9"},
  };
  const char* outputs[] = {"zip1", "zip6", "zip9", "7z1", "7z9", "py1", "py9"};
  for (size_t m = 0; m < std::size(makers); m++) {
    SCOPED_TRACE(makers[m].first);
    ASSERT_EQ(RunQuietly(makers[m].second), 0) << makers[m].second;
    std::vector<DeflatedEntry> entries = DeflatedEntries(ReadFile(folder + "/" + outputs[m] + ".zip"));
    EXPECT_GE(entries.size(), 3u);  // the random files may be stored
    for (const DeflatedEntry& entry : entries) ExpectDecodesTo(entry.stream, files[entry.name], entry.name);
  }
}

// Level 1 is libdeflate's fastest parse, level 12 its near-optimal one (the
// builder's default): the two ends of what dravik-sfx writes. Every source,
// incompressible ones included (where libdeflate falls back to stored
// blocks), is deflated whole.
TEST(InflatePeers, LibdeflateStreamsAtLevels1And12Decode) {
  std::string folder = MakeTempFolder();
  std::map<std::string, std::vector<uint8_t>> files = MakeSources(folder);
  for (int level : {1, 12}) {
    SCOPED_TRACE("libdeflate level " + std::to_string(level));
    for (const auto& [name, bytes] : files) ExpectDecodesTo(LibdeflateStream(bytes, level), bytes, name);
  }
}

}  // namespace
