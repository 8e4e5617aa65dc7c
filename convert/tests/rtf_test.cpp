// RTF read as WordPad, Word and LibreOffice write it, written back so that they read it, and damaged
// input read as far as it goes.
#include "convert/rtf.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/files.h"
#include "tests/support/log_capture.h"
#include "tests/support/peer.h"

namespace {

// In the style of WordPad: a font with its own character set, a colour table, an ignorable
// destination, a picture, and a paragraph property that leaks into the next paragraph.
const char kWordPad[] =
    "{\\rtf1\\ansi\\ansicpg1252\\deff0\\nouicompat\\deflang1033{\\fonttbl{\\f0\\fnil\\fcharset0 Calibri;}"
    "{\\f1\\fnil\\fcharset238 Arial CE;}}\r\n"
    "{\\colortbl ;\\red255\\green0\\blue0;}\r\n"
    "{\\*\\generator Riched20 10.0.19041}\\viewkind4\\uc1 \r\n"
    "\\pard\\sa200\\sl276\\slmult1\\qc\\b\\f0\\fs28 Radiology Report\\b0\\fs22\\par\r\n"
    "\\pard\\sa200 Findings: caf\\'e9, 20 \\'80, \\i normal\\i0 , \\ul under\\ulnone , \\cf1 red\\cf0 .\\par\r\n"
    "\\f1 \\'8aimon \\u8364?\\par\r\n"
    "{\\pict\\wmetafile8\\picw100 0100090000036e}"
    "\\qr Right\\tab end\\line next\\par\r\n}\r\n";

TEST(Rtf, ReadsTextRunsAlignmentAndCodePages) {
  StyledText doc;
  ASSERT_TRUE(ReadRtf(kWordPad, doc, "wordpad.rtf"));
  ASSERT_EQ(doc.paragraphs.size(), 4u);
  EXPECT_EQ(doc.PlainText(),
            "Radiology Report\r\nFindings: caf\xC3\xA9, 20 \xE2\x82\xAC, normal, under, red.\r\n"
            "\xC5\xA0imon \xE2\x82\xAC\r\nRight\tend\r\nnext");
  const Paragraph& title = doc.paragraphs[0];
  EXPECT_EQ(title.alignment, Alignment::Center);
  ASSERT_EQ(title.runs.size(), 1u);
  EXPECT_TRUE(title.runs[0].bold);
  EXPECT_EQ(title.runs[0].halfPoints, 28);
  const Paragraph& findings = doc.paragraphs[1];
  EXPECT_EQ(findings.alignment, Alignment::Left);
  ASSERT_EQ(findings.runs.size(), 7u);
  EXPECT_TRUE(findings.runs[1].italic);
  EXPECT_EQ(findings.runs[1].text, "normal");
  EXPECT_TRUE(findings.runs[3].underline);
  EXPECT_EQ(findings.runs[5].text, "red");
  EXPECT_TRUE(findings.runs[5].coloured);
  EXPECT_EQ(findings.runs[5].rgb, 0xFF0000u);
  EXPECT_EQ(findings.runs[6].halfPoints, 22);
  EXPECT_EQ(doc.paragraphs[2].runs[0].font, "Arial CE");
  EXPECT_EQ(doc.paragraphs[3].alignment, Alignment::Right);
}

TEST(Rtf, UnicodeEscapesSkipTheirFallbacks) {
  StyledText doc;
  // A smiley as a surrogate pair, two fallback characters after \uc2, none after \uc0, and a
  // fallback that is itself an escape.
  ASSERT_TRUE(ReadRtf("{\\rtf1\\ansi \\u-10179?\\u-8704? a\\uc2\\u8364??b\\uc0\\u955 c\\uc1\\u946\\'3fd}", doc, "u"));
  EXPECT_EQ(doc.PlainText(), "\xF0\x9F\x98\x80 a\xE2\x82\xAC" "b\xCE\xBB" "c\xCE\xB2" "d");
}

TEST(Rtf, WhatIsWrittenReadsBackTheSame) {
  StyledText doc;
  TextRun plain;
  plain.text = "Braces {} and \\ backslash, caf\xC3\xA9 \xE2\x82\xAC, \xCE\xB1\xCE\xB2, \xF0\x9F\x98\x80\tand\nnext";
  TextRun fancy;
  fancy.text = "Bold italic";
  fancy.bold = fancy.italic = fancy.underline = true;
  fancy.font = "DejaVu Sans";
  fancy.halfPoints = 40;
  fancy.coloured = true;
  fancy.rgb = 0x1F5F8B;
  doc.Append(plain);
  doc.Append(fancy);
  doc.paragraphs.emplace_back();
  doc.paragraphs.back().alignment = Alignment::Justify;
  doc.Append(plain);
  const std::string rtf = WriteRtf(doc);
  for (unsigned char c : rtf) ASSERT_LT(c, 0x80);  // ASCII only
  EXPECT_EQ(rtf.rfind("{\\rtf1\\ansi\\ansicpg1252", 0), 0u);
  StyledText back;
  ASSERT_TRUE(ReadRtf(rtf, back, "written"));
  EXPECT_EQ(back, doc);
}

TEST(Rtf, DamagedInputGivesWhatCanBeRead) {
  LogCapture log;
  StyledText doc;
  EXPECT_FALSE(ReadRtf("Hello, plain text", doc, "plain.txt"));
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"ERROR, ReadRtf, not an RTF document: plain.txt"});
  // Cut short, unknown words, a huge size and a binary blob that claims more than there is.
  ASSERT_TRUE(ReadRtf("{\\rtf1 Hello \\frobnicate42 {\\b bold\\fs99999999999 big \\bin99999999 xyz", doc, "cut"));
  EXPECT_EQ(doc.PlainText(), "Hello boldbig ");  // a control word's space is its delimiter
  EXPECT_EQ(log.Messages().back(), "WARNING, ReadRtf, the document ends before its last group closes: cut");
  EXPECT_EQ(doc.paragraphs[0].runs.back().halfPoints, 3276);
  // Groups nested far too deep: their text is dropped, the text after them is kept.
  std::string deep = "{\\rtf1 before ";
  deep += std::string(100000, '{') + "inside" + std::string(100000, '}') + " after}";
  ASSERT_TRUE(ReadRtf(deep, doc, "deep"));
  EXPECT_EQ(doc.PlainText(), "before  after");
}

