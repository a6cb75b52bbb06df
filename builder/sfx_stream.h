// Writing a self-extractor built from files straight to its output file, as
// its archive is made: the head (stub, resources, ConfigBlock) is reserved
// first, each entry's local record follows as soon as it and every entry
// before it are deflated, then the central directory and the end record;
// last, the head is written over its reserved place, now that the archive's
// size, end record and checksum are known. Memory stays with the entries in
// work (see deflate_pool.h) and the central directory, never the archive.
//
// The file is written under a temporary name beside the output and renamed
// only once complete; a build that fails leaves nothing behind.
#pragma once

#include "builder/deflate_pool.h"
#include "builder/sfx_writer.h"
#include "builder/zip_from_files.h"

#include <cstdint>
#include <string>
#include <vector>

struct StreamedBuild {
  std::string output;   // the self-extractor's path
  DeflateWork deflate;
  bool encrypt = false;  // every file encrypted with `password` (in the code page)
  std::string password;
};

// Checks the tree against the limits of the format before anything is read
// or compressed, then writes the self-extractor; false with *error_ret.
bool WriteSelfExtractorFromTree(const std::vector<uint8_t>& stub, FileTree& tree, const SfxSettings& settings,
                                const StreamedBuild& build, std::string* error_ret);

// The smallest bound the tree's records can have, as CheckArchiveBounds
// counts them (the end record's and each entry's EntryRecordsBound):
// with each file's data as it is when it is stored (level 0), else none,
// since deflating may shrink it to almost nothing; encryption's header
// counted. Above the limit, the archive cannot fit however it compresses.
uint64_t SmallestRecordsBound(const FileTree& tree, int level, bool encrypt);
