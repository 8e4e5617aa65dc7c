#pragma once
// The toolkit's 24-bit bitmaps (B, G, R rows) to and from QImage, for forms that show pages.
#include <QImage>

#include "present/bitmap.h"

// An RGB888 image with the bitmap's pixels; a null image for an empty bitmap.
QImage ToQImage(const Bitmap& bitmap);
// The image's pixels (any format, alpha dropped) as a bitmap; an empty bitmap for a null image.
Bitmap FromQImage(const QImage& image);
