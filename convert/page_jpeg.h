#pragma once
// The page JPEG of a scanned page: baseline JFIF 1.01 (density unit 0, 1 x 1), three components
// in YCbCr with luminance sampled 2 x 2 and chroma 1 x 1, quality 90 with baseline-limited tables,
// standard Huffman tables. Grey pages are encoded the same way, with three components.
#include <cstdint>
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

// The largest page taken from an image file: 30000 pixels a side and 100 million pixels in all (an
// A3 sheet at 600 dpi is 70 million). A larger frame is refused before anything is allocated for it.
inline constexpr int kMaxPageSide = 30000;
inline constexpr uint64_t kMaxPagePixels = 100'000'000;
// "" when a page of width x height pixels may be taken, else the reason.
std::string PageSizeProblem(int width, int height);

// Checks a JPEG file's stream before it becomes a page: a frame within the largest page and within
// what its data could code (at most 2048 pixels a byte), and every part of it decoded without damage (a stream cut short, or with corrupt data, is refused), into
// page (24-bit). False with the reason in why.
bool DecodeJpegFile(const std::vector<uint8_t>& file, JpegStreamInfo& info, Bitmap& page, std::string& why);

// The page JPEG of a JPEG file for the command line's img: the file's stream as it stands when
// FitsPageLabel, less every segment that is not image data (EXIF, XMP, comments, ...: a photo's
// position, owner and camera never reach the PACS), else the page re-encoded from its pixels;
// the checks of DecodeJpegFile first.
bool PageJpegFromFile(const std::vector<uint8_t>& file, std::vector<uint8_t>& jpeg, int& width, int& height,
                      std::string& why);
