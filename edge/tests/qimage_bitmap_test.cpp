#include "edge/qimage_bitmap.h"

#include <gtest/gtest.h>

TEST(QImageBitmap, PixelsKeepTheirColours) {
  Bitmap b(3, 2);
  b.Row(1)[3 * 2] = 10;      // blue of the last pixel of the second row
  b.Row(1)[3 * 2 + 2] = 200;  // its red
  const QImage q = ToQImage(b);
  ASSERT_EQ(q.size(), QSize(3, 2));
  EXPECT_EQ(q.pixelColor(2, 1), QColor(200, 0, 10));
  EXPECT_TRUE(ToQImage(Bitmap()).isNull());
}
