#include "codec/pixel.h"

#include <charconv>

#include "core/dcmobj.h"
#include "core/strutil.h"

namespace {

uint8_t Clamp255(double v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : static_cast<int>(v))); }

int ParseFrames(const std::string& text) {
  const std::string t = Trim(text);
  int v = 0;
  const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
  if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return 0;
  return v;
}

}  // namespace

Photometric PhotometricFrom(const std::string& text) {
  struct Name {
    const char* text;
    Photometric kind;
  };
  static const Name kNames[] = {
      {"MONOCHROME1", Photometric::Monochrome1}, {"MONOCHROME2", Photometric::Monochrome2},
      {"PALETTE COLOR", Photometric::PaletteColor}, {"RGB", Photometric::Rgb},
      {"YBR_FULL", Photometric::YbrFull},          {"YBR_FULL_422", Photometric::YbrFull422},
      {"YBR_FULL422", Photometric::YbrFull422},    {"YBR_PARTIAL_422", Photometric::YbrPartial422},
      {"YBR_ICT", Photometric::YbrIct},            {"YBR_RCT", Photometric::YbrRct},
  };
  for (const Name& n : kNames)
    if (text == n.text) return n.kind;
  // Anything else that starts like a monochrome or palette text keeps its colour sense.
  if (text.rfind("MON", 0) == 0) return Photometric::Monochrome2;
  if (text.rfind("PAL", 0) == 0) return Photometric::PaletteColor;
  return Photometric::Other;
}

bool ReadPixelModuleElement(const DcmTag& t, PixelModule& m) {
  if (t.Is(0x0008, 0x0060)) {
    m.modality = t.GetString();
    return true;
  }
  if (t.group != 0x0028) return false;
  switch (t.element) {
    case 0x0002: m.samplesPerPixel = t.GetUS(); return true;
    case 0x0004:
      m.photometric = t.GetString();
      m.kind = PhotometricFrom(m.photometric);
      return true;
    case 0x0006: m.planar = t.GetUS(); return true;
    case 0x0008: m.frames = ParseFrames(t.GetString()); return true;
    case 0x0010: m.rows = t.GetUS(); return true;
    case 0x0011: m.columns = t.GetUS(); return true;
    case 0x0100: m.bitsAllocated = t.GetUS(); return true;
    case 0x0101: m.bitsStored = t.GetUS(); return true;
    case 0x0102: m.highBit = t.GetUS(); return true;
    case 0x0103: m.pixelRepresentation = t.GetUS(); return true;
    case 0x1052: m.intercept = t.GetNumber(); return true;
    case 0x1053: m.slope = t.GetNumber(); return true;
    default: return false;
  }
}

PixelModule ReadPixelModule(const DcmObj& obj) {
  PixelModule m;
  WalkEntries(obj, [&m](size_t i, const DcmTag& t, EntryPlace place) {
    if (place.role != EntryRole::Element || place.depth != 0) return true;
    if (t.Is(0x7FE0, 0x0010)) {
      m.pixelIndex = i;
      return false;
    }
    ReadPixelModuleElement(t, m);
    return true;
  });
  return m;
}

void YbrFullToRgb(uint8_t* p, size_t pixels) {
  for (size_t k = 0; k < pixels; ++k, p += 3) {
    const double y = p[0], cb = p[1] - 128.0, cr = p[2] - 128.0;
    p[0] = Clamp255(y + 1.402 * cr);
    p[1] = Clamp255(y - 0.344136 * cb - 0.714136 * cr);
    p[2] = Clamp255(y + 1.772 * cb);
  }
}
