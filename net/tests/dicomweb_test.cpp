// Sending over DICOMweb: what a STOW-RS answer (or its absence) makes of each file, against a
// scripted service of the tests' own; the settings refused before anything is sent; the reader of
// DICOM JSON answers.
#include <gtest/gtest.h>

#include <fstream>

#include "core/audit.h"
#include "core/dcmobj.h"
#include "net/batch_store.h"
#include "net/dicomweb.h"
#include "tests/support/dicomweb_stub.h"
#include "tests/support/small_image.h"

namespace {

using testsupport::DicomWebStub;
using testsupport::TlsCertificates;

// The stub's behaviour as the PACS over DICOMweb.
AssociationTarget Target(const DicomWebStub& stub, const std::string& behaviour, uint32_t timeoutSeconds = 10) {
  AssociationTarget t;
  t.timeoutSeconds = timeoutSeconds;
  t.web.enabled = true;
  t.web.url = stub.Url(behaviour);
  return t;
}

// A small Part 10 object of its own instance UID.
std::string MakeObject(const std::string& dir, int n) {
  DcmObj obj = testsupport::SmallImage("1.2.826.0.1.3680043.9.7.6." + std::to_string(n), 2);
  obj.SetText(0x0010, 0x0010, "Web^Test");
  obj.SetText(0x0010, 0x0020, "W1");
  obj.SetText(0x0020, 0x000D, "1.2.826.0.1.3680043.9.7.5");
  const std::string path = dir + "/" + std::to_string(n) + ".dcm";
  EXPECT_TRUE(obj.Write(path));
  return path;
}

struct Expected {
  bool stored;
  int status;           // the file's status: a reason code, or kRequestFailed
  const char* problem;  // a part of the problem when not confirmed
};

TEST(DicomWebStow, EachFileTakesWhatTheAnswerSaysOfIt) {
  const std::string dir = testsupport::MakeTempDir("stow");
  const std::vector<std::string> files = {MakeObject(dir, 1), MakeObject(dir, 2)};
  const std::string tokenFile = dir + "/token";
  std::ofstream(tokenFile) << "  secret-token\n";
  DicomWebStub stub;
  ASSERT_TRUE(stub.Started()) << "the DICOMweb stub did not start (python3-pydicom?)";
  struct Case {
    const char* behaviour;
    Expected first, second;
  };
  const Case cases[] = {
      {"ok", {true, 0, ""}, {true, 0, ""}},
      {"partial", {true, 0, ""}, {false, 0xA700, ""}},
      {"warning", {true, 0xB000, ""}, {true, 0xB000, ""}},
      {"toolarge", {false, kRequestFailed, "HTTP 413 Request Entity Too Large"}, {false, kRequestFailed, "HTTP 413"}},
      {"busy", {false, kRequestFailed, "HTTP 503 Service Unavailable"}, {false, kRequestFailed, "HTTP 503"}},
      {"slow", {false, kRequestFailed, "within 1 s"}, {false, kRequestFailed, "within 1 s"}},
      {"away",
       {false, kRequestFailed, "redirected the request to another server (http://localhost:"},
       {false, kRequestFailed, "not followed"}},
      {"moved", {true, 0, ""}, {true, 0, ""}},  // the same server: followed, the body sent again
      {"token", {false, kRequestFailed, "HTTP 401 Unauthorized"}, {false, kRequestFailed, "HTTP 401"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.behaviour);
    std::vector<StoredFile> got;
    const size_t stored =
        StoreFiles(files, Target(stub, c.behaviour, 1), [&](const StoredFile& f) { got.push_back(f); });
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(stored, size_t(c.first.stored) + size_t(c.second.stored));
    for (size_t i = 0; i < 2; ++i) {
      const Expected& e = i == 0 ? c.first : c.second;
      EXPECT_EQ(got[i].index, i);
      EXPECT_EQ(got[i].stored(), e.stored) << got[i].problem;
      EXPECT_EQ(got[i].status, e.status);
      EXPECT_NE(got[i].problem.find(e.problem), std::string::npos) << got[i].problem;
      EXPECT_EQ(got[i].sentAs, got[i].exchanged ? "1.2.840.10008.1.2.1" : "");
    }
  }
  // With the token the same service stores both; the audit trail names the service by its URL.
  AssociationTarget withToken = Target(stub, "token");
  withToken.web.auth = DicomWebSettings::Auth::Token;
  withToken.web.tokenFile = tokenFile;
  EXPECT_EQ(StoreFiles(files, withToken, {}), 2u);
  const std::string audited = audit::LastMessageForTesting();
  EXPECT_NE(audited.find("UserID=\"" + withToken.web.url + "\""), std::string::npos) << audited;
  // One file a request: both requests go, the second over the same connection where kept.
  withToken.web.instancesPerRequest = 1;
  EXPECT_EQ(StoreFiles(files, withToken, {}), 2u);
  testsupport::RemoveTree(dir);
}

// HTTPS checks the server with the TLS settings: refused by the system's authorities, stored with
// the test CA.
TEST(DicomWebStow, HttpsChecksTheServerWithTheTlsSettings) {
  const std::string dir = testsupport::MakeTempDir("stow_https");
  const std::vector<std::string> files = {MakeObject(dir, 3)};
  DicomWebStub stub(true);
  ASSERT_TRUE(stub.Started());
  AssociationTarget target = Target(stub, "ok");
  std::vector<StoredFile> got;
  EXPECT_EQ(StoreFiles(files, target, [&](const StoredFile& f) { got.push_back(f); }), 0u);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_NE(got[0].problem.find("certificate"), std::string::npos) << got[0].problem;
  target.tls.caFile = TlsCertificates::Path("ca.pem");
  EXPECT_EQ(StoreFiles(files, target, {}), 1u);
  testsupport::RemoveTree(dir);
}

TEST(DicomWebStow, SettingsThatCannotBeUsedAreRefusedBeforeSending) {
  const struct {
    const char* url;
    DicomWebSettings::Auth auth;
    const char* problem;
  } cases[] = {
      {"", DicomWebSettings::Auth::None, "no DICOMweb URL is set"},
      {"archive", DicomWebSettings::Auth::None, "is not a URL"},
      {"ftp://127.0.0.1/x", DicomWebSettings::Auth::None, "must begin with https://"},
      {"http://archive.example/dicom-web", DicomWebSettings::Auth::None, "plain http is allowed only to this computer"},
      {"https://me:pw@archive.example/", DicomWebSettings::Auth::None, "holds a user name or password"},
      {"https://archive.example/", DicomWebSettings::Auth::Basic, "needs a user name"},
      {"https://archive.example/", DicomWebSettings::Auth::Token, "the token file /nonexistent/token cannot be read"},
      {"https://archive.example/dicom-web", DicomWebSettings::Auth::None, ""},
      {"http://localhost:8042/dicom-web", DicomWebSettings::Auth::None, ""},
  };
  for (const auto& c : cases) {
    AssociationTarget t;
    t.web.enabled = true;
    t.web.url = c.url;
    t.web.auth = c.auth;
    t.web.tokenFile = "/nonexistent/token";
    const std::string problem = HttpClient(t).SettingsProblem();
    EXPECT_NE(problem.find(c.problem), std::string::npos) << c.url << ": " << problem;
    EXPECT_EQ(problem.empty(), *c.problem == '\0') << c.url << ": " << problem;
  }
}

TEST(DicomJson, TextAttributesBecomeElementsAndBadAnswersAreRefused) {
  std::vector<std::unique_ptr<DcmObj>> objects;
  std::string why;
  ASSERT_TRUE(ReadDicomJson(R"([{"00100010": {"vr": "PN", "Value": [{"Alphabetic": "Δημητρίου^Ελένη",
      "Ideographic": "X"}]}, "00101030": {"vr": "DS", "Value": [71.5]}, "00080061": {"vr": "CS", "Value": ["SR", "OT"]},
      "00280010": {"vr": "US", "Value": [512]}, "00081199": {"vr": "SQ", "Value": [{}]}, "bogus": 1}])",
                            objects, why))
      << why;
  ASSERT_EQ(objects.size(), 1u);
  const DcmObj& o = *objects[0];
  EXPECT_EQ(o.GetString(0x0010, 0x0010), "Δημητρίου^Ελένη=X");
  EXPECT_EQ(o.GetString(0x0010, 0x1030), "71.5");
  EXPECT_EQ(o.GetString(0x0008, 0x0061), "SR\\OT");
  EXPECT_EQ(o.GetString(0x0008, 0x0005), "ISO_IR 192");
  EXPECT_EQ(o.FindTag(0x0028, 0x0010), nullptr);
  EXPECT_EQ(o.FindTag(0x0008, 0x1199), nullptr);
  for (const std::string& bad : {std::string("not json"), std::string("42"), std::string("[1]"),
                                std::string(100000, '[') + std::string(100000, ']')}) {
    objects.clear();
    EXPECT_FALSE(ReadDicomJson(bad, objects, why)) << bad.substr(0, 20);
    EXPECT_FALSE(why.empty());
  }
}

}  // namespace
