// Where the host tools find the configuration record: as the loader maps
// the image, in the raw data of its own sections, whatever the optional
// header's size (PE32 or PE32+), and never in the DOS header area, the file
// padding past a section's VirtualSize or the payload section. Images are
// made here, a few hundred bytes each, with the marker put where a case
// says.
#include "container/sfx_config.h"
#include "container/sfx_image.h"
#include "platform/host/sfx_record_locator.h"
#include "stub_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kLfanew = 0x80;  // room for a record in the DOS area before it
constexpr uint32_t kDosAreaRecord = 0x40;

struct Section {
  const char* name;  // up to 8 characters
  uint32_t rawAt, rawSize, virtualSize;
};

// A DOS header, "PE\0\0", a file header giving `optionalSize`, a zeroed
// optional header and the section table; raw data up to the last section's
// end (zeros).
std::vector<uint8_t> MakeImage(uint16_t optionalSize, const std::vector<Section>& sections) {
  std::vector<uint8_t> b(0x400, 0);
  b[0] = 'M', b[1] = 'Z';
  PutU32(b, kLfanewOffset, kLfanew);
  memcpy(&b[kLfanew], "PE\0\0", 4);
  PutU16(b, kLfanew + 4 + 2, static_cast<uint16_t>(sections.size()));
  PutU16(b, kLfanew + 4 + 16, optionalSize);
  size_t table = kLfanew + 4 + 20 + optionalSize;
  for (size_t i = 0; i < sections.size(); i++) {
    const Section& s = sections[i];
    size_t at = table + 40 * i;
    memcpy(&b[at], s.name, strlen(s.name));
    PutU32(b, at + 8, s.virtualSize);
    PutU32(b, at + 12, 0x1000 * static_cast<uint32_t>(i + 1));
    PutU32(b, at + 16, s.rawSize);
    PutU32(b, at + 20, s.rawAt);
    if (b.size() < s.rawAt + s.rawSize) b.resize(s.rawAt + s.rawSize, 0);
  }
  return b;
}

void PutMarker(std::vector<uint8_t>& image, size_t at) {
  memcpy(&image[at], SfxImage.Config.SfxMarker, kSfxMarkerSize);
}

struct LocatorCase {
  const char* what;
  uint16_t optionalSize;
  std::vector<Section> sections;
  std::vector<size_t> markersAt;
  long expected;  // -1: no record
};

TEST(LocateSfxRecord, FindsTheRecordWhereTheLoaderMapsIt) {
  const Section text{".text", 0x400, 0x200, 0x1F0}, data{".data", 0x600, 0x200, 0x100};
  const Section payload{"_dravik_", 0x800, 0x200, 0x1000};
  const LocatorCase cases[] = {
      {"PE32: the record in .data", 224, {text, data}, {0x620}, 0x620},
      {"PE32+: the record in .data", 240, {text, data}, {0x620}, 0x620},
      {"no record at all", 224, {text, data}, {}, -1},
      {"a record in the DOS area only", 224, {text, data}, {kDosAreaRecord}, -1},
      {"a forged record in the DOS area before the real one", 224, {text, data}, {kDosAreaRecord, 0x620}, 0x620},
      {"a record in the payload section only", 224, {text, data, payload}, {0x810}, -1},
      {"the real record and one in the payload", 224, {text, data, payload}, {0x620, 0x810}, 0x620},
      {"a record in .data's file padding, past its VirtualSize", 224, {text, data}, {0x720}, -1},
      {"a record cut by the end of .data's mapped bytes", 224, {text, data}, {0x6E0}, -1},
      {"two records in the sections", 224, {text, data}, {0x420, 0x620}, -1},
      {"a VirtualSize of 0 maps the whole raw data", 224, {text, {".data", 0x600, 0x200, 0}}, {0x720}, 0x720},
  };
  for (const LocatorCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> image = MakeImage(c.optionalSize, c.sections);
    for (size_t at : c.markersAt) PutMarker(image, at);
    EXPECT_EQ(LocateSfxRecord(image.data(), image.size()), c.expected);
    // The bytes a reader needs end with .data's mapped bytes, before the payload.
    uint64_t stubPart = StubPartSize(image.data(), image.size());
    EXPECT_LE(stubPart, 0x800u);
    if (c.expected >= 0) EXPECT_EQ(LocateSfxRecord(image.data(), stubPart), c.expected);
  }
}

TEST(LocateSfxRecord, RefusesHeadersThatDoNotHoldTogether) {
  std::vector<uint8_t> good = MakeImage(224, {{".data", 0x400, 0x200, 0x200}});
  PutMarker(good, 0x420);
  ASSERT_EQ(LocateSfxRecord(good.data(), good.size()), 0x420);
  struct {
    const char* what;
    size_t at;
    uint32_t value;
    unsigned width;
  } const cases[] = {
      {"no MZ", 0, 0, 2},
      {"e_lfanew past the end", kLfanewOffset, 0xFFFFFFF0u, 4},
      {"no PE signature", kLfanew, 0, 4},
      {"an optional header that runs the table past the end", kLfanew + 4 + 16, 0xFFFF, 2},
      {"a section count the table cannot hold", kLfanew + 4 + 2, 0xFFFF, 2},
      {"a section's raw data past the end", kLfanew + 4 + 20 + 224 + 20, 0xFFFFFF00u, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> image = good;
    if (c.width == 2)
      PutU16(image, c.at, static_cast<uint16_t>(c.value));
    else
      PutU32(image, c.at, c.value);
    EXPECT_EQ(LocateSfxRecord(image.data(), image.size()), -1);
    EXPECT_EQ(LocateSfxRecord(image.data(), 100), -1);  // cut inside the headers
  }
}

}  // namespace
