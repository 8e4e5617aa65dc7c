#pragma once
// The tests' scripted DICOMweb service (tests/support/dicomweb_stub.py) on a free loopback port;
// over HTTPS with the test certificate for 127.0.0.1 when asked. Stopped by PID when it goes.
#include <string>
#include <vector>

#include "tests/support/peer.h"
#include "tests/support/tls_certificates.h"

namespace testsupport {

struct DicomWebStub {
  int port = FreePort();
  bool https = false;
  Process process;
  // Waits until it listens; false (checked by the caller) when it does not (no python3-pydicom?).
  explicit DicomWebStub(bool overHttps = false) : https(overHttps) {
    std::vector<std::string> argv = {"/usr/bin/python3", SCRIVARA_SOURCE_DIR "/tests/support/dicomweb_stub.py",
                                     std::to_string(port)};
    if (https) argv.insert(argv.end(), {TlsCertificates::Path("server.pem"), TlsCertificates::Path("server.key")});
    process = Process(argv);
  }
  bool Started() const { return WaitForPort(port); }
  // The base URL of one of its behaviours ("ok", "partial", "paged", ...).
  std::string Url(const std::string& behaviour) const {
    return (https ? "https" : "http") + std::string("://127.0.0.1:") + std::to_string(port) + "/" + behaviour;
  }
};

}  // namespace testsupport
