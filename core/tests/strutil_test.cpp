#include "core/strutil.h"

#include <gtest/gtest.h>

#include "core/uid_root.h"

TEST(CreateUID, SameVisitSameUIDOtherPatientOtherUID) {
  const std::string uid = CreateUID("ABCDEFGH12345678", "10000001", "ACC9876", "20150312", "143015.000000", "29");
  // The same visit (minutes alike) meets in one study; any other input is another study, even where
  // a patient ID differs only in its first digits.
  EXPECT_EQ(uid, CreateUID("ABCDEFGH12345678", "10000001", "ACC9876", "20150312", "1430", "29"));
  for (const auto& other : {CreateUID("ABCDEFGH12345678", "20000001", "ACC9876", "20150312", "1430", "29"),
                            CreateUID("ABCDEFGH12345678", "10000001", "ACC9877", "20150312", "1430", "29"),
                            CreateUID("ABCDEFGH12345678", "10000001", "ACC9876", "20150313", "1430", "29"),
                            CreateUID("ABCDEFGH12345678", "10000001", "ACC9876", "20150312", "1431", "29"),
                            CreateUID("XBCDEFGH12345678", "10000001", "ACC9876", "20150312", "1430", "29"),
                            CreateUID("ABCDEFGH12345678", "1000000", "1ACC9876", "20150312", "1430", "29")})
    EXPECT_NE(other, uid);
  // Root, application number, one component of digits without a leading zero; an instance UID
  // under it with the largest instance number still fits in 64 characters.
  const std::string prefix = std::string(kOrgUIDRoot) + ".29.";
  ASSERT_EQ(uid.rfind(prefix, 0), 0u);
  const std::string digits = uid.substr(prefix.size());
  EXPECT_EQ(digits.find_first_not_of("0123456789"), std::string::npos);
  EXPECT_NE(digits[0], '0');
  EXPECT_LE((uid + ".1.2147483647").size(), 64u);
  EXPECT_GE(digits.size(), 20u);
  EXPECT_EQ(CreateUID("host", "", "ACC", "20150312", "1430", "29"), "");
  EXPECT_EQ(CreateUID("host", "  ", "ACC", "20150312", "1430", "29"), "");
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
