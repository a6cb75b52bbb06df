// CRC-32 table, register update and the bitwise reference (see crc32.h).
#include "util/crc32.h"

#include "base/sfx_state.h"

static uint32_t ShiftInBit(uint32_t reg, uint32_t bit) {
  return ((reg ^ bit) & 1) ? (reg >> 1) ^ kCrcPolynomial : reg >> 1;
}

// Besides the standard table, three derived ones let UpdateCrc take four
// bytes per step (still one lookup per byte): entry i of slice table k is
// the register after byte i followed by k + 1 zero bytes.
void BuildCrcTable() {
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t reg = 0;
    for (int k = 0; k < 8; k++) reg = ShiftInBit(reg, (i >> k) & 1);
    Sfx.CrcTable[i] = reg;
  }
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t reg = Sfx.CrcTable[i];
    for (int k = 0; k < 3; k++) {
      reg = (reg >> 8) ^ Sfx.CrcTable[reg & 0xFF];
      Sfx.CrcSliceTables[k][i] = reg;
    }
  }
}

uint32_t CrcStep(uint32_t reg, uint8_t byte) {
  return (reg >> 8) ^ Sfx.CrcTable[(reg ^ byte) & 0xFF];
}

// Four bytes at a time: the register XOR the next four bytes (little-end
// first) is looked up byte by byte in the tables for 3, 2, 1 and 0 bytes
// still to come; the tail goes byte by byte.
void UpdateCrc(const uint8_t* data, uint32_t length) {
  uint32_t reg = Sfx.RunningCrc;
  const uint32_t* table = Sfx.CrcTable;
  const uint32_t(*slices)[256] = Sfx.CrcSliceTables;
  for (; length >= 4; length -= 4, data += 4) {
    reg ^= data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
    reg = slices[2][reg & 0xFF] ^ slices[1][(reg >> 8) & 0xFF] ^ slices[0][(reg >> 16) & 0xFF] ^ table[reg >> 24];
  }
  for (; length; length--) reg = (reg >> 8) ^ table[(reg ^ *data++) & 0xFF];
  Sfx.RunningCrc = reg;
}

uint32_t CrcBitwiseReference(const uint8_t* data, uint32_t length) {
  uint32_t reg = kCrcPreset;
  for (uint32_t i = 0; i < length; i++)
    for (int k = 0; k < 8; k++) reg = ShiftInBit(reg, (data[i] >> k) & 1);
  return ~reg;
}
