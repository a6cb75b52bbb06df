// The deflate decoder (see inflate.h).
//
// Format notes (RFC 1951): bits are packed from the least significant bit of
// each byte; Huffman codes are sent most significant bit first, so codes are
// kept bit-reversed in the tables and looked up by the next input bits as
// they come. A stored block may be empty (LEN 0, NLEN 0xFFFF). A distance may
// be shorter than its length: the copy must then run byte by byte upward so
// that it repeats the last `distance` bytes. The final end-of-block code can
// end in the stream's last byte while a lookup still asks for its full width,
// so a well-formed stream may be read up to two bytes past its end
// (look-ahead whose bits are never consumed).
//
// Trust: every input byte is untrusted. Table indices are bounded by the
// widths the builder chose; window positions are kept below 32,768 by
// masking, and in the fast loop by starting a round only with room for all
// it can write; the memory-mode target is bounded by MemoryLimit.
//
// Speed: the decoding loops keep the bit buffer (a machine word), the input
// cursor and the window position in locals (BitStream) and go to
// NextInputByte only when the current chunk is used up. While the chunk
// holds a few words and the window has room, a fast loop refills a word at
// a time, decodes runs of literals without refilling, and checks neither
// end per symbol; matches are copied in groups of eight where the distance
// allows, and runs and short periods by pattern.
#include "archive/inflate.h"

#include "archive/archive_input.h"
#include "base/recovery.h"
#include "base/sfx_state.h"
#include "output/output_writer.h"
#include "util/path_text.h"

#include <cstring>

namespace {

// Order in which the code-length-code lengths arrive (RFC 1951 3.2.7).
const uint16_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Literal/length codes 257..287: base lengths and extra bits (RFC 1951
// 3.2.5). 285 is length 258 with no extra bits; 286 and 287 are invalid,
// marked by the extra-bit count 99.
const uint16_t kLengthBase[31] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27, 31,
                                  35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0,  0};
const uint16_t kLengthExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                   3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};

// Distance codes 0..29: base distances and extra bits (RFC 1951 3.2.5).
const uint16_t kDistanceBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint16_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// kBitMasks[n] selects the low n bits.
const uint32_t kBitMasks[17] = {0,     1,     3,     7,     0xF,    0x1F,   0x3F,   0x7F,  0xFF,
                                0x1FF, 0x3FF, 0x7FF, 0xFFF, 0x1FFF, 0x3FFF, 0x7FFF, 0xFFFF};

// First-level lookup widths asked for: dynamic literal/length and distance
// codes, fixed codes, and the code-length code.
constexpr int kLiteralLookupBits = 9;
constexpr int kDistanceLookupBits = 6;
constexpr int kFixedLiteralLookupBits = 7;
constexpr int kFixedDistanceLookupBits = 5;
constexpr int kCodeLengthLookupBits = 7;

constexpr unsigned kMaxCodeLength = 15;
constexpr unsigned kFixedLiteralCodes = 288;
constexpr unsigned kDistanceCodes = 30;
constexpr unsigned kMaxLiteralCodes = 286;
constexpr unsigned kMaxDynamicLengths = 316;  // 286 + 30, with room for the largest header

// Bytes past the end of the input that look-ahead can ask for without
// consuming them: a fill asks for at most 16 bits.
constexpr UINT kMaxLookAheadBytes = 2;

const char kNotEnoughMemory[] = "not enough memory";

// The bit buffer is a machine word: 32 bits in the stub (i686), 64 on a
// 64-bit host, where one refill then covers a whole length/distance pair.
using BitWord = uintptr_t;
constexpr unsigned kBitWordBits = sizeof(BitWord) * 8;

// Bits that one RefillWord guarantees: the word less one byte (a byte is only
// taken whole, and the word may hold up to 7 bits before the refill).
constexpr unsigned kRefilledBits = kBitWordBits - 8;

// The fast loop's small steps are inlined whatever the optimisation level:
// the stub is built for size, which would leave them as calls and the bit
// stream's local copy in memory instead of registers.
#define AlwaysInline inline __attribute__((always_inline))

// The decoder's working copies of the bit buffer and input position. Loaded
// from SfxState at the start of a routine and stored back when it ends
// normally. Bytes taken here straight from the chunk bypass NextInputByte,
// so InputByte is brought up to date (the last byte taken) whenever control
// goes back to it or to SfxState: a truncated stream then shifts in its
// last byte again, as it would through NextInputByte alone, not a stale one.
//
// Bits above `count` are either zero or, after RefillWord, the very next
// bytes of the chunk in the places they will take; the byte-wise fills OR
// those same bytes in again, so they never disturb the valid bits. Store
// clears them, so that SfxState holds only valid bits.
struct BitStream {
  BitWord buffer;
  unsigned count;
  BYTE* cursor;
  LONG available;
  const BYTE* taken_from;  // where taking bytes straight from the chunk began

