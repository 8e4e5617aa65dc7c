#include "edge/qimage_bitmap.h"

QImage ToQImage(const Bitmap& bitmap) {
  if (bitmap.Empty()) return QImage();
  QImage image(bitmap.width, bitmap.height, QImage::Format_RGB888);
  for (int y = 0; y < bitmap.height; ++y) {
    const uint8_t* in = bitmap.Row(y);
    uchar* out = image.scanLine(y);
    for (int x = 0; x < bitmap.width; ++x) {
      out[3 * x] = in[3 * x + 2];
      out[3 * x + 1] = in[3 * x + 1];
      out[3 * x + 2] = in[3 * x];
    }
  }
  return image;
}
