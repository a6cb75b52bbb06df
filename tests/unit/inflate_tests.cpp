// The deflate decoder: data compressed by zlib at every level and strategy
// decodes to exactly the original bytes; hand-built streams, written bit by
// bit with every field annotated, pin down the edge cases of the format and
// the decoder's result for each (each also run through zlib as a control);
// the table builder on small codes; a long stream decoded to a file through
// the output block, as an entry is.
#include "archive/inflate.h"
#include "base/sfx_state.h"
#include "output/output_writer.h"
#include "stub_fixture.h"
#include "util/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

// Raw deflate (no zlib header) of `data` with the given level and strategy.
std::vector<uint8_t> ZlibDeflate(const std::vector<uint8_t>& data, int level, int strategy) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 9, strategy), Z_OK);
  std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(data.size())) + 16);
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// The decoder's working buffers, as the start-up sequence allocates them.
class InflateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetStubAndHost();
    window_.assign(kSlideWindowAlloc, 0);
    Sfx.SlideWindow = window_.data();
    Sfx.InputByte = 0;  // not the last byte of the message table decoded at start-up
  }

  // Decodes `stream` in memory mode into a target of `targetSize` bytes.
  int Decode(const std::vector<uint8_t>& stream, size_t targetSize, std::vector<uint8_t>* out) {
    out->assign(targetSize, 0);
    int result = InflateToMemory(stream.data(), static_cast<UINT>(stream.size()), out->data(),
                                 static_cast<UINT>(targetSize));
    out->resize(static_cast<size_t>(Sfx.BlockCursor - out->data()));
    return result;
  }

  std::vector<uint8_t> window_;
};

std::vector<uint8_t> MixedData(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> data;
  const std::string words[] = {"deflate ", "window ", "literal ", "distance ", "\n", "0123456789"};
  while (data.size() < size) {
    switch (random() % 4) {
      case 0: {
        const std::string& w = words[random() % 6];
        data.insert(data.end(), w.begin(), w.end());
        break;
      }
      case 1: data.push_back(static_cast<uint8_t>(random())); break;
      case 2: data.insert(data.end(), random() % 300, static_cast<uint8_t>(random())); break;
      default:
        if (data.size() > 10) {
          size_t from = random() % data.size(), n = random() % 200;
          for (size_t i = 0; i < n; i++) data.push_back(data[from + i % (data.size() - from)]);
        }
    }
  }
  data.resize(size);
  return data;
}

TEST_F(InflateTest, MatchesZlibAtEveryLevelAndStrategy) {
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  for (size_t size : {size_t{0}, size_t{1}, size_t{32768}, size_t{100000}}) {
    std::vector<uint8_t> data = MixedData(size, static_cast<unsigned>(size + 1));
    for (int level = 0; level <= 9; level++)
      for (int strategy : strategies) {
        std::vector<uint8_t> out;
        ASSERT_EQ(Decode(ZlibDeflate(data, level, strategy), size + 1, &out), kInflateOk)
            << "size " << size << " level " << level << " strategy " << strategy;
        ASSERT_EQ(out, data) << "size " << size << " level " << level << " strategy " << strategy;
      }
  }
}

TEST_F(InflateTest, MemoryTargetIsNeverOverrun) {
  std::vector<uint8_t> data(5000, 'x');
  std::vector<uint8_t> out;
  EXPECT_EQ(Decode(ZlibDeflate(data, 9, Z_DEFAULT_STRATEGY), 4999, &out), kInflateBadData);
  EXPECT_LE(out.size(), 4999u);
}

// ---- hand-built streams ------------------------------------------------------

// Writes a deflate stream bit by bit: header fields and extra bits go least
// significant bit first, Huffman codes most significant bit first (RFC 1951
// 3.1.1).
class BitWriter {
 public:
  // The low n bits of value, least significant first.
  BitWriter& Bits(uint32_t value, unsigned n) {
    for (unsigned i = 0; i < n; i++) PutBit((value >> i) & 1);
    return *this;
  }
  // A Huffman code of n bits, most significant first.
  BitWriter& Code(uint32_t code, unsigned n) {
    for (unsigned i = n; i-- > 0;) PutBit((code >> i) & 1);
    return *this;
  }
  // Zero bits up to the next byte boundary.
  BitWriter& AlignToByte() {
    while (bitLength_ % 8) PutBit(0);
    return *this;
  }
  BitWriter& Bytes(const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) Bits(b, 8);
    return *this;
  }
  size_t BitLength() const { return bitLength_; }
  // The stream so far, its last byte padded with zero bits.
  const std::vector<uint8_t>& Stream() const { return bytes_; }

 private:
  void PutBit(unsigned bit) {
    if (bitLength_ % 8 == 0) bytes_.push_back(0);
    bytes_.back() |= static_cast<uint8_t>(bit << (bitLength_ % 8));
    bitLength_++;
  }
  std::vector<uint8_t> bytes_;
  size_t bitLength_ = 0;
};

// A canonical Huffman code given by its code lengths (RFC 1951 3.2.2): codes
// of one length are consecutive in symbol order, shorter codes first.
struct PrefixCode {
  std::vector<unsigned> lengths, codes;

