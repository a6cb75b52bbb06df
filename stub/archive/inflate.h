// The deflate decoder (raw RFC 1951 streams, no zlib or gzip wrapper).
//
// Input comes one byte at a time through NextInputByte; output goes through
// the 32 KiB SlideWindow into the 64 KiB output block, which FlushBlock
// writes out (or, in memory mode, leaves in place as the output runs on
// through memory).
#pragma once

#include "platform/platform.h"

#include <cstdint>

// Result codes of Inflate and its parts.
constexpr int kInflateOk = 0;
constexpr int kInflateBadData = 1;      // invalid code, bad lengths, incomplete code, truncated input
constexpr int kInflateBadBlock = 2;     // block type 3, over-subscribed code

constexpr unsigned kWindowSize = 32768;

// One entry of a decoding table.
//
//   Op      0..13  length or distance base in Value, Op extra bits follow
//           15     end of block
//           16     literal (or code-length symbol) in Value
//           17..31 link: the next Op - 16 bits index the table Next
//           99     invalid code
//   Bits    input bits this entry accounts for at its level
struct HuffmanEntry {
  uint8_t Op;
  uint8_t Bits;
  union {
    uint16_t Value;
    HuffmanEntry* Next;
  };
};

constexpr uint8_t kOpEndOfBlock = 15;
constexpr uint8_t kOpLiteral = 16;
constexpr uint8_t kOpInvalid = 99;

// Decodes one whole stream from the current input into the output.
int Inflate();

// Builds the decoding tables of the code whose n lengths are given (0: no
// code). Symbols below s are literals (Op 16) or end of block (Op 15, from
// 256 on); symbol s + i takes base[i] and extra[i]. *bits_io brings the
// root width wanted and returns the width used. Returns 0, or 1 for an
// incomplete code (other than one 1-bit code), 2 for an over-subscribed one.
int BuildHuffmanTable(const uint16_t* lengths, unsigned n, unsigned s, const uint16_t* base,
                      const uint16_t* extra, HuffmanEntry** table_ret, int* bits_io);

// Releases a chain of tables made by one BuildHuffmanTable (null: nothing).
void FreeHuffmanTable(HuffmanEntry* table);

// Decodes `inputSize` bytes at `input` into `target` in memory mode. Fails
// with kInflateBadData rather than write past targetSize bytes.
int InflateToMemory(const BYTE* input, UINT inputSize, BYTE* target, UINT targetSize);
