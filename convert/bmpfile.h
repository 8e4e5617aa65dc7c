#pragma once
// BMP files (BITMAPFILEHEADER + BITMAPINFOHEADER or a later header): 1, 4 and 8 bits with a colour
// table, 24 bits, and 32 bits plain or with channel masks (alpha laid over white).
#include <string>

#include "present/bitmap.h"

// Reads a BMP file's bytes (bottom-up or top-down rows) into bitmap. Any other file (another depth, run-length
// compression, a header or colour table that does not fit the file, rows missing) fails with the
// reason in why and leaves bitmap as it was.
bool ReadBmp(const std::string& bytes, Bitmap& bitmap, std::string& why);
// The file read and ReadBmp, a failure logged as "ERROR, LoadBmpFile, <why>: <path>".
bool LoadBmpFile(const std::string& path, Bitmap& bitmap);
// Writes the bitmap as a bottom-up 24-bit BMP with a BITMAPINFOHEADER, first under a temporary
// name. An empty bitmap, or a write error, fails with one log line "ERROR, SaveBmpFile, ...".
bool SaveBmpFile(const std::string& path, const Bitmap& bitmap);
