#include "core/cp1252.h"

#include <cstdint>

namespace {

// Code points of 0x80..0x9F; the rest of cp1252 equals ISO 8859-1.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char32_t FromCp1252(unsigned char c) { return c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : c; }

char ToCp1252(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (int i = 0; i < 32; ++i)
    if (kHigh[i] == cp) return static_cast<char>(0x80 + i);
  return '?';
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one UTF-8 sequence at text[i]; advances i. Returns false (and skips one byte) for a
// malformed sequence: bad lead or continuation byte, overlong form, surrogate, beyond U+10FFFF.
bool NextUtf8(std::string_view text, size_t& i, char32_t& cp) {
  const auto b = static_cast<unsigned char>(text[i]);
  int extra;
  char32_t min;
  if (b < 0x80) {
    cp = b;
    ++i;
    return true;
  } else if ((b & 0xE0) == 0xC0) {
    extra = 1, cp = b & 0x1F, min = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    extra = 2, cp = b & 0x0F, min = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    extra = 3, cp = b & 0x07, min = 0x10000;
  } else {
    ++i;
    return false;
  }
  if (i + extra >= text.size()) {  // the sequence runs past the end
    ++i;
    return false;
  }
  for (int k = 1; k <= extra; ++k) {
    const auto c = static_cast<unsigned char>(text[i + k]);
    if ((c & 0xC0) != 0x80) {
      ++i;
      return false;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return false;
  }
  i += extra + 1;
  return true;
}

// Decodes one UTF-16 code point at text[i]; an unpaired surrogate gives false.
bool NextUtf16(std::u16string_view text, size_t& i, char32_t& cp) {
  char16_t u = text[i++];
  if (u < 0xD800 || u > 0xDFFF) {
    cp = u;
    return true;
  }
  if (u <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
    cp = 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(text[i]) - 0xDC00);
    ++i;
    return true;
  }
  return false;
}

void AppendCp1252(std::string& out, char32_t cp) { out += ToCp1252(cp); }
void AppendUtf16(std::u16string& out, char32_t cp) { out += static_cast<char16_t>(cp); }
void AppendUtf32(std::u32string& out, char32_t cp) { out += cp; }
bool NextUtf32(std::u32string_view text, size_t& i, char32_t& cp) {
  cp = text[i++];
  return cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
}
bool NextCp1252(std::string_view text, size_t& i, char32_t& cp) {
  cp = FromCp1252(static_cast<unsigned char>(text[i++]));
  return true;
}

// Decodes text code point by code point with next (a malformed sequence stands for `bad`) and
// appends each with put.
template <class Out, class Char>
Out Recode(std::basic_string_view<Char> text, bool (*next)(std::basic_string_view<Char>, size_t&, char32_t&),
           char32_t bad, void (*put)(Out&, char32_t)) {
  Out out;
  out.reserve(text.size());
  char32_t cp = 0;
  for (size_t i = 0; i < text.size();) put(out, next(text, i, cp) ? cp : bad);
  return out;
}

}  // namespace

std::string Cp1252ToUtf8(std::string_view text) { return Recode(text, NextCp1252, 0, AppendUtf8); }
std::string Utf8ToCp1252(std::string_view text) { return Recode(text, NextUtf8, U'?', AppendCp1252); }
// Every cp1252 code point lies in the basic plane: one code unit each.
std::u16string Cp1252ToUtf16(std::string_view text) { return Recode(text, NextCp1252, 0, AppendUtf16); }
std::string Utf16ToCp1252(std::u16string_view text) { return Recode(text, NextUtf16, U'?', AppendCp1252); }
std::string Utf16ToUtf8(std::u16string_view text) { return Recode(text, NextUtf16, 0xFFFD, AppendUtf8); }
std::u32string Utf8ToUtf32(std::string_view text) { return Recode(text, NextUtf8, 0xFFFD, AppendUtf32); }
std::string Utf32ToUtf8(std::u32string_view text) { return Recode(text, NextUtf32, 0xFFFD, AppendUtf8); }

bool IsValidUtf8(std::string_view text) {
  char32_t cp;
  for (size_t i = 0; i < text.size();)
    if (!NextUtf8(text, i, cp)) return false;
  return true;
}
