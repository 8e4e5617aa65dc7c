#pragma once
// Builds image data sets in memory for the conversion tests.
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "core/dcmobj.h"

namespace convtest {

struct Shape {
  std::string modality = "OT";
  std::string photometric = "MONOCHROME2";
  int rows = 16, columns = 16, bitsAllocated = 8, bitsStored = 8, pixelRepresentation = 0, frames = 1, planar = -1;
  std::string intercept, slope;  // written when not empty
};

inline std::unique_ptr<DcmObj> MakeImage(const Shape& s, const std::vector<uint8_t>& pixels,
                                         const std::string& ts = "1.2.840.10008.1.2.1") {
  auto obj = std::make_unique<DcmObj>();
  obj->transferSyntax = ts;
  obj->explicitVR = ts != "1.2.840.10008.1.2";
  obj->SetText(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7");
  obj->SetText(0x0008, 0x0018, "1.2.3.4.5.6.7.8");
  obj->SetText(0x0008, 0x0060, s.modality);
  const bool colour = s.photometric.rfind("MON", 0) != 0 && s.photometric.rfind("PAL", 0) != 0;
  obj->Insert(DcmTag::Number16(0x0028, 0x0002, uint16_t(colour ? 3 : 1)));
  obj->SetText(0x0028, 0x0004, s.photometric);
  if (s.planar >= 0) obj->Insert(DcmTag::Number16(0x0028, 0x0006, uint16_t(s.planar)));
  if (s.frames > 1) obj->SetText(0x0028, 0x0008, std::to_string(s.frames));
  obj->Insert(DcmTag::Number16(0x0028, 0x0010, uint16_t(s.rows)));
  obj->Insert(DcmTag::Number16(0x0028, 0x0011, uint16_t(s.columns)));
  obj->Insert(DcmTag::Number16(0x0028, 0x0100, uint16_t(s.bitsAllocated)));
  obj->Insert(DcmTag::Number16(0x0028, 0x0101, uint16_t(s.bitsStored)));
  obj->Insert(DcmTag::Number16(0x0028, 0x0102, uint16_t(s.bitsStored - 1)));
  obj->Insert(DcmTag::Number16(0x0028, 0x0103, uint16_t(s.pixelRepresentation)));
  if (!s.intercept.empty()) obj->SetText(0x0028, 0x1052, s.intercept);
  if (!s.slope.empty()) obj->SetText(0x0028, 0x1053, s.slope);
  obj->Insert(DcmTag(0x7FE0, 0x0010, uint32_t(pixels.size()), pixels.data(), s.bitsAllocated > 8 ? "OW" : "OB"));
  return obj;
}

// Replaces the native Pixel Data by encapsulated fragments (offset table bytes as given).
inline void Encapsulate(DcmObj& obj, const std::vector<std::vector<uint8_t>>& fragments,
                        const std::vector<uint8_t>& offsetTable = {}) {
  for (size_t i = 0; i < obj.Count(); ++i) {
    DcmTag* t = obj.GetTag(i);
    if (t && t->Is(0x7FE0, 0x0010)) {
      obj.Delete(i);
      break;
    }
  }
  DcmTag px(0x7FE0, 0x0010, uint32_t{0}, nullptr, "OB");
  px.length = kUndefinedLength;
  obj.Add(std::move(px));
  obj.Add(DcmTag(0xFFFE, 0xE000, uint32_t(offsetTable.size()), offsetTable.data(), "DL"));
  for (const auto& f : fragments) obj.Add(DcmTag(0xFFFE, 0xE000, uint32_t(f.size()), f.data(), "DL"));
  obj.Add(DcmTag(0xFFFE, 0xE0DD, uint32_t{0}, nullptr, "DL"));
}

// Every entry with its VR, length, byte order and value bytes; nested objects indented.
inline void DumpInto(const DcmObj& obj, std::vector<std::string>& lines, const std::string& indent) {
  for (size_t i = 0; i < obj.Count(); ++i) {
    if (const DcmObj* o = obj.GetObj(i)) {
      lines.push_back(indent + o->header.Key() + " nested " + o->header.VR());
      DumpInto(*o, lines, indent + "  ");
      continue;
    }
    const DcmTag* t = obj.GetTag(i);
    std::string line = indent + t->Key() + " " + t->VR() + " " + std::to_string(t->length) + (t->bigEndian ? " BE " : " ");
    line.append(t->bytes().begin(), t->bytes().end());
    lines.push_back(line);
  }
}

inline std::vector<std::string> DumpOf(const DcmObj& obj) {
  std::vector<std::string> lines;
  DumpInto(obj, lines, "");
  lines.push_back("ts=" + obj.transferSyntax + " explicit=" + std::to_string(obj.explicitVR));
  return lines;
}

inline size_t IndexOf(const DcmObj& obj, uint16_t g, uint16_t e) {
  for (size_t i = 0; i < obj.Count(); ++i) {
    const DcmTag* t = obj.GetTag(i);
    if (t && t->Is(g, e)) return i;
  }
  return obj.Count();
}

inline std::vector<uint8_t> PixelBytes(const DcmObj& obj) {
  const DcmTag* t = obj.FindTag(0x7FE0, 0x0010);
  if (!t || !t->data()) return {};
  return std::vector<uint8_t>(t->data(), t->data() + t->size());
}

inline double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int bytesPerSample, double peak) {
  if (a.size() != b.size() || a.empty()) return 0;
  double se = 0;
  size_t n = 0;
  for (size_t i = 0; i + bytesPerSample <= a.size(); i += bytesPerSample, ++n) {
    double x = bytesPerSample == 1 ? a[i] : (a[i] | (a[i + 1] << 8));
    double y = bytesPerSample == 1 ? b[i] : (b[i] | (b[i + 1] << 8));
    se += (x - y) * (x - y);
  }
  if (se == 0) return 200;
  return 10 * std::log10(peak * peak / (se / n));
}

inline std::vector<uint8_t> Words(const std::vector<int>& v) {
  std::vector<uint8_t> out;
  for (int x : v) {
    out.push_back(uint8_t(x & 0xFF));
    out.push_back(uint8_t((x >> 8) & 0xFF));
  }
  return out;
}

}  // namespace convtest
