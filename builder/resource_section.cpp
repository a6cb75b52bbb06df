// The resource section (see resource_section.h).
//
// PE format notes: the section starts with a tree of three levels, type, name
// and language. Each directory is 16 bytes (characteristics, time stamp,
// version, then the counts of named and of numbered entries) followed by its
// 8-byte entries, named ones first, each level sorted ascending: the loader
// searches them by bisection. An entry holds the number and an offset from
// the section's start, with the top bit set when it leads to a directory of
// the next level. A leaf leads to a 16-byte data entry whose first field is
// an RVA, not an offset: the data's place in the loaded image. That is why
// the section can only be written once its RVA is known.
#include "builder/resource_section.h"

#include "builder/pe_image.h"
#include "builder/zip_model.h"

#include <map>

namespace {

constexpr uint32_t kDirectorySize = 16;
constexpr uint32_t kEntrySize = 8;
constexpr uint32_t kDataEntrySize = 16;
constexpr uint32_t kSubdirectoryBit = 0x80000000u;
constexpr uint32_t kNamedEntryBit = 0x80000000u;
constexpr uint32_t kDataAlignment = 8;
constexpr int kTreeDepth = 3;  // type, id, language

// A directory header with `count` numbered entries at `at`.
void PutDirectory(std::vector<uint8_t>& b, size_t at, size_t count) { SetLe16(b, at + 14, static_cast<uint16_t>(count)); }

uint32_t AlignUp(uint32_t value, uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }

using LanguageMap = std::map<uint16_t, const ResourceItem*>;
using IdMap = std::map<uint16_t, LanguageMap>;
using TypeMap = std::map<uint16_t, IdMap>;

}  // namespace

std::vector<uint8_t> WriteResourceSection(const std::vector<ResourceItem>& items, uint32_t sectionRva) {
  TypeMap tree;
  for (const ResourceItem& item : items) tree[item.type][item.id][item.language] = &item;

  // Sizes first: every directory of a level lies before those of the next.
  uint32_t typeDirectoriesAt = kDirectorySize + kEntrySize * static_cast<uint32_t>(tree.size());
  uint32_t idDirectoriesAt = typeDirectoriesAt, dataEntriesAt;
  for (const auto& [type, ids] : tree) idDirectoriesAt += kDirectorySize + kEntrySize * static_cast<uint32_t>(ids.size());
  dataEntriesAt = idDirectoriesAt;
  for (const auto& [type, ids] : tree)
    for (const auto& [id, languages] : ids) dataEntriesAt += kDirectorySize + kEntrySize * static_cast<uint32_t>(languages.size());
  uint32_t dataAt = AlignUp(dataEntriesAt + kDataEntrySize * static_cast<uint32_t>(items.size()), kDataAlignment);

  std::vector<uint8_t> b(dataAt, 0);
  PutDirectory(b, 0, tree.size());
  uint32_t typeEntry = kDirectorySize, typeDirectory = typeDirectoriesAt, idDirectory = idDirectoriesAt;
  uint32_t dataEntry = dataEntriesAt;
  for (const auto& [type, ids] : tree) {
    SetLe32(b, typeEntry, type);
    SetLe32(b, typeEntry + 4, kSubdirectoryBit | typeDirectory);
    typeEntry += kEntrySize;
    PutDirectory(b, typeDirectory, ids.size());
    uint32_t idEntry = typeDirectory + kDirectorySize;
    typeDirectory += kDirectorySize + kEntrySize * static_cast<uint32_t>(ids.size());
    for (const auto& [id, languages] : ids) {
      SetLe32(b, idEntry, id);
      SetLe32(b, idEntry + 4, kSubdirectoryBit | idDirectory);
      idEntry += kEntrySize;
      PutDirectory(b, idDirectory, languages.size());
      uint32_t languageEntry = idDirectory + kDirectorySize;
      idDirectory += kDirectorySize + kEntrySize * static_cast<uint32_t>(languages.size());
      for (const auto& [language, item] : languages) {
        SetLe32(b, languageEntry, language);
        SetLe32(b, languageEntry + 4, dataEntry);
        languageEntry += kEntrySize;
        uint32_t at = static_cast<uint32_t>(b.size());
        SetLe32(b, dataEntry, sectionRva + at);
        SetLe32(b, dataEntry + 4, static_cast<uint32_t>(item->data.size()));
        dataEntry += kDataEntrySize;
        b.insert(b.end(), item->data.begin(), item->data.end());
        b.resize(AlignUp(static_cast<uint32_t>(b.size()), kDataAlignment), 0);
      }
    }
  }
  return b;
}

