#include "codec/lut.h"

#include <gtest/gtest.h>

namespace {
LookupTable ThreeEntries() {
  LookupTable lut;
  const uint8_t desc[6] = {3, 0, 100, 0, 16, 0};  // 3 entries, first mapped 100, 16 bits
  EXPECT_TRUE(lut.SetDescriptor(desc, 6, false));
  const uint8_t data[6] = {0x10, 0x00, 0x20, 0x00, 0x00, 0x10};
  EXPECT_TRUE(lut.SetData(data, 6, false));
  return lut;
}
}  // namespace

TEST(LookupTable, MapsAndLimitsToTheTable) {
  LookupTable lut = ThreeEntries();
  EXPECT_EQ(lut.firstMapped, 100);
  EXPECT_EQ(lut.entries, 3u);
  EXPECT_EQ(lut.Map(50), 0x10);     // below the first mapped value: entry 0
  EXPECT_EQ(lut.Map(101), 0x20);    // entry 1
  EXPECT_EQ(lut.Map(4000), 0x1000); // beyond the end: last entry
  uint8_t samples[4] = {50, 0, 101, 0};
  MapThroughLUT(lut, samples, 2);
  EXPECT_EQ(samples[0], 0x10);
  EXPECT_EQ(samples[2], 0x20);
}

TEST(LookupTable, RefusesDataOfTheWrongSizeAndStaysSafe) {
  LookupTable lut;
  const uint8_t desc[6] = {3, 0, 100, 0, 16, 0};
  EXPECT_FALSE(lut.SetDescriptor(desc, 4, false));
  ASSERT_TRUE(lut.SetDescriptor(desc, 6, false));
  const uint8_t data[4] = {1, 0, 2, 0};
  EXPECT_FALSE(lut.SetData(data, 4, false));  // two entries for a table of three
  EXPECT_FALSE(lut.Ready());
  EXPECT_EQ(lut.Map(4000), 4000);  // no data: value unchanged, nothing read
}

TEST(LookupTable, ZeroEntriesMeans65536AndByteEntriesAndBigEndian) {
  LookupTable big;
  const uint8_t desc0[6] = {0, 0, 0, 0, 0, 16};  // big endian: 0 entries, first 0, 16 bits
  ASSERT_TRUE(big.SetDescriptor(desc0, 6, true));
  EXPECT_EQ(big.entries, 65536u);
  EXPECT_EQ(big.bitsPerEntry, 16);
  std::vector<uint8_t> words(65536 * 2);
  words[2 * 65535] = 0x12;
  words[2 * 65535 + 1] = 0x34;
  ASSERT_TRUE(big.SetData(words.data(), words.size(), true));
  EXPECT_EQ(big.Map(65535), 0x1234);

  LookupTable bytes;
  const uint8_t desc8[6] = {3, 0, 0, 0, 8, 0};
  ASSERT_TRUE(bytes.SetDescriptor(desc8, 6, false));
  const uint8_t data8[4] = {7, 8, 9, 0};  // three entries and a pad byte
  ASSERT_TRUE(bytes.SetData(data8, 4, false));
  EXPECT_EQ(bytes.Map(2), 9);
  EXPECT_EQ(bytes.Map(60000), 9);
}