// What the editor saves, read by another maker's reader (unrtf, test only): the same text.
TEST(Rtf, WrittenRtfReadsInUnrtf) {
  StyledText doc;
  TextRun r;
  r.text = "Findings: caf\xC3\xA9, 20 \xE2\x82\xAC, \xCE\xB1";
  doc.Append(r);
  doc.paragraphs.emplace_back();
  r.bold = true;
  r.text = "Impression {normal}";
  doc.Append(r);
  const std::string dir = testsupport::MakeTempDir("unrtf");
  testsupport::WriteAll(dir + "/report.rtf", WriteRtf(doc));
  const std::string unrtf = testsupport::FindProgram("unrtf");
  ASSERT_FALSE(unrtf.empty()) << "unrtf is not installed (scripts/install-deps --test)";
  // Its HTML output names each character beyond ASCII unambiguously.
  std::string html;
  ASSERT_EQ(testsupport::Run({unrtf, "--html", dir + "/report.rtf"}, &html), 0) << html;
  EXPECT_NE(html.find("Findings: caf&eacute;, 20 &euro;, &alpha;"), std::string::npos) << html;
  EXPECT_NE(html.find("Impression {normal}"), std::string::npos) << html;
  testsupport::RemoveTree(dir);
}

// Made once with LibreOffice (soffice --headless --convert-to rtf) from a small HTML report.
TEST(Rtf, ReadsWhatLibreOfficeWrites) {
  StyledText doc;
  ASSERT_TRUE(ReadRtf(testsupport::ReadAll(SCRIVARA_SOURCE_DIR "/convert/tests/data/libreoffice.rtf"), doc, "lo"));
  EXPECT_EQ(doc.PlainText(),
            "Radiology Report\r\n"
            "Findings: caf\xC3\xA9, 20 \xE2\x82\xAC, normal heart, no effusion. Gr\xC3\xB6\xC3\x9F" "e 5 mm "
            "\xE2\x80\x93 stable.\r\n"
            "Dr. \xC5\xA0imon Dvo\xC5\x99\xC3\xA1k\r\n"
            "Greek \xCE\xB1\xCE\xB2\xCE\xB3 and \xE2\x80\x9Cquotes\xE2\x80\x9D.");
  ASSERT_EQ(doc.paragraphs.size(), 4u);
  EXPECT_EQ(doc.paragraphs[0].alignment, Alignment::Center);
  EXPECT_TRUE(doc.paragraphs[0].runs[0].bold);
  EXPECT_EQ(doc.paragraphs[2].alignment, Alignment::Right);
  std::vector<std::string> italic, underlined;
  for (const TextRun& r : doc.paragraphs[1].runs) {
    if (r.italic) italic.push_back(r.text);
    if (r.underline) underlined.push_back(r.text);
  }
  EXPECT_EQ(italic, std::vector<std::string>{"normal"});
  EXPECT_EQ(underlined, std::vector<std::string>{"no"});
}

