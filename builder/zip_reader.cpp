// Reading an existing archive (see zip_reader.h).
//
// ZIP64 records are taken when every value in them fits the classic ones
// (zip_limits.h has the format notes): writers that stream, Info-ZIP's
// `zip` to a pipe among them, add them to archives of a few kilobytes. The
// values are read from them and the archive is written back with classic
// records only: ZIP64 extra fields are dropped and "version needed" 4.5
// (ZIP64) becomes 2.0.
//
// Format notes: the end record (PK\5\6, 22 bytes and a comment of up to
// 64 KiB) is found by scanning back from the end; its directory offset may
// be off by a prefix before the archive (a self-extractor, padding), which
// shows as the directory not standing at its recorded offset: the real
// position is the end record's own position less the directory size, and
// the difference is added to every local offset. Archives written to a pipe
// leave CRC-32 and sizes to a data descriptor after the data (flag bit 3);
// the central directory always has them.
//
// Trust: the input is untrusted; every offset and length is checked
// against the file's size before it is used. Entries may not share bytes:
// a directory whose entries all point at one record and its data would
// otherwise multiply that data in the output (an overlap bomb), so every
// entry's local record and data are laid side by side and checked apart
// before any data is copied.
#include "builder/zip_reader.h"

#include "builder/zip_aes.h"
#include "builder/zip_limits.h"
#include "builder/zip_reencode.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kZip64Marker32 = 0xFFFFFFFF;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint32_t kZip64EndRecordSignature = 0x06064B50;
constexpr unsigned kZip64EndLocatorSize = 20;
constexpr unsigned kZip64EndRecordSize = 56;  // without its extensible data
constexpr uint16_t kVersionZip64 = 45;        // "version needed" 4.5: ZIP64 format extensions
constexpr uint16_t kVersionDeflate = 20;

uint64_t GetLe64(const uint8_t* p) { return GetLe32(p) | static_cast<uint64_t>(GetLe32(p + 4)) << 32; }

struct Reader {
  const std::vector<uint8_t>& bytes;
  std::string* error;

  bool Fail(const std::string& why) const {
    *error = why;
    return false;
  }
  bool Has(uint64_t at, uint64_t length) const { return at <= bytes.size() && length <= bytes.size() - at; }
  const uint8_t* At(uint64_t at) const { return bytes.data() + at; }
};

bool StartsWithCentralHeader(const Reader& r, uint64_t at) {
  return r.Has(at, 4) && GetLe32(r.At(at)) == kCentralHeaderSignature;
}

// Position of the end record, or -1.
long FindEndRecord(const std::vector<uint8_t>& b) {
  if (b.size() < kEndRecordSize) return -1;
  size_t lowest = b.size() > kEndRecordSize + 0xFFFF ? b.size() - kEndRecordSize - 0xFFFF : 0;
  for (size_t at = b.size() - kEndRecordSize + 1; at-- > lowest;)
    if (GetLe32(&b[at]) == kEndRecordSignature && at + kEndRecordSize + GetLe16(&b[at + kEndRecordCommentLengthAt]) == b.size())
      return static_cast<long>(at);
  for (size_t at = b.size() - kEndRecordSize + 1; at-- > lowest;)  // a comment length that is off
    if (GetLe32(&b[at]) == kEndRecordSignature) return static_cast<long>(at);
  return -1;
}

// What the end records say about the central directory.
struct DirectoryPlace {
  uint64_t count = 0, size = 0, offset = 0;
  uint64_t endAt = 0;  // where the directory really ends: the ZIP64 end record, else the end record
};

