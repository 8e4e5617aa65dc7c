#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "codec/convert.h"
#include "codec/pixel.h"
#include "core/dcmobj.h"
#include "core/log.h"
#include "core/strutil.h"
#include "present/images.h"

namespace {
bool ContainsNoCase(const std::string& text, const std::string& word) {
  return LowerAscii(text).find(word) != std::string::npos;
}

std::string General15(float v) { return FormatGeneral(static_cast<double>(v), 15); }

}  // namespace

void TImages::Load(const DcmObj& dataset) {
  // Only the data set's own elements are taken: an element inside an undefined-length sequence
  // (the Icon Image Sequence among them) or inside a nested sequence entry does not count.
  WalkEntries(dataset, [this](size_t, const DcmTag& t, EntryPlace place) {
    if (place.role == EntryRole::Element && place.depth == 0) ReadElement(t);
  });
  voiLUT = LookupTable();
  voiLUTFound = FindVOILUT(dataset, &voiLUT, nullptr, nullptr);
  CheckPixelSpacing();
}

void TImages::TakeModule() {
  rows = module_.rows < 0 ? 0 : module_.rows;
  columns = module_.columns < 0 ? 0 : module_.columns;
  bitsAllocated = module_.bitsAllocated < 0 ? 0 : module_.bitsAllocated;
  planarConfiguration = module_.planar;
  frames = module_.frames > 0 && module_.frames < 1000000 ? module_.frames : 1;
  modality = module_.modality;
  photometric_ = module_.photometric;
  // Shown in colour: RGB and the YBR_FULL forms (loaded as RGB).
  colour = module_.kind == Photometric::Rgb || module_.kind == Photometric::YbrFull ||
           module_.kind == Photometric::YbrFull422;
  inverted = module_.kind == Photometric::Monochrome1;
}

void TImages::ReadElement(const DcmTag& tag) {
  if (tag.Is(0x0088, 0x0200) && tag.length == kUndefinedLength) {
    inIcon_ = true;
    return;
  }
  if (tag.Is(0x7FE0, 0x0010)) {
    if (inIcon_) {
      inIcon_ = false;
      return;
    }
    TakePixelData(tag);
    return;
  }
  if (inIcon_) return;  // the icon's own elements
  if (ReadPixelModuleElement(tag, module_)) {
    TakeModule();
    return;
  }
  if (tag.Is(0x0028, 0x0030)) {
    pixelSpacing[0] = tag.GetNumber(0);
    pixelSpacing[1] = tag.GetNumber(1);
    return;
  }
  if (tag.Is(0x0028, 0x0402)) {
    std::string label = tag.GetString();
    if (!label.empty()) calibrationLabel = label;
    return;
  }
  if (tag.Is(0x0020, 0x0013)) instanceNumber = static_cast<int>(std::strtol(tag.GetString().c_str(), nullptr, 10));
  if (tag.Is(0x0018, 0x1164)) {
    imagerPixelSpacing[0] = tag.GetNumber(0);
    imagerPixelSpacing[1] = tag.GetNumber(1);
  }
  if (tag.Is(0x0008, 0x0070)) {
    std::string m = tag.GetString();
    if (ContainsNoCase(m, "instrumentarium")) calibrationLabel = "INSTRUMENTARIUM";
    if (ContainsNoCase(m, "soredex")) calibrationLabel = "SOREDEX";
  }
}

void TImages::TakePixelData(const DcmTag& pixel) {
  data.clear();
  if (pixel.length == kUndefinedLength || pixel.data() == nullptr) return;  // encapsulated: nothing to show
  const size_t frameSize = static_cast<size_t>(columns) * static_cast<size_t>(rows) * static_cast<size_t>(bitsAllocated) / 8;
  // Only what the value can fill is allocated: a value shorter than one frame shows nothing, and
  // frames beyond the value are dropped (the last one held may be cut short and is padded).
  const size_t frameBytes = frameSize * (colour ? 3 : 1);
  if (frameBytes == 0) return;
  if (pixel.size() < frameBytes) {
    WriteLog("ERROR, TImages::Load, Pixel Data holds " + std::to_string(pixel.size()) + " bytes, one frame needs " +
             std::to_string(frameBytes));
    return;
  }
  const size_t held = (pixel.size() + frameBytes - 1) / frameBytes;
  if (static_cast<size_t>(frames) > held) frames = static_cast<int>(held);
  const size_t all = frameBytes * static_cast<size_t>(frames);
  data.assign(all, 0);
  const size_t n = std::min(all, pixel.size());
  const uint8_t* src = pixel.data();
  if (colour && planarConfiguration == 1) {
    const size_t plane = static_cast<size_t>(rows) * static_cast<size_t>(columns);
    const size_t f3 = frameSize * 3;
    for (size_t f = 0; f < static_cast<size_t>(frames); ++f) {
      const size_t base = f * f3;
      for (size_t k = 0; k < plane; ++k)
        for (size_t c = 0; c < 3; ++c) {
          const size_t from = base + c * plane + k;
          if (from < n) data[base + 3 * k + c] = src[from];
        }
    }
  } else {
    std::copy(src, src + n, data.begin());
  }
  if (pixel.bigEndian && (pixel.IsVR("OW") || (bitsAllocated == 16 && !pixel.IsVR("OB"))))
    for (size_t k = 0; k + 1 < data.size(); k += 2) std::swap(data[k], data[k + 1]);
  if (colour && bitsAllocated == 8 && photometric_ == "YBR_FULL") YbrFullToRgb(data.data(), data.size() / 3);
}

void TImages::ReadLUT(const DcmObj& sequence, LookupTable& lut) { ReadLUTSequence(sequence, lut); }

size_t TImages::ApplyVOILUT() {
  if (!voiLUTFound || !voiLUT.Ready() || colour || bitsAllocated != 16) return 0;
  const size_t n = data.size() / 2;
  MapThroughLUT(voiLUT, data.data(), n);
  return n;
}

void TImages::CheckPixelSpacing() {
  if (modality != "CR" && modality != "DX" && modality != "MG" && modality != "IO") return;
  if (!calibrationLabel.empty()) return;
  float& i1 = imagerPixelSpacing[0];
  float& i2 = imagerPixelSpacing[1];
  const float p1 = pixelSpacing[0], p2 = pixelSpacing[1];
  if (i1 == 0 || p1 == 0) {
    if (i1 != 0 && i2 != 0) return;
    i1 = p1;
    i2 = p2;
    WriteLog("WARNING, Imager PixelSpacing is empty, Using Pixel Spacing from (0028, 0030)");
  } else if (i1 != p1) {
    WriteLog("WARNING, Imager PixelSpacing (" + General15(i1) + ")!= PixelSpacing ((" + General15(p1) + ")");
  }
}