  explicit PrefixCode(std::vector<unsigned> codeLengths) : lengths(std::move(codeLengths)), codes(lengths.size()) {
    unsigned count[16] = {}, next[16] = {};
    for (unsigned length : lengths) count[length]++;
    count[0] = 0;
    for (unsigned bits = 1, code = 0; bits < 16; bits++) next[bits] = code = (code + count[bits - 1]) << 1;
    for (size_t symbol = 0; symbol < lengths.size(); symbol++)
      if (lengths[symbol]) codes[symbol] = next[lengths[symbol]]++;
  }
  void Put(BitWriter& w, unsigned symbol) const {
    EXPECT_NE(lengths.at(symbol), 0u) << "symbol " << symbol << " has no code";
    w.Code(codes[symbol], lengths[symbol]);
  }
};

// n code lengths, all 0 but the (symbol, length) pairs given.
std::vector<unsigned> Lengths(size_t n, std::initializer_list<std::pair<unsigned, unsigned>> given) {
  std::vector<unsigned> lengths(n, 0);
  for (auto [symbol, length] : given) lengths.at(symbol) = length;
  return lengths;
}

// The fixed codes (RFC 1951 3.2.6): literal/length 0..287, and all 32
// five-bit distance codes, 30 and 31 included, so that tests can send them.
PrefixCode FixedLiteralCode() {
  std::vector<unsigned> lengths(288);
  for (unsigned i = 0; i < 288; i++) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
  return PrefixCode(lengths);
}
PrefixCode FixedDistanceCode() { return PrefixCode(std::vector<unsigned>(32, 5)); }

// Length and distance bases and extra bits (RFC 1951 3.2.5), the test's own
// copy: codes 257..285 and distance codes 0..29.
const unsigned kRfcLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                     31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const unsigned kRfcLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const unsigned kRfcDistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,   17,    25,
                                       33,   49,   65,   97,   129,  193,  257,  385,  513,   769,
                                       1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};

// A match: the length code and its extra bits, then the distance code and its
// extra bits.
void PutMatch(BitWriter& w, const PrefixCode& literals, const PrefixCode& distances, unsigned length,
              unsigned distance) {
  unsigned l = 28;
  while (length < kRfcLengthBase[l]) l--;
  literals.Put(w, 257 + l);
  w.Bits(length - kRfcLengthBase[l], kRfcLengthExtra[l]);
  unsigned d = 29;
  while (distance < kRfcDistanceBase[d]) d--;
  distances.Put(w, d);
  w.Bits(distance - kRfcDistanceBase[d], d < 2 ? 0 : d / 2 - 1);
}

// One symbol of the code-length code and the value of its extra bits.
struct LengthSymbol {
  unsigned symbol, extra;
};

// Code lengths as code-length symbols: runs of three or more zeros as 17 or
// 18, everything else one by one.
std::vector<LengthSymbol> RunLengths(const std::vector<unsigned>& lengths) {
  std::vector<LengthSymbol> symbols;
  for (size_t i = 0; i < lengths.size();) {
    size_t run = 0;
    while (i + run < lengths.size() && lengths[i + run] == 0 && run < 138) run++;
    if (run >= 11) {
      symbols.push_back({18, static_cast<unsigned>(run - 11)});
      i += run;
    } else if (run >= 3) {
      symbols.push_back({17, static_cast<unsigned>(run - 3)});
      i += run;
    } else {
      symbols.push_back({lengths[i], 0});
      i++;
    }
  }
  return symbols;
}

// A complete code-length code with a code for each of the 19 symbols:
// 0..12 four bits, 13..18 five bits (13/16 + 6/32 = 1).
std::vector<unsigned> AllLengthSymbols() {
  std::vector<unsigned> lengths(19, 4);
  for (unsigned i = 13; i < 19; i++) lengths[i] = 5;
  return lengths;
}

const unsigned kRfcCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Writes a dynamic block header with all 19 code-length-code lengths
// (HCLEN=15) and the code lengths as `symbols`.
void DynamicHeader(BitWriter& w, unsigned final, unsigned nl, unsigned nd, const std::vector<unsigned>& lengthCode,
                   const std::vector<LengthSymbol>& symbols) {
  w.Bits(final, 1);     // BFINAL
  w.Bits(2, 2);         // BTYPE=10 (dynamic)
  w.Bits(nl - 257, 5);  // HLIT
  w.Bits(nd - 1, 5);    // HDIST
  w.Bits(19 - 4, 4);    // HCLEN=15: all 19 code-length-code lengths follow
  for (unsigned symbol : kRfcCodeLengthOrder) w.Bits(lengthCode[symbol], 3);
  PrefixCode code(lengthCode);
  for (auto [symbol, extra] : symbols) {
    code.Put(w, symbol);
    if (symbol == 16) w.Bits(extra, 2);  // repeat the previous length 3..6 times
    if (symbol == 17) w.Bits(extra, 3);  // 3..10 zeros
    if (symbol == 18) w.Bits(extra, 7);  // 11..138 zeros
  }
}

// A dynamic block header for the given literal/length and distance lengths
// (HLIT and HDIST from their counts), sent with AllLengthSymbols.
void DynamicHeader(BitWriter& w, unsigned final, const std::vector<unsigned>& literals,
                   const std::vector<unsigned>& distances) {
  std::vector<unsigned> all = literals;
  all.insert(all.end(), distances.begin(), distances.end());
  DynamicHeader(w, final, static_cast<unsigned>(literals.size()), static_cast<unsigned>(distances.size()),
                AllLengthSymbols(), RunLengths(all));
}

