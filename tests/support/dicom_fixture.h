#pragma once
// Test and benchmark helpers: synthetic frames and a tiny Part 10 reader/writer, just enough to
// hand frames to the DICOM toolkit's command-line tools and take their results back. Explicit VR
// little endian when writing; explicit or implicit VR little endian when reading.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace fixture {

struct Image {
  int rows = 0;
  int columns = 0;
  int samples = 1;
  int bitsAllocated = 8;
  int bitsStored = 8;
  int planar = 0;
  std::string photometric = "MONOCHROME2";
  std::string transferSyntax = "1.2.840.10008.1.2.1";
  std::vector<uint8_t> pixels;                  // native pixel data
  std::vector<std::vector<uint8_t>> fragments;  // encapsulated: fragments after the offset table
  // One frame from the fragments (all of them joined).
  std::vector<uint8_t> Frame() const {
    std::vector<uint8_t> f;
    for (const auto& x : fragments) f.insert(f.end(), x.begin(), x.end());
    return f;
  }
  size_t FrameBytes() const { return size_t(rows) * size_t(columns) * size_t(samples) * size_t(bitsAllocated / 8); }
};

// Pixel-interleaved synthetic frame: gradients, a few sharp edges and some noise; samples of
// bits significant bits, one byte each up to 8 bits, 16-bit little-endian words above.
inline std::vector<uint8_t> MakeFrame(int width, int height, int components, int bits, uint32_t seed = 1,
                                      int noise = 8) {
  const int sampleBytes = bits > 8 ? 2 : 1;
  const uint32_t maxValue = (1u << bits) - 1;
  std::vector<uint8_t> out(size_t(width) * height * components * sampleBytes);
  uint32_t state = seed * 2654435761u + 12345u;
  size_t k = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < components; ++c) {
        state = state * 1664525u + 1013904223u;
        double v = (double(x) / width * (c + 1) + double(y) / height * (2 - c * 0.5)) * 0.35;
        if (((x / 16) + (y / 12)) % 5 == 0) v = 0.9 - 0.3 * c;  // blocks with sharp edges
        v = v - int(v);
        double n = noise > 0 ? (double(state >> 24) / 255.0 - 0.5) * noise / 255.0 : 0.0;
        double f = v + n;
        if (f < 0) f = 0;
        if (f > 1) f = 1;
        uint32_t s = uint32_t(f * maxValue + 0.5);
        if (s > maxValue) s = maxValue;
        if (sampleBytes == 1) {
          out[k++] = uint8_t(s);
        } else {
          out[k++] = uint8_t(s & 0xFF);
          out[k++] = uint8_t(s >> 8);
        }
      }
    }
  }
  return out;
}

