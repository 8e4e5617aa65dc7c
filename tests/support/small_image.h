#pragma once
// A small 8-bit monochrome secondary capture image for tests and tools that send one: size x size
// pixels, pixel i = i * step + offset, in explicit VR little endian. Callers add what else they
// need (patient, study).
#include <cstdint>
#include <string>
#include <utility>

#include "core/dcmobj.h"

namespace testsupport {

inline DcmObj SmallImage(const std::string& instance, uint16_t size, uint8_t step = 1, uint8_t offset = 0) {
  DcmObj o;
  o.transferSyntax = kTsExplicitLE;
  o.explicitVR = true;
  o.Add(DcmTag(0x0008, 0x0016, std::string("1.2.840.10008.5.1.4.1.1.7"), "UI"));
  o.Add(DcmTag(0x0008, 0x0018, instance, "UI"));
  o.Add(DcmTag::Number16(0x0028, 0x0002, 1, "US"));
  o.Add(DcmTag(0x0028, 0x0004, std::string("MONOCHROME2"), "CS"));
  o.Add(DcmTag::Number16(0x0028, 0x0010, size, "US"));
  o.Add(DcmTag::Number16(0x0028, 0x0011, size, "US"));
  o.Add(DcmTag::Number16(0x0028, 0x0100, 8, "US"));
  o.Add(DcmTag::Number16(0x0028, 0x0101, 8, "US"));
  o.Add(DcmTag::Number16(0x0028, 0x0102, 7, "US"));
  o.Add(DcmTag::Number16(0x0028, 0x0103, 0, "US"));
  ByteBuffer px(size_t{size} * size);
  for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(i * step + offset);
  o.Add(DcmTag(0x7FE0, 0x0010, std::move(px), "OB"));
  return o;
}

}  // namespace testsupport
