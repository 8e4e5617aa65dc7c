// ReadRtf on any bytes, then the model written and read again.
#include <string_view>

#include "convert/rtf.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Quiet();
  StyledText doc;
  if (ReadRtf(std::string_view(reinterpret_cast<const char*>(data), size), doc, "fuzz")) {
    StyledText back;
    ReadRtf(WriteRtf(doc), back, "fuzz");
  }
  return 0;
}
