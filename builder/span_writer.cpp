// Spanned disk sets (see span_writer.h).
//
// Format notes (ZIP application note, spanning): the first volume starts
// with the spanning signature PK\7\8; records follow as in a single
// archive, the central directory names the disk of each local header and
// offsets count from the start of that disk's volume. The self-extractor
// reads a set forward and asks for the next disk when a read comes up
// short, so a signature or header is never split between volumes (it is
// read again whole from the next one), while entry data may be. A data
// descriptor is kept on the volume that holds at least the last byte of
// its entry's data, so that the seek over it stays on that volume.
#include "builder/span_writer.h"

#include "builder/file_io.h"
#include "builder/pe_image.h"
#include "builder/zip_reader.h"
#include "builder/zip_writer.h"
#include "container/sfx_config.h"

#include <sys/stat.h>

#include <cerrno>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// A stretch of the archive stream that must stay on one volume.
struct Whole {
  uint64_t start, end;
};

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The volume file's name: the self-extractor's name with the extension
// replaced, as the self-extractor forms it.
std::string VolumeName(const std::string& sfxName, bool exe) {
  size_t dot = sfxName.rfind('.');
  return (dot == std::string::npos ? sfxName : sfxName.substr(0, dot)) + (exe ? ".EXE" : ".ZIP");
}

std::string DiskFolder(const std::string& output, size_t disk) {
  return FolderOf(output) + "/disk" + std::to_string(disk);
}

bool MakeFolder(const std::string& path, std::string* error) {
  if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
  *error = "cannot create the folder " + path;
  return false;
}

void PrintLabel(size_t disk, const std::string& output) {
  printf("disk %zu: %s, volume label \"PKBACK# %03zu\"\n", disk, DiskFolder(output, disk).c_str(), disk);
}

// The end of the volume that starts at `from`: as far as `capacity` allows
// without cutting a Whole stretch, and, when `alignment` is given, at a
// position p with (p + alignBase) a multiple of it. 0 when there is none.
uint64_t VolumeEnd(uint64_t from, uint64_t capacity, uint64_t length, const std::vector<Whole>& wholes,
                   uint64_t alignment, uint64_t alignBase) {
  if (from + capacity >= length) return length;
  uint64_t end = from + capacity;
  for (;;) {
    if (alignment) end = (end + alignBase) / alignment * alignment - alignBase;
    if (end <= from || end > from + capacity) return 0;
    auto inside = std::find_if(wholes.begin(), wholes.end(), [&](const Whole& w) { return w.start < end && end < w.end; });
    if (inside == wholes.end()) return end;
    end = inside->start;
  }
}

struct Stream {
  std::vector<uint8_t> bytes;
  std::vector<Whole> wholes;
  std::vector<uint64_t> localAt;  // where each entry's local header starts
  uint64_t directoryAt = 0;
};

Stream LocalRecords(const ZipArchive& archive) {
  Stream s;
  PutLe32(s.bytes, kDescriptorSignature);  // the spanning signature
  s.wholes.push_back({0, 4});
  for (const ZipEntry& entry : archive.entries) {
    uint64_t at = s.bytes.size();
    std::vector<uint8_t> record = LocalRecord(entry);
    uint64_t dataAt = at + kLocalHeaderSize + entry.name.size() + entry.localExtra.size();
    uint64_t dataEnd = dataAt + entry.data.size();
    s.localAt.push_back(at);
    s.wholes.push_back({at, dataAt});
    if (entry.hasDescriptor) s.wholes.push_back({entry.data.empty() ? dataAt : dataEnd - 1, dataEnd + kDescriptorSize});
    s.bytes.insert(s.bytes.end(), record.begin(), record.end());
  }
  s.directoryAt = s.bytes.size();
  return s;
}

// Disk (0-based) and offset within its volume of stream position p.
void Locate(uint64_t p, const std::vector<uint64_t>& ends, uint64_t firstBase, uint32_t* disk, uint32_t* offset) {
  size_t d = 0;
  while (d + 1 < ends.size() && p >= ends[d]) d++;
  uint64_t start = d == 0 ? 0 : ends[d - 1];
  *disk = static_cast<uint32_t>(d);
  *offset = static_cast<uint32_t>(p - start + (d == 0 ? firstBase : 0));
}

