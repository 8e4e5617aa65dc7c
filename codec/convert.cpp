// Transfer syntax conversion: decode the pixel data into native frames, rewrite the pixel module,
// store the frames again. Nothing in the data set changes until every frame has been decoded and
// coded, so a failure leaves the data set as it was.
#include "codec/convert.h"

#include <algorithm>
#include <limits>
#include <new>
#include <utility>

#include "codec/convert_internal.h"
#include "codec/jpeg.h"
#include "codec/pixel.h"
#include "core/dictionary.h"
#include "core/log.h"
#include "core/strutil.h"

namespace {

// Bounds of the native size an encapsulated source may claim (see ConvertUnguarded).
constexpr size_t kMaxUncheckedPixelBytes = size_t{16} << 20;
constexpr uint64_t kMaxCompressionRatio = 1024;

// The conversion reads a missing Rows, Columns or Bits Allocated/Stored as 1 and a missing or
// unusable Number of Frames as one frame.
PixelModule ReadConversionModule(const DcmObj& obj) {
  PixelModule m = ReadPixelModule(obj);
  for (int* v : {&m.rows, &m.columns, &m.bitsAllocated, &m.bitsStored})
    if (*v < 0) *v = 1;
  if (m.frames < 1) m.frames = 1;
  return m;
}

// The items of encapsulated pixel data: the Basic Offset Table, the fragments, the delimiter.
struct Fragments {
  size_t offsetTable = 0;
  std::vector<size_t> items;
  size_t delimiter = 0;
  // Fragment indices (into items) where each frame begins; frame k spans [start[k], start[k+1]).
  std::vector<size_t> frameStart;
};

// Frames of several fragments each, where the Basic Offset Table says each frame starts. Offsets
// count from the first byte of the first fragment item; each item is 8 header bytes plus its value.
bool SplitByOffsetTable(const DcmObj& obj, const DcmTag& bot, size_t frames, Fragments& f) {
  const size_t n = f.items.size();
  std::vector<uint64_t> itemOffset;
  uint64_t pos = 0;
  for (size_t k = 0; k < n; ++k) {
    itemOffset.push_back(pos);
    pos += 8 + obj.GetTag(f.items[k])->size();
  }
  const uint8_t* b = bot.data();
  size_t next = 0;
  for (size_t k = 0; k < frames; ++k) {
    uint32_t off = static_cast<uint32_t>(b[4 * k]) | (static_cast<uint32_t>(b[4 * k + 1]) << 8) |
                   (static_cast<uint32_t>(b[4 * k + 2]) << 16) | (static_cast<uint32_t>(b[4 * k + 3]) << 24);
    if (bot.bigEndian) off = (off >> 24) | ((off >> 8) & 0xFF00u) | ((off << 8) & 0xFF0000u) | (off << 24);
    auto it = std::find(itemOffset.begin() + static_cast<long>(next), itemOffset.end(), off);
    if (it == itemOffset.end() || (k == 0 && off != 0)) {
      WriteLog("ERROR, DcmObj::Decomp, Basic Offset Table entry " + std::to_string(k + 1) +
               " does not point at a fragment");
      return false;
    }
    next = static_cast<size_t>(it - itemOffset.begin());
    f.frameStart.push_back(next);
    ++next;
  }
  f.frameStart.push_back(n);
  return true;
}

bool ParseFragments(const DcmObj& obj, size_t pixelIndex, int frames, Fragments& f) {
  size_t i = pixelIndex + 1;
  const DcmTag* bot = obj.GetTag(i);
  if (bot == nullptr || !bot->Is(0xFFFE, 0xE000)) {
    WriteLog("ERROR, DcmObj::Decomp, encapsulated Pixel Data without Basic Offset Table item");
    return false;
  }
  f.offsetTable = i++;
  for (;; ++i) {
    const DcmTag* t = obj.GetTag(i);
    if (t == nullptr) {
      WriteLog("ERROR, DcmObj::Decomp, encapsulated Pixel Data without sequence delimitation item");
      return false;
    }
    if (t->Is(0xFFFE, 0xE0DD)) break;
    if (!t->Is(0xFFFE, 0xE000) || t->length == kUndefinedLength) {
      WriteLog("ERROR, DcmObj::Decomp, unexpected " + t->Key() + " among the fragments");
      return false;
    }
    f.items.push_back(i);
  }
  f.delimiter = i;
  const size_t n = f.items.size();
  const size_t nf = static_cast<size_t>(frames);
  f.frameStart.clear();
  if (n == nf) {
    for (size_t k = 0; k <= n; ++k) f.frameStart.push_back(k);
    return true;
  }
  if (n > 0 && nf == 1) {
    f.frameStart = {0, n};
    return true;
  }
  if (n > nf && bot->size() == nf * 4) return SplitByOffsetTable(obj, *bot, nf, f);
  WriteLog("ERROR, DcmObj::Decomp, " + std::to_string(n) + " fragments for " + std::to_string(nf) +
           " frames" + (n > nf ? " and no Basic Offset Table to split them" : ""));
  return false;
}

// Decodes every frame without changing the data set.
bool DecodeFrames(const DcmObj& obj, size_t pixelIndex, uint8_t* destination, size_t totalSize, int frames,
                  int bitsAllocated, Fragments& f) {
  const std::string& ts = obj.transferSyntax;
  const FrameCodec* codec = FindFrameCodec(ts);
  if (codec == nullptr || codec->decode == nullptr) {
    WriteLog("ERROR, DcmObj::Decomp, no decoder for encapsulated pixel data in " + ts);
    return false;
  }
  if (frames < 1) frames = 1;
  if (!ParseFragments(obj, pixelIndex, frames, f)) return false;
  const size_t frameLength = totalSize / static_cast<size_t>(frames);
  ByteBuffer joined;
  for (int k = 0; k < frames; ++k) {
    const size_t a = f.frameStart[k], b = f.frameStart[k + 1];
    const uint8_t* src;
    size_t len;
    if (b - a == 1) {
      const DcmTag* t = obj.GetTag(f.items[a]);
      src = t->data();
      len = t->size();
    } else {
      joined.clear();
      for (size_t j = a; j < b; ++j) {
        const DcmTag* t = obj.GetTag(f.items[j]);
        joined.insert(joined.end(), t->bytes().begin(), t->bytes().end());
      }
      src = joined.data();
      len = joined.size();
    }
    if (src == nullptr || len == 0 ||
        !codec->decode({obj, src, len, destination + static_cast<size_t>(k) * frameLength, frameLength, totalSize,
                        bitsAllocated})) {
      WriteLog("ERROR, DcmObj::Decomp, frame " + std::to_string(k + 1) + " of " + std::to_string(frames) +
               " could not be decoded (" + ts + ")");
      return false;
    }
  }
  return true;
}

void RemoveFragments(DcmObj& obj, size_t pixelIndex, const Fragments& f) {
  for (size_t n = f.delimiter - pixelIndex; n > 0; --n) obj.Delete(pixelIndex + 1);
}

void SetUS(DcmTag& t, uint16_t v) {
  if (t.size() >= 2 && t.length != kUndefinedLength) {
    t.data()[0] = static_cast<uint8_t>(v & 0xFF);
    t.data()[1] = static_cast<uint8_t>(v >> 8);
  } else {
    uint8_t b[2] = {static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>(v >> 8)};
    t.SetValue(b, 2);
  }
}

void SetTextValue(DcmTag& t, const std::string& text) { t.SetValue(text.data(), text.size()); }

std::string InterceptText(const std::string& modality) { return modality == "CT" ? "-1024 " : "0 "; }

// The rewrite of the top-level pixel module for the target (colour rules and planar configuration
// included). "Bits Stored so far" is 1 until (0028,0101) has been passed.
void RewriteHeader(DcmObj& obj, const std::string& target, const PixelModule& m) {
  FlatWalk walk;
  int bitsStoredSoFar = 1;
  const bool colour = m.colour();
  for (size_t i = 0; i < obj.Count() && i < m.pixelIndex; ++i) {
    DcmTag* t = obj.GetTag(i);
    if (t == nullptr) continue;
    const EntryPlace place = walk.Step(*t);
    if (place.role != EntryRole::Element || place.depth != 0 || t->group != 0x0028) continue;
    const uint16_t e = t->element;
    if (e == 0x0101) bitsStoredSoFar = t->GetUS();
    if (e == 0x0004 && colour) SetTextValue(*t, target == kTsJpegBaseline ? "YBR_FULL" : "RGB ");
    if (e == 0x0006 && t->GetUS() == 1) SetUS(*t, 0);
    if (target == kTsJpegBaseline && bitsStoredSoFar != 8) {
      if (e == 0x0100) SetUS(*t, 8);
      if (e == 0x0101) SetUS(*t, 8);
      if (e == 0x0102) SetUS(*t, 7);
      if (e == 0x0103) SetUS(*t, 0);
      if (e == 0x1052) SetTextValue(*t, InterceptText(m.modality));
      if (e == 0x1053) {
        std::string slope = "1 ";
        switch (bitsStoredSoFar) {
          case 10: slope = "4 "; break;
          case 12: slope = "16"; break;
          case 14: slope = "64"; break;
          case 16: slope = "256 "; break;
          default: break;
        }
        if (m.modality == "CT") slope = "16";
        if (m.modality == "NM") slope = "1 ";
        SetTextValue(*t, slope);
      }
    } else if (target == kTsJpegExtended && bitsStoredSoFar != 12) {
      if (e == 0x0101) SetUS(*t, 12);
      if (e == 0x0102) SetUS(*t, 11);
      if (e == 0x0103) SetUS(*t, 0);
      if (e == 0x1052) SetTextValue(*t, InterceptText(m.modality));
    } else if ((target == kTsJ2KLossless || target == kTsJ2K) && bitsStoredSoFar != 8) {
      if (e == 0x1052) SetTextValue(*t, InterceptText(m.modality));
      if (e == 0x1053) SetTextValue(*t, "1 ");
    }
  }
}

// Copies a native value into the work buffer: big-endian words swapped, colour planes interleaved,
// YBR_FULL turned into RGB.
void CopyNative(const DcmTag& pixel, const PixelModule& m, const FrameLayout& f, uint8_t* work) {
  const uint8_t* src = pixel.data();
  const size_t n = std::min(pixel.size(), f.totalSize);
  if (f.colour && m.planar == 1) {
    const size_t third = f.frameSize / 3;
    for (int k = 0; k < f.frames; ++k) {
      const uint8_t* in = src + static_cast<size_t>(k) * f.frameSize;
      uint8_t* out = work + static_cast<size_t>(k) * f.frameSize;
      for (size_t p = 0; p < third; ++p) {
        out[3 * p] = in[p];
        out[3 * p + 1] = in[third + p];
        out[3 * p + 2] = in[2 * third + p];
      }
    }
  } else {
    std::copy(src, src + n, work);
  }
  // OW values are 16-bit words whatever Bits Allocated says; an OB value is never swapped.
  const bool words = pixel.IsVR("OW") || (f.bitsAllocated == 16 && !pixel.IsVR("OB"));
  if (pixel.bigEndian && words) {
    for (size_t k = 0; k + 1 < n; k += 2) std::swap(work[k], work[k + 1]);
  } else if (pixel.bigEndian && f.bitsAllocated == 32) {
    for (size_t k = 0; k + 3 < n; k += 4) {
      std::swap(work[k], work[k + 3]);
      std::swap(work[k + 1], work[k + 2]);
    }
  }
  if (f.colour && f.bitsAllocated == 8 && m.photometric == "YBR_FULL") YbrFullToRgb(work, f.totalSize / 3);
}

size_t SwapUnit(const DcmTag& t) {
  static const char* k2[] = {"US", "SS", "OW", "AT"};
  static const char* k4[] = {"UL", "SL", "FL", "OF", "OL"};
  static const char* k8[] = {"FD", "OD", "OV", "SV", "UV"};
  for (const char* v : k2)
    if (t.IsVR(v)) return 2;
  for (const char* v : k4)
    if (t.IsVR(v)) return 4;
  for (const char* v : k8)
    if (t.IsVR(v)) return 8;
  return 0;
}

std::string RatioText(float ratio) { return FormatFixed(static_cast<double>(ratio), 2); }

}  // namespace

