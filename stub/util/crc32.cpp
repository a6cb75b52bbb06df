// CRC-32 table, register update and the bitwise reference (see crc32.h).
#include "util/crc32.h"

#include "base/sfx_state.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <emmintrin.h>
#include <wmmintrin.h>
#define CRC_FOLDING 1
#endif

static uint32_t ShiftInBit(uint32_t reg, uint32_t bit) {
  return ((reg ^ bit) & 1) ? (reg >> 1) ^ kCrcPolynomial : reg >> 1;
}

#if CRC_FOLDING
// Carry-less multiplication (PCLMULQDQ) folds the data 64 bytes per step, a
// tenth of the table's time per byte; processors since 2010 have it, and
// CPUID says whether this one does (leaf 1: ECX bit 1, SSE2 in EDX bit 26).
static DWORD HasCarrylessMultiply() {
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return 0;
  return (ecx & bit_PCLMUL) && (edx & bit_SSE2);
}

// 32-bit Windows keeps its stack 4-byte aligned; the SSE code realigns it.
#if defined(__i386__)
#define FOLDING_CODE __attribute__((target("pclmul,sse2"), force_align_arg_pointer))
#else
#define FOLDING_CODE __attribute__((target("pclmul,sse2")))
#endif

FOLDING_CODE static inline __m128i Load16(const uint8_t* data) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
}

// Moves a 128-bit remainder over the distance its constants stand for (the
// high half by one, the low half by the other) and adds the data found there.
FOLDING_CODE static inline __m128i Fold16(__m128i remainder, __m128i constants, __m128i data) {
  __m128i low = _mm_clmulepi64_si128(remainder, constants, 0x00);
  __m128i high = _mm_clmulepi64_si128(remainder, constants, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), data);
}

// The register after `length` bytes (a multiple of 16, at least 64), by the
// method of Intel's "Fast CRC Computation for Generic Polynomials Using
// PCLMULQDQ Instruction" in the reflected domain: four remainders advance 64
// bytes at a time, are folded into one, which takes any 16-byte rest, and the
// last 128 bits are reduced to 32 by Barrett reduction. Constants are powers
// of x modulo the polynomial (bit-reflected), and the Barrett quotient.
FOLDING_CODE static uint32_t FoldCrc(uint32_t reg, const uint8_t* data, uint32_t length) {
  const __m128i by64Bytes = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
  const __m128i by16Bytes = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
  const __m128i by32Bits = _mm_set_epi64x(0, 0x0163cd6124);
  const __m128i barrett = _mm_set_epi64x(0x01f7011641, 0x01db710641);
  const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
  __m128i x1 = _mm_xor_si128(Load16(data), _mm_cvtsi32_si128(static_cast<int>(reg)));
  __m128i x2 = Load16(data + 16), x3 = Load16(data + 32), x4 = Load16(data + 48);
  for (data += 64, length -= 64; length >= 64; data += 64, length -= 64) {
    x1 = Fold16(x1, by64Bytes, Load16(data));
    x2 = Fold16(x2, by64Bytes, Load16(data + 16));
    x3 = Fold16(x3, by64Bytes, Load16(data + 32));
    x4 = Fold16(x4, by64Bytes, Load16(data + 48));
  }
  x1 = Fold16(x1, by16Bytes, x2);
  x1 = Fold16(x1, by16Bytes, x3);
  x1 = Fold16(x1, by16Bytes, x4);
  for (; length >= 16; data += 16, length -= 16) x1 = Fold16(x1, by16Bytes, Load16(data));
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, by16Bytes, 0x10));  // 128 bits to 96
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 4), _mm_clmulepi64_si128(_mm_and_si128(x1, low32), by32Bits, 0x00));
  __m128i quotient = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), barrett, 0x10);
  __m128i product = _mm_clmulepi64_si128(_mm_and_si128(quotient, low32), barrett, 0x00);
  return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(_mm_xor_si128(x1, product), 4)));
}
#endif

// Besides the standard table, three derived ones let UpdateCrc take four
// bytes per step (still one lookup per byte): entry i of slice table k is
// the register after byte i followed by k + 1 zero bytes.
void BuildCrcTable() {
#if CRC_FOLDING
  Sfx.CrcFolding = HasCarrylessMultiply();
#endif
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

// With carry-less multiplication, all but the last 15 bytes are folded.
// Else four bytes at a time: the register XOR the next four bytes (little-end
// first) is looked up byte by byte in the tables for 3, 2, 1 and 0 bytes
// still to come; the tail goes byte by byte.
void UpdateCrc(const uint8_t* data, uint32_t length) {
  uint32_t reg = Sfx.RunningCrc;
#if CRC_FOLDING
  if (Sfx.CrcFolding && length >= 64) {
    uint32_t folded = length & ~15u;
    reg = FoldCrc(reg, data, folded);
    data += folded;
    length -= folded;
  }
#endif
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