// Reads the ZIP64 end record that the locator before the end record at
// `end` points to, and takes the directory's values from it (they rule
// where both records are present, as in Python's zipfile). The record
// normally stands just before the locator; a prefix before the archive
// moves both, so when the locator's recorded offset does not hold the
// record, the place just before the locator is tried.
bool ReadZip64EndRecord(const Reader& r, uint64_t end, DirectoryPlace* place) {
  uint64_t locatorAt = end - kZip64EndLocatorSize;
  const uint8_t* l = r.At(locatorAt);
  if (GetLe32(l + 4) != 0 || GetLe32(l + 16) > 1)
    return r.Fail("a split or spanned archive (its ZIP64 end locator names other disks); see --split-set");
  auto isRecord = [&](uint64_t at) {
    return at <= locatorAt && locatorAt - at >= kZip64EndRecordSize && GetLe32(r.At(at)) == kZip64EndRecordSignature;
  };
  uint64_t recordAt = GetLe64(l + 8);
  if (!isRecord(recordAt) && !(locatorAt >= kZip64EndRecordSize && isRecord(recordAt = locatorAt - kZip64EndRecordSize)))
    return r.Fail("the ZIP64 end record is missing");
  const uint8_t* z = r.At(recordAt);
  if (GetLe32(z + 16) != 0 || GetLe32(z + 20) != 0)
    return r.Fail("a split or spanned archive (its ZIP64 end record names other disks); see --split-set");
  if (GetLe64(z + 24) != GetLe64(z + 32)) return r.Fail("the ZIP64 end record's entry counts disagree");
  place->count = GetLe64(z + 32);
  place->size = GetLe64(z + 40);
  place->offset = GetLe64(z + 48);
  place->endAt = recordAt;
  return true;
}

// The 64-bit values of the fields that hold the marker 0xFFFFFFFF, from
// the central header's ZIP64 extra field: the uncompressed size, the
// compressed size and the local header's offset, in that order, only those
// marked. False when a marked field has no value there.
bool ReadZip64Values(const std::vector<uint8_t>& extra, uint64_t* uncompressed, uint64_t* compressed, uint64_t* localAt) {
  uint64_t* const marked[] = {uncompressed, compressed, localAt};
  for (size_t at = 0; at + 4 <= extra.size();) {
    uint16_t id = GetLe16(&extra[at]), size = GetLe16(&extra[at + 2]);
    if (at + 4 + size > extra.size()) break;
    if (id == kZip64ExtraId) {
      size_t field = at + 4, fieldEnd = at + 4 + size;
      for (uint64_t* value : marked) {
        if (*value != kZip64Marker32) continue;
        if (field + 8 > fieldEnd) return false;  // the marked value is missing
        *value = GetLe64(&extra[field]);
        field += 8;
      }
      return true;
    }
    at += 4 + size;
  }
  return *uncompressed != kZip64Marker32 && *compressed != kZip64Marker32 && *localAt != kZip64Marker32;
}

// The extra field without its ZIP64 block. A writer that streams may put one
// in a local header for sizes it did not know yet; once the header carries
// the real 32-bit sizes, a reader must not take them from there. A field
// that does not parse as blocks is kept as it is.
std::vector<uint8_t> WithoutZip64Extra(const std::vector<uint8_t>& extra) {
  std::vector<uint8_t> kept;
  size_t at = 0;
  while (at + 4 <= extra.size()) {
    uint16_t id = GetLe16(&extra[at]), size = GetLe16(&extra[at + 2]);
    if (at + 4 + size > extra.size()) return extra;
    if (id != kZip64ExtraId) kept.insert(kept.end(), extra.begin() + at, extra.begin() + at + 4 + size);
    at += 4 + size;
  }
  return at == extra.size() ? kept : extra;
}