void SetValueByteOrder(DcmObj& obj, bool bigEndian) {
  obj.bigEndian = bigEndian;
  for (size_t i = 0; i < obj.Count(); ++i) {
    if (DcmObj* nested = obj.GetObj(i)) {
      SetValueByteOrder(*nested, bigEndian);
      continue;
    }
    DcmTag* t = obj.GetTag(i);
    if (t->bigEndian == bigEndian) continue;
    const size_t unit = SwapUnit(*t);
    if (unit > 0 && t->size() > 0) {
      uint8_t* p = t->data();
      const size_t n = t->size() - t->size() % unit;
      for (size_t k = 0; k < n; k += unit) std::reverse(p + k, p + k + unit);
    }
    t->bigEndian = bigEndian;
  }
}

void ReadLUTSequence(const DcmObj& sequence, LookupTable& lut) {
  for (size_t i = 0; i < sequence.Count(); ++i) {
    if (const DcmObj* item = sequence.GetObj(i)) {
      ReadLUTSequence(*item, lut);
      continue;
    }
    const DcmTag* t = sequence.GetTag(i);
    if (t->Is(0x0028, 0x3002)) lut.SetDescriptor(t->data(), t->size(), t->bigEndian);
    if (t->Is(0x0028, 0x3006)) lut.SetData(t->data(), t->size(), t->bigEndian);
  }
}

