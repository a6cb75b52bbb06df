// Making an archive from files and folders (see zip_from_files.h).
#include "builder/zip_from_files.h"

#include "builder/deflate_pool.h"
#include "builder/text_codec.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <utility>
#include <ctime>

namespace {

constexpr uint32_t kFolderAttributes = 0x10 | (040755u << 16);  // MS-DOS folder bit, Unix mode
constexpr uint32_t kFileAttributes = 0x20 | (0100644u << 16);  // MS-DOS archive bit, Unix mode
constexpr uint16_t kMadeByUnix = (3 << 8) | 20;
// A DOS date holds the years 1980 to 2107 (7 bits from 1980), as struct tm
// counts them from 1900.
constexpr int kDosFirstYear = 80;
constexpr int kDosLastYear = 207;

struct Collector {
  const FileSource& source;
  FileTree* tree;
  std::string* error;
  std::set<std::string> stored;  // names already in the archive: a path given twice is stored once
  std::set<std::pair<dev_t, ino_t>> foldersEntered;  // a followed link cannot lead round in a circle

  bool Fail(const std::string& why) {
    *error = why;
    return false;
  }
  // A failure of the system, with its reason.
  bool FailWithReason(const std::string& what) { return Fail(what + ": " + strerror(errno)); }
  bool Excluded(const std::string& name) const;
  int64_t DateOf(const struct stat& info) const {
    return source.haveLatestDate && info.st_mtime > source.latestDate ? source.latestDate : info.st_mtime;
  }
  std::string OnDisk(const std::string& path) const {
    return source.baseFolder.empty() || path[0] == '/' ? path : source.baseFolder + "/" + path;
  }
  bool Add(const std::string& diskPath, const std::string& name);
  bool AddFolder(const std::string& diskPath, const std::string& name, const struct stat& info);
  bool AddFile(const std::string& diskPath, const std::string& name, const struct stat& info);
};

// The name an entry is stored under: the path as given, without "./",
// leading separators or a trailing one; ".." is refused.
bool StoredName(const std::string& path, std::string* name_ret, std::string* error_ret) {
  std::string name;
  size_t at = 0;
  while (at <= path.size()) {
    size_t end = path.find('/', at);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(at, end - at);
    if (part == "..") {
      *error_ret = "path \"" + path + "\" reaches outside its folder; use -C";
      return false;
    }
    if (!part.empty() && part != ".") name += (name.empty() ? "" : "/") + part;
    at = end + 1;
  }
  *name_ret = name;
  return true;
}

bool Collector::AddFolder(const std::string& diskPath, const std::string& name, const struct stat& info) {
  if (!name.empty()) {
    ZipEntry entry;
    if (!StoreEntryName(name + "/", source.names, &entry, error)) return false;
    if (entry.name.size() > kNameLimit) return Fail("the name \"" + name + "/\" is over 200 bytes");
    entry.versionMadeBy = kMadeByUnix;
    entry.versionNeeded = 10;
    entry.externalAttributes = kFolderAttributes;
    DosDateTime(DateOf(info), &entry.modDate, &entry.modTime);
    tree->archive.entries.push_back(std::move(entry));
    tree->diskPaths.emplace_back();
  }
  if (!foldersEntered.insert({info.st_dev, info.st_ino}).second)
    return Fail("the folder " + diskPath + " leads back into itself through a symbolic link");
  DIR* listing = opendir(diskPath.c_str());
  if (!listing) return FailWithReason("cannot read the folder " + diskPath);
  std::vector<std::string> children;
  while (dirent* child = readdir(listing))
    if (strcmp(child->d_name, ".") && strcmp(child->d_name, "..")) children.push_back(child->d_name);
  closedir(listing);
  std::sort(children.begin(), children.end());
  for (const std::string& child : children)
    if (!Add(diskPath + "/" + child, name.empty() ? child : name + "/" + child)) return false;
  return true;
}

bool Collector::AddFile(const std::string& diskPath, const std::string& name, const struct stat& info) {
  if (info.st_size > 0xFFFFFFFELL) return Fail(diskPath + " is 4 GiB or larger, which needs ZIP64");
  ZipEntry entry;
  if (!StoreEntryName(name, source.names, &entry, error)) return false;
  if (entry.name.size() > kNameLimit) return Fail("the name \"" + name + "\" is over 200 bytes");
  entry.versionMadeBy = kMadeByUnix;
  entry.externalAttributes = kFileAttributes;
  DosDateTime(DateOf(info), &entry.modDate, &entry.modTime);
  entry.uncompressedSize = static_cast<uint32_t>(info.st_size);
  entry.versionNeeded = 10;  // stored until the pool deflates it
  tree->archive.entries.push_back(std::move(entry));
  tree->diskPaths.push_back(diskPath);
  return true;
}

// The whole file at `path`, read to its end (it may have changed since the
// walk); false when it cannot be read or has grown to 4 GiB or more.
bool ReadFileData(const std::string& path, std::vector<uint8_t>* data_ret, std::string* error_ret) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) {
    *error_ret = "cannot read " + path + ": " + strerror(errno);
    return false;
  }
  struct stat info;
  std::vector<uint8_t>& data = *data_ret;
  data.clear();
  constexpr size_t kChunk = 1 << 16;
  // Room for the last read, which finds the end, so that a file that has
  // not changed is read without the vector growing (and copying itself).
  if (fstat(fileno(file), &info) == 0 && info.st_size > 0 && info.st_size <= 0xFFFFFFFELL)
    data.reserve(static_cast<size_t>(info.st_size) + kChunk);
  size_t got;
  do {
    size_t at = data.size();
    data.resize(at + kChunk);
    got = fread(data.data() + at, 1, kChunk, file);
    data.resize(at + got);
  } while (got == kChunk && data.size() <= 0xFFFFFFFEull);
  bool failed = ferror(file);
  fclose(file);
  if (failed) *error_ret = "cannot read " + path + ": " + strerror(errno);
  else if (data.size() > 0xFFFFFFFEull) *error_ret = path + " is 4 GiB or larger, which needs ZIP64";
  return !failed && data.size() <= 0xFFFFFFFEull;
}

