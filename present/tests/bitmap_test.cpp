#include "present/bitmap.h"

#include <gtest/gtest.h>

TEST(Bitmap, FilledBitmapHasPaddedBgrRows) {
  Bitmap bmp;
  MakeFilledBitmap(bmp, 5, 2, RGBColor{10, 20, 30});
  EXPECT_EQ(bmp.width, 5);
  EXPECT_EQ(bmp.height, 2);
  EXPECT_EQ(bmp.stride, 16u);  // 15 bytes rounded up to 4
  ASSERT_EQ(bmp.pixels.size(), 32u);
  // Blue first in memory.
  EXPECT_EQ(bmp.Row(1)[12], 30);
  EXPECT_EQ(bmp.Row(1)[13], 20);
  EXPECT_EQ(bmp.Row(1)[14], 10);
  EXPECT_EQ(bmp.Row(1)[15], 0);  // padding stays zero
  EXPECT_EQ(bmp.Pixel(4, 1), (RGBColor{10, 20, 30}));
}

TEST(Bitmap, AccessOutsideIsHarmless) {
  Bitmap bmp(2, 2);
  bmp.SetPixel(1, 0, RGBColor{1, 2, 3});
  bmp.SetPixel(2, 0, RGBColor{9, 9, 9});
  bmp.SetPixel(-1, 5, RGBColor{9, 9, 9});
  EXPECT_EQ(bmp.Pixel(1, 0), (RGBColor{1, 2, 3}));
  EXPECT_EQ(bmp.Pixel(2, 0), RGBColor{});
  EXPECT_EQ(bmp.Pixel(0, 0), RGBColor{});
  Bitmap none(-3, 4);
  EXPECT_TRUE(none.Empty());
  EXPECT_TRUE(none.pixels.empty());
}

TEST(Bitmap, QuarterTurnsMoveTheCornersAndComeBack) {
  Bitmap b(3, 2);  // rows padded: 9 bytes of pixels in a 12-byte row
  b.SetPixel(0, 0, {255, 0, 0});
  b.SetPixel(2, 1, {0, 0, 255});
  const Bitmap cw = RotatedQuarter(b, true);
  ASSERT_EQ(cw.width, 2);
  ASSERT_EQ(cw.height, 3);
  EXPECT_EQ(cw.Pixel(1, 0), (RGBColor{255, 0, 0}));  // the top left goes to the top right
  EXPECT_EQ(cw.Pixel(0, 2), (RGBColor{0, 0, 255}));
  const Bitmap back = RotatedQuarter(cw, false);
  EXPECT_EQ(back.pixels, b.pixels);
}
