#pragma once
// Small 8-bit text routines shared by the whole program (1-based positions where noted).
#include <string>
#include <string_view>

// Removes all leading and trailing characters of code 0x20 or below.
std::string Trim(std::string_view s);
// The text with A-Z made a-z (other bytes as they are, whatever the locale).
std::string LowerAscii(std::string_view s);
// 1-based start; "" when start is beyond the text or count < 1; start < 1 counts as 1.
std::string SubString(std::string_view s, long start, long count);
// 1-based position of the first occurrence of pattern in text, or 0 (also for an empty pattern).
size_t Pos(std::string_view pattern, std::string_view text);
// The n-th (1-based) field of text split at delim; "" when there are fewer fields.
std::string GetField(int n, std::string_view delim, std::string_view text);
// Every occurrence of search replaced, searching again from the start after each replacement;
// an empty search text leaves the text as it is.
std::string ReplaceAll(std::string text, std::string_view search, std::string_view replacement);

// Numbers in DICOM text are written with a period whatever the user's locale; these never consult it.
// The leading decimal number of text (leading white space and a '+' skipped, as strtod reads it,
// exponent allowed); 0 when the text does not start with one.
double ParseDecimal(std::string_view text);
// v with `decimals` digits after the period, right-aligned in `width` characters (printf "%*.*f").
std::string FormatFixed(double v, int decimals, int width = 0);
// v in at most `precision` significant digits (printf "%.*g").
std::string FormatGeneral(double v, int precision);

// Deterministic base UID of a study: the organisation root, the application number, and the
// decimal digits of a SHA-256 hash of every input (installation, patient ID, accession number,
// study date and the study time's hours and minutes), so that the same inputs give the same UID
// and different ones different UIDs; short enough for + ".1." + any instance number within 64
// characters. "" when the patient ID is empty.
std::string CreateUID(std::string_view installation, std::string_view patientId, std::string_view accession,
                      std::string_view studyDate, std::string_view studyTime, std::string_view appNumber);
// True for an IPv4 or IPv6 address in text form (not a host name).
bool IsIpAddress(const std::string& host);
// The installation identifier: /etc/machine-id, else the host name.
std::string InstallationId();
