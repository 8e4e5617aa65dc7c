#include "core/audit.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "core/config.h"
#include "core/log.h"
#include "tests/support/files.h"
#include "tests/support/peer.h"

namespace {

// A datagram socket in the test's folder standing in for the system log.
class FakeSyslog {
 public:
  explicit FakeSyslog(const std::string& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    timeval tv{2, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    audit::SetSyslogSocketForTesting(path);
  }
  ~FakeSyslog() {
    audit::SetSyslogSocketForTesting("");
    ::close(fd_);
    ::unlink(path_.c_str());
  }
  std::string Next() {
    std::string buf(1 << 20, '\0');
    const ssize_t n = ::recv(fd_, buf.data(), buf.size(), 0);
    return n > 0 ? buf.substr(0, static_cast<size_t>(n)) : std::string();
  }

 private:
  std::string path_;
  int fd_;
};

// "" when xmllint finds the message valid against the standard's schema, else what it says.
std::string SchemaProblems(const std::string& dir, const std::string& xml) {
  testsupport::WriteAll(dir + "/message.xml", xml);
  std::string out;
  const int rc = testsupport::Run({"xmllint", "--noout", "--relaxng",
                                   std::string(SCRIVARA_SOURCE_DIR) + "/tests/data/audit/dicom-audit-message.rng",
                                   dir + "/message.xml"},
                                  &out);
  return rc == 0 ? "" : out;
}

}  // namespace

TEST(Audit, EveryMessageIsValidAndReachesTheSystemLogAndThePrivateFile) {
  const std::string dir = testsupport::MakeTempDir("audit");
  StartProgramFolders(dir + "/scrivara");
  setupcfg.LocalAET = "DESK1";
  setupcfg.InstitutionName = "Klinika <Brno> & Co";
  FakeSyslog syslog(dir + "/log.sock");

  audit::PatientInstances p;
  p.patientId = "P1";
  p.patientName = "Dvo\xC5\x99\xC3\xA1kov\xC3\xA1^Jana";
  p.studies["1.2.3"]["1.2.840.10008.5.1.4.1.1.104.1"] = 2;
  p.studies["1.2.4"]["1.2.840.10008.5.1.4.1.1.7"] = 1;
  EXPECT_EQ(p.Count(), 3);
  const audit::Node pacs{"ARCHIVE", "127.0.0.1", "11112"};
  struct Case {
    const char* name;
    std::function<void()> emit;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"start", [] { audit::ApplicationStart(); }, {"csd-code=\"110100\"", "csd-code=\"110120\"", "110151"}},
      {"begin", [&] { audit::BeginTransferring(p, pacs); },
       {"csd-code=\"110102\"", "UserID=\"ARCHIVE\"", "NetworkAccessPointID=\"127.0.0.1\"", "NumberOfInstances=\"2\"",
        "<ParticipantObjectName>Dvo\xC5\x99\xC3\xA1kov\xC3\xA1^Jana</ParticipantObjectName>"}},
      {"transferred", [&] { audit::InstancesTransferred(p, pacs, false, "refused, status A700H"); },
       {"csd-code=\"110104\"", "EventOutcomeIndicator=\"4\"", "refused, status A700H"}},
      {"query", [&] { audit::Query("1.2.840.10008.5.1.4.31", {0x08, 0x00, 0x50, 0x00}, pacs, true); },
       {"csd-code=\"110112\"", "ParticipantObjectID=\"1.2.840.10008.5.1.4.31\"", "<ParticipantObjectQuery>CABQAA==<"}},
      {"alert", [] { audit::SecurityAlert(audit::Alert::kNodeAuthentication, "127.0.0.1:2762", "certificate expired"); },
       {"csd-code=\"110113\"", "csd-code=\"110126\"", "ParticipantObjectID=\"127.0.0.1:2762\""}},
      {"stop", [] { audit::ApplicationStop(); }, {"csd-code=\"110121\""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.emit();
    const std::string xml = audit::LastMessageForTesting();
    EXPECT_EQ(SchemaProblems(dir, xml), "");
    for (const std::string& e : c.expected) EXPECT_NE(xml.find(e), std::string::npos) << e << "\n" << xml;
    EXPECT_NE(xml.find("AuditEnterpriseSiteID=\"Klinika &lt;Brno&gt; &amp; Co\""), std::string::npos);
    const std::string frame = syslog.Next();
    EXPECT_EQ(frame.rfind("<85>1 ", 0), 0u) << frame;
    EXPECT_NE(frame.find(" IHE+RFC-3881 - \xEF\xBB\xBF" + xml), std::string::npos);
  }
  // The same frames, one per line, in the day's private audit file.
  std::string file;
  for (const auto& e : std::filesystem::directory_iterator(dir + "/logs"))
    if (e.path().string().find("_audit.log") != std::string::npos) file = e.path();
  ASSERT_FALSE(file.empty());
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::ifstream in(file);
  int lines = 0;
  for (std::string line; std::getline(in, line);) lines += line.rfind("<85>1 ", 0) == 0;
  EXPECT_EQ(lines, static_cast<int>(cases.size()));
  EXPECT_EQ(audit::Destinations(), dir + "/logs/yyyymmdd_audit.log and the system log (" + dir + "/log.sock)");
  EndProgramFolders();
  CloseLog();
  setupcfg = SetupCfg{};
  testsupport::RemoveTree(dir);
}
