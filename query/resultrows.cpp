#include "query/resultrows.h"

#include <cwchar>
#include <cwctype>
#include <utility>

#include "core/cp1252.h"
#include "core/charset.h"
#include "core/datefmt.h"
#include "query/studytext.h"

namespace {

std::string Shown(const std::string& bytes, const std::string& set) { return DecodeDicomText(bytes, set); }

}  // namespace

ResultRow StudyResultRow(const StudyInfo& s) {
  const std::string& cs = s.SpecificCharacterSet;
  return {Shown(s.PatientName, cs),      Shown(s.PatientID, cs),       Shown(s.PatientSex, cs),
          FormatDisplayDate(s.PatientBirthDate), Shown(s.StudyDescription, cs), Shown(s.AccessionNumber, cs),
          s.StudyInstanceUID};
}

ResultRow WorklistResultRow(const TWorklistItem& w) { return StudyResultRow(StudyFromWorklist(w)); }

namespace {

// Lower case for the comparison: A-Z, the Latin-1 capitals (not the multiplication sign) and the
// capitals code page 1252 adds (S, OE and Z with caron, Y with diaeresis) whatever the locale; other
// letters as the locale's towlower has them.
wchar_t Fold(char32_t c) {
  if ((c >= U'A' && c <= U'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<wchar_t>(c + 0x20);
  switch (c) {
    case 0x0160: return 0x0161;
    case 0x0152: return 0x0153;
    case 0x017D: return 0x017E;
    case 0x0178: return 0x00FF;
    default: return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  }
}

// The folded name as wide characters (Unicode code points, as glibc's wchar_t holds them).
std::wstring Folded(std::string_view name) {
  std::wstring out;
  for (char32_t c : Utf8ToUtf32(name)) out += Fold(c);
  return out;
}

}  // namespace

int CompareNames(std::string_view a, std::string_view b) {
  const std::wstring fa = Folded(a), fb = Folded(b);
  // A name with an embedded NUL compares by what precedes it, as the collation functions see it.
  int c = std::wcscoll(fa.c_str(), fb.c_str());
  if (c != 0) return c;
  return fa.compare(fb) < 0 ? -1 : (fa.compare(fb) > 0 ? 1 : 0);
}

namespace {

// A name made ready for many comparisons: its collation key (wcsxfrm: comparing two keys with
// wcscmp orders as wcscoll does) and the folded text for ties, so that CompareNames' order costs a
// plain comparison of two keys.
struct NameKey {
  std::wstring collation;
  std::wstring folded;
};

NameKey KeyOf(std::string_view name) {
  NameKey k;
  k.folded = Folded(name);
  const size_t n = std::wcsxfrm(nullptr, k.folded.c_str(), 0);
  k.collation.resize(n + 1);
  std::wcsxfrm(k.collation.data(), k.folded.c_str(), n + 1);
  k.collation.resize(n);
  return k;
}

bool Below(const NameKey& a, const NameKey& b) {
  const int c = std::wcscmp(a.collation.c_str(), b.collation.c_str());
  return c != 0 ? c < 0 : a.folded.compare(b.folded) < 0;
}

}  // namespace

std::vector<size_t> SortedRowOrder(const std::vector<ResultRow>& rows) {
  std::vector<NameKey> keys;
  keys.reserve(rows.size());
  for (const ResultRow& r : rows) keys.push_back(KeyOf(r[0]));
  std::vector<size_t> order(rows.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  for (size_t i = 0; i + 1 < order.size(); ++i)
    for (size_t j = i + 1; j < order.size(); ++j)
      if (Below(keys[order[j]], keys[order[i]])) std::swap(order[i], order[j]);
  return order;
}

void SortResultRows(std::vector<ResultRow>& rows) {
  std::vector<ResultRow> sorted;
  sorted.reserve(rows.size());
  for (size_t i : SortedRowOrder(rows)) sorted.push_back(std::move(rows[i]));
  rows = std::move(sorted);
}
