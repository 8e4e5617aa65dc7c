#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "core/config.h"
#include "core/cp1252.h"
#include "core/datefmt.h"
#include "core/version.h"
#include "tests/support/peer.h"

namespace {

// Sets the locale variables for one test and puts them back afterwards.
class LocaleEnv {
 public:
  LocaleEnv(const char* lcAll, const char* lcTime, const char* lang) {
    for (const char* v : {"LC_ALL", "LC_TIME", "LANG"}) {
      const char* old = getenv(v);
      saved_.emplace_back(v, old ? std::optional<std::string>(old) : std::nullopt);
    }
    Set("LC_ALL", lcAll);
    Set("LC_TIME", lcTime);
    Set("LANG", lang);
  }
  ~LocaleEnv() {
    for (auto& [name, value] : saved_) Set(name.c_str(), value ? value->c_str() : nullptr);
  }

 private:
  static void Set(const char* name, const char* value) {
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(FormatDisplayDate, TerritoryDecidesTheOrder) {
  {
    LocaleEnv env(nullptr, nullptr, "en_US.UTF-8");
    EXPECT_EQ(UserCountry(), "United States");
    EXPECT_EQ(FormatDisplayDate("20150312"), "03/12/2015");
    EXPECT_EQ(DisplayDateToDA("03/12/2015"), "20150312");
    EXPECT_EQ(FormatDisplayDate(""), "");
  }
  {
    LocaleEnv env(nullptr, nullptr, "de_DE.UTF-8");
    EXPECT_EQ(FormatDisplayDate("20150312"), "12/03/2015");
    EXPECT_EQ(DisplayDateToDA("12/03/2015"), "20150312");
    EXPECT_EQ(DisplayDateToDA(""), "");
    EXPECT_EQ(DisplayDateToDA("2015"), "");
    EXPECT_EQ(FormatDisplayDate("2015"), "//2015");  // not validated: short pieces
  }
  {
    LocaleEnv env("en_GB.UTF-8", "en_US.UTF-8", "en_US.UTF-8");  // LC_ALL wins
    EXPECT_EQ(FormatDisplayDate("20150312"), "12/03/2015");
  }
  {
    LocaleEnv env("", "en_US", "de_DE");  // an empty LC_ALL does not count
    EXPECT_EQ(FormatDisplayDate("20150312"), "03/12/2015");
  }
  {
    LocaleEnv env(nullptr, nullptr, "en_US@euro");
    EXPECT_EQ(UserCountry(), "United States");
  }
  {
    LocaleEnv env("C", nullptr, nullptr);
    EXPECT_EQ(UserCountry(), "");
    EXPECT_EQ(FormatDisplayDate("20150312"), "12/03/2015");
  }
}

TEST(GetVersionText, ReadsTheRecordEmbeddedInTheExecutable) {
  EXPECT_EQ(GetVersionText(ExecutablePath()), "3.1.0");
  EXPECT_EQ(GetVersionText("/no/such/file"), "");
  EXPECT_EQ(GetVersionText("/bin/sh"), "");  // an executable without the record
  std::string dir = testsupport::MakeTempDir("ver");
  // Built at run time, so that this test's own code holds no record-like bytes.
  std::string key = "OFNI_NOISREV_SV";
  key = std::string(key.rbegin(), key.rend()) + std::string(1, '\0');
  {
    // A file holding only the key, without a valid fixed block, has no version.
    std::ofstream out(dir + "/fake", std::ios::binary);
    out << std::string(100, 'x') << key << std::string(52, '\0');
  }
  EXPECT_EQ(GetVersionText(dir + "/fake"), "");
  {
    // A record straddling the reader's 1 MiB chunks is still found.
    std::ofstream out(dir + "/big", std::ios::binary);
    out << std::string((1 << 20) - 20, 'x') << key;
    std::vector<unsigned char> fixed = {0xBD, 0x04, 0xEF, 0xFE, 0, 0, 1, 0, 7, 0, 4, 0, 0, 0, 2, 0};
    fixed[8] = static_cast<unsigned char>(fixed.size() - 9);  // minor 7, kept out of constant data
    out.write(reinterpret_cast<const char*>(fixed.data()), 16);
    out << std::string(36, '\0');
  }
  EXPECT_EQ(GetVersionText(dir + "/big"), "4.7.2");
  testsupport::RemoveTree(dir);
}

TEST(Cp1252, Utf16BothWaysAndInvalidInput) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_EQ(Utf16ToCp1252(Cp1252ToUtf16(all)), all);
  EXPECT_EQ(Cp1252ToUtf16("\x80\xE9\x9F"), std::u16string(u"\u20AC\u00E9\u0178"));
  EXPECT_EQ(Utf16ToCp1252(u"\u4E2D\U0001F600"), "??");                 // not in cp1252
  EXPECT_EQ(Utf16ToCp1252(std::u16string(1, char16_t(0xD800)) + u"x"), "?x");  // unpaired surrogate
  EXPECT_EQ(Utf8ToCp1252("\xED\xA0\x80x"), "???x");                    // UTF-8 surrogate
  EXPECT_FALSE(IsValidUtf8("\xFF"));
  EXPECT_FALSE(IsValidUtf8("\xC3"));
  EXPECT_TRUE(IsValidUtf8("\xC3\xA9\xF0\x9F\x98\x80"));
}

}  // namespace
