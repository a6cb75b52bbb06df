// Walking the local records as the stub does (see archive_walk.h).
//
// Format notes, as the stub's walk has them: each record is known by its
// signature; a local header is followed by its name, extra field and data
// (and 16 descriptor bytes when flag bit 3 is set); a folder entry's data is
// skipped only when its uncompressed size is 0; central headers are skipped;
// the end record or the digital signature ends the walk; the temporary
// spanning marker is four bytes to step over. Everything else is an invalid
// header.
//
// Trust: the file is untrusted; every length is checked against what is
// left of the file, so the walk only moves forward.
#include "builder/archive_walk.h"

#include "builder/zip_model.h"
#include "builder/zip_reader.h"

#include <map>

namespace {

constexpr uint32_t kDigitalSignatureSignature = 0x05054B50;
constexpr uint32_t kSpanMarkerSignature = 0x30304B50;
constexpr unsigned kSignatureSize = 4;

std::string Offset(uint64_t at) { return "offset " + std::to_string(at); }

bool IsFolderName(const std::string& name) { return !name.empty() && (name.back() == '/' || name.back() == '\\'); }

}  // namespace

bool WalkLocalRecords(const std::vector<uint8_t>& file, uint64_t archiveAt, std::vector<WalkedEntry>* entries_ret,
                      std::string* error_ret) {
  auto left = [&](uint64_t at) { return at <= file.size() ? file.size() - at : 0; };
  auto fail = [&](const std::string& why) {
    *error_ret = why;
    return false;
  };
  entries_ret->clear();
  uint64_t at = archiveAt;
  for (;;) {
    if (left(at) < kSignatureSize) return fail("the records end at " + Offset(at) + " before an end record");
    uint32_t signature = GetLe32(&file[at]);
    if (signature == kEndRecordSignature || signature == kDigitalSignatureSignature) return true;
    if (signature == kSpanMarkerSignature) {
      at += kSignatureSize;
    } else if (signature == kCentralHeaderSignature) {
      if (left(at) < kCentralHeaderSize) return fail("a central header is cut short at " + Offset(at));
      at += kCentralHeaderSize + GetLe16(&file[at + 28]) + GetLe16(&file[at + 30]) + GetLe16(&file[at + 32]);
    } else if (signature == kLocalHeaderSignature) {
      if (left(at) < kLocalHeaderSize) return fail("a local header is cut short at " + Offset(at));
      const uint8_t* h = &file[at];
      WalkedEntry entry{at, "", GetLe32(h + 14), GetLe32(h + 18), GetLe32(h + 22)};
      uint16_t flags = GetLe16(h + 6), nameLength = GetLe16(h + 26), extraLength = GetLe16(h + 28);
      uint64_t dataAt = at + kLocalHeaderSize + nameLength + extraLength;
      if (left(at + kLocalHeaderSize) < nameLength) return fail("a local name is cut short at " + Offset(at));
      entry.name.assign(reinterpret_cast<const char*>(h + kLocalHeaderSize), nameLength);
      bool dataSkipped = !IsFolderName(entry.name) || entry.uncompressedSize == 0;
      uint64_t next = dataAt + (dataSkipped ? entry.compressedSize : 0) + ((flags & kFlagDescriptor) ? kDescriptorSize : 0);
      if (next > file.size()) return fail("the record of \"" + entry.name + "\" runs past the file's end");
      entries_ret->push_back(std::move(entry));
      at = next;
    } else {
      return fail("an invalid header at " + Offset(at));
    }
  }
}

bool CompareWalkWithDirectory(const std::vector<uint8_t>& file, uint64_t archiveAt, std::string* difference_ret) {
  std::vector<WalkedEntry> walked;
  std::string error;
  if (!WalkLocalRecords(file, archiveAt, &walked, &error)) {
    *difference_ret = "walking the local records: " + error;
    return false;
  }
  ZipArchive directory;
  if (!ReadZip(file, &directory, &error)) {
    *difference_ret = "reading the central directory: " + error;
    return false;
  }
  std::map<uint64_t, const WalkedEntry*> walkedAt;
  for (const WalkedEntry& entry : walked) walkedAt[entry.localAt] = &entry;
  for (const ZipEntry& listed : directory.entries) {
    auto found = walkedAt.find(listed.localAt);
    std::string where = "\"" + listed.name + "\" at " + Offset(listed.localAt);
    if (found == walkedAt.end()) {
      *difference_ret = "the central directory lists " + where + ", which the local records walked from " +
                        Offset(archiveAt) + " never reach";
      return false;
    }
    const WalkedEntry& local = *found->second;
    if (local.name != listed.name || local.crc32 != listed.crc32 || local.compressedSize != listed.data.size() ||
        local.uncompressedSize != listed.uncompressedSize) {
      *difference_ret = "the central directory lists " + where + ", but the local record there is \"" + local.name +
                        "\" with another name, CRC-32 or size";
      return false;
    }
  }
  if (walked.size() != directory.entries.size()) {
    *difference_ret = "the local records walked from " + Offset(archiveAt) + " hold " + std::to_string(walked.size()) +
                      " entries; the central directory lists " + std::to_string(directory.entries.size());
    return false;
  }
  return true;
}
