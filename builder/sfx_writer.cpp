// Laying out a self-extractor (see sfx_writer.h).
#include "builder/sfx_writer.h"

#include "archive/decryption.h"
#include "base/sfx_state.h"
#include "builder/pe_image.h"
#include "builder/zip_writer.h"
#include "container/integrity.h"
#include "container/sfx_config.h"
#include "container/sfx_image.h"
#include "platform/host/sfx_record_locator.h"
#include "util/crc32.h"

#include <cstdio>
#include <cstring>

namespace {

// The stub reads its own file with signed 32-bit offsets.
constexpr uint64_t kImageSizeLimit = 0x7FFFFFFF;

// The credit text the stub does not show; kept for tools that list it.
const char kCreditText[] = "Dravik Self-Extractor";

bool CheckLimit(const std::string& text, unsigned limit, const char* option, std::string* error) {
  if (text.size() <= limit) return true;
  *error = std::string(option) + " is " + std::to_string(text.size()) + " bytes; the limit is " +
           std::to_string(limit);
  return false;
}

// The 12 bytes in front of an encrypted entry's data: random, but for the
// last, which lets the self-extractor check the password: the CRC's high
// byte, or the time's for an entry whose CRC follows in a descriptor.
std::vector<uint8_t> EncryptionHeader(const ZipEntry& entry) {
  std::vector<uint8_t> header(12);
  FILE* random = fopen("/dev/urandom", "rb");
  if (!random || fread(header.data(), 1, header.size(), random) != header.size()) {
    for (size_t i = 0; i < header.size(); i++) header[i] = static_cast<uint8_t>(rand());
  }
  if (random) fclose(random);
  header[11] = entry.hasDescriptor ? static_cast<uint8_t>(entry.modTime >> 8) : static_cast<uint8_t>(entry.crc32 >> 24);
  return header;
}

// Format notes: the payload section ends in zero padding up to the file
// alignment. Left behind the end record, ZIP readers report those bytes as
// data after the archive; counted as the archive comment instead (the end
// record's last field is the comment length, and the comment is the last
// thing in an archive) they are part of it, and the file ends where its
// archive does. The stub never reads the comment. An archive with no end
// record here (the head of a spanned set) keeps its plain padding.
void AbsorbPaddingInComment(PayloadArchive& archive, uint32_t archiveAt, uint32_t fileAlignment) {
  if (!archive.endRecordAt) return;
  uint64_t end = uint64_t{archiveAt} + archive.bytes.size();
  uint64_t padding = (fileAlignment - end % fileAlignment) % fileAlignment;
  size_t lengthAt = archive.endRecordAt - archiveAt + kEndRecordCommentLengthAt;
  size_t commentLength = GetLe16(&archive.bytes[lengthAt]);
  if (commentLength + padding > 0xFFFF) return;
  SetLe16(archive.bytes, lengthAt, static_cast<uint16_t>(commentLength + padding));
  archive.bytes.resize(archive.bytes.size() + padding, 0);
}

// The longest the run command can become in the stub, where each {folder}
// becomes a folder of up to 260 characters.
size_t LongestRunCommandLine(const std::string& run) {
  size_t placeholders = 0;
  for (size_t at = run.find(kFolderPlaceholder); at != std::string::npos;
       at = run.find(kFolderPlaceholder, at + kFolderPlaceholderLength))
    placeholders++;
  return run.size() + placeholders * (kFolderTextLimit - kFolderPlaceholderLength);
}

// Resource sections hold initialised, readable data.
constexpr uint32_t kResourceSectionCharacteristics = 0x40000040;
constexpr char kResourceSectionName[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};

}  // namespace

