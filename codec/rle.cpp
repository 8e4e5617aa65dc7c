// RLE Lossless decoding: PackBits segments composed into interleaved samples.
#include "codec/rle.h"

#include <cstring>
#include <new>
#include <vector>

#include "core/log.h"

namespace {

constexpr size_t kHeaderSize = 64;
constexpr uint32_t kMaxSegments = 15;

uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void FormatNotSupported(uint32_t segments, int bitsAllocated, const std::string& photometric) {
  WriteLog("ERROR, format not supported: segment_count=" + std::to_string(segments) +
           ", bitsa=" + std::to_string(bitsAllocated) + ", PhotometricInterpretation=" + photometric);
}

uint8_t Clamp(double v) {
  const long t = static_cast<long>(v);  // truncated toward zero
  return static_cast<uint8_t>(t < 0 ? 0 : (t > 255 ? 255 : t));
}

enum class Composition { None, Mono16, YbrFull, Rgb };

Composition Choose(const std::string& photometric, uint32_t segments) {
  if (photometric.find("MONO") != std::string::npos && segments == 2) return Composition::Mono16;
  if (photometric == "YBR_FULL" && segments == 3) return Composition::YbrFull;
  if (photometric == "RGB" && segments == 3) return Composition::Rgb;
  return Composition::None;
}

std::string Trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 0x20) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 0x20) --e;
  return s.substr(b, e - b);
}

}  // namespace

bool DecodeRLESegment(const uint8_t* fragment, uint8_t* scratch, size_t segmentStart, size_t segmentLength,
                      size_t segmentIndex, size_t planeLength) {
  const uint8_t* in = fragment + segmentStart;
  const uint8_t* const inEnd = in + segmentLength;
  uint8_t* out = scratch + segmentIndex * planeLength;
  uint8_t* const outEnd = out + planeLength;
  while (out < outEnd) {
    if (in >= inEnd) {
      WriteLog("ERROR, overflow decoding RLE");
      return false;
    }
    const int n = static_cast<int8_t>(*in++);
    if (n >= 0) {
      const size_t count = size_t(n) + 1;
      if (count > size_t(inEnd - in)) {
        WriteLog("ERROR, overflow decoding RLE");
        return false;
      }
      const size_t room = size_t(outEnd - out);
      std::memcpy(out, in, count < room ? count : room);  // a run past the plane is cut at its end
      out += count < room ? count : room;
      in += count;
    } else if (n != -128) {
      if (in >= inEnd) {
        WriteLog("ERROR, overflow decoding RLE");
        return false;
      }
      const size_t count = size_t(1 - n);
      const size_t room = size_t(outEnd - out);
      std::memset(out, *in++, count < room ? count : room);
      out += count < room ? count : room;
    }
  }
  return true;
}

bool DecodeRLEFrame(const std::string& photometric, const uint8_t* fragment, uint8_t* destination,
                    size_t fragmentLength, size_t frameLength, int bitsAllocated) {
  const std::string text = Trimmed(photometric);
  auto fail = [&] {
    if (destination != nullptr) std::memset(destination, 0, frameLength);
    return false;
  };
  if (destination == nullptr || frameLength == 0) return fail();
  if (fragment == nullptr || fragmentLength < kHeaderSize) {
    FormatNotSupported(0, bitsAllocated, text);
    return fail();
  }
  const uint32_t segments = Get32(fragment);
  const Composition composition = Choose(text, segments);
  if (segments == 0 || segments > kMaxSegments || composition == Composition::None) {
    FormatNotSupported(segments, bitsAllocated, text);
    return fail();
  }
  // Offsets of the segments plus the fragment length, so that each segment ends where the next
  // one starts. They must ascend and stay inside the fragment, behind the header.
  size_t offset[kMaxSegments + 1];
  for (uint32_t s = 0; s < kMaxSegments; ++s) offset[s] = Get32(fragment + 4 + 4 * s);
  offset[segments] = fragmentLength;
  for (uint32_t s = 0; s < segments; ++s) {
    if (offset[s] < kHeaderSize || offset[s] > offset[s + 1] || offset[s + 1] > fragmentLength) {
      FormatNotSupported(segments, bitsAllocated, text);
      return fail();
    }
  }
  const size_t plane = frameLength / segments;
  std::vector<uint8_t> scratch;
  try {
    scratch.assign(frameLength, 0);
  } catch (const std::bad_alloc&) {
    WriteLog("ERROR, DecodeRLEFrame, out of memory for a frame of " + std::to_string(frameLength) + " bytes");
    return fail();
  }
  bool ok = true;
  for (uint32_t s = 0; s < segments; ++s)
    ok = DecodeRLESegment(fragment, scratch.data(), offset[s], offset[s + 1] - offset[s], s, plane) && ok;
  if (!ok) return fail();

  const uint8_t* p1 = scratch.data();
  const uint8_t* p2 = p1 + plane;
  const uint8_t* p3 = p2 + plane;
  uint8_t* out = destination;
  switch (composition) {
    case Composition::Mono16:
      for (size_t i = 0; i < plane; ++i) {
        out[2 * i] = p2[i];
        out[2 * i + 1] = p1[i];
      }
      break;
    case Composition::YbrFull:
      for (size_t i = 0; i < plane; ++i) {
        const double y = p1[i], cb = p2[i] - 128.0, cr = p3[i] - 128.0;
        out[3 * i] = Clamp(y + 1.402 * cr);
        out[3 * i + 1] = Clamp(y - 0.344136 * cb - 0.714136 * cr);
        out[3 * i + 2] = Clamp(y + 1.772 * cb);
      }
      break;
    case Composition::Rgb:
      for (size_t i = 0; i < plane; ++i) {
        out[3 * i] = p1[i];
        out[3 * i + 1] = p2[i];
        out[3 * i + 2] = p3[i];
      }
      break;
    case Composition::None:
      break;
  }
  const size_t written = plane * segments;
  if (written < frameLength) std::memset(destination + written, 0, frameLength - written);
  return true;
}
