#pragma once
// Orthanc for the interop tests: on free loopback ports, in a folder of its own, with its worklist
// plugin reading Worklists(); stopped by PID when it goes.
#include <unistd.h>

#include <fstream>
#include <string>

#include "tests/support/peer.h"
#include "tests/support/tls_certificates.h"

namespace testsupport {

// A temporary folder, removed with what it holds.
struct TempDir {
  std::string path;
  explicit TempDir(const std::string& prefix) : path(MakeTempDir(prefix)) {}
  ~TempDir() { RemoveTree(path); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
};

struct Orthanc {
  TempDir dir{"scrivara_orthanc"};
  int port = FreePort();
  int httpPort = FreePort();
  std::string encoding;  // "DefaultEncoding" when set (Orthanc's own default is Latin1)
  std::string settings;  // more lines of its configuration ("\"Key\": value,\n" each)
  bool dicomWeb = false;
  std::string webUser, webPassword;
  Process process;

  Orthanc() { Run({"mkdir", "-p", dir.path + "/db", Worklists()}); }
  ~Orthanc() { process.Stop(0); }  // its own shutdown takes seconds; the folder goes anyway
  std::string Worklists() const { return dir.path + "/worklists"; }
  // Before Start: DICOM over TLS only, with the test certificates; clients must show one of the
  // test CA's certificates when `clientCertificateRequired`.
  void UseTls(bool clientCertificateRequired) {
    settings += "  \"DicomTlsEnabled\": true,\n  \"DicomTlsCertificate\": \"" + TlsCertificates::Path("server.pem") +
                "\",\n  \"DicomTlsPrivateKey\": \"" + TlsCertificates::Path("server.key") +
                "\",\n  \"DicomTlsTrustedCertificates\": \"" + TlsCertificates::Path("ca.pem") +
                "\",\n  \"DicomTlsRemoteCertificateRequired\": " + (clientCertificateRequired ? "true" : "false") +
                ",\n";
  }

  // Before Start: its DICOMweb plugin at WebUrl(); with a user, HTTP basic authentication for that
  // user on the whole HTTP side.
  void UseDicomWeb(const std::string& user = "", const std::string& password = "") {
    dicomWeb = true;
    webUser = user;
    webPassword = password;
    if (!user.empty())
      settings += "  \"AuthenticationEnabled\": true,\n  \"RegisteredUsers\": {\"" + user + "\": \"" + password + "\"},\n";
  }
  std::string WebUrl() const { return "http://127.0.0.1:" + std::to_string(httpPort) + "/dicom-web"; }

  // False when Orthanc is not installed or does not listen within 30 s.
  bool Start() {
    std::string program = FindProgram("Orthanc");
    if (program.empty() && ::access("/usr/sbin/Orthanc", X_OK) == 0) program = "/usr/sbin/Orthanc";
    if (program.empty()) return false;
    const std::string cfg = dir.path + "/orthanc.json";
    std::ofstream(cfg) << "{\n"
                          "  \"Name\": \"scrivara-test\",\n"
                          "  \"StorageDirectory\": \"" + dir.path + "/db\",\n"
                          "  \"IndexDirectory\": \"" + dir.path + "/db\",\n"
                          "  \"HttpPort\": " + std::to_string(httpPort) + ",\n"
                          "  \"DicomPort\": " + std::to_string(port) + ",\n"
                          "  \"DicomAet\": \"ORTHANC\",\n" +
                              (encoding.empty() ? std::string() : "  \"DefaultEncoding\": \"" + encoding + "\",\n") +
                              settings +
                              "  \"RemoteAccessAllowed\": false,\n"
                              "  \"DicomCheckCalledAet\": false,\n"
                              "  \"DicomAlwaysAllowFind\": true,\n"
                              "  \"DicomAlwaysAllowFindWorklist\": true,\n"
                              "  \"DicomAlwaysAllowStore\": true,\n"
                              "  \"UnknownSopClassAccepted\": true,\n"
                              "  \"Plugins\": [\"/usr/share/orthanc/plugins/libModalityWorklists.so\"" +
                              (dicomWeb ? ", \"/usr/share/orthanc/plugins/libOrthancDicomWeb.so\"" : "") + "],\n"
                              "  \"Worklists\": {\"Enable\": true, \"Database\": \"" + Worklists() + "\"}\n"
                              "}\n";
    process = Process({program, cfg}, dir.path + "/orthanc.log");
    return WaitForPort(port, 30000) && WaitForPort(httpPort, 30000);
  }

  // GET (or POST the body) on its REST API; the answer's body.
  std::string Rest(const std::string& path, const std::string& post = "") const {
    std::vector<std::string> argv = {"curl", "-s", "http://127.0.0.1:" + std::to_string(httpPort) + path};
    if (!webUser.empty()) argv.insert(argv.end(), {"-u", webUser + ":" + webPassword});
    if (!post.empty()) argv.insert(argv.end(), {"-X", "POST", "--data-binary", post});
    std::string out;
    Run(argv, &out);
    return out;
  }
};

}  // namespace testsupport
