// CRC-32 as ZIP and gzip use it (ISO 3309, ITU-T V.42): reflected polynomial
// 0xEDB88320, register preset to all ones, result complemented. The caller
// owns that framing: preset Sfx.RunningCrc, feed with UpdateCrc in data
// order, complement. The table is built at start-up, never stored.
#pragma once

#include <cstdint>

constexpr uint32_t kCrcPolynomial = 0xEDB88320u;  // reflected form
constexpr uint32_t kCrcPreset = 0xFFFFFFFFu;

// Fills Sfx.CrcTable: entry i is the register after shifting in the eight bits
// of i, least significant first, from 0; and sets Sfx.CrcFolding when the
// processor has carry-less multiplication, which UpdateCrc then uses.
void BuildCrcTable();

// Feeds length bytes through Sfx.RunningCrc (no preset, no complement).
void UpdateCrc(const uint8_t* data, uint32_t length);

// One table step on a register passed in; the decryption keys use it.
uint32_t CrcStep(uint32_t reg, uint8_t byte);

// Bit-at-a-time reference used by the tests as the oracle.
uint32_t CrcBitwiseReference(const uint8_t* data, uint32_t length);
