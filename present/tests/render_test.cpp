#include <gtest/gtest.h>

#include "present/images.h"

namespace {
// A colour page: left half (200, 100, 50), right half (10, 20, 30).
TImages Page(int columns, int rows) {
  TImages im;
  im.columns = columns;
  im.rows = rows;
  im.bitsAllocated = 8;
  im.colour = true;
  im.data.resize(static_cast<size_t>(columns) * rows * 3);
  for (int y = 0; y < rows; ++y)
    for (int x = 0; x < columns; ++x) {
      uint8_t* p = &im.data[(static_cast<size_t>(y) * columns + x) * 3];
      bool left = x < columns / 2;
      p[0] = left ? 200 : 10;
      p[1] = left ? 100 : 20;
      p[2] = left ? 50 : 30;
    }
  return im;
}
}  // namespace

TEST(Render, ThumbnailOfAnA4PageFillsTheWidthAndIsCentredVertically) {
  TImages im = Page(1000, 600);
  DCMPresentation view(&im);
  view.scale = 1000.0f / 96.0f;
  view.windowWidth = 255;
  view.windowCenter = 127;
  Bitmap bmp;
  MakeFilledBitmap(bmp, 96, 96, RGBColor{1, 2, 3});
  view.Render(bmp, 0, 0, 0, 0, 0);
  // Source row = (y * 2666 - 200 * 256) / 256: rows 20..76 lie inside the page.
  for (int y = 0; y < 96; ++y) {
    bool inside = y >= 20 && y <= 76;
    EXPECT_EQ(bmp.Pixel(10, y), inside ? (RGBColor{200, 100, 50}) : RGBColor{}) << "row " << y;
    EXPECT_EQ(bmp.Pixel(80, y), inside ? (RGBColor{10, 20, 30}) : RGBColor{}) << "row " << y;
  }
  // The first column shows the page; the last output column is never drawn.
  EXPECT_EQ(bmp.Pixel(0, 40), (RGBColor{200, 100, 50}));
  EXPECT_EQ(bmp.Pixel(95, 40), RGBColor{});
  // Blue, green, red in memory.
  EXPECT_EQ(bmp.Row(40)[30], 50);
  EXPECT_EQ(bmp.Row(40)[32], 200);
}

TEST(Render, InterpolatesAndInvertsMonochrome1) {
  TImages im;
  im.columns = 3;
  im.rows = 3;
  im.bitsAllocated = 8;
  im.colour = true;
  im.inverted = true;
  im.data.assign(27, 0);
  for (int i = 0; i < 9; ++i) im.data[i * 3] = static_cast<uint8_t>(i % 3 == 0 ? 0 : 200);  // red: 0 200 200
  DCMPresentation view(&im);
  view.scale = 0.5f;  // two output pixels per source pixel
  Bitmap bmp(6, 6);
  view.Render(bmp, 0, 0, 0, 0, 0);
  // Origin (3 - 3) / 2 = 0; output x = 1 is halfway between source columns 0 and 1: red 100.
  EXPECT_EQ(bmp.Pixel(1, 1), (RGBColor{155, 255, 255}));
  EXPECT_EQ(bmp.Pixel(2, 2), (RGBColor{55, 255, 255}));
  EXPECT_EQ(bmp.Pixel(0, 0), (RGBColor{255, 255, 255}));
}

TEST(Render, WindowMapsGrayscaleAndMarginsAndFramesAreRespected) {
  TImages im;
  im.columns = 4;
  im.rows = 4;
  im.bitsAllocated = 16;
  im.frames = 2;
  im.data.assign(4 * 4 * 2 * 2, 0);
  for (size_t i = 16; i < 32; ++i) {  // second frame: 1000 everywhere
    im.data[2 * i] = 1000 & 0xFF;
    im.data[2 * i + 1] = 1000 >> 8;
  }
  DCMPresentation view(&im);
  view.windowCenter = 1000;
  view.windowWidth = 400;
  Bitmap bmp(4, 4);
  view.Render(bmp, 0, 0, 0, 0, 1);
  EXPECT_EQ(bmp.Pixel(1, 1), (RGBColor{127, 127, 127}));
  view.Render(bmp, 0, 0, 1, 1, 0);  // margin 1: only (1, 1) and nothing else is drawn
  EXPECT_EQ(bmp.Pixel(1, 1), (RGBColor{0, 0, 0}));
  view.background = RGBColor{9, 9, 9};
  view.Render(bmp, 0, 0, 1, 1, 0);
  EXPECT_EQ(bmp.Pixel(0, 0), (RGBColor{9, 9, 9}));
  EXPECT_EQ(bmp.Pixel(1, 1), (RGBColor{0, 0, 0}));
  // A frame beyond the data and an image without data leave the background.
  view.Render(bmp, 0, 0, 0, 0, 2);
  EXPECT_EQ(bmp.Pixel(1, 1), (RGBColor{9, 9, 9}));
  im.data.resize(40);
  view.Render(bmp, 0, 0, 0, 0, 1);
  EXPECT_EQ(bmp.Pixel(1, 1), (RGBColor{9, 9, 9}));
  view.windowWidth = 0;  // no division by zero
  view.Render(bmp, 0, 0, 0, 0, 0);
}
