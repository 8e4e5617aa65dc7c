// The command line itself: help, unknown commands and options, unreadable input.
#include <gtest/gtest.h>

#include <fstream>

#include "app/cli/tests/cli_support.h"

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
