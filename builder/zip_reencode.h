// Re-encoding the entries of a wrapped archive that the self-extractor
// cannot read: an entry compressed with bzip2, LZMA, XZ, Zstandard or
// Deflate64 is decoded here, its size and CRC-32 checked against its
// directory entry, and deflated again with the builder's own deflate. Every
// other entry, and everything else about a re-encoded one (name, times,
// attributes, comment, extra fields), is kept as it is.
//
// A re-encoded entry carries a small extra field in its central header only
// (the stub reads local headers), so that `info` can say what it was:
//   id 0x4B44 ("DK"), 2 bytes of data: the original compression method.
// Readers skip extra fields they do not know.
#pragma once

#include "builder/zip_model.h"

#include <cstdint>
#include <string>

constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;
constexpr uint16_t kMethodDeflate64 = 9;
constexpr uint16_t kMethodBzip2 = 12;
constexpr uint16_t kMethodLzma = 14;
constexpr uint16_t kMethodZstandard = 93;
constexpr uint16_t kMethodXz = 95;
constexpr uint16_t kMethodPpmd = 98;
constexpr uint16_t kMethodAes = 99;  // WinZip AES: encryption, the real method in its extra field
constexpr uint16_t kReencodedExtraId = 0x4B44;

// The compression method in words: "bzip2 (method 12)".
std::string MethodInWords(uint16_t method);

// True for the methods the builder decodes and re-encodes.
bool CanReencode(uint16_t method);

// The method an entry had before the builder re-encoded it, from its
// central extra field; 0 when it was not re-encoded.
uint16_t ReencodedFrom(const ZipEntry& entry);

// Re-encodes every entry whose method CanReencode (entries that are not
// encrypted: the reader refuses the others) with deflate at `level` (0,
// or data that does not shrink, stores). False with *error_ret naming the
// entry and its method when its data does not decode to the size and
// CRC-32 its directory entry records.
bool ReencodeEntries(ZipArchive* archive, int level, std::string* error_ret);

// The decoders, one per method, for tests. Each decodes `size` bytes of
// untrusted data into at most `limit` bytes of *out_ret; false with
// *error_ret in words when the data is damaged, truncated, or decodes to
// more than `limit` bytes. `flags` are the entry's general purpose flags
// (with LZMA, bit 1 says the stream has an end marker).
bool DecodeEntryData(uint16_t method, uint16_t flags, const uint8_t* data, size_t size, uint64_t limit,
                     std::vector<uint8_t>* out_ret, std::string* error_ret);
