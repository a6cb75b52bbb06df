// ZIP records as the stub reads them (little-endian, as the format is; the
// stub runs only on little-endian machines, so records are read straight
// into these structures).
#pragma once

#include "platform/platform.h"

#include <cstdint>

// The 26 bytes of a local file header after its signature.
#pragma pack(push, 1)
struct LocalFileHeader {
  uint16_t VersionNeeded;
  uint16_t Flags;             // bit 0 encrypted, bit 3 data descriptor follows
  uint16_t Method;            // 0 stored, 8 deflated
  uint16_t ModTime;           // DOS time
  uint16_t ModDate;           // DOS date
  uint32_t Crc32;
  uint32_t CompressedSize;    // unsigned, as the format has it; counted down while the
                              // entry's data is read or skipped
  uint32_t UncompressedSize;
  uint16_t NameLength;
  uint16_t ExtraLength;
};
#pragma pack(pop)
static_assert(sizeof(LocalFileHeader) == 26);

constexpr uint16_t kFlagEncrypted = 0x1;
constexpr uint16_t kFlagDataDescriptor = 0x8;
constexpr uint16_t kFlagNameInUtf8 = 0x800;  // bit 11: the name is UTF-8, else in the system's code page
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

constexpr unsigned kSignatureSize = 4;
constexpr unsigned kCentralHeaderFixedSize = 42;   // after the signature
constexpr unsigned kCentralNameLengthAt = 24;
constexpr unsigned kCentralExtraLengthAt = 26;
constexpr unsigned kCentralCommentLengthAt = 28;
constexpr unsigned kEndRecordFixedSize = 18;       // after the signature
constexpr unsigned kEndCommentLengthAt = 16;
constexpr unsigned kDataDescriptorSize = 16;       // signature, CRC-32, both sizes
constexpr unsigned kMaxEntryNameLength = 200;
constexpr unsigned kEncryptionHeaderSize = 12;
