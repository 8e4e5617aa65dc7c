#include "present/bitmap.h"

#include <algorithm>

void Bitmap::Resize(int w, int h) {
  width = w > 0 ? w : 0;
  height = h > 0 ? h : 0;
  stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
  pixels.assign(stride * static_cast<size_t>(height), 0);
}

RGBColor Bitmap::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return {};
  const uint8_t* p = Row(y) + static_cast<size_t>(x) * 3;
  return RGBColor{p[2], p[1], p[0]};
}

void Bitmap::SetPixel(int x, int y, RGBColor c) {
  if (x < 0 || y < 0 || x >= width || y >= height) return;
  uint8_t* p = Row(y) + static_cast<size_t>(x) * 3;
  p[0] = c.b;
  p[1] = c.g;
  p[2] = c.r;
}

void Bitmap::Fill(RGBColor c) {
  for (int y = 0; y < height; ++y) {
    uint8_t* p = Row(y);
    for (int x = 0; x < width; ++x, p += 3) {
      p[0] = c.b;
      p[1] = c.g;
      p[2] = c.r;
    }
  }
}

void MakeFilledBitmap(Bitmap& bitmap, int width, int height, RGBColor colour) {
  bitmap.Resize(width, height);
  bitmap.Fill(colour);
}

Bitmap RotatedQuarter(const Bitmap& bitmap, bool clockwise) {
  Bitmap out(bitmap.height, bitmap.width);
  for (int y = 0; y < bitmap.height; ++y) {
    const uint8_t* src = bitmap.Row(y);
    // Clockwise, row y becomes column height - 1 - y read downwards; anticlockwise, column y read upwards.
    const int x = clockwise ? bitmap.height - 1 - y : y;
    for (int sx = 0; sx < bitmap.width; ++sx) {
      const int yOut = clockwise ? sx : bitmap.width - 1 - sx;
      std::copy_n(src + 3 * static_cast<size_t>(sx), 3, out.Row(yOut) + 3 * static_cast<size_t>(x));
    }
  }
  return out;
}
