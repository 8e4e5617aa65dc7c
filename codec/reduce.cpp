#include "codec/reduce.h"

#include <cmath>

namespace {

// Rescaled value of the sample at p: intercept + slope * s in extended precision, truncated
// toward zero, plus 1024 for CT. Values far outside any sample range are limited first so
// that the conversion to an integer is defined.
int64_t RescaledSample(const uint8_t* p, bool isSigned, double slope, double intercept, bool ct) {
  uint16_t raw = static_cast<uint16_t>(p[0] | (p[1] << 8));
  long double s = isSigned ? static_cast<long double>(static_cast<int16_t>(raw)) : static_cast<long double>(raw);
  long double v = static_cast<long double>(intercept) + static_cast<long double>(slope) * s;
  constexpr long double kLimit = 1e15L;
  if (std::isnan(v)) v = 0;
  if (v > kLimit) v = kLimit;
  if (v < -kLimit) v = -kLimit;
  int64_t r = static_cast<int64_t>(v);  // truncates toward zero
  if (ct) r += 1024;
  return r;
}

int64_t Limit(int64_t v, int64_t hi) { return v < 0 ? 0 : (v > hi ? hi : v); }

}  // namespace

void ReducePixelsTo8Bits(uint8_t* destination, const uint8_t* source, int pixelRepresentation, int bitsStored,
                         double slope, double intercept, size_t byteCount, const std::string& modality) {
  int shift = 0;
  switch (bitsStored) {
    case 10: shift = 2; break;
    case 12: shift = 4; break;
    case 14: shift = 6; break;
    case 16: shift = 8; break;
    default: shift = 0; break;
  }
  const bool ct = modality == "CT";
  if (ct) shift = 4;
  if (modality == "NM") shift = 0;
  const bool isSigned = pixelRepresentation != 0;
  for (size_t off = 0; off + 1 < byteCount; off += 2) {
    int64_t v = RescaledSample(source + off, isSigned, slope, intercept, ct);
    v >>= shift;  // arithmetic for negative values
    destination[off / 2] = static_cast<uint8_t>(Limit(v, 255));
  }
}

void ReducePixelsTo12Bits(uint8_t* buffer, int pixelRepresentation, double slope, double intercept,
                          size_t byteCount, const std::string& modality) {
  const bool ct = modality == "CT";
  const int shift = (modality == "DX" || modality == "CR") ? 3 : 0;
  const bool isSigned = pixelRepresentation != 0;
  for (size_t off = 0; off + 1 < byteCount; off += 2) {
    int64_t v = RescaledSample(buffer + off, isSigned, slope, intercept, ct) >> shift;
    uint16_t w = static_cast<uint16_t>(Limit(v, 4095));
    buffer[off] = static_cast<uint8_t>(w & 0xFF);
    buffer[off + 1] = static_cast<uint8_t>(w >> 8);
  }
}

void RescalePixels16(uint8_t* buffer, int pixelRepresentation, double slope, double intercept, size_t byteCount,
                     const std::string& modality) {
  const bool ct = modality == "CT";
  const bool isSigned = pixelRepresentation != 0;
  for (size_t off = 0; off + 1 < byteCount; off += 2) {
    int64_t v = RescaledSample(buffer + off, isSigned, slope, intercept, ct);
    if (v < 0) v = 0;
    uint16_t w = static_cast<uint16_t>(v & 0xFFFF);
    buffer[off] = static_cast<uint8_t>(w & 0xFF);
    buffer[off + 1] = static_cast<uint8_t>(w >> 8);
  }
}
