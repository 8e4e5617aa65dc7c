// A conversion whose temp folder is read-only or whose disk fills up reports failure, records no
// file and leaves nothing behind.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "convert/batch.h"
#include "convert/pdf_object.h"
#include "tests/support/log_capture.h"
#include "tests/support/peer.h"

namespace {

StudyInfo Study() {
  StudyInfo s;
  s.PatientName = "Doe^Jane";
  s.PatientID = "FAULT01";
  s.AccessionNumber = "ACC9";
  s.StudyDate = "20241209";
  s.StudyTime = "103015";
  return s;
}

std::string Listing(const std::string& dir) {
  std::string out;
  testsupport::Run({"ls", "-A", dir}, &out);
  return out;
}

// Files beyond `bytes` cannot grow while it lives (EFBIG, as on a full disk).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    old_handler_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit r = old_;
    r.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &r);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    ::signal(SIGXFSZ, old_handler_);
  }

 private:
  rlimit old_{};
  sighandler_t old_handler_;
};

}  // namespace

TEST(ConvertFaultTest, ReadOnlyTempFolderFailsTheConversion) {
  const std::string dir = testsupport::MakeTempDir("scrivara_convfault");
  std::ofstream(dir + "/doc.pdf") << "%PDF-1.4\nsmall\n";
  // Root ignores folder modes: there the read-only folder is /proc.
  std::string temp = dir + "/temp";
  if (geteuid() == 0) {
    temp = "/proc";
  } else {
    ::mkdir(temp.c_str(), 0555);
  }
  StudyInfo study = Study();
  ConversionBatch batch;
  ASSERT_TRUE(StartConversionBatch(study, temp, batch));
  int32_t counter = 0;
  {
    LogCapture log;
    EXPECT_EQ(BuildEncapsulatedPdf(dir + "/doc.pdf", study, batch, counter), "");
    EXPECT_TRUE(batch.TempFiles.empty());
    ASSERT_FALSE(log.Lines().empty());
    EXPECT_NE(log.Lines().back().find("ERROR, BuildEncapsulatedPdf, cannot write file"), std::string::npos);
  }
  if (geteuid() != 0) ::chmod(temp.c_str(), 0755);
  testsupport::RemoveTree(dir);
}

TEST(ConvertFaultTest, FullDiskFailsTheConversionAndLeavesNoPartialFile) {
  const std::string dir = testsupport::MakeTempDir("scrivara_convfull");
  const std::string temp = dir + "/temp";
  ::mkdir(temp.c_str(), 0755);
  std::ofstream(dir + "/doc.pdf") << "%PDF-1.4\n" << std::string(200000, 'x');
  StudyInfo study = Study();
  ConversionBatch batch;
  ASSERT_TRUE(StartConversionBatch(study, temp, batch));
  int32_t counter = 0;
  std::string made;
  {
    LogCapture log;  // its file stays small: the one line fits under the limit
    FileSizeLimit full(64 * 1024);
    made = BuildEncapsulatedPdf(dir + "/doc.pdf", study, batch, counter);
    EXPECT_EQ(made, "");
    EXPECT_TRUE(batch.TempFiles.empty());
    ASSERT_FALSE(log.Lines().empty());
    EXPECT_NE(log.Lines().back().find("ERROR, BuildEncapsulatedPdf, cannot write file"), std::string::npos);
  }
  EXPECT_EQ(Listing(temp), "");
  testsupport::RemoveTree(dir);
}
