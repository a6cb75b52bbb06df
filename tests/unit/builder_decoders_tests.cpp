// The decoders `build --zip` re-encodes with: the Deflate64 decoder on
// hand-built streams (each field annotated) and against zlib as a control
// on streams that mean the same in deflate and Deflate64; bzip2, LZMA, XZ
// and Zstandard through their libraries, made here by the same libraries,
// whole, damaged, cut short and longer than their recorded size.
#include "builder/deflate64_decoder.h"
#include "builder/zip_reencode.h"

#include <bzlib.h>
#include <gtest/gtest.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <random>
#include <string>
#include <vector>

namespace {

// Writes a bit stream as deflate orders it: fields lowest bit first,
// Huffman codes highest bit first.
struct BitWriter {
  std::vector<uint8_t> bytes;
  int used = 8;  // bits used in the last byte

  void Bits(uint32_t value, int count) {
    for (int i = 0; i < count; i++) {
      if (used == 8) bytes.push_back(0), used = 0;
      bytes.back() |= (i < 32 ? (value >> i) & 1 : 0) << used++;  // a field longer than 32 bits is zeros
    }
  }
  void Code(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; i--) Bits((code >> i) & 1, 1);
  }
  // A symbol of the fixed literal/length code.
  void Fixed(int symbol) {
    if (symbol < 144) Code(0x30 + symbol, 8);
    else if (symbol < 256) Code(0x190 + symbol - 144, 9);
    else if (symbol < 280) Code(symbol - 256, 7);
    else Code(0xC0 + symbol - 280, 8);
  }
  void Align() { used = 8; }
  void Bytes(const std::vector<uint8_t>& data) {
    Align();
    bytes.insert(bytes.end(), data.begin(), data.end());
  }
};

// A stored block: BFINAL, BTYPE 00, then LEN, NLEN and the bytes.
void StoredBlock(BitWriter* w, const std::vector<uint8_t>& data, bool last) {
  w->Bits(last, 1);
  w->Bits(0, 2);
  w->Align();
  w->Bits(static_cast<uint32_t>(data.size()), 16);
  w->Bits(~static_cast<uint32_t>(data.size()) & 0xFFFF, 16);
  w->Bytes(data);
}

std::vector<uint8_t> Noise(size_t count, unsigned seed) {
  std::mt19937 generator(seed);
  std::vector<uint8_t> data(count);
  for (uint8_t& byte : data) byte = static_cast<uint8_t>(generator());
  return data;
}

struct Decoded {
  bool ok;
  std::vector<uint8_t> out;
  std::string error;
};

Decoded Run64(const std::vector<uint8_t>& stream, uint64_t limit = 1 << 20) {
  Decoded d;
  d.ok = Inflate64(stream.data(), stream.size(), limit, &d.out, &d.error);
  return d;
}

// ---- Deflate64: what differs from deflate ----------------------------------------

// Length symbol 285 is 3 plus 16 extra bits, not deflate's fixed 258.
TEST(Deflate64, LengthSymbol285TakesSixteenExtraBits) {
  BitWriter w;
  w.Bits(1, 1);       // BFINAL
  w.Bits(1, 2);       // BTYPE 01: fixed codes
  w.Fixed('a');       // literal 'a'
  w.Fixed(285);       // length 3 + extra
  w.Bits(997, 16);    //   extra 997: length 1000
  w.Code(0, 5);       // distance symbol 0: distance 1
  w.Fixed(256);       // end of block
  Decoded d = Run64(w.bytes);
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(d.out, std::vector<uint8_t>(1001, 'a'));
}