namespace detail {

inline void Put16(std::vector<uint8_t>& b, uint32_t v) {
  b.push_back(uint8_t(v & 0xFF));
  b.push_back(uint8_t((v >> 8) & 0xFF));
}
inline void Put32(std::vector<uint8_t>& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
inline bool LongVR(const std::string& vr) {
  return vr == "OB" || vr == "OW" || vr == "OF" || vr == "SQ" || vr == "UT" || vr == "UN" || vr == "OD" ||
         vr == "OL" || vr == "OV" || vr == "UC" || vr == "UR";
}
inline void Element(std::vector<uint8_t>& b, uint16_t g, uint16_t e, const std::string& vr,
                    std::vector<uint8_t> value) {
  if (value.size() % 2) value.push_back(vr == "UI" || vr == "OB" ? 0 : ' ');
  Put16(b, g);
  Put16(b, e);
  b.push_back(uint8_t(vr[0]));
  b.push_back(uint8_t(vr[1]));
  if (LongVR(vr)) {
    Put16(b, 0);
    Put32(b, uint32_t(value.size()));
  } else {
    Put16(b, uint32_t(value.size()));
  }
  b.insert(b.end(), value.begin(), value.end());
}
inline void Text(std::vector<uint8_t>& b, uint16_t g, uint16_t e, const std::string& vr, const std::string& t) {
  Element(b, g, e, vr, std::vector<uint8_t>(t.begin(), t.end()));
}
inline void US(std::vector<uint8_t>& b, uint16_t g, uint16_t e, uint16_t v) {
  std::vector<uint8_t> x;
  Put16(x, v);
  Element(b, g, e, "US", x);
}
inline uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t Get32(const uint8_t* p) { return uint32_t(Get16(p)) | (uint32_t(Get16(p + 2)) << 16); }

struct Reader {
  const uint8_t* data;
  size_t size;
  bool explicitVR;
  Image* img;
  bool ok = true;

  // Parses elements from p until end or a delimiter; returns the position after it.
  size_t Parse(size_t p, size_t end, int depth) {
    while (ok && p + 8 <= end) {
      const uint16_t g = Get16(data + p), e = Get16(data + p + 2);
      if (g == 0xFFFE) {
        const uint32_t len = Get32(data + p + 4);
        p += 8;
        if (e == 0xE00D || e == 0xE0DD) return p;
        if (len == 0xFFFFFFFF) {
          p = Parse(p, end, depth + 1);
        } else {
          p += len;
        }
        continue;
      }
      std::string vr;
      uint32_t len;
      if (explicitVR) {
        vr.assign(reinterpret_cast<const char*>(data + p + 4), 2);
        if (LongVR(vr)) {
          if (p + 12 > end) return ok = false, end;
          len = Get32(data + p + 8);
          p += 12;
        } else {
          len = Get16(data + p + 6);
          p += 8;
        }
      } else {
        len = Get32(data + p + 4);
        p += 8;
      }
      if (len == 0xFFFFFFFF) {
        if (g == 0x7FE0 && e == 0x0010 && depth == 0) {
          p = Fragments(p, end);
        } else {
          p = Parse(p, end, depth + 1);  // sequence of items up to its delimiter
        }
        continue;
      }
      if (p + len > end) return ok = false, end;
      if (depth == 0) Store(g, e, data + p, len);
      p += len;
    }
    return p;
  }

  size_t Fragments(size_t p, size_t end) {
    bool first = true;
    while (p + 8 <= end) {
      const uint16_t g = Get16(data + p), e = Get16(data + p + 2);
      const uint32_t len = Get32(data + p + 4);
      p += 8;
      if (g != 0xFFFE) return ok = false, end;
      if (e == 0xE0DD) return p;
      if (p + len > end) return ok = false, end;
      if (!first) img->fragments.emplace_back(data + p, data + p + len);
      first = false;
      p += len;
    }
    return ok = false, end;
  }

  void Store(uint16_t g, uint16_t e, const uint8_t* v, uint32_t len) {
    auto text = [&] {
      std::string t(reinterpret_cast<const char*>(v), len);
      while (!t.empty() && (t.back() == ' ' || t.back() == '\0')) t.pop_back();
      return t;
    };
    const uint32_t tag = (uint32_t(g) << 16) | e;
    switch (tag) {
      case 0x00280002: img->samples = len >= 2 ? Get16(v) : 0; break;
      case 0x00280004: img->photometric = text(); break;
      case 0x00280006: img->planar = len >= 2 ? Get16(v) : 0; break;
      case 0x00280010: img->rows = len >= 2 ? Get16(v) : 0; break;
      case 0x00280011: img->columns = len >= 2 ? Get16(v) : 0; break;
      case 0x00280100: img->bitsAllocated = len >= 2 ? Get16(v) : 0; break;
      case 0x00280101: img->bitsStored = len >= 2 ? Get16(v) : 0; break;
      case 0x7FE00010: img->pixels.assign(v, v + len); break;
      default: break;
    }
  }
};

}  // namespace detail

inline bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

inline bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  bytes->clear();
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes->insert(bytes->end(), buf, buf + n);
  std::fclose(f);
  return true;
}

