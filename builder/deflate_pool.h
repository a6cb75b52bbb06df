// Deflating the entries of a new archive: libdeflate, which compresses
// smaller than zlib at its higher levels (up to 12), on a pool of worker
// threads. Each entry is compressed on its own, so the archive is the same
// bytes whatever the number of threads.
#pragma once

#include "builder/zip_model.h"

#include <cstdint>
#include <vector>

constexpr int kMaxDeflateLevel = 12;
constexpr int kDefaultDeflateLevel = 12;

// Raw deflate (no zlib or gzip wrapper) of `data` at `level` (1 to 12).
std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data, int level);

struct DeflateWork {
  int level = kDefaultDeflateLevel;  // 1 to 12
  unsigned threads = 1;              // at least 1
  bool progress = false;             // a progress line on standard error
};

// Deflates each of `entries` (stored, data as read) that deflating makes
// smaller; the others stay stored.
void DeflateEntries(const std::vector<ZipEntry*>& entries, const DeflateWork& work);

// The number of threads to use by default: the machine's cores.
unsigned DefaultThreads();
