// A full disk (a file size limit) and unwritable folders under the log and the DICOM file writer: the log drops the
// line, writing a file reports failure with one line, nothing crashes.
#include <signal.h>
#include <sys/resource.h>
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

// Files cannot grow beyond `bytes` while it lives (EFBIG, as on a full disk).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit r = old_;
    r.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &r);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    ::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit old_{};
  sighandler_t oldHandler_;
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
  for (const std::string& bad : {ro.path + "/scrivara.log", dir + "/missing/scrivara.log"}) {
    SCOPED_TRACE(bad);
    InitLog(bad, "", "");
    WriteLog("ERROR, nowhere to go");
    EXPECT_FALSE(LogBusy.load());
  }
  const std::string full = dir + "/full.log";
  InitLog(full, "", "");
  WriteLog("INFO, " + std::string(100, 'a'));
  {
    FileSizeLimit limit(64);
    WriteLog("ERROR, the disk is full");
    EXPECT_FALSE(LogBusy.load());
  }
  EXPECT_EQ(Slurp(full).find("the disk is full"), std::string::npos);
  WriteLog("INFO, written again");
  EXPECT_NE(Slurp(full).find(", INFO, written again\r\n"), std::string::npos);
  CloseLog();
  testsupport::RemoveTree(dir);
}

TEST(FaultTest, WritingAFileOnAFullDiskOrInAReadOnlyFolderFails) {
  const std::string dir = testsupport::MakeTempDir("scrivara_filefault");
  InitLog(dir + "/f.log", "", "");
  ReadOnlyFolder ro;
  for (bool fullDisk : {true, false}) {
    SCOPED_TRACE(fullDisk ? "full disk" : "read-only folder");
    ::truncate((dir + "/f.log").c_str(), 0);
    DcmObj obj = Small();
    ByteBuffer doc(100000, 'x');
    obj.Add(DcmTag(0x0042, 0x0011, std::move(doc), "OB"));
    if (fullDisk) {
      FileSizeLimit limit(16 * 1024);
      EXPECT_FALSE(obj.Write(dir + "/object.dcm"));
    } else {
      EXPECT_FALSE(obj.Write(ro.path + "/object.dcm"));
    }
    const std::string log = Slurp(dir + "/f.log");
    EXPECT_NE(log.find("ERROR, BufData::SaveToFile"), std::string::npos) << log;
  }
  CloseLog();
  testsupport::RemoveTree(dir);
}
