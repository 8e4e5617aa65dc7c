#include "codec/j2k.h"

#include <gtest/gtest.h>

#include "codec/tests/dicom_fixture.h"

TEST(J2K, LosslessRoundTripsAreExactAndRateTenIsAboutATenth) {
  for (int bits : {8, 16}) {
    for (int comps : {1, 3}) {
      auto frame = fixture::MakeFrame(40, 24, comps, bits == 16 ? 12 : 8, 3);
      std::vector<uint8_t> cs;
      ASSERT_TRUE(EncodeJ2KFrame(frame.data(), frame.size(), cs, 40, 24, comps, bits, 0)) << bits << comps;
      ASSERT_GT(cs.size(), 2u);
      EXPECT_EQ(cs[0], 0xFF);
      EXPECT_EQ(cs[1], 0x4F);  // SOC: a raw code stream
      std::vector<uint8_t> back(frame.size(), 0xAA);
      ASSERT_TRUE(DecodeJ2KFrame(cs.data(), back.data(), cs.size(), back.size()));
      EXPECT_EQ(back, frame) << bits << " bits, " << comps << " components";
    }
  }
  auto big = fixture::MakeFrame(256, 256, 1, 8, 4, 2);
  std::vector<uint8_t> cs;
  ASSERT_TRUE(EncodeJ2KFrame(big.data(), big.size(), cs, 256, 256, 1, 8, 10));
  EXPECT_LT(cs.size(), big.size() / 8);
  EXPECT_GT(cs.size(), big.size() / 14);
}

TEST(J2K, TinyImagesAndBadInputs) {
  auto tiny = fixture::MakeFrame(3, 2, 1, 8, 1);
  std::vector<uint8_t> cs;
  ASSERT_TRUE(EncodeJ2KFrame(tiny.data(), tiny.size(), cs, 3, 2, 1, 8, 0));
  std::vector<uint8_t> back(6);
  ASSERT_TRUE(DecodeJ2KFrame(cs.data(), back.data(), cs.size(), back.size()));
  EXPECT_EQ(back, tiny);
  // The slice must match the image exactly; a failure clears it.
  std::vector<uint8_t> wrong(12, 0x77);
  EXPECT_FALSE(DecodeJ2KFrame(cs.data(), wrong.data(), cs.size(), wrong.size()));
  EXPECT_EQ(wrong, std::vector<uint8_t>(12, 0));
  std::vector<uint8_t> junk(100, 0x5A);
  EXPECT_FALSE(DecodeJ2KFrame(junk.data(), back.data(), junk.size(), back.size()));
  EXPECT_FALSE(DecodeJ2KFrame(cs.data(), back.data(), cs.size() / 3, back.size()));
  EXPECT_FALSE(DecodeJ2KFrame(nullptr, back.data(), 0, back.size()));
  // Too few source bytes or an unsupported component count build no image.
  EXPECT_FALSE(EncodeJ2KFrame(tiny.data(), 5, cs, 3, 2, 1, 8, 0));
  EXPECT_FALSE(EncodeJ2KFrame(tiny.data(), tiny.size(), cs, 1, 1, 2, 8, 0));
  EXPECT_TRUE(cs.empty());
}
