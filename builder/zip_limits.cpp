// The classic format's limits and the check before reading (see zip_limits.h).
//
// Format notes: a ZIP64 archive keeps the classic end record (PK\5\6) last,
// its 16- and 32-bit fields possibly holding the markers 0xFFFF and
// 0xFFFFFFFF; before it stands the ZIP64 end locator (PK\6\7, 20 bytes),
// which gives the offset of the ZIP64 end record (PK\6\6, 56 bytes and
// optional extensible data) with the 64-bit count, directory size and
// directory offset. In a central header, each of the uncompressed size,
// compressed size and local header offset that holds 0xFFFFFFFF has its
// 64-bit value in the ZIP64 extra field (id 1), in that order, only those
// present.
//
// Trust: the file is untrusted. Only its tail and its central directory are
// read, each range checked against the file's size; anything that does not
// parse is left to ReadZip, which reports it.
#include "builder/zip_limits.h"

#include "builder/zip_model.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr uint32_t kZip64EndRecordSignature = 0x06064B50;
constexpr unsigned kZip64EndLocatorSize = 20;
constexpr unsigned kZip64EndRecordSize = 56;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint32_t kMarker32 = 0xFFFFFFFF;

uint64_t GetLe64(const uint8_t* p) { return GetLe32(p) | static_cast<uint64_t>(GetLe32(p + 4)) << 32; }

// "5.0 GiB" and the like, for the reader of a refusal.
std::string InBinaryUnits(uint64_t bytes) {
  char text[32];
  if (bytes >= (1ull << 30)) snprintf(text, sizeof text, "%.1f GiB", bytes / double(1ull << 30));
  else snprintf(text, sizeof text, "%.1f MiB", bytes / double(1ull << 20));
  return text;
}

// Reads `length` bytes at `at` of an open file; false when they are not all there.
bool ReadAt(int fd, uint64_t at, uint64_t length, std::vector<uint8_t>* bytes_ret) {
  bytes_ret->resize(length);
  uint64_t done = 0;
  while (done < length) {
    ssize_t got = pread(fd, bytes_ret->data() + done, length - done, static_cast<off_t>(at + done));
    if (got <= 0) return false;
    done += static_cast<uint64_t>(got);
  }
  return true;
}

// What the end records say about the directory, in 64 bits.
struct DirectoryPlace {
  uint64_t count = 0, size = 0, offset = 0;
  uint64_t endAt = 0;  // file offset where the directory ends: the ZIP64 end record, else the end record
};

// Finds the end records in the file's tail; false when there are none to
// judge by (not a ZIP archive, or damaged: ReadZip says so).
bool FindDirectory(int fd, uint64_t fileSize, DirectoryPlace* place) {
  uint64_t tailSize = std::min<uint64_t>(fileSize, kEndRecordSize + 0xFFFF + kZip64EndLocatorSize);
  uint64_t tailAt = fileSize - tailSize;
  std::vector<uint8_t> tail;
  if (tailSize < kEndRecordSize || !ReadAt(fd, tailAt, tailSize, &tail)) return false;
  // As ReadZip finds it: the last signature whose comment reaches the end
  // of the file exactly, else the last signature.
  size_t end = static_cast<size_t>(-1);
  for (size_t at = tail.size() - kEndRecordSize + 1; at-- > 0;) {
    if (GetLe32(&tail[at]) != kEndRecordSignature) continue;
    if (end == static_cast<size_t>(-1)) end = at;
    if (at + kEndRecordSize + GetLe16(&tail[at + kEndRecordCommentLengthAt]) == tail.size()) {
      end = at;
      break;
    }
  }
  if (end == static_cast<size_t>(-1)) return false;
  const uint8_t* e = &tail[end];
  place->count = GetLe16(e + 10);
  place->size = GetLe32(e + 12);
  place->offset = GetLe32(e + 16);
  place->endAt = tailAt + end;
  if (end < kZip64EndLocatorSize || GetLe32(&tail[end - kZip64EndLocatorSize]) != kZip64EndLocatorSignature) return true;
  // The ZIP64 end record: at its recorded offset, else (a prefix moved it)
  // just before the locator.
  uint64_t locatorAt = place->endAt - kZip64EndLocatorSize;
  std::vector<uint8_t> record;
  uint64_t recordAt = GetLe64(&tail[end - kZip64EndLocatorSize + 8]);
  auto isRecord = [&](uint64_t at) {
    return at + kZip64EndRecordSize <= locatorAt && ReadAt(fd, at, kZip64EndRecordSize, &record) &&
           GetLe32(record.data()) == kZip64EndRecordSignature;
  };
  if (!isRecord(recordAt)) {
    if (locatorAt < kZip64EndRecordSize || !isRecord(recordAt = locatorAt - kZip64EndRecordSize)) return false;
  }
  place->count = GetLe64(record.data() + 32);
  place->size = GetLe64(record.data() + 40);
  place->offset = GetLe64(record.data() + 48);
  place->endAt = recordAt;
  return true;
}

