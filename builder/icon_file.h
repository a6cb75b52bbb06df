// Windows icon files (.ico) read for the self-extractor's icon resources.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One image of an icon file, with the facts the icon group's directory
// repeats about it, taken from the image itself rather than from the file's
// directory (which tools often leave at 0 for PNG images).
struct IconImage {
  unsigned width = 0, height = 0;  // pixels, 1 to 256
  uint8_t colorCount = 0;          // palette entries below 8 bits per pixel, else 0
  uint16_t bitCount = 0;           // bits per pixel
  bool png = false;                // a PNG image rather than a bitmap (DIB)
  std::vector<uint8_t> bytes;      // the image as the file holds it
};

// The images of the icon file `file` (untrusted), in file order; false with
// *error_ret saying what is wrong (in words fit to follow the file's name).
bool ReadIconFile(const std::vector<uint8_t>& file, std::vector<IconImage>* images_ret, std::string* error_ret);
