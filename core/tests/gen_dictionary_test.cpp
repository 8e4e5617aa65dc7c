// The build-time dictionary generator, run on small registries.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/peer.h"

namespace {

class GenDictionary : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testsupport::MakeTempDir("gen_dictionary"); }
  void TearDown() override { testsupport::RemoveTree(dir_); }

  // Runs the generator on the given registry rows and override rows; returns its exit status.
  int Generate(const std::string& rows, const std::string& overrides = "") {
    Write(dir_ + "/registry.tsv", "tag\tvr\tvm\tname\tkeyword\tretired\n" + rows);
    Write(dir_ + "/overrides.tsv", "# test\n" + overrides);
    std::string log;
    int rc = testsupport::Run({std::string(SCRIVARA_BINARY_DIR) + "/core/scrivara_gen_dictionary", dir_ + "/registry.tsv",
                  dir_ + "/overrides.tsv", dir_ + "/out.cpp"},
                 &log);
    std::ifstream in(dir_ + "/out.cpp", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    out_ = text.str();
    return rc;
  }
  bool Has(const std::string& line) const { return out_.find("    " + line + "\n") != std::string::npos; }

  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }

  std::string dir_, out_;
};

TEST_F(GenDictionary, RowsBecomeEntries) {
  ASSERT_EQ(Generate("00080005\tCS\t1\tSpecific Character Set\tSpecificCharacterSet\tN\n"
                     "00081000\tLO\t1\tA \xE2\x80\x93 B\xE2\x80\x99s \xC2\xB5S\tX\tN\n"
                     "00082110\tCS\t1\tLossy Image Compression (Retired)\tX\tY\n"
                     "00100010\tPN\t1\tPatient's Name\tPatientName\tN\n"
                     "00140023\tST\t1\tCAD File Format\tX\tY\n"
                     "002031xx\tCS\t1-n\tSource Image IDs\tX\tY\n"
                     "00280020\t\t\t\t\tY\n"
                     "00280106\tUS or SS\t1\tSmallest Image Pixel Value\tX\tN\n"
                     "00281200\tUS or SS or OW\t1-n or 1\tGray Lookup Table Data\tX\tY\n"
                     "50xx3000\tOB or OW\t1\tCurve Data\tX\tY\n"
                     "60xx3000\tOB or OW\t1\tOverlay Data\tX\tN\n"
                     "7Fxx0010\tOB or OW\t1\tVariable Pixel Data\tX\tY\n"
                     "FFFEE000\tSee Note 2\t1\tItem\tItem\tN\n",
                     "00100010\tPN\tPatient\xE2\x80\x99s Name\n"
                     "50003000\tOB\tCurve Data OW or (RET)\n"
                     "00100030\tDA\tPatient's Birth Date\n"),
            0)
      << out_;
  EXPECT_TRUE(Has("{0x0008, 0x0005, {'C', 'S', 0, 0}, \"Specific Character Set\"},"));
  EXPECT_TRUE(Has("{0x0008, 0x1000, {'L', 'O', 0, 0}, \"A \\226 B\\222s \\265S\"},"));  // cp1252, octal
  EXPECT_TRUE(Has("{0x0008, 0x2110, {'C', 'S', 0, 0}, \"Lossy Image Compression (RET)\"},"));
  EXPECT_TRUE(Has("{0x0010, 0x0010, {'P', 'N', 0, 0}, \"Patient\\222s Name\"},"));
  EXPECT_TRUE(Has("{0x0010, 0x0030, {'D', 'A', 0, 0}, \"Patient's Birth Date\"},"));
  EXPECT_TRUE(Has("{0x0028, 0x0106, {'S', 'S', 0, 0}, \"Smallest Image Pixel Value US or\"},"));
  EXPECT_TRUE(Has("{0x0028, 0x1200, {'O', 'W', 0, 0}, \"Gray Lookup Table Data US or SS or (RET)\"},"));
  EXPECT_TRUE(Has("{0x5000, 0x3000, {'O', 'B', 0, 0}, \"Curve Data OW or (RET)\"},"));
  EXPECT_TRUE(Has("{0x6000, 0x3000, {'O', 'W', 0, 0}, \"Overlay Data OB or\"},"));
  EXPECT_TRUE(Has("{0xFFFE, 0xE000, {'D', 'L', 0, 0}, \"Item\"},"));
  EXPECT_TRUE(Has("{0x0008, 0x0000, {'U', 'L', 0, 0}, \"Group Length\"},"));
  EXPECT_TRUE(Has("{0x7FE0, 0x0000, {'U', 'L', 0, 0}, \"Group 7FE0 Length\"},"));
  EXPECT_FALSE(Has("{0xFFFE, 0x0000, {'U', 'L', 0, 0}, \"Group Length\"},"));
  // Not held: a group outside the list, masked ranges, the nameless placeholder.
  EXPECT_EQ(out_.find("0x0014, 0x0023"), std::string::npos);
  EXPECT_EQ(out_.find("Source Image IDs"), std::string::npos);
  EXPECT_EQ(out_.find("Variable Pixel Data"), std::string::npos);
  EXPECT_EQ(out_.find("0x0028, 0x0020"), std::string::npos);
  // 9 registry rows kept + the added row (0010,0030) + 52 group lengths (every group but FFFE).
  EXPECT_NE(out_.find("const size_t DataDictionarySize = 62;"), std::string::npos);
  EXPECT_TRUE(Has("{0, 0, {0, 0, 0, 0}, nullptr},"));
}

TEST_F(GenDictionary, RejectsWhatItCannotConvert) {
  EXPECT_NE(Generate("00100010\tPN\t1\tA\tX\tN\n00100010\tPN\t1\tB\tX\tN\n"), 0);  // tag twice
  EXPECT_NE(Generate("00100010\tPN\t1\tArrow \xE2\x86\x92\tX\tN\n"), 0);             // not in cp1252
  EXPECT_NE(Generate("00100010\tPN\t1\tBad \xE2\x80\tX\tN\n"), 0);                   // cut UTF-8
  EXPECT_NE(Generate("00100010\tXYZ\t1\tName\tX\tN\n"), 0);                          // VR text
  EXPECT_NE(Generate("00100010\tPN\t1\tName\tX\n"), 0);                              // columns
  EXPECT_NE(Generate("", "00100010\tpn\tName\n"), 0);                                // override VR
  EXPECT_NE(Generate("", "00090010\tLO\tPrivate Creator\n"), 0);                     // group not held
}

}  // namespace
