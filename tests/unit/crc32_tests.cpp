// CRC-32: the table-driven register against the bitwise reference and zlib.
#include "base/sfx_state.h"
#include "util/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

namespace {

uint32_t TableCrc(const std::vector<uint8_t>& data, size_t piece) {
  Sfx.RunningCrc = kCrcPreset;
  for (size_t at = 0; at < data.size(); at += piece)
    UpdateCrc(data.data() + at, static_cast<uint32_t>(std::min(piece, data.size() - at)));
  return ~Sfx.RunningCrc;
}

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(n);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

TEST(Crc32, TableIsTheStandardOne) {
  BuildCrcTable();
  const z_crc_t* zlibTable = get_crc_table();
  for (int i = 0; i < 256; i++) EXPECT_EQ(Sfx.CrcTable[i], zlibTable[i]) << "entry " << i;
}

TEST(Crc32, EmptyDataGivesZero) {
  BuildCrcTable();
  EXPECT_EQ(TableCrc({}, 1), 0u);
  EXPECT_EQ(CrcBitwiseReference(nullptr, 0), 0u);
}

TEST(Crc32, KnownCheckValue) {
  BuildCrcTable();
  const std::string check = "123456789";
  EXPECT_EQ(TableCrc(std::vector<uint8_t>(check.begin(), check.end()), 9), 0xCBF43926u);
}

// Both ways of updating: the tables, and folding by carry-less
// multiplication where this processor has it. The sizes stand around the
// folding's steps (16 and 64 bytes) and its rest taken by the tables.
TEST(Crc32, PiecesOfAnySizeGiveTheSameResultAsZlibAndTheReference) {
  BuildCrcTable();
  const DWORD canFold = Sfx.CrcFolding;
  for (DWORD folding : {DWORD{0}, canFold}) {
    Sfx.CrcFolding = folding;
    for (size_t size : {1u, 7u, 63u, 64u, 65u, 79u, 80u, 127u, 128u, 143u, 2047u, 2048u, 2049u, 65536u, 70000u}) {
      std::vector<uint8_t> data = RandomBytes(size, static_cast<unsigned>(size));
      uint32_t expected = static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
      EXPECT_EQ(CrcBitwiseReference(data.data(), static_cast<uint32_t>(size)), expected) << size;
      for (size_t piece : {size_t{1}, size_t{67}, size_t{2048}, size})
        EXPECT_EQ(TableCrc(data, piece), expected) << size << " in pieces of " << piece << ", folding " << folding;
    }
  }
  Sfx.CrcFolding = canFold;
}

// Folding reads its data unaligned: every start within a 16-byte line.
TEST(Crc32, FoldingFromAnyAlignment) {
  BuildCrcTable();
  std::vector<uint8_t> data = RandomBytes(1000, 16);
  for (size_t start = 0; start < 16; start++) {
    std::vector<uint8_t> tail(data.begin() + static_cast<long>(start), data.end());
    Sfx.RunningCrc = kCrcPreset;
    UpdateCrc(data.data() + start, static_cast<uint32_t>(data.size() - start));
    EXPECT_EQ(~Sfx.RunningCrc, static_cast<uint32_t>(crc32(0, tail.data(), static_cast<uInt>(tail.size())))) << start;
  }
}

TEST(Crc32, StepMatchesUpdateOnOneByte) {
  BuildCrcTable();
  for (uint32_t reg : {0u, 0x12345678u, 0xFFFFFFFFu}) {
    uint8_t byte = 0xA5;
    Sfx.RunningCrc = reg;
    UpdateCrc(&byte, 1);
    EXPECT_EQ(CrcStep(reg, byte), Sfx.RunningCrc);
  }
}

}  // namespace
