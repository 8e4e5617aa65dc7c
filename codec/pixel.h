#pragma once
// The image pixel module and pixel sample helpers, shared by the conversion, the RLE decoder and
// the image loader.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

class DcmObj;
class DcmTag;

enum class Photometric {
  None,  // no Photometric Interpretation element
  Monochrome1,
  Monochrome2,
  PaletteColor,
  Rgb,
  YbrFull,
  YbrFull422,  // "YBR_FULL_422" (and the misspelt "YBR_FULL422" some writers use)
  YbrPartial422,
  YbrIct,
  YbrRct,
  Other
};
// The kind of a Photometric Interpretation text (trimmed, as GetString gives it).
Photometric PhotometricFrom(const std::string& text);

// The image pixel module of a data set's top level. Rows, Columns and Bits Allocated/Stored are -1
// when absent (the conversion and the loader each decide what a missing one means); other absent
// numbers are 0.
struct PixelModule {
  std::string modality;     // (0008,0060)
  std::string photometric;  // (0028,0004) as written, trimmed
  Photometric kind = Photometric::None;
  int samplesPerPixel = 0;
  int planar = 0;
  int frames = 0;  // (0028,0008) when it is a plain number, else 0
  int rows = -1, columns = -1, bitsAllocated = -1, bitsStored = -1;
  int highBit = 0, pixelRepresentation = 0;
  float intercept = 0.0f, slope = 1.0f;
  size_t pixelIndex = std::numeric_limits<size_t>::max();  // entry of the top-level Pixel Data
  // Colour samples: by the photometric interpretation (neither monochrome nor palette), or, without
  // one, by three samples per pixel.
  bool colour() const {
    if (kind == Photometric::None) return samplesPerPixel == 3;
    return kind != Photometric::Monochrome1 && kind != Photometric::Monochrome2 && kind != Photometric::PaletteColor;
  }
};

// Takes one element of the module into m; false when the element is not one of them.
bool ReadPixelModuleElement(const DcmTag& t, PixelModule& m);
// The module from the data set's top-level elements, up to the first top-level Pixel Data
// element (whose entry becomes pixelIndex).
PixelModule ReadPixelModule(const DcmObj& obj);

// Turns pixel-interleaved 8-bit YBR_FULL samples (Y, Cb, Cr) into R, G, B in place:
// R = Y + 1.402 (Cr - 128), G = Y - 0.344136 (Cb - 128) - 0.714136 (Cr - 128), B = Y + 1.772 (Cb - 128),
// each truncated toward zero and limited to 0..255.
void YbrFullToRgb(uint8_t* samples, size_t pixels);