// The end of the flat sequence that starts at i, reading its LUT on the way (from its items of defined
// length and from the elements of its own items); npos when it is never closed.
static size_t ReadFlatLUTSequence(const DcmObj& obj, size_t i, LookupTable& found) {
  FlatWalk walk;
  walk.Step(*obj.GetTag(i));
  for (size_t j = i + 1; j < obj.Count(); ++j) {
    if (const DcmObj* item = obj.GetObj(j)) {
      ReadLUTSequence(*item, found);
      continue;
    }
    const DcmTag* u = obj.GetTag(j);
    const EntryPlace place = walk.Step(*u);
    if (place.role == EntryRole::Element && place.depth <= 2) {
      if (u->Is(0x0028, 0x3002)) found.SetDescriptor(u->data(), u->size(), u->bigEndian);
      if (u->Is(0x0028, 0x3006)) found.SetData(u->data(), u->size(), u->bigEndian);
    }
    if (walk.depth() == 0) return j;
  }
  return DcmObj::npos;
}

bool FindVOILUT(const DcmObj& obj, LookupTable* lut, size_t* first, size_t* count) {
  size_t at = DcmObj::npos, end = DcmObj::npos;
  LookupTable found;
  WalkEntries(obj, [&](size_t i, const DcmTag& head, EntryPlace place) {
    if (!place.TopLevel() || !head.Is(0x0028, 0x3010)) return true;
    if (place.role == EntryRole::Nested) {
      ReadLUTSequence(*obj.GetObj(i), found);
      end = i;
    } else if (place.role == EntryRole::SequenceStart) {
      end = ReadFlatLUTSequence(obj, i, found);  // never closed: not a usable sequence
    } else {
      return true;
    }
    at = i;
    return false;
  });
  if (at == DcmObj::npos || end == DcmObj::npos) return false;
  if (lut) *lut = std::move(found);
  if (first) *first = at;
  if (count) *count = end - at + 1;
  return true;
}

