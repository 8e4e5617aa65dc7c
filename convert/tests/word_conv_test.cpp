#include "convert/word_conv.h"
#include "core/cp1252.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/log_capture.h"

namespace {

const std::string kData = std::string(SCRIVARA_SOURCE_DIR) + "/convert/tests/data/";

// The paragraphs of report.txt and latin.txt as Word holds them: each ends in a carriage return.
const std::string kReport1 = "Radiology report\r";
const std::string kReport2 = "Findings: gr\xC3\xB6\xC3\x9F" "e 5 mm, caf\xC3\xA9, 20 \xE2\x82\xAC \xE2\x80\x94 no change.\r";
const std::string kReport3 = "Greek \xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1 and math \xE2\x89\xA4 3.\r";
const std::string kLatin =
    "Patient report\rThe caf\xC3\xA9 bill was 12 \xE2\x82\xAC \xE2\x80\x94 paid.\rNo change since 2024.\r";

std::vector<std::string> Read(const std::string& name, bool expectOk = true) {
  std::vector<std::string> lines;
  EXPECT_EQ(ReadWordText(kData + name, lines), expectOk) << name;
  return lines;
}

TEST(ReadWordText, LibreOfficeDocumentIsOneSixteenBitPiece) {
  EXPECT_EQ(Read("report.doc"), (std::vector<std::string>{kReport1 + kReport2 + kReport3}));
  EXPECT_EQ(Read("latin.doc"), std::vector<std::string>{kLatin});
}

TEST(ReadWordText, EightBitPieceIsCodePage1252) {
  // The same characters as latin.doc, stored one byte each: the euro sign and the dash are the
  // cp1252 codes 0x80 and 0x97.
  EXPECT_EQ(Read("latin8.doc"), std::vector<std::string>{kLatin});
}

TEST(ReadWordText, MixedPiecesGiveOneLineEachInTableOrder) {
  EXPECT_EQ(Read("mixed.doc"), (std::vector<std::string>{kReport1, kReport2, kReport3}));
}

TEST(ReadWordText, AppendsToWhatTheListHolds) {
  std::vector<std::string> lines{"kept"};
  ASSERT_TRUE(ReadWordText(kData + "mixed.doc", lines));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "kept");
}

TEST(ReadWordText, NoPiecesGiveNoLines) { EXPECT_TRUE(Read("nopieces.doc").empty()); }

TEST(ReadWordText, UnreadableDocumentsGiveNothingAndOneErrorLine) {
  struct Case {
    const char* file;
    const char* reason;
  } cases[] = {
      {"table0.doc", "no 1Table stream"},
      {"clx1.doc", "Clx is not a piece table"},
      {"short_fib.doc", "File Information Block too short"},
      {"cut_file.doc", "not a compound file"},
      {"report.txt", "not a compound file"},
      {"missing.doc", "cannot open file"},
      {"", "not a compound file"},  // the folder itself
  };
  for (const auto& c : cases) {
    LogCapture log;
    std::vector<std::string> lines{"kept"};
    EXPECT_FALSE(ReadWordText(kData + c.file, lines)) << c.file;
    EXPECT_EQ(lines, std::vector<std::string>{"kept"}) << c.file;
    const auto logged = log.Lines();
    ASSERT_EQ(logged.size(), 1u) << c.file;
    EXPECT_NE(logged[0].find(std::string("ERROR, ReadWordText, ") + c.reason), std::string::npos) << logged[0];
  }
  LogCapture log;
  std::vector<std::string> lines;
  EXPECT_FALSE(ReadWordText("", lines));
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_NE(log.Lines()[0].find("ERROR, ReadWordText, cannot open file"), std::string::npos) << log.Lines()[0];
}

TEST(ReadWordText, TruncatedStreamsGiveWhatTheyHold) {
  // The main stream ends in the middle of the 12th character: 11 characters come across.
  EXPECT_EQ(Read("cut_text.doc"), std::vector<std::string>{"Radiology r"});
  // The table stream ends before the third piece descriptor: the two pieces held in full remain.
  LogCapture log;
  EXPECT_EQ(Read("cut_table.doc"), (std::vector<std::string>{kReport1, kReport2}));
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_NE(log.Lines()[0].find("WARNING, ReadWordText, piece table longer"), std::string::npos);
}

