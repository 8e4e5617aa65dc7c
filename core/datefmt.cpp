#include "core/datefmt.h"

#include <cstdlib>

#include "core/strutil.h"

std::string UserCountry() {
  std::string locale;
  for (const char* var : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) {
      locale = v;
      break;
    }
  }
  // language[_territory][.codeset][@modifier]
  size_t cut = locale.find_first_of(".@");
  if (cut != std::string::npos) locale.resize(cut);
  size_t us = locale.find('_');
  if (us == std::string::npos) return "";
  std::string territory = locale.substr(us + 1);
  if (territory == "US") return "United States";
  return territory;
}

std::string FormatDisplayDate(std::string_view da) {
  if (da.empty()) return "";
  const std::string year = SubString(da, 1, 4), month = SubString(da, 5, 2), day = SubString(da, 7, 2);
  if (UserCountry() == "United States") return month + "/" + day + "/" + year;
  return day + "/" + month + "/" + year;
}

std::string DisplayDateToDA(std::string_view shown) {
  if (shown.empty()) return "";
  if (GetField(3, "/", shown).empty() || !GetField(4, "/", shown).empty()) return "";
  std::string first = GetField(1, "/", shown), second = GetField(2, "/", shown), year = GetField(3, "/", shown);
  if (UserCountry() == "United States") return year + first + second;
  return year + second + first;
}