std::vector<uint8_t> Text(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// Bytes that show where they came from: position i holds i * 7 mod 251.
std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; i++) bytes[i] = static_cast<uint8_t>(i * 7 % 251);
  return bytes;
}

// The reference for a match: appends `length` bytes copied from `distance`
// back, one at a time.
void AppendMatch(std::vector<uint8_t>& out, unsigned length, unsigned distance) {
  for (unsigned i = 0; i < length; i++) out.push_back(out[out.size() - distance]);
}

// A hand-built stream, the result the decoder must give, and for good
// streams the output.
struct StreamCase {
  const char* name;
  std::function<void(BitWriter&)> write;
  int result;
  std::vector<uint8_t> output;
  bool zlibAgrees = true;  // false where this decoder's rule differs from zlib's
};

// Literal/length code of the small dynamic blocks: 'a' 1 bit (0), end of
// block 2 bits (10), length 3 (code 257) 2 bits (11).
std::vector<unsigned> SmallLiterals(unsigned nl = 258) { return Lengths(nl, {{'a', 1}, {256, 2}, {257, 2}}); }

std::vector<StreamCase> StreamCases() {
  static const PrefixCode fixedLit = FixedLiteralCode(), fixedDist = FixedDistanceCode();
  std::vector<StreamCase> cases;

  // ---- stored blocks and block headers
  cases.push_back({"stored block, LEN 0 and NLEN 0xFFFF: nothing", [](BitWriter& w) {
                     w.Bits(1, 1);        // BFINAL=1
                     w.Bits(0, 2);        // BTYPE=00 (stored)
                     w.AlignToByte();     // to the byte boundary
                     w.Bits(0x0000, 16);  // LEN=0
                     w.Bits(0xFFFF, 16);  // NLEN=0xFFFF
                   }, kInflateOk, {}});
  cases.push_back({"stored block, NLEN not the complement of LEN", [](BitWriter& w) {
                     w.Bits(1, 1).Bits(0, 2).AlignToByte();  // BFINAL=1, BTYPE=00 (stored)
                     w.Bits(0x0000, 16);                     // LEN=0
                     w.Bits(0xFFFE, 16);                     // NLEN=0xFFFE: one bit wrong
                   }, kInflateBadData, {}});
  cases.push_back({"stored block after a fixed block: alignment uses the bits already read",
                   [&](BitWriter& w) {
                     w.Bits(0, 1).Bits(1, 2);  // BFINAL=0, BTYPE=01 (fixed)
                     fixedLit.Put(w, 'x');     // literal 'x'
                     fixedLit.Put(w, 256);     // end of block (18 bits so far)
                     w.Bits(1, 1).Bits(0, 2);  // BFINAL=1, BTYPE=00 (stored)
                     w.AlignToByte();          // 3 bits of padding
                     w.Bits(3, 16).Bits(0xFFFC, 16);  // LEN=3, NLEN=0xFFFC
                     w.Bytes(Text("abc"));
                   }, kInflateOk, Text("xabc")});
  cases.push_back({"block type 3", [](BitWriter& w) {
                     w.Bits(1, 1);  // BFINAL=1
                     w.Bits(3, 2);  // BTYPE=11 (reserved)
                   }, kInflateBadBlock, {}});
  // With no byte at all, look-ahead shifts in InputByte as an earlier stream
  // left it; the fixture clears it, so this reads as a stored block whose
  // NLEN (0) is wrong.
  cases.push_back({"empty input", [](BitWriter&) {}, kInflateBadData, {}});
  cases.push_back({"truncated stored block: LEN 100, 10 bytes sent", [](BitWriter& w) {
                     w.Bits(1, 1).Bits(0, 2).AlignToByte();  // BFINAL=1, BTYPE=00 (stored)
                     w.Bits(100, 16).Bits(0xFF9B, 16);       // LEN=100, NLEN=0xFF9B
                     w.Bytes(Text("0123456789"));            // the stream ends here
                   }, kInflateBadData, {}});
  cases.push_back({"no final block: the input ends after a non-final empty block", [](BitWriter& w) {
                     w.Bits(0, 1).Bits(0, 2).AlignToByte();  // BFINAL=0, BTYPE=00 (stored)
                     w.Bits(0, 16).Bits(0xFFFF, 16);         // LEN=0, NLEN=0xFFFF
                     // the last byte, 0xFF, shifted in again: BFINAL=1, BTYPE=11
                   }, kInflateBadBlock, {}});
  cases.push_back({"fixed block cut inside a code: the last byte comes again, not zeros", [](BitWriter& w) {
                     w.Bits(1, 1).Bits(1, 2);  // BFINAL=1, BTYPE=01 (fixed)
                     FixedLiteralCode().Put(w, 'a');
                     w.Code(0x1F, 5);  // the first 5 of the 9 bits of literal 255; the stream ends
                     // 0xF8 repeated never holds the 7 zero bits of end of block;
                     // zero bytes would end the block at once
                   }, kInflateBadData, {}});

  // ---- dynamic block headers
  auto headerFields = [](unsigned hlit, unsigned hdist) {
    return [=](BitWriter& w) {
      w.Bits(1, 1).Bits(2, 2);  // BFINAL=1, BTYPE=10 (dynamic)
      w.Bits(hlit, 5);          // HLIT
      w.Bits(hdist, 5);         // HDIST
      w.Bits(15, 4);            // HCLEN=15; nothing more is read
      w.Bits(0, 16);
    };
  };
  cases.push_back({"HLIT=30 (nl 287)", headerFields(30, 0), kInflateBadData, {}});
  cases.push_back({"HLIT=31 (nl 288)", headerFields(31, 0), kInflateBadData, {}});
  cases.push_back({"HDIST=30 (nd 31)", headerFields(0, 30), kInflateBadData, {}});
  cases.push_back({"HDIST=31 (nd 32)", headerFields(0, 31), kInflateBadData, {}});
  cases.push_back({"HLIT=29 and HDIST=29, the largest counts", [](BitWriter& w) {
                     // literal/length 'a' 1 bit, end of block 2, length 258 (285) 2
                     std::vector<unsigned> lit = Lengths(286, {{'a', 1}, {256, 2}, {285, 2}});
                     // distance codes: 0 and 1 four bits, 2..29 five bits (2/16 + 28/32 = 1)
                     std::vector<unsigned> dist(30, 5);
                     dist[0] = dist[1] = 4;
                     DynamicHeader(w, 1, lit, dist);
                     PrefixCode literals(lit), distances(dist);
                     literals.Put(w, 'a');
                     PutMatch(w, literals, distances, 258, 1);
                     literals.Put(w, 256);
                   }, kInflateOk, std::vector<uint8_t>(259, 'a')});
  cases.push_back({"repeat code 16 first: repeats the length 0", [](BitWriter& w) {
                     std::vector<unsigned> lit = Lengths(257, {{'a', 1}, {'b', 2}, {256, 2}});
                     // 16 +0: lengths 0..2 are 0; a decoder that repeats anything
                     // else over-subscribes the code
                     std::vector<LengthSymbol> symbols = {{16, 0}};
                     std::vector<unsigned> rest(lit.begin() + 3, lit.end());
                     rest.push_back(0);  // the one distance length: no distance code
                     for (LengthSymbol s : RunLengths(rest)) symbols.push_back(s);
                     DynamicHeader(w, 1, 257, 1, AllLengthSymbols(), symbols);
                     PrefixCode literals(lit);
                     literals.Put(w, 'a');
                     literals.Put(w, 'b');
                     literals.Put(w, 256);
                   }, kInflateOk, Text("ab"), /*zlibAgrees=*/false});  // zlib refuses a repeat with no previous length
  cases.push_back({"repeat code 18 past nl + nd", [](BitWriter& w) {
                     std::vector<LengthSymbol> symbols = RunLengths(SmallLiterals());
                     symbols.push_back({18, 0});  // 11 zeros where 1 distance length is left
                     DynamicHeader(w, 1, 258, 1, AllLengthSymbols(), symbols);
                   }, kInflateBadData, {}});
  cases.push_back({"code-length code over-subscribed", [](BitWriter& w) {
                     // all 19 symbols 4 bits: 19/16
                     DynamicHeader(w, 1, 258, 1, std::vector<unsigned>(19, 4), RunLengths(SmallLiterals()));
                   }, kInflateBadBlock, {}});
  cases.push_back({"code-length code incomplete", [](BitWriter& w) {
                     // symbols 0, 1 and 2 two bits each: 3/4
                     DynamicHeader(w, 1, 257, 1, Lengths(19, {{0, 2}, {1, 2}, {2, 2}}), {{1, 0}});
                   }, kInflateBadData, {}});
  cases.push_back({"code-length code empty", [](BitWriter& w) {
                     DynamicHeader(w, 1, 257, 1, std::vector<unsigned>(19, 0), {});
                     w.Bits(0, 16);
                   }, kInflateBadData, {}});

  // ---- dynamic literal/length and distance codes
  cases.push_back({"distance code of one 1-bit code", [](BitWriter& w) {
                     DynamicHeader(w, 1, SmallLiterals(), {1});  // distance code 0: 1 bit (0)
                     PrefixCode literals(SmallLiterals()), distances({1});
                     literals.Put(w, 'a');
                     PutMatch(w, literals, distances, 3, 1);  // length 3 (257), distance 1 (code 0)
                     literals.Put(w, 256);
                   }, kInflateOk, Text("aaaa")});
  cases.push_back({"distance code of one 1-bit code, its spare pattern sent", [](BitWriter& w) {
                     DynamicHeader(w, 1, SmallLiterals(), {1});
                     PrefixCode literals(SmallLiterals());
                     literals.Put(w, 'a');
                     literals.Put(w, 257);  // length 3
                     w.Code(1, 1);          // distance: the 1-bit pattern no code has
                     literals.Put(w, 256);
                   }, kInflateBadData, {}});
  cases.push_back({"literal/length code incomplete", [](BitWriter& w) {
                     DynamicHeader(w, 1, Lengths(257, {{'a', 1}, {256, 2}}), {1});  // 3/4 used
                     w.Bits(0, 16);
                   }, kInflateBadData, {}});
  cases.push_back({"literal/length code over-subscribed", [](BitWriter& w) {
                     DynamicHeader(w, 1, Lengths(257, {{'a', 1}, {'b', 1}, {256, 1}}), {1});
                     w.Bits(0, 16);
                   }, kInflateBadBlock, {}});
  cases.push_back({"literal/length code empty", [](BitWriter& w) {
                     DynamicHeader(w, 1, std::vector<unsigned>(257, 0), {1});
                     w.Bits(0, 16);
                   }, kInflateBadData, {}});
  cases.push_back({"distance code incomplete", [](BitWriter& w) {
                     DynamicHeader(w, 1, SmallLiterals(), {2, 2});  // 1/2 used
                     w.Bits(0, 16);
                   }, kInflateBadData, {}});
  cases.push_back({"distance code of one 2-bit code", [](BitWriter& w) {
                     DynamicHeader(w, 1, SmallLiterals(), {2});
                     w.Bits(0, 16);
                   }, kInflateBadData, {}});
  cases.push_back({"distance code over-subscribed", [](BitWriter& w) {
                     DynamicHeader(w, 1, SmallLiterals(), {1, 1, 1});
                     w.Bits(0, 16);
                   }, kInflateBadBlock, {}});
  cases.push_back({"empty distance code, literals only; a zero run crosses into the distance lengths",
                   [](BitWriter& w) {
                     // nl 286: lengths 257..285 and the 30 distance lengths are one run of zeros
                     std::vector<unsigned> lit = Lengths(286, {{'a', 1}, {256, 1}});
                     DynamicHeader(w, 1, lit, std::vector<unsigned>(30, 0));
                     PrefixCode literals(lit);
                     literals.Put(w, 'a');
                     literals.Put(w, 'a');
                     literals.Put(w, 256);
                   }, kInflateOk, Text("aa")});
  cases.push_back({"length code in a block whose distance code is empty", [](BitWriter& w) {
                     std::vector<unsigned> lit = Lengths(258, {{'a', 2}, {256, 2}, {257, 1}});
                     DynamicHeader(w, 1, lit, {0});
                     PrefixCode literals(lit);
                     literals.Put(w, 'a');
                     literals.Put(w, 257);  // length 3, but no distance code to follow
                     w.Bits(0, 16);
                   }, kInflateBadData, {}});
  {
    // Literals 0..253, end of block and length 3 all 8 bits: the full 8-bit
    // code space, so the first level is 8 bits wide, not 9.
    std::vector<uint8_t> out;
    for (unsigned i = 0; i < 254; i++) out.push_back(static_cast<uint8_t>(i));
    AppendMatch(out, 3, 1);
    cases.push_back({"longest literal/length code 8 bits", [](BitWriter& w) {
                       std::vector<unsigned> lit(258, 8);
                       lit[254] = lit[255] = 0;
                       DynamicHeader(w, 1, lit, {1});
                       PrefixCode literals(lit), distances({1});
                       for (unsigned i = 0; i < 254; i++) literals.Put(w, i);
                       PutMatch(w, literals, distances, 3, 1);
                       literals.Put(w, 256);
                     }, kInflateOk, out});
  }

  // ---- fixed blocks
  auto fixedBlock = [&](std::function<void(BitWriter&)> body) {
    return [=](BitWriter& w) {
      w.Bits(1, 1).Bits(1, 2);  // BFINAL=1, BTYPE=01 (fixed)
      fixedLit.Put(w, 'a');     // literal 'a'
      body(w);
      fixedLit.Put(w, 256);  // end of block
    };
  };
  cases.push_back({"fixed literal/length code 286", fixedBlock([&](BitWriter& w) { fixedLit.Put(w, 286); }),
                   kInflateBadData, {}});
  cases.push_back({"fixed literal/length code 287", fixedBlock([&](BitWriter& w) { fixedLit.Put(w, 287); }),
                   kInflateBadData, {}});
  cases.push_back({"fixed distance code 30", fixedBlock([&](BitWriter& w) {
                     fixedLit.Put(w, 257);   // length 3
                     fixedDist.Put(w, 30);   // distance code 30
                   }), kInflateBadData, {}});
  cases.push_back({"fixed distance code 31", fixedBlock([&](BitWriter& w) {
                     fixedLit.Put(w, 257);   // length 3
                     fixedDist.Put(w, 31);   // distance code 31
                   }), kInflateBadData, {}});
  cases.push_back({"distance 1, length 258: the previous byte 258 times", fixedBlock([&](BitWriter& w) {
                     fixedLit.Put(w, 285);  // length 258, no extra bits
                     fixedDist.Put(w, 0);   // distance 1
                   }), kInflateOk, std::vector<uint8_t>(259, 'a')});
  cases.push_back({"overlapping match: distance 2, length 9", fixedBlock([&](BitWriter& w) {
                     fixedLit.Put(w, 'b');
                     PutMatch(w, fixedLit, fixedDist, 9, 2);
                   }), kInflateOk, Text("abababababa")});

  // ---- the window's end
  {
    std::vector<uint8_t> out = Pattern(32760);
    AppendMatch(out, 20, 100);  // 8 bytes before the window's end, 12 after
    AppendMatch(out, 40, 50);   // the source runs over the window's end
    AppendMatch(out, 5, 32768);  // the farthest distance
    cases.push_back({"matches across the window's end", [&](BitWriter& w) {
                       w.Bits(0, 1).Bits(0, 2).AlignToByte();  // BFINAL=0, BTYPE=00 (stored)
                       w.Bits(32760, 16).Bits(~32760u & 0xFFFF, 16);  // LEN=32760, NLEN
                       w.Bytes(Pattern(32760));
                       w.Bits(1, 1).Bits(1, 2);  // BFINAL=1, BTYPE=01 (fixed)
                       PutMatch(w, fixedLit, fixedDist, 20, 100);
                       PutMatch(w, fixedLit, fixedDist, 40, 50);
                       PutMatch(w, fixedLit, fixedDist, 5, 32768);
                       fixedLit.Put(w, 256);  // end of block
                     }, kInflateOk, out});
  }
  cases.push_back({"exactly 32,768 bytes", [](BitWriter& w) {
                     w.Bits(1, 1).Bits(0, 2).AlignToByte();  // BFINAL=1, BTYPE=00 (stored)
                     w.Bits(32768, 16).Bits(32767, 16);      // LEN=0x8000, NLEN=0x7FFF
                     w.Bytes(Pattern(32768));
                   }, kInflateOk, Pattern(32768)});
  return cases;
}

