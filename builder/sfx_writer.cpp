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
  std::vector<uint8_t> header(kEncryptionHeaderSize);
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
  size_t lengthAt = archive.endRecordAt - archiveAt + kEndRecordCommentLengthAt;
  size_t commentLength = GetLe16(&archive.bytes[lengthAt]);
  uint32_t padding = AbsorbablePadding(uint64_t{archiveAt} + archive.bytes.size(), fileAlignment, commentLength);
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

bool NeedsEncryption(const ZipEntry& entry) {
  return !(entry.flags & kFlagEncryptedEntry) && !IsFolderEntry(entry);
}

void EncryptEntry(ZipEntry& entry, const std::string& password) {
  if (!NeedsEncryption(entry)) return;
  BuildCrcTable();
  std::vector<uint8_t> plain = EncryptionHeader(entry);
  plain.insert(plain.end(), entry.data.begin(), entry.data.end());
  entry.data = std::vector<uint8_t>();  // freed before the encryption runs over its copy
  InitKeys(password.c_str());
  for (uint8_t& byte : plain) {
    uint8_t p = byte;
    byte = p ^ KeyStreamByte();
    UpdateKeys(p);
  }
  entry.data = std::move(plain);
  entry.flags |= kFlagEncryptedEntry;
}

void EncryptEntries(ZipArchive& archive, const std::string& password) {
  for (ZipEntry& entry : archive.entries) EncryptEntry(entry, password);
}

uint32_t AbsorbablePadding(uint64_t archiveEnd, uint32_t fileAlignment, size_t commentLength) {
  uint64_t padding = (fileAlignment - archiveEnd % fileAlignment) % fileAlignment;
  return commentLength + padding > 0xFFFF ? 0 : static_cast<uint32_t>(padding);
}

bool BeginImageHead(const std::vector<uint8_t>& stub, const SfxSettings& settings, ImageHead* head,
                    std::string* error) {
  if (!StubWithResources(stub, settings.resources, &head->image, &head->layout, error)) return false;
  // The record the stub will read is the one in its own sections; the stub
  // CRC zeroes the first marker in the file, so that must be the same one.
  long recordAt = LocateSfxRecord(stub.data(), stub.size());
  if (recordAt < 0) {
    *error = "unusable stub: no configuration record in its sections, or more than one";
    return false;
  }
  if (FindSfxMarker(stub.data(), static_cast<DWORD>(stub.size()), SfxImage.Config.SfxMarker) != recordAt) {
    *error = "unusable stub: a copy of the record's marker stands before the record";
    return false;
  }
  std::string signature = FindZipSignature(stub, stub.size());
  if (!signature.empty()) {
    *error = "unusable stub: it holds a ZIP " + signature;
    return false;
  }
  if (!MakeConfigBlock(settings, &head->block, error)) return false;
  head->recordAt = static_cast<size_t>(recordAt);
  head->configAt = PayloadOffset(head->layout);
  head->archiveAt = head->configAt + static_cast<uint32_t>(head->block.size());
  return true;
}

uint64_t ImageFileSize(const ImageHead& head, uint64_t archiveSize) {
  return head.configAt + uint64_t{AlignedRawSize(head.layout, head.block.size() + archiveSize)};
}

bool CheckImageSize(const ImageHead& head, uint64_t archiveSize, std::string* error) {
  if (head.archiveAt + archiveSize + head.layout.fileAlignment <= kImageSizeLimit) return true;
  *error = "the self-extractor would be 2 GiB or larger, more than it can read";
  return false;
}

bool FinishImageHead(ImageHead& head, const SfxSettings& settings, const ArchivePlaced& archive, std::string* error) {
  if (!CheckImageSize(head, archive.size, error)) return false;
  std::vector<uint8_t>& image = head.bytes;
  image = head.image;
  AddSectionHeader(image, head.layout, kPayloadSectionName, kPayloadSectionCharacteristics,
                   static_cast<uint32_t>(head.block.size() + archive.size));
  image.insert(image.end(), head.block.begin(), head.block.end());
  size_t r = head.recordAt;
  SetLe32(image, r + SfxConfigOffset::ArchiveOffset, head.archiveAt);
  SetLe32(image, r + SfxConfigOffset::ConfigBlockOffset, head.configAt);
  SetLe32(image, r + SfxConfigOffset::EndRecordOffset, archive.endRecordAt);
  SetLe32(image, r + SfxConfigOffset::TotalSize, archive.totalSize);
  SetLe32(image, r + SfxConfigOffset::SfxFlags, settings.flags);
  SetLe16(image, r + SfxConfigOffset::Finalised, 0xFFFF);
  SetLe32(image, r + SfxConfigOffset::EntryPointRva, head.layout.entryPoint);
  SetLe32(image, r + SfxConfigOffset::StubCrc, 0);

  std::string signature = FindZipSignature(image, head.archiveAt);
  if (!signature.empty()) {
    *error = "a text or resource would put a ZIP " + signature + " before the archive";
    return false;
  }
  bool afterHeaders = (settings.flags & SfxFlag::CrcAfterHeaders) != 0;
  if (settings.stubCrc) {
    std::vector<uint8_t> copy(image);
    uint32_t crc = 0;
    BuildCrcTable();
    if (!ComputeStubCrc(copy.data(), head.archiveAt, afterHeaders, SfxImage.Config.SfxMarker, &crc)) {
      *error = "unusable stub: its CRC range is empty";
      return false;
    }
    SetLe32(image, r + SfxConfigOffset::StubCrc, crc);
  }
  // The checksum lies in the image header: it can be computed last only when
  // the stub CRC leaves the header out.
  if (afterHeaders || !settings.stubCrc) {
    PeChecksum checksum = archive.checksum;
    checksum.Add(image.data(), image.size(), 0);  // its own field is still 0 here
    SetLe32(image, PeChecksumAt(head.layout), checksum.Value(ImageFileSize(head, archive.size)));
  }
  return true;
}

bool LayOutImage(const std::vector<uint8_t>& stub, const SfxSettings& settings, const ArchiveMaker& makeArchive,
                 uint32_t totalSize, std::vector<uint8_t>* out, uint32_t* archiveAt_ret, std::string* error) {
  ImageHead head;
  if (!BeginImageHead(stub, settings, &head, error)) return false;
  PayloadArchive archive = makeArchive(head.archiveAt);
  AbsorbPaddingInComment(archive, head.archiveAt, head.layout.fileAlignment);
  ArchivePlaced placed;
  placed.size = archive.bytes.size();
  placed.endRecordAt = archive.endRecordAt;
  placed.totalSize = totalSize;
  placed.checksum.Add(archive.bytes.data(), archive.bytes.size(), head.archiveAt);
  if (!FinishImageHead(head, settings, placed, error)) return false;
  uint64_t fileSize = ImageFileSize(head, archive.bytes.size());
  *out = std::move(head.bytes);
  out->insert(out->end(), archive.bytes.begin(), archive.bytes.end());
  out->resize(fileSize, 0);
  *archiveAt_ret = head.archiveAt;
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
