// The archive as the stub sees it, set against the archive as other readers
// list it. The stub never reads the central directory: it walks the local
// records forward from ArchiveOffset. unzip -l, zipfile and our own `info`
// read the central directory. A file in which the two differ shows one
// archive to whoever checks it and extracts another, so `info` and `test`
// walk the records as the stub does and report any difference as damage.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One local record as the walk met it.
struct WalkedEntry {
  uint64_t localAt;  // file offset of its local header
  std::string name;
  uint32_t crc32, compressedSize, uncompressedSize;
};

// Walks the records from archiveAt to the end record as the stub does
// (local records and their data, central headers skipped, spanning markers
// stepped over); false with *error_ret naming what stops it.
bool WalkLocalRecords(const std::vector<uint8_t>& file, uint64_t archiveAt, std::vector<WalkedEntry>* entries_ret,
                      std::string* error_ret);

// True when the walk from archiveAt and the central directory show the same
// entries: as many, and each directory entry's local header offset, name,
// CRC-32 and sizes those of a walked record; false with *difference_ret
// describing the first difference.
bool CompareWalkWithDirectory(const std::vector<uint8_t>& file, uint64_t archiveAt, std::string* difference_ret);
