#include <cmath>

#include "present/images.h"

namespace {
int WindowValue(int64_t v, int center, int width, bool inverted) {
  int64_t w = width < 1 ? 1 : width;
  int64_t t = (v - center) * 255 / w + 127;
  if (t < 0) t = 0;
  if (t > 255) t = 255;
  return inverted ? 255 - static_cast<int>(t) : static_cast<int>(t);
}
}  // namespace

void DCMPresentation::Render(Bitmap& bitmap, int panX, int panY, int marginX, int marginY, int frame) const {
  bitmap.Fill(background);
  if (image == nullptr || bitmap.Empty()) return;
  const TImages& im = *image;
  if (im.rows < 2 || im.columns < 2 || frame < 0 || im.data.empty()) return;

  const int samples = im.colour ? 3 : 1;
  const int sampleBytes = (!im.colour && im.bitsAllocated > 8) ? 2 : 1;
  const size_t pixelsPerFrame = static_cast<size_t>(im.rows) * static_cast<size_t>(im.columns);
  const size_t frameBytes = pixelsPerFrame * samples * sampleBytes;
  if (frameBytes == 0 || (static_cast<size_t>(frame) + 1) > im.data.size() / frameBytes) return;
  const uint8_t* src = im.data.data() + static_cast<size_t>(frame) * frameBytes;

  uint8_t table[256];
  for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(WindowValue(i, windowCenter, windowWidth, im.inverted));

  const double s = scale;
  const int64_t x0 = static_cast<int64_t>((im.columns - bitmap.width * s) * 0.5 - panX * s);
  const int64_t y0 = static_cast<int64_t>((im.rows - bitmap.height * s) * 0.5 - panY * s);
  const int64_t step = static_cast<int64_t>(s * 256);
  const int64_t maxX = static_cast<int64_t>(im.columns - 1) * 256;
  const int64_t maxY = static_cast<int64_t>(im.rows - 1) * 256;
  const size_t rowSamples = static_cast<size_t>(im.columns) * samples;

  for (int y = marginY < 0 ? 0 : marginY; y < bitmap.height - marginY - 1; ++y) {
    const int64_t sy = y * step + y0 * 256;
    if (sy < 0 || sy >= maxY) continue;
    const size_t py = static_cast<size_t>(sy >> 8);
    const int64_t fy = sy & 0xFF;
    uint8_t* out = bitmap.Row(y);
    for (int x = marginX < 0 ? 0 : marginX; x < bitmap.width - marginX - 1; ++x) {
      const int64_t sx = x * step + x0 * 256;
      if (sx < 0 || sx >= maxX) continue;
      const size_t px = static_cast<size_t>(sx >> 8);
      const int64_t fx = sx & 0xFF;
      const int64_t wa = (256 - fx) * (256 - fy), wb = fx * (256 - fy), wc = (256 - fx) * fy, wd = fx * fy;
      uint8_t* o = out + static_cast<size_t>(x) * 3;
      if (im.colour) {
        const uint8_t* a = src + py * rowSamples + px * 3;
        const uint8_t* c = a + rowSamples;
        uint8_t rgb[3];
        for (int k = 0; k < 3; ++k) {
          int64_t v = (a[k] * wa + a[3 + k] * wb + c[k] * wc + c[3 + k] * wd) >> 16;
          rgb[k] = table[v > 255 ? 255 : v];
        }
        o[0] = rgb[2];
        o[1] = rgb[1];
        o[2] = rgb[0];
      } else {
        auto at = [&](size_t yy, size_t xx) -> int64_t {
          size_t i = yy * rowSamples + xx;
          return sampleBytes == 1 ? src[i] : static_cast<int64_t>(src[2 * i] | (src[2 * i + 1] << 8));
        };
        int64_t v = (at(py, px) * wa + at(py, px + 1) * wb + at(py + 1, px) * wc + at(py + 1, px + 1) * wd) >> 16;
        uint8_t g = sampleBytes == 1 ? table[v > 255 ? 255 : v]
                                     : static_cast<uint8_t>(WindowValue(v, windowCenter, windowWidth, im.inverted));
        o[0] = o[1] = o[2] = g;
      }
    }
  }
}