// Many fonts and runs that change font at every character: each run gets its font (a font named
// again replaces the earlier entry), the runs share one copy of each name, and a document over the
// size limit is refused instead of read.
// Tables as Word writes them: cells separated (an empty one keeps its place), each row a paragraph,
// a nested table's rows too (its plain rendering for older readers left out); a list's bullet
// kept; a field shows its result.
TEST(Rtf, TablesListsAndFields) {
  StyledText doc;
  ASSERT_TRUE(ReadRtf("{\\rtf1\\ansi {\\listtext \\'95\\tab}Item\\par\n"
                      "\\trowd\\intbl A\\cell \\cell B\\cell\\row\n"
                      "\\intbl X\\cell\\itap2 n1\\nestcell n2\\nestcell{\\*\\nesttableprops\\trowd\\nestrow}"
                      "{\\*\\nonesttables n1 n2\\par}\\itap1\\cell\\row\n"
                      "{\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt link}} end\\par}",
                      doc, "table"));
  EXPECT_EQ(doc.PlainText(), "\xE2\x80\xA2\tItem\r\nA |  | B\r\nX | n1 | n2\r\n\r\nlink end");
}

TEST(Rtf, ManyFontsAndAlternatingRunsAndTheSizeLimit) {
  std::string rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl";
  for (int f = 0; f < 3000; ++f) rtf += "{\\f" + std::to_string(f) + "\\fnil Font " + std::to_string(f) + ";}";
  rtf += "{\\f7\\fnil Renamed;}}";
  for (int r = 0; r < 3000; ++r) rtf += "\\f" + std::to_string(1 + r % 9) + " x";
  rtf += "}";
  StyledText doc;
  ASSERT_TRUE(ReadRtf(rtf, doc, "fonts"));
  ASSERT_EQ(doc.paragraphs.size(), 1u);
  const auto& runs = doc.paragraphs[0].runs;
  ASSERT_EQ(runs.size(), 3000u);
  EXPECT_EQ(runs[0].font, "Font 1");
  EXPECT_EQ(runs[6].font, "Renamed");
  EXPECT_EQ(runs[8].font, "Font 9");
  EXPECT_EQ(&runs[0].font.str(), &runs[9].font.str());  // one name, shared

  LogCapture log;
  EXPECT_FALSE(ReadRtf(std::string(kMaxRtfBytes + 1, ' ').replace(0, 6, "{\\rtf1"), doc, "huge"));
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"ERROR, ReadRtf, the document is larger than 64 MB: huge"});
}

}  // namespace
