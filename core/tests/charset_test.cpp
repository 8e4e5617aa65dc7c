#include "core/charset.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/log_capture.h"

// "Šimon" and "Дмитрий" (Cyrillic) and "Ελένη" (Greek) in UTF-8.
const std::string kSimon = "\xC5\xA0imon";
const std::string kDmitri = "\xD0\x94\xD0\xBC\xD0\xB8\xD1\x82\xD1\x80\xD0\xB8\xD0\xB9";
const std::string kEleni = "\xCE\x95\xCE\xBB\xCE\xAD\xCE\xBD\xCE\xB7";

TEST(Charset, DecodesEachDeclaredSet) {
  EXPECT_EQ(DecodeDicomText("Jos\xE9", "ISO_IR 100"), "Jos\xC3\xA9");
  EXPECT_EQ(DecodeDicomText(kEleni, "ISO_IR 192"), kEleni);
  EXPECT_EQ(DecodeDicomText("\xB4\xDC\xD8\xE2\xE0\xD8\xD9", "ISO_IR 144"), kDmitri);
  EXPECT_EQ(DecodeDicomText("\xC5\xEB\xDD\xED\xE7", "ISO_IR 126"), kEleni);
  EXPECT_EQ(DecodeDicomText("\xA9imon", "ISO_IR 101"), kSimon);
  EXPECT_EQ(DecodeDicomText("\xD6\xD0", "GB18030"), "\xE4\xB8\xAD");  // a Chinese character
  // No value: code page 1252, as unlabelled Western archives write.
  EXPECT_EQ(DecodeDicomText("\x8Aimon", ""), kSimon);
  // Bytes the set cannot hold, and a value padded to even length.
  EXPECT_EQ(DecodeDicomText("a\xFF" "b", "ISO_IR 192 "), "a\xEF\xBF\xBD" "b");
}

TEST(Charset, DecodesIso2022SingleByteForms) {
  // Starts in ASCII, switches G1 to Cyrillic with ESC - L.
  EXPECT_EQ(DecodeDicomText("Ivanov=\x1B-L\xB4\xDC\xD8\xE2\xE0\xD8\xD9", "ISO 2022 IR 6\\ISO 2022 IR 144"),
            "Ivanov=" + kDmitri);
  EXPECT_EQ(DecodeDicomText("\x1B-A" "Jos\xE9", "\\ISO 2022 IR 100"), "Jos\xC3\xA9");
  EXPECT_EQ(DecodeDicomText("Jos\xE9", "ISO 2022 IR 100"), "Jos\xC3\xA9");
}

TEST(Charset, UnknownTermIsReadAsLatin1WithOneWarning) {
  LogCapture log;
  EXPECT_EQ(DecodeDicomText("Jos\xE9", "ISO_IR 999"), "Jos\xC3\xA9");
  EXPECT_EQ(DecodeDicomText("Jos\xE9", "ISO_IR 999"), "Jos\xC3\xA9");
  EXPECT_EQ(log.Messages(), std::vector<std::string>{
                                "WARNING, Specific Character Set \"ISO_IR 999\" is not known, text read as ISO_IR 100"});
}

TEST(Charset, EncodesOnlyWhatTheSetHolds) {
  std::string out = "unchanged";
  EXPECT_TRUE(EncodeDicomText("Jos\xC3\xA9", "ISO_IR 100", out));
  EXPECT_EQ(out, "Jos\xE9");
  EXPECT_TRUE(EncodeDicomText(kDmitri, "ISO_IR 144", out));
  EXPECT_EQ(out, "\xB4\xDC\xD8\xE2\xE0\xD8\xD9");
  out = "unchanged";
  EXPECT_FALSE(EncodeDicomText(kSimon, "ISO_IR 100", out));   // no S with caron in Latin-1
  EXPECT_FALSE(EncodeDicomText("Jos\xC3\xA9", "", out));      // no value: ASCII only
  EXPECT_FALSE(EncodeDicomText("abc", "ISO 2022 IR 100", out));
  EXPECT_FALSE(EncodeDicomText("\xC3", "ISO_IR 192", out));   // not UTF-8
  EXPECT_EQ(out, "unchanged");
  EXPECT_EQ(TypedCharacterSet("Smith^John"), "");
  EXPECT_EQ(TypedCharacterSet("Jos\xC3\xA9^Mu\xC3\xB1oz"), "ISO_IR 100");
  EXPECT_EQ(TypedCharacterSet(kSimon + "^Dvo\xC5\x99\xC3\xA1k"), "ISO_IR 192");
  EXPECT_EQ(TypedCharacterSet("\xE2\x82\xAC"), "ISO_IR 192");  // the euro sign: cp1252 only, not Latin-1
}
