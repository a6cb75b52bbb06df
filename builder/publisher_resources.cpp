// The publisher's resources (see publisher_resources.h).
//
// Format notes, from the Win32 resource formats:
// - An icon is stored as one RT_ICON resource per image (the image's bytes,
//   PNG or DIB, exactly as in the .ico file) and one RT_GROUP_ICON resource
//   that repeats the .ico directory with 14-byte entries, each naming its
//   image by resource id instead of by file offset. Explorer shows the group
//   with the lowest id.
// - VS_VERSIONINFO is a tree of nodes: length, value length, type (1 text,
//   0 binary), a UTF-16 key with its NUL, padding to 4 bytes, the value,
//   padding, then the children. A node's length leaves out the padding after
//   it. The root's value is VS_FIXEDFILEINFO, whose numeric versions are what
//   Explorer's "File version" shows; the texts sit under StringFileInfo in a
//   table named by language and code page ("040904B0": US English, UTF-16),
//   which VarFileInfo's Translation repeats.
// - The manifest is resource 1 of RT_MANIFEST, the one Windows reads for a
//   program when it creates the process.
#include "builder/publisher_resources.h"

#include "builder/text_codec.h"
#include "builder/zip_model.h"
#include "container/sfx_config.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <strings.h>

namespace {

constexpr uint16_t kManifestId = 1;    // CREATEPROCESS_MANIFEST_RESOURCE_ID
constexpr uint16_t kVersionId = 1;     // VS_VERSION_INFO
constexpr uint16_t kIconGroupId = 1;
constexpr size_t kGroupHeaderSize = 6, kGroupEntrySize = 14;
constexpr uint8_t kPngSignature[4] = {0x89, 'P', 'N', 'G'};

constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr uint32_t kFixedInfoVersion = 0x00010000;
constexpr uint32_t kFileFlagsMask = 0x3F;      // VS_FFI_FILEFLAGSMASK
constexpr uint32_t kFileOsNtWindows32 = 0x00040004;  // VOS_NT_WINDOWS32
constexpr uint32_t kFileTypeApp = 1;           // VFT_APP
constexpr size_t kFixedInfoSize = 52;
constexpr uint32_t kTranslation = 0x04B00409;  // US English, code page 1200 (UTF-16)
const char kStringTableKey[] = "040904B0";

const char* const kVersionKeys[] = {"ProductName",    "CompanyName", "FileDescription", "FileVersion",
                                    "ProductVersion", "LegalCopyright", "LegalTrademarks", "InternalName",
                                    "OriginalFilename", "Comments"};

void AppendUtf16(std::vector<uint8_t>& b, const std::u16string& text) {
  for (char16_t c : text) PutLe16(b, c);
  PutLe16(b, 0);
}

void AlignTo4(std::vector<uint8_t>& b) {
  while (b.size() % 4) b.push_back(0);
}

// One VS_VERSIONINFO node; `valueLength` in the unit its type uses
// (characters for text, bytes for binary).
std::vector<uint8_t> VersionNode(const std::string& key, const std::vector<uint8_t>& value, uint16_t valueLength,
                                 bool text, const std::vector<std::vector<uint8_t>>& children) {
  std::vector<uint8_t> node(6, 0);
  AppendUtf16(node, std::u16string(key.begin(), key.end()));
  AlignTo4(node);
  node.insert(node.end(), value.begin(), value.end());
  for (const std::vector<uint8_t>& child : children) {
    AlignTo4(node);
    node.insert(node.end(), child.begin(), child.end());
  }
  SetLe16(node, 0, static_cast<uint16_t>(node.size()));
  SetLe16(node, 2, valueLength);
  SetLe16(node, 4, text ? 1 : 0);
  return node;
}

std::string VersionText(const VersionStrings& strings, const char* key) {
  for (const auto& [name, value] : strings)
    if (name == key) return value;
  return "";
}

std::vector<uint8_t> FixedFileInfo(const VersionStrings& strings) {
  uint16_t file[4] = {}, product[4] = {};
  std::string productText = VersionText(strings, "ProductVersion");
  ParseVersionNumber(VersionText(strings, "FileVersion"), file);
  ParseVersionNumber(productText.empty() ? VersionText(strings, "FileVersion") : productText, product);
  std::vector<uint8_t> b;
  for (uint32_t v : {kFixedInfoSignature, kFixedInfoVersion, uint32_t{file[0]} << 16 | file[1],
                     uint32_t{file[2]} << 16 | file[3], uint32_t{product[0]} << 16 | product[1],
                     uint32_t{product[2]} << 16 | product[3], kFileFlagsMask, 0u, kFileOsNtWindows32, kFileTypeApp, 0u,
                     0u, 0u})
    PutLe32(b, v);
  return b;
}

std::vector<uint8_t> TextResource(const std::string& text) {
  std::vector<uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  return data;
}

std::string VersionNumberText(uint32_t high, uint32_t low) {
  return std::to_string(high >> 16) + "." + std::to_string(high & 0xFFFF) + "." + std::to_string(low >> 16) + "." +
         std::to_string(low & 0xFFFF);
}

}  // namespace

