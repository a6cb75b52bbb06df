// The deflate decoder: data compressed by zlib at every level and strategy
// decodes to exactly the original bytes; hand-built streams, written bit by
// bit with every field annotated, pin down the edge cases of the format and
// the decoder's result for each (each also run through zlib as a control);
// the table builder on small codes; a long stream decoded to a file through
// the output block, as an entry is.
#include "archive/inflate.h"
#include "output/output_writer.h"
#include "startup/sfx_state.h"
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

}  // namespace
