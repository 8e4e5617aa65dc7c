// DICOM over TLS against DCMTK's storescp (and openssl s_server for what storescp cannot be made to
// do), with a CA and certificates made by the openssl command.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/audit.h"
#include "core/dcmobj.h"
#include "net/dimse.h"
#include "tests/support/log_capture.h"
#include "tests/support/peer.h"
#include "tests/support/small_image.h"
#include "tests/support/tls_certificates.h"

namespace fs = std::filesystem;
using testsupport::Process;

namespace {

const char kSecretName[] = "Relay^Secret";

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

using Certificates = testsupport::TlsCertificates;

// storescp (or another TLS server) on a free port, in a folder of its own.
struct Server {
  explicit Server(std::vector<std::string> argv) : dir(testsupport::MakeTempDir("tlsscp")), port(testsupport::FreePort()) {
    fs::create_directories(dir + "/in");
    for (std::string& a : argv) {
      if (a == "PORT") a = std::to_string(port);
      if (a == "OUT") a = dir + "/in";
      if (a.size() > 5 && a.compare(0, 5, "CERT:") == 0) a = Certificates::Path(a.substr(5));
    }
    argv[0] = testsupport::FindProgram(argv[0]);
    process = Process(argv, dir + "/server.log");
    EXPECT_TRUE(testsupport::WaitForPort(port)) << Slurp(dir + "/server.log");
  }
  ~Server() {
    process.Stop();
    testsupport::RemoveTree(dir);
  }
  // The objects stored so far, waiting a little for `expected` of them (storescp writes in a child).
  size_t Stored(size_t expected) const {
    size_t n = 0;
    for (int i = 0; i < 40; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
      n = 0;
      for (const auto& e : fs::directory_iterator(dir + "/in")) n += e.path().extension() == ".dcm";
      if (n >= expected) break;
    }
    return n;
  }
  std::string dir;
  int port;
  Process process;
};

std::vector<std::string> Storescp(std::vector<std::string> tls) {
  std::vector<std::string> argv = {"storescp", "-aet", "STORESCP", "-od", "OUT", "-fe", ".dcm"};
  argv.insert(argv.end(), tls.begin(), tls.end());
  argv.push_back("PORT");
  return argv;
}

AssociationTarget Target(int port, TlsSettings tls) {
  AssociationTarget t{"SCRIVARA", "STORESCP", "127.0.0.1", std::to_string(port), 10};
  t.tls = std::move(tls);
  return t;
}

TlsSettings Tls(const std::string& cert = "", const std::string& key = "") {
  TlsSettings s;
  s.enabled = true;
  s.caFile = Certificates::Path("ca.pem");
  if (!cert.empty()) s.certificateFile = Certificates::Path(cert);
  if (!key.empty()) s.keyFile = Certificates::Path(key);
  return s;
}

// A small image whose patient name and pixels are easy to look for.
DcmObj Image(const std::string& instance) {
  DcmObj o = testsupport::SmallImage(instance, 64, 7, 3);
  o.SetText(0x0010, 0x0010, kSecretName);
  o.SetText(0x0010, 0x0020, "TLS42");
  o.SetText(0x0020, 0x000D, "1.2.826.0.1.3680043.9.7.2");
  o.SetText(0x0020, 0x000E, "1.2.826.0.1.3680043.9.7.2.1");
  return o;
}

// Stores one image: 0 when the peer stored it, else why not.
std::string Store(const AssociationTarget& target, const std::string& instance) {
  DcmObj o = Image(instance);
  PDU_Service pdu;
  if (!OpenStoreAssociation(pdu, target, "1.2.840.10008.5.1.4.1.1.7", kTsExplicitLE)) return pdu.Problem;
  const int sent = StoreSCU(pdu, o, "1.2.840.10008.5.1.4.1.1.7");
  const int status = sent == 0 ? CStore::ReadRSP(&pdu) : sent;
  pdu.Close();
  return status == 0 ? "" : "status " + std::to_string(status) + " " + pdu.Problem;
}

// A plain TCP relay on a free port that passes one connection on to `to` and keeps what went by.
class Relay {
 public:
  explicit Relay(int to) : port(testsupport::FreePort()) {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    EXPECT_EQ(::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::listen(listen_, 1);
    thread_ = std::thread([this, to] { Pump(to); });
  }
  ~Relay() { Finish(); }
  // Everything that went by, both ways, once the connection has ended.
  const std::string& Finish() {
    if (thread_.joinable()) {
      ::shutdown(listen_, SHUT_RDWR);
      thread_.join();
      ::close(listen_);
    }
    return seen;
  }
  const int port;

 private:
  std::string seen;
  void Pump(int to) {
    const int in = ::accept(listen_, nullptr, nullptr);
    if (in < 0) return;
    const int out = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(to));
    if (::connect(out, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      pollfd p[2] = {{in, POLLIN, 0}, {out, POLLIN, 0}};
      char buf[16384];
      for (bool open = true; open && ::poll(p, 2, 10000) > 0;) {
        for (int i = 0; i < 2 && open; ++i) {
          if (!(p[i].revents & (POLLIN | POLLHUP))) continue;
          const ssize_t n = ::recv(p[i].fd, buf, sizeof buf, 0);
          open = n > 0 && ::send(p[1 - i].fd, buf, static_cast<size_t>(n), MSG_NOSIGNAL) == n;
          if (n > 0) seen.append(buf, static_cast<size_t>(n));
        }
      }
    }
    ::close(out);
    ::close(in);
  }
  int listen_;
  std::thread thread_;
};

}  // namespace

TEST(TlsTest, EchoAndStoreWithAndWithoutClientCertificate) {
  LogCapture log;
  {
    Server scp(Storescp({"+tls", "CERT:server.key", "CERT:server.pem", "+cf", "CERT:ca.pem", "-vc"}));
    std::string why;
    EXPECT_TRUE(EchoSCU(Target(scp.port, Tls()), &why)) << why;
    EXPECT_EQ(Store(Target(scp.port, Tls()), "1.2.826.0.1.3680043.9.7.2.1.1"), "");
    EXPECT_EQ(scp.Stored(1), 1u);
  }
  {
    Server scp(Storescp({"+tls", "CERT:server.key", "CERT:server.pem", "+cf", "CERT:ca.pem", "-rc"}));
    EXPECT_EQ(Store(Target(scp.port, Tls("client.pem", "client.key")), "1.2.826.0.1.3680043.9.7.2.1.2"), "");
    EXPECT_EQ(scp.Stored(1), 1u);
  }
  {  // every profile against storescp's default (non-downgrading) one
    Server scp(Storescp({"+tls", "CERT:server.key", "CERT:server.pem", "-vc"}));
    for (const char* profile : {"bcp195-nd", "bcp195", "bcp195-ex"}) {
      TlsSettings tls = Tls();
      tls.profile = profile;
      std::string why;
      EXPECT_TRUE(EchoSCU(Target(scp.port, tls), &why)) << profile << ": " << why;
    }
  }
  EXPECT_TRUE(log.Problems().empty()) << log.Text();
}

TEST(TlsTest, EachFailureSaysWhatItIsAndNothingIsStored) {
  const std::vector<std::string> plainTls = {"+tls", "CERT:server.key", "CERT:server.pem", "+cf", "CERT:ca.pem", "-vc"};
  struct Case {
    const char* name;
    std::vector<std::string> server;
    TlsSettings tls;
    const char* problem;
  };
  TlsSettings systemStore = Tls(), noTls, locked = Tls("client.pem", "locked.key");
  systemStore.caFile.clear();
  const std::vector<Case> cases = {
      {"unknown CA", Storescp(plainTls), systemStore, "TLS: the server's certificate is not from a trusted CA"},
      {"expired", Storescp({"+tls", "CERT:expired.key", "CERT:expired.pem", "-vc"}), Tls(),
       "TLS: the server's certificate has expired"},
      {"not yet valid", Storescp({"+tls", "CERT:future.key", "CERT:future.pem", "-vc"}), Tls(),
       "TLS: the server's certificate is not valid yet"},
      {"another host", Storescp({"+tls", "CERT:other.key", "CERT:other.pem", "-vc"}), Tls(),
       "TLS: the server's certificate is not made out to 127.0.0.1"},
      {"plain server", Storescp({}), Tls(), "is it a port for plain DICOM?"},
      {"TLS server spoken to in plain", Storescp(plainTls), noTls, "does it take TLS only?"},
      {"no client certificate", Storescp({"+tls", "CERT:server.key", "CERT:server.pem", "+cf", "CERT:ca.pem", "-rc"}),
       Tls(), "TLS: the server requires a client certificate"},
      {"refused client certificate",
       Storescp({"+tls", "CERT:server.key", "CERT:server.pem", "+cf", "CERT:ca.pem", "-rc"}), Tls("rogue.pem", "rogue.key"),
       "TLS: the server refused our client certificate"},
      {"key with a pass phrase", Storescp(plainTls), locked, "is protected by a pass phrase"},
      {"cipher suite", Storescp({"+tls", "CERT:server.key", "CERT:server.pem", "-vc", "+pa"}), Tls(),
       "TLS: no cipher suite that both sides allow"},
      {"protocol version",
       {"openssl", "s_server", "-www", "-accept", "PORT", "-cert", "CERT:server.pem", "-key", "CERT:server.key",
        "-tls1_1", "-cipher", "DEFAULT@SECLEVEL=0"},
       Tls(), "TLS: no TLS version that both sides allow"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    Server server(c.server);
    const std::string why = Store(Target(server.port, c.tls), "1.2.826.0.1.3680043.9.7.2.2.1");
    EXPECT_NE(why.find(c.problem), std::string::npos) << why;
    if (c.tls.enabled) {  // one line names the server and the reason; a security alert in the audit trail
      EXPECT_NE(log.Text().find("ERROR, TLS, 127.0.0.1:" + std::to_string(server.port) + ": "), std::string::npos)
          << log.Text();
      const std::string alert = audit::LastMessageForTesting();
      EXPECT_NE(alert.find("csd-code=\"110126\""), std::string::npos) << alert;
    }
    if (c.server[0] == "storescp") {
      EXPECT_EQ(server.Stored(0), 0u);
    }
  }
}

TEST(TlsTest, ARelayOnTheWaySeesNoneOfTheObject) {
  LogCapture log;
  Server scp(Storescp({"+tls", "CERT:server.key", "CERT:server.pem", "-vc"}));
  Relay relay(scp.port);
  EXPECT_EQ(Store(Target(relay.port, Tls()), "1.2.826.0.1.3680043.9.7.2.3.1"), "");
  const std::string seen = relay.Finish();
  EXPECT_EQ(scp.Stored(1), 1u);
  ASSERT_GT(seen.size(), 64u * 64);
  EXPECT_EQ(seen[0], '\x16');  // a TLS handshake record
  EXPECT_EQ(seen.find(kSecretName), std::string::npos);
  const DcmObj sent = Image("1.2.826.0.1.3680043.9.7.2.3.1");
  const DcmTag* px = sent.FindTag(0x7FE0, 0x0010);
  EXPECT_EQ(seen.find(std::string(reinterpret_cast<const char*>(px->data()), 32)), std::string::npos);
}
