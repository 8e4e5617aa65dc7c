#include "codec/lut.h"

namespace {
uint16_t Word(const uint8_t* p, bool bigEndian) {
  return bigEndian ? static_cast<uint16_t>((p[0] << 8) | p[1]) : static_cast<uint16_t>(p[0] | (p[1] << 8));
}
}  // namespace

bool LookupTable::SetDescriptor(const uint8_t* bytes, size_t length, bool bigEndian) {
  if (bytes == nullptr || length != 6) return false;
  uint16_t n = Word(bytes, bigEndian);
  entries = n == 0 ? 65536u : n;
  firstMapped = Word(bytes + 2, bigEndian);
  bitsPerEntry = Word(bytes + 4, bigEndian);
  values.clear();
  return true;
}

bool LookupTable::SetData(const uint8_t* bytes, size_t length, bool bigEndian) {
  if (bytes == nullptr || entries == 0) return false;
  if (length == static_cast<size_t>(entries) * 2) {
    values.resize(entries);
    for (size_t i = 0; i < entries; ++i) values[i] = Word(bytes + 2 * i, bigEndian);
    return true;
  }
  if (bitsPerEntry <= 8 && (length == entries || length == entries + static_cast<size_t>(entries % 2))) {
    values.assign(bytes, bytes + entries);
    return true;
  }
  return false;
}

uint16_t LookupTable::Map(uint16_t value) const {
  if (!Ready()) return value;
  int64_t v = static_cast<int64_t>(value) - firstMapped;
  if (v < 0) v = 0;
  if (v > static_cast<int64_t>(entries) - 1) v = entries - 1;
  return values[static_cast<size_t>(v)];
}

void MapThroughLUT(const LookupTable& lut, uint8_t* samples, size_t count) {
  if (!lut.Ready()) return;
  for (size_t i = 0; i < count; ++i) {
    uint8_t* p = samples + 2 * i;
    uint16_t m = lut.Map(static_cast<uint16_t>(p[0] | (p[1] << 8)));
    p[0] = static_cast<uint8_t>(m & 0xFF);
    p[1] = static_cast<uint8_t>(m >> 8);
  }
}
