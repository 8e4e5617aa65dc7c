// JPEG frame codecs: picks the library build for each stream and enforces the slice contract.
#include "codec/jpeg.h"

#include <cstring>

#include "codec/jpeg_internal.h"

namespace {

long DecodeWithBuild(const JpegStreamInfo& h, const uint8_t* source, size_t sourceLength, uint8_t* destination,
                     size_t destinationLength, int outWidth, bool rgb) {
  if (outWidth == 1 && h.precision > 8) return -1;  // samples deeper than the slice's bytes
  if (h.lossless) {
    if (h.precision >= 2 && h.precision <= 8)
      return jpegcodec::DecodeIjg8(source, sourceLength, destination, destinationLength, outWidth, rgb);
    if (h.precision > 8 && h.precision <= 12)
      return jpegcodec::DecodeIjg12(source, sourceLength, destination, destinationLength, outWidth, rgb);
    if (h.precision > 12 && h.precision <= 16)
      return jpegcodec::DecodeIjg16(source, sourceLength, destination, destinationLength, outWidth, rgb);
    return -1;
  }
  if (h.precision == 8) return jpegcodec::DecodeTurbo(source, sourceLength, destination, destinationLength, outWidth, rgb);
  if (h.precision == 12)
    return jpegcodec::DecodeIjg12(source, sourceLength, destination, destinationLength, outWidth, rgb);
  return -1;
}

int Decode(const uint8_t* source, uint8_t* destination, size_t sourceLength, size_t destinationLength,
           int outWidth, bool rgb) {
  if (destination == nullptr) return -1;
  JpegStreamInfo header;
  long written = -1;
  if (ReadJpegStreamInfo(source, sourceLength, header))
    written = DecodeWithBuild(header, source, sourceLength, destination, destinationLength, outWidth, rgb);
  if (written < 0) {
    std::memset(destination, 0, destinationLength);
    return -1;
  }
  if (size_t(written) < destinationLength) std::memset(destination + written, 0, destinationLength - size_t(written));
  return 0;
}

// Checks the frame geometry against the source buffer.
bool FrameFits(int width, int height, int components, const uint8_t* source, size_t sourceLength, int sampleBytes) {
  if (source == nullptr || width <= 0 || height <= 0 || width > 65500 || height > 65500) return false;
  if (components != 1 && components != 3) return false;
  return uint64_t(width) * uint64_t(height) * uint64_t(components) * uint64_t(sampleBytes) <= sourceLength;
}

}  // namespace

bool ReadJpegStreamInfo(const uint8_t* s, size_t n, JpegStreamInfo& info) {
  info = JpegStreamInfo{};
  if (s == nullptr || n < 4 || s[0] != 0xFF || s[1] != 0xD8) return false;
  size_t p = 2;
  while (p < n) {
    if (s[p] != 0xFF) {  // stray byte between segments: skip it as the library does
      ++p;
      continue;
    }
    while (p < n && s[p] == 0xFF) ++p;  // fill bytes
    if (p >= n) return false;
    const int m = s[p++];
    if (m == 0x00 || m == 0x01 || m == 0xD8 || (m >= 0xD0 && m <= 0xD7)) continue;  // no length
    if (m == 0xD9 || m == 0xDA) return false;  // image data or end before any frame header
    if (p + 2 > n) return false;
    const size_t length = (size_t(s[p]) << 8) | s[p + 1];
    if (length < 2 || p + length > n) return false;
    const uint8_t* seg = s + p + 2;  // the segment's contents
    const size_t have = length - 2;
    if (m == 0xE0 && have >= 5 && std::memcmp(seg, "JFIF\0", 5) == 0) info.jfif = true;
    if (m == 0xEE && have >= 12 && std::memcmp(seg, "Adobe", 5) == 0) info.adobeTransform = seg[11];
    if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
      if (have < 6) return false;
      info.sofMarker = m;
      info.precision = seg[0];
      info.height = int(seg[1]) << 8 | seg[2];
      info.width = int(seg[3]) << 8 | seg[4];
      info.components = seg[5];
      info.lossless = m == 0xC3 || m == 0xC7 || m == 0xCB || m == 0xCF;
      for (int c = 0; c < info.components && c < 4 && 6 + 3 * size_t(c) + 2 < have; ++c) {
        info.component[c].id = seg[6 + 3 * c];
        info.component[c].h = seg[7 + 3 * c] >> 4;
        info.component[c].v = seg[7 + 3 * c] & 0x0F;
      }
      return true;
    }
    p += length;
  }
  return false;
}

namespace jpegcodec {
thread_local long lastDecodeWarnings = 0;
}  // namespace jpegcodec

long LastJpegDecodeWarnings() { return jpegcodec::lastDecodeWarnings; }

int DecodeJPEG8(const uint8_t* source, uint8_t* destination, size_t sourceLength, size_t destinationLength,
                bool rgbSamples) {
  return Decode(source, destination, sourceLength, destinationLength, 1, rgbSamples);
}

int DecodeJPEG12(const uint8_t* source, uint8_t* destination, size_t sourceLength, size_t destinationLength,
                bool rgbSamples) {
  return Decode(source, destination, sourceLength, destinationLength, 2, rgbSamples);
}

int DecodeJPEG16(const uint8_t* source, uint8_t* destination, size_t sourceLength, size_t destinationLength,
                bool rgbSamples) {
  return Decode(source, destination, sourceLength, destinationLength, 2, rgbSamples);
}

int DecodeJPEG8(const uint8_t* source, uint8_t* destination, size_t sourceLength, size_t destinationLength) {
  return DecodeJPEG8(source, destination, sourceLength, destinationLength, false);
}

int DecodeJPEG12(const uint8_t* source, uint8_t* destination, size_t sourceLength, size_t destinationLength) {
  return DecodeJPEG12(source, destination, sourceLength, destinationLength, false);
}

int DecodeJPEG16(const uint8_t* source, uint8_t* destination, size_t sourceLength, size_t destinationLength) {
  return DecodeJPEG16(source, destination, sourceLength, destinationLength, false);
}

int EncodeJPEG8(int width, int height, int components, const uint8_t* source, size_t sourceLength,
                std::vector<uint8_t>& out, int mode) {
  out.clear();
  if (mode != 0 && mode != 4) return -1;
  if (!FrameFits(width, height, components, source, sourceLength, 1)) return -1;
  if (mode == 0) return jpegcodec::EncodeTurboBaseline(width, height, components, source, out, true);
  return jpegcodec::EncodeIjg8(width, height, components, source, out, true, true);
}

int EncodeJPEG12(int width, int height, int components, const uint8_t* source, size_t sourceLength,
                 std::vector<uint8_t>& out) {
  out.clear();
  if (!FrameFits(width, height, components, source, sourceLength, 2)) return -1;
  return jpegcodec::EncodeIjg12(width, height, components, source, out, false, false);
}

int EncodeJPEG16(int width, int height, int components, const uint8_t* source, size_t sourceLength,
                 std::vector<uint8_t>& out) {
  out.clear();
  if (!FrameFits(width, height, components, source, sourceLength, 2)) return -1;
  return jpegcodec::EncodeIjg16(width, height, components, source, out, true, false);
}
