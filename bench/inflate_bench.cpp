// Decoder benchmark: every deflated entry of a ZIP archive decoded memory to
// memory by the stub's decoder (InflateToMemory), by zlib's raw inflate and
// by libdeflate; the three outputs must agree byte for byte (and with the
// CRC in the central directory). Prints MB/s for each (best of a few runs)
// and the ratio of our time to zlib's and to libdeflate's.
//
// Usage: inflate_bench ZIP [--runs N] [--limit BYTES] [--decoder ours|zlib|libdeflate|all] [--no-check]
//   --limit    only the first entries, up to BYTES of output in all (a
//              slice for callgrind, which counts the Decode* functions)
//   --no-check skip the comparison run
//
// The archive is our own benchmark corpus (bench/make_corpus.sh), read
// whole; its records are trusted only as far as the bounds checks below.
#include "archive/inflate.h"
#include "base/sfx_state.h"

#include <libdeflate.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// One deflated entry: its raw stream, its size and CRC from the central
// directory.
struct Entry {
  const uint8_t* stream;
  size_t streamSize;
  size_t size;
  uint32_t crc;
};

uint32_t U16(const std::vector<uint8_t>& b, size_t at) { return b[at] | b[at + 1] << 8; }
uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

[[noreturn]] void Fail(const std::string& why) {
  fprintf(stderr, "inflate_bench: %s\n", why.c_str());
  exit(1);
}

// Format notes: the end record (PK\5\6, 22 bytes and a comment of up to
// 65,535) gives the central directory's offset and entry count; each central
// header (PK\1\2) gives method, sizes, CRC and the local header's offset; the
// data starts after the local header's own name and extra field, whose
// lengths may differ from the central header's.
std::vector<Entry> DeflatedEntries(const std::vector<uint8_t>& zip) {
  if (zip.size() < 22) Fail("not a ZIP archive");
  size_t end = zip.size() - 22;
  while (U32(zip, end) != 0x06054B50) {
    if (end == 0 || zip.size() - end > 22 + 65535) Fail("no end record");
    end--;
  }
  size_t count = U16(zip, end + 10), at = U32(zip, end + 16);
  std::vector<Entry> entries;
  for (size_t i = 0; i < count; i++) {
    if (at + 46 > zip.size() || U32(zip, at) != 0x02014B50) Fail("bad central header");
    uint32_t method = U16(zip, at + 10), crc = U32(zip, at + 16);
    size_t compressed = U32(zip, at + 20), size = U32(zip, at + 24);
    size_t local = U32(zip, at + 42);
    if (local + 30 > zip.size() || U32(zip, local) != 0x04034B50) Fail("bad local header");
    size_t data = local + 30 + U16(zip, local + 26) + U16(zip, local + 28);
    if (data + compressed > zip.size()) Fail("entry data past the archive's end");
    if (method == 8) entries.push_back({zip.data() + data, compressed, size, crc});
    at += 46 + U16(zip, at + 28) + U16(zip, at + 30) + U16(zip, at + 32);
  }
  return entries;
}

// The three decoders, each over all entries into `out` (one buffer per
// entry); false if any entry fails. Not inlined, so that callgrind can count
// each one alone (--toggle-collect).
__attribute__((noinline)) bool DecodeAllOurs(const std::vector<Entry>& entries, std::vector<std::vector<uint8_t>>& out) {
  for (size_t i = 0; i < entries.size(); i++) {
    const Entry& e = entries[i];
    if (InflateToMemory(e.stream, static_cast<UINT>(e.streamSize), out[i].data(), static_cast<UINT>(e.size)) !=
            kInflateOk ||
        Sfx.BlockCursor != out[i].data() + e.size)
      return false;
  }
  return true;
}

__attribute__((noinline)) bool DecodeAllZlib(const std::vector<Entry>& entries, std::vector<std::vector<uint8_t>>& out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  bool ok = true;
  for (size_t i = 0; i < entries.size() && ok; i++) {
    const Entry& e = entries[i];
    inflateReset(&z);
    z.next_in = const_cast<Bytef*>(e.stream);
    z.avail_in = static_cast<uInt>(e.streamSize);
    z.next_out = out[i].data();
    z.avail_out = static_cast<uInt>(e.size);
    ok = inflate(&z, Z_FINISH) == Z_STREAM_END && z.total_out == e.size;
  }
  inflateEnd(&z);
  return ok;
}

