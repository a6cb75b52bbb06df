// Laying out a self-extractor: the stub with two more sections, ".rsrc"
// with the resources (manifest, icon, version information, publisher texts)
// and "_dravik_", the last, holding the ConfigBlock and the archive; the
// configuration record filled in, and the stub CRC computed last, exactly as
// the stub computes it.
#pragma once

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

// Encrypts every entry that is not encrypted yet with traditional ZIP
// encryption and `password` (in the target code page).
void EncryptEntries(ZipArchive& archive, const std::string& password);