// The 64-bit sizes of one central header, from its ZIP64 extra field where
// the 32-bit fields hold the marker; false when a marker has no value there.
bool EntrySizes(const uint8_t* header, const uint8_t* extra, size_t extraLength, uint64_t* compressed_ret,
                uint64_t* uncompressed_ret) {
  *compressed_ret = GetLe32(header + 20);
  *uncompressed_ret = GetLe32(header + 24);
  for (size_t at = 0; at + 4 <= extraLength;) {
    uint16_t id = GetLe16(extra + at), size = GetLe16(extra + at + 2);
    if (at + 4 + size > extraLength) break;
    if (id == kZip64ExtraId) {
      size_t field = at + 4, fieldEnd = at + 4 + size;
      if (*uncompressed_ret == kMarker32 && field + 8 <= fieldEnd) *uncompressed_ret = GetLe64(extra + field), field += 8;
      if (*compressed_ret == kMarker32 && field + 8 <= fieldEnd) *compressed_ret = GetLe64(extra + field);
      return *uncompressed_ret != kMarker32 && *compressed_ret != kMarker32;
    }
    at += 4 + size;
  }
  return *uncompressed_ret != kMarker32 && *compressed_ret != kMarker32;
}

}  // namespace

std::string EntryCountRefusal(uint64_t count) {
  return "the archive has " + std::to_string(count) + " entries; the self-extractor reads at most " +
         std::to_string(kEntryCountLimit) + " (the classic ZIP limit): " + std::to_string(count - kEntryCountLimit) +
         " too many";
}

std::string EntrySizeRefusal(const std::string& name, uint64_t size) {
  return "entry \"" + name + "\" is " + std::to_string(size) + " bytes (" + InBinaryUnits(size) +
         "); the self-extractor extracts entries under 4 GiB (at most " + std::to_string(kEntrySizeLimit - 1) +
         " bytes): " + std::to_string(size - (kEntrySizeLimit - 1)) + " bytes over";
}

std::string ArchiveSizeRefusal(uint64_t size) {
  return "the archive is " + std::to_string(size) + " bytes (" + InBinaryUnits(size) +
         "); the self-extractor reads archives under 2 GiB (at most " + std::to_string(kArchiveSizeLimit) +
         " bytes): " + std::to_string(size - kArchiveSizeLimit) + " bytes over";
}

bool CheckZipFileFitsClassic(const std::string& path, std::string* error_ret) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return true;  // the read that follows reports it
  struct stat info;
  DirectoryPlace place;
  bool fits = true;
  if (fstat(fd, &info) == 0 && FindDirectory(fd, static_cast<uint64_t>(info.st_size), &place)) {
    // The recorded directory must end at or before where it really ends (a
    // prefix before the archive makes it end before); else it is damaged.
    bool placed = place.size <= place.endAt && place.offset <= place.endAt - place.size;
    // The archive's own size, a prefix before it not counted: the directory's
    // recorded end, then the end records and the comment.
    uint64_t archiveSize = placed ? place.offset + place.size + (static_cast<uint64_t>(info.st_size) - place.endAt) : 0;
    std::vector<uint8_t> directory;
    if (place.count > kEntryCountLimit) {
      *error_ret = EntryCountRefusal(place.count);
      fits = false;
    } else if (placed && place.size <= kArchiveSizeLimit && ReadAt(fd, place.endAt - place.size, place.size, &directory)) {
      // The entries first: an entry over 4 GiB is the reason to name.
      for (size_t at = 0, i = 0; i < place.count && at + kCentralHeaderSize <= directory.size(); i++) {
        const uint8_t* h = &directory[at];
        if (GetLe32(h) != kCentralHeaderSignature) break;
        size_t nameLength = GetLe16(h + 28), extraLength = GetLe16(h + 30), commentLength = GetLe16(h + 32);
        if (at + kCentralHeaderSize + nameLength + extraLength + commentLength > directory.size()) break;
        uint64_t compressed, uncompressed, largest = 0;
        if (EntrySizes(h, h + kCentralHeaderSize + nameLength, extraLength, &compressed, &uncompressed))
          largest = std::max(compressed, uncompressed);
        if (largest >= kEntrySizeLimit) {
          *error_ret = EntrySizeRefusal(std::string(reinterpret_cast<const char*>(h + kCentralHeaderSize), nameLength), largest);
          fits = false;
          break;
        }
        at += kCentralHeaderSize + nameLength + extraLength + commentLength;
      }
    }
    if (fits && archiveSize > kArchiveSizeLimit) {
      *error_ret = ArchiveSizeRefusal(archiveSize);
      fits = false;
    }
  }
  close(fd);
  return fits;
}
