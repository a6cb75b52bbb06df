// Icon files (see icon_file.h).
//
// ICO format notes: a 6-byte header (reserved 0, type 1 for icons and 2 for
// cursors, the image count), then one 16-byte directory entry per image
// (width and height with 0 meaning 256, palette size, reserved, planes, bits
// per pixel, the image's size and file offset). Each image is either a PNG
// file (Windows Vista and later read those, usually for the 256-pixel size)
// or a DIB: a BITMAPINFOHEADER whose height counts the colour bitmap and the
// AND mask together, so it is twice the icon's height.
#include "builder/icon_file.h"

#include "builder/zip_model.h"

#include <cstring>

namespace {

constexpr size_t kIconHeaderSize = 6;
constexpr size_t kIconEntrySize = 16;
constexpr uint16_t kIconType = 1, kCursorType = 2;
constexpr unsigned kLargestIcon = 256;  // pixels; the directory cannot name a larger size

// PNG: the 8-byte signature, then the IHDR chunk: its length (13, big-endian),
// "IHDR", width and height (big-endian), bit depth and colour type.
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr size_t kPngHeaderEnd = 8 + 8 + 13;

// BITMAPINFOHEADER: size, width, height (both signed), planes, bits per pixel.
constexpr uint32_t kBitmapInfoHeaderSize = 40;

uint32_t GetBe32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }

// Bits per pixel of a PNG image from its IHDR bit depth and colour type.
uint16_t PngBitsPerPixel(uint8_t depth, uint8_t colorType) {
  switch (colorType) {
    case 2: return depth * 3;  // truecolour
    case 4: return depth * 2;  // grey with alpha
    case 6: return depth * 4;  // truecolour with alpha
    default: return depth;     // grey, palette
  }
}

bool ReadPngImage(IconImage* image, std::string* why) {
  const std::vector<uint8_t>& b = image->bytes;
  if (b.size() < kPngHeaderEnd || memcmp(&b[12], "IHDR", 4) != 0) {
    *why = "is a PNG image without its header";
    return false;
  }
  image->png = true;
  image->width = GetBe32(&b[16]);
  image->height = GetBe32(&b[20]);
  image->bitCount = PngBitsPerPixel(b[24], b[25]);
  return true;
}

bool ReadBitmapImage(IconImage* image, uint8_t paletteSize, std::string* why) {
  const std::vector<uint8_t>& b = image->bytes;
  uint32_t headerSize = b.size() >= 4 ? GetLe32(&b[0]) : 0;
  if (headerSize < kBitmapInfoHeaderSize || headerSize > b.size()) {
    *why = "is neither a PNG image nor a bitmap";
    return false;
  }
  int32_t width = static_cast<int32_t>(GetLe32(&b[4])), height = static_cast<int32_t>(GetLe32(&b[8]));
  uint16_t planes = GetLe16(&b[12]), bits = GetLe16(&b[14]);
  if (planes != 1 || !(bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32) || width <= 0 ||
      height <= 0 || height % 2) {
    *why = "is a damaged bitmap (size, planes or bits per pixel)";
    return false;
  }
  image->width = static_cast<unsigned>(width);
  image->height = static_cast<unsigned>(height) / 2;  // the colour bitmap and the mask
  image->bitCount = bits;
  image->colorCount = bits < 8 ? paletteSize : 0;
  return true;
}

}  // namespace

bool ReadIconFile(const std::vector<uint8_t>& file, std::vector<IconImage>* images_ret, std::string* error) {
  if (file.size() < kIconHeaderSize || GetLe16(&file[0]) != 0 ||
      (GetLe16(&file[2]) != kIconType && GetLe16(&file[2]) != kCursorType)) {
    *error = "not an icon file (no icon header)";
    return false;
  }
  if (GetLe16(&file[2]) == kCursorType) {
    *error = "a cursor file, not an icon";
    return false;
  }
  size_t count = GetLe16(&file[4]);
  if (count == 0) {
    *error = "an icon file with no image";
    return false;
  }
  if (kIconHeaderSize + count * kIconEntrySize > file.size()) {
    *error = "a damaged icon file: its directory of " + std::to_string(count) + " images is cut short";
    return false;
  }
  std::vector<IconImage> images;
  for (size_t i = 0; i < count; i++) {
    const uint8_t* entry = &file[kIconHeaderSize + i * kIconEntrySize];
    uint64_t size = GetLe32(entry + 8), at = GetLe32(entry + 12);
    std::string why, which = "image " + std::to_string(i + 1);
    if (size == 0 || at + size > file.size()) {
      *error = "a damaged icon file: " + which + " lies outside the file";
      return false;
    }
    IconImage image;
    image.bytes.assign(file.begin() + at, file.begin() + at + size);
    bool png = size >= sizeof kPngSignature && memcmp(&file[at], kPngSignature, sizeof kPngSignature) == 0;
    if (!(png ? ReadPngImage(&image, &why) : ReadBitmapImage(&image, entry[2], &why))) {
      *error = "a damaged icon file: " + which + " " + why;
      return false;
    }
    if (image.width == 0 || image.height == 0 || image.width > kLargestIcon || image.height > kLargestIcon) {
      *error = "a damaged icon file: " + which + " is " + std::to_string(image.width) + "x" +
               std::to_string(image.height) + " pixels; icons are 1 to 256 pixels wide and high";
      return false;
    }
    images.push_back(std::move(image));
  }
  *images_ret = std::move(images);
  return true;
}
