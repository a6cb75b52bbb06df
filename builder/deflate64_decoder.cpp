// The Deflate64 decoder (see deflate64_decoder.h).
//
// Format notes: Deflate64 is deflate (RFC 1951) with three changes, all in
// the codes' meanings, none in the block structure:
// - the window is 64 KiB, so distances reach back 65,536 bytes;
// - distance codes 30 and 31, invalid in deflate, mean 32,769 and 49,153
//   with 14 extra bits each (so a dynamic block may declare 32 of them);
// - length code 285 means 3 plus 16 extra bits (3 to 65,538), where deflate
//   gives it the fixed length 258.
// As in deflate, a stored block may be empty, a code with a single symbol
// is allowed to be incomplete, and a match may overlap the bytes it copies,
// which is why copies go byte by byte.
//
// Buffers: the input is read in place; the output grows in *out_ret up to
// `limit` bytes. The whole output is the window, so every distance is
// checked against what has been written.
//
// Trust: the stream is untrusted: every read is checked against the
// input's end, every code against its table, every copy against the output
// written and the limit.
#include "builder/deflate64_decoder.h"

namespace {

constexpr int kMaxCodeBits = 15;          // longest Huffman code in deflate and Deflate64
constexpr int kMaxLitLenSymbols = 286;    // 0-255 literals, 256 end of block, 257-285 lengths
constexpr int kFixedLitLenSymbols = 288;  // the fixed code also assigns 286 and 287 (never valid)
constexpr int kMaxDistSymbols = 32;       // Deflate64 uses all 32; deflate stops at 30
constexpr int kCodeLengthSymbols = 19;
constexpr int kEndOfBlock = 256;

// Lengths, for symbols 257-285: base and extra bits. The last differs from
// deflate (258, 0 extra bits).
constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16};
// Distances, for symbols 0-31: base and extra bits. 30 and 31 are Deflate64's.
constexpr uint16_t kDistBase[kMaxDistSymbols] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                                 49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                                 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr uint8_t kDistExtra[kMaxDistSymbols] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                                 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
static_assert(kDistBase[31] + (1 << kDistExtra[31]) - 1 == 65536, "the 64 KiB window");
static_assert(kLengthBase[28] + (1 << kLengthExtra[28]) - 1 == 65538, "Deflate64's longest match");
// The order in which a dynamic block gives the code length code's lengths.
constexpr uint8_t kCodeLengthOrder[kCodeLengthSymbols] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A canonical Huffman code: how many codes of each length, and the symbols
// ordered by code.
struct Huffman {
  uint16_t count[kMaxCodeBits + 1];
  uint16_t symbol[kFixedLitLenSymbols];
};

struct Decoder {
  const uint8_t* in;
  size_t inSize;
  size_t inAt = 0;
  uint32_t bitBuffer = 0;  // bits not used yet, lowest first; fewer than 8 beyond what Bits asked for
  int bitCount = 0;
  std::vector<uint8_t>* out;
  uint64_t limit;
  const char* error = nullptr;  // why decoding stopped

  bool Fail(const char* why) {
    if (!error) error = why;
    return false;
  }
  // The next `need` bits (0 to 16), or -1 when the input ends first.
  int Bits(int need) {
    while (bitCount < need) {
      if (inAt == inSize) return Fail("is cut short"), -1;
      bitBuffer |= static_cast<uint32_t>(in[inAt++]) << bitCount;
      bitCount += 8;
    }
    int value = static_cast<int>(bitBuffer & ((1u << need) - 1));
    bitBuffer >>= need;
    bitCount -= need;
    return value;
  }
  bool Put(uint8_t byte) {
    if (out->size() >= limit) return Fail("decodes to more bytes than its directory entry says");
    out->push_back(byte);
    return true;
  }
};

// Builds a code from each symbol's code length (0: unused). Returns 0 for a
// complete code, a positive number for an incomplete one, a negative one
// for an over-subscribed one.
int Construct(Huffman* h, const uint16_t* lengths, int symbols) {
  for (int length = 0; length <= kMaxCodeBits; length++) h->count[length] = 0;
  for (int s = 0; s < symbols; s++) h->count[lengths[s]]++;
  if (h->count[0] == symbols) return 0;  // no codes: complete, but nothing decodes
  int left = 1;
  for (int length = 1; length <= kMaxCodeBits; length++) {
    left = (left << 1) - h->count[length];
    if (left < 0) return left;
  }
  uint16_t offsets[kMaxCodeBits + 1];
  offsets[1] = 0;
  for (int length = 1; length < kMaxCodeBits; length++) offsets[length + 1] = offsets[length] + h->count[length];
  for (int s = 0; s < symbols; s++)
    if (lengths[s]) h->symbol[offsets[lengths[s]]++] = static_cast<uint16_t>(s);
  return left;
}

// The next symbol, read a bit at a time; -1 at the input's end or for a
// code the table does not hold (an incomplete code's unused codes).
int Decode(Decoder* d, const Huffman& h) {
  int code = 0, first = 0, index = 0;
  for (int length = 1; length <= kMaxCodeBits; length++) {
    int bit = d->Bits(1);
    if (bit < 0) return -1;
    code |= bit;
    int count = h.count[length];
    if (code - count < first) return h.symbol[index + (code - first)];
    index += count;
    first = (first + count) << 1;
    code <<= 1;
  }
  return d->Fail("holds a code its table does not define"), -1;
}

