#pragma once
// The pictures the acquisition form shows of a page: the preview and the numbered thumbnail.
#include <QImage>
#include <string>

#include "present/bitmap.h"

// The 640 x 480 preview: an empty rectangle (white inside a black outline) with the page scaled to
// fit and centred (PreviewRect).
QImage PreviewImage(const Bitmap& page);

// The thumbnail with its label (the Instance Number) in white, with a dark shadow, at the top left;
// no label, no text.
QImage ThumbnailImage(const Bitmap& thumbnail, const std::string& label);
