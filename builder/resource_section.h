// The resource section of a Windows image: written from a list of resources
// for the self-extractor, and read back from an image for info and tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Resource types by their standard numbers.
constexpr uint16_t kResourceIcon = 3;        // RT_ICON: one image of an icon
constexpr uint16_t kResourceData = 10;       // RT_RCDATA: raw data (the stub's publisher texts)
constexpr uint16_t kResourceIconGroup = 14;  // RT_GROUP_ICON: the directory of an icon's images
constexpr uint16_t kResourceVersion = 16;    // RT_VERSION: VS_VERSIONINFO
constexpr uint16_t kResourceManifest = 24;   // RT_MANIFEST: the application manifest

// The language every resource the builder writes is filed under: US English,
// which the version information's translation names too.
constexpr uint16_t kResourceLanguage = 0x0409;

// One resource, named by numbers only (the builder names none by string).
struct ResourceItem {
  uint16_t type = 0, id = 0, language = kResourceLanguage;
  std::vector<uint8_t> data;
};

// The section's bytes for a section loaded at `sectionRva`: the directory
// tree (type, then id, then language, each level sorted as the loader
// expects), the data entries, then each resource's data on an 8-byte
// boundary. Two items with the same type, id and language are not allowed.
std::vector<uint8_t> WriteResourceSection(const std::vector<ResourceItem>& items, uint32_t sectionRva);

// The resources of the image `image` (a whole file, untrusted) with numeric
// type, id and language, in the tree's order; none when the image has no
// resource directory. False with *error_ret when the tree is damaged.
bool ReadResources(const std::vector<uint8_t>& image, std::vector<ResourceItem>* items_ret, std::string* error_ret);

// The data of the first resource of `type` and `id` (any language), or null.
const ResourceItem* FindResource(const std::vector<ResourceItem>& items, uint16_t type, uint16_t id);
