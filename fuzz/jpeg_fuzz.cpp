// The three JPEG decoders on any stream. Input: decoder choice (1 byte: 8, 12 or 16 bits),
// destination length (2 bytes, big endian), then the stream.
#include <vector>

#include "codec/jpeg.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  fuzz::Quiet();
  std::vector<uint8_t> destination(size_t(data[1]) << 8 | data[2]);
  std::vector<uint8_t> stream(data + 3, data + size);
  switch (data[0] % 3) {
    case 0: DecodeJPEG8(stream.data(), destination.data(), stream.size(), destination.size()); break;
    case 1: DecodeJPEG12(stream.data(), destination.data(), stream.size(), destination.size()); break;
    default: DecodeJPEG16(stream.data(), destination.data(), stream.size(), destination.size()); break;
  }
  return 0;
}