// zlib's raw inflate as the control: true and the output when the stream
// ends properly.
bool ZlibInflate(const std::vector<uint8_t>& stream, size_t limit, std::vector<uint8_t>* out) {
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
  out->assign(limit, 0);
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = out->data();
  z.avail_out = static_cast<uInt>(limit);
  int status = inflate(&z, Z_FINISH);
  out->resize(z.total_out);
  inflateEnd(&z);
  return status == Z_STREAM_END;
}

TEST_F(InflateTest, HandBuiltStreams) {
  for (const StreamCase& c : StreamCases()) {
    SCOPED_TRACE(c.name);
    BitWriter w;
    c.write(w);
    std::vector<uint8_t> out;
    Sfx.InputByte = 0;  // not the last byte of the case before
    EXPECT_EQ(Decode(w.Stream(), c.output.size() + 70000, &out), c.result);
    if (c.result == kInflateOk) {
      EXPECT_TRUE(out == c.output) << "output of " << out.size() << " bytes differs";
    }

    std::vector<uint8_t> control;
    bool zlibOk = ZlibInflate(w.Stream(), c.output.size() + 70000, &control);
    if (c.zlibAgrees) {
      EXPECT_EQ(zlibOk, c.result == kInflateOk) << "zlib disagrees";
      if (zlibOk && c.result == kInflateOk) {
        EXPECT_TRUE(control == c.output) << "zlib's output differs";
      }
    } else {
      EXPECT_NE(zlibOk, c.result == kInflateOk) << "zlib now agrees; drop the exception";
    }
  }
}

