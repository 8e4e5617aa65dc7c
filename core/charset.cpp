#include "core/charset.h"

#include <iconv.h>

#include <cerrno>
#include <mutex>
#include <set>
#include <vector>

#include "core/cp1252.h"
#include "core/log.h"
#include "core/strutil.h"

namespace {

// The defined terms this program reads, with the name iconv knows the set by and, for the
// single-byte sets, the final byte of the escape sequence that designates it as G1 (ESC 2/13 F).
struct CharacterSet {
  const char* term;  // the ISO_IR form; the ISO 2022 form is "ISO 2022 IR " + the number
  const char* iconvName;
  char g1Final;
};

const CharacterSet kSets[] = {
    {"ISO_IR 6", "ASCII", 0},          {"ISO_IR 100", "ISO-8859-1", 'A'}, {"ISO_IR 101", "ISO-8859-2", 'B'},
    {"ISO_IR 109", "ISO-8859-3", 'C'}, {"ISO_IR 110", "ISO-8859-4", 'D'}, {"ISO_IR 144", "ISO-8859-5", 'L'},
    {"ISO_IR 127", "ISO-8859-6", 'G'}, {"ISO_IR 126", "ISO-8859-7", 'F'}, {"ISO_IR 138", "ISO-8859-8", 'H'},
    {"ISO_IR 148", "ISO-8859-9", 'M'}, {"ISO_IR 203", "ISO-8859-15", 'b'}, {"ISO_IR 166", "TIS-620", 'T'},
    {"ISO_IR 13", "SHIFT_JIS", 0},     {"ISO_IR 192", "UTF-8", 0},        {"GB18030", "GB18030", 0},
    {"GBK", "GBK", 0},
};

// The set of one value: "ISO_IR 100" and "ISO 2022 IR 100" name the same one.
const CharacterSet* Find(const std::string& value) {
  std::string term = value;
  if (term.rfind("ISO 2022 IR ", 0) == 0) term = "ISO_IR " + term.substr(12);
  for (const CharacterSet& s : kSets)
    if (term == s.term) return &s;
  return nullptr;
}

void WarnUnknown(const std::string& term) {
  static std::mutex mutex;
  static std::set<std::string> warned;
  std::lock_guard<std::mutex> lock(mutex);
  if (warned.insert(term).second)
    WriteLog("WARNING, Specific Character Set \"" + term + "\" is not known, text read as ISO_IR 100");
}

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts all of in; at a sequence it cannot convert, `bad` (when given) is appended and one
  // byte skipped, otherwise the conversion fails.
  bool Run(std::string_view in, std::string& out, const char* bad) {
    char* src = const_cast<char*>(in.data());
    size_t left = in.size();
    std::vector<char> buffer(4 * in.size() + 16);
    while (left > 0) {
      char* dst = buffer.data();
      size_t room = buffer.size();
      const size_t r = iconv(cd_, &src, &left, &dst, &room);
      out.append(buffer.data(), static_cast<size_t>(dst - buffer.data()));
      if (r != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      if (!bad) return false;
      out += bad;
      ++src;
      --left;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    char* dst = buffer.data();
    size_t room = buffer.size();
    if (iconv(cd_, nullptr, nullptr, &dst, &room) == static_cast<size_t>(-1) && !bad) return false;
    out.append(buffer.data(), static_cast<size_t>(dst - buffer.data()));
    return true;
  }

 private:
  iconv_t cd_;
};

constexpr char kReplacement[] = "\xEF\xBF\xBD";

void DecodeWith(const char* iconvName, std::string_view bytes, std::string& out) {
  Converter c("UTF-8", iconvName);
  if (!c.ok()) {
    out += Cp1252ToUtf8(bytes);
    return;
  }
  c.Run(bytes, out, kReplacement);
}

std::vector<std::string> Values(std::string_view set) {
  std::vector<std::string> values;
  size_t start = 0;
  for (size_t i = 0; i <= set.size(); ++i) {
    if (i == set.size() || set[i] == '\\') {
      values.push_back(Trim(set.substr(start, i - start)));
      start = i + 1;
    }
  }
  return values;
}

// Length of the escape sequence at text[i] (ESC, intermediates 2/0-2/15, a final byte), 0 if none.
size_t EscapeLength(std::string_view text, size_t i) {
  size_t k = i + 1;
  while (k < text.size() && text[k] >= 0x20 && text[k] <= 0x2F) ++k;
  return k < text.size() && k > i + 1 && text[k] >= 0x30 && text[k] <= 0x7E ? k - i + 1 : 0;
}

// The iconv set an escape sequence switches to, with the escape to hand it when the set needs it
// (the multi-byte Japanese set is read by iconv's ISO-2022-JP, escapes included).
const char* SetOfEscape(std::string_view esc, bool& keepEscape) {
  keepEscape = false;
  if (esc.size() == 3 && esc[1] == '-') {
    for (const CharacterSet& s : kSets)
      if (s.g1Final == esc[2]) return s.iconvName;
    return nullptr;
  }
  if (esc == "\x1B(B" || esc == "\x1B(J") return "ASCII";
  if (esc == "\x1B)I") return "SHIFT_JIS";
  if (esc == "\x1B$)C") return "EUC-KR";
  if (esc == "\x1B$)A") return "EUC-CN";
  if (esc == "\x1B$B" || esc == "\x1B$(D") {
    keepEscape = true;
    return "ISO-2022-JP-2";
  }
  return nullptr;
}

// Text with ISO 2022 code extensions: each run between escape sequences in the set the last one
// designated, starting in `initial`.
std::string DecodeExtended(std::string_view bytes, const char* initial) {
  std::string out;
  const char* current = initial;
  std::string pendingEscape;
  size_t i = 0;
  while (i < bytes.size()) {
    size_t next = bytes.find('\x1B', i);
    if (next == std::string_view::npos) next = bytes.size();
    if (next > i) {
      const std::string run = pendingEscape + std::string(bytes.substr(i, next - i));
      DecodeWith(current, run, out);
    }
    if (next >= bytes.size()) break;
    const size_t n = EscapeLength(bytes, next);
    if (n == 0) {
      out += kReplacement;
      i = next + 1;
      continue;
    }
    bool keep = false;
    const std::string_view esc = bytes.substr(next, n);
    if (const char* set = SetOfEscape(esc, keep)) current = set;
    pendingEscape = keep ? std::string(esc) : std::string();
    i = next + n;
  }
  return out;
}

}  // namespace

bool IsAscii(std::string_view text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

std::string DecodeDicomText(std::string_view bytes, std::string_view specificCharacterSet) {
  const std::vector<std::string> values = Values(specificCharacterSet);
  const bool extended = values.size() > 1 || specificCharacterSet.find("2022") != std::string_view::npos;
  const std::string& first = values.front();
  if (!extended && first.empty()) return Cp1252ToUtf8(bytes);
  const CharacterSet* set = first.empty() ? Find("ISO_IR 6") : Find(first);
  if (set == nullptr) {
    WarnUnknown(first);
    set = Find(kLatin1Set);
  }
  if (extended) return DecodeExtended(bytes, set->iconvName);
  std::string out;
  DecodeWith(set->iconvName, bytes, out);
  return out;
}

bool EncodeDicomText(std::string_view utf8, std::string_view specificCharacterSet, std::string& out) {
  const std::string value = Trim(specificCharacterSet);
  if (value.empty() || value == "ISO_IR 6") {
    if (!IsAscii(utf8)) return false;
    out.assign(utf8);
    return true;
  }
  if (value.find('\\') != std::string::npos || value.find("2022") != std::string::npos) return false;
  const CharacterSet* set = Find(value);
  if (set == nullptr) return false;
  if (!IsValidUtf8(utf8)) return false;
  Converter c(set->iconvName, "UTF-8");
  std::string coded;
  if (!c.ok() || !c.Run(utf8, coded, nullptr)) return false;
  out = std::move(coded);
  return true;
}

std::string TypedCharacterSet(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string();
  std::string latin1;
  if (EncodeDicomText(utf8, kLatin1Set, latin1)) return kLatin1Set;
  return kUtf8Set;
}

std::string EncodeTypedTexts(const std::vector<std::string*>& texts, std::string_view extra) {
  std::string all(extra);
  for (const std::string* t : texts) all += *t;
  const std::string set = TypedCharacterSet(all);
  for (std::string* t : texts) {
    std::string coded;
    if (EncodeDicomText(*t, set, coded)) *t = std::move(coded);
  }
  return set;
}

std::string DecodeCodePage(std::string_view bytes, int codePage) {
  static const int kPages[] = {874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};
  bool known = false;
  for (int p : kPages) known = known || p == codePage;
  if (!known || codePage == 1252) return Cp1252ToUtf8(bytes);
  std::string out;
  DecodeWith(("CP" + std::to_string(codePage)).c_str(), bytes, out);
  return out;
}

bool ConvertText(std::string_view in, const char* from, const char* to, std::string& out) {
  Converter c(to, from);
  std::string converted;
  if (!c.ok() || !c.Run(in, converted, nullptr)) return false;
  out = std::move(converted);
  return true;
}