// The stub carries no resources of its own; a --stub that does keeps its old
// section, unused, since only the directory entry counts.
bool StubWithResources(const std::vector<uint8_t>& stub, const PublisherResources& resources,
                       std::vector<uint8_t>* image_ret, PeLayout* layout, std::string* error) {
  if (!ReadPeLayout(stub, layout, error)) return false;
  std::vector<uint8_t>& image = *image_ret;
  image = stub;
  uint32_t rva = NextSectionRva(*layout);
  std::vector<uint8_t> section = WriteResourceSection(PublisherResourceItems(resources, layout->arch), rva);
  AppendSection(image, *layout, kResourceSectionName, kResourceSectionCharacteristics, section);
  if (!SetDataDirectory(image, *layout, kResourceDirectory, rva, static_cast<uint32_t>(section.size()))) {
    *error = "unusable stub: its header has no resource directory entry";
    return false;
  }
  return ReadPeLayout(image, layout, error);
}

bool MakeConfigBlock(const SfxSettings& s, std::vector<uint8_t>* block, std::string* error) {
  if (!CheckLimit(s.folder, kFolderTextLimit, "--folder", error) ||
      !CheckLimit(s.prompt, kPromptTextLimit, "--prompt", error) ||
      !CheckLimit(s.caption, kCaptionTextLimit, "--caption", error) ||
      !CheckLimit(s.info, kInfoTextLimit, "--info", error) || !CheckLimit(s.run, kRunCommandTextLimit, "--run", error))
    return false;
  if (LongestRunCommandLine(s.run) > kRunCommandLineLimit) {
    *error = "--run with each {folder} as a folder of 260 characters would take " +
             std::to_string(LongestRunCommandLine(s.run)) + " bytes; the limit is " +
             std::to_string(kRunCommandLineLimit);
    return false;
  }
  std::vector<std::string> texts = {s.folder, std::string(kCreditText), s.prompt, s.caption, s.info};
  if (!s.run.empty()) texts.push_back(s.run);  // files without a program keep their five texts
  block->clear();
  for (const std::string& text : texts) {
    if (text.find('\0') != std::string::npos) {
      *error = "a text holds a NUL byte";
      return false;
    }
    block->insert(block->end(), text.begin(), text.end());
    block->push_back(0);
  }
  if (block->size() > kConfigBlockMaxSize) {
    *error = "the texts take " + std::to_string(block->size()) + " bytes together; the limit is " +
             std::to_string(kConfigBlockMaxSize);
    return false;
  }
  return true;
}

std::string FindZipSignature(const std::vector<uint8_t>& bytes, size_t end) {
  static const std::pair<uint32_t, const char*> kSignatures[] = {
      {0x04034B50, "local header"},     {0x02014B50, "central header"},       {0x06054B50, "end record"},
      {0x05054B50, "digital signature"}, {0x30304B50, "spanning marker"},      {0x08074B50, "spanning signature"}};
  for (size_t at = 0; at + 4 <= end; at++) {
    if (bytes[at] != 'P' || bytes[at + 1] != 'K') continue;
    uint32_t value = GetLe32(&bytes[at]);
    for (const auto& [signature, name] : kSignatures)
      if (value == signature) return std::string(name) + " signature at offset " + std::to_string(at);
  }
  return "";
}

void EncryptEntries(ZipArchive& archive, const std::string& password) {
  BuildCrcTable();
  for (ZipEntry& entry : archive.entries) {
    if ((entry.flags & kFlagEncryptedEntry) || (!entry.name.empty() && entry.name.back() == '/')) continue;
    std::vector<uint8_t> plain = EncryptionHeader(entry);
    plain.insert(plain.end(), entry.data.begin(), entry.data.end());
    InitKeys(password.c_str());
    for (uint8_t& byte : plain) {
      uint8_t p = byte;
      byte = p ^ KeyStreamByte();
      UpdateKeys(p);
    }
    entry.data = std::move(plain);
    entry.flags |= kFlagEncryptedEntry;
  }
}