const char* ExecutionLevelName(ExecutionLevel level) {
  switch (level) {
    case ExecutionLevel::HighestAvailable: return "highestAvailable";
    case ExecutionLevel::RequireAdministrator: return "requireAdministrator";
    default: return "asInvoker";
  }
}

std::string CanonicalVersionKey(const std::string& key) {
  for (const char* known : kVersionKeys)
    if (!strcasecmp(key.c_str(), known)) return known;
  return "";
}

bool ParseVersionNumber(const std::string& text, uint16_t (&parts)[4]) {
  memset(parts, 0, sizeof parts);
  size_t at = 0;
  for (int part = 0; at < text.size() && isdigit(static_cast<unsigned char>(text[at])); part++) {
    if (part == 4) return false;  // a fifth number
    unsigned long value = 0;
    while (at < text.size() && isdigit(static_cast<unsigned char>(text[at]))) {
      value = value * 10 + (text[at++] - '0');
      if (value > 0xFFFF) return false;
    }
    parts[part] = static_cast<uint16_t>(value);
    if (at + 1 < text.size() && (text[at] == '.' || text[at] == ',') && isdigit(static_cast<unsigned char>(text[at + 1])))
      at++;
    else
      break;
  }
  return true;
}

std::string ApplicationManifest(StubArch arch, ExecutionLevel level) {
  const std::string processor = arch == StubArch::X64 ? "amd64" : "x86";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n"
         "  <assemblyIdentity type=\"win32\" name=\"Dravik.SelfExtractor\" version=\"1.0.0.0\" "
         "processorArchitecture=\"" + processor + "\"/>\n"
         "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\n"
         "    <security>\n"
         "      <requestedPrivileges>\n"
         "        <requestedExecutionLevel level=\"" + std::string(ExecutionLevelName(level)) + "\" uiAccess=\"false\"/>\n"
         "      </requestedPrivileges>\n"
         "    </security>\n"
         "  </trustInfo>\n"
         "  <compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">\n"
         "    <application>\n"
         "      <supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>\n"  // Vista
         "      <supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>\n"  // 7
         "      <supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>\n"  // 8
         "      <supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>\n"  // 8.1
         "      <supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>\n"  // 10 and 11
         "    </application>\n"
         "  </compatibility>\n"
         "  <dependency>\n"
         "    <dependentAssembly>\n"
         "      <assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"\n"
         "                        processorArchitecture=\"" + processor +
         "\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>\n"
         "    </dependentAssembly>\n"
         "  </dependency>\n"
         "</assembly>\n";
}