int ApplyVOILUT(DcmObj& obj) {
  LookupTable lut;
  size_t first = 0, count = 0;
  if (!FindVOILUT(obj, &lut, &first, &count) || !lut.Ready()) return 0;
  PixelModule m = ReadConversionModule(obj);
  if (m.pixelIndex == std::numeric_limits<size_t>::max() || m.bitsAllocated != 16 || m.colour()) return 0;
  DcmTag* pixel = obj.GetTag(m.pixelIndex);
  if (pixel->length == kUndefinedLength || pixel->size() < 2) return 0;
  FrameLayout f = MakeLayout(false, m.columns, m.rows, m.bitsStored, m.bitsAllocated, m.pixelRepresentation, m.frames);
  const size_t n = std::min(pixel->size(), f.totalSize) / 2;
  if (pixel->bigEndian) {
    for (size_t k = 0; k < n; ++k) {
      uint8_t* p = pixel->data() + 2 * k;
      uint16_t v = lut.Map(static_cast<uint16_t>((p[0] << 8) | p[1]));
      p[0] = static_cast<uint8_t>(v >> 8);
      p[1] = static_cast<uint8_t>(v & 0xFF);
    }
  } else {
    MapThroughLUT(lut, pixel->data(), n);
  }
  for (size_t k = 0; k < count; ++k) obj.Delete(first);
  return static_cast<int>(count);
}

