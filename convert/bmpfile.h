#pragma once
// 24-bit BMP files (BITMAPFILEHEADER + BITMAPINFOHEADER or a later header, uncompressed).
#include <string>

#include "present/bitmap.h"

// Reads a 24-bit uncompressed BMP (bottom-up or top-down rows) into bitmap. Any other file (another
// depth, compression, a header that does not fit the file, rows missing) fails with one log line
// "ERROR, LoadBmpFile, ..." and leaves bitmap as it was.
bool LoadBmpFile(const std::string& path, Bitmap& bitmap);
// Writes the bitmap as a bottom-up 24-bit BMP with a BITMAPINFOHEADER, first under a temporary
// name. An empty bitmap, or a write error, fails with one log line "ERROR, SaveBmpFile, ...".
bool SaveBmpFile(const std::string& path, const Bitmap& bitmap);
