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

Bitmap FromQImage(const QImage& image) {
  if (image.isNull()) return Bitmap();
  const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  Bitmap bitmap(rgb.width(), rgb.height());
  for (int y = 0; y < rgb.height(); ++y) {
    const uchar* in = rgb.constScanLine(y);
    uint8_t* out = bitmap.Row(y);
    for (int x = 0; x < rgb.width(); ++x) {
      out[3 * x] = in[3 * x + 2];
      out[3 * x + 1] = in[3 * x + 1];
      out[3 * x + 2] = in[3 * x];
    }
  }
  return bitmap;
}
