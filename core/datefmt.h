#pragma once
// Display form of DICOM dates, following the territory of the user's locale.
#include <string>
#include <string_view>

// The user's country: "United States" for a locale whose territory is US, otherwise the territory
// code of the locale ("DE", "GB", ...), or "" when it names none ("C", "POSIX"). The locale is the
// first non-empty of LC_ALL, LC_TIME and LANG.
std::string UserCountry();

// DA "YYYYMMDD" -> "MM/DD/YYYY" for a United States user, "DD/MM/YYYY" otherwise; "" for "".
// The input is not validated: a shorter text gives shorter pieces.
std::string FormatDisplayDate(std::string_view da);

// The reverse of FormatDisplayDate for the user's country: "DD/MM/YYYY" (or "MM/DD/YYYY") ->
// "YYYYMMDD"; "" for an empty text or one without three "/"-separated parts.
std::string DisplayDateToDA(std::string_view shown);
