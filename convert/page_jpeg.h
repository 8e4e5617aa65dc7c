#pragma once
// The page JPEG of a scanned page: baseline JFIF 1.01 (density unit 0, 1 x 1), three components
// in YCbCr with luminance sampled 2 x 2 and chroma 1 x 1, quality 90 with baseline-limited tables,
// standard Huffman tables. Grey pages are encoded the same way, with three components.
#include <cstdint>
#include <vector>

#include "present/bitmap.h"

// Encodes the bitmap into jpeg (replacing its contents). An empty or inconsistent bitmap, a side
// above 65500 pixels, or an encoder error fails with one log line "ERROR, EncodePageJpeg, ...".
bool EncodePageJpeg(const Bitmap& page, std::vector<uint8_t>& jpeg);