std::vector<uint8_t> VersionInfoResource(const VersionStrings& strings) {
  std::vector<std::vector<uint8_t>> stringNodes;
  for (const auto& [key, value] : strings) {
    std::u16string text;
    Utf8ToUtf16(value, &text);  // checked when the option was read
    std::vector<uint8_t> bytes;
    AppendUtf16(bytes, text);
    stringNodes.push_back(VersionNode(key, bytes, static_cast<uint16_t>(text.size() + 1), true, {}));
  }
  std::vector<uint8_t> table = VersionNode(kStringTableKey, {}, 0, true, stringNodes);
  std::vector<uint8_t> translation;
  PutLe32(translation, kTranslation);
  std::vector<uint8_t> var = VersionNode("Translation", translation, 4, false, {});
  return VersionNode("VS_VERSION_INFO", FixedFileInfo(strings), kFixedInfoSize, false,
                     {VersionNode("StringFileInfo", {}, 0, true, {table}), VersionNode("VarFileInfo", {}, 0, true, {var})});
}

std::vector<ResourceItem> PublisherResourceItems(const PublisherResources& r, StubArch arch) {
  std::vector<ResourceItem> items;
  std::string manifest = ApplicationManifest(arch, r.level);
  items.push_back({kResourceManifest, kManifestId, kResourceLanguage, {manifest.begin(), manifest.end()}});
  if (!r.icons.empty()) {
    std::vector<uint8_t> group;
    for (uint16_t v : {uint16_t{0}, uint16_t{1}, static_cast<uint16_t>(r.icons.size())}) PutLe16(group, v);
    uint16_t id = 1;
    for (const IconImage& image : r.icons) {
      group.push_back(static_cast<uint8_t>(image.width & 0xFF));  // 256 is written as 0
      group.push_back(static_cast<uint8_t>(image.height & 0xFF));
      group.push_back(image.colorCount);
      group.push_back(0);
      PutLe16(group, 1);  // planes
      PutLe16(group, image.bitCount);
      PutLe32(group, static_cast<uint32_t>(image.bytes.size()));
      PutLe16(group, id);
      items.push_back({kResourceIcon, id++, kResourceLanguage, image.bytes});
    }
    items.push_back({kResourceIconGroup, kIconGroupId, kResourceLanguage, group});
  }
  if (!r.versionStrings.empty())
    items.push_back({kResourceVersion, kVersionId, kResourceLanguage, VersionInfoResource(r.versionStrings)});
  if (!r.bodyText.empty()) items.push_back({kResourceData, kBodyTextResource, kResourceLanguage, TextResource(r.bodyText)});
  if (!r.licenseText.empty())
    items.push_back({kResourceData, kLicenseTextResource, kResourceLanguage, TextResource(r.licenseText)});
  return items;
}

// ---- reading back ------------------------------------------------------------------

