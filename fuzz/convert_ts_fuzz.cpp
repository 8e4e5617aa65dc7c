// DcmObj::ConvertTransferSyntax on a fuzzed image data set. Input: target choice (1 byte), then a
// Part 10 file.
#include <string>

#include "codec/convert.h"
#include "core/dcmobj.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::Quiet();
  static const char* const kTargets[] = {
      "1.2.840.10008.1.2",      "1.2.840.10008.1.2.1",    "1.2.840.10008.1.2.2",    "1.2.840.10008.1.2.4.50",
      "1.2.840.10008.1.2.4.51", "1.2.840.10008.1.2.4.70", "1.2.840.10008.1.2.4.90", "1.2.840.10008.1.2.4.91",
      "1.2.840.10008.1.2.5",    "1.2.840.10008.1.2.4.57", "1.2.840.10008.1.2.4.100", ""};
  const std::string target = kTargets[data[0] % 12];
  static fuzz::ScratchFile file(".dcm");
  DcmObj obj;
  if (!obj.Read(file.Write(data + 1, size - 1))) return 0;
  ConvertTransferSyntax(obj, target);
  return 0;
}
