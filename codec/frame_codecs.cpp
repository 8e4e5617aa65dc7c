// The frame codec of each encapsulated transfer syntax: how one frame is decoded from its
// fragments and coded into a stream.
#include <string>

#include "codec/convert_internal.h"
#include "codec/j2k.h"
#include "codec/jpeg.h"
#include "codec/reduce.h"
#include "codec/rle.h"

namespace {

bool DecodeRle(const FrameDecode& d) {
  return DecodeRLEFrame(d.obj.photometric, d.src, d.dst, d.len, d.frameLength, d.bitsAllocated);
}

bool DecodeJ2K(const FrameDecode& d) { return DecodeJ2KFrame(d.src, d.dst, d.len, d.frameLength); }

// The data set's word on the colour of a lossy stream (see DecodeJPEG8).
bool RgbSamples(const FrameDecode& d) { return d.obj.photometric == "RGB"; }

bool DecodeJpegLossy(const FrameDecode& d) {
  if (d.bitsAllocated == 8) return DecodeJPEG8(d.src, d.dst, d.len, d.frameLength, RgbSamples(d)) == 0;
  return DecodeJPEG12(d.src, d.dst, d.len, d.frameLength, RgbSamples(d)) == 0;
}

bool DecodeJpegLossless(const FrameDecode& d) {
  if (d.bitsAllocated == 8) return DecodeJPEG8(d.src, d.dst, d.len, d.frameLength, RgbSamples(d)) == 0;
  // Some writers stored raw big-endian samples instead of a lossless stream.
  if (d.len == d.totalSize && d.len == d.frameLength && !(d.len >= 2 && d.src[0] == 0xFF && d.src[1] == 0xD8)) {
    for (size_t k = 0; k + 1 < d.len; k += 2) {
      d.dst[k] = d.src[k + 1];
      d.dst[k + 1] = d.src[k];
    }
    return true;
  }
  return DecodeJPEG16(d.src, d.dst, d.len, d.frameLength) == 0;
}

int Components(const FrameEncode& e) { return e.f.colour ? 3 : 1; }

bool EncodeJpegLossless(const FrameEncode& e) {
  if (e.f.bitsAllocated == 8)
    return EncodeJPEG8(e.f.columns, e.f.rows, Components(e), e.frame, e.f.frameSize, e.out, 4) == 0;
  return EncodeJPEG16(e.f.columns, e.f.rows, 1, e.frame, e.f.frameSize, e.out) == 0;
}

bool EncodeJpegBaseline(const FrameEncode& e) {
  if (e.f.bitsAllocated == 8)
    return EncodeJPEG8(e.f.columns, e.f.rows, Components(e), e.frame, e.f.frameSize, e.out, 0) == 0;
  e.scratch.resize(e.f.frameSize / 2);
  ReducePixelsTo8Bits(e.scratch.data(), e.frame, e.f.pixelRepresentation, e.f.bitsStored, e.slope, e.intercept,
                      e.f.frameSize, e.modality);
  return EncodeJPEG8(e.f.columns, e.f.rows, 1, e.scratch.data(), e.scratch.size(), e.out, 0) == 0;
}

bool EncodeJpegExtended(const FrameEncode& e) {
  if (e.f.bitsStored > 12)
    ReducePixelsTo12Bits(e.frame, e.f.pixelRepresentation, e.slope, e.intercept, e.f.frameSize, e.modality);
  return EncodeJPEG12(e.f.columns, e.f.rows, 1, e.frame, e.f.frameSize, e.out) == 0;
}

bool EncodeJ2K(const FrameEncode& e, int rate) {
  if (!e.f.colour) {
    if (e.f.bitsAllocated == 10 || e.f.bitsAllocated == 12)
      ReducePixelsTo12Bits(e.frame, e.f.pixelRepresentation, e.slope, e.intercept, e.f.frameSize, e.modality);
    else if (e.f.bitsAllocated == 14 || e.f.bitsAllocated == 16)
      RescalePixels16(e.frame, e.f.pixelRepresentation, e.slope, e.intercept, e.f.frameSize, e.modality);
  }
  return EncodeJ2KFrame(e.frame, e.f.frameSize, e.out, e.f.columns, e.f.rows, Components(e), e.f.bitsAllocated, rate);
}

bool EncodeRle(const FrameEncode& e) {
  return EncodeRLEFrame(e.frame, size_t(e.f.columns), size_t(e.f.rows), e.f.colour ? 3 : 1, e.f.bitsAllocated, e.out);
}

bool EncodeJ2KLossless(const FrameEncode& e) { return EncodeJ2K(e, 0); }
bool EncodeJ2KLossy(const FrameEncode& e) { return EncodeJ2K(e, 10); }

// Every encapsulated syntax of the transfer-syntax table; MPEG-2 has no codec here.
const FrameCodec kFrameCodecs[] = {
    {kTsRLE, DecodeRle, EncodeRle, true},
    {kTsJpegLossless, DecodeJpegLossless, EncodeJpegLossless, false},
    {kTsJpegBaseline, DecodeJpegLossy, EncodeJpegBaseline, false},
    {kTsJpegExtended, DecodeJpegLossy, EncodeJpegExtended, false},
    {kTsJpegLossless14, DecodeJpegLossless, nullptr, false},
    {kTsJ2KLossless, DecodeJ2K, EncodeJ2KLossless, true},
    {kTsJ2K, DecodeJ2K, EncodeJ2KLossy, true},
    {kTsMpeg2, nullptr, nullptr, false},
};

}  // namespace

const FrameCodec* FindFrameCodec(const std::string& ts) {
  for (const FrameCodec& c : kFrameCodecs)
    if (ts == c.transferSyntax) return &c;
  return nullptr;
}
