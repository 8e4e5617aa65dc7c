#include "convert/bmpfile.h"

#include <cstdint>
#include <cstring>

#include "core/fileutil.h"
#include "core/log.h"

namespace {

constexpr size_t kFileHeader = 14;
constexpr uint32_t kInfoHeader = 40;
// Larger pages than this are refused (JPEG and DICOM both stop at 65535).
constexpr int64_t kMaxSide = 65500;

uint32_t Le32(const std::string& b, size_t at) {
  return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
         uint32_t(uint8_t(b[at + 3])) << 24;
}
uint16_t Le16(const std::string& b, size_t at) { return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8); }
void Put32(std::string& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b += static_cast<char>(v >> (8 * i));
}
void Put16(std::string& b, uint16_t v) {
  b += static_cast<char>(v);
  b += static_cast<char>(v >> 8);
}

bool Fail(const std::string& why, const std::string& path) {
  WriteLog("ERROR, LoadBmpFile, " + why + ": " + path);
  return false;
}

}  // namespace

bool LoadBmpFile(const std::string& path, Bitmap& bitmap) {
  std::string f;
  if (!ReadWholeFile(path, f, "LoadBmpFile")) return false;
  if (f.size() < kFileHeader + kInfoHeader || f[0] != 'B' || f[1] != 'M') return Fail("not a BMP file", path);
  const uint32_t offBits = Le32(f, 10);
  const uint32_t infoSize = Le32(f, 14);
  if (infoSize < kInfoHeader || kFileHeader + uint64_t(infoSize) > f.size())
    return Fail("unsupported BMP header (size " + std::to_string(infoSize) + ")", path);
  const int64_t width = static_cast<int32_t>(Le32(f, 18));
  const int64_t rawHeight = static_cast<int32_t>(Le32(f, 22));
  const uint16_t planes = Le16(f, 26);
  const uint16_t bits = Le16(f, 28);
  const uint32_t compression = Le32(f, 30);
  if (bits != 24) return Fail("not a 24-bit BMP (" + std::to_string(bits) + " bits per pixel)", path);
  if (compression != 0) return Fail("compressed BMP (compression " + std::to_string(compression) + ")", path);
  if (planes != 1) return Fail("BMP with " + std::to_string(planes) + " planes", path);
  const bool topDown = rawHeight < 0;
  const int64_t height = topDown ? -rawHeight : rawHeight;
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
    return Fail("BMP size " + std::to_string(width) + " x " + std::to_string(rawHeight) + " out of range", path);
  const uint64_t stride = (uint64_t(width) * 3 + 3) & ~uint64_t(3);
  if (offBits < kFileHeader + infoSize || offBits > f.size() || f.size() - offBits < stride * uint64_t(height))
    return Fail("BMP pixel rows missing or outside the file", path);

  Bitmap out(static_cast<int>(width), static_cast<int>(height));
  for (int64_t y = 0; y < height; ++y) {
    const size_t src = offBits + stride * uint64_t(topDown ? y : height - 1 - y);
    std::memcpy(out.Row(static_cast<int>(y)), f.data() + src, static_cast<size_t>(width) * 3);
  }
  bitmap = std::move(out);
  return true;
}

bool SaveBmpFile(const std::string& path, const Bitmap& bitmap) {
  if (bitmap.Empty() || bitmap.stride < size_t(bitmap.width) * 3 ||
      bitmap.pixels.size() < bitmap.stride * size_t(bitmap.height)) {
    WriteLog("ERROR, SaveBmpFile, empty or inconsistent bitmap: " + path);
    return false;
  }
  const uint64_t stride = (uint64_t(bitmap.width) * 3 + 3) & ~uint64_t(3);
  const uint64_t image = stride * uint64_t(bitmap.height);
  if (kFileHeader + kInfoHeader + image > 0xFFFFFFFFu) {
    WriteLog("ERROR, SaveBmpFile, bitmap too large for a BMP file: " + path);
    return false;
  }
  std::string f;
  f.reserve(kFileHeader + kInfoHeader + image);
  f += "BM";
  Put32(f, uint32_t(kFileHeader + kInfoHeader + image));
  Put32(f, 0);
  Put32(f, uint32_t(kFileHeader + kInfoHeader));
  Put32(f, kInfoHeader);
  Put32(f, uint32_t(bitmap.width));
  Put32(f, uint32_t(bitmap.height));
  Put16(f, 1);
  Put16(f, 24);
  Put32(f, 0);               // BI_RGB
  Put32(f, uint32_t(image));
  Put32(f, 2835);            // 72 dots per inch
  Put32(f, 2835);
  Put32(f, 0);
  Put32(f, 0);
  const std::string pad(stride - uint64_t(bitmap.width) * 3, '\0');
  for (int y = bitmap.height - 1; y >= 0; --y) {
    f.append(reinterpret_cast<const char*>(bitmap.Row(y)), size_t(bitmap.width) * 3);
    f += pad;
  }
  return WriteWholeFile(path, f, "SaveBmpFile");
}