// Every kind of match copy against the byte-wise copy (and zlib): runs,
// periods of 2..7, sources 8 or more bytes behind, and, once the window has
// wrapped, sources in its older top part, just ahead of the destination or
// at it (distances near and at 32 KiB), each at lengths around the copy's
// group sizes. Literals after the matches keep the decoder in its fast loop.
TEST_F(InflateTest, MatchCopiesAgreeWithByteWiseCopy) {
  static const PrefixCode fixedLit = FixedLiteralCode(), fixedDist = FixedDistanceCode();
  const unsigned lengths[] = {3, 4, 5, 7, 8, 9, 15, 16, 17, 24, 100, 257, 258};
  struct PrefixCase {
    unsigned prefix;  // stored bytes before the matches
    std::vector<unsigned> distances;
  };
  const PrefixCase prefixes[] = {
      {1000, {1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 16, 17, 100, 1000}},
      {40000, {1, 3, 7, 8, 5000, 7231, 7233, 32000, 32760, 32761, 32765, 32767, 32768}},
  };
  for (const PrefixCase& p : prefixes)
    for (unsigned distance : p.distances)
      for (unsigned length : lengths) {
        SCOPED_TRACE("prefix " + std::to_string(p.prefix) + " distance " + std::to_string(distance) + " length " +
                     std::to_string(length));
        BitWriter w;
        w.Bits(0, 1).Bits(0, 2).AlignToByte();                   // BFINAL=0, BTYPE=00 (stored)
        w.Bits(p.prefix, 16).Bits(~p.prefix & 0xFFFF, 16);        // LEN, NLEN
        w.Bytes(Pattern(p.prefix));
        w.Bits(1, 1).Bits(1, 2);                                  // BFINAL=1, BTYPE=01 (fixed)
        PutMatch(w, fixedLit, fixedDist, length, distance);       // the match,
        PutMatch(w, fixedLit, fixedDist, length, distance);       // and again right after it
        for (int i = 0; i < 40; i++) fixedLit.Put(w, 'z');        // literals to read on
        fixedLit.Put(w, 256);                                     // end of block
        std::vector<uint8_t> expected = Pattern(p.prefix);
        AppendMatch(expected, length, distance);
        AppendMatch(expected, length, distance);
        expected.insert(expected.end(), 40, 'z');

        std::vector<uint8_t> out, control;
        ASSERT_EQ(Decode(w.Stream(), expected.size() + 1, &out), kInflateOk);
        ASSERT_TRUE(out == expected) << "output differs from the byte-wise copy";
        ASSERT_TRUE(ZlibInflate(w.Stream(), expected.size() + 1, &control) && control == expected)
            << "zlib disagrees";
      }
}

