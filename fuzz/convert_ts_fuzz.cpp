// DcmObj::ConvertTransferSyntax on a fuzzed image data set. Input: target choice (1 byte), then a
// Part 10 file.
#include <string>

#include "codec/convert.h"
#include "core/dcmobj.h"
#include "fuzz/fuzz_support.h"
#include "core/transfer_syntax.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::Quiet();
  static const char* const kTargets[] = {
      kTsImplicitLE,   kTsExplicitLE,   kTsExplicitBE,  kTsJpegBaseline,   kTsJpegExtended, kTsJpegLossless,
      kTsJ2KLossless,  kTsJ2K,          kTsRLE,         kTsJpegLossless14, kTsMpeg2,        ""};
  const std::string target = kTargets[data[0] % 12];
  static fuzz::ScratchFile file(".dcm");
  DcmObj obj;
  if (!obj.Read(file.Write(data + 1, size - 1))) return 0;
  ConvertTransferSyntax(obj, target);
  return 0;
}
