// A JPEG file taken as a page (scrivara-cli img, "Add images..."): bounded, decoded whole, its
// metadata left behind. Input: the file's bytes.
#include <string>
#include <vector>

#include "convert/page_jpeg.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Quiet();
  std::vector<uint8_t> jpeg;
  int width = 0, height = 0;
  std::string why;
  PageJpegFromFile(std::vector<uint8_t>(data, data + size), jpeg, width, height, why);
  return 0;
}
