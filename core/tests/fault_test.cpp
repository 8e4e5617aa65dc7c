// A full disk and unwritable folders under the log and the DICOM file writer: the log drops the
// line, writing a file reports failure with one line, nothing crashes.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "core/dcmobj.h"
#include "core/log.h"
#include "tests/support/peer.h"

namespace {

// A folder where no file can be made: chmod 0555 for a normal user; root ignores modes, so /proc.
struct ReadOnlyFolder {
  ReadOnlyFolder() {
    if (geteuid() == 0) {
      path = "/proc";
    } else {
      path = testsupport::MakeTempDir("scrivara_ro");
      ::chmod(path.c_str(), 0555);
      owned = true;
    }
  }
  ~ReadOnlyFolder() {
    if (owned) {
      ::chmod(path.c_str(), 0755);
      testsupport::RemoveTree(path);
    }
  }
  std::string path;
  bool owned = false;
};

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

DcmObj Small() {
  DcmObj obj;
  obj.transferSyntax = "1.2.840.10008.1.2.1";
  obj.explicitVR = true;
  obj.Add(DcmTag(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.104.1", "UI"));
  obj.Add(DcmTag(0x0008, 0x0018, "1.2.3.4", "UI"));
  return obj;
}

}  // namespace

TEST(FaultTest, LogOnAFullDiskOrInAReadOnlyFolderDropsTheLineAndRecovers) {
  const std::string dir = testsupport::MakeTempDir("scrivara_logfault");
  ReadOnlyFolder ro;
  for (const std::string& bad : {std::string("/dev/full"), ro.path + "/scrivara.log", dir + "/missing/scrivara.log"}) {
    SCOPED_TRACE(bad);
    InitLog(bad, "", "");
    WriteLog("ERROR, nowhere to go");
    EXPECT_FALSE(LogBusy.load());
  }
  InitLog(dir + "/ok.log", "", "");
  WriteLog("INFO, written again");
  EXPECT_NE(Slurp(dir + "/ok.log").find(", INFO, written again\r\n"), std::string::npos);
  CloseLog();
  testsupport::RemoveTree(dir);
}

TEST(FaultTest, WritingAFileOnAFullDiskOrInAReadOnlyFolderFails) {
  const std::string dir = testsupport::MakeTempDir("scrivara_filefault");
  InitLog(dir + "/f.log", "", "");
  ReadOnlyFolder ro;
  for (const std::string& target : {std::string("/dev/full"), ro.path + "/object.dcm"}) {
    SCOPED_TRACE(target);
    ::truncate((dir + "/f.log").c_str(), 0);
    DcmObj obj = Small();
    EXPECT_FALSE(obj.Write(target));
    const std::string log = Slurp(dir + "/f.log");
    EXPECT_NE(log.find("ERROR, BufData::SaveToFile"), std::string::npos) << log;
  }
  CloseLog();
  testsupport::RemoveTree(dir);
}
