#include "codec/reduce.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
std::vector<uint8_t> Words(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) {
    uint16_t w = static_cast<uint16_t>(v);
    out.push_back(static_cast<uint8_t>(w & 0xFF));
    out.push_back(static_cast<uint8_t>(w >> 8));
  }
  return out;
}
int WordAt(const std::vector<uint8_t>& b, size_t i) { return b[2 * i] | (b[2 * i + 1] << 8); }
}  // namespace

TEST(Reduce, CtTo8BitsAddsOffsetAndShiftsByFour) {
  // Stored 1024 with intercept -1024 is 0 HU; (0 + 1024) >> 4 = 64. -2000 HU limits to 0, high values to 255.
  auto src = Words({1024, 0, 4095, 1040});
  std::vector<uint8_t> dst(4, 0xEE);
  ReducePixelsTo8Bits(dst.data(), src.data(), 0, 12, 1.0, -1024.0, src.size(), "CT");
  EXPECT_EQ(dst, (std::vector<uint8_t>{64, 0, 255, 65}));
}

TEST(Reduce, To8BitsShiftFollowsBitsStoredAndSignedness) {
  auto src = Words({0x3FF, 0x0FFF, -8, 0x1234});
  std::vector<uint8_t> dst(4);
  ReducePixelsTo8Bits(dst.data(), src.data(), 0, 10, 1.0, 0.0, 4, "MR");  // two samples only
  EXPECT_EQ(dst[0], 255);  // 0x3FF >> 2
  EXPECT_EQ(dst[1], 255);  // 0xFFF >> 2 = 1023, limited
  EXPECT_EQ(dst[2], 0);    // untouched
  ReducePixelsTo8Bits(dst.data(), src.data(), 1, 16, 1.0, 0.0, src.size(), "MR");
  EXPECT_EQ(dst[2], 0);     // -8 >> 8 is negative: limited to 0
  EXPECT_EQ(dst[3], 0x12);  // 0x1234 >> 8
  ReducePixelsTo8Bits(dst.data(), src.data(), 0, 16, 1.0, 0.0, src.size(), "NM");
  EXPECT_EQ(dst[3], 255);  // NM: no shift, limited
  // Slope applied before the shift; odd byte count leaves the last half sample alone.
  dst.assign(4, 7);
  ReducePixelsTo8Bits(dst.data(), src.data(), 0, 8, 0.5, 1.0, 3, "MR");
  EXPECT_EQ(dst[0], 255);  // 1 + 0x3FF * 0.5 = 512.5 -> 512 -> 255
  EXPECT_EQ(dst[1], 7);
}

TEST(Reduce, DxTo12BitsShiftsByThreeAndLimits) {
  auto buf = Words({0x7FFF, 800, 0xFFFF});
  ReducePixelsTo12Bits(buf.data(), 0, 1.0, 0.0, buf.size(), "DX");
  EXPECT_EQ(WordAt(buf, 0), 4095);  // 0x7FFF >> 3 = 4095
  EXPECT_EQ(WordAt(buf, 1), 100);
  EXPECT_EQ(WordAt(buf, 2), 4095);
  auto ct = Words({24, 6000});
  ReducePixelsTo12Bits(ct.data(), 1, 1.0, -1024.0, ct.size(), "CT");
  EXPECT_EQ(WordAt(ct, 0), 24);    // 24 - 1024 + 1024, no shift
  EXPECT_EQ(WordAt(ct, 1), 4095);  // limited
  auto neg = Words({-5});
  ReducePixelsTo12Bits(neg.data(), 1, 1.0, 0.0, neg.size(), "MR");
  EXPECT_EQ(WordAt(neg, 0), 0);
}

TEST(Reduce, Rescale16DropsNegativesKeepsLowBits) {
  auto buf = Words({-1000, 1000, 40000});
  RescalePixels16(buf.data(), 1, 2.0, 0.0, 4, "MR");
  EXPECT_EQ(WordAt(buf, 0), 0);
  EXPECT_EQ(WordAt(buf, 1), 2000);
  EXPECT_EQ(WordAt(buf, 2), 40000);  // beyond byteCount
  RescalePixels16(buf.data() + 4, 0, 2.0, 0.0, 2, "MR");
  EXPECT_EQ(WordAt(buf, 2), (80000 & 0xFFFF));
}
