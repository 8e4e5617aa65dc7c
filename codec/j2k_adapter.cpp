// JPEG 2000 adapter with the conversion's argument order.
#include "codec/convert_internal.h"
#include "codec/j2k.h"

bool DecodeJ2KFrameAdapter(const uint8_t* stream, size_t length, uint8_t* destination, size_t frameLength) {
  return DecodeJ2KFrame(stream, destination, length, frameLength);
}

bool EncodeJ2KFrameAdapter(const uint8_t* source, size_t sourceLength, std::vector<uint8_t>& out, int width,
                           int height, int components, int bits, int rate) {
  return EncodeJ2KFrame(source, sourceLength, out, width, height, components, bits, rate);
}
