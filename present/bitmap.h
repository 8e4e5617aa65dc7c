#pragma once
// The program's own 24-bit bitmap: rows from top to bottom, each pixel blue, green, red.
// Rows are padded to a multiple of 4 bytes (as in a BMP file), so `stride` >= width * 3.
#include <cstddef>
#include <cstdint>
#include <vector>

struct RGBColor {
  uint8_t r = 0;
  uint8_t g = 0;
  uint8_t b = 0;
  bool operator==(const RGBColor&) const = default;
};

struct Bitmap {
  int width = 0;
  int height = 0;
  size_t stride = 0;            // bytes per row
  std::vector<uint8_t> pixels;  // height * stride bytes, B G R per pixel

  Bitmap() = default;
  Bitmap(int w, int h) { Resize(w, h); }

  // Sets the size; all pixels become black. Negative sizes count as 0.
  void Resize(int w, int h);
  bool Empty() const { return width <= 0 || height <= 0; }

  uint8_t* Row(int y) { return pixels.data() + static_cast<size_t>(y) * stride; }
  const uint8_t* Row(int y) const { return pixels.data() + static_cast<size_t>(y) * stride; }

  // Pixel access; coordinates outside the bitmap read black and write nothing.
  RGBColor Pixel(int x, int y) const;
  void SetPixel(int x, int y, RGBColor c);
  void Fill(RGBColor c);
};

// Sets the bitmap to 24 bits per pixel and width x height, filled with the colour.
void MakeFilledBitmap(Bitmap& bitmap, int width, int height, RGBColor colour);

// The bitmap turned by a quarter: clockwise, or anticlockwise.
Bitmap RotatedQuarter(const Bitmap& bitmap, bool clockwise);
