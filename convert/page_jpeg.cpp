#include "convert/page_jpeg.h"

#include <algorithm>
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
    why = "a damaged JPEG image (the decoder cannot read it)";
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

std::string PageSizeProblem(int width, int height) {
  if (width > 0 && height > 0 && width <= kMaxPageSide && height <= kMaxPageSide &&
      uint64_t(width) * uint64_t(height) <= kMaxPagePixels)
    return "";
  return "a page of " + std::to_string(width) + " x " + std::to_string(height) +
         " pixels (the largest taken is an A3 page at 600 dpi, 7016 x 9921 pixels, and no side over " +
         std::to_string(kMaxPageSide) + ")";
}

size_t WalkJpegSegments(const std::vector<uint8_t>& s,
                        const std::function<void(uint8_t marker, size_t at, size_t length)>& segment) {
  size_t p = 2;
  while (p + 4 <= s.size() && s[p] == 0xFF) {
    const uint8_t marker = s[p + 1];
    if (marker == 0xFF) {  // fill byte
      ++p;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) break;  // the scan: from here on all is image data
    const size_t length = size_t(s[p + 2]) << 8 | s[p + 3];
    if (length < 2 || p + 2 + length > s.size()) break;
    segment(marker, p, 2 + length);
    p += 2 + length;
  }
  return std::min(p, s.size());
}

// APP1 to APP13 and APP15 and comments go; SOI, APP0 (JFIF), APP14 (Adobe, the colour transform),
// the tables, the frame and everything from the first scan on stay as they are.
std::vector<uint8_t> JpegWithoutMetadata(const std::vector<uint8_t>& s) {
  if (s.size() < 2) return s;
  std::vector<uint8_t> out(s.begin(), s.begin() + 2);
  const size_t end = WalkJpegSegments(s, [&](uint8_t marker, size_t at, size_t length) {
    const bool metadata = (marker >= 0xE1 && marker <= 0xED) || marker == 0xEF || marker == 0xFE;
    if (!metadata) out.insert(out.end(), s.begin() + long(at), s.begin() + long(at + length));
  });
  out.insert(out.end(), s.begin() + long(end), s.end());
  return out;
}
