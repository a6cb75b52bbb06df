// Synthetic self-extractors and test housekeeping (see stub_fixture.h).
#include "stub_fixture.h"

#include "archive/stored_texts.h"
#include "base/sfx_state.h"
#include "container/integrity.h"
#include "container/message_table.h"
#include "container/sfx_image.h"
#include "platform/host/host_control.h"
#include "util/crc32.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

void PutU16(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
  bytes[at] = value & 0xFF;
  bytes[at + 1] = value >> 8;
}

void PutU32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; i++) bytes[at + i] = (value >> (8 * i)) & 0xFF;
}

uint32_t GetU32(const std::vector<uint8_t>& bytes, size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

SyntheticLayout MakeSyntheticSfx(const SyntheticSfx& options) {
  SyntheticLayout layout;
  std::vector<uint8_t>& b = layout.bytes;
  b.assign(kSyntheticRecordOffset, 0);
  b[0] = 'M';
  b[1] = 'Z';
  PutU32(b, kLfanewOffset, kSyntheticLfanew);
  memcpy(&b[kSyntheticLfanew], "PE\0\0", 4);
  PutU32(b, kSyntheticLfanew + kEntryPointOffsetInHeader, kSyntheticEntryPoint);
  if (options.pe32Plus) PutU16(b, kSyntheticLfanew + kOptionalMagicOffsetInHeader, kPe32PlusMagic);
  uint32_t headerSize = options.pe32Plus ? kPe32PlusImageHeaderSize : kPe32ImageHeaderSize;
  for (uint32_t i = kSyntheticLfanew + headerSize; i < kSyntheticRecordOffset; i++)
    b[i] = static_cast<uint8_t>(i * 7);  // the stub's "code"
  // The file header: i386 with a PE32 optional header of 224 bytes (x86-64
  // with a PE32+ one of 240), one section; the one section holds the "code"
  // and the record, as a loader maps it.
  const uint32_t fileHeader = kSyntheticLfanew + 4, sectionTable = kSyntheticLfanew + headerSize;
  PutU16(b, fileHeader, options.pe32Plus ? 0x8664 : 0x14C);
  PutU16(b, fileHeader + 2, 1);
  PutU16(b, fileHeader + 16, static_cast<uint16_t>(headerSize - 4 - 20));
  const uint32_t sectionSize = kSyntheticRecordOffset + SfxConfigOffset::RecordSize - kSyntheticSectionOffset;
  memcpy(&b[sectionTable], ".data\0\0\0", 8);
  PutU32(b, sectionTable + 8, sectionSize);                // VirtualSize
  PutU32(b, sectionTable + 12, 0x1000);                    // VirtualAddress
  PutU32(b, sectionTable + 16, sectionSize);               // SizeOfRawData
  PutU32(b, sectionTable + 20, kSyntheticSectionOffset);  // PointerToRawData

  b.resize(kSyntheticRecordOffset + SfxConfigOffset::RecordSize, 0);
  memcpy(&b[kSyntheticRecordOffset], SfxImage.Config.SfxMarker, kSfxMarkerSize);

  layout.configBlockOffset = static_cast<uint32_t>(b.size());
  for (const std::string& text : options.texts) b.insert(b.end(), text.c_str(), text.c_str() + text.size() + 1);
  const std::string& run = options.runCommand;
  if (!run.empty()) b.insert(b.end(), run.c_str(), run.c_str() + run.size() + 1);
  layout.archiveOffset = static_cast<uint32_t>(b.size());
  std::vector<uint8_t> archive = options.archive;
  if (archive.empty()) archive = {'P', 'K', 5, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  size_t end = archive.size() - 4;
  while (end > 0 && memcmp(&archive[end], "PK\5\6", 4) != 0) end--;
  layout.endRecordOffset = layout.archiveOffset + static_cast<uint32_t>(end);
  b.insert(b.end(), archive.begin(), archive.end());

  auto field = [&](unsigned offset) { return kSyntheticRecordOffset + offset; };
  PutU32(b, field(SfxConfigOffset::ArchiveOffset), layout.archiveOffset);
  PutU32(b, field(SfxConfigOffset::ConfigBlockOffset), options.withConfigBlock ? layout.configBlockOffset : 0);
  PutU32(b, field(SfxConfigOffset::EndRecordOffset), options.withEndRecordCheck ? layout.endRecordOffset : 0);
  PutU32(b, field(SfxConfigOffset::SfxFlags), options.flags);
  PutU16(b, field(SfxConfigOffset::Finalised), options.finalised ? 0xFFFF : 0);
  PutU32(b, field(SfxConfigOffset::EntryPointRva), kSyntheticEntryPoint);
  if (options.withStubCrc) {
    std::vector<uint8_t> copy(b.begin(), b.begin() + layout.archiveOffset);
    uint32_t crc = 0;
    BuildCrcTable();
    bool afterHeaders = (options.flags & SfxFlag::CrcAfterHeaders) != 0;
    if (!ComputeStubCrc(copy.data(), layout.archiveOffset, afterHeaders, SfxImage.Config.SfxMarker, &crc))
      abort();
    PutU32(b, field(SfxConfigOffset::StubCrc), crc);
  }
  return layout;
}

std::string MakeTempFolder() {
  static std::vector<std::string>* made = [] {
    auto* list = new std::vector<std::string>;
    atexit([] {
      for (const std::string& path : *made) std::filesystem::remove_all(path);
    });
    return list;
  }();
  char pattern[] = "/tmp/dravik-unit-XXXXXX";
  std::string path = mkdtemp(pattern);
  made->push_back(path);
  return path;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void ResetStubAndHost() {
  HostReset();
  Sfx = SfxState{};
  // Most stub code shows texts from the table, which start-up unpacks with
  // the decoder; tests of that code start from the same state.
  static std::vector<BYTE> window(kSlideWindowAlloc);
  Sfx.SlideWindow = window.data();
  LoadMessageTable();
  Sfx.SlideWindow = nullptr;
}
