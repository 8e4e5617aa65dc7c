#pragma once
// The toolkit's 24-bit bitmaps (B, G, R rows) as QImage, for forms that show pages.
#include <QImage>

#include "present/bitmap.h"

// An RGB888 image with the bitmap's pixels; a null image for an empty bitmap.
QImage ToQImage(const Bitmap& bitmap);
