// Writing an archive (see zip_writer.h).
//
// Format notes: an entry with a data descriptor (flag bit 3) still gets its
// CRC-32 and sizes in the local header here, because the self-extractor
// reads entries forward and trusts the local header; the descriptor that
// follows the data always carries its optional signature, so that it is
// exactly 16 bytes long.
#include "builder/zip_writer.h"

#include "builder/zip_limits.h"

void PutLe16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(v & 0xFF);
  out.push_back(v >> 8);
}

void PutLe32(std::vector<uint8_t>& out, uint32_t v) {
  PutLe16(out, v & 0xFFFF);
  PutLe16(out, v >> 16);
}

void SetLe16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = v & 0xFF;
  b[at + 1] = v >> 8;
}

void SetLe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  SetLe16(b, at, v & 0xFFFF);
  SetLe16(b, at + 2, v >> 16);
}

uint16_t GetLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

uint32_t GetLe32(const uint8_t* p) { return GetLe16(p) | static_cast<uint32_t>(GetLe16(p + 2)) << 16; }

static void Append(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

static void AppendText(std::vector<uint8_t>& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

// The fields local and central headers share, from "version needed" to the
// extra field's length.
static void PutSharedFields(std::vector<uint8_t>& out, const ZipEntry& e, uint32_t storedSize, size_t extraLength) {
  PutLe16(out, e.versionNeeded);
  PutLe16(out, e.flags);
  PutLe16(out, e.method);
  PutLe16(out, e.modTime);
  PutLe16(out, e.modDate);
  PutLe32(out, e.crc32);
  PutLe32(out, storedSize);
  PutLe32(out, e.uncompressedSize);
  PutLe16(out, static_cast<uint16_t>(e.name.size()));
  PutLe16(out, static_cast<uint16_t>(extraLength));
}

std::vector<uint8_t> LocalHeader(const ZipEntry& e) {
  std::vector<uint8_t> out;
  PutLe32(out, kLocalHeaderSignature);
  PutSharedFields(out, e, static_cast<uint32_t>(e.data.size()), e.localExtra.size());
  AppendText(out, e.name);
  Append(out, e.localExtra);
  return out;
}

std::vector<uint8_t> LocalDescriptor(const ZipEntry& e) {
  std::vector<uint8_t> out;
  if (!e.hasDescriptor) return out;
  PutLe32(out, kDescriptorSignature);
  PutLe32(out, e.crc32);
  PutLe32(out, static_cast<uint32_t>(e.data.size()));
  PutLe32(out, e.uncompressedSize);
  return out;
}

std::vector<uint8_t> LocalRecord(const ZipEntry& e) {
  std::vector<uint8_t> out = LocalHeader(e);
  Append(out, e.data);
  Append(out, LocalDescriptor(e));
  return out;
}

std::vector<uint8_t> CentralHeader(const ZipEntry& e, uint32_t storedSize, uint32_t localAt) {
  std::vector<uint8_t> out;
  PutLe32(out, kCentralHeaderSignature);
  PutLe16(out, e.versionMadeBy);
  PutSharedFields(out, e, storedSize, e.centralExtra.size());
  PutLe16(out, static_cast<uint16_t>(e.comment.size()));
  PutLe16(out, 0);  // disk number start
  PutLe16(out, e.internalAttributes);
  PutLe32(out, e.externalAttributes);
  PutLe32(out, localAt);
  AppendText(out, e.name);
  Append(out, e.centralExtra);
  Append(out, e.comment);
  return out;
}

std::vector<uint8_t> EndRecord(size_t count, uint32_t directorySize, uint32_t directoryAt,
                               const std::vector<uint8_t>& comment) {
  std::vector<uint8_t> out;
  PutLe32(out, kEndRecordSignature);
  PutLe16(out, 0);  // this disk
  PutLe16(out, 0);  // disk with the directory
  PutLe16(out, static_cast<uint16_t>(count));
  PutLe16(out, static_cast<uint16_t>(count));
  PutLe32(out, directorySize);
  PutLe32(out, directoryAt);
  PutLe16(out, static_cast<uint16_t>(comment.size()));
  Append(out, comment);
  return out;
}

std::vector<uint8_t> CentralDirectory(const ZipArchive& archive, const std::vector<uint32_t>& localOffsets,
                                      uint32_t directoryAt, uint32_t* endRecordAt_ret) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < archive.entries.size(); i++) {
    const ZipEntry& e = archive.entries[i];
    Append(out, CentralHeader(e, static_cast<uint32_t>(e.data.size()), localOffsets[i]));
  }
  uint32_t directorySize = static_cast<uint32_t>(out.size());
  *endRecordAt_ret = directoryAt + directorySize;
  Append(out, EndRecord(archive.entries.size(), directorySize, directoryAt, archive.comment));
  return out;
}

std::vector<uint8_t> WriteZip(const ZipArchive& archive, uint32_t base, uint32_t* endRecordAt_ret) {
  std::vector<uint8_t> out;
  std::vector<uint32_t> offsets;
  for (const ZipEntry& entry : archive.entries) {
    offsets.push_back(base + static_cast<uint32_t>(out.size()));
    Append(out, LocalRecord(entry));
  }
  Append(out, CentralDirectory(archive, offsets, base + static_cast<uint32_t>(out.size()), endRecordAt_ret));
  return out;
}

uint64_t EntryRecordsBound(const ZipEntry& e, uint64_t storedSize) {
  return kLocalHeaderSize + kCentralHeaderSize + kDescriptorSize + 2 * e.name.size() + e.localExtra.size() +
         e.centralExtra.size() + e.comment.size() + storedSize;
}

uint64_t EndRecordBound(const ZipArchive& archive) { return kEndRecordSize + archive.comment.size(); }

bool CheckArchiveBounds(uint64_t count, uint64_t recordsBound, std::string* error_ret) {
  if (count > kEntryCountLimit) {
    *error_ret = std::to_string(count) + " entries; an archive without ZIP64 holds at most 65535";
    return false;
  }
  if (recordsBound > kArchiveSizeLimit) {
    *error_ret = "the archive would be 2 GiB or larger, more than the self-extractor can read";
    return false;
  }
  return true;
}

bool CheckArchiveFits(const ZipArchive& archive, std::string* error_ret) {
  uint64_t bound = EndRecordBound(archive);
  for (const ZipEntry& e : archive.entries) bound += EntryRecordsBound(e, e.data.size());
  return CheckArchiveBounds(archive.entries.size(), bound, error_ret);
}
