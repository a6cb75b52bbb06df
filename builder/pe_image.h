// The stub's image, PE32 (x86) or PE32+ (x64): checked, and given one more
// section at its end for the payload.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The architectures a stub is built for.
enum class StubArch { X86, X64 };

// "x86" or "x64".
const char* StubArchName(StubArch arch);

// The architecture named by `name` ("x86", "x64"); false for any other name.
bool ParseStubArch(const std::string& name, StubArch* arch_ret);

struct PeLayout {
  StubArch arch;
  uint32_t headerAt;        // e_lfanew: the "PE\0\0" signature
  uint32_t optionalAt;      // the optional header
  uint32_t sectionTableAt;
  uint16_t sectionCount;
  uint32_t fileAlignment;
  uint32_t sectionAlignment;
  uint32_t sizeOfHeaders;
  uint32_t entryPoint;      // AddressOfEntryPoint
  uint32_t rawEnd;          // end of the last section's raw data
  uint32_t virtualEnd;      // end of the last section's virtual range
};

// The architecture of the Windows image `image` (an i386 PE32 or x86-64
// PE32+ image); false when it is neither.
bool ReadImageArch(const std::vector<uint8_t>& image, StubArch* arch_ret);

// Whether the image's header names a code signature (its certificate
// directory is set); `image` may hold just the first few KiB of the file.
bool HasCodeSignature(const std::vector<uint8_t>& image);

// Checks that `image` is a PE32 i386 or PE32+ x86-64 GUI program the payload
// section can be added to; false with *error_ret set otherwise.
bool ReadPeLayout(const std::vector<uint8_t>& image, PeLayout* layout_ret, std::string* error_ret);

// The file offset where the payload section's raw data will start.
uint32_t PayloadOffset(const PeLayout& layout);

// Adds the section `name` (8 bytes) holding `payload` (padded with zeros to
// the file alignment) to image, which must hold exactly the stub; updates
// the header's counts and sizes. The image checksum is set to 0.
void AppendSection(std::vector<uint8_t>& image, const PeLayout& layout, const char* name, uint32_t characteristics,
                   const std::vector<uint8_t>& payload);

// The header half of AppendSection: enters a section of `payloadSize` bytes
// in the section table and the header's counts and sizes, and pads image to
// where the section's raw data starts; the caller places the payload there,
// padded to the file alignment. The image checksum is set to 0.
void AddSectionHeader(std::vector<uint8_t>& image, const PeLayout& layout, const char* name, uint32_t characteristics,
                      uint32_t payloadSize);

// The size of `size` bytes of raw data padded to the file alignment.
uint32_t AlignedRawSize(const PeLayout& layout, uint64_t size);

// The data directory that locates the resource section.
constexpr unsigned kResourceDirectory = 2;

// The virtual address the next section added to the image will get.
uint32_t NextSectionRva(const PeLayout& layout);

// Points the data directory `index` of `image` at rva and size; false when
// the optional header has fewer data directories than that.
bool SetDataDirectory(std::vector<uint8_t>& image, const PeLayout& layout, unsigned index, uint32_t rva, uint32_t size);

// The data directory `index` of the image `image` (untrusted); false when the
// image is no PE32 or PE32+ image we know or has no such directory.
bool ReadDataDirectory(const std::vector<uint8_t>& image, unsigned index, uint32_t* rva_ret, uint32_t* size_ret);

// The file offset of the `size` bytes at `rva`, which must lie whole inside
// the raw data of one section of `image`; false otherwise.
bool RvaToFileOffset(const std::vector<uint8_t>& image, uint32_t rva, uint32_t size, uint32_t* offset_ret);

// Recomputes the optional header's CheckSum field over the whole file.
void UpdatePeChecksum(std::vector<uint8_t>& image, const PeLayout& layout);

// The image checksum summed piece by piece, for a file written in parts:
// the 16-bit little-endian words of the file added with end-around carry
// (the CheckSum field itself counted as 0), then the file's length added.
// Pieces may be added in any order, each with its file offset.
class PeChecksum {
 public:
  void Add(const uint8_t* bytes, size_t size, uint64_t fileOffset);
  // The CheckSum field's value for a file of `fileSize` bytes.
  uint32_t Value(uint64_t fileSize) const;

 private:
  uint64_t sum_ = 0;  // unfolded: 2^48 words before it could overflow
};

// The file offset of the optional header's CheckSum field.
uint32_t PeChecksumAt(const PeLayout& layout);
