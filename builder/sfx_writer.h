// Laying out a self-extractor: the stub with two more sections, ".rsrc"
// with the resources (manifest, icon, version information, publisher texts)
// and "_dravik_", the last, holding the ConfigBlock and the archive; the
// configuration record filled in, and the stub CRC computed last, exactly as
// the stub computes it.
#pragma once

#include "builder/pe_image.h"
#include "builder/publisher_resources.h"
#include "builder/zip_model.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct SfxSettings {
  // The ConfigBlock's texts, already in the target code page; run (a
  // setup's command line) is written as the sixth text only when it is set.
  std::string folder, prompt, caption, info, run;
  uint32_t flags = 0;          // SfxFlag bits chosen by the options
  bool stubCrc = true;         // false: StubCrc stays 0 (check off)
  PublisherResources resources;  // the resource section's contents besides the manifest
};

// The self-extractor's bytes; false with *error_ret when the stub cannot be
// used or a text breaks a limit.
bool LayOutSelfExtractor(const std::vector<uint8_t>& stub, const ZipArchive& archive, const SfxSettings& settings,
                         std::vector<uint8_t>* out, std::string* error_ret);

// What follows the ConfigBlock in the payload section, made once its file
// offset is known, with the file offset of its end record (0: none).
struct PayloadArchive {
  std::vector<uint8_t> bytes;
  uint32_t endRecordAt = 0;
};
using ArchiveMaker = std::function<PayloadArchive(uint32_t archiveAt)>;

// The self-extractor up to its archive, in two steps around the writing of
// the archive: BeginImageHead checks the stub and the texts and fixes where
// the archive starts; FinishImageHead, once the archive is known, makes the
// bytes before it (section sizes, the configuration record, the stub CRC and
// the image checksum). The archive follows the head directly; the file
// ends with the archive padded with zeros to the file alignment.
struct ImageHead {
  std::vector<uint8_t> image;  // the stub with its resource section
  PeLayout layout;             // of `image`
  std::vector<uint8_t> block;  // the ConfigBlock
  size_t recordAt = 0;         // the configuration record in `image`
  uint32_t configAt = 0, archiveAt = 0;
  std::vector<uint8_t> bytes;  // after FinishImageHead: the file's first archiveAt bytes
};

// What FinishImageHead needs to know of the archive placed after the head.
struct ArchivePlaced {
  uint64_t size = 0;         // its bytes, an absorbed padding included
  uint32_t endRecordAt = 0;  // file offset of its end record (0: none)
  uint32_t totalSize = 0;    // its entries' uncompressed sizes summed
  PeChecksum checksum;       // its bytes summed at their file offsets
};

bool BeginImageHead(const std::vector<uint8_t>& stub, const SfxSettings& settings, ImageHead* head_ret,
                    std::string* error_ret);
bool FinishImageHead(ImageHead& head, const SfxSettings& settings, const ArchivePlaced& archive, std::string* error_ret);

// The size of the whole file whose archive, placed at head.archiveAt, has
// `archiveSize` bytes: the payload section padded to the file alignment.
uint64_t ImageFileSize(const ImageHead& head, uint64_t archiveSize);

// False with *error_ret when an archive of `archiveSize` bytes placed at
// archiveAt would make a self-extractor too large for the stub to read.
bool CheckImageSize(const ImageHead& head, uint64_t archiveSize, std::string* error_ret);

// The zero padding after an archive that ends at file offset archiveEnd and
// has an end record with a comment of commentLength bytes, which the end
// record can count as part of its comment; 0 when the comment would grow
// too long.
uint32_t AbsorbablePadding(uint64_t archiveEnd, uint32_t fileAlignment, size_t commentLength);

// The general layout: `makeArchive` gives the archive bytes (all of it, the
// first volume's part of a set, or nothing); *archiveAt_ret gets where they
// start.
bool LayOutImage(const std::vector<uint8_t>& stub, const SfxSettings& settings, const ArchiveMaker& makeArchive,
                 uint32_t totalSize, std::vector<uint8_t>* out, uint32_t* archiveAt_ret, std::string* error_ret);

// The stub with the resource section added (the image the payload section
// then follows) and its layout; false with *error_ret when the stub cannot
// be used.
bool StubWithResources(const std::vector<uint8_t>& stub, const PublisherResources& resources,
                       std::vector<uint8_t>* image_ret, PeLayout* layout_ret, std::string* error_ret);

// The ConfigBlock's bytes: the five texts, and the run command when there is
// one, each with its NUL; false with *error_ret when a text or the whole
// block is over its limit, or when the run command with its {folder}
// expanded might not fit the stub's command line.
bool MakeConfigBlock(const SfxSettings& settings, std::vector<uint8_t>* block_ret, std::string* error_ret);

// The name of the first complete ZIP signature in bytes [0, end), or an
// empty string when there is none.
std::string FindZipSignature(const std::vector<uint8_t>& bytes, size_t end);

// Whether --password encrypts this entry: a file not encrypted yet.
bool NeedsEncryption(const ZipEntry& entry);

// Encrypts the entry with traditional ZIP encryption and `password` (in
// the target code page), when NeedsEncryption says so: the data gains the
// encryption header (kEncryptionHeaderSize bytes) in front.
void EncryptEntry(ZipEntry& entry, const std::string& password);

// EncryptEntry for every entry.
void EncryptEntries(ZipArchive& archive, const std::string& password);