bool Collector::Excluded(const std::string& name) const {
  std::string own = name.substr(name.rfind('/') + 1);
  for (const std::string& glob : source.excludes) {
    bool wholePath = glob.find('/') != std::string::npos;
    if (fnmatch(glob.c_str(), (wholePath ? name : own).c_str(), wholePath ? FNM_PATHNAME : 0) == 0) return true;
  }
  return false;
}

bool Collector::Add(const std::string& diskPath, const std::string& name) {
  if (!name.empty() && Excluded(name)) return true;
  if (!name.empty() && !stored.insert(name).second) return true;
  struct stat info;
  if (lstat(diskPath.c_str(), &info) != 0) return FailWithReason("cannot read " + diskPath);
  if (S_ISLNK(info.st_mode)) {
    if (!source.followLinks) {
      fprintf(stderr, "dravik-sfx build: left out the symbolic link %s (--follow-links stores what it points to)\n",
              diskPath.c_str());
      return true;
    }
    if (stat(diskPath.c_str(), &info) != 0) return FailWithReason("cannot follow the symbolic link " + diskPath);
  }
  if (S_ISDIR(info.st_mode)) return AddFolder(diskPath, name, info);
  if (S_ISREG(info.st_mode)) {
    if (name.empty()) return Fail("no name to store " + diskPath + " under");
    return AddFile(diskPath, name, info);
  }
  return Fail(diskPath + " is neither a file nor a folder");
}

}  // namespace

void DosDateTime(int64_t unixTime, uint16_t* date_ret, uint16_t* time_ret) {
  time_t seconds = static_cast<time_t>(unixTime);
  struct tm local;
  localtime_r(&seconds, &local);
  if (local.tm_year < kDosFirstYear) {
    local = tm{};
    local.tm_year = kDosFirstYear;
    local.tm_mday = 1;
  } else if (local.tm_year > kDosLastYear) {
    local = tm{};
    local.tm_year = kDosLastYear;
    local.tm_mon = 11;
    local.tm_mday = 31;
    local.tm_hour = 23;
    local.tm_min = 59;
    local.tm_sec = 58;
  }
  *date_ret = static_cast<uint16_t>(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
  *time_ret = static_cast<uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
}

bool WalkFiles(const FileSource& source, FileTree* tree_ret, std::string* error_ret) {
  Collector collector{source, tree_ret, error_ret, {}, {}};
  *tree_ret = FileTree();
  for (const std::string& path : source.paths) {
    std::string name;
    if (!StoredName(path, &name, error_ret)) return false;
    if (!collector.Add(collector.OnDisk(path), name)) return false;
  }
  return true;
}

bool ReadTreeEntry(const FileTree& tree, size_t index, ZipEntry& entry, std::string* error_ret) {
  const std::string& path = tree.diskPaths[index];
  if (path.empty()) return true;
  if (!ReadFileData(path, &entry.data, error_ret)) return false;
  entry.crc32 = static_cast<uint32_t>(crc32(0, entry.data.data(), static_cast<uInt>(entry.data.size())));
  entry.uncompressedSize = static_cast<uint32_t>(entry.data.size());
  return true;
}

bool ZipFromFiles(const FileSource& source, ZipArchive* archive_ret, std::string* error_ret) {
  FileTree tree;
  if (!WalkFiles(source, &tree, error_ret)) return false;
  auto load = [&](size_t i, ZipEntry& entry, std::string* error) { return ReadTreeEntry(tree, i, entry, error); };
  auto keep = [](size_t, ZipEntry&, std::string*) { return true; };
  if (!MakeEntries(tree.archive.entries, load, keep, DeflateWork{source.level, source.threads, source.progress},
                   error_ret))
    return false;
  *archive_ret = std::move(tree.archive);
  return true;
}
