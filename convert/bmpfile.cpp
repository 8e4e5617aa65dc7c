#include "convert/bmpfile.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

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

bool Refuse(std::string& why, std::string reason) {
  why = std::move(reason);
  return false;
}

// The position of the lowest set bit of a channel mask, and the channel's largest value.
struct Channel {
  int shift = 0;
  uint32_t max = 0;
  uint32_t mask = 0;
  explicit Channel(uint32_t m) : mask(m) {
    if (!m) return;
    while (!(m & 1)) m >>= 1, ++shift;
    max = m;
  }
  uint8_t Get(uint32_t v, uint8_t absent) const {
    return max ? uint8_t(((v & mask) >> shift) * 255u / max) : absent;
  }
};

}  // namespace

bool ReadBmp(const std::string& f, Bitmap& bitmap, std::string& why) {
  if (f.size() < kFileHeader + kInfoHeader || f[0] != 'B' || f[1] != 'M') return Refuse(why, "not a BMP file");
  const uint32_t offBits = Le32(f, 10);
  const uint32_t infoSize = Le32(f, 14);
  if (infoSize < kInfoHeader || kFileHeader + uint64_t(infoSize) > f.size())
    return Refuse(why, "unsupported BMP header (size " + std::to_string(infoSize) + ")");
  const int64_t width = static_cast<int32_t>(Le32(f, 18));
  const int64_t rawHeight = static_cast<int32_t>(Le32(f, 22));
  const uint16_t planes = Le16(f, 26);
  const uint16_t bits = Le16(f, 28);
  const uint32_t compression = Le32(f, 30);
  const bool bitfields = compression == 3 && bits == 32;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
    return Refuse(why, "a BMP of " + std::to_string(bits) + " bits per pixel (1, 4, 8, 24 and 32 are taken)");
  if (compression != 0 && !bitfields)
    return Refuse(why, "a compressed BMP (compression " + std::to_string(compression) + ")");
  if (planes != 1) return Refuse(why, "a BMP with " + std::to_string(planes) + " planes");
  const bool topDown = rawHeight < 0;
  const int64_t height = topDown ? -rawHeight : rawHeight;
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
    return Refuse(why, "BMP size " + std::to_string(width) + " x " + std::to_string(rawHeight) + " out of range");
  const uint64_t stride = ((uint64_t(width) * bits + 31) / 32) * 4;
  if (offBits < kFileHeader + infoSize || offBits > f.size() || f.size() - offBits < stride * uint64_t(height))
    return Refuse(why, "BMP pixel rows missing or outside the file");

  // The palette of 1, 4 and 8 bits (B, G, R, reserved), after the header; entries beyond it read black.
  std::vector<uint8_t> palette(size_t(4) << (bits <= 8 ? bits : 0), 0);
  if (bits <= 8) {
    const uint32_t used = Le32(f, 46);
    const size_t entries = std::min<size_t>(used ? used : (size_t(1) << bits), size_t(1) << bits);
    const size_t from = kFileHeader + infoSize + (compression == 3 ? 12 : 0);
    if (from + entries * 4 > offBits) return Refuse(why, "the BMP's colour table runs into its pixels");
    std::memcpy(palette.data(), f.data() + from, entries * 4);
  }
  // 32 bits: B, G, R and an unused byte, or the channels the masks name (after a 40-byte header, or
  // in a later header), with alpha where a mask gives it.
  Channel red(0x00FF0000), green(0x0000FF00), blue(0x000000FF), alpha(0);
  if (bitfields) {
    if (infoSize < kInfoHeader + 12 && offBits < kFileHeader + kInfoHeader + 12)
      return Refuse(why, "the BMP's channel masks are missing");
    red = Channel(Le32(f, 54));
    green = Channel(Le32(f, 58));
    blue = Channel(Le32(f, 62));
    if (infoSize >= kInfoHeader + 16) alpha = Channel(Le32(f, 66));
  }

  Bitmap out(static_cast<int>(width), static_cast<int>(height));
  for (int64_t y = 0; y < height; ++y) {
    const uint8_t* src = reinterpret_cast<const uint8_t*>(f.data()) + offBits + stride * uint64_t(topDown ? y : height - 1 - y);
    uint8_t* d = out.Row(static_cast<int>(y));
    if (bits == 24) {
      std::memcpy(d, src, static_cast<size_t>(width) * 3);
      continue;
    }
    for (int64_t x = 0; x < width; ++x, d += 3) {
      if (bits == 32) {
        const uint32_t v = uint32_t(src[4 * x]) | uint32_t(src[4 * x + 1]) << 8 | uint32_t(src[4 * x + 2]) << 16 |
                           uint32_t(src[4 * x + 3]) << 24;
        const unsigned a = alpha.Get(v, 255);
        const uint8_t c[3] = {blue.Get(v, 0), green.Get(v, 0), red.Get(v, 0)};
        for (int k = 0; k < 3; ++k) d[k] = uint8_t((c[k] * a + 255u * (255u - a) + 127u) / 255u);  // over white
      } else {
        const int perByte = 8 / bits;
        const unsigned byte = src[x / perByte];
        const unsigned index = (byte >> ((perByte - 1 - x % perByte) * bits)) & ((1u << bits) - 1);
        std::memcpy(d, palette.data() + 4 * index, 3);
      }
    }
  }
  bitmap = std::move(out);
  return true;
}

bool LoadBmpFile(const std::string& path, Bitmap& bitmap) {
  std::string f, why;
  if (!ReadWholeFile(path, f, "LoadBmpFile")) return false;  // logged
  if (ReadBmp(f, bitmap, why)) return true;
  WriteLog("ERROR, LoadBmpFile, " + why + ": " + path);
  return false;
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