namespace {

// Reads the tree below the directory at `at` (an offset in the section
// `s`, which is loaded at `rva`); `path` holds the numbers of the levels
// above. Depth and offsets are bounded, so a tree that loops or points
// outside the section is refused rather than followed.
bool ReadDirectory(const std::vector<uint8_t>& image, const std::vector<uint8_t>& s, uint32_t rva, uint32_t at,
                   int depth, uint16_t (&path)[kTreeDepth], std::vector<ResourceItem>* items, std::string* error) {
  if (uint64_t{at} + kDirectorySize > s.size()) {
    *error = "a resource directory lies outside its section";
    return false;
  }
  uint32_t named = GetLe16(&s[at + 12]), numbered = GetLe16(&s[at + 14]);
  for (uint32_t i = 0; i < named + numbered; i++) {
    uint64_t entry = uint64_t{at} + kDirectorySize + uint64_t{i} * kEntrySize;
    if (entry + kEntrySize > s.size()) {
      *error = "a resource directory's entries lie outside its section";
      return false;
    }
    uint32_t name = GetLe32(&s[entry]), target = GetLe32(&s[entry + 4]);
    if (name & kNamedEntryBit) continue;  // named resources are not the builder's
    path[depth] = static_cast<uint16_t>(name);
    bool subdirectory = (target & kSubdirectoryBit) != 0;
    target &= ~kSubdirectoryBit;
    if (subdirectory != (depth + 1 < kTreeDepth)) {
      *error = "the resource tree is not three levels deep";
      return false;
    }
    if (subdirectory) {
      if (!ReadDirectory(image, s, rva, target, depth + 1, path, items, error)) return false;
      continue;
    }
    if (uint64_t{target} + kDataEntrySize > s.size()) {
      *error = "a resource data entry lies outside its section";
      return false;
    }
    uint32_t dataRva = GetLe32(&s[target]), size = GetLe32(&s[target + 4]);
    uint32_t offset;
    if (!RvaToFileOffset(image, dataRva, size, &offset)) {
      *error = "a resource's data lies outside the file";
      return false;
    }
    ResourceItem item;
    item.type = path[0];
    item.id = path[1];
    item.language = path[2];
    item.data.assign(image.begin() + offset, image.begin() + offset + size);
    items->push_back(std::move(item));
  }
  return true;
}

}  // namespace

bool ReadResources(const std::vector<uint8_t>& image, std::vector<ResourceItem>* items_ret, std::string* error) {
  items_ret->clear();
  uint32_t rva, size, offset;
  if (!ReadDataDirectory(image, kResourceDirectory, &rva, &size) || rva == 0) return true;  // no resources
  if (!RvaToFileOffset(image, rva, size, &offset)) {
    *error = "the resource directory lies outside the file";
    return false;
  }
  std::vector<uint8_t> section(image.begin() + offset, image.begin() + offset + size);
  uint16_t path[kTreeDepth] = {};
  return ReadDirectory(image, section, rva, 0, 0, path, items_ret, error);
}

const ResourceItem* FindResource(const std::vector<ResourceItem>& items, uint16_t type, uint16_t id) {
  for (const ResourceItem& item : items)
    if (item.type == type && item.id == id) return &item;
  return nullptr;
}
