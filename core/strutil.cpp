#include "core/strutil.h"

#include <arpa/inet.h>
#include <openssl/sha.h>

#include <unistd.h>

#include <charconv>
#include <fstream>

#include "core/uid_root.h"

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 0x20) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 0x20) --e;
  return std::string(s.substr(b, e - b));
}

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string SubString(std::string_view s, long start, long count) {
  if (count < 1) return "";
  if (start < 1) start = 1;
  if (static_cast<size_t>(start) > s.size()) return "";
  return std::string(s.substr(static_cast<size_t>(start - 1), static_cast<size_t>(count)));
}

size_t Pos(std::string_view pattern, std::string_view text) {
  if (pattern.empty()) return 0;
  size_t p = text.find(pattern);
  return p == std::string_view::npos ? 0 : p + 1;
}

std::string GetField(int n, std::string_view delim, std::string_view text) {
  std::string_view rest = text;
  std::string result;
  bool found = true;
  for (int pass = 1; pass <= n && found; ++pass) {
    size_t p = delim.empty() ? std::string_view::npos : rest.find(delim);
    if (p != std::string_view::npos) {
      result = std::string(rest.substr(0, p));
      rest = rest.substr(p + delim.size());
    } else {
      found = false;
      result = pass == n ? std::string(rest) : std::string();
    }
  }
  return result;
}

std::string ReplaceAll(std::string text, std::string_view search, std::string_view replacement) {
  if (search.empty()) return text;
  // Searching again from the start lets a replacement join the text around it into a new
  // occurrence ("aabb" without "ab" gives ""). Nothing before p - (size - 1) can change, so the next
  // search starts there. When the replacement itself holds the search text that would never end:
  // then the search goes on after the inserted text instead.
  const bool rescan = replacement.find(search) == std::string_view::npos;
  size_t from = 0;
  for (size_t p; (p = text.find(search, from)) != std::string::npos;) {
    text.replace(p, search.size(), replacement);
    from = !rescan ? p + replacement.size() : (p + 1 > search.size() ? p + 1 - search.size() : 0);
  }
  return text;
}

std::string CreateUID(std::string_view installation, std::string_view patientId, std::string_view accession,
                      std::string_view studyDate, std::string_view studyTime, std::string_view appNumber) {
  const std::string patient = Trim(patientId);
  if (patient.empty()) return "";
  // Each input with its length in front, so that no two different lists of inputs hash the same
  // bytes. The time keeps its hours and minutes: documents of one visit made minutes apart meet.
  std::string joined;
  for (const std::string& part : {Trim(installation), patient, Trim(accession), Trim(studyDate),
                                  Trim(studyTime.substr(0, std::min<size_t>(4, studyTime.size())))})
    joined += std::to_string(part.size()) + ":" + part + ";";
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(joined.data()), joined.size(), digest);
  unsigned __int128 h = 0;
  for (int i = 0; i < 16; ++i) h = (h << 8) | digest[i];
  const std::string prefix = std::string(kOrgUIDRoot) + "." + std::string(appNumber) + ".";
  // Room for + ".1." + a 10-digit instance number within 64 characters; 38 digits at the most.
  const size_t digits = std::min<size_t>(38, prefix.size() < 51 ? 51 - prefix.size() : 1);
  unsigned __int128 low = 1;  // 10^(digits - 1): the component has exactly `digits` digits, none leading 0
  for (size_t i = 1; i < digits; ++i) low *= 10;
  unsigned __int128 v = low + h % (low * 9);
  std::string component(digits, '0');
  for (size_t i = digits; i-- > 0; v /= 10) component[i] = static_cast<char>('0' + static_cast<int>(v % 10));
  return prefix + component;
}

bool IsIpAddress(const std::string& host) {
  unsigned char address[sizeof(in6_addr)];
  return ::inet_pton(AF_INET, host.c_str(), address) == 1 || ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

std::string InstallationId() {
  std::ifstream f("/etc/machine-id");
  std::string id;
  if (f && std::getline(f, id)) {
    id = Trim(id);
    if (!id.empty()) return id;
  }
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) == 0) return host;
  return "";
}

double ParseDecimal(std::string_view text) {
  size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
  if (at < text.size() && text[at] == '+' && (at + 1 == text.size() || text[at + 1] != '-')) ++at;
  double v = 0;
  const auto r = std::from_chars(text.data() + at, text.data() + text.size(), v, std::chars_format::general);
  return r.ec == std::errc() ? v : 0.0;
}

std::string FormatFixed(double v, int decimals, int width) {
  char buf[400];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  std::string out(buf, r.ec == std::errc() ? r.ptr : buf);
  if (static_cast<int>(out.size()) < width) out.insert(0, static_cast<size_t>(width) - out.size(), ' ');
  return out;
}

std::string FormatGeneral(double v, int precision) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, precision);
  return std::string(buf, r.ec == std::errc() ? r.ptr : buf);
}
