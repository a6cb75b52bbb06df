// Re-encoding entries (see zip_reencode.h).
//
// The decoding libraries, and why: libbz2, liblzma and libzstd are the
// reference implementations of their formats, kept by their authors and
// shipped by every distribution; each is handed exactly one entry's bytes
// and an output bound, nothing else. libarchive would cover the same
// methods, but through its own ZIP reader: it would find the entries and
// their data by its own reading of the archive's records, which can differ
// from ours on a hostile archive; here the records are read once, by
// zip_reader, under its checks, and a library only ever sees a byte range.
// Deflate64 has no library in Debian (zlib's infback9 is an unbuilt
// contribution), so deflate64_decoder.cpp decodes it.
//
// Format notes, per method, on the entry's data as the ZIP stores it:
// - bzip2 (12): one complete bzip2 stream ("BZh" and its blocks).
// - LZMA (14): 2 bytes of LZMA SDK version, 2 bytes of properties size
//   (5), the 5 property bytes (lc/lp/pb and dictionary size), then the raw
//   LZMA stream, which ends with an end marker only when flag bit 1 says
//   so; without one it ends when the recorded size has been produced.
// - Zstandard (93): one or more complete Zstandard frames.
// - XZ (95): one complete .xz stream, with its own integrity check.
// - Deflate64 (9): deflate with a 64 KiB window (deflate64_decoder.h).
//
// Trust: an entry's data is untrusted. Each decoder writes at most `limit`
// bytes and reports anything beyond; the libraries' own memory is bounded
// (LZMA's dictionary by the entry's recorded size, XZ's by
// kXzMemoryLimit, libzstd by its default window limit of 128 MiB, libbz2
// by its format's 900 kB blocks).
#include "builder/zip_reencode.h"

#include "builder/deflate64_decoder.h"
#include "builder/deflate_pool.h"
#include "builder/zip_from_files.h"

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr uint16_t kVersionDeflate = 20;
constexpr uint16_t kFlagMethodOptions = 0x6;   // bits 1 and 2: the method's options (deflate level, LZMA end marker)
constexpr uint16_t kFlagLzmaEndMarker = 0x2;   // bit 1 with LZMA: the stream ends with an end marker
constexpr uint64_t kXzMemoryLimit = 1u << 30;  // XZ's dictionary: 64 MiB at its highest preset; hostile streams ask more
constexpr unsigned kLzmaHeaderSize = 4;        // version (2), properties size (2)
constexpr unsigned kLzmaPropertiesSize = 5;
constexpr size_t kChunk = 1 << 16;
constexpr size_t kLargestStep = 1u << 30;  // what one library call is given, to fit its 32-bit counts

// An output buffer that grows as a decoder fills it, up to `limit` bytes
// and one more (which shows that the data decodes to more than `limit`).
struct Output {
  std::vector<uint8_t>* bytes;
  uint64_t limit;
  size_t used = 0;

  // Room for the next step, at bytes->data() + used; 0 when the buffer
  // already holds more than `limit` bytes.
  size_t Room() {
    if (used > limit) return 0;
    if (used == bytes->size())
      bytes->resize(static_cast<size_t>(std::min<uint64_t>(limit + 1, std::max(kChunk, used * 2))));
    return std::min(bytes->size() - used, kLargestStep);
  }
  uint8_t* Next() { return bytes->data() + used; }
  bool Overran() const { return used > limit; }
  void Finish() { bytes->resize(static_cast<size_t>(std::min<uint64_t>(used, limit))); }  // the probe byte dropped
};

bool Fail(std::string* error, const std::string& why) {
  *error = why;
  return false;
}

bool DecodeBzip2(const uint8_t* data, size_t size, Output* out, std::string* error) {
  bz_stream s{};
  if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK) return Fail(error, "out of memory");
  s.next_in = const_cast<char*>(reinterpret_cast<const char*>(data));
  s.avail_in = static_cast<unsigned>(size);  // under 4 GiB: the reader's limit
  int status = BZ_OK;
  while (status == BZ_OK) {
    size_t room = out->Room();
    if (!room) break;
    s.next_out = reinterpret_cast<char*>(out->Next());
    s.avail_out = static_cast<unsigned>(room);
    status = BZ2_bzDecompress(&s);
    out->used += room - s.avail_out;
    if (status == BZ_OK && s.avail_in == 0 && s.avail_out == room) break;  // no input left, no progress
  }
  BZ2_bzDecompressEnd(&s);
  if (out->Overran()) return Fail(error, "it decodes to more bytes than its directory entry says");
  if (status != BZ_STREAM_END) return Fail(error, status == BZ_OK ? "the bzip2 stream is cut short" : "the bzip2 stream is damaged");
  return true;
}