  void Load() {
    buffer = Sfx.BitBuffer;
    count = Sfx.BitCount;
    cursor = Sfx.InputCursor;
    available = Sfx.InputAvailable;
    taken_from = cursor;
  }
  void NoteLastByte() const {
    if (cursor != taken_from) Sfx.InputByte = cursor[-1];
  }
  void Store() const {
    NoteLastByte();
    Sfx.BitBuffer = buffer & ((BitWord{1} << count) - 1);  // count < kBitWordBits
    Sfx.BitCount = static_cast<WORD>(count);
    Sfx.InputCursor = cursor;
    Sfx.InputAvailable = available;
  }

  // The next byte once the current chunk is used up: through NextInputByte,
  // which refills the chunk. When the input is exhausted the last byte value
  // is shifted in again; false once more bytes are asked for than look-ahead
  // can explain (the stream was truncated and its missing bits are consumed).
  bool FetchSlow(unsigned* byte) {
    NoteLastByte();
    Sfx.InputCursor = cursor;
    Sfx.InputAvailable = available;
    if (!NextInputByte(&Sfx.InputByte) && ++Sfx.InputOverrun > kMaxLookAheadBytes) return false;
    cursor = Sfx.InputCursor;
    available = Sfx.InputAvailable;
    taken_from = cursor;
    *byte = Sfx.InputByte;
    return true;
  }

  // Tops the buffer up by two bytes at once while the chunk still holds
  // them: the same bytes the fills below would take one at a time, so the
  // decoding loops can mostly skip them. Only bytes that are there are taken
  // (never look-ahead past the end), and at most 31 bits are then held.
  inline void Refill() {
    if (count <= 15 && available >= 2) {
      buffer |= (static_cast<BitWord>(cursor[0]) | static_cast<BitWord>(cursor[1]) << 8) << count;
      cursor += 2;
      available -= 2;
      count += 16;
    }
  }

  // Fills the word with as many whole bytes as fit: afterwards at least
  // kRefilledBits bits are held. One unaligned load instead of a byte loop;
  // the caller assures that the chunk holds a whole word (available >=
  // sizeof(BitWord)). The bytes of the load that do not fit whole are left
  // in the chunk and sit above `count` (see above).
  AlwaysInline void RefillWord() {
    BitWord word;
    memcpy(&word, cursor, sizeof word);
    buffer |= word << count;
    unsigned taken = (kBitWordBits - 1 - count) / 8;
    cursor += taken;
    available -= static_cast<LONG>(taken);
    count += taken * 8;
  }
  // At least n (at most kRefilledBits) bits, in the fast loop, whose caller
  // has made sure that the chunk holds a word for this refill.
  AlwaysInline void EnsureBitsFast(unsigned n) {
    if (count < n) RefillWord();
  }

  // Makes at least n (at most 16) bits available.
  inline bool Fill(unsigned n) {
    while (count < n) {
      unsigned byte;
      if (available > 0) {
        available--;
        byte = *cursor++;
      } else if (!FetchSlow(&byte)) {
        return false;
      }
      buffer |= static_cast<BitWord>(byte) << count;
      count += 8;
    }
    return true;
  }
  AlwaysInline uint32_t Peek(unsigned n) const { return static_cast<uint32_t>(buffer) & kBitMasks[n]; }
  AlwaysInline void Drop(unsigned n) {
    buffer >>= n;
    count -= n;
  }
  // The low n bits, dropped (n at most 16, all held).
  AlwaysInline uint32_t Take(unsigned n) {
    uint32_t bits = Peek(n);
    Drop(n);
    return bits;
  }
};

// Hands the first `count` bytes of the window to the output block, flushing
// each block that fills up. False when a memory-mode target would overflow.
bool FlushWindow(unsigned count) {
  const BYTE* from = Sfx.SlideWindow;
  while (count > 0) {
    unsigned piece = kIoChunkSize - Sfx.BlockFill;
    if (piece > count) piece = count;
    if (Sfx.MemoryMode && piece > static_cast<size_t>(Sfx.MemoryLimit - Sfx.BlockCursor))
      return false;  // the stream is longer than its memory target
    memcpy(Sfx.BlockCursor, from, piece);
    Sfx.BlockCursor += piece;
    Sfx.BlockFill += piece;
    from += piece;
    count -= piece;
    if (Sfx.BlockFill == kIoChunkSize) FlushBlock();
  }
  return true;
}

