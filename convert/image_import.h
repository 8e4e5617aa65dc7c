#pragma once
// Pages from image files, the same for the command line's img and the acquisition form's "Add
// images...": the same file gives the same page JPEG either way.
//
// Taken, by content (not by the file's name): JPEG (baseline, progressive, arithmetic, grey, colour,
// CMYK and YCCK; 8-bit only), PNG (1 to 16 bits, palette, grey, alpha), TIFF (every page; fax,
// LZW, Deflate, PackBits, JPEG; 8 and 16 bits; CMYK) and BMP (1, 4, 8, 24 and 32 bits).
// Transparency is laid over white paper; EXIF orientation is applied. A JPEG that can go into a
// page object as it stands (FitsPageLabel) keeps its coded data: an orientation is applied to it by
// the lossless transform where its size allows, and its metadata segments are dropped. Every other
// page is encoded as the page JPEG. Pages larger than PageSizeProblem allows are refused before
// memory is taken for them.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "present/bitmap.h"

struct ImportedPage {
  Bitmap page;                // the decoded page, upright, over white
  std::vector<uint8_t> jpeg;  // its page JPEG
  std::string name;           // the file's name, with " page n" for a page of a multi-page file
};

// What could not be taken: "the image file X" or "page 2 of 3 of X", and why.
struct ImportProblem {
  std::string what;
  std::string why;
};

// Reads every page of the image file at `path` in order and hands each to `take`. A page or file
// that cannot be taken adds a problem (and one log line "ERROR, ImportImageFile, ..."); the other
// pages of the file are still taken. `cancelled`, when given, is asked before each page. Returns the
// number of pages taken.
size_t ImportImageFile(const std::string& path, const std::function<void(ImportedPage&&)>& take,
                       std::vector<ImportProblem>& problems, const std::function<bool()>& cancelled = {});

// The JPEG operations the import and a page turned in the form share.
enum class JpegTurn { None, MirrorH, Half, MirrorV, Transpose, Quarter, Transverse, ThreeQuarters };
// The turn that stands an image upright by its EXIF orientation (1 to 8; anything else None).
JpegTurn TurnForOrientation(int orientation);
// The EXIF orientation of a JPEG stream's APP1 "Exif" segment, or of a raw EXIF block ("Exif\0\0"
// and the TIFF header); 1 without one.
int ExifOrientation(const std::vector<uint8_t>& data);
// The stream turned without decoding its coded data (every MCU whole; metadata segments dropped).
// False when the turn would leave partial blocks at an edge, or the stream cannot be transformed.
bool TurnJpegLosslessly(const std::vector<uint8_t>& jpeg, JpegTurn turn, std::vector<uint8_t>& out);
// The bitmap turned or mirrored as `turn` says.
Bitmap TurnedBitmap(Bitmap page, JpegTurn turn);