// Writes a Secondary Capture Part 10 file: native pixel data when img.fragments is empty
// (explicit VR little endian), else encapsulated under img.transferSyntax.
inline bool WriteImage(const std::string& path, const Image& img) {
  using namespace detail;
  const std::string sopClass = "1.2.840.10008.5.1.4.1.1.7";
  const std::string instance = "1.2.826.0.1.3680043.2.1143.99.1.1";
  const std::string ts = img.fragments.empty() ? "1.2.840.10008.1.2.1" : img.transferSyntax;
  std::vector<uint8_t> meta;
  Element(meta, 0x0002, 0x0001, "OB", {0, 1});
  Text(meta, 0x0002, 0x0002, "UI", sopClass);
  Text(meta, 0x0002, 0x0003, "UI", instance);
  Text(meta, 0x0002, 0x0010, "UI", ts);
  Text(meta, 0x0002, 0x0012, "UI", "1.2.826.0.1.3680043.2.1143.99");
  std::vector<uint8_t> file(128, 0);
  file.insert(file.end(), {'D', 'I', 'C', 'M'});
  std::vector<uint8_t> gl;
  Put32(gl, uint32_t(meta.size()));
  Element(file, 0x0002, 0x0000, "UL", gl);
  file.insert(file.end(), meta.begin(), meta.end());
  Text(file, 0x0008, 0x0016, "UI", sopClass);
  Text(file, 0x0008, 0x0018, "UI", instance);
  Text(file, 0x0008, 0x0060, "CS", "OT");
  Text(file, 0x0008, 0x0064, "CS", "WSD");
  Text(file, 0x0010, 0x0010, "PN", "Test^Codec");
  Text(file, 0x0010, 0x0020, "LO", "CODEC1");
  Text(file, 0x0020, 0x000D, "UI", "1.2.826.0.1.3680043.2.1143.99.1");
  Text(file, 0x0020, 0x000E, "UI", "1.2.826.0.1.3680043.2.1143.99.1.2");
  US(file, 0x0028, 0x0002, uint16_t(img.samples));
  Text(file, 0x0028, 0x0004, "CS", img.photometric);
  if (img.samples > 1) US(file, 0x0028, 0x0006, uint16_t(img.planar));
  US(file, 0x0028, 0x0010, uint16_t(img.rows));
  US(file, 0x0028, 0x0011, uint16_t(img.columns));
  US(file, 0x0028, 0x0100, uint16_t(img.bitsAllocated));
  US(file, 0x0028, 0x0101, uint16_t(img.bitsStored));
  US(file, 0x0028, 0x0102, uint16_t(img.bitsStored - 1));
  US(file, 0x0028, 0x0103, 0);
  if (img.fragments.empty()) {
    Element(file, 0x7FE0, 0x0010, img.bitsAllocated > 8 ? "OW" : "OB", img.pixels);
  } else {
    Put16(file, 0x7FE0);
    Put16(file, 0x0010);
    file.insert(file.end(), {'O', 'B', 0, 0});
    Put32(file, 0xFFFFFFFF);
    Put16(file, 0xFFFE);
    Put16(file, 0xE000);
    Put32(file, 0);  // empty offset table
    for (auto f : img.fragments) {
      if (f.size() % 2) f.push_back(0);
      Put16(file, 0xFFFE);
      Put16(file, 0xE000);
      Put32(file, uint32_t(f.size()));
      file.insert(file.end(), f.begin(), f.end());
    }
    Put16(file, 0xFFFE);
    Put16(file, 0xE0DD);
    Put32(file, 0);
  }
  return WriteFile(path, file);
}

// Reads the pixel module and pixel data of a Part 10 file. Colour-by-plane pixel data is
// returned pixel-interleaved (planar = 0).
inline bool ReadImage(const std::string& path, Image* img) {
  using namespace detail;
  std::vector<uint8_t> b;
  if (!ReadFile(path, &b) || b.size() < 132 || std::string(b.begin() + 128, b.begin() + 132) != "DICM") return false;
  *img = Image{};
  img->photometric.clear();
  // Meta group: explicit VR little endian.
  size_t p = 132;
  while (p + 8 <= b.size() && Get16(b.data() + p) == 0x0002) {
    const uint16_t e = Get16(b.data() + p + 2);
    std::string vr(reinterpret_cast<const char*>(b.data() + p + 4), 2);
    uint32_t len;
    if (LongVR(vr)) {
      len = Get32(b.data() + p + 8);
      p += 12;
    } else {
      len = Get16(b.data() + p + 6);
      p += 8;
    }
    if (p + len > b.size()) return false;
    if (e == 0x0010) {
      img->transferSyntax.assign(reinterpret_cast<const char*>(b.data() + p), len);
      while (!img->transferSyntax.empty() && (img->transferSyntax.back() == '\0' || img->transferSyntax.back() == ' '))
        img->transferSyntax.pop_back();
    }
    p += len;
  }
  Reader r{b.data(), b.size(), img->transferSyntax != "1.2.840.10008.1.2", img};
  r.Parse(p, b.size(), 0);
  if (!r.ok) return false;
  if (img->pixels.size() > img->FrameBytes() && img->FrameBytes() > 0) img->pixels.resize(img->FrameBytes());  // padding
  if (img->planar == 1 && img->samples == 3 && !img->pixels.empty()) {
    const size_t sb = size_t(img->bitsAllocated / 8), n = size_t(img->rows) * img->columns;
    if (img->pixels.size() < 3 * n * sb) return false;
    std::vector<uint8_t> il(3 * n * sb);
    for (size_t i = 0; i < n; ++i)
      for (size_t c = 0; c < 3; ++c)
        for (size_t k = 0; k < sb; ++k) il[(i * 3 + c) * sb + k] = img->pixels[(c * n + i) * sb + k];
    img->pixels.swap(il);
    img->planar = 0;
  }
  return true;
}

// Largest absolute difference between two frames of samples of sampleBytes bytes; -1 when the
// sizes differ.
inline int MaxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int sampleBytes) {
  if (a.size() != b.size()) return -1;
  int worst = 0;
  for (size_t i = 0; i + sampleBytes <= a.size(); i += sampleBytes) {
    int x = a[i], y = b[i];
    if (sampleBytes == 2) {
      x |= a[i + 1] << 8;
      y |= b[i + 1] << 8;
    }
    const int d = x > y ? x - y : y - x;
    if (d > worst) worst = d;
  }
  return worst;
}

}  // namespace fixture