// Allocates one table of 2^bits entries behind its hidden chain link, and
// hangs it on the chain after *tail.
HuffmanEntry* AllocateTable(unsigned bits, HuffmanEntry** tail, HuffmanEntry* root) {
  HuffmanEntry* block = static_cast<HuffmanEntry*>(LocalAlloc(LPTR, ((1u << bits) + 1) * sizeof(HuffmanEntry)));
  if (!block) {
    FreeHuffmanTable(root);
    FatalError(kNotEnoughMemory);  // no memory for a decoding table
  }
  if (*tail) (*tail)[-1].Next = block + 1;
  *tail = block + 1;
  return block + 1;
}

}  // namespace

void FreeHuffmanTable(HuffmanEntry* table) {
  while (table) {
    HuffmanEntry* next = table[-1].Next;
    LocalFree(table - 1);
    table = next;
  }
}

// Format notes: a code is given by its lengths alone (canonical Huffman):
// codes of one length are consecutive values in symbol order, and shorter
// codes come first. The root table resolves up to `l` bits; longer codes
// continue in sub-tables of at most `l` index bits. Unused code space of the
// longest length is filled with invalid entries so that every index decodes.
int BuildHuffmanTable(const uint16_t* lengths, unsigned n, unsigned s, const uint16_t* base,
                      const uint16_t* extra, HuffmanEntry** table_ret, int* bits_io) {
  unsigned c[kMaxCodeLength + 2] = {};
  for (unsigned i = 0; i < n; i++) c[lengths[i]]++;
  *table_ret = nullptr;
  if (c[0] == n) {  // no codes at all
    *bits_io = 0;
    return 0;
  }
  unsigned lo = 1, g = kMaxCodeLength;
  while (!c[lo]) lo++;
  while (!c[g]) g--;
  int l = *bits_io;
  if (l < static_cast<int>(lo)) l = static_cast<int>(lo);
  if (l > static_cast<int>(g)) l = static_cast<int>(g);
  *bits_io = l;

  // Over-subscription check; the code space left over becomes dummy codes.
  int y = 1 << lo;
  for (unsigned k = lo; k < g; k++) {
    y -= static_cast<int>(c[k]);
    if (y < 0) return kInflateBadBlock;  // more codes of this length than fit
    y <<= 1;
  }
  y -= static_cast<int>(c[g]);
  if (y < 0) return kInflateBadBlock;  // more codes of the longest length than fit
  c[g] += static_cast<unsigned>(y);

  // Symbols sorted by length, then by value.
  unsigned offsets[kMaxCodeLength + 2];
  offsets[1] = 0;
  for (unsigned k = 1; k <= kMaxCodeLength; k++) offsets[k + 1] = offsets[k] + c[k];
  uint16_t sorted[kFixedLiteralCodes + kDistanceCodes];
  unsigned realCodes = 0;
  for (unsigned i = 0; i < n; i++)
    if (lengths[i]) {
      sorted[offsets[lengths[i]]++] = static_cast<uint16_t>(i);
      realCodes++;
    }

  // Walk the codes in canonical order; i is the current code, bit-reversed.
  HuffmanEntry* levelTable[kMaxCodeLength + 1];
  unsigned levelPrefix[kMaxCodeLength + 1];
  HuffmanEntry* tail = nullptr;
  HuffmanEntry* current = nullptr;
  unsigned i = 0, next = 0, currentSize = 0;
  int h = -1, w = -l;
  levelPrefix[0] = 0;
  for (unsigned k = lo; k <= g; k++) {
    for (unsigned a = c[k]; a > 0; a--) {  // a: codes of length k left, this one included
      while (static_cast<int>(k) > w + l) {  // open a deeper table
        h++;
        w += l;
        unsigned z = g - w < static_cast<unsigned>(l) ? g - w : static_cast<unsigned>(l);
        unsigned j = k - w;
        unsigned f = 1u << j;
        if (f > a) {  // not enough codes of length k to fill a j-bit table: widen it
          f -= a;
          unsigned xp = k;
          while (++j < z) {
            f <<= 1;
            if (f <= c[++xp]) break;
            f -= c[xp];
          }
        }
        currentSize = 1u << j;
        current = AllocateTable(j, &tail, *table_ret);
        levelTable[h] = current;
        if (h == 0) {
          *table_ret = current;
        } else {
          levelPrefix[h] = i;
          HuffmanEntry link;
          link.Op = static_cast<uint8_t>(kOpLiteral + j);
          link.Bits = static_cast<uint8_t>(l);
          link.Next = current;
          levelTable[h - 1][i >> (w - l)] = link;
        }
      }
      HuffmanEntry entry;
      entry.Bits = static_cast<uint8_t>(k - w);
      entry.Value = 0;
      if (next >= realCodes) {
        entry.Op = kOpInvalid;  // a dummy code
      } else {
        unsigned v = sorted[next++];
        if (v < s) {
          entry.Op = v < 256 ? kOpLiteral : kOpEndOfBlock;
          entry.Value = static_cast<uint16_t>(v);
        } else {
          entry.Op = static_cast<uint8_t>(extra[v - s]);
          entry.Value = base[v - s];
        }
      }
      for (unsigned j = i >> w; j < currentSize; j += 1u << (k - w)) current[j] = entry;
      unsigned m = 1u << (k - 1);
      while (i & m) {
        i ^= m;
        m >>= 1;
      }
      i ^= m;
      while ((i & ((1u << w) - 1)) != levelPrefix[h]) {  // back out of finished tables
        h--;
        w -= l;
      }
    }
  }
  return (y != 0 && g != 1) ? kInflateBadData : kInflateOk;  // incomplete, unless one 1-bit code
}

