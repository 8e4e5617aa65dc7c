// The command line itself: help, unknown commands and options, unreadable input.
#include <gtest/gtest.h>

#include <fstream>

#include <sys/stat.h>

#include "app/cli/tests/cli_support.h"
#include "core/config.h"
#include "tests/support/dicom_fixture.h"
#include "tests/support/files.h"

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

// Wrong usage exits 2 with the reason and the usage; bad study keys are each named before anything
// is read or made.
TEST(CliBasic, WrongUsageAndBadKeysExitTwoSayingWhy) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> said;
  };
  const std::vector<Case> cases = {
      {{"frobnicate"}, {"unknown command frobnicate", "commands:"}},
      {{"-v"}, {"unknown command -v"}},
      {{"echo", "--port"}, {"option --port needs a value", "usage: scrivara-cli echo"}},
      {{"pdf", "--patient-nme", "X", "--patient-id", "1", "in.pdf", "out.dcm"},
       {"unknown option --patient-nme", "usage: scrivara-cli pdf"}},
      {{"find", "extra"}, {"usage: scrivara-cli find"}},
      {{"echo", "--tls-profile", "tls9"}, {"--tls-profile must be bcp195-nd, bcp195 or bcp195-ex"}},
      {{"store", "--aec"}, {"option --aec needs a value"}},
      {{"pdf", "--patient-name", "A", "--patient-id", "1", "--birth-date", "1970-05-17", "--sex", "Female",
        "--accession", "12345678901234567", "--study-uid", "1.2.3.abc", "--modality", "us", "missing.pdf", "out.dcm"},
       {"--birth-date 1970-05-17 is not a date", "--sex Female is not M, F or O", "--accession is longer than the 16",
        "--study-uid 1.2.3.abc is not a UID", "--modality us is not a code"}},
      {{"setup", "--pacs", "PACS@host", "--debug", "yes", "--pacs-tls", "yes", "--worklist-tls-profile", "tls9",
        "--pacs-ca", "/nonexistent/ca.pem"},
       {"--pacs must be AE@HOST:PORT", "--debug must be on or off", "--pacs-tls must be on or off",
        "--worklist-tls-profile must be bcp195-nd", "--pacs-ca: /nonexistent/ca.pem cannot be read"}},
  };
  for (const Case& c : cases) {
    const auto r = RunCli(c.args);
    EXPECT_EQ(r.status, 2) << c.args[0] << " " << r.output;
    for (const std::string& s : c.said) EXPECT_NE(r.output.find(s), std::string::npos) << s << "\n" << r.output;
  }
}

// Failures say why, in the words of the log.
TEST(CliBasic, DumpAndConvertFailuresSayWhy) {
  std::string dir = testsupport::MakeTempDir("cli-basic");
  std::string bad = dir + "/bad.dcm", empty = dir + "/empty.dcm", out = dir + "/out.dcm";
  std::ofstream(bad) << "not a DICOM file";
  std::ofstream{empty};
  auto d = RunCli({"dump", bad});
  EXPECT_EQ(d.status, 1);
  EXPECT_NE(d.output.find("cannot read DICOM file " + bad + ": not a DICOM file"), std::string::npos) << d.output;
  EXPECT_NE(RunCli({"dump", empty}).output.find(": an empty file"), std::string::npos);
  auto c = RunCli({"convert", "--ts", "1.2.840.10008.1.2", dir + "/missing.dcm", out});
  EXPECT_EQ(c.status, 1);
  EXPECT_NE(c.output.find("missing.dcm: No such file or directory"), std::string::npos) << c.output;
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

// setup writes the file the setup dialog reads (0600), and shows it.
TEST(CliBasic, SetupWritesTheDialogsFile) {
  const std::string dir = testsupport::MakeTempDir("cli-setup");
  const std::string cli = dir + "/scrivara-cli";  // a program in a writable folder keeps its files there
  ASSERT_EQ(testsupport::Run({"cp", SCRIVARA_CLI, cli}), 0);
  std::string out;
  ASSERT_EQ(testsupport::Run({cli, "setup", "--aet", "DESK1", "--institution", "Klinika Brno", "--pacs",
                              "ARCHIVE@127.0.0.1:11112", "--worklist", "RIS@10.0.0.7:4006", "--debug", "on"},
                             &out),
            0)
      << out;
  SetupCfg cfg;
  ASSERT_TRUE(ReadSetupFile(cfg, dir + "/scrivara.cfg"));
  EXPECT_EQ(cfg.LocalAET, "DESK1");
  EXPECT_EQ(cfg.InstitutionName, "Klinika Brno");
  EXPECT_EQ(cfg.PacsAET + "@" + cfg.PacsIP + ":" + cfg.PacsPort, "ARCHIVE@127.0.0.1:11112");
  EXPECT_EQ(cfg.WorklistAET + "@" + cfg.WorklistIP + ":" + cfg.WorklistPort, "RIS@10.0.0.7:4006");
  EXPECT_TRUE(cfg.DebugLogging);
  struct stat st {};
  ASSERT_EQ(::stat((dir + "/scrivara.cfg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(testsupport::Run({cli, "setup"}, &out), 0);
  EXPECT_NE(out.find("PACS            ARCHIVE@127.0.0.1:11112"), std::string::npos) << out;
  // TLS for the PACS goes to the servers file beside it.
  ASSERT_EQ(testsupport::Run({cli, "setup", "--pacs-tls", "on", "--pacs-ca", cli, "--pacs-host-check", "off"}, &out), 0)
      << out;
  ASSERT_TRUE(ReadSetupFile(cfg, dir + "/scrivara.cfg"));
  EXPECT_TRUE(cfg.PacsTls.enabled && !cfg.PacsTls.checkHostName && !cfg.WorklistTls.enabled);
  EXPECT_EQ(cfg.PacsTls.caFile, cli);
  EXPECT_NE(out.find("PACS TLS        on, profile bcp195-nd, CA " + cli), std::string::npos) << out;
  testsupport::RemoveTree(dir);
}

// A PDF object goes to big endian and back unchanged, byte for byte; the dump is UTF-8 throughout.
TEST(CliBasic, PdfObjectThroughBigEndianAndAUtf8Dump) {
  const std::string dir = testsupport::MakeTempDir("cli-be");
  const std::string pdf = dir + "/a.pdf", obj = dir + "/a.dcm", big = dir + "/big.dcm", back = dir + "/back.dcm";
  std::ofstream(pdf) << testsupport::MinimalPdf();
  auto made = RunCli({"pdf", "--patient-name", "Παπαδοπούλου^Ελένη", "--patient-id", "7", pdf, obj});
  ASSERT_EQ(made.status, 0) << made.output;
  ASSERT_EQ(RunCli({"convert", "--ts", "1.2.840.10008.1.2.2", obj, big}).status, 0);
  ASSERT_EQ(RunCli({"convert", "--ts", "1.2.840.10008.1.2.1", big, back}).status, 0);
  std::vector<uint8_t> a, b;
  ASSERT_TRUE(fixture::ReadFile(obj, &a));
  ASSERT_TRUE(fixture::ReadFile(back, &b));
  EXPECT_TRUE(a == b);
  const auto dump = RunCli({"dump", big});
  EXPECT_EQ(dump.status, 0);
  EXPECT_NE(dump.output.find("Patient\u2019s Name: Παπαδοπούλου^Ελένη"), std::string::npos) << dump.output;
  testsupport::RemoveTree(dir);
}
