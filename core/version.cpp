#include "core/version.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

uint32_t le32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The key is assembled at run time so that the reader's own code never holds it as one piece
// that could be mistaken for a record.
std::string recordKey() {
  std::string k = "OFNI_NOISREV_SV";
  std::string r(k.rbegin(), k.rend());
  r.push_back('\0');
  return r;
}

}  // namespace

std::string GetVersionText(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return "";
  const std::string key = recordKey();
  constexpr size_t kRecord = sizeof(VersionRecord);
  constexpr size_t kChunk = 1 << 20;
  std::vector<unsigned char> buf;
  std::string result;
  size_t kept = 0;  // bytes carried over from the previous chunk
  for (;;) {
    buf.resize(kept + kChunk);
    size_t got = std::fread(buf.data() + kept, 1, kChunk, f);
    size_t have = kept + got;
    size_t i = 0;
    for (; i + kRecord <= have; ++i) {
      if (buf[i] != 'V' || std::memcmp(buf.data() + i, key.data(), key.size()) != 0) continue;
      const unsigned char* fixed = buf.data() + i + key.size();
      if (le32(fixed) != kVersionSignature || le32(fixed + 4) != 0x00010000u) continue;
      uint32_t ms = le32(fixed + 8), ls = le32(fixed + 12);
      char text[40];
      std::snprintf(text, sizeof text, "%u.%u.%u", unsigned(ms >> 16), unsigned(ms & 0xFFFF), unsigned(ls >> 16));
      result = text;
      break;
    }
    if (!result.empty() || got == 0) break;
    // Keep the tail that could start a record split across the chunk boundary.
    kept = have - i;
    std::memmove(buf.data(), buf.data() + i, kept);
  }
  std::fclose(f);
  return result;
}