// The central directory and end record of a spanned set: each header names
// its entry's disk and the offset on it.
std::vector<uint8_t> SpannedDirectory(const ZipArchive& archive, const Stream& s, const std::vector<uint64_t>& ends,
                                      uint64_t firstBase) {
  std::vector<uint8_t> directory;
  for (size_t i = 0; i < archive.entries.size(); i++) {
    ZipArchive one;
    one.entries.push_back(archive.entries[i]);
    uint32_t disk, offset, unused;
    Locate(s.localAt[i], ends, firstBase, &disk, &offset);
    std::vector<uint8_t> header = CentralDirectory(one, {offset}, 0, &unused);
    header.resize(header.size() - kEndRecordSize);
    header[34] = disk & 0xFF;  // disk number start
    header[35] = static_cast<uint8_t>(disk >> 8);
    directory.insert(directory.end(), header.begin(), header.end());
  }
  uint32_t directoryDisk, directoryOffset, lastDisk = static_cast<uint32_t>(ends.size() - 1);
  Locate(s.directoryAt, ends, firstBase, &directoryDisk, &directoryOffset);
  std::vector<uint8_t> end;
  PutLe32(end, kEndRecordSignature);
  PutLe16(end, static_cast<uint16_t>(lastDisk));
  PutLe16(end, static_cast<uint16_t>(directoryDisk));
  PutLe16(end, static_cast<uint16_t>(archive.entries.size()));  // entries on this disk: all, as readers expect
  PutLe16(end, static_cast<uint16_t>(archive.entries.size()));
  PutLe32(end, static_cast<uint32_t>(directory.size()));
  PutLe32(end, directoryOffset);
  PutLe16(end, 0);
  directory.insert(directory.end(), end.begin(), end.end());
  return directory;
}

bool WriteDisk(const std::string& output, size_t disk, const std::string& name, const std::vector<uint8_t>& bytes,
               std::string* error) {
  std::string folder = DiskFolder(output, disk);
  return MakeFolder(folder, error) && WriteFileAtomically(folder + "/" + name, bytes, error);
}

// The self-extractor of a set: the stub with the ConfigBlock, and with the
// archive's first part when the volumes are ".EXE" files. Its end record
// lies on the last disk, so it records none.
bool LayOutSetHead(const std::vector<uint8_t>& stub, const SfxSettings& settings, const std::vector<uint8_t>& firstPart,
                   uint32_t totalSize, std::vector<uint8_t>* out, std::string* error) {
  auto makeArchive = [&](uint32_t) {
    PayloadArchive made;
    made.bytes = firstPart;
    return made;
  };
  uint32_t archiveAt;
  return LayOutImage(stub, settings, makeArchive, totalSize, out, &archiveAt, error);
}

uint32_t TotalSize(const ZipArchive& archive) {
  uint32_t total = 0;
  for (const ZipEntry& entry : archive.entries) total += entry.uncompressedSize;
  return total;
}

// The archive's totals and flags from the central directory of a split set,
// its parts joined; refuses what the self-extractor cannot extract.
bool SplitSetTotals(const std::vector<uint8_t>& joined, const std::vector<std::vector<uint8_t>>& parts,
                    uint32_t* totalSize, uint32_t* flags, std::string* error) {
  const std::vector<uint8_t>& last = parts.back();
  size_t end = last.size() >= kEndRecordSize ? last.size() - kEndRecordSize + 1 : 0;
  while (end-- > 0 && GetLe32(&last[end]) != kEndRecordSignature) {
  }
  if (end == static_cast<size_t>(-1)) {
    *error = "the last part holds no end of central directory record";
    return false;
  }
  uint16_t directoryDisk = GetLe16(&last[end + 6]), count = GetLe16(&last[end + 10]);
  uint64_t at = GetLe32(&last[end + 16]);
  for (uint16_t d = 0; d < directoryDisk && d < parts.size(); d++) at += parts[d].size();
  for (uint16_t i = 0; i < count; i++) {
    if (at + kCentralHeaderSize > joined.size() || GetLe32(&joined[at]) != kCentralHeaderSignature) {
      *error = "the central directory of the split set is damaged";
      return false;
    }
    const uint8_t* h = &joined[at];
    uint16_t method = GetLe16(h + 10), entryFlags = GetLe16(h + 8);
    if ((method != 0 && method != 8) || (entryFlags & kFlagStrongEncryption)) {
      *error = "the split set holds an entry that cannot be extracted (method " + std::to_string(method) + ")";
      return false;
    }
    if (entryFlags & kFlagEncryptedEntry) *flags |= SfxFlag::HasPassword;
    *totalSize += GetLe32(h + 24);
    at += kCentralHeaderSize + GetLe16(h + 28) + GetLe16(h + 30) + GetLe16(h + 32);
  }
  return true;
}

}  // namespace