// Distance symbols 30 and 31 (invalid in deflate) reach 32,769 and 49,153
// back and more, with 14 extra bits; a dynamic block may declare 32.
TEST(Deflate64, DistanceSymbols30And31ReachBackSixtyFourKiB) {
  std::vector<uint8_t> noise = Noise(65536, 1);
  BitWriter w;
  StoredBlock(&w, std::vector<uint8_t>(noise.begin(), noise.begin() + 32768), false);  // LEN holds at most 65535
  StoredBlock(&w, std::vector<uint8_t>(noise.begin() + 32768, noise.end()), false);
  w.Bits(1, 1);                   // BFINAL
  w.Bits(1, 2);                   // BTYPE 01: fixed codes
  w.Fixed(264);                   // length 10
  w.Code(31, 5);                  // distance symbol 31: 49153 + extra
  w.Bits(65536 - 49153, 14);      //   extra 16383: distance 65536, the window's whole width
  w.Fixed(264);                   // length 10
  w.Code(30, 5);                  // distance symbol 30: 32769 + extra
  w.Bits(40000 - 32769, 14);      //   extra: distance 40000
  w.Fixed(256);                   // end of block
  Decoded d = Run64(w.bytes);
  ASSERT_TRUE(d.ok) << d.error;
  std::vector<uint8_t> wanted = noise;
  wanted.insert(wanted.end(), noise.begin(), noise.begin() + 10);
  wanted.insert(wanted.end(), wanted.end() - 40000, wanted.end() - 40000 + 10);
  EXPECT_EQ(d.out, wanted);
}

// ---- Deflate64: invalid streams, one line each ---------------------------------------

TEST(Deflate64, InvalidStreamsSayWhy) {
  struct Case {
    const char* what;
    std::vector<uint8_t> stream;
    uint64_t limit;
    const char* error;
  };
  auto fixed = [](std::initializer_list<int> symbols, std::vector<std::pair<uint32_t, int>> tail = {}) {
    BitWriter w;
    w.Bits(1, 1);  // BFINAL
    w.Bits(1, 2);  // fixed codes
    for (int s : symbols) w.Fixed(s);
    for (auto [value, bits] : tail) w.Bits(value, bits);
    return w.bytes;
  };
  BitWriter tooFar;  // 'a', then length 3 at distance 2: one byte written
  tooFar.Bits(1, 1), tooFar.Bits(1, 2), tooFar.Fixed('a'), tooFar.Fixed(257), tooFar.Code(1, 5), tooFar.Fixed(256);
  BitWriter badLength;  // a stored block whose NLEN is not LEN's complement
  badLength.Bits(1, 3), badLength.Align(), badLength.Bits(3, 16), badLength.Bits(3, 16), badLength.Bytes({1, 2, 3});
  BitWriter manyLengths;  // dynamic: HLIT 30 declares 287 length codes
  manyLengths.Bits(1, 1), manyLengths.Bits(2, 2), manyLengths.Bits(30, 5), manyLengths.Bits(0, 5), manyLengths.Bits(0, 4);
  BitWriter emptyLengthCode;  // dynamic: every code length code's length 0, so no code decodes
  emptyLengthCode.Bits(1, 1), emptyLengthCode.Bits(2, 2), emptyLengthCode.Bits(0, 14), emptyLengthCode.Bits(0, 3 * 19);
  const Case cases[] = {
      {"empty input", {}, 100, "is cut short"},
      {"block type 3", {0x07}, 100, "holds an invalid block type"},
      {"stored header cut short", {0x01, 0x03, 0x00}, 100, "is cut short"},
      {"stored bytes cut short", {0x01, 0x03, 0x00, 0xFC, 0xFF, 'a'}, 100, "is cut short"},
      {"stored length check", badLength.bytes, 100, "holds a stored block whose length check fails"},
      {"distance before the start", tooFar.bytes, 100, "refers back before its start"},
      {"fixed length symbol 286", fixed({'a', 286}), 100, "holds an invalid length symbol"},
      {"no end of block", fixed({'a', 'b'}), 100, "is cut short"},
      {"more than the limit", fixed({'a', 'b', 'c', 256}), 2, "decodes to more bytes than its directory entry says"},
      {"too many length codes", manyLengths.bytes, 100, "declares too many length codes"},
      {"empty code length code", emptyLengthCode.bytes, 100, "holds a code its table does not define"},
      {"not final, then nothing", {0x00, 0x00, 0x00, 0xFF, 0xFF}, 100, "is cut short"},
  };
  for (const Case& c : cases) {
    Decoded d = Run64(c.stream, c.limit);
    EXPECT_FALSE(d.ok) << c.what;
    EXPECT_EQ(d.error, c.error) << c.what;
  }
}