// The final end-of-block code is the last bit of the last byte while the
// first-level lookup asks for 9 bits: the decoder reads a byte past the end
// and must still succeed.
TEST_F(InflateTest, LookAheadPastTheLastByte) {
  // End of block 1 bit; 'a'..'i' 2..9 bits (the last two 9): longest 9, so
  // every lookup asks for 9 bits.
  std::vector<unsigned> lit = Lengths(257, {{256, 1}, {'a', 2}, {'b', 3}, {'c', 4}, {'d', 5}, {'e', 6},
                                            {'f', 7}, {'g', 8}, {'h', 9}, {'i', 9}});
  PrefixCode literals(lit);
  BitWriter w;
  DynamicHeader(w, 1, lit, {0});
  std::string text = "i";
  literals.Put(w, 'i');
  while ((w.BitLength() + 1) % 8) {  // 'b' is 3 bits: some count of them ends a byte
    literals.Put(w, 'b');
    text += 'b';
  }
  literals.Put(w, 256);
  ASSERT_EQ(w.BitLength() % 8, 0u);

  std::vector<uint8_t> out;
  EXPECT_EQ(Decode(w.Stream(), 1000, &out), kInflateOk);
  EXPECT_EQ(out, Text(text));
  EXPECT_GE(Sfx.InputOverrun, 1u) << "the lookup did not reach past the end; the case shows nothing";
}

