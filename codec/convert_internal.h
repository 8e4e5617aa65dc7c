#pragma once
// Pieces shared by the conversion and the encapsulation code.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/dcmobj.h"
#include "core/transfer_syntax.h"

inline bool IsEncapsulatedTarget(const std::string& ts) {
  return ts == kTsJpegBaseline || ts == kTsJpegExtended || ts == kTsJpegLossless || ts == kTsJ2KLossless ||
         ts == kTsJ2K;
}
inline bool IsLossyTarget(const std::string& ts) {
  return ts == kTsJpegBaseline || ts == kTsJpegExtended || ts == kTsJ2K;
}

struct FrameLayout {
  bool colour = false;
  int columns = 1, rows = 1, bitsStored = 1, bitsAllocated = 1, pixelRepresentation = 0, frames = 1;
  size_t frameSize = 0;  // bytes of one frame
  size_t totalSize = 0;  // bytes of all frames
};

inline FrameLayout MakeLayout(bool colour, int columns, int rows, int bitsStored, int bitsAllocated,
                              int pixelRepresentation, int frames) {
  FrameLayout f;
  f.colour = colour;
  f.columns = columns;
  f.rows = rows;
  f.bitsStored = bitsStored;
  f.bitsAllocated = bitsAllocated;
  f.pixelRepresentation = pixelRepresentation;
  f.frames = frames < 1 ? 1 : frames;
  f.frameSize = static_cast<size_t>(columns) * static_cast<size_t>(rows) * static_cast<size_t>(bitsAllocated) / 8;
  if (colour) f.frameSize *= 3;
  f.totalSize = f.frameSize * static_cast<size_t>(f.frames);
  return f;
}

void InsertRangeAt(DcmObj& obj, std::vector<DcmTag>&& tags, size_t index);
// Codes every frame for an encapsulated target (streams filled, encapsulated true), or does
// nothing for a native one (encapsulated false). False (logged) when a frame can't be coded.
bool EncodeFrames(uint8_t* buffer, const FrameLayout& f, float slope, float intercept, const std::string& ts,
                  const std::string& modality, std::vector<std::vector<uint8_t>>& streams, bool& encapsulated);
// Turns the Pixel Data entry at index into encapsulated form holding the streams; index ends on the
// delimiter. Returns the ratio for lossy targets, -1 when there is none.
float StoreEncapsulated(DcmObj& obj, size_t& index, std::vector<std::vector<uint8_t>>&& streams, size_t totalSize,
                        bool lossy);
void StoreNative(DcmObj& obj, size_t index, ByteBuffer&& frames, int bitsAllocated);

// Frame codec adapters for RLE and JPEG 2000 (results as bool).
bool DecodeRLEFrameAdapter(const DcmObj& obj, const uint8_t* fragment, size_t fragmentLength, uint8_t* destination,
                           size_t frameLength, int bitsAllocated);
bool DecodeJ2KFrameAdapter(const uint8_t* stream, size_t length, uint8_t* destination, size_t frameLength);
bool EncodeJ2KFrameAdapter(const uint8_t* source, size_t sourceLength, std::vector<uint8_t>& out, int width,
                           int height, int components, int bits, int rate);
