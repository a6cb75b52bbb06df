// Locating the configuration record as the loader maps it (see
// sfx_record_locator.h).
//
// PE format notes: e_lfanew at offset 60 of the DOS header gives the offset
// of the "PE\0\0" signature; the 20-byte file header follows, with the
// section count at its offset 2 and the optional header's size at its
// offset 16 (224 bytes for PE32, 240 for PE32+, less with fewer data
// directories); the section table follows the optional header, 40 bytes per
// section: name (8), VirtualSize, VirtualAddress, SizeOfRawData,
// PointerToRawData. The loader maps a section's raw data only up to its
// VirtualSize (the rest of the raw data is file padding; a VirtualSize of 0
// means the raw size).
//
// Trust: the file is untrusted; every offset is checked against `size`.
#include "platform/host/sfx_record_locator.h"

#include "container/sfx_config.h"
#include "container/sfx_image.h"

#include <cstring>

namespace {

constexpr unsigned kFileHeaderSize = 20;
constexpr unsigned kSectionCountAt = 2;         // in the file header
constexpr unsigned kOptionalHeaderSizeAt = 16;  // in the file header
constexpr unsigned kSectionHeaderSize = 40;
constexpr unsigned kMaxSections = 96;           // the loader refuses more

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// One section's raw data as the loader maps it: [rawAt, rawAt + mappedSize).
struct MappedSection {
  bool payload;  // the builder's "_dravik_" section
  uint64_t rawAt, mappedSize;
};

// The section table's position and count; false when `head` holds no PE
// image header and table.
bool FindSectionTable(const uint8_t* head, size_t size, uint64_t* tableAt_ret, unsigned* count_ret) {
  if (size < kDosHeaderSize || head[0] != 'M' || head[1] != 'Z') return false;
  uint64_t signatureAt = Le32(head + kLfanewOffset);
  if (signatureAt + 4 + kFileHeaderSize > size || memcmp(head + signatureAt, "PE\0\0", 4) != 0) return false;
  const uint8_t* fileHeader = head + signatureAt + 4;
  unsigned count = Le16(fileHeader + kSectionCountAt);
  uint64_t tableAt = signatureAt + 4 + kFileHeaderSize + Le16(fileHeader + kOptionalHeaderSizeAt);
  if (count > kMaxSections || tableAt + uint64_t{count} * kSectionHeaderSize > size) return false;
  *tableAt_ret = tableAt;
  *count_ret = count;
  return true;
}

MappedSection ReadSection(const uint8_t* header) {
  uint32_t virtualSize = Le32(header + 8), rawSize = Le32(header + 16);
  MappedSection section;
  section.payload = memcmp(header, kPayloadSectionName, sizeof kPayloadSectionName) == 0;
  section.rawAt = Le32(header + 20);
  section.mappedSize = (virtualSize && virtualSize < rawSize) ? virtualSize : rawSize;
  return section;
}

}  // namespace

uint64_t StubPartSize(const uint8_t* head, size_t size) {
  uint64_t tableAt;
  unsigned count;
  if (!FindSectionTable(head, size, &tableAt, &count)) return 0;
  uint64_t end = tableAt + uint64_t{count} * kSectionHeaderSize;
  for (unsigned i = 0; i < count; i++) {
    MappedSection section = ReadSection(head + tableAt + i * kSectionHeaderSize);
    if (!section.payload && section.rawAt + section.mappedSize > end) end = section.rawAt + section.mappedSize;
  }
  return end;
}

long LocateSfxRecord(const uint8_t* image, size_t size) {
  uint64_t tableAt;
  unsigned count;
  if (!FindSectionTable(image, size, &tableAt, &count)) return -1;
  const uint8_t* marker = SfxImage.Config.SfxMarker;
  long found = -1;
  for (unsigned i = 0; i < count; i++) {
    MappedSection section = ReadSection(image + tableAt + i * kSectionHeaderSize);
    if (section.payload || section.rawAt >= size) continue;
    uint64_t end = section.rawAt + section.mappedSize;
    if (end > size) end = size;
    for (uint64_t at = section.rawAt; at + SfxConfigOffset::RecordSize <= end; at++) {
      if (image[at] != marker[0] || memcmp(image + at, marker, kSfxMarkerSize) != 0) continue;
      if (found >= 0) return -1;  // two records: which one the stub reads cannot be told
      found = static_cast<long>(at);
    }
  }
  return found;
}
