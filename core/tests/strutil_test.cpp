#include "core/strutil.h"

#include <gtest/gtest.h>

#include "core/uid_root.h"

TEST(CreateUID, WorkedExample) {
  EXPECT_EQ(CreateUID("ABCDEFGH12345678", "123456", "ACC9876", "20150312", "143015.000000", "29"),
            std::string(kOrgUIDRoot) + ".2912345678.98763456.1503121430");
}

TEST(CreateUID, FixUpLettersLeadingZerosAndEmptyPatient) {
  // A1B: 'A' (65 % 9 = 2), '1', 'B' (66 % 9 = 3); patient 0042 gives 1042 after a dot.
  std::string uid = CreateUID("host1", "0042", "", "20150312", "1430", "29");
  EXPECT_EQ(uid, std::string(kOrgUIDRoot) + ".29" + "53781" + "." + "1042" + ".1503121430");
  EXPECT_NE(CreateUID("host", "P", "A1B", "20150312", "1430", "29").find(".213"), std::string::npos);
  EXPECT_EQ(CreateUID("host", "", "ACC", "20150312", "1430", "29"), "");
  // Bytes above 127 still give digits only; a dot inside an input starts a new component.
  std::string high = CreateUID("id", "\xE9\xFC", "X2.34", "20150312", "1430", "29");
  for (char c : high) EXPECT_TRUE((c >= '0' && c <= '9') || c == '.');
  EXPECT_NE(high.find(".2.34"), std::string::npos);
}

TEST(TextHelpers, FieldsSubstringsAndReplace) {
  EXPECT_EQ(GetField(2, "\\", "0.5\\2.25"), "2.25");
  EXPECT_EQ(GetField(1, ";", "a;b;c"), "a");
  EXPECT_EQ(GetField(3, ";", "a;b;c"), "c");
  EXPECT_EQ(GetField(4, ";", "a;b;c"), "");
  EXPECT_EQ(SubString("20150312", 3, 8), "150312");
  EXPECT_EQ(SubString("abc", 0, 2), "ab");
  EXPECT_EQ(SubString("abc", 4, 1), "");
  EXPECT_EQ(Pos("c", "abc"), 3u);
  EXPECT_EQ(Pos("x", "abc"), 0u);
  EXPECT_EQ(Trim(" \t\x01" "ab c\x20\x00"), "ab c");
  EXPECT_EQ(ReplaceAll("\"/a b/r.pdf\"", "\"", ""), "/a b/r.pdf");
  EXPECT_EQ(ReplaceAll("aa", "a", "aa"), "aaaa");  // terminates even when the replacement holds the search text
}

TEST(TextHelpers, ReplaceAllSearchesAgainFromTheStart) {
  // A removal that joins the text around it into a new occurrence removes that one too.
  EXPECT_EQ(ReplaceAll("aabb", "ab", ""), "");
  EXPECT_EQ(ReplaceAll("a\"\"b\"", "\"", ""), "ab");
  EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
  EXPECT_EQ(Pos("", "abc"), 0u);
}
