#include "convert/page_jpeg.h"

#include <string>

#include "codec/jpeg.h"
#include "core/log.h"

bool EncodePageJpeg(const Bitmap& page, std::vector<uint8_t>& jpeg) {
  if (page.Empty() || page.stride < size_t(page.width) * 3 || page.pixels.size() < page.stride * size_t(page.height)) {
    WriteLog("ERROR, EncodePageJpeg, empty or inconsistent bitmap");
    return false;
  }
  std::string why;
  if (EncodePageJPEG(page.width, page.height, page.pixels.data(), page.stride, jpeg, &why) != 0) {
    WriteLog("ERROR, EncodePageJpeg, " + why);
    return false;
  }
  return true;
}

bool FitsPageLabel(const JpegStreamInfo& f) {
  if (f.sofMarker != 0xC0 || f.precision != 8 || f.components != 3 || f.adobeTransform == 0) return false;
  const auto& c = f.component;
  if (c[0].id == 'R' && c[1].id == 'G' && c[2].id == 'B') return false;
  const bool luminance = c[0].h == 2 && (c[0].v == 2 || c[0].v == 1);
  return luminance && c[1].h == 1 && c[1].v == 1 && c[2].h == 1 && c[2].v == 1;
}

bool DecodeJpegToBitmap(const std::vector<uint8_t>& jpeg, const JpegStreamInfo& f, Bitmap& page, std::string& why) {
  if (f.precision != 8) {
    why = std::to_string(f.precision) + "-bit samples (only 8-bit JPEG images are taken)";
    return false;
  }
  if (f.components != 1 && f.components != 3) {
    why = std::to_string(f.components) + " colour components (only grey or colour JPEG images are taken)";
    return false;
  }
  if (f.width <= 0 || f.height <= 0 || f.width > 65500 || f.height > 65500) {
    why = "a frame of " + std::to_string(f.width) + " x " + std::to_string(f.height) + " pixels";
    return false;
  }
  std::vector<uint8_t> samples(static_cast<size_t>(f.width) * f.height * f.components);
  if (DecodeJPEG8(jpeg.data(), samples.data(), jpeg.size(), samples.size()) != 0) {
    why = "a stream the decoder cannot read";
    return false;
  }
  page.Resize(f.width, f.height);
  for (int y = 0; y < f.height; ++y) {
    const uint8_t* s = samples.data() + static_cast<size_t>(y) * f.width * f.components;
    uint8_t* d = page.Row(y);
    for (int x = 0; x < f.width; ++x, d += 3, s += f.components) {
      if (f.components == 1) {
        d[0] = d[1] = d[2] = s[0];
      } else {
        d[0] = s[2];
        d[1] = s[1];
        d[2] = s[0];
      }
    }
  }
  return true;
}