// ---- Deflate64 against zlib ------------------------------------------------------------

// zlib's streams of text mean the same in Deflate64 as long as no match is
// 258 bytes long (the one length whose code differs): words drawn at random
// from a small vocabulary give dynamic, fixed and stored blocks without one.
TEST(Deflate64, AgreesWithZlibOnStreamsWithoutLongMatches) {
  std::mt19937 generator(7);
  const char* const words[] = {"alpha ", "beta ", "gamma ", "delta\n", "epsilon ", "zeta, ", "eta ", "theta. "};
  for (int level : {0, 1, 6, 9}) {
    for (size_t size : {0u, 1u, 100u, 70000u, 300000u}) {
      std::string text;
      while (text.size() < size) text += words[generator() % 8];
      text.resize(size);
      std::vector<uint8_t> plain(text.begin(), text.end());
      z_stream z{};
      ASSERT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY), Z_OK);
      std::vector<uint8_t> stream(deflateBound(&z, plain.size()) + 16);
      z.next_in = plain.data(), z.avail_in = static_cast<uInt>(plain.size());
      z.next_out = stream.data(), z.avail_out = static_cast<uInt>(stream.size());
      ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
      stream.resize(z.total_out);
      deflateEnd(&z);
      Decoded d = Run64(stream, plain.size());
      ASSERT_TRUE(d.ok) << "level " << level << ", " << size << " bytes: " << d.error;
      EXPECT_EQ(d.out, plain) << "level " << level << ", " << size << " bytes";
    }
  }
}

// ---- bzip2, LZMA, XZ, Zstandard through their libraries --------------------------------------

std::vector<uint8_t> Bzip2(const std::vector<uint8_t>& plain) {
  std::vector<uint8_t> out(plain.size() + plain.size() / 100 + 600);
  unsigned size = static_cast<unsigned>(out.size());
  EXPECT_EQ(BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &size,
                                     const_cast<char*>(reinterpret_cast<const char*>(plain.data())),
                                     static_cast<unsigned>(plain.size()), 9, 0, 0),
            BZ_OK);
  out.resize(size);
  return out;
}

std::vector<uint8_t> Xz(const std::vector<uint8_t>& plain) {
  std::vector<uint8_t> out(lzma_stream_buffer_bound(plain.size()));
  size_t size = 0;
  EXPECT_EQ(lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr, plain.data(), plain.size(), out.data(), &size, out.size()),
            LZMA_OK);
  out.resize(size);
  return out;
}

// As a ZIP stores LZMA (method 14): version, properties size, the
// properties, the raw stream. liblzma's raw LZMA1 encoder always ends with
// the end marker (flag bit 1); streams without one come from 7-Zip and are
// tested through it (roundtrip_tests.py).
std::vector<uint8_t> ZipLzma(const std::vector<uint8_t>& plain) {
  lzma_options_lzma options;
  lzma_lzma_preset(&options, 6);
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  std::vector<uint8_t> out = {9, 20, 5, 0, 0, 0, 0, 0, 0};
  uint32_t propertiesSize = 0;
  EXPECT_EQ(lzma_properties_size(&propertiesSize, &filters[0]), LZMA_OK);
  EXPECT_EQ(propertiesSize, 5u);
  EXPECT_EQ(lzma_properties_encode(&filters[0], out.data() + 4), LZMA_OK);
  std::vector<uint8_t> raw(plain.size() * 2 + 1024);
  size_t size = 0;
  EXPECT_EQ(lzma_raw_buffer_encode(filters, nullptr, plain.data(), plain.size(), raw.data(), &size, raw.size()), LZMA_OK);
  raw.resize(size);
  out.insert(out.end(), raw.begin(), raw.end());
  return out;
}

std::vector<uint8_t> Zstandard(const std::vector<uint8_t>& plain) {
  std::vector<uint8_t> out(ZSTD_compressBound(plain.size()));
  size_t size = ZSTD_compress(out.data(), out.size(), plain.data(), plain.size(), 19);
  EXPECT_FALSE(ZSTD_isError(size));
  out.resize(size);
  return out;
}

