// RLE Lossless decoding: PackBits segments composed into interleaved samples.
#include "codec/rle.h"

#include <cstring>
#include <new>
#include <vector>

#include "codec/pixel.h"
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

// How the byte planes make the frame: `samples` samples per pixel of `bytes` bytes each, one
// plane per byte of each sample (the most significant first), as PS3.5 Annex G lays them out.
struct Layout {
  uint32_t samples = 0;
  uint32_t bytes = 0;
  bool ybrFull = false;  // 8-bit YBR_FULL: converted to RGB
  bool valid() const { return samples != 0; }
};

bool OneSample(const std::string& photometric) {
  return photometric.find("MONO") != std::string::npos || photometric.rfind("PALETTE", 0) == 0;
}

// Grey (1 sample) or colour (3) by the photometric interpretation, or by the segment count when
// it names neither; the sample width by Bits Allocated (8, 16 or 32).
Layout Choose(const std::string& photometric, uint32_t segments, int bitsAllocated) {
  Layout l;
  if (bitsAllocated != 8 && bitsAllocated != 16 && bitsAllocated != 32) return l;
  const uint32_t bytes = uint32_t(bitsAllocated / 8);
  if (segments % bytes != 0) return l;
  const uint32_t samples = segments / bytes;
  if (samples != 1 && samples != 3) return l;
  const bool known = OneSample(photometric) || photometric == "RGB" || photometric.rfind("YBR", 0) == 0;
  if (known && (samples == 1) != OneSample(photometric)) return l;
  l.samples = samples;
  l.bytes = bytes;
  l.ybrFull = photometric == "YBR_FULL" && samples == 3 && bytes == 1;
  return l;
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
  const Layout layout = Choose(text, segments, bitsAllocated);
  if (segments == 0 || segments > kMaxSegments || !layout.valid()) {
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

  // Sample s of pixel i, byte k (little endian) comes from plane s * bytes + (bytes - 1 - k).
  const size_t step = size_t(layout.samples) * layout.bytes;
  for (uint32_t smp = 0; smp < layout.samples; ++smp)
    for (uint32_t k = 0; k < layout.bytes; ++k) {
      const uint8_t* from = scratch.data() + size_t(smp * layout.bytes + (layout.bytes - 1 - k)) * plane;
      uint8_t* to = destination + size_t(smp) * layout.bytes + k;
      for (size_t i = 0; i < plane; ++i) to[i * step] = from[i];
    }
  if (layout.ybrFull) YbrFullToRgb(destination, plane);
  const size_t written = plane * segments;
  if (written < frameLength) std::memset(destination + written, 0, frameLength - written);
  return true;
}

namespace {

// One row of a byte plane in PackBits: runs of two or more equal bytes replicated, the rest in
// literal runs, none longer than 128 bytes or crossing the row's end.
void PackRow(const uint8_t* row, size_t n, std::vector<uint8_t>& out) {
  size_t i = 0;
  while (i < n) {
    size_t run = 1;
    while (i + run < n && run < 128 && row[i + run] == row[i]) ++run;
    if (run >= 2) {
      out.push_back(static_cast<uint8_t>(257 - run));
      out.push_back(row[i]);
      i += run;
      continue;
    }
    size_t j = i + 1;
    while (j < n && j - i < 128 && !(j + 1 < n && row[j] == row[j + 1])) ++j;
    out.push_back(static_cast<uint8_t>(j - i - 1));
    out.insert(out.end(), row + i, row + j);
    i = j;
  }
}

void PutLE32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) out[at + size_t(k)] = static_cast<uint8_t>(v >> (8 * k));
}

}  // namespace

bool EncodeRLEFrame(const uint8_t* frame, size_t columns, size_t rows, int samples, int bitsAllocated,
                    std::vector<uint8_t>& out) {
  const size_t bytes = static_cast<size_t>(bitsAllocated / 8);
  const size_t segments = static_cast<size_t>(samples) * bytes;
  if ((bitsAllocated != 8 && bitsAllocated != 16 && bitsAllocated != 32) || samples < 1 || segments > 15 ||
      columns == 0 || rows == 0)
    return false;
  out.assign(64, 0);
  PutLE32(out, 0, static_cast<uint32_t>(segments));
  const size_t stride = static_cast<size_t>(samples) * bytes;  // bytes of one pixel
  std::vector<uint8_t> row(columns);
  size_t segment = 0;
  for (int s = 0; s < samples; ++s) {
    for (size_t b = bytes; b-- > 0; ++segment) {  // the most significant byte first
      if (out.size() > 0xFFFFFFFFu) return false;
      PutLE32(out, 4 + 4 * segment, static_cast<uint32_t>(out.size()));
      for (size_t y = 0; y < rows; ++y) {
        const uint8_t* pixel = frame + y * columns * stride + static_cast<size_t>(s) * bytes + b;
        for (size_t x = 0; x < columns; ++x) row[x] = pixel[x * stride];
        PackRow(row.data(), columns, out);
      }
      if (out.size() % 2) out.push_back(0);  // each segment an even number of bytes
    }
  }
  return true;
}