TEST(ReadWordText, PiecesClaimingMoreTextThanTheDocumentAreCutOff) {
  LogCapture log;
  const auto lines = Read("overlap.doc");
  ASSERT_FALSE(lines.empty());
  EXPECT_LT(lines.size(), 1000u);
  EXPECT_EQ(lines[0], kReport1 + kReport2 + kReport3);
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_NE(log.Lines()[0].find("WARNING, ReadWordText, pieces hold more text than the document"), std::string::npos);
}

TEST(ReadWordText, ReportTextFromTheLines) {
  // Word's paragraph marks become CR LF breaks; the document's last mark adds none; the text stays
  // UTF-8 (seen here through cp1252, where the Greek letters have no place).
  const std::string report = ReportTextFromLines(Read("report.doc"));
  EXPECT_TRUE(IsValidUtf8(report));
  EXPECT_EQ(Utf8ToCp1252(report),
            "Radiology report\r\nFindings: gr\xF6\xDF" "e 5 mm, caf\xE9, 20 \x80 \x97 no change.\r\nGreek ????? and math ? 3.");
  EXPECT_EQ(ReportTextFromLines(Read("mixed.doc")), ReportTextFromLines(Read("report.doc")));
  EXPECT_EQ(ReportTextFromLines({"a\nb\r\nc", "", "d\r\r"}), "a\r\nb\r\nc\r\n\r\nd");
  EXPECT_EQ(ReportTextFromLines({}), "");
}

// A table, a bulleted list, a hyperlink field and a picture, written by LibreOffice as RTF and as
// Word 97: read as their author sees them, whatever the file's name says.
TEST(ReadReportFile, TablesFieldsAndPicturesAsTheAuthorSeesThem) {
  const std::string rows = "\xCE\x8C\xCF\x81\xCE\xB3\xCE\xB1\xCE\xBD\xCE\xBF | N\xC3\xA1lez | "
                           "\xCE\x9C\xCE\xAD\xCE\xB3\xCE\xB5\xCE\xB8\xCE\xBF\xCF\x82 (mm)\r\n"
                           "\xCE\x9A\xCE\xB1\xCF\x81\xCE\xB4\xCE\xB9\xCE\xAC | norm\xC3\xA1ln\xC3\xAD | 120\r\n"
                           "\xCE\x89\xCF\x80\xCE\xB1\xCF\x81 |  | 150\r\n";
  testsupport::WriteAll(::testing::TempDir() + "/rtf_named.doc", testsupport::ReadAll(kData + "table.rtf"));
  struct Case {
    std::string path;
    ReportFormat format;
    std::string list;  // RTF gives the bullets; Word keeps them outside the text
  } cases[] = {{kData + "table.rtf", ReportFormat::Rtf, "\xE2\x80\xA2\tFirst point\r\n\xE2\x80\xA2\tSecond point\r\n"},
               {::testing::TempDir() + "/rtf_named.doc", ReportFormat::Rtf,
                "\xE2\x80\xA2\tFirst point\r\n\xE2\x80\xA2\tSecond point\r\n"},
               {kData + "table.doc", ReportFormat::Word, "First point\r\nSecond point\r\n"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ReportFile file;
    std::string why;
    ASSERT_TRUE(ReadReportFile(c.path, file, why)) << why;
    EXPECT_EQ(file.format, c.format);
    EXPECT_EQ(file.text, "Findings before the table.\r\n" + rows + c.list + "See the guideline here.  End.");
  }
}

TEST(ReadReportFile, TextFilesByTheirByteOrderMark) {
  const std::string greek = "\xCE\xA9 caf\xC3\xA9";  // Omega café
  const struct {
    std::string bytes;
    const char* what;
  } cases[] = {
      {std::string("\xFF\xFE\xA9\x03 \0c\0a\0f\0\xE9\0", 14), "UTF-16 LE"},
      {std::string("\xFE\xFF\x03\xA9\0 \0c\0a\0f\0\xE9", 14), "UTF-16 BE"},
      {"\xEF\xBB\xBF" + greek, "UTF-8 with its mark"},
      {greek, "UTF-8"},
  };
  for (const auto& c : cases) EXPECT_EQ(TextFileToUtf8(c.bytes), greek) << c.what;
  EXPECT_EQ(TextFileToUtf8("caf\xE9"), "caf\xC3\xA9");  // not UTF-8: cp1252
}

}  // namespace
