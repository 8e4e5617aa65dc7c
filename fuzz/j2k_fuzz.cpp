// DecodeJ2KFrame on any code stream. Input: destination length (2 bytes, big endian), then the stream.
#include <vector>

#include "codec/j2k.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  fuzz::Quiet();
  std::vector<uint8_t> destination(size_t(data[0]) << 8 | data[1]);
  std::vector<uint8_t> stream(data + 2, data + size);
  DecodeJ2KFrame(stream.data(), destination.data(), stream.size(), destination.size());
  return 0;
}