// Runs a liblzma decoder over all of the input; `endless` says the stream
// has no end marker and ends once `limit` bytes have come out.
bool RunLzma(lzma_stream* s, const uint8_t* data, size_t size, Output* out, bool endless, std::string* error,
             const char* what) {
  s->next_in = data;
  s->avail_in = size;
  lzma_ret status = LZMA_OK;
  while (status == LZMA_OK) {
    size_t room = out->Room();
    if (!room) break;
    s->next_out = out->Next();
    s->avail_out = endless ? std::min<uint64_t>(room, out->limit - out->used) : room;
    if (endless && s->avail_out == 0) break;  // the recorded size is reached: the stream's end
    size_t given = s->avail_out;
    status = lzma_code(s, LZMA_FINISH);
    out->used += given - s->avail_out;
  }
  lzma_end(s);
  if (out->Overran()) return Fail(error, "it decodes to more bytes than its directory entry says");
  if (status == LZMA_STREAM_END || (endless && status == LZMA_OK && out->used == out->limit)) return true;
  if (status == LZMA_MEMLIMIT_ERROR || status == LZMA_MEM_ERROR)
    return Fail(error, std::string("the ") + what + " stream asks for more memory than allowed");
  return Fail(error, std::string("the ") + what + (status == LZMA_BUF_ERROR ? " stream is cut short" : " stream is damaged"));
}

bool DecodeLzma(const uint8_t* data, size_t size, bool endMarked, Output* out, std::string* error) {
  if (size < kLzmaHeaderSize + kLzmaPropertiesSize || GetLe16(data + 2) != kLzmaPropertiesSize)
    return Fail(error, "the LZMA header is damaged");
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
  if (lzma_properties_decode(&filters[0], nullptr, data + kLzmaHeaderSize, kLzmaPropertiesSize) != LZMA_OK)
    return Fail(error, "the LZMA properties are damaged");
  // The dictionary is allocated at the size the (untrusted) properties ask
  // for, up to 4 GiB; no match reaches back further than the output, so a
  // dictionary of the recorded size decodes the same stream.
  auto* options = static_cast<lzma_options_lzma*>(filters[0].options);
  options->dict_size = static_cast<uint32_t>(
      std::min<uint64_t>(options->dict_size, std::max<uint64_t>(LZMA_DICT_SIZE_MIN, out->limit)));
  lzma_stream s = LZMA_STREAM_INIT;
  lzma_ret status = lzma_raw_decoder(&s, filters);
  free(filters[0].options);
  if (status != LZMA_OK) return Fail(error, "the LZMA properties are not supported");
  size_t skipped = kLzmaHeaderSize + kLzmaPropertiesSize;
  return RunLzma(&s, data + skipped, size - skipped, out, !endMarked, error, "LZMA");
}

bool DecodeXz(const uint8_t* data, size_t size, Output* out, std::string* error) {
  lzma_stream s = LZMA_STREAM_INIT;
  if (lzma_stream_decoder(&s, kXzMemoryLimit, 0) != LZMA_OK) return Fail(error, "out of memory");
  return RunLzma(&s, data, size, out, false, error, "XZ");
}

bool DecodeZstandard(const uint8_t* data, size_t size, Output* out, std::string* error) {
  ZSTD_DStream* s = ZSTD_createDStream();
  if (!s) return Fail(error, "out of memory");
  ZSTD_inBuffer in{data, size, 0};
  size_t status = 1;  // 0 once a frame is complete
  while (!ZSTD_isError(status) && (in.pos < in.size || status != 0)) {
    size_t room = out->Room();
    if (!room) break;
    ZSTD_outBuffer o{out->Next(), room, 0};
    size_t before = in.pos;
    status = ZSTD_decompressStream(s, &o, &in);
    out->used += o.pos;
    if (!ZSTD_isError(status) && status != 0 && in.pos == in.size && before == in.pos && o.pos == 0) break;  // stuck
  }
  ZSTD_freeDStream(s);
  if (out->Overran()) return Fail(error, "it decodes to more bytes than its directory entry says");
  if (ZSTD_isError(status)) return Fail(error, std::string("the Zstandard stream is damaged: ") + ZSTD_getErrorName(status));
  if (status != 0) return Fail(error, "the Zstandard stream is cut short");
  return true;
}

bool DecodeDeflate64(const uint8_t* data, size_t size, Output* out, std::string* error) {
  std::string why;
  if (!Inflate64(data, size, out->limit, out->bytes, &why)) return Fail(error, "the Deflate64 stream " + why);
  out->used = out->bytes->size();
  return true;
}