__attribute__((noinline)) bool DecodeAllLibdeflate(const std::vector<Entry>& entries,
                                                   std::vector<std::vector<uint8_t>>& out) {
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  bool ok = true;
  for (size_t i = 0; i < entries.size() && ok; i++) {
    const Entry& e = entries[i];
    size_t actual;
    ok = libdeflate_deflate_decompress(d, e.stream, e.streamSize, out[i].data(), e.size, &actual) ==
             LIBDEFLATE_SUCCESS &&
         actual == e.size;
  }
  libdeflate_free_decompressor(d);
  return ok;
}

using DecodeAll = bool (*)(const std::vector<Entry>&, std::vector<std::vector<uint8_t>>&);

struct Decoder {
  const char* name;
  DecodeAll decode;
  double bestSeconds;
};

std::vector<std::vector<uint8_t>> Buffers(const std::vector<Entry>& entries) {
  std::vector<std::vector<uint8_t>> out(entries.size());
  for (size_t i = 0; i < entries.size(); i++) out[i].assign(entries[i].size + 1, 0);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) Fail("usage: inflate_bench ZIP [--runs N] [--limit BYTES] [--decoder NAME] [--no-check]");
  int runs = 3;
  size_t limit = 0;
  std::string only = "all";
  bool check = true;
  for (int i = 2; i < argc; i++) {
    std::string arg = argv[i];
    if (arg == "--runs" && i + 1 < argc) runs = atoi(argv[++i]);
    else if (arg == "--limit" && i + 1 < argc) limit = strtoull(argv[++i], nullptr, 10);
    else if (arg == "--decoder" && i + 1 < argc) only = argv[++i];
    else if (arg == "--no-check") check = false;
    else Fail("unknown option " + arg);
  }
  std::ifstream file(argv[1], std::ios::binary);
  if (!file) Fail(std::string("cannot open ") + argv[1]);
  std::vector<uint8_t> zip((std::istreambuf_iterator<char>(file)), {});
  std::vector<Entry> entries = DeflatedEntries(zip);
  size_t totalOut = 0, totalIn = 0, kept = 0;
  for (const Entry& e : entries) {
    if (limit && totalOut + e.size > limit && kept) break;
    totalOut += e.size;
    totalIn += e.streamSize;
    kept++;
  }
  entries.resize(kept);

  std::vector<BYTE> window(kSlideWindowAlloc);
  Sfx.SlideWindow = window.data();

  Decoder decoders[] = {{"ours", DecodeAllOurs, 0}, {"zlib", DecodeAllZlib, 0}, {"libdeflate", DecodeAllLibdeflate, 0}};
  printf("%zu deflated entries, %.1f MB compressed, %.1f MB of output\n", entries.size(), totalIn / 1e6,
         totalOut / 1e6);

  if (check) {  // all three agree with each other and with the stored CRCs
    std::vector<std::vector<uint8_t>> outputs[3];
    for (int d = 0; d < 3; d++) {
      outputs[d] = Buffers(entries);
      if (!decoders[d].decode(entries, outputs[d])) Fail(std::string(decoders[d].name) + " failed to decode");
    }
    for (size_t i = 0; i < entries.size(); i++) {
      if (outputs[0][i] != outputs[1][i] || outputs[0][i] != outputs[2][i]) Fail("outputs differ");
      if (crc32(0, outputs[0][i].data(), static_cast<uInt>(entries[i].size)) != entries[i].crc) Fail("CRC differs");
    }
    printf("outputs agree (and match the archive's CRCs)\n");
  }

  std::vector<std::vector<uint8_t>> out = Buffers(entries);
  for (Decoder& d : decoders) {
    if (only != "all" && only != d.name) continue;
    for (int run = 0; run < runs; run++) {
      auto start = std::chrono::steady_clock::now();
      if (!d.decode(entries, out)) Fail(std::string(d.name) + " failed to decode");
      double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      if (run == 0 || seconds < d.bestSeconds) d.bestSeconds = seconds;
    }
    printf("%-10s %8.1f MB/s  (best of %d: %.3f s)\n", d.name, totalOut / 1e6 / d.bestSeconds, runs, d.bestSeconds);
  }
  if (only == "all") {
    printf("ours / zlib:       %.2f\n", decoders[0].bestSeconds / decoders[1].bestSeconds);
    printf("ours / libdeflate: %.2f\n", decoders[0].bestSeconds / decoders[2].bestSeconds);
  }
  return 0;
}