// Checks what the self-extractor can extract, or the builder re-encode
// (unencrypted entries of the methods CanReencode names) or decrypt
// (zip_aes.h). WinZip's AES (method 99) is encryption, the real method in
// its extra field.
bool CheckEntrySupported(const Reader& r, const ZipEntry& e) {
  AesExtra aes;
  if (e.method == kMethodAes && !ReadAesExtra(e.centralExtra, &aes))
    return r.Fail("entry \"" + e.name + "\" is AES-encrypted but its AES extra field is missing or damaged");
  if (e.method == kMethodAes && aes.method != kMethodStored && aes.method != kMethodDeflated && !CanReencode(aes.method))
    return r.Fail("entry \"" + e.name + "\" is AES-encrypted and compressed with " + MethodInWords(aes.method) +
                  ", which neither the self-extractor nor the builder can decode: re-create the archive with Deflate");
  if (e.method != kMethodAes && e.method != kMethodStored && e.method != kMethodDeflated && !CanReencode(e.method))
    return r.Fail("entry \"" + e.name + "\" is compressed with " + MethodInWords(e.method) +
                  ", which neither the self-extractor nor the builder can decode: re-create the archive with Deflate");
  if (CanReencode(e.method) && (e.flags & kFlagEncryptedEntry))
    return r.Fail("entry \"" + e.name + "\" is encrypted and compressed with " + MethodInWords(e.method) +
                  ", which the builder can re-encode only unencrypted: re-create the archive with Deflate and ZipCrypto, "
                  "or build from the files with --password");
  if (e.flags & kFlagStrongEncryption)
    return r.Fail("entry \"" + e.name + "\" uses strong encryption, which cannot be extracted");
  if (e.name.size() > kNameLimit)
    return r.Fail("entry \"" + e.name.substr(0, 40) + "...\" has a name over 200 bytes");
  if (e.name.empty()) return r.Fail("an entry has an empty name");
  return true;
}

// Where an entry's local record and data lie: [localAt, dataEnd).
struct EntrySpan {
  uint64_t localAt, dataAt, dataEnd;
  size_t entry;  // index in the archive's entries
};

// Reads one central header at *at and finds its entry's local record;
// the data is left where it is (*span says where).
bool ReadEntry(const Reader& r, uint64_t* at, int64_t shift, uint64_t directoryAt, ZipEntry* e, EntrySpan* span) {
  if (!r.Has(*at, kCentralHeaderSize) || GetLe32(r.At(*at)) != kCentralHeaderSignature)
    return r.Fail("the central directory is damaged");
  const uint8_t* h = r.At(*at);
  e->versionMadeBy = GetLe16(h + 4);
  e->versionNeeded = GetLe16(h + 6);
  e->flags = GetLe16(h + 8);
  e->method = GetLe16(h + 10);
  e->modTime = GetLe16(h + 12);
  e->modDate = GetLe16(h + 14);
  e->crc32 = GetLe32(h + 16);
  uint64_t compressedSize = GetLe32(h + 20), uncompressedSize = GetLe32(h + 24);
  uint16_t nameLength = GetLe16(h + 28), extraLength = GetLe16(h + 30), commentLength = GetLe16(h + 32);
  e->internalAttributes = GetLe16(h + 36);
  e->externalAttributes = GetLe32(h + 38);
  uint64_t localAt = GetLe32(h + 42);
  if (!r.Has(*at + kCentralHeaderSize, uint64_t{nameLength} + extraLength + commentLength))
    return r.Fail("the central directory is cut short");
  const uint8_t* p = h + kCentralHeaderSize;
  e->name.assign(reinterpret_cast<const char*>(p), nameLength);
  e->centralExtra.assign(p + nameLength, p + nameLength + extraLength);
  e->comment.assign(p + nameLength + extraLength, p + nameLength + extraLength + commentLength);
  *at += kCentralHeaderSize + nameLength + extraLength + commentLength;
  if (!ReadZip64Values(e->centralExtra, &uncompressedSize, &compressedSize, &localAt))
    return r.Fail("the directory entry of \"" + e->name + "\" marks a ZIP64 value that its extra field lacks");
  if (std::max(uncompressedSize, compressedSize) >= kEntrySizeLimit)
    return r.Fail(EntrySizeRefusal(e->name, std::max(uncompressedSize, compressedSize)));
  if (localAt > kArchiveSizeLimit) return r.Fail(ArchiveSizeRefusal(localAt));
  e->uncompressedSize = static_cast<uint32_t>(uncompressedSize);
  e->centralExtra = WithoutZip64Extra(e->centralExtra);
  if (e->versionNeeded == kVersionZip64) e->versionNeeded = kVersionDeflate;
  if (!CheckEntrySupported(r, *e)) return false;

  int64_t local = static_cast<int64_t>(localAt) + shift;
  if (local < 0 || !r.Has(static_cast<uint64_t>(local), kLocalHeaderSize) ||
      GetLe32(r.At(static_cast<uint64_t>(local))) != kLocalHeaderSignature)
    return r.Fail("the local header of \"" + e->name + "\" is missing");
  const uint8_t* l = r.At(static_cast<uint64_t>(local));
  uint16_t localNameLength = GetLe16(l + 26), localExtraLength = GetLe16(l + 28);
  uint64_t dataAt = static_cast<uint64_t>(local) + kLocalHeaderSize + localNameLength + localExtraLength;
  if (dataAt + compressedSize > directoryAt)
    return r.Fail("the data of \"" + e->name + "\" runs past the start of the central directory");
  e->localExtra = WithoutZip64Extra(
      std::vector<uint8_t>(l + kLocalHeaderSize + localNameLength, l + kLocalHeaderSize + localNameLength + localExtraLength));
  e->localAt = static_cast<uint64_t>(local);
  e->hasDescriptor = (e->flags & kFlagDescriptor) != 0;
  span->localAt = e->localAt;
  span->dataAt = dataAt;
  span->dataEnd = dataAt + compressedSize;
  return true;
}

