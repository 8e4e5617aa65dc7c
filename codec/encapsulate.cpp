// Storing native frames back into a data set: encapsulated fragments or a native value.
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "codec/convert.h"
#include "codec/convert_internal.h"
#include "codec/jpeg.h"
#include "codec/reduce.h"
#include "core/log.h"

void InsertAt(DcmObj& obj, DcmTag&& tag, size_t index) {
  std::vector<DcmTag> one;
  one.push_back(std::move(tag));
  InsertRangeAt(obj, std::move(one), index);
}

// Entries after the insertion point are set aside (copied, then deleted) and appended again after
// the new ones. Pixel Data is normally the last element, so the tail is empty or very short.
void InsertRangeAt(DcmObj& obj, std::vector<DcmTag>&& tags, size_t index) {
  if (index > obj.Count()) index = obj.Count();
  std::vector<std::unique_ptr<DcmTag>> tailTags;
  std::vector<std::unique_ptr<DcmObj>> tailObjs;
  std::vector<bool> tailIsObj;
  for (size_t j = index; j < obj.Count(); ++j) {
    if (const DcmTag* t = obj.GetTag(j)) {
      tailTags.push_back(std::make_unique<DcmTag>(*t));
      tailIsObj.push_back(false);
    } else if (const DcmObj* o = obj.GetObj(j)) {
      tailObjs.push_back(o->Clone());
      tailIsObj.push_back(true);
    }
  }
  while (obj.Count() > index) obj.Delete(obj.Count() - 1);
  for (DcmTag& t : tags) obj.Add(std::move(t));
  size_t ti = 0, oi = 0;
  for (bool isObj : tailIsObj) {
    if (isObj)
      obj.Add(std::move(tailObjs[oi++]));
    else
      obj.Add(std::move(tailTags[ti++]));
  }
}

bool EncodeFrames(uint8_t* buffer, const FrameLayout& f, float slope, float intercept, const std::string& ts,
                  const std::string& modality, std::vector<std::vector<uint8_t>>& streams, bool& encapsulated) {
  streams.clear();
  const FrameCodec* codec = FindFrameCodec(ts);
  encapsulated = codec != nullptr && codec->encode != nullptr;
  if (!encapsulated) return true;
  const bool lossless70 = ts == kTsJpegLossless;
  const bool baseline = ts == kTsJpegBaseline;
  const bool extended = ts == kTsJpegExtended;

  if (extended && f.bitsStored == 8 && f.bitsAllocated != 16) {
    WriteLog("ERROR, DcmObj::Comp, Using Lossy 12 bit compression for 8 bit image");
    return false;
  }
  // The JPEG coders take colour only as 8-bit samples and 16-bit words only as one component.
  if (f.colour && f.bitsAllocated != 8 && !codec->colourBeyond8Bits) {
    WriteLog("ERROR, DcmObj::Comp, colour image with Bits Allocated " + std::to_string(f.bitsAllocated) +
             " can't be coded as " + ts);
    return false;
  }
  const bool jpeg = lossless70 || baseline || extended;
  if ((jpeg && f.bitsAllocated != 8 && f.bitsAllocated != 16) ||
      (!jpeg && f.bitsAllocated != 8 && f.bitsAllocated != 16 && f.bitsAllocated != 32) ||
      (extended && f.bitsAllocated != 16)) {
    WriteLog("ERROR, DcmObj::Comp, Bits Allocated " + std::to_string(f.bitsAllocated) + " can't be coded as " + ts);
    return false;
  }

  streams.reserve(static_cast<size_t>(f.frames));
  ByteBuffer reduced;
  for (int i = 0; i < f.frames; ++i) {
    uint8_t* frame = buffer + static_cast<size_t>(i) * f.frameSize;
    std::vector<uint8_t> out;
    const bool ok = codec->encode({frame, f, slope, intercept, modality, reduced, out});
    if (!ok || out.empty()) {
      WriteLog("ERROR, DcmObj::Comp, frame " + std::to_string(i + 1) + " of " + std::to_string(f.frames) +
               " could not be coded as " + ts);
      streams.clear();
      return false;
    }
    out.shrink_to_fit();  // the stream grew by doubling: keep only its bytes until the item is made
    streams.push_back(std::move(out));
  }
  return true;
}

float StoreEncapsulated(DcmObj& obj, size_t& index, std::vector<std::vector<uint8_t>>&& streams, size_t totalSize,
                        bool lossy) {
  DcmTag* pixel = obj.GetTag(index);
  pixel->SetVR("OB");
  pixel->ReleaseValue();
  pixel->length = kUndefinedLength;
  pixel->bigEndian = false;
  std::vector<DcmTag> items;
  items.reserve(streams.size() + 2);
  items.emplace_back(0xFFFE, 0xE000, uint32_t{0}, nullptr, "DL");
  double sum = 0;
  for (auto& s : streams) {
    sum += static_cast<double>(s.size());
    items.emplace_back(0xFFFE, 0xE000, static_cast<uint32_t>(s.size()), s.data(), "DL");
    std::vector<uint8_t>().swap(s);  // the code stream is released once its item holds a copy
  }
  items.emplace_back(0xFFFE, 0xE0DD, uint32_t{0}, nullptr, "DL");
  const size_t count = items.size();
  InsertRangeAt(obj, std::move(items), index + 1);
  index += count;  // the delimiter
  if (lossy && sum > 0) return static_cast<float>(static_cast<double>(totalSize) / sum);
  return -1.0f;
}

void StoreNative(DcmObj& obj, size_t index, ByteBuffer&& frames, int bitsAllocated) {
  DcmTag* pixel = obj.GetTag(index);
  if (frames.size() % 2) frames.push_back(0);
  pixel->SetVR(bitsAllocated > 8 ? "OW" : "OB");
  pixel->SetValue(std::move(frames));
  pixel->bigEndian = false;
}

bool Comp(DcmObj& obj, size_t& index, uint8_t* buffer, bool colour, int columns, int rows, int bitsStored,
          int bitsAllocated, int pixelRepresentation, int /*planarConfiguration*/, float slope, float intercept,
          float& ratio, int frames, const std::string& targetSyntax, const std::string& modality) {
  DcmTag* pixel = obj.GetTag(index);
  if (pixel == nullptr || !pixel->Is(0x7FE0, 0x0010)) {
    WriteLog("ERROR, DcmObj::Comp, no Pixel Data at entry " + std::to_string(index));
    return false;
  }
  FrameLayout f = MakeLayout(colour, columns, rows, bitsStored, bitsAllocated, pixelRepresentation, frames);
  std::vector<std::vector<uint8_t>> streams;
  bool encapsulated = false;
  if (!EncodeFrames(buffer, f, slope, intercept, targetSyntax, modality, streams, encapsulated)) return false;
  if (encapsulated) {
    const float r = StoreEncapsulated(obj, index, std::move(streams), f.totalSize, IsLossyTarget(targetSyntax));
    if (r >= 0) ratio = r;
  } else {
    ByteBuffer copy;
    try {
      copy.reserve(f.totalSize + 1);
    } catch (const std::bad_alloc&) {
      WriteLog("ERROR, DcmObj::Comp, allocating memory: " + std::to_string(f.totalSize));
      return false;
    }
    copy.assign(buffer, buffer + f.totalSize);
    StoreNative(obj, index, std::move(copy), bitsAllocated);
  }
  return true;
}
