#include "core/inifile.h"

#include <fstream>

#include "core/cp1252.h"
#include "core/strutil.h"

namespace {

constexpr std::streamoff kMaxIniSize = 1 << 20;

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

bool IniFile::Load(const std::string& path) { return load(path, true); }

bool IniFile::LoadBytes(const std::string& path) { return load(path, false); }

bool IniFile::load(const std::string& path, bool toCp1252) {
  entries_.clear();
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  std::streamoff size = in.tellg();
  if (size < 0 || size > kMaxIniSize) return false;
  std::string data(static_cast<size_t>(size), '\0');
  in.seekg(0);
  if (!in.read(data.data(), size)) return false;

  if (data.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    data = toCp1252 ? Utf8ToCp1252(std::string_view(data).substr(3)) : data.substr(3);
  } else if (toCp1252) {
    bool ascii = true;
    for (unsigned char c : data) ascii = ascii && c < 0x80;
    if (!ascii && IsValidUtf8(data)) data = Utf8ToCp1252(data);
  }

  std::string section;
  bool inSection = false;
  size_t start = 0;
  while (start <= data.size()) {
    size_t end = data.find_first_of("\r\n", start);
    if (end == std::string::npos) end = data.size();
    std::string line = Trim(std::string_view(data).substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      section = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      inSection = true;
      continue;
    }
    size_t eq = line.find('=');
    if (!inSection || eq == std::string::npos) continue;
    std::string value = Trim(std::string_view(line).substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    entries_.push_back({section, Trim(std::string_view(line).substr(0, eq)), value});
  }
  return true;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
  for (const Entry& e : entries_)
    if (SameText(e.section, section) && SameText(e.key, key)) return e.value;
  return def;
}

std::string ReadIniString(const std::string& path, const std::string& section, const std::string& key,
                          const std::string& def) {
  IniFile ini;
  if (!ini.Load(path)) return def;
  return ini.ReadString(section, key, def);
}
