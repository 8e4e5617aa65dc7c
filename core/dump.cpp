#include <cstdio>
#include <cstring>

#include "core/dcmobj.h"
#include "core/dictionary.h"
#include "core/strutil.h"

std::string DcmTag::Dump(int depth) const {
  std::string line;
  for (int i = 1; i < depth; ++i) line += "...";
  // The VR shown is the dictionary's for a known tag, else the element's own two letters. The element
  // itself is left alone: dumping what is about to be sent must not change it.
  char letters[3] = {vr[0], vr[0] ? vr[1] : '\0', 0};
  const DictEntry* d = FindDictEntry(group, element);
  if (d) {
    letters[0] = d->vr[0];
    letters[1] = d->vr[0] ? d->vr[1] : '\0';
  }
  char head[64];
  std::snprintf(head, sizeof head, "(%04X,%04X), %2d, %s, ", group, element, static_cast<int32_t>(length), letters);
  line += head;
  line += d && d->name ? d->name : "*** Unidentified ***";
  line += ": ";

  const uint8_t* p = data();
  const bool isUI = letters[0] == 'U' && letters[1] == 'I';
  if (!(letters[0] == 'S' && letters[1] == 'Q') && length < 255 && p) {
    const std::string two(letters);
    char num[64];
    if ((two == "FL" || two == "FD") && length == 4) {
      uint32_t bits = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                      static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
      float f;
      std::memcpy(&f, &bits, 4);
      line += FormatFixed(static_cast<double>(f), 2, 5);
    } else if (two == "SL" || two == "SS" || two == "UL" || two == "US") {
      if (length <= 4) {
        uint32_t v = 0;
        for (size_t i = 0; i < size() && i < 4; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
        std::snprintf(num, sizeof num, "%d", static_cast<int32_t>(v));
        line += num;
      } else {
        line += "Vector!!";
      }
    } else {
      const void* nul = std::memchr(p, 0, size());
      const size_t n = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - p) : size();
      line.append(reinterpret_cast<const char*>(p), n);
    }
    if (isUI) {
      const std::string name = GetUIDName(GetString());
      if (!name.empty()) line += " (" + name + ") ";
    }
  }
  return line;
}

void DcmObj::Dump(std::vector<std::string>& lines, int depth) const {
  for (size_t i = 0; i < Count(); ++i) {
    if (const DcmTag* t = GetTag(i)) {
      lines.push_back(t->Dump(depth));
    } else {
      const DcmObj* c = GetObj(i);
      lines.push_back(c->header.Dump(depth));
      c->Dump(lines, depth + 1);
    }
  }
}
