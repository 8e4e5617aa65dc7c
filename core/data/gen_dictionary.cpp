// Build-time generator of the data dictionary table.
//
//   gen_dictionary <registry.tsv> <overrides.tsv> <output.cpp>
//
// Reads the DICOM data element registry (tab-separated UTF-8: tag, vr, vm, name, keyword, retired)
// and writes the constant DataDictionary array sorted by (group, element), one entry per tag:
// - only the groups in kGroups; the repeating curve and overlay groups 50xx and 60xx appear once,
//   under 5000 and 6000; other masked tags (002031xx, 002804x0, 1000xxx0, 7Fxx0010 ...) are left out,
//   because one concrete tag cannot stand for a range and some bases collide with real tags;
// - rows the registry lists without a name or VR (placeholders) are left out;
// - "A or B" VRs keep the last VR and put the others at the end of the name ("... A or");
// - "See Note 2" (the item and delimitation tags) becomes the program's own VR "DL";
// - retired rows end in " (RET)" (a trailing " (Retired)" of the name is replaced by it);
// - every group except FFFE gets a group length entry (gggg,0000) UL when the registry has none;
// - the override rows then replace or add entries exactly as written;
// - names are converted from UTF-8 to Windows code page 1252.
// Any row it cannot convert stops the build with a message naming the line.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr uint16_t kGroups[] = {
    0x0000, 0x0002, 0x0004, 0x0008, 0x0010, 0x0012, 0x0018, 0x0020, 0x0022, 0x0028, 0x0032,
    0x0038, 0x003A, 0x0040, 0x0042, 0x0050, 0x0054, 0x0060, 0x0070, 0x0072, 0x0088, 0x0100,
    0x0400, 0x2000, 0x2010, 0x2020, 0x2030, 0x2040, 0x2050, 0x2100, 0x2110, 0x2120, 0x2130,
    0x2200, 0x3002, 0x3004, 0x3006, 0x3008, 0x300A, 0x300C, 0x300E, 0x4000, 0x4008, 0x4FFE,
    0x5000, 0x5200, 0x5400, 0x5600, 0x6000, 0x7FE0, 0xFFFA, 0xFFFC, 0xFFFE};

struct Entry {
  std::string vr;
  std::string name;  // cp1252
};

[[noreturn]] void Fail(const std::string& where, const std::string& why) {
  std::cerr << "gen_dictionary: " << where << ": " << why << "\n";
  std::exit(1);
}

std::vector<std::string> Split(const std::string& line, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t p = line.find(sep, start);
    out.push_back(line.substr(start, p == std::string::npos ? std::string::npos : p - start));
    if (p == std::string::npos) break;
    start = p + 1;
  }
  return out;
}

bool ParseHex4(const std::string& s, uint16_t& v) {
  if (s.size() != 4) return false;
  unsigned r = 0;
  for (char c : s) {
    r <<= 4;
    if (c >= '0' && c <= '9') r |= unsigned(c - '0');
    else if (c >= 'A' && c <= 'F') r |= unsigned(c - 'A' + 10);
    else return false;
  }
  v = uint16_t(r);
  return true;
}

bool IsListedGroup(uint16_t g) { return std::find(std::begin(kGroups), std::end(kGroups), g) != std::end(kGroups); }

bool IsVR(const std::string& vr) {
  return vr.size() == 2 && vr[0] >= 'A' && vr[0] <= 'Z' && vr[1] >= 'A' && vr[1] <= 'Z';
}

// Unicode code point -> cp1252 byte, or -1 when cp1252 has no such character.
int ToCp1252(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return int(cp);
  static const uint16_t k80[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                   0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                   0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                   0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  for (int i = 0; i < 32; ++i)
    if (k80[i] != 0 && k80[i] == cp) return 0x80 + i;
  return -1;
}

std::string Utf8ToCp1252(const std::string& s, const std::string& where) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp;
    size_t n;
    if (c < 0x80) { cp = c; n = 1; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; n = 2; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; n = 3; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; n = 4; }
    else Fail(where, "bad UTF-8");
    if (i + n > s.size()) Fail(where, "truncated UTF-8");
    for (size_t k = 1; k < n; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) Fail(where, "bad UTF-8");
      cp = (cp << 6) | (d & 0x3F);
    }
    int b = ToCp1252(cp);
    if (b < 0 || (b < 0x20 && b != 0)) Fail(where, "character not in code page 1252");
    if (b == 0) Fail(where, "NUL in name");
    out.push_back(static_cast<char>(b));
    i += n;
  }
  return out;
}