// A stream cut anywhere fails (it neither loops on the repeated last byte nor
// claims success), whatever was decoded before the cut.
TEST_F(InflateTest, TruncatedStreamsFail) {
  std::vector<uint8_t> data = MixedData(50000, 3);
  for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED}) {
    std::vector<uint8_t> stream = ZlibDeflate(data, 6, strategy);
    for (size_t cut : {size_t{1}, size_t{2}, size_t{10}, stream.size() / 3, stream.size() / 2, stream.size() - 8}) {
      std::vector<uint8_t> part(stream.begin(), stream.begin() + static_cast<long>(cut)), out;
      EXPECT_NE(Decode(part, data.size() + 1, &out), kInflateOk) << "cut at " << cut << " of " << stream.size();
    }
  }
}

// ---- the table builder ---------------------------------------------------------

// Walks the tables with a code's bits, as the decoder does; the final entry
// and the number of bits it took.
std::pair<const HuffmanEntry*, unsigned> WalkTables(const HuffmanEntry* table, int rootBits, uint32_t reversed) {
  const HuffmanEntry* entry = &table[reversed & ((1u << rootBits) - 1)];
  unsigned used = 0;
  while (entry->Op > kOpLiteral && entry->Op != kOpInvalid) {
    used += entry->Bits;
    reversed >>= entry->Bits;
    entry = &entry->Next[reversed & ((1u << (entry->Op - kOpLiteral)) - 1)];
  }
  return {entry, used + entry->Bits};
}

uint32_t Reverse(uint32_t code, unsigned length) {
  uint32_t reversed = 0;
  for (unsigned i = 0; i < length; i++) reversed |= ((code >> i) & 1) << (length - 1 - i);
  return reversed;
}

struct TableCase {
  const char* name;
  std::vector<unsigned> lengths;
  int askedBits;
  int result;
  int bitsUsed;
};

TEST(BuildHuffmanTable, ResultsAndWidths) {
  std::vector<unsigned> eightBits(258, 8), deep = Lengths(20, {{0, 1}, {1, 2}, {2, 3}});
  eightBits[254] = eightBits[255] = 0;
  for (unsigned i = 3; i < 15; i++) deep[i] = i + 1;  // lengths 4..15
  deep[15] = 15;                                       // two codes of 15 bits close the code
  const TableCase cases[] = {
      {"two 1-bit codes; width lowered to the longest", {1, 1}, 9, kInflateOk, 1},
      {"one 1-bit code is accepted", {0, 1}, 9, kInflateOk, 1},
      {"one 2-bit code is incomplete", {2, 0}, 9, kInflateBadData, 2},
      {"three 1-bit codes are over-subscribed", {1, 1, 1}, 9, kInflateBadBlock, 1},
      {"no codes at all", {0, 0, 0}, 9, kInflateOk, 0},
      {"width raised to the shortest", {3, 3, 3, 3, 3, 3, 3, 3}, 2, kInflateOk, 3},
      {"1, 2, 3, 3 bits", {1, 2, 3, 3}, 9, kInflateOk, 3},
      {"longest code 8 bits asked 9", eightBits, 9, kInflateOk, 8},
      {"codes of 1 to 15 bits through sub-tables", deep, 9, kInflateOk, 9},
      {"over-subscribed only at the longest length", {1, 2, 3, 3, 3}, 9, kInflateBadBlock, 3},
      {"incomplete at 15 bits", Lengths(3, {{0, 1}, {1, 15}}), 9, kInflateBadData, 9},
  };
  for (const TableCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint16_t> lengths(c.lengths.begin(), c.lengths.end());
    HuffmanEntry* table = nullptr;
    int bits = c.askedBits;
    unsigned n = static_cast<unsigned>(lengths.size());
    int result = BuildHuffmanTable(lengths.data(), n, n, nullptr, nullptr, &table, &bits);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(bits, c.bitsUsed);
    if (result != kInflateBadBlock) {
      EXPECT_EQ(table == nullptr, c.bitsUsed == 0);
    }
    if (result == kInflateOk && table) {  // every code leads to its own symbol, in exactly its bits
      PrefixCode code(c.lengths);
      for (unsigned symbol = 0; symbol < n; symbol++) {
        if (!code.lengths[symbol]) continue;
        auto [entry, used] = WalkTables(table, bits, Reverse(code.codes[symbol], code.lengths[symbol]));
        EXPECT_EQ(entry->Op, symbol < 256 ? kOpLiteral : kOpEndOfBlock) << "symbol " << symbol;
        EXPECT_EQ(entry->Value, symbol) << "symbol " << symbol;
        EXPECT_EQ(used, code.lengths[symbol]) << "symbol " << symbol;
      }
    }
    FreeHuffmanTable(table);
  }
}

