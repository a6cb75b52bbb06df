// Writing a self-extractor as its archive is made (see sfx_stream.h).
#include "builder/sfx_stream.h"

#include "base/zip_records.h"
#include "builder/file_io.h"
#include "builder/zip_writer.h"

namespace {

// The output file from the archive on, with the archive's running facts:
// where the next byte goes, the central directory so far, the checksum.
class ArchiveOutput {
 public:
  ArchiveOutput(AtomicOutputFile& file, const ImageHead& head, const ZipArchive& archive)
      : file_(file), head_(head), bound_(EndRecordBound(archive)) {}

  // Writes one entry's local record and notes its central header; the
  // entry's data is released. False when the archive has outgrown its limits.
  bool AddEntry(ZipEntry& entry, std::string* error) {
    uint32_t storedSize = static_cast<uint32_t>(entry.data.size());
    std::vector<uint8_t> header = LocalHeader(entry), descriptor = LocalDescriptor(entry);
    bound_ += EntryRecordsBound(entry, storedSize);
    uint64_t recordSize = header.size() + storedSize + descriptor.size();
    if (!CheckArchiveBounds(++count_, bound_, error) || !CheckImageSize(head_, written_ + recordSize, error))
      return false;
    std::vector<uint8_t> centralHeader = CentralHeader(entry, storedSize, static_cast<uint32_t>(head_.archiveAt + written_));
    directory_.insert(directory_.end(), centralHeader.begin(), centralHeader.end());
    totalSize_ += entry.uncompressedSize;
    bool written = Write(header, error) && Write(entry.data, error) && Write(descriptor, error);
    entry.data = std::vector<uint8_t>();
    return written;
  }

  // Writes the central directory and the end record, whose comment counts
  // the padding to the file alignment where it can; says what the head
  // needs to know of the archive.
  bool Finish(ArchivePlaced* placed, std::string* error) {
    uint64_t directoryAt = head_.archiveAt + written_;
    if (!CheckImageSize(head_, written_ + directory_.size() + kEndRecordSize, error)) return false;
    if (!Write(directory_, error)) return false;
    uint64_t endRecordAt = head_.archiveAt + written_;
    uint32_t padding = AbsorbablePadding(endRecordAt + kEndRecordSize, head_.layout.fileAlignment, 0);
    std::vector<uint8_t> end = EndRecord(count_, static_cast<uint32_t>(directory_.size()),
                                         static_cast<uint32_t>(directoryAt), std::vector<uint8_t>(padding, 0));
    if (!Write(end, error)) return false;
    // The payload section ends at the file alignment: zeros the end record
    // could not count (none, when it counts them) pad the file to it.
    uint64_t fileSize = ImageFileSize(head_, written_);
    std::vector<uint8_t> zeros(fileSize - (head_.archiveAt + written_), 0);
    if (!file_.Write(zeros.data(), zeros.size(), error)) return false;
    placed->size = written_;
    placed->endRecordAt = static_cast<uint32_t>(endRecordAt);
    placed->totalSize = totalSize_;
    placed->checksum = checksum_;
    return true;
  }

 private:
  bool Write(const std::vector<uint8_t>& bytes, std::string* error) {
    if (!file_.Write(bytes.data(), bytes.size(), error)) return false;
    checksum_.Add(bytes.data(), bytes.size(), head_.archiveAt + written_);
    written_ += bytes.size();
    return true;
  }

  AtomicOutputFile& file_;
  const ImageHead& head_;
  uint64_t written_ = 0;   // the archive's bytes so far
  uint64_t bound_;         // the end record's bound and EntryRecordsBound of the entries so far
  size_t count_ = 0;
  uint32_t totalSize_ = 0;  // uncompressed sizes summed, as the record keeps them (modulo 2^32)
  std::vector<uint8_t> directory_;
  PeChecksum checksum_;
};

}  // namespace

uint64_t SmallestRecordsBound(const FileTree& tree, int level, bool encrypt) {
  uint64_t bound = EndRecordBound(tree.archive);
  for (const ZipEntry& entry : tree.archive.entries) {
    uint64_t data = level == 0 ? entry.uncompressedSize : 0;  // a folder's is 0
    if (encrypt && NeedsEncryption(entry)) data += kEncryptionHeaderSize;
    bound += EntryRecordsBound(entry, data);
  }
  return bound;
}

bool WriteSelfExtractorFromTree(const std::vector<uint8_t>& stub, FileTree& tree, const SfxSettings& settings,
                                const StreamedBuild& build, std::string* error) {
  std::vector<ZipEntry>& entries = tree.archive.entries;
  ImageHead head;
  if (!BeginImageHead(stub, settings, &head, error)) return false;
  // Limits the tree breaks whatever its data compresses to: refused before
  // a file is read.
  uint64_t smallest = SmallestRecordsBound(tree, build.deflate.level, build.encrypt);
  if (!CheckArchiveBounds(entries.size(), smallest, error)) return false;

  AtomicOutputFile file;
  if (!file.Open(build.output, error)) return false;
  // The head's place, written over once the archive is known.
  std::vector<uint8_t> reserved(head.archiveAt, 0);
  if (!file.Write(reserved.data(), reserved.size(), error)) return false;
  ArchiveOutput archive(file, head, tree.archive);
  auto load = [&](size_t i, ZipEntry& entry, std::string* why) { return ReadTreeEntry(tree, i, entry, why); };
  auto take = [&](size_t, ZipEntry& entry, std::string* why) {
    if (build.encrypt) EncryptEntry(entry, build.password);
    return archive.AddEntry(entry, why);
  };
  ArchivePlaced placed;
  if (!MakeEntries(entries, load, take, build.deflate, error) || !archive.Finish(&placed, error) ||
      !FinishImageHead(head, settings, placed, error) ||
      !file.WriteAt(0, head.bytes.data(), head.bytes.size(), error))
    return false;
  return file.Commit(error);
}
