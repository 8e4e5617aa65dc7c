#include "convert/forms/page_images.h"

#include <QPainter>

#include "convert/scanned_pages.h"
#include "edge/qimage_bitmap.h"

QImage PreviewImage(const Bitmap& page) {
  QImage out(kPreviewWidth, kPreviewHeight, QImage::Format_RGB32);
  out.fill(Qt::white);
  QPainter p(&out);
  p.setPen(Qt::black);
  p.drawRect(0, 0, kPreviewWidth - 1, kPreviewHeight - 1);
  const PreviewPlace r = PreviewRect(page.width, page.height);
  if (r.right > r.left && r.bottom > r.top)
    p.drawImage(r.left, r.top,
                ToQImage(page).scaled(r.right - r.left, r.bottom - r.top, Qt::IgnoreAspectRatio,
                                      Qt::SmoothTransformation));
  return out;
}

QImage ThumbnailImage(const Bitmap& thumbnail, const std::string& label) {
  QImage image = ToQImage(thumbnail).convertToFormat(QImage::Format_RGB32);
  if (!label.empty()) {
    QPainter p(&image);
    QFont font = p.font();
    font.setPixelSize(13);
    font.setBold(true);
    p.setFont(font);
    const QString text = QString::fromStdString(label);
    p.setPen(Qt::black);  // a shadow, so that the number reads on a white page too
    p.drawText(QRect(4, 3, kThumbnailSide - 6, 18), Qt::AlignLeft | Qt::AlignTop, text);
    p.setPen(Qt::white);
    p.drawText(QRect(3, 2, kThumbnailSide - 6, 18), Qt::AlignLeft | Qt::AlignTop, text);
  }
  return image;
}