// Refuses entries that share bytes: two that start at one local record
// (the directory reaches it more than once), or one whose record or data
// runs into the next one's record. Info-ZIP refuses the same.
bool CheckEntriesApart(const Reader& r, const std::vector<ZipEntry>& entries, std::vector<EntrySpan> spans) {
  std::stable_sort(spans.begin(), spans.end(),
                   [](const EntrySpan& a, const EntrySpan& b) { return a.localAt < b.localAt; });
  for (size_t i = 1; i < spans.size(); i++) {
    const EntrySpan &before = spans[i - 1], &after = spans[i];
    std::string names = "entries \"" + entries[before.entry].name + "\" and \"" + entries[after.entry].name + "\"";
    if (before.localAt == after.localAt)
      return r.Fail(names + " share one local record: the central directory reaches it more than once");
    if (before.dataEnd > after.localAt) return r.Fail(names + " overlap: the data of one runs into the other's record");
  }
  return true;
}

}  // namespace

bool ReadZip(const std::vector<uint8_t>& bytes, ZipArchive* archive_ret, std::string* error_ret) {
  Reader r{bytes, error_ret};
  long end = FindEndRecord(bytes);
  if (end < 0) return r.Fail("not a ZIP archive (no end of central directory record)");
  const uint8_t* e = r.At(static_cast<uint64_t>(end));
  DirectoryPlace place{GetLe16(e + 10), GetLe32(e + 12), GetLe32(e + 16), static_cast<uint64_t>(end)};
  bool zip64 = end >= kZip64EndLocatorSize &&
               GetLe32(r.At(static_cast<uint64_t>(end) - kZip64EndLocatorSize)) == kZip64EndLocatorSignature;
  if (!zip64 && (GetLe16(e + 4) != 0 || GetLe16(e + 6) != 0))
    return r.Fail("a split or spanned archive (its end record names other disks); see --split-set");
  if (zip64 && !ReadZip64EndRecord(r, static_cast<uint64_t>(end), &place)) return false;
  if (!zip64 && place.offset == kZip64Marker32) return r.Fail("the end record marks a ZIP64 end record that is missing");
  if (place.count > kEntryCountLimit) return r.Fail(EntryCountRefusal(place.count));
  if (place.size > place.endAt) return r.Fail("the central directory is damaged");
  if (place.offset > kArchiveSizeLimit || place.size > kArchiveSizeLimit)  // (values from the archive: no wrap-around)
    return r.Fail(ArchiveSizeRefusal(place.offset + std::min(place.size, UINT64_MAX - place.offset)));
  uint16_t count = static_cast<uint16_t>(place.count);
  uint32_t directorySize = static_cast<uint32_t>(place.size), directoryAt = static_cast<uint32_t>(place.offset);
  // Normally the directory ends where the end record (or the ZIP64 end
  // record) starts; when it does not begin there with a central header but
  // does at its recorded offset, the recorded one holds (something stands
  // between the two).
  uint64_t realDirectoryAt = place.endAt - directorySize;
  if (!StartsWithCentralHeader(r, realDirectoryAt) && count && StartsWithCentralHeader(r, directoryAt))
    realDirectoryAt = directoryAt;
  int64_t shift = static_cast<int64_t>(realDirectoryAt) - directoryAt;
  uint16_t commentLength = GetLe16(e + kEndRecordCommentLengthAt);
  size_t commentEnd = std::min(bytes.size(), static_cast<size_t>(end) + kEndRecordSize + commentLength);
  archive_ret->comment.assign(bytes.begin() + end + kEndRecordSize, bytes.begin() + commentEnd);
  std::vector<ZipEntry>& entries = archive_ret->entries;
  entries.assign(count, ZipEntry{});
  std::vector<EntrySpan> spans(count);
  uint64_t at = realDirectoryAt;
  for (uint16_t i = 0; i < count; i++) {
    spans[i].entry = i;
    if (!ReadEntry(r, &at, shift, realDirectoryAt, &entries[i], &spans[i])) return false;
  }
  if (count == 0 && directorySize != 0) return r.Fail("the central directory is damaged");
  if (!CheckEntriesApart(r, entries, spans)) return false;
  for (const EntrySpan& span : spans) entries[span.entry].data.assign(r.At(span.dataAt), r.At(span.dataEnd));
  return true;
}

