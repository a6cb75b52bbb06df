// The archive as the builder holds it: entries with their names, times,
// flags and data, whether made from files or taken from an existing ZIP.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ZipEntry {
  std::string name;            // in the target code page, '/' separators, "dir/" for folders
  uint16_t versionNeeded = 20;
  uint16_t versionMadeBy = 20;
  uint16_t flags = 0;
  uint16_t method = 0;         // 0 stored, 8 deflated
  uint16_t modTime = 0;        // DOS time
  uint16_t modDate = 0;        // DOS date
  uint32_t crc32 = 0;
  uint32_t uncompressedSize = 0;
  std::vector<uint8_t> data;   // as stored (compressed, encrypted)
  std::vector<uint8_t> localExtra;
  std::vector<uint8_t> centralExtra;
  std::vector<uint8_t> comment;
  uint16_t internalAttributes = 0;
  uint32_t externalAttributes = 0;
  bool hasDescriptor = false;  // a data descriptor (with its signature) follows the data
  uint64_t localAt = 0;        // read from an archive: the file offset of its local header
};

// A folder entry: its name ends in '/'.
inline bool IsFolderEntry(const ZipEntry& entry) { return !entry.name.empty() && entry.name.back() == '/'; }

struct ZipArchive {
  std::vector<ZipEntry> entries;
  std::vector<uint8_t> comment;
};

// ZIP format constants the builder writes and reads.
constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr uint32_t kCentralHeaderSignature = 0x02014B50;
constexpr uint32_t kEndRecordSignature = 0x06054B50;
constexpr uint32_t kDescriptorSignature = 0x08074B50;
constexpr uint32_t kZip64EndLocatorSignature = 0x07064B50;
constexpr unsigned kLocalHeaderSize = 30;
constexpr unsigned kCentralHeaderSize = 46;
constexpr unsigned kEndRecordSize = 22;
constexpr unsigned kDescriptorSize = 16;
constexpr unsigned kEndRecordCommentLengthAt = 20;  // the end record's last field
constexpr unsigned kNameLimit = 200;
constexpr uint16_t kFlagEncryptedEntry = 0x1;
constexpr uint16_t kFlagDescriptor = 0x8;
constexpr uint16_t kFlagStrongEncryption = 0x40;
constexpr uint16_t kFlagUtf8Name = 0x800;

// Little-endian helpers: Put appends, Set writes in place.
void PutLe16(std::vector<uint8_t>& out, uint16_t v);
void PutLe32(std::vector<uint8_t>& out, uint32_t v);
void SetLe16(std::vector<uint8_t>& bytes, size_t at, uint16_t v);
void SetLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t v);
uint16_t GetLe16(const uint8_t* p);
uint32_t GetLe32(const uint8_t* p);
