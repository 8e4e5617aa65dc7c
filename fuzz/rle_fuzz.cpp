// DecodeRLEFrame on any fragment. Input: photometric choice (1 byte), Bits Allocated choice
// (1 byte), frame length (2 bytes, big endian), then the fragment.
#include <vector>

#include "codec/rle.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  fuzz::Quiet();
  static const char* const kPhotometric[] = {"MONOCHROME2", "MONOCHROME1", "RGB", "YBR_FULL", "YBR_FULL_422", "", "PALETTE COLOR"};
  const char* photometric = kPhotometric[data[0] % 7];
  const int bits = (data[1] & 1) ? 16 : 8;
  const size_t frameLength = size_t(data[2]) << 8 | data[3];
  // An exact-size heap slice, so that any write past it is caught.
  std::vector<uint8_t> frame(frameLength);
  std::vector<uint8_t> fragment(data + 4, data + size);
  DecodeRLEFrame(photometric, fragment.data(), frame.data(), fragment.size(), frame.size(), bits);
  return 0;
}