namespace {

// Looks up the next code in `table`, following links to sub-tables; null
// for an invalid code or a truncated stream.
inline const HuffmanEntry* DecodeSymbol(BitStream& in, const HuffmanEntry* table, unsigned rootBits) {
  if (!in.Fill(rootBits)) return nullptr;
  const HuffmanEntry* entry = table + in.Peek(rootBits);
  while (entry->Op > kOpLiteral) {
    if (entry->Op == kOpInvalid) return nullptr;  // a code no symbol has
    in.Drop(entry->Bits);
    unsigned n = entry->Op - kOpLiteral;
    if (!in.Fill(n)) return nullptr;
    entry = entry->Next + in.Peek(n);
  }
  in.Drop(entry->Bits);
  return entry;
}

// Moves 8 (4, 2) bytes, all read before any is written, so that a group may
// overlap its own source.
inline void MoveGroup8(BYTE* to, const BYTE* from) {
  uint64_t group;
  memcpy(&group, from, sizeof group);
  memcpy(to, &group, sizeof group);
}
inline void MoveGroup4(BYTE* to, const BYTE* from) {
  uint32_t group;
  memcpy(&group, from, sizeof group);
  memcpy(to, &group, sizeof group);
}
inline void MoveGroup2(BYTE* to, const BYTE* from) {
  uint16_t group;
  memcpy(&group, from, sizeof group);
  memcpy(to, &group, sizeof group);
}

// Copies a match whose source lies 8 or more bytes away from its
// destination, behind or ahead: no group then reads a byte that this copy
// has yet to write, or one it has already changed. The last group of each
// kind may overlap the one before; it writes the same bytes again.
inline void CopyDistantMatch(BYTE* to, const BYTE* from, unsigned length) {
  if (length >= 8) {
    unsigned done = 0;
    for (; length - done > 8; done += 8) MoveGroup8(to + done, from + done);
    MoveGroup8(to + length - 8, from + length - 8);
  } else if (length >= 4) {
    MoveGroup4(to, from);
    MoveGroup4(to + length - 4, from + length - 4);
  } else {  // 3 bytes (2 at the end of a split match; a split piece may even be 1)
    if (length >= 2) MoveGroup2(to + length - 2, from + length - 2);
    to[0] = from[0];
  }
}

// Copies a match whose source and destination both lie inside the window
// (neither crosses its end), giving the bytes the byte-wise upward copy
// gives. No byte past the match's end is written: those bytes are the
// oldest history, which a distance near 32 KiB may still ask for.
//
// Format notes: a distance shorter than the length repeats the last
// `distance` bytes; the output from `distance` bytes back on is then
// periodic, so any multiple of the distance serves as well as a source.
void CopyNearMatch(BYTE* to, const BYTE* from, unsigned length);
inline void CopyMatchInWindow(BYTE* to, const BYTE* from, unsigned length) {
  if (to - from >= 8 || from - to >= 8)
    CopyDistantMatch(to, from, length);
  else
    CopyNearMatch(to, from, length);
}

// The rarer matches, source and destination less than 8 bytes apart.
void CopyNearMatch(BYTE* to, const BYTE* from, unsigned length) {
  if (from >= to) {  // the source lies ahead (a distance just short of 32 KiB), or is the
                     // destination itself (exactly 32 KiB): plain upward bytes
    for (unsigned done = 0; done < length; done++) to[done] = from[done];
    return;
  }
  unsigned distance = static_cast<unsigned>(to - from);
  if (distance == 1) {  // a run of one byte
    memset(to, from[0], length);
    return;
  }
  // Distances 2..7: groups of 8 from `step` back, the smallest multiple of
  // the distance that is at least 8; the first bytes go one at a time until
  // such a source lies wholly in the periodic output.
  unsigned step = distance;
  while (step < 8) step += distance;
  unsigned done = 0;
  for (; done < step - distance && done < length; done++) to[done] = from[done];
  for (; length - done >= 8; done += 8) MoveGroup8(to + done, to + done - step);
  for (; done < length; done++) to[done] = to[done - distance];
}

// Copies `length` bytes from `distance` back in the window, in pieces that
// stop at the window's end, flushing the full window between them.
inline bool CopyMatch(BYTE* window, unsigned* pos_io, unsigned distance, unsigned length) {
  unsigned pos = *pos_io;
  unsigned source = (pos - distance) & 0xFFFF;  // 16-bit arithmetic, as positions are
  while (length > 0) {
    source &= kWindowSize - 1;
    unsigned piece = kWindowSize - (source > pos ? source : pos);
    if (piece > length) piece = length;
    length -= piece;
    CopyMatchInWindow(window + pos, window + source, piece);
    pos += piece;
    source += piece;
    if (pos == kWindowSize) {
      if (!FlushWindow(kWindowSize)) return false;
      pos = 0;
    }
  }
  *pos_io = pos;
  return true;
}

// The longest match and the longest code with its extra bits.
constexpr unsigned kMaxMatchLength = 258;
constexpr unsigned kMaxLengthExtraBits = 5;
constexpr unsigned kMaxDistanceExtraBits = 13;

// The fast loop runs while the chunk holds input for three word refills
// (a length/distance pair needs three on a 32-bit word) and the window has
// room for what one round can write without reaching its end: a run of
// literals (each code takes at least one bit of a word) and a whole match.
constexpr LONG kFastLoopInputBytes = 3 * sizeof(BitWord);
constexpr unsigned kFastLoopWindowLimit = kWindowSize - kMaxMatchLength - kBitWordBits;
static_assert(kRefilledBits >= kMaxCodeLength + kMaxLengthExtraBits, "a length code and its extra bits per refill");
static_assert(kRefilledBits >= kMaxCodeLength && kRefilledBits >= kMaxDistanceExtraBits, "a distance code per refill");

// Looks up the next code in the fast loop, where the bits are known to be
// there (a code, with its sub-table indices, never asks for more than 15);
// null for an invalid code.
AlwaysInline const HuffmanEntry* DecodeSymbolFast(BitStream& in, const HuffmanEntry* table, uint32_t rootMask) {
  const HuffmanEntry* entry = table + (static_cast<uint32_t>(in.buffer) & rootMask);
  while (entry->Op > kOpLiteral) {  // a link, or a code no symbol has
    if (entry->Op == kOpInvalid) return nullptr;
    in.Drop(entry->Bits);
    entry = entry->Next + in.Peek(entry->Op - kOpLiteral);
  }
  in.Drop(entry->Bits);
  return entry;
}

// What the decoding steps below return when they stop before the block's
// end (besides kInflateOk at its end and kInflateBadData).
constexpr int kBlockGoesOn = -1;

// The fast loop: decodes while the chunk holds a few words of input and the
// window has room for what one round writes, so that neither the input's nor
// the window's end is checked per symbol; refills a word at a time and
// copies matches without flushes. Returns kInflateOk at the end of the
// block, kInflateBadData for an invalid code, kBlockGoesOn when the input
// left in the chunk or the room left in the window runs short.
// The bit stream and window position are worked on in local copies, whose
// addresses never escape, so that they can live in registers.
inline int DecodeFast(BitStream* in_io, unsigned* pos_io, const HuffmanEntry* literalTable,
                      const HuffmanEntry* distanceTable, int literalBits, int distanceBits) {
  BitStream in = *in_io;
  unsigned pos = *pos_io;
  BYTE* const window = Sfx.SlideWindow;
  const uint32_t literalMask = kBitMasks[literalBits], distanceMask = kBitMasks[distanceBits];
  int result = kBlockGoesOn;
  while (in.available >= kFastLoopInputBytes && pos < kFastLoopWindowLimit) {
    in.RefillWord();
    // A run of literals, for as long as the bits in hand are sure to hold
    // another code (several per refill on a 64-bit word).
    const HuffmanEntry* entry;
    for (;;) {
      entry = DecodeSymbolFast(in, literalTable, literalMask);
      if (!entry) return kInflateBadData;
      if (entry->Op != kOpLiteral) break;
      window[pos++] = static_cast<BYTE>(entry->Value);
      if (in.count < kMaxCodeLength) break;
    }
    if (entry->Op >= kOpEndOfBlock) {  // the literal that ended the run, or the end of the block
      if (entry->Op == kOpLiteral) continue;
      result = kInflateOk;
      break;
    }
    if (!distanceTable) return kInflateBadData;  // a match in a block without distance codes
    // A 64-bit word holds the rest of the match at once; a 32-bit one is
    // topped up before each field.
    constexpr unsigned kMatchTailBits = kMaxLengthExtraBits + kMaxCodeLength + kMaxDistanceExtraBits;
    constexpr bool kWordHoldsMatchTail = kRefilledBits >= kMatchTailBits;
    in.EnsureBitsFast(kWordHoldsMatchTail ? kMatchTailBits : kMaxLengthExtraBits);
    unsigned length = entry->Value + in.Take(entry->Op);
    if (!kWordHoldsMatchTail) in.EnsureBitsFast(kMaxCodeLength);
    entry = DecodeSymbolFast(in, distanceTable, distanceMask);
    if (!entry) return kInflateBadData;
    if (!kWordHoldsMatchTail) in.EnsureBitsFast(kMaxDistanceExtraBits);
    unsigned distance = entry->Value + in.Take(entry->Op);
    BYTE* to = window + pos;
    if (distance <= pos) {
      CopyMatchInWindow(to, to - distance, length);
    } else {  // the source starts among the older bytes at the window's top and may run on to its start
      unsigned source = pos - distance + kWindowSize;
      unsigned piece = kWindowSize - source < length ? kWindowSize - source : length;
      CopyMatchInWindow(to, window + source, piece);
      if (piece < length) CopyMatchInWindow(to + piece, window, length - piece);
    }
    pos += length;
  }
  *in_io = in;
  *pos_io = pos;
  return result;
}

// The careful path, for one symbol: fetches byte by byte (through
// NextInputByte when the chunk runs out) and flushes the window when it
// fills. Returns kBlockGoesOn after a literal or a match.
int DecodeCarefully(BitStream& in, unsigned* pos_io, const HuffmanEntry* literalTable,
                    const HuffmanEntry* distanceTable, int literalBits, int distanceBits) {
  in.Refill();
  const HuffmanEntry* entry = DecodeSymbol(in, literalTable, literalBits);
  if (!entry) return kInflateBadData;
  if (entry->Op == kOpLiteral) {
    Sfx.SlideWindow[(*pos_io)++] = static_cast<BYTE>(entry->Value);
    if (*pos_io == kWindowSize) {
      if (!FlushWindow(kWindowSize)) return kInflateBadData;
      *pos_io = 0;
    }
    return kBlockGoesOn;
  }
  if (entry->Op == kOpEndOfBlock) return kInflateOk;
  unsigned extraBits = entry->Op;
  if (!in.Fill(extraBits)) return kInflateBadData;
  unsigned length = entry->Value + in.Take(extraBits);
  if (!distanceTable) return kInflateBadData;  // a match in a block without distance codes
  in.Refill();
  entry = DecodeSymbol(in, distanceTable, distanceBits);
  if (!entry) return kInflateBadData;
  extraBits = entry->Op;
  if (!in.Fill(extraBits)) return kInflateBadData;
  unsigned distance = entry->Value + in.Take(extraBits);
  if (!CopyMatch(Sfx.SlideWindow, pos_io, distance, length)) return kInflateBadData;
  return kBlockGoesOn;
}

// Decodes literal/length and distance codes until the end-of-block code:
// in the fast loop for as long as it can, and near the end of a chunk or of
// the window on the careful path, one symbol at a time until the fast loop
// can take over again.
int InflateCodes(const HuffmanEntry* literalTable, const HuffmanEntry* distanceTable, int literalBits,
                 int distanceBits) {
  if (!literalTable) return kInflateBadData;  // lookup in an empty code
  BitStream in;
  in.Load();
  unsigned pos = Sfx.WindowPos;
  int result;
  do {
    result = DecodeFast(&in, &pos, literalTable, distanceTable, literalBits, distanceBits);
    if (result == kBlockGoesOn)
      result = DecodeCarefully(in, &pos, literalTable, distanceTable, literalBits, distanceBits);
  } while (result == kBlockGoesOn);
  if (result != kInflateOk) return result;
  in.Store();
  Sfx.WindowPos = static_cast<WORD>(pos);
  return kInflateOk;
}

// Format notes: a stored block starts at the next byte boundary with LEN and
// its one's complement NLEN; bytes already in the bit buffer are used first.
int InflateStored() {
  BitStream in;
  in.Load();
  in.Drop(in.count & 7);
  if (!in.Fill(16)) return kInflateBadData;
  unsigned length = in.Peek(16);
  in.Drop(16);
  if (!in.Fill(16)) return kInflateBadData;
  if (length != (~in.buffer & 0xFFFF)) return kInflateBadData;  // NLEN is not LEN's complement
  in.Drop(16);
  BYTE* const window = Sfx.SlideWindow;
  unsigned pos = Sfx.WindowPos;
  while (length--) {
    if (!in.Fill(8)) return kInflateBadData;
    window[pos++] = static_cast<BYTE>(in.buffer);
    in.Drop(8);
    if (pos == kWindowSize) {
      if (!FlushWindow(kWindowSize)) return kInflateBadData;
      pos = 0;
    }
  }
  in.Store();
  Sfx.WindowPos = static_cast<WORD>(pos);
  return kInflateOk;
}

// Builds the literal/length and distance tables, decodes with them and
// releases them. An incomplete distance code is accepted only when asked
// (fixed blocks use 30 of the 32 five-bit codes).
int DecodeWithCodes(const uint16_t* literalLengths, unsigned literalCount, const uint16_t* distanceLengths,
                    unsigned distanceCount, int literalBits, int distanceBits, bool acceptIncompleteDistances) {
  HuffmanEntry* literalTable;
  int result = BuildHuffmanTable(literalLengths, literalCount, 257, kLengthBase, kLengthExtra, &literalTable,
                                 &literalBits);
  if (result != kInflateOk) {
    FreeHuffmanTable(literalTable);
    return result;
  }
  HuffmanEntry* distanceTable;
  result = BuildHuffmanTable(distanceLengths, distanceCount, 0, kDistanceBase, kDistanceExtra, &distanceTable,
                             &distanceBits);
  if (result > (acceptIncompleteDistances ? kInflateBadData : kInflateOk)) {
    FreeHuffmanTable(distanceTable);
    FreeHuffmanTable(literalTable);
    return result;
  }
  result = InflateCodes(literalTable, distanceTable, literalBits, distanceBits);
  FreeHuffmanTable(literalTable);
  FreeHuffmanTable(distanceTable);
  return result == kInflateOk ? kInflateOk : kInflateBadData;
}

int InflateFixed() {
  uint16_t lengths[kFixedLiteralCodes + kDistanceCodes];
  unsigned i = 0;
  for (; i < 144; i++) lengths[i] = 8;
  for (; i < 256; i++) lengths[i] = 9;
  for (; i < 280; i++) lengths[i] = 7;
  for (; i < kFixedLiteralCodes; i++) lengths[i] = 8;
  for (unsigned d = 0; d < kDistanceCodes; d++) lengths[kFixedLiteralCodes + d] = 5;
  return DecodeWithCodes(lengths, kFixedLiteralCodes, lengths + kFixedLiteralCodes, kDistanceCodes,
                         kFixedLiteralLookupBits, kFixedDistanceLookupBits, true);
}

// Reads the nl + nd code lengths of a dynamic block with the code-length
// code; repeats may run from the literal/length lengths into the distances.
int ReadCodeLengths(BitStream& in, const HuffmanEntry* table, int tableBits, uint16_t* lengths, unsigned total) {
  unsigned count = 0, previous = 0;
  while (count < total) {
    const HuffmanEntry* entry = DecodeSymbol(in, table, tableBits);
    if (!entry) return kInflateBadData;
    unsigned symbol = entry->Value;
    if (symbol < 16) {
      lengths[count++] = static_cast<uint16_t>(previous = symbol);
      continue;
    }
    unsigned repeat, value;
    if (symbol == 16) {
      if (!in.Fill(2)) return kInflateBadData;
      repeat = 3 + in.Peek(2), value = previous;
      in.Drop(2);
    } else if (symbol == 17) {
      if (!in.Fill(3)) return kInflateBadData;
      repeat = 3 + in.Peek(3), value = previous = 0;
      in.Drop(3);
    } else {
      if (!in.Fill(7)) return kInflateBadData;
      repeat = 11 + in.Peek(7), value = previous = 0;
      in.Drop(7);
    }
    if (count + repeat > total) return kInflateBadData;  // a repeat past the last length
    while (repeat--) lengths[count++] = static_cast<uint16_t>(value);
  }
  return kInflateOk;
}

int InflateDynamic() {
  BitStream in;
  in.Load();
  if (!in.Fill(14)) return kInflateBadData;
  unsigned nl = 257 + in.Peek(5);
  in.Drop(5);
  unsigned nd = 1 + in.Peek(5);
  in.Drop(5);
  unsigned nb = 4 + in.Peek(4);
  in.Drop(4);
  if (nl > kMaxLiteralCodes || nd > kDistanceCodes) return kInflateBadData;  // HLIT or HDIST too large

  uint16_t lengths[kMaxDynamicLengths];
  for (unsigned j = 0; j < 19; j++) lengths[kCodeLengthOrder[j]] = 0;
  for (unsigned j = 0; j < nb; j++) {
    if (!in.Fill(3)) return kInflateBadData;
    lengths[kCodeLengthOrder[j]] = static_cast<uint16_t>(in.Peek(3));
    in.Drop(3);
  }
  HuffmanEntry* codeLengthTable;
  int codeLengthBits = kCodeLengthLookupBits;
  int result = BuildHuffmanTable(lengths, 19, 19, nullptr, nullptr, &codeLengthTable, &codeLengthBits);
  if (result == kInflateOk && !codeLengthTable) result = kInflateBadData;  // no code-length code at all
  if (result == kInflateOk) result = ReadCodeLengths(in, codeLengthTable, codeLengthBits, lengths, nl + nd);
  FreeHuffmanTable(codeLengthTable);
  if (result != kInflateOk) return result;
  in.Store();
  return DecodeWithCodes(lengths, nl, lengths + nl, nd, kLiteralLookupBits, kDistanceLookupBits, false);
}

// Reads a block header and decodes the block; *last_ret gets the final-block bit.
int InflateBlock(int* last_ret) {
  BitStream in;
  in.Load();
  if (!in.Fill(3)) return kInflateBadData;
  *last_ret = static_cast<int>(in.Peek(1));
  in.Drop(1);
  unsigned type = in.Peek(2);
  in.Drop(2);
  in.Store();
  switch (type) {
    case 2: return InflateDynamic();
    case 0: return InflateStored();
    case 1: return InflateFixed();
  }
  return kInflateBadBlock;  // block type 3 is reserved
}

}  // namespace