void AppendReencodedExtra(ZipEntry* e, uint16_t method) {
  PutLe16(e->centralExtra, kReencodedExtraId);
  PutLe16(e->centralExtra, 2);
  PutLe16(e->centralExtra, method);
}

}  // namespace

std::string MethodInWords(uint16_t method) {
  static const std::pair<uint16_t, const char*> kNames[] = {
      {0, "stored"},        {1, "Shrink"},      {2, "Reduce"},         {3, "Reduce"},  {4, "Reduce"},
      {5, "Reduce"},        {6, "Implode"},     {8, "deflate"},        {9, "Deflate64"}, {10, "PKWARE DCL Implode"},
      {12, "bzip2"},        {14, "LZMA"},       {16, "IBM z/OS CMPSC"}, {18, "IBM TERSE"}, {19, "IBM LZ77"},
      {20, "an early Zstandard"}, {93, "Zstandard"}, {94, "MP3"},   {95, "XZ"},     {96, "JPEG"},
      {97, "WavPack"},      {98, "PPMd"},       {99, "AES encryption"}};
  for (const auto& [id, name] : kNames)
    if (id == method) return std::string(name) + " (method " + std::to_string(method) + ")";
  return "an unknown method (" + std::to_string(method) + ")";
}

bool CanReencode(uint16_t method) {
  return method == kMethodBzip2 || method == kMethodLzma || method == kMethodXz || method == kMethodZstandard ||
         method == kMethodDeflate64;
}

uint16_t ReencodedFrom(const ZipEntry& entry) {
  const std::vector<uint8_t>& x = entry.centralExtra;
  for (size_t at = 0; at + 4 <= x.size();) {
    uint16_t id = GetLe16(&x[at]), size = GetLe16(&x[at + 2]);
    if (at + 4 + size > x.size()) break;
    if (id == kReencodedExtraId && size == 2) return GetLe16(&x[at + 4]);
    at += 4 + size;
  }
  return 0;
}

bool DecodeEntryData(uint16_t method, uint16_t flags, const uint8_t* data, size_t size, uint64_t limit,
                     std::vector<uint8_t>* out_ret, std::string* error_ret) {
  out_ret->clear();
  Output out{out_ret, limit};
  bool decoded = method == kMethodBzip2       ? DecodeBzip2(data, size, &out, error_ret)
                 : method == kMethodLzma      ? DecodeLzma(data, size, (flags & kFlagLzmaEndMarker) != 0, &out, error_ret)
                 : method == kMethodXz        ? DecodeXz(data, size, &out, error_ret)
                 : method == kMethodZstandard ? DecodeZstandard(data, size, &out, error_ret)
                 : method == kMethodDeflate64 ? DecodeDeflate64(data, size, &out, error_ret)
                                              : Fail(error_ret, "the builder cannot decode it");
  out.Finish();
  return decoded;
}

bool ReencodeEntries(ZipArchive* archive, int level, std::string* error_ret) {
  for (ZipEntry& e : archive->entries) {
    if (!CanReencode(e.method)) continue;
    std::string what = "the data of \"" + e.name + "\" (" + MethodInWords(e.method) + ")";
    std::vector<uint8_t> plain;
    std::string why;
    if (!DecodeEntryData(e.method, e.flags, e.data.data(), e.data.size(), e.uncompressedSize, &plain, &why))
      return Fail(error_ret, what + " cannot be decoded: " + why);
    if (plain.size() != e.uncompressedSize)
      return Fail(error_ret, what + " holds " + std::to_string(plain.size()) + " bytes; its directory entry says " +
                                 std::to_string(e.uncompressedSize));
    uint32_t crc = static_cast<uint32_t>(crc32(0, plain.data(), static_cast<uInt>(plain.size())));
    if (crc != e.crc32) {
      char numbers[64];
      snprintf(numbers, sizeof numbers, "%08x; its directory entry says %08x", crc, e.crc32);
      return Fail(error_ret, what + " has the CRC-32 " + numbers);
    }
    std::vector<uint8_t> deflated;
    if (level > 0 && !plain.empty()) deflated = Deflate(plain, level);
    AppendReencodedExtra(&e, e.method);
    bool shrinks = !deflated.empty() && deflated.size() < plain.size();
    e.method = shrinks ? kMethodDeflated : kMethodStored;
    e.data = shrinks ? std::move(deflated) : std::move(plain);
    e.versionNeeded = kVersionDeflate;
    e.flags &= ~kFlagMethodOptions;
  }
  return true;
}