std::vector<std::string> ReadLines(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(path, "cannot open");
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// "US or SS or OW" -> VR "OW", name suffix " US or SS or".
void SplitVR(const std::string& text, std::string& vr, std::string& suffix, const std::string& where) {
  if (text == "See Note 2") {
    vr = "DL";
    suffix.clear();
    return;
  }
  std::vector<std::string> words = Split(text, ' ');
  if (words.size() % 2 == 0) Fail(where, "unexpected VR text '" + text + "'");
  for (size_t i = 1; i < words.size(); i += 2)
    if (words[i] != "or") Fail(where, "unexpected VR text '" + text + "'");
  vr = words.back();
  suffix.clear();
  for (size_t i = 0; i + 1 < words.size(); i += 2) suffix += " " + words[i] + " or";
  if (!IsVR(vr)) Fail(where, "unexpected VR '" + vr + "'");
}

std::string CString(const std::string& s) {
  std::string out = "\"";
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c >= 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03o", c);  // octal: never swallows the next character
      out += buf;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: gen_dictionary <registry.tsv> <overrides.tsv> <output.cpp>\n";
    return 2;
  }
  std::map<uint32_t, Entry> table;

  std::vector<std::string> reg = ReadLines(argv[1]);
  if (reg.empty() || reg[0].rfind("tag\tvr\tvm\tname\tkeyword\tretired", 0) != 0) Fail(argv[1], "unexpected header");
  for (size_t ln = 1; ln < reg.size(); ++ln) {
    if (reg[ln].empty()) continue;
    std::string where = std::string(argv[1]) + ":" + std::to_string(ln + 1);
    std::vector<std::string> f = Split(reg[ln], '\t');
    if (f.size() != 6 || f[0].size() != 8) Fail(where, "expected 6 columns and an 8-digit tag");
    std::string gs = f[0].substr(0, 4), es = f[0].substr(4);
    if (gs == "50xx") gs = "5000";
    else if (gs == "60xx") gs = "6000";
    uint16_t g, e;
    if (!ParseHex4(gs, g) || !ParseHex4(es, e)) {
      if (f[0].find('x') != std::string::npos) continue;  // masked range other than 50xx/60xx
      Fail(where, "bad tag");
    }
    if (!IsListedGroup(g)) continue;
    if (f[1].empty() || f[3].empty()) continue;  // placeholder without VR or name
    Entry entry;
    std::string suffix;
    SplitVR(f[1], entry.vr, suffix, where);
    std::string name = f[3];
    if (f[5] == "Y") {
      const std::string kRetired = " (Retired)";
      if (name.size() > kRetired.size() && name.compare(name.size() - kRetired.size(), kRetired.size(), kRetired) == 0)
        name.erase(name.size() - kRetired.size());
      name += suffix + " (RET)";
    } else if (f[5] == "N") {
      name += suffix;
    } else {
      Fail(where, "retired column must be Y or N");
    }
    entry.name = Utf8ToCp1252(name, where);
    uint32_t key = (uint32_t(g) << 16) | e;
    if (!table.emplace(key, entry).second) Fail(where, "tag occurs twice");
  }

  for (uint16_t g : kGroups) {
    if (g == 0xFFFE) continue;  // items and delimiters are not data elements
    uint32_t key = uint32_t(g) << 16;
    if (!table.count(key)) table[key] = Entry{"UL", g == 0x7FE0 ? "Group 7FE0 Length" : "Group Length"};
  }

  std::vector<std::string> ovr = ReadLines(argv[2]);
  for (size_t ln = 0; ln < ovr.size(); ++ln) {
    if (ovr[ln].empty() || ovr[ln][0] == '#') continue;
    std::string where = std::string(argv[2]) + ":" + std::to_string(ln + 1);
    std::vector<std::string> f = Split(ovr[ln], '\t');
    uint16_t g, e;
    if (f.size() != 3 || f[0].size() != 8 || !ParseHex4(f[0].substr(0, 4), g) || !ParseHex4(f[0].substr(4), e))
      Fail(where, "expected tag, VR and name");
    if (!IsVR(f[1])) Fail(where, "bad VR");
    if (f[2].empty()) Fail(where, "empty name");
    if (!IsListedGroup(g)) Fail(where, "group not in the dictionary");
    table[(uint32_t(g) << 16) | e] = Entry{f[1], Utf8ToCp1252(f[2], where)};
  }

  std::ostringstream out;
  out << "// Generated at build time from core/data/registry.tsv and core/data/dictionary_overrides.tsv.\n"
         "// Do not edit.\n"
         "#include \"core/dictionary.h\"\n\n"
         "const DictEntry DataDictionary[] = {\n";
  for (const auto& [key, entry] : table) {
    char head[64];
    std::snprintf(head, sizeof head, "    {0x%04X, 0x%04X, {'%c', '%c', 0, 0}, ", unsigned(key >> 16),
                  unsigned(key & 0xFFFF), entry.vr[0], entry.vr[1]);
    out << head << CString(entry.name) << "},\n";
  }
  out << "    {0, 0, {0, 0, 0, 0}, nullptr},\n};\n\n"
      << "const size_t DataDictionarySize = " << table.size() << ";\n";

  std::string text = out.str();
  std::ofstream o(argv[3], std::ios::binary | std::ios::trunc);
  o << text;
  if (!o.flush()) Fail(argv[3], "cannot write");
  return 0;
}