// An empty fixed block is 10 bits of input, yet builds its two tables: a
// stream of them reads 64 KiB (the input's pump interval) in some 52,000
// blocks and a quarter of a second or more. The messages are therefore also
// looked at every this many blocks, whatever they write.
constexpr unsigned kPumpBlockInterval = 1024;

// Truncated input: look-ahead past the end is allowed (the last byte value
// is shifted in again, as the format's final code may need), but a stream
// that needs more bits than that fails with kInflateBadData, so a cut
// stream cannot run on forever on a repeated byte.
int Inflate() {
  Sfx.BitBuffer = 0;
  Sfx.BitCount = 0;
  Sfx.WindowPos = 0;
  Sfx.InputOverrun = 0;
  int last;
  unsigned blocks = 0;
  do {
    int result = InflateBlock(&last);
    if (result != kInflateOk) return result;
    if (++blocks % kPumpBlockInterval == 0) PumpWhileReading();
  } while (!last);
  return FlushWindow(Sfx.WindowPos) ? kInflateOk : kInflateBadData;
}

int InflateToMemory(const BYTE* input, UINT inputSize, BYTE* target, UINT targetSize) {
  Sfx.InputCursor = const_cast<BYTE*>(input);
  Sfx.InputAvailable = static_cast<LONG>(inputSize);
  Sfx.BlockCursor = target;
  Sfx.MemoryLimit = target + targetSize;
  Sfx.MemoryMode = 1;
  int result = Inflate();
  Sfx.MemoryMode = 0;
  Sfx.InputCursor = nullptr;
  return result;
}
