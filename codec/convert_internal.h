#pragma once
// Pieces shared by the conversion and the encapsulation code.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/dcmobj.h"
#include "core/transfer_syntax.h"

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

// One frame to decode: its stream (fragments joined) and its slice of the native frames.
struct FrameDecode {
  const DcmObj& obj;  // its `photometric` text says how colour is coded
  const uint8_t* src;
  size_t len;
  uint8_t* dst;
  size_t frameLength;
  size_t totalSize;  // all frames
  int bitsAllocated;
};

// One native frame to code into out (scratch: a work buffer the coder may use).
struct FrameEncode {
  uint8_t* frame;
  const FrameLayout& f;
  float slope, intercept;
  const std::string& modality;
  ByteBuffer& scratch;
  std::vector<uint8_t>& out;
};

// The frame codec of an encapsulated transfer syntax.
struct FrameCodec {
  const char* transferSyntax;
  bool (*decode)(const FrameDecode&);  // nullptr: no decoder
  bool (*encode)(const FrameEncode&);  // nullptr: not a target
  bool colourBeyond8Bits;              // codes colour samples wider than 8 bits
};

// The codec of an encapsulated syntax; nullptr for a native or unknown one.
const FrameCodec* FindFrameCodec(const std::string& ts);

inline bool IsEncapsulatedTarget(const std::string& ts) {
  const FrameCodec* c = FindFrameCodec(ts);
  return c != nullptr && c->encode != nullptr;
}
inline bool IsLossyTarget(const std::string& ts) {
  const TransferSyntax* t = FindTransferSyntax(ts);
  return t != nullptr && t->lossy;
}
