// An image file taken as pages (scrivara-cli img, "Add images..."): JPEG, PNG, TIFF and BMP,
// bounded, decoded whole, turned upright. Input: the file's bytes.
#include <string>
#include <vector>

#include "convert/image_import.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::ScratchFile file(".img");
  fuzz::Quiet();
  std::vector<ImportProblem> problems;
  ImportImageFile(file.Write(data, size), [](ImportedPage&&) {}, problems);
  return 0;
}
