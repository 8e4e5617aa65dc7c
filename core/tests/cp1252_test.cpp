#include "core/cp1252.h"

#include <gtest/gtest.h>

#include <string>

TEST(Cp1252, HighHalfMapsBothWays) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
  // The euro sign, the em dash, the left double quote and the e acute.
  EXPECT_EQ(Cp1252ToUtf8("\x80\x97\x93\xE9"), "\xE2\x82\xAC\xE2\x80\x94\xE2\x80\x9C\xC3\xA9");
}

TEST(Cp1252, UnmappableAndMalformedBecomeQuestionMarks) {
  // Greek omega, a four-byte emoji, a lone continuation byte, an overlong slash, a cut sequence.
  EXPECT_EQ(Utf8ToCp1252("a\xCE\xA9" "b\xF0\x9F\x98\x80" "c\x80" "d\xC0\xAF" "e\xE2\x82"), "a?b?c?d??e??");
}

TEST(Cp1252, Utf16SurrogatePairsAndLoneSurrogates) {
  EXPECT_EQ(Utf16ToUtf8(u"\u00E9\u20AC"), "\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD83D, 0xDE00}), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'x', 0xDC00, u'y', 0xD800}), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
}