namespace {

// The images of the icon group `group`, each from its RT_ICON resource.
bool ReadIconGroup(const std::vector<ResourceItem>& items, const ResourceItem& group, std::vector<IconImage>* icons,
                   std::string* error) {
  const std::vector<uint8_t>& g = group.data;
  size_t count = g.size() >= kGroupHeaderSize ? GetLe16(&g[4]) : 0;
  if (g.size() < kGroupHeaderSize + count * kGroupEntrySize) {
    *error = "the icon group is cut short";
    return false;
  }
  for (size_t i = 0; i < count; i++) {
    const uint8_t* entry = &g[kGroupHeaderSize + i * kGroupEntrySize];
    const ResourceItem* image = FindResource(items, kResourceIcon, GetLe16(entry + 12));
    if (!image) {
      *error = "the icon group names an image that is not there";
      return false;
    }
    IconImage icon;
    icon.width = entry[0] ? entry[0] : 256;
    icon.height = entry[1] ? entry[1] : 256;
    icon.colorCount = entry[2];
    icon.bitCount = GetLe16(entry + 6);
    icon.png = image->data.size() >= 4 && !memcmp(image->data.data(), kPngSignature, 4);
    icon.bytes = image->data;
    icons->push_back(std::move(icon));
  }
  return true;
}

// The strings of a VS_VERSIONINFO node tree between at and end; each node
// is read within its parent's bounds.
void ReadVersionNode(const std::vector<uint8_t>& b, size_t at, size_t end, int depth, PublisherView* view) {
  if (at + 6 > end || depth > 3) return;
  size_t length = GetLe16(&b[at]), valueLength = GetLe16(&b[at + 2]);
  bool text = GetLe16(&b[at + 4]) == 1;
  size_t nodeEnd = std::min(end, at + length);
  std::u16string key;
  size_t p = at + 6;
  for (; p + 1 < nodeEnd && GetLe16(&b[p]); p += 2) key += static_cast<char16_t>(GetLe16(&b[p]));
  p = (p + 2 + 3) / 4 * 4;
  if (depth == 3) {  // a String: key and text
    std::u16string value;
    for (size_t v = p; v + 1 < nodeEnd && GetLe16(&b[v]); v += 2) value += static_cast<char16_t>(GetLe16(&b[v]));
    view->versionStrings.emplace_back(Utf16ToUtf8(key), Utf16ToUtf8(value));
    return;
  }
  if (depth == 0 && valueLength >= kFixedInfoSize && p + kFixedInfoSize <= nodeEnd &&
      GetLe32(&b[p]) == kFixedInfoSignature) {
    view->fileVersion = VersionNumberText(GetLe32(&b[p + 8]), GetLe32(&b[p + 12]));
    view->productVersion = VersionNumberText(GetLe32(&b[p + 16]), GetLe32(&b[p + 20]));
  }
  if (depth == 1 && Utf16ToUtf8(key) != "StringFileInfo") return;  // VarFileInfo holds no strings
  size_t children = (p + (text ? valueLength * 2 : valueLength) + 3) / 4 * 4;
  while (children + 6 <= nodeEnd) {
    size_t childLength = GetLe16(&b[children]);
    if (childLength < 6) return;
    ReadVersionNode(b, children, nodeEnd, depth + 1, view);
    children = (children + childLength + 3) / 4 * 4;
  }
}

// The level named by the manifest's requestedExecutionLevel, if any.
std::string ManifestLevel(const std::string& manifest) {
  size_t at = manifest.find("requestedExecutionLevel");
  if (at == std::string::npos) return "";
  size_t level = manifest.find("level=\"", at);
  size_t close = level == std::string::npos ? level : manifest.find('"', level + 7);
  return close == std::string::npos ? "" : manifest.substr(level + 7, close - level - 7);
}

std::string StoredText(const ResourceItem* item) {
  if (!item) return "";
  std::string text(item->data.begin(), item->data.end());
  return text.substr(0, text.find('\0'));
}

}  // namespace

bool ReadPublisherView(const std::vector<uint8_t>& image, PublisherView* view, std::string* error) {
  *view = PublisherView();
  std::vector<ResourceItem> items;
  if (!ReadResources(image, &items, error)) return false;
  for (const ResourceItem& item : items) {
    if (item.type == kResourceIconGroup) {
      if (!ReadIconGroup(items, item, &view->icons, error)) return false;
      break;  // the first group is the program's icon
    }
  }
  if (const ResourceItem* version = FindResource(items, kResourceVersion, kVersionId))
    ReadVersionNode(version->data, 0, version->data.size(), 0, view);
  if (const ResourceItem* manifest = FindResource(items, kResourceManifest, kManifestId))
    view->executionLevel = ManifestLevel(std::string(manifest->data.begin(), manifest->data.end()));
  view->bodyText = StoredText(FindResource(items, kResourceData, kBodyTextResource));
  view->licenseText = StoredText(FindResource(items, kResourceData, kLicenseTextResource));
  return true;
}

std::string DescribeIconImage(const IconImage& image) {
  return std::to_string(image.width) + "x" + std::to_string(image.height) + " " +
         (image.png ? std::string("PNG") : std::to_string(image.bitCount) + "-bit");
}