// A stored block: the rest of the current byte skipped, LEN and its one's
// complement NLEN, then LEN bytes.
bool Stored(Decoder* d) {
  d->bitBuffer = 0;
  d->bitCount = 0;
  if (d->inSize - d->inAt < 4) return d->Fail("is cut short");
  unsigned length = d->in[d->inAt] | d->in[d->inAt + 1] << 8;
  unsigned check = d->in[d->inAt + 2] | d->in[d->inAt + 3] << 8;
  d->inAt += 4;
  if (length != (~check & 0xFFFF)) return d->Fail("holds a stored block whose length check fails");
  if (d->inSize - d->inAt < length) return d->Fail("is cut short");
  for (unsigned i = 0; i < length; i++)
    if (!d->Put(d->in[d->inAt++])) return false;
  return true;
}

// The symbols of one Huffman-coded block, up to its end-of-block symbol.
bool Codes(Decoder* d, const Huffman& litLen, const Huffman& dist) {
  for (;;) {
    int symbol = Decode(d, litLen);
    if (symbol < 0) return false;
    if (symbol == kEndOfBlock) return true;
    if (symbol < kEndOfBlock) {
      if (!d->Put(static_cast<uint8_t>(symbol))) return false;
      continue;
    }
    symbol -= kEndOfBlock + 1;
    if (symbol >= 29) return d->Fail("holds an invalid length symbol");  // 286, 287 of the fixed code
    int extra = d->Bits(kLengthExtra[symbol]);
    if (extra < 0) return false;
    size_t length = kLengthBase[symbol] + static_cast<size_t>(extra);
    symbol = Decode(d, dist);
    if (symbol < 0) return false;
    extra = d->Bits(kDistExtra[symbol]);
    if (extra < 0) return false;
    size_t distance = kDistBase[symbol] + static_cast<size_t>(extra);
    if (distance > d->out->size()) return d->Fail("refers back before its start");
    for (size_t i = 0; i < length; i++)
      if (!d->Put((*d->out)[d->out->size() - distance])) return false;
  }
}

// A block with the fixed codes, the same as deflate's but for the distance
// codes 30 and 31, which Deflate64 may use.
bool Fixed(Decoder* d) {
  static Huffman litLen, dist;
  static bool built = false;
  if (!built) {
    uint16_t lengths[kFixedLitLenSymbols];
    for (int s = 0; s < kFixedLitLenSymbols; s++) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    Construct(&litLen, lengths, kFixedLitLenSymbols);
    for (int s = 0; s < kMaxDistSymbols; s++) lengths[s] = 5;
    Construct(&dist, lengths, kMaxDistSymbols);
    built = true;
  }
  return Codes(d, litLen, dist);
}

// A block with its own codes: their counts, the code length code's lengths,
// then the run-length-coded lengths of both codes.
bool Dynamic(Decoder* d) {
  int litLenCount = d->Bits(5), distCount = d->Bits(5), lengthCount = d->Bits(4);
  if (litLenCount < 0 || distCount < 0 || lengthCount < 0) return false;
  litLenCount += 257;
  distCount += 1;
  lengthCount += 4;
  if (litLenCount > kMaxLitLenSymbols) return d->Fail("declares too many length codes");
  uint16_t lengths[kMaxLitLenSymbols + kMaxDistSymbols] = {};
  for (int i = 0; i < lengthCount; i++) {
    int length = d->Bits(3);
    if (length < 0) return false;
    lengths[kCodeLengthOrder[i]] = static_cast<uint16_t>(length);
  }
  Huffman lengthCode, litLen, dist;
  if (Construct(&lengthCode, lengths, kCodeLengthSymbols) != 0) return d->Fail("holds an incomplete code length code");
  for (int at = 0; at < litLenCount + distCount;) {
    int symbol = Decode(d, lengthCode);
    if (symbol < 0) return false;
    if (symbol < 16) {
      lengths[at++] = static_cast<uint16_t>(symbol);
      continue;
    }
    uint16_t repeated = 0;
    int times;
    if (symbol == 16) {
      if (at == 0) return d->Fail("repeats a length before the first");
      repeated = lengths[at - 1];
      times = d->Bits(2), times = times < 0 ? -1 : 3 + times;
    } else if (symbol == 17) {
      times = d->Bits(3), times = times < 0 ? -1 : 3 + times;
    } else {
      times = d->Bits(7), times = times < 0 ? -1 : 11 + times;
    }
    if (times < 0) return false;
    if (at + times > litLenCount + distCount) return d->Fail("repeats lengths past the last code");
    while (times--) lengths[at++] = repeated;
  }
  if (lengths[kEndOfBlock] == 0) return d->Fail("has a block without an end-of-block code");
  // An incomplete code is allowed only when it is a single one-bit code.
  int left = Construct(&litLen, lengths, litLenCount);
  if (left < 0 || (left > 0 && litLenCount != litLen.count[0] + litLen.count[1]))
    return d->Fail("holds an incomplete or over-subscribed code");
  left = Construct(&dist, lengths + litLenCount, distCount);
  if (left < 0 || (left > 0 && distCount != dist.count[0] + dist.count[1]))
    return d->Fail("holds an incomplete or over-subscribed code");
  return Codes(d, litLen, dist);
}

}  // namespace

bool Inflate64(const uint8_t* data, size_t size, uint64_t limit, std::vector<uint8_t>* out_ret, std::string* error_ret) {
  out_ret->clear();
  Decoder d{data, size, 0, 0, 0, out_ret, limit};
  int last;
  do {
    last = d.Bits(1);
    int type = d.Bits(2);
    if (last < 0 || type < 0) break;
    bool ok = type == 0 ? Stored(&d) : type == 1 ? Fixed(&d) : type == 2 ? Dynamic(&d) : d.Fail("holds an invalid block type");
    if (!ok) break;
  } while (!last);
  if (d.error) {
    *error_ret = d.error;
    return false;
  }
  return true;
}
