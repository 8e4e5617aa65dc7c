// The command line itself: help, unknown commands and options, unreadable input.
#include <gtest/gtest.h>

#include <fstream>

#include "app/cli/tests/cli_support.h"
#include "tests/support/dicom_fixture.h"

using clitest::RunCli;

TEST(CliBasic, HelpForTheWholeAndEachCommand) {
  auto r = RunCli({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.output.find("commands:"), std::string::npos);
  for (const char* cmd : {"echo", "store", "dump", "convert", "pdf", "sr", "img"}) {
    auto c = RunCli({cmd, "--help"});
    EXPECT_EQ(c.status, 0) << cmd;
    EXPECT_NE(c.output.find(std::string("usage: scrivara-cli ") + cmd), std::string::npos) << c.output;
  }
  EXPECT_EQ(RunCli({}).status, 2);
}

TEST(CliBasic, UnknownCommandAndMissingOptionValueFail) {
  auto r = RunCli({"frobnicate"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("unknown command frobnicate"), std::string::npos);
  auto m = RunCli({"echo", "--port"});
  EXPECT_NE(m.status, 0);
  EXPECT_NE(m.output.find("option --port needs a value"), std::string::npos);
}

TEST(CliBasic, DumpAndConvertOfAFileThatIsNotDicomFail) {
  std::string dir = testsupport::MakeTempDir("cli-basic");
  std::string bad = dir + "/bad.dcm", out = dir + "/out.dcm";
  std::ofstream(bad) << "not a DICOM file";
  auto d = RunCli({"dump", bad});
  EXPECT_EQ(d.status, 1);
  EXPECT_NE(d.output.find("cannot read DICOM file " + bad), std::string::npos);
  auto c = RunCli({"convert", "--ts", "1.2.840.10008.1.2", dir + "/missing.dcm", out});
  EXPECT_EQ(c.status, 1);
  EXPECT_FALSE(std::ifstream(out).good());
  testsupport::RemoveTree(dir);
}

// A J2K fragment whose header claims a 4 GB image for a 16 x 16 RGB frame: refused, nothing written.
TEST(CliBasic, ConvertRefusesAJ2KFragmentThatClaimsAnotherImage) {
  std::vector<uint8_t> input;
  ASSERT_TRUE(fixture::ReadFile(std::string(SCRIVARA_SOURCE_DIR) + "/fuzz/corpus/j2k/oom_siz_claims_16x83886096",
                                &input));
  fixture::Image img;
  img.rows = img.columns = 16;
  img.samples = 3;
  img.photometric = "RGB";
  img.transferSyntax = "1.2.840.10008.1.2.4.90";
  img.fragments.emplace_back(input.begin() + 2, input.end());
  std::string dir = testsupport::MakeTempDir("cli-basic");
  const std::string in = dir + "/claim.dcm", out = dir + "/out.dcm";
  ASSERT_TRUE(fixture::WriteImage(in, img));
  auto c = RunCli({"convert", "--ts", "1.2.840.10008.1.2.1", in, out});
  EXPECT_EQ(c.status, 1) << c.output;
  EXPECT_FALSE(std::ifstream(out).good());
  testsupport::RemoveTree(dir);
}