bool Decomp(DcmObj& obj, size_t pixelIndex, uint8_t* destination, size_t totalSize, int frames, int bitsAllocated) {
  Fragments f;
  if (!DecodeFrames(obj, pixelIndex, destination, totalSize, frames, bitsAllocated, f)) return false;
  RemoveFragments(obj, pixelIndex, f);
  return true;
}

namespace {
bool ConvertUnguarded(DcmObj& obj, const std::string& target);
}  // namespace

bool IsConversionTarget(const std::string& uid) {
  return IsKnownTransferSyntax(uid) && uid != kTsJpegLossless14 && uid != kTsMpeg2;
}

bool ConvertTransferSyntax(DcmObj& obj, const std::string& target) {
  try {
    return ConvertUnguarded(obj, target);
  } catch (const std::bad_alloc&) {
    // The large buffers (work buffer, code streams) are all made before any entry is changed.
    WriteLog("ERROR, DcmObj::ConvertTransferSyntax, out of memory");
    return false;
  }
}

namespace {

const char kWho[] = "ERROR, DcmObj::ConvertTransferSyntax, ";

// The bytes of the items that follow an encapsulated Pixel Data element (its coded frames).
uint64_t CodedBytes(const DcmObj& obj, size_t pixelIndex) {
  uint64_t coded = 0;
  for (size_t i = pixelIndex + 1; i < obj.Count(); ++i) {
    const DcmTag* t = obj.GetTag(i);
    if (t == nullptr || !t->Is(0xFFFE, 0xE000)) break;
    coded += t->size();
  }
  return coded;
}

// Refuses the pairs no coder or decoder serves.
bool SyntaxesServed(const std::string& source, const std::string& target) {
  const std::string who = kWho;
  if (!IsKnownTransferSyntax(source)) {
    WriteLog(who + "unknown source transfer syntax " + source);
    return false;
  }
  if (!IsKnownTransferSyntax(target)) {
    WriteLog(who + "unknown target transfer syntax " + target);
    return false;
  }
  if (!IsConversionTarget(target)) {
    WriteLog(who + "no coder for target " + target);
    return false;
  }
  if (source == kTsMpeg2) {
    WriteLog(who + "no decoder for source " + source);
    return false;
  }
  return true;
}

// The frames' size must fit one element and, for native data, the value; for encapsulated data it
// must be within reach of the fragments, since the work buffer is made from the header's numbers
// before anything is decoded. No codec packs more than about 512 native bytes into one coded byte
// (JPEG's two bits per 8x8 block; RLE 64, lossless JPEG 16), so 1024 leaves room, and anything up
// to 16 MB is allowed whatever its fragments hold.
bool SizeFits(const DcmObj& obj, const PixelModule& m, const FrameLayout& f) {
  const std::string who = kWho;
  if (f.totalSize == 0) {
    WriteLog(who + "size=0");
    return false;
  }
  if (f.totalSize >= kUndefinedLength - 1) {
    WriteLog(who + "size=" + std::to_string(f.totalSize) + " does not fit a Pixel Data element");
    return false;
  }
  const DcmTag* pixel = obj.GetTag(m.pixelIndex);
  if (pixel->length != kUndefinedLength) {
    if (pixel->size() == f.totalSize || pixel->size() == f.totalSize + 1) return true;
    WriteLog(who + "tag->length!=size");
    return false;
  }
  const uint64_t coded = CodedBytes(obj, m.pixelIndex);
  if (f.totalSize > kMaxUncheckedPixelBytes && f.totalSize / kMaxCompressionRatio > coded) {
    WriteLog(who + "Pixel Data of " + std::to_string(f.totalSize) + " bytes (" + std::to_string(m.columns) + " x " +
             std::to_string(m.rows) + ", " + std::to_string(f.bitsAllocated) + " bits, " + std::to_string(f.frames) +
             " frames) cannot come from " + std::to_string(coded) + " bytes of fragments");
    return false;
  }
  return true;
}

// JPEG baseline and lossless coding only read the frames: a native value that needs no
// rearranging (little endian, interleaved, not YBR_FULL) is coded where it lies, without a work copy.
bool CodedWhereItLies(const DcmTag& pixel, const PixelModule& m, const FrameLayout& f, const std::string& target) {
  if (pixel.length == kUndefinedLength || (target != kTsJpegLossless && target != kTsJpegBaseline)) return false;
  const bool words = pixel.IsVR("OW") || (f.bitsAllocated == 16 && !pixel.IsVR("OB"));
  return pixel.size() >= f.totalSize && !(f.colour && m.planar == 1) &&
         !(pixel.bigEndian && (words || f.bitsAllocated == 32)) &&
         !(f.colour && f.bitsAllocated == 8 && m.photometric == "YBR_FULL");
}

// A CR going to 12-bit lossy coding is mapped through its VOI LUT first; the entries of the LUT
// sequence to remove afterwards are noted.
struct LutEntries {
  bool applied = false;
  size_t first = 0, count = 0;
};
LutEntries MapCrThroughVoiLut(const DcmObj& obj, const FrameLayout& f, const std::string& target, ByteBuffer& work) {
  LutEntries e;
  if (target != kTsJpegExtended || obj.GetString(0x0008, 0x0060) != "CR" || f.bitsAllocated != 16 || f.colour)
    return e;
  LookupTable lut;
  if (FindVOILUT(obj, &lut, &e.first, &e.count) && lut.Ready()) {
    MapThroughLUT(lut, work.data(), f.totalSize / 2);
    e.applied = true;
  }
  return e;
}

// Fills the frames: decoded from the fragments, or copied (rearranged) from the native value.
bool ReadFrames(const DcmObj& obj, const PixelModule& m, const FrameLayout& f, ByteBuffer& work,
                Fragments& fragments) {
  const DcmTag* pixel = obj.GetTag(m.pixelIndex);
  if (pixel->length != kUndefinedLength) {
    CopyNative(*pixel, m, f, work.data());
    return true;
  }
  try {
    // A frame that fails has been logged by the decoding step itself.
    return DecodeFrames(obj, m.pixelIndex, work.data(), f.totalSize, f.frames, f.bitsAllocated, fragments);
  } catch (const std::bad_alloc&) {
    WriteLog(std::string(kWho) + "Exception on Decomp");
    return false;
  }
}

// What a lossy source syntax did to the frames: the ratio (0 for a lossless source) and method.
struct LossySource {
  float ratio = 0;
  const char* method = "";
};
LossySource LossyOrigin(const DcmObj& obj, const PixelModule& m, const FrameLayout& f) {
  LossySource l;
  if (!IsLossyTarget(obj.transferSyntax)) return l;
  const uint64_t coded = CodedBytes(obj, m.pixelIndex);
  l.ratio = coded > 0 ? static_cast<float>(double(f.totalSize) / double(coded)) : 1.0f;
  l.method = obj.transferSyntax == kTsJ2K ? "ISO_15444_1" : "ISO_10918_1";
  return l;
}

// Replaces the pixel data with the coded or native frames and rewrites the header for the target.
// Nothing here can fail.
void StoreConverted(DcmObj& obj, PixelModule& m, const FrameLayout& f, const std::string& target,
                    bool encapsulatedSource, const Fragments& fragments, std::vector<std::vector<uint8_t>>&& streams,
                    bool encapsulatedTarget, ByteBuffer&& work, const LutEntries& lut, const LossySource& lossySource) {
  size_t index = m.pixelIndex;
  if (encapsulatedSource) RemoveFragments(obj, index, fragments);
  float ratio = 0.0f;
  if (encapsulatedTarget)
    ratio = std::max(0.0f, StoreEncapsulated(obj, index, std::move(streams), f.totalSize, IsLossyTarget(target)));
  else
    StoreNative(obj, index, std::move(work), f.bitsAllocated);
  if (lut.applied) {
    for (size_t k = 0; k < lut.count; ++k) obj.Delete(lut.first);
    if (lut.first < m.pixelIndex) m.pixelIndex -= lut.count;
  }
  SetValueByteOrder(obj, false);
  RewriteHeader(obj, target, m);
  if (IsLossyTarget(target)) {
    obj.SetText(0x0028, 0x2110, "01");
    obj.SetText(0x0028, 0x2112, RatioText(ratio));
    obj.SetText(0x0028, 0x2114, target == kTsJ2K ? "ISO_15444_1" : "ISO_10918_1");
  } else if (lossySource.ratio > 0 && obj.GetString(0x0028, 0x2110) != "01") {
    // Decoded lossy frames stay lossy: the data set says so, with the ratio and method they had.
    obj.SetText(0x0028, 0x2110, "01");
    obj.SetText(0x0028, 0x2112, RatioText(lossySource.ratio));
    obj.SetText(0x0028, 0x2114, lossySource.method);
  }
  if (target == kTsExplicitBE) SetValueByteOrder(obj, true);
  obj.transferSyntax = target;
  obj.explicitVR = target != kTsImplicitLE;
}

bool ConvertUnguarded(DcmObj& obj, const std::string& target) {
  const std::string source = obj.transferSyntax;
  if (target.empty() || target == source) return true;
  if (!SyntaxesServed(source, target)) return false;
  PixelModule m = ReadConversionModule(obj);
  obj.photometric = m.photometric;
  if (m.pixelIndex == std::numeric_limits<size_t>::max()) {
    // Without pixel data only the encoding changes: any object goes between the native syntaxes.
    const TransferSyntax* from = FindTransferSyntax(source);
    const TransferSyntax* to = FindTransferSyntax(target);
    if (from->encapsulated || to->encapsulated) {
      WriteLog(std::string(kWho) + "no Pixel Data");
      return false;
    }
    SetValueByteOrder(obj, to->bigEndian);
    obj.transferSyntax = target;
    obj.explicitVR = to->explicitVR;
    return true;
  }
  FrameLayout f = MakeLayout(m.colour(), m.columns, m.rows, m.bitsStored, m.bitsAllocated, m.pixelRepresentation,
                             m.frames);
  if (!SizeFits(obj, m, f)) return false;

  const bool encapsulatedSource = obj.GetTag(m.pixelIndex)->length == kUndefinedLength;
  const bool inPlace = CodedWhereItLies(*obj.GetTag(m.pixelIndex), m, f, target);
  ByteBuffer work(inPlace ? 0 : f.totalSize);
  Fragments fragments;
  if (!inPlace && !ReadFrames(obj, m, f, work, fragments)) return false;
  const LutEntries lut = encapsulatedSource ? LutEntries{} : MapCrThroughVoiLut(obj, f, target, work);
  const LossySource lossySource = LossyOrigin(obj, m, f);

  uint8_t* frames = inPlace ? obj.GetTag(m.pixelIndex)->data() : work.data();
  std::vector<std::vector<uint8_t>> streams;
  bool encapsulatedTarget = false;
  try {
    if (!EncodeFrames(frames, f, m.slope, m.intercept, target, m.modality, streams, encapsulatedTarget))
      return false;  // logged by the coding step
  } catch (const std::bad_alloc&) {
    WriteLog(std::string(kWho) + "Exception on Comp");
    return false;
  }
  StoreConverted(obj, m, f, target, encapsulatedSource, fragments, std::move(streams), encapsulatedTarget,
                 std::move(work), lut, lossySource);
  return true;
}
}  // namespace