namespace {

// The size and CRC-32 of an entry's data once decoded; false when the data
// is not a complete deflate stream. Output is counted, not kept.
bool DecodedSizeAndCrc(const ZipEntry& e, uint64_t* size_ret, uint32_t* crc_ret) {
  if (e.method == 0) {
    *size_ret = e.data.size();
    *crc_ret = static_cast<uint32_t>(crc32(0, e.data.data(), static_cast<uInt>(e.data.size())));
    return true;
  }
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(e.data.data());
  z.avail_in = static_cast<uInt>(e.data.size());
  uint8_t chunk[1 << 16];
  uLong crc = crc32(0, nullptr, 0);
  int status;
  do {
    z.next_out = chunk;
    z.avail_out = sizeof chunk;
    status = inflate(&z, Z_NO_FLUSH);
    crc = crc32(crc, chunk, static_cast<uInt>(sizeof chunk - z.avail_out));
  } while (status == Z_OK && (z.avail_out == 0 || z.avail_in > 0));
  *size_ret = z.total_out;
  *crc_ret = static_cast<uint32_t>(crc);
  inflateEnd(&z);
  return status == Z_STREAM_END;
}

}  // namespace

bool CheckEntryData(const ZipArchive& archive, std::string* error_ret) {
  for (const ZipEntry& e : archive.entries) {
    if (e.flags & kFlagEncryptedEntry) continue;  // its data cannot be read without the password
    uint64_t size;
    uint32_t crc;
    if (!DecodedSizeAndCrc(e, &size, &crc)) {
      *error_ret = "the data of \"" + e.name + "\" is not a complete deflate stream";
      return false;
    }
    if (size != e.uncompressedSize) {
      *error_ret = "the data of \"" + e.name + "\" holds " + std::to_string(size) + " bytes; its directory entry says " +
                   std::to_string(e.uncompressedSize);
      return false;
    }
    if (crc != e.crc32) {
      char numbers[64];
      snprintf(numbers, sizeof numbers, "%08x; its directory entry says %08x", crc, e.crc32);
      *error_ret = "the data of \"" + e.name + "\" has the CRC-32 " + numbers;
      return false;
    }
  }
  return true;
}
