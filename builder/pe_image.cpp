// The stub's image (see pe_image.h).
//
// PE format notes: the DOS header gives at offset 60 the offset of the
// "PE\0\0" signature; the 20-byte file header follows (the machine, 0x14C for
// i386 and 0x8664 for x86-64, the section count, the optional header's size),
// then the optional header (224 bytes in PE32 and 240 in PE32+ with 16 data
// directories; the two differ only in the width of the image base and the
// stack and heap sizes, which moves the data directories from 96 to 112),
// then the section table, 40 bytes per section. A new section needs 40 free
// bytes after the table within SizeOfHeaders. Raw data sits on FileAlignment
// boundaries, virtual addresses on SectionAlignment ones.
#include "builder/pe_image.h"

#include "builder/zip_model.h"

#include <algorithm>
#include <cstring>

namespace {

// What the file header and the optional header say for each architecture.
struct ArchFacts {
  StubArch arch;
  const char* name;
  uint16_t machine;
  uint16_t magic;
  uint16_t optionalHeaderSize;
  unsigned dataDirectoriesAt;  // inside the optional header
};
constexpr ArchFacts kArchFacts[] = {
    {StubArch::X86, "x86", 0x14C, 0x10B, 224, 96},
    {StubArch::X64, "x64", 0x8664, 0x20B, 240, 112},
};

const ArchFacts& FactsOf(StubArch arch) { return kArchFacts[arch == StubArch::X64 ? 1 : 0]; }

constexpr uint16_t kSubsystemGui = 2;
constexpr unsigned kSectionHeaderSize = 40;
constexpr unsigned kFileHeaderSize = 20;
// Offsets inside the optional header.
constexpr unsigned kSizeOfInitializedDataAt = 8;
constexpr unsigned kEntryPointAt = 16;
constexpr unsigned kSectionAlignmentAt = 32;
constexpr unsigned kFileAlignmentAt = 36;
constexpr unsigned kSizeOfImageAt = 56;
constexpr unsigned kSizeOfHeadersAt = 60;
constexpr unsigned kCheckSumAt = 64;
constexpr unsigned kSubsystemAt = 68;
constexpr unsigned kCertificateDirectory = 4;  // the data directory of the code signature
constexpr unsigned kDataDirectoryCountBefore = 4;  // NumberOfRvaAndSizes lies just before the directories

// Alignments are powers of two; the file alignment is at most 64 KiB, so
// the zero padding at the end of the payload always fits in an archive
// comment.
constexpr uint32_t kFileAlignmentMax = 0x10000;
bool IsPowerOfTwo(uint32_t value) { return value && !(value & (value - 1)); }

uint32_t AlignUp(uint32_t value, uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// The image header's facts when `b` holds a complete one of an architecture
// we know; null otherwise.
const ArchFacts* KnownArch(const std::vector<uint8_t>& b) {
  if (b.size() < 64 || b[0] != 'M' || b[1] != 'Z') return nullptr;
  uint64_t headerAt = GetLe32(&b[60]);
  if (headerAt + 4 + kFileHeaderSize + 2 > b.size() || memcmp(&b[headerAt], "PE\0\0", 4) != 0) return nullptr;
  const uint8_t* fileHeader = &b[headerAt + 4];
  for (const ArchFacts& facts : kArchFacts) {
    if (GetLe16(fileHeader) != facts.machine || GetLe16(fileHeader + 16) != facts.optionalHeaderSize) continue;
    uint64_t optionalAt = headerAt + 4 + kFileHeaderSize;
    if (optionalAt + facts.optionalHeaderSize > b.size()) return nullptr;
    return GetLe16(&b[optionalAt]) == facts.magic ? &facts : nullptr;
  }
  return nullptr;
}

}  // namespace

const char* StubArchName(StubArch arch) { return FactsOf(arch).name; }

bool ParseStubArch(const std::string& name, StubArch* arch_ret) {
  for (const ArchFacts& facts : kArchFacts)
    if (name == facts.name) {
      *arch_ret = facts.arch;
      return true;
    }
  return false;
}

bool ReadImageArch(const std::vector<uint8_t>& image, StubArch* arch_ret) {
  const ArchFacts* facts = KnownArch(image);
  if (facts) *arch_ret = facts->arch;
  return facts != nullptr;
}

bool HasCodeSignature(const std::vector<uint8_t>& image) {
  const ArchFacts* facts = KnownArch(image);
  if (!facts) return false;
  size_t optionalAt = GetLe32(&image[60]) + 4 + kFileHeaderSize;
  return GetLe32(&image[optionalAt + facts->dataDirectoriesAt + kCertificateDirectory * 8]) != 0;
}

bool ReadPeLayout(const std::vector<uint8_t>& b, PeLayout* l, std::string* error) {
  auto fail = [&](const std::string& why) {
    *error = "unusable stub: " + why;
    return false;
  };
  if (b.size() < 64 || b[0] != 'M' || b[1] != 'Z') return fail("not a Windows program (no MZ header)");
  const ArchFacts* facts = KnownArch(b);
  if (!facts) return fail("not an x86 (PE32) or x64 (PE32+) Windows image");
  l->arch = facts->arch;
  l->headerAt = GetLe32(&b[60]);
  const uint8_t* fileHeader = &b[l->headerAt + 4];
  l->optionalAt = l->headerAt + 4 + kFileHeaderSize;
  const uint8_t* optional = &b[l->optionalAt];
  if (GetLe16(optional + kSubsystemAt) != kSubsystemGui) return fail("not a GUI program");
  if (GetLe32(optional + facts->dataDirectoriesAt + kCertificateDirectory * 8) != 0)
    return fail("the stub is signed; sign the self-extractor instead");
  l->sectionCount = GetLe16(fileHeader + 2);
  l->sectionTableAt = l->optionalAt + facts->optionalHeaderSize;
  l->fileAlignment = GetLe32(optional + kFileAlignmentAt);
  l->sectionAlignment = GetLe32(optional + kSectionAlignmentAt);
  l->sizeOfHeaders = GetLe32(optional + kSizeOfHeadersAt);
  l->entryPoint = GetLe32(optional + kEntryPointAt);
  if (!IsPowerOfTwo(l->fileAlignment) || l->fileAlignment > kFileAlignmentMax || !IsPowerOfTwo(l->sectionAlignment) ||
      l->sizeOfHeaders > b.size())
    return fail("damaged image header");
  l->rawEnd = l->sizeOfHeaders;
  l->virtualEnd = 0;
  uint32_t firstRawData = static_cast<uint32_t>(b.size());
  for (uint16_t i = 0; i < l->sectionCount; i++) {
    size_t at = l->sectionTableAt + i * kSectionHeaderSize;
    if (at + kSectionHeaderSize > l->sizeOfHeaders) return fail("damaged section table");
    uint32_t virtualSize = GetLe32(&b[at + 8]), virtualAddress = GetLe32(&b[at + 12]);
    uint32_t rawSize = GetLe32(&b[at + 16]), rawAt = GetLe32(&b[at + 20]);
    uint64_t rawEnd = uint64_t{rawAt} + rawSize;
    uint64_t virtualEnd = uint64_t{virtualAddress} + std::max(virtualSize, rawSize);
    if (rawEnd > b.size() || virtualEnd > 0x80000000u) return fail("a section lies outside the file or the address space");
    if (rawSize && rawAt < firstRawData) firstRawData = rawAt;
    if (rawSize && rawEnd > l->rawEnd) l->rawEnd = static_cast<uint32_t>(rawEnd);
    if (virtualEnd > l->virtualEnd) l->virtualEnd = static_cast<uint32_t>(virtualEnd);
  }
  uint32_t tableEnd = l->sectionTableAt + (l->sectionCount + 1) * kSectionHeaderSize;
  if (tableEnd > l->sizeOfHeaders || tableEnd > firstRawData) return fail("no room for one more section header");
  if (l->rawEnd != b.size()) return fail("data after the last section (the stub must end with its last section)");
  return true;
}

uint32_t PayloadOffset(const PeLayout& layout) { return AlignUp(layout.rawEnd, layout.fileAlignment); }

uint32_t AlignedRawSize(const PeLayout& l, uint64_t size) {
  return static_cast<uint32_t>((size + l.fileAlignment - 1) / l.fileAlignment * l.fileAlignment);
}

void AddSectionHeader(std::vector<uint8_t>& image, const PeLayout& l, const char* name, uint32_t characteristics,
                      uint32_t payloadSize) {
  uint32_t rawAt = PayloadOffset(l);
  uint32_t rawSize = AlignedRawSize(l, payloadSize);
  uint32_t virtualAt = AlignUp(l.virtualEnd, l.sectionAlignment);
  uint32_t virtualSize = AlignUp(payloadSize, l.sectionAlignment);
  size_t header = l.sectionTableAt + l.sectionCount * kSectionHeaderSize;
  memcpy(&image[header], name, 8);
  SetLe32(image, header + 8, virtualSize);
  SetLe32(image, header + 12, virtualAt);
  SetLe32(image, header + 16, rawSize);
  SetLe32(image, header + 20, rawAt);
  SetLe32(image, header + 24, 0);
  SetLe32(image, header + 28, 0);
  SetLe32(image, header + 32, 0);
  SetLe32(image, header + 36, characteristics);
  image[l.headerAt + 6] = static_cast<uint8_t>((l.sectionCount + 1) & 0xFF);
  image[l.headerAt + 7] = static_cast<uint8_t>((l.sectionCount + 1) >> 8);
  SetLe32(image, l.optionalAt + kSizeOfImageAt, virtualAt + virtualSize);
  uint32_t initialised = GetLe32(&image[l.optionalAt + kSizeOfInitializedDataAt]);
  SetLe32(image, l.optionalAt + kSizeOfInitializedDataAt, initialised + rawSize);
  SetLe32(image, l.optionalAt + kCheckSumAt, 0);
  image.resize(rawAt, 0);
}

void AppendSection(std::vector<uint8_t>& image, const PeLayout& l, const char* name, uint32_t characteristics,
                   const std::vector<uint8_t>& payload) {
  AddSectionHeader(image, l, name, characteristics, static_cast<uint32_t>(payload.size()));
  size_t rawAt = image.size();
  image.insert(image.end(), payload.begin(), payload.end());
  image.resize(rawAt + AlignedRawSize(l, payload.size()), 0);
}

uint32_t NextSectionRva(const PeLayout& layout) { return AlignUp(layout.virtualEnd, layout.sectionAlignment); }

bool SetDataDirectory(std::vector<uint8_t>& image, const PeLayout& l, unsigned index, uint32_t rva, uint32_t size) {
  const ArchFacts& facts = FactsOf(l.arch);
  size_t directories = l.optionalAt + facts.dataDirectoriesAt;
  if (GetLe32(&image[directories - kDataDirectoryCountBefore]) <= index) return false;
  SetLe32(image, directories + index * 8, rva);
  SetLe32(image, directories + index * 8 + 4, size);
  return true;
}

bool ReadDataDirectory(const std::vector<uint8_t>& image, unsigned index, uint32_t* rva_ret, uint32_t* size_ret) {
  const ArchFacts* facts = KnownArch(image);
  if (!facts) return false;
  size_t directories = GetLe32(&image[60]) + 4 + kFileHeaderSize + facts->dataDirectoriesAt;
  if (GetLe32(&image[directories - kDataDirectoryCountBefore]) <= index) return false;
  *rva_ret = GetLe32(&image[directories + index * 8]);
  *size_ret = GetLe32(&image[directories + index * 8 + 4]);
  return true;
}

bool RvaToFileOffset(const std::vector<uint8_t>& image, uint32_t rva, uint32_t size, uint32_t* offset_ret) {
  if (!KnownArch(image)) return false;
  size_t headerAt = GetLe32(&image[60]);
  unsigned count = GetLe16(&image[headerAt + 6]);
  size_t tableAt = headerAt + 4 + kFileHeaderSize + GetLe16(&image[headerAt + 4 + 16]);
  for (unsigned i = 0; i < count; i++) {
    size_t at = tableAt + i * kSectionHeaderSize;
    if (at + kSectionHeaderSize > image.size()) return false;
    uint64_t virtualAt = GetLe32(&image[at + 12]), rawSize = GetLe32(&image[at + 16]), rawAt = GetLe32(&image[at + 20]);
    if (rva < virtualAt || uint64_t{rva} + size > virtualAt + rawSize) continue;
    uint64_t offset = rawAt + (rva - virtualAt);
    if (offset + size > image.size()) return false;
    *offset_ret = static_cast<uint32_t>(offset);
    return true;
  }
  return false;
}

// The image checksum: the file summed as 16-bit words with the carries
// folded back in, the CheckSum field counted as 0, plus the file's length.
void PeChecksum::Add(const uint8_t* bytes, size_t size, uint64_t fileOffset) {
  size_t i = 0;
  if (size > 0 && (fileOffset & 1)) sum_ += static_cast<uint64_t>(bytes[i++]) << 8;  // the high byte of a word
  for (; i + 1 < size; i += 2) sum_ += GetLe16(&bytes[i]);
  if (i < size) sum_ += bytes[i];  // the low byte of a word the next piece completes
}

uint32_t PeChecksum::Value(uint64_t fileSize) const {
  uint64_t sum = sum_;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + fileSize);
}

uint32_t PeChecksumAt(const PeLayout& l) { return l.optionalAt + kCheckSumAt; }

void UpdatePeChecksum(std::vector<uint8_t>& image, const PeLayout& l) {
  size_t checksumAt = PeChecksumAt(l);
  SetLe32(image, checksumAt, 0);
  PeChecksum checksum;
  checksum.Add(image.data(), image.size(), 0);
  SetLe32(image, checksumAt, checksum.Value(image.size()));
}
