#pragma once
// A test CA and certificates signed by it, made once per test program with the openssl command and
// removed when it ends: "server" (for 127.0.0.1), "other" (for another host), "expired", "future"
// (not yet valid), "client"; "rogue" is self-signed, "locked.key" is client.key under a pass phrase.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "core/config.h"
#include "tests/support/peer.h"

namespace testsupport {

class TlsCertificates {
 public:
  // The folder with ca.pem, NAME.pem and NAME.key; made on first use.
  static std::string Path(const std::string& name) { return Get().dir_ + "/" + name; }
  // What a client of a server with the "server" certificate uses: TLS, the test CA, and the
  // "client" certificate.
  static TlsSettings Client() {
    TlsSettings t;
    t.enabled = true;
    t.caFile = Path("ca.pem");
    t.certificateFile = Path("client.pem");
    t.keyFile = Path("client.key");
    return t;
  }

 private:
  static TlsCertificates& Get() {
    static TlsCertificates made;
    return made;
  }
  TlsCertificates() : dir_(MakeTempDir("tlscerts")) {
    std::ofstream(dir_ + "/ca.cnf") << "[ca]\ndefault_ca=tca\n[tca]\ndatabase=index.txt\nserial=serial\n"
                                       "new_certs_dir=.\ndefault_md=sha256\npolicy=any\nunique_subject=no\n"
                                       "copy_extensions=copy\n[any]\ncommonName=supplied\n";
    std::ofstream(dir_ + "/index.txt");
    std::ofstream(dir_ + "/serial") << "1000\n";
    Openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "30",
             "-subj", "/CN=Scrivara Test CA"});
    Signed("server", "IP:127.0.0.1", "", "");
    Signed("other", "DNS:other.example", "", "");
    Signed("expired", "IP:127.0.0.1", "20200101000000Z", "20200201000000Z");
    Signed("future", "IP:127.0.0.1", "20400101000000Z", "20410101000000Z");
    Signed("client", "DNS:client.example", "", "");
    Openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "rogue.key", "-out", "rogue.pem", "-days",
             "30", "-subj", "/CN=rogue"});
    Openssl({"pkey", "-in", "client.key", "-aes256", "-passout", "pass:secret", "-out", "locked.key"});
  }
  ~TlsCertificates() { RemoveTree(dir_); }

  void Openssl(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {FindProgram("openssl")};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out;
    if (Run(argv, &out, dir_) != 0) std::fprintf(stderr, "openssl %s failed:\n%s\n", args[0].c_str(), out.c_str());
  }
  void Signed(const std::string& name, const std::string& san, const std::string& from, const std::string& to) {
    Openssl({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".csr", "-subj",
             "/CN=" + name, "-addext", "subjectAltName=" + san});
    std::vector<std::string> args = {"ca",  "-batch", "-config", "ca.cnf", "-cert", "ca.pem", "-keyfile", "ca.key",
                                      "-in", name + ".csr", "-out", name + ".pem"};
    if (from.empty()) {
      args.insert(args.end(), {"-days", "30"});
    } else {
      args.insert(args.end(), {"-startdate", from, "-enddate", to});
    }
    Openssl(args);
  }

  std::string dir_;
};

}  // namespace testsupport