struct Method {
  const char* name;
  uint16_t method, flags;
  std::vector<uint8_t> (*make)(const std::vector<uint8_t>&);
};

const Method kMethods[] = {
    {"bzip2", kMethodBzip2, 0, Bzip2},
    {"LZMA", kMethodLzma, 2, ZipLzma},
    {"XZ", kMethodXz, 0, Xz},
    {"Zstandard", kMethodZstandard, 0, Zstandard},
};

TEST(LibraryDecoders, WholeStreamsDecode) {
  std::vector<uint8_t> plain = Noise(50000, 3);
  plain.insert(plain.end(), 50000, 'z');
  for (const Method& m : kMethods) {
    std::vector<uint8_t> packed = m.make(plain), out;
    std::string error;
    ASSERT_TRUE(DecodeEntryData(m.method, m.flags, packed.data(), packed.size(), plain.size(), &out, &error))
        << m.name << ": " << error;
    EXPECT_EQ(out, plain) << m.name;
  }
}

// Damaged, cut short, or longer than the size the directory records: each
// refused in words, never more than the limit written.
TEST(LibraryDecoders, BadStreamsAreRefusedInWords) {
  std::vector<uint8_t> plain(20000, 'q');
  for (size_t i = 0; i < plain.size(); i += 7) plain[i] = static_cast<uint8_t>(i);
  struct Damage {
    const char* what;
    void (*apply)(std::vector<uint8_t>*);
    uint64_t limitLess;  // the limit is the plain size less this
    const char* bzip2;
    const char* lzma;
    const char* xz;
    const char* zstd;
  } damages[] = {
      {"cut in half", [](std::vector<uint8_t>* p) { p->resize(p->size() / 2); }, 0, "the bzip2 stream is cut short",
       "the LZMA stream is cut short", "the XZ stream is cut short", "the Zstandard stream is cut short"},
      {"longer than recorded", [](std::vector<uint8_t>*) {}, 1, "it decodes to more bytes than its directory entry says",
       "it decodes to more bytes than its directory entry says", "it decodes to more bytes than its directory entry says",
       "it decodes to more bytes than its directory entry says"},
  };
  for (const Damage& damage : damages) {
    for (const Method& m : kMethods) {
      std::vector<uint8_t> packed = m.make(plain), out;
      damage.apply(&packed);
      std::string error;
      uint64_t limit = plain.size() - damage.limitLess;
      EXPECT_FALSE(DecodeEntryData(m.method, m.flags, packed.data(), packed.size(), limit, &out, &error))
          << m.name << ", " << damage.what;
      const char* wanted = m.method == kMethodBzip2 ? damage.bzip2
                           : m.method == kMethodLzma ? damage.lzma
                           : m.method == kMethodXz  ? damage.xz
                                                     : damage.zstd;
      EXPECT_EQ(error, wanted) << m.name << ", " << damage.what;
      EXPECT_LE(out.size(), limit) << m.name << ", " << damage.what;
    }
  }
  // A flipped byte in the middle: refused, or (LZMA has no check of its
  // own) decoded to other bytes, which the CRC-32 check after it catches.
  for (const Method& m : kMethods) {
    std::vector<uint8_t> packed = m.make(plain), out;
    packed[packed.size() / 2] ^= 0x55;
    std::string error;
    bool decoded = DecodeEntryData(m.method, m.flags, packed.data(), packed.size(), plain.size(), &out, &error);
    if (decoded) EXPECT_NE(out, plain) << m.name;
    else EXPECT_FALSE(error.empty()) << m.name;
  }
}

TEST(LibraryDecoders, MethodsInWords) {
  EXPECT_EQ(MethodInWords(12), "bzip2 (method 12)");
  EXPECT_EQ(MethodInWords(98), "PPMd (method 98)");
  EXPECT_EQ(MethodInWords(99), "AES encryption (method 99)");
  EXPECT_EQ(MethodInWords(77), "an unknown method (77)");
}

}  // namespace
