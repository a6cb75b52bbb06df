// Making an archive from files and folders, as `zip -r` stores them: each
// path under its own name, a folder entry for every folder, entries in a
// fixed order (sorted by name within each folder), so that the same files
// always give the same archive.
#pragma once

#include "builder/entry_names.h"
#include "builder/zip_model.h"

#include <string>
#include <vector>

struct FileSource {
  std::string baseFolder;          // the -C folder, or empty
  std::vector<std::string> paths;  // as given on the command line
  int level = 12;                  // deflate level, 1 to 12; 0 stores
  NameEncoding names;              // how each path is stored as an entry name
  // Globs: one without a '/' is matched against each file's and folder's
  // own name, one with a '/' against the whole stored path. What matches is
  // left out, a folder with everything in it.
  std::vector<std::string> excludes;
  // Symbolic links are left out with a note on standard error unless this
  // asks to store what they point to.
  bool followLinks = false;
  unsigned threads = 1;            // deflating threads
  bool progress = false;           // a progress line on standard error
  bool haveLatestDate = false;
  int64_t latestDate = 0;  // with haveLatestDate: later modification times become this one
};

// The entries a source makes, found by walking its paths without reading
// any file: names, times and attributes set, each file's uncompressedSize
// its size on disk and its data not read yet.
struct FileTree {
  ZipArchive archive;
  std::vector<std::string> diskPaths;  // of each entry's file; empty for a folder
};

// Walks the source's paths; false with *error_ret for a path that cannot be
// stored (unreadable, a name too long or not in the code page, a file of
// 4 GiB or more).
bool WalkFiles(const FileSource& source, FileTree* tree_ret, std::string* error_ret);

// Reads entry `index` of the tree into `entry`: its data, CRC-32 and size,
// stored (a folder has none); false with *error_ret when it cannot. Safe on
// several threads at once, each with its own entry.
bool ReadTreeEntry(const FileTree& tree, size_t index, ZipEntry& entry, std::string* error_ret);

// The whole archive of a source in memory: walked, read and deflated.
bool ZipFromFiles(const FileSource& source, ZipArchive* archive_ret, std::string* error_ret);

// The DOS date and time of a modification time, in local time (as the
// self-extractor will set them back); times before 1980 become 1980.
void DosDateTime(int64_t unixTime, uint16_t* date_ret, uint16_t* time_ret);

