#pragma once
// Sample reductions applied before a frame is coded: each reads 16-bit little-endian samples
// (signed when pixelRepresentation != 0), applies the rescale slope and intercept, adds 1024 for
// CT, and brings the value into the coder's range. byteCount is the size of the 16-bit input in
// bytes; a trailing odd byte is left alone.
#include <cstddef>
#include <cstdint>
#include <string>

// One output byte per input sample, written to destination[offset / 2]. The right shift comes
// from bitsStored (10 -> 2, 12 -> 4, 14 -> 6, 16 -> 8, else 0); CT forces 4, NM forces 0.
// The result is limited to 0..255.
void ReducePixelsTo8Bits(uint8_t* destination, const uint8_t* source, int pixelRepresentation, int bitsStored,
                         double slope, double intercept, size_t byteCount, const std::string& modality);

// In place: shift right by 3 for DX and CR, else 0; limited to 0..4095.
void ReducePixelsTo12Bits(uint8_t* buffer, int pixelRepresentation, double slope, double intercept,
                          size_t byteCount, const std::string& modality);

// In place: no shift; negative values become 0, the low 16 bits are kept.
void RescalePixels16(uint8_t* buffer, int pixelRepresentation, double slope, double intercept, size_t byteCount,
                     const std::string& modality);