bool BuildSpannedSet(const std::vector<uint8_t>& stub, const ZipArchive& archive, SfxSettings settings,
                     const std::string& output, uint32_t volumeSize, bool exeVolumes, std::string* error) {
  settings.flags |= SfxFlag::SpannedArchive | (exeVolumes ? SfxFlag::ExeFirstVolume : 0);
  PeLayout layout;
  std::vector<uint8_t> configBlock, withResources;
  if (!StubWithResources(stub, settings.resources, &withResources, &layout, error) ||
      !MakeConfigBlock(settings, &configBlock, error))
    return false;
  uint64_t headSize = PayloadOffset(layout) + configBlock.size();  // what precedes the archive on disk 1

  Stream s = LocalRecords(archive);
  // The directory's records are whole too; their sizes do not depend on the
  // values in them, so a first layout with any values gives the boundaries.
  std::vector<uint64_t> ends = {s.directoryAt};
  std::vector<uint8_t> directory = SpannedDirectory(archive, s, ends, 0);
  for (uint64_t at = 0; at < directory.size();) {
    uint64_t length = GetLe32(&directory[at]) == kEndRecordSignature
                          ? directory.size() - at
                          : kCentralHeaderSize + GetLe16(&directory[at + 28]) + GetLe16(&directory[at + 30]) +
                                GetLe16(&directory[at + 32]);
    s.wholes.push_back({s.directoryAt + at, s.directoryAt + at + length});
    at += length;
  }
  uint64_t length = s.directoryAt + directory.size();

  ends.clear();
  uint64_t firstBase = exeVolumes ? headSize : 0;
  for (uint64_t from = 0; from < length;) {
    bool first = ends.empty();
    uint64_t capacity = first && exeVolumes ? (volumeSize > headSize ? volumeSize - headSize : 0) : volumeSize;
    uint64_t end = VolumeEnd(from, capacity, length, s.wholes, first && exeVolumes ? layout.fileAlignment : 0,
                             first && exeVolumes ? configBlock.size() : 0);
    if (end == 0) {
      *error = "--span " + std::to_string(volumeSize) + " is too small for " +
               (first && exeVolumes ? "the self-extractor and a record" : "a record of this archive");
      return false;
    }
    ends.push_back(end);
    from = end;
  }
  directory = SpannedDirectory(archive, s, ends, firstBase);
  s.bytes.insert(s.bytes.end(), directory.begin(), directory.end());

  std::string sfxName = NameOf(output), volumeName = VolumeName(sfxName, exeVolumes);
  std::vector<uint8_t> head;
  std::vector<uint8_t> firstPart = exeVolumes ? std::vector<uint8_t>(s.bytes.begin(), s.bytes.begin() + ends[0])
                                              : std::vector<uint8_t>();
  if (!LayOutSetHead(stub, settings, firstPart, TotalSize(archive), &head, error)) return false;
  if (!WriteFileAtomically(output, head, error) || !WriteDisk(output, 1, sfxName, head, error)) return false;
  PrintLabel(1, output);
  for (size_t d = 0; d < ends.size(); d++) {
    if (exeVolumes && d == 0) continue;  // the self-extractor is disk 1's volume
    uint64_t start = d == 0 ? 0 : ends[d - 1];
    std::vector<uint8_t> volume(s.bytes.begin() + start, s.bytes.begin() + ends[d]);
    if (!WriteDisk(output, d + 1, volumeName, volume, error)) return false;
    if (d > 0) PrintLabel(d + 1, output);
  }
  return true;
}


bool BuildFromSplitSet(const std::vector<uint8_t>& stub, const SpanSource& source, SfxSettings settings,
                       const std::string& output, bool exeVolumes, std::string* error) {
  if (exeVolumes) {
    *error = "--split-set keeps the parts unchanged, so they cannot become \".EXE\" volumes";
    return false;
  }
  std::string stem = source.lastPart.substr(0, source.lastPart.size() - (source.lastPart.size() >= 4 ? 4 : 0));
  std::vector<std::vector<uint8_t>> parts;
  for (int n = 1;; n++) {
    char suffix[8];
    snprintf(suffix, sizeof suffix, ".z%02d", n);
    std::vector<uint8_t> part;
    if (!ReadWholeFile(stem + suffix, &part)) break;
    parts.push_back(std::move(part));
  }
  std::vector<uint8_t> last;
  if (!ReadWholeFile(source.lastPart, &last)) {
    *error = "cannot read " + source.lastPart + ": " + strerror(errno);
    return false;
  }
  parts.push_back(last);
  if (parts.size() < 2 || parts[0].size() < 4 || GetLe32(parts[0].data()) != kDescriptorSignature) {
    *error = source.lastPart + " is not the last part of a split archive (no " + stem + ".z01 starting a set)";
    return false;
  }
  // Totals from the central directory, read from the parts joined together.
  std::vector<uint8_t> joined;
  for (const auto& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  settings.flags |= SfxFlag::SpannedArchive;
  uint32_t totalSize = 0;
  if (!SplitSetTotals(joined, parts, &totalSize, &settings.flags, error)) return false;
  std::vector<uint8_t> head;
  if (!LayOutSetHead(stub, settings, {}, totalSize, &head, error)) return false;
  std::string sfxName = NameOf(output), volumeName = VolumeName(sfxName, false);
  if (!WriteFileAtomically(output, head, error) || !WriteDisk(output, 1, sfxName, head, error)) return false;
  for (size_t d = 0; d < parts.size(); d++) {
    if (!WriteDisk(output, d + 1, volumeName, parts[d], error)) return false;
    PrintLabel(d + 1, output);
  }
  return true;
}
