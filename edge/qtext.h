#pragma once
// The window edge: the program's cp1252 texts to and from Qt's UTF-16 strings.
#include <QString>
#include <string>
#include <string_view>

#include "core/cp1252.h"

inline QString ToQ(std::string_view cp1252) {
  std::u16string u = Cp1252ToUtf16(cp1252);
  return QString::fromUtf16(u.data(), static_cast<qsizetype>(u.size()));
}

inline std::string FromQ(const QString& text) {
  return Utf16ToCp1252(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                           static_cast<size_t>(text.size())));
}
