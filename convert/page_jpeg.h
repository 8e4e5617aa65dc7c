#pragma once
// The page JPEG of a scanned page: baseline JFIF 1.01 (density unit 0, 1 x 1), three components
// in YCbCr with luminance sampled 2 x 2 and chroma 1 x 1, quality 90 with baseline-limited tables,
// standard Huffman tables. Grey pages are encoded the same way, with three components.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "codec/jpeg.h"
#include "present/bitmap.h"

// Encodes the bitmap into jpeg (replacing its contents). An empty or inconsistent bitmap, a side
// above 65500 pixels, or an encoder error fails with one log line "ERROR, EncodePageJpeg, ...".
bool EncodePageJpeg(const Bitmap& page, std::vector<uint8_t>& jpeg);

// True when a JPEG can go into a page object as it stands, labelled "YBR_FULL_422" as the page
// JPEG is: baseline, 8-bit, three components coded as YCbCr (no Adobe marker saying RGB, no R G B
// component ids) with the luminance sampled 2 x 2 or 2 x 1 and both chroma components 1 x 1.
bool FitsPageLabel(const JpegStreamInfo& info);

// Decodes an 8-bit grey or colour JPEG of any process the decoders know (baseline, progressive,
// extended, lossless) into a page bitmap. False with the reason in `why` (12-bit or 16-bit
// samples, other component counts, an unreadable stream).
bool DecodeJpegToBitmap(const std::vector<uint8_t>& jpeg, const JpegStreamInfo& info, Bitmap& page, std::string& why);

// The largest page taken from an image file: an A3 sheet at 600 dpi (7016 x 9921 pixels, either
// way up), and no side over 30000 pixels. A larger frame is refused before anything is allocated
// for it.
inline constexpr int kMaxPageSide = 30000;
inline constexpr uint64_t kMaxPagePixels = uint64_t(7016) * 9921;
// "" when a page of width x height pixels may be taken, else the reason, naming the size and the limit.
std::string PageSizeProblem(int width, int height);

// Walks the marker segments of a JPEG stream from SOI to the first scan, bounded by the stream:
// `segment` gets each marker and the offset and length of its whole segment (marker included).
// Returns the offset where the walk stopped (the first scan, or what cannot be a segment).
size_t WalkJpegSegments(const std::vector<uint8_t>& jpeg,
                        const std::function<void(uint8_t marker, size_t at, size_t length)>& segment);

// The stream without the segments that are not image data (EXIF, XMP, ICC, IPTC, comments): a
// photo's position, owner and camera never reach the PACS.
std::vector<uint8_t> JpegWithoutMetadata(const std::vector<uint8_t>& jpeg);
