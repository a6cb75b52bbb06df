// Test fixtures for the stub's portable code: synthetic self-extractor files
// small enough to reason about byte by byte, and a clean start for the host
// platform and the stub's state before each test.
#pragma once

#include "container/sfx_config.h"

#include <cstdint>
#include <string>
#include <vector>

// A made-up self-extractor: a DOS header, a PE32 (or PE32+) image header
// whose entry point is kSyntheticEntryPoint, a section table of one section,
// some "code", the configuration record (the section's raw data runs from
// kSyntheticSectionOffset to the record's end), the ConfigBlock and a ZIP
// archive (by default an empty one: its end record).
struct SyntheticSfx {
  uint32_t flags = SfxFlag::CrcAfterHeaders;
  bool pe32Plus = false;  // the x64 stub's image header, 16 bytes longer
  bool withStubCrc = true;
  bool finalised = true;
  bool withConfigBlock = true;
  bool withEndRecordCheck = true;
  std::string texts[5] = {"C:\\out", "credit", "", "", "builder options"};
  std::string runCommand;  // a sixth text when not empty
  std::vector<uint8_t> archive;  // the ZIP archive appended; empty: an end record only
};

constexpr uint32_t kSyntheticEntryPoint = 0x1234;
constexpr uint32_t kSyntheticLfanew = 64;
constexpr uint32_t kSyntheticSectionOffset = 384;
constexpr uint32_t kSyntheticCodeOffset = 400;  // a byte inside the stub's "code"
constexpr uint32_t kSyntheticRecordOffset = 512;

struct SyntheticLayout {
  std::vector<uint8_t> bytes;
  uint32_t configBlockOffset;
  uint32_t archiveOffset;
  uint32_t endRecordOffset;
};

SyntheticLayout MakeSyntheticSfx(const SyntheticSfx& options);

// A fresh temporary folder per call, removed at process exit.
std::string MakeTempFolder();
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::string& path);

// Clears SfxState and every simulated host setting; the message table is
// loaded, as start-up leaves it.
void ResetStubAndHost();

// Little-endian field access in a byte vector.
void PutU16(std::vector<uint8_t>& bytes, size_t at, uint16_t value);
void PutU32(std::vector<uint8_t>& bytes, size_t at, uint32_t value);
uint32_t GetU32(const std::vector<uint8_t>& bytes, size_t at);
