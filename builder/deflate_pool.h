// Making the entries of a new archive: each entry's data read and deflated
// (libdeflate, which compresses smaller than zlib at its higher levels, up
// to 12) on a pool of worker threads, and handed over one by one in the
// archive's order, so that the caller can write each out as soon as it and
// all before it are done. Each entry is compressed on its own, so the
// archive is the same bytes whatever the number of threads.
//
// Memory: libdeflate compresses whole buffers only, so an entry in work
// holds its data and an output buffer about as large. The pool starts an
// entry only while the entries started and not yet handed over stay within
// a budget counted that way (twice their sizes); an entry larger than the
// budget waits until nothing else is in work and then runs alone. The data
// in work thus stays under twice the largest entry or the budget, whichever
// is more. The budget, 32 MiB, leaves room within 64 MiB for the program
// itself and a compressor per thread (about 9 MiB each at level 12), and
// still keeps several threads busy on files of a few MiB.
#pragma once

#include "builder/zip_model.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

constexpr int kMaxDeflateLevel = 12;
constexpr int kDefaultDeflateLevel = 12;
constexpr uint64_t kDeflateMemoryBudget = 32ull << 20;

// Raw deflate (no zlib or gzip wrapper) of `data` at `level` (1 to 12).
std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data, int level);

struct DeflateWork {
  int level = kDefaultDeflateLevel;  // 1 to 12; 0 stores every entry
  unsigned threads = 1;              // at least 1
  bool progress = false;             // a progress line on standard error
  uint64_t memoryBudget = kDeflateMemoryBudget;
};

// Fills in entry `index`'s data, as read, stored, with its CRC-32 and size
// (on a worker thread); false with *error_ret when it cannot.
using LoadEntry = std::function<bool(size_t index, ZipEntry& entry, std::string* error_ret)>;
// Takes entry `index`, made, in order (on the calling thread); it may
// release the data. False with *error_ret stops the work.
using TakeEntry = std::function<bool(size_t index, ZipEntry& entry, std::string* error_ret)>;

// Makes every one of `entries`: those that `load` fills with data are
// deflated where that makes them smaller, the others stay stored; each is
// then given to `take`. The entries' uncompressedSize, as known beforehand,
// is what the memory budget counts. False with the first failure in the
// entries' order (of `load` or `take`); the entries after it are not taken.
bool MakeEntries(std::vector<ZipEntry>& entries, const LoadEntry& load, const TakeEntry& take, const DeflateWork& work,
                 std::string* error_ret);

// The number of threads to use by default: the machine's cores.
unsigned DefaultThreads();
