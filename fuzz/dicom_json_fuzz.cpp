// ReadDicomJson on any text: the DICOM JSON answers of a DICOMweb service (search results, the
// store answer).
#include <memory>
#include <string>
#include <vector>

#include "core/dcmobj.h"
#include "fuzz/fuzz_support.h"
#include "net/dicomweb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Quiet();
  std::vector<std::unique_ptr<DcmObj>> objects;
  std::string why;
  ReadDicomJson(std::string(reinterpret_cast<const char*>(data), size), objects, why);
  return 0;
}