bool LayOutImage(const std::vector<uint8_t>& stub, const SfxSettings& settings, const ArchiveMaker& makeArchive,
                 uint32_t totalSize, std::vector<uint8_t>* out, uint32_t* archiveAt_ret, std::string* error) {
  PeLayout layout;
  std::vector<uint8_t> image;
  if (!StubWithResources(stub, settings.resources, &image, &layout, error)) return false;
  // The record the stub will read is the one in its own sections; the stub
  // CRC zeroes the first marker in the file, so that must be the same one.
  const BYTE* marker = SfxImage.Config.SfxMarker;
  long recordAt = LocateSfxRecord(stub.data(), stub.size());
  if (recordAt < 0) {
    *error = "unusable stub: no configuration record in its sections, or more than one";
    return false;
  }
  if (FindSfxMarker(stub.data(), static_cast<DWORD>(stub.size()), marker) != recordAt) {
    *error = "unusable stub: a copy of the record's marker stands before the record";
    return false;
  }
  std::string signature = FindZipSignature(stub, stub.size());
  if (!signature.empty()) {
    *error = "unusable stub: it holds a ZIP " + signature;
    return false;
  }
  std::vector<uint8_t> payload;
  if (!MakeConfigBlock(settings, &payload, error)) return false;
  uint32_t configAt = PayloadOffset(layout);
  uint32_t archiveAt = configAt + static_cast<uint32_t>(payload.size());
  PayloadArchive archive = makeArchive(archiveAt);
  AbsorbPaddingInComment(archive, archiveAt, layout.fileAlignment);
  if (uint64_t{archiveAt} + archive.bytes.size() + layout.fileAlignment > kImageSizeLimit) {
    *error = "the self-extractor would be 2 GiB or larger, more than it can read";
    return false;
  }
  payload.insert(payload.end(), archive.bytes.begin(), archive.bytes.end());

  AppendSection(image, layout, kPayloadSectionName, kPayloadSectionCharacteristics, payload);
  size_t r = static_cast<size_t>(recordAt);
  SetLe32(image, r + SfxConfigOffset::ArchiveOffset, archiveAt);
  SetLe32(image, r + SfxConfigOffset::ConfigBlockOffset, configAt);
  SetLe32(image, r + SfxConfigOffset::EndRecordOffset, archive.endRecordAt);
  SetLe32(image, r + SfxConfigOffset::TotalSize, totalSize);
  SetLe32(image, r + SfxConfigOffset::SfxFlags, settings.flags);
  SetLe16(image, r + SfxConfigOffset::Finalised, 0xFFFF);
  SetLe32(image, r + SfxConfigOffset::EntryPointRva, layout.entryPoint);
  SetLe32(image, r + SfxConfigOffset::StubCrc, 0);

  signature = FindZipSignature(image, archiveAt);
  if (!signature.empty()) {
    *error = "a text or resource would put a ZIP " + signature + " before the archive";
    return false;
  }
  bool afterHeaders = (settings.flags & SfxFlag::CrcAfterHeaders) != 0;
  if (settings.stubCrc) {
    std::vector<uint8_t> copy(image.begin(), image.begin() + archiveAt);
    uint32_t crc = 0;
    BuildCrcTable();
    if (!ComputeStubCrc(copy.data(), archiveAt, afterHeaders, marker, &crc)) {
      *error = "unusable stub: its CRC range is empty";
      return false;
    }
    SetLe32(image, r + SfxConfigOffset::StubCrc, crc);
  }
  // The checksum lies in the image header: it can be computed last only when
  // the stub CRC leaves the header out.
  if (afterHeaders || !settings.stubCrc) UpdatePeChecksum(image, layout);
  *out = std::move(image);
  *archiveAt_ret = archiveAt;
  return true;
}

bool LayOutSelfExtractor(const std::vector<uint8_t>& stub, const ZipArchive& archive, const SfxSettings& settings,
                         std::vector<uint8_t>* out, std::string* error) {
  if (!CheckArchiveFits(archive, error)) return false;
  uint32_t totalSize = 0;
  for (const ZipEntry& entry : archive.entries) totalSize += entry.uncompressedSize;
  auto makeArchive = [&](uint32_t archiveAt) {
    PayloadArchive made;
    made.bytes = WriteZip(archive, archiveAt, &made.endRecordAt);
    return made;
  };
  uint32_t archiveAt;
  return LayOutImage(stub, settings, makeArchive, totalSize, out, &archiveAt, error);
}