// The spare pattern of a code of one 1-bit code decodes as invalid.
TEST(BuildHuffmanTable, SpareOneBitPatternIsInvalid) {
  const uint16_t lengths[2] = {1, 0};
  HuffmanEntry* table;
  int bits = 6;
  ASSERT_EQ(BuildHuffmanTable(lengths, 2, 2, nullptr, nullptr, &table, &bits), kInflateOk);
  ASSERT_EQ(bits, 1);
  EXPECT_EQ(table[1].Op, kOpInvalid);
  FreeHuffmanTable(table);
}

// ---- long streams and the output path ------------------------------------------

// A zlib-style test stream: 1,234,567 zero bytes.
const std::string kPuffZeros = std::string(DRAVIK_TESTDATA_DIR) + "/external/puff_zeros.raw";
constexpr size_t kPuffZerosSize = 1234567;

TEST_F(InflateTest, PuffZerosInMemory) {
  std::vector<uint8_t> stream = ReadFile(kPuffZeros), out;
  ASSERT_FALSE(stream.empty());
  EXPECT_EQ(Decode(stream, kPuffZerosSize + 4096, &out), kInflateOk);
  EXPECT_EQ(out.size(), kPuffZerosSize);
  EXPECT_EQ(std::count(out.begin(), out.end(), 0), static_cast<long>(kPuffZerosSize));
}

// As an entry is extracted: input read from a file through InputBuffer,
// output through the 64 KiB block into the output file; the caller
// writes the last partial block.
class InflateToFileTest : public InflateTest {
 protected:
  void SetUp() override {
    InflateTest::SetUp();
    BuildCrcTable();
    inputBuffer_.assign(kIoChunkSize + 20, 0);
    outputBlock_.assign(kIoChunkSize + 20, 0);
    messages_.assign(kMessageBufferSize, 0);
    Sfx.InputBuffer = inputBuffer_.data();
    Sfx.OutputBlock = outputBlock_.data();
    Sfx.MessageBuffer = messages_.data();
  }

  // Decodes the file `input` into a new file; its bytes in *out.
  int DecodeFile(const std::string& input, std::vector<uint8_t>* out) {
    std::string output = MakeTempFolder() + "/out.bin";
    Sfx.ArchiveFile = _lopen(input.c_str(), OF_READ);
    EXPECT_NE(Sfx.ArchiveFile, HFILE_ERROR);
    Sfx.LocalHeader.CompressedSize = static_cast<LONG>(ReadFile(input).size());
    Sfx.InputAvailable = 0;
    Sfx.OutputFile = _lcreat(output.c_str(), 0);
    EXPECT_NE(Sfx.OutputFile, HFILE_ERROR);
    Sfx.BlockCursor = Sfx.OutputBlock;
    Sfx.BlockFill = 0;
    Sfx.RunningCrc = kCrcPreset;
    int result = Inflate();
    EXPECT_LE(Sfx.BlockFill, kIoChunkSize - 1) << "a full block was left unwritten";
    if (Sfx.BlockFill) FlushBlock();
    _lclose(Sfx.OutputFile);
    _lclose(Sfx.ArchiveFile);
    Sfx.OutputFile = Sfx.ArchiveFile = 0;
    *out = ReadFile(output);
    return result;
  }

  std::vector<BYTE> inputBuffer_, outputBlock_;
  std::vector<CHAR> messages_;
};

TEST_F(InflateToFileTest, PuffZeros) {
  std::vector<uint8_t> out;
  EXPECT_EQ(DecodeFile(kPuffZeros, &out), kInflateOk);
  EXPECT_EQ(out.size(), kPuffZerosSize);
  EXPECT_EQ(std::count(out.begin(), out.end(), 0), static_cast<long>(kPuffZerosSize));
  EXPECT_EQ(Sfx.RunningCrc ^ kCrcPreset, crc32(0, out.data(), static_cast<uInt>(out.size())));
}

// Exactly one window: it is flushed once, in 16 full blocks, and the end of
// the stream flushes nothing more.
TEST_F(InflateToFileTest, ExactlyOneWindow) {
  std::vector<uint8_t> data = MixedData(kWindowSize, 9), out;
  std::string input = MakeTempFolder() + "/in.raw";
  WriteFile(input, ZlibDeflate(data, 9, Z_DEFAULT_STRATEGY));
  EXPECT_EQ(DecodeFile(input, &out), kInflateOk);
  EXPECT_EQ(Sfx.BlockFill, 0u);
  EXPECT_EQ(Sfx.BytesWritten, kWindowSize);
  EXPECT_TRUE(out == data);
}

// Matches that cross the window's end, decoded through the file path.
TEST_F(InflateToFileTest, MixedDataAcrossManyWindows) {
  std::vector<uint8_t> data = MixedData(300000, 11), out;
  std::string input = MakeTempFolder() + "/in.raw";
  WriteFile(input, ZlibDeflate(data, 9, Z_DEFAULT_STRATEGY));
  EXPECT_EQ(DecodeFile(input, &out), kInflateOk);
  EXPECT_TRUE(out == data);
}

}  // namespace
