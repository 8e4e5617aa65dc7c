#include "query/resultrows.h"

#include <cwchar>
#include <utility>

#include "core/cp1252.h"
#include "core/datefmt.h"

ResultRow StudyResultRow(const StudyInfo& s) {
  return {s.PatientName,      s.PatientID,       s.PatientSex,      FormatDisplayDate(s.PatientBirthDate),
          s.StudyDescription, s.AccessionNumber, s.StudyInstanceUID};
}

ResultRow WorklistResultRow(const TWorklistItem& w) {
  return {w.PatientName,
          w.PatientID,
          w.PatientSex,
          FormatDisplayDate(w.PatientBirthDate),
          w.RequestedProcedureDescription,
          w.AccessionNumber,
          w.StudyInstanceUID};
}

namespace {

// Lower case of a cp1252 character: A-Z, the Latin-1 capitals (not the multiplication sign),
// and the four capitals cp1252 keeps in 0x80-0x9F (S, OE and Z with caron, Y with diaeresis).
unsigned char LowerCp1252(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<unsigned char>(c + 0x20);
  switch (c) {
    case 0x8A: return 0x9A;
    case 0x8C: return 0x9C;
    case 0x8E: return 0x9E;
    case 0x9F: return 0xFF;
    default: return c;
  }
}

// The folded name as wide characters (Unicode code points, as glibc's wchar_t holds them).
std::wstring Folded(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(LowerCp1252(static_cast<unsigned char>(c)));
  std::u16string u = Cp1252ToUtf16(lower);  // cp1252 lies in the basic plane: one unit each
  return std::wstring(u.begin(), u.end());
}

}  // namespace

int CompareNames(std::string_view a, std::string_view b) {
  const std::wstring fa = Folded(a), fb = Folded(b);
  // A name with an embedded NUL compares by what precedes it, as the collation functions see it.
  int c = std::wcscoll(fa.c_str(), fb.c_str());
  if (c != 0) return c;
  return fa.compare(fb) < 0 ? -1 : (fa.compare(fb) > 0 ? 1 : 0);
}

void SortResultRows(std::vector<ResultRow>& rows) {
  for (size_t i = 0; i + 1 < rows.size(); ++i)
    for (size_t j = i + 1; j < rows.size(); ++j)
      if (CompareNames(rows[j][0], rows[i][0]) < 0) std::swap(rows[i], rows[j]);
}
