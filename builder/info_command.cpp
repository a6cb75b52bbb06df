// dravik-sfx info: what a self-extractor holds: its configuration record
// with the flags by name, the five ConfigBlock texts, and a summary of its
// archive.
#include "builder/info_command.h"

#include "builder/file_io.h"
#include "builder/pe_image.h"
#include "builder/zip_reencode.h"
#include "builder/zip_reader.h"
#include "container/integrity.h"
#include "container/sfx_config.h"
#include "container/sfx_image.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kInfoUsage[] = "usage: dravik-sfx info FILE.exe\n"
                          "Shows the configuration record, its flags, the five texts and an archive summary.\n";

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) { return GetLe32(&b[at]); }
uint16_t Le16(const std::vector<uint8_t>& b, size_t at) { return GetLe16(&b[at]); }

void PrintFlags(uint32_t flags) {
  static const std::pair<uint32_t, const char*> kNames[] = {
      {SfxFlag::OverwriteDefault, "OverwriteDefault"}, {SfxFlag::UseCaption, "UseCaption"},
      {SfxFlag::HasPassword, "HasPassword"},           {SfxFlag::AutoUnzip, "AutoUnzip"},
      {SfxFlag::CrcAfterHeaders, "CrcAfterHeaders"},   {SfxFlag::SpannedArchive, "SpannedArchive"},
      {SfxFlag::ExeFirstVolume, "ExeFirstVolume"},     {SfxFlag::CaptionAsTitle, "CaptionAsTitle"},
      {SfxFlag::PromptAsks, "PromptAsks"},             {SfxFlag::PromptOkCancel, "PromptOkCancel"}};
  printf("SfxFlags            0x%08X", flags);
  for (const auto& [bit, name] : kNames)
    if (flags & bit) printf(" %s", name);
  printf("\n");
}

// Prints a text with its control characters escaped.
void PrintText(const char* label, const std::string& text) {
  printf("%-19s \"", label);
  for (unsigned char c : text) {
    if (c == '\n') printf("\\n");
    else if (c == '"' || c == '\\') printf("\\%c", c);
    else if (c < 0x20) printf("\\x%02X", c);
    else putchar(c);
  }
  printf("\"\n");
}

void PrintTexts(const std::vector<uint8_t>& b, uint32_t from, uint32_t to) {
  static const char* const kLabels[] = {"Folder", "Credit", "StartupPrompt", "Caption", "InfoText"};
  size_t at = from;
  for (const char* label : kLabels) {
    std::string text;
    while (at < to && at < b.size() && b[at]) text += static_cast<char>(b[at++]);
    at++;
    PrintText(label, text);
  }
}

void PrintArchive(const std::vector<uint8_t>& b, uint32_t flags) {
  if (flags & SfxFlag::SpannedArchive) {
    printf("Archive             a spanned set: its volumes are on the disks\n");
    return;
  }
  ZipArchive archive;
  std::string error;
  if (!ReadZip(b, &archive, &error)) {
    printf("Archive             unreadable: %s\n", error.c_str());
    return;
  }
  printf("Archive             %zu entries\n", archive.entries.size());
  printf("  %-8s %10s %10s %-8s  %s\n", "method", "size", "packed", "crc-32", "name");
  uint64_t size = 0, packed = 0;
  for (const ZipEntry& e : archive.entries) {
    const char* method = e.method == 8 ? "deflated" : e.method == 0 ? "stored" : "other";
    uint16_t original = ReencodedFrom(e);
    std::string notes = (e.flags & kFlagEncryptedEntry) ? "  (encrypted)" : "";
    if (original) notes += "  (re-encoded from " + MethodInWords(original) + ")";
    printf("  %-8s %10u %10zu %08x  %s%s\n", method, e.uncompressedSize, e.data.size(), e.crc32, e.name.c_str(),
           notes.c_str());
    size += e.uncompressedSize;
    packed += e.data.size();
  }
  printf("  %-8s %10llu %10llu\n", "total", static_cast<unsigned long long>(size),
         static_cast<unsigned long long>(packed));
}

}  // namespace

int InfoCommand(int argc, char** argv) {
  if (argc == 1 && (!strcmp(argv[0], "--help") || !strcmp(argv[0], "-h"))) {
    fputs(kInfoUsage, stdout);
    return 0;
  }
  if (argc != 1) {
    fputs(kInfoUsage, stderr);
    return 64;
  }
  std::vector<uint8_t> b;
  if (!ReadWholeFile(argv[0], &b)) {
    fprintf(stderr, "dravik-sfx info: cannot read %s\n", argv[0]);
    return 2;
  }
  LONG at = FindSfxMarker(b.data(), static_cast<DWORD>(b.size()), SfxImage.Config.SfxMarker);
  if (at < 0 || static_cast<size_t>(at) + SfxConfigOffset::RecordSize > b.size()) {
    fprintf(stderr, "dravik-sfx info: %s is not a self-extractor (no configuration record)\n", argv[0]);
    return 2;
  }
  size_t r = static_cast<size_t>(at);
  uint32_t archiveAt = Le32(b, r + SfxConfigOffset::ArchiveOffset);
  uint32_t configAt = Le32(b, r + SfxConfigOffset::ConfigBlockOffset);
  uint32_t flags = Le32(b, r + SfxConfigOffset::SfxFlags);
  printf("File                %s (%zu bytes)\n", argv[0], b.size());
  StubArch arch;
  printf("Stub                %s\n", !ReadImageArch(b, &arch)    ? "not a Windows image we know"
                                     : arch == StubArch::X64 ? "x64 (PE32+, x86-64)"
                                                              : "x86 (PE32, i386)");
  printf("SfxMarker           at offset %zu\n", r);
  printf("StubCrc             0x%08X%s\n", Le32(b, r + SfxConfigOffset::StubCrc),
         Le32(b, r + SfxConfigOffset::StubCrc) ? "" : " (check off)");
  printf("ArchiveOffset       %u\n", archiveAt);
  printf("ConfigBlockOffset   %u\n", configAt);
  printf("EndRecordOffset     %u\n", Le32(b, r + SfxConfigOffset::EndRecordOffset));
  printf("TotalSize           %u\n", Le32(b, r + SfxConfigOffset::TotalSize));
  PrintFlags(flags);
  printf("Reserved32a         0x%08X\n", Le32(b, r + SfxConfigOffset::Reserved32a));
  printf("Reserved32b         0x%08X\n", Le32(b, r + SfxConfigOffset::Reserved32b));
  printf("Reserved16a         0x%04X\n", Le16(b, r + SfxConfigOffset::Reserved16a));
  printf("Finalised           0x%04X\n", Le16(b, r + SfxConfigOffset::Finalised));
  printf("Reserved32c         0x%08X\n", Le32(b, r + SfxConfigOffset::Reserved32c));
  printf("Reserved32d         0x%08X\n", Le32(b, r + SfxConfigOffset::Reserved32d));
  printf("Reserved16b         0x%04X\n", Le16(b, r + SfxConfigOffset::Reserved16b));
  printf("EntryPointRva       0x%08X\n", Le32(b, r + SfxConfigOffset::EntryPointRva));
  if (configAt && configAt <= archiveAt && archiveAt <= b.size()) PrintTexts(b, configAt, archiveAt);
  PrintArchive(b, flags);
  return 0;
}
