// CRC-32 table, register update and the bitwise reference (see crc32.h).
#include "util/crc32.h"

#include "startup/sfx_state.h"

static uint32_t ShiftInBit(uint32_t reg, uint32_t bit) {
  return ((reg ^ bit) & 1) ? (reg >> 1) ^ kCrcPolynomial : reg >> 1;
}

void BuildCrcTable() {
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t reg = 0;
    for (int k = 0; k < 8; k++) reg = ShiftInBit(reg, (i >> k) & 1);
    Sfx.CrcTable[i] = reg;
  }
}

uint32_t CrcStep(uint32_t reg, uint8_t byte) {
  return (reg >> 8) ^ Sfx.CrcTable[(reg ^ byte) & 0xFF];
}

void UpdateCrc(const uint8_t* data, uint32_t length) {
  uint32_t reg = Sfx.RunningCrc;
  const uint32_t* table = Sfx.CrcTable;
  for (uint32_t i = 0; i < length; i++) reg = (reg >> 8) ^ table[(reg ^ data[i]) & 0xFF];
  Sfx.RunningCrc = reg;
}

uint32_t CrcBitwiseReference(const uint8_t* data, uint32_t length) {
  uint32_t reg = kCrcPreset;
  for (uint32_t i = 0; i < length; i++)
    for (int k = 0; k < 8; k++) reg = ShiftInBit(reg, (data[i] >> k) & 1);
  return ~reg;
}
