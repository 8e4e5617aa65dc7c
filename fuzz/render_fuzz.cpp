// TImages::Load and DCMPresentation::Render on a fuzzed image data set. Input: view settings
// (4 bytes: scale, window width, window centre, pan/frame), then a Part 10 file.
#include "core/dcmobj.h"
#include "fuzz/fuzz_support.h"
#include "present/bitmap.h"
#include "present/images.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  fuzz::Quiet();
  static fuzz::ScratchFile file(".dcm");
  DcmObj obj;
  obj.Read(file.Write(data + 4, size - 4));
  TImages image;
  image.Load(obj);
  image.ApplyVOILUT();
  DCMPresentation view(&image);
  view.scale = 0.25f + data[0] / 32.0f;
  view.windowWidth = (data[1] << 4) - 256;
  view.windowCenter = (data[2] << 4) - 512;
  Bitmap bitmap(37, 29);
  view.Render(bitmap, (data[3] & 7) - 4, ((data[3] >> 3) & 7) - 4, data[3] >> 7, 1, (data[3] >> 6) & 1);
  return 0;
}
