#pragma once
// Native image data sets loaded for display (TImages) and drawn into 24-bit BGR bitmaps through a
// view (DCMPresentation). Encapsulated pixel data is not loaded: the image then has no data and
// drawing leaves only the background.
#include <cstdint>
#include <string>
#include <vector>

#include "codec/lut.h"
#include "codec/pixel.h"
#include "present/bitmap.h"

class DcmObj;
class DcmTag;

class TImages {
 public:
  int rows = 0;
  int columns = 0;
  int bitsAllocated = 0;
  int planarConfiguration = 0;
  int frames = 1;
  bool colour = false;    // Photometric Interpretation "RGB" or YBR_FULL (loaded as RGB)
  bool inverted = false;  // "MONOCHROME1"
  std::string modality;
  int instanceNumber = 0;
  float imagerPixelSpacing[2] = {0, 0};  // (0018,1164)
  float pixelSpacing[2] = {0, 0};        // (0028,0030)
  std::string calibrationLabel;
  LookupTable voiLUT;
  bool voiLUTFound = false;
  // Native pixel data: all frames, colour pixel-interleaved (three bytes per pixel).
  std::vector<uint8_t> data;

  // Fills the image from the data set's top-level elements, reads a VOI LUT Sequence held either
  // as a nested entry or flat, and checks the pixel spacing of projection radiographs.
  void Load(const DcmObj& dataset);
  // Takes one top-level element. Elements of an Icon Image Sequence do not count.
  void ReadElement(const DcmTag& tag);
  // Reads a LookupTable from the items of a LUT sequence held as a nested entry; a later item
  // replaces an earlier one's descriptor and data.
  static void ReadLUT(const DcmObj& sequence, LookupTable& lut);
  // Maps the 16-bit stored values of every loaded frame through voiLUT. Nothing happens
  // without a ready LUT or without 16-bit data. Returns the number of samples mapped.
  size_t ApplyVOILUT();

 private:
  std::string photometric_;
  PixelModule module_;   // the pixel module elements taken so far
  bool inIcon_ = false;  // between an Icon Image Sequence and its Pixel Data
  void TakeModule();     // the public fields from module_
  void TakePixelData(const DcmTag& pixel);
  void CheckPixelSpacing();
};

class DCMPresentation {
 public:
  explicit DCMPresentation(const TImages* image = nullptr) : image(image) {}
  const TImages* image;
  float scale = 1.0f;  // source pixels per output pixel
  int windowWidth = 255;
  int windowCenter = 127;
  RGBColor background{};  // black

  // Fills the bitmap with the background and draws the frame into it, bilinearly interpolated,
  // centred, shifted by the pan (output pixels) and leaving the margins. Colour images go
  // through the display table of windowWidth and windowCenter; grayscale images (8 or 16 bits)
  // through the same window applied to the stored values.
  void Render(Bitmap& bitmap, int panX, int panY, int marginX, int marginY, int frame) const;
};
