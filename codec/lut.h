#pragma once
// A lookup table read from a LUT Descriptor (0028,3002) and LUT Data (0028,3006), as found in
// the items of a VOI LUT Sequence (0028,3010). Lookups never read outside the table.
#include <cstddef>
#include <cstdint>
#include <vector>

struct LookupTable {
  uint16_t firstMapped = 0;   // stored value that maps to entry 0
  uint32_t entries = 0;       // number of entries; a descriptor value of 0 means 65536
  uint16_t bitsPerEntry = 0;  // 8 to 16
  std::vector<uint16_t> values;  // the entries, filled by SetData; empty until then

  // Reads the three 16-bit numbers of a 6-byte descriptor (in the element's byte order).
  // Any other length leaves the table unchanged and returns false. Clears earlier data.
  bool SetDescriptor(const uint8_t* bytes, size_t length, bool bigEndian);
  // Fills the entries from LUT Data when its length fits the descriptor: two bytes per entry,
  // or, for 8-bit entries, one byte per entry (an odd count padded by one byte). Otherwise the
  // data stay unfilled and the result is false.
  bool SetData(const uint8_t* bytes, size_t length, bool bigEndian);
  // True when descriptor and data are both in place.
  bool Ready() const { return entries > 0 && values.size() == entries; }
  // The entry for a stored value: value - firstMapped limited to 0..entries-1. A table that is
  // not ready returns the value unchanged.
  uint16_t Map(uint16_t value) const;
};

// Maps count 16-bit little-endian samples in place through the table.
void MapThroughLUT(const LookupTable& lut, uint8_t* samples, size_t count);
