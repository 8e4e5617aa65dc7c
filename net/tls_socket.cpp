#include "net/tls_socket.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include <cerrno>
#include <csignal>
#include <chrono>
#include <climits>

#include "core/audit.h"
#include "core/log.h"
#include "core/strutil.h"

namespace {

// The TLS 1.2 suites every profile allows, by OpenSSL's names: the four BCP 195 recommends
// (TLS_ECDHE_RSA / TLS_DHE_RSA _WITH_AES_128_GCM_SHA256 and _WITH_AES_256_GCM_SHA384) and the
// same with ECDSA certificates.
constexpr const char kGcmSuites[] =
    "ECDHE-RSA-AES128-GCM-SHA256:ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-AES128-GCM-SHA256:"
    "ECDHE-ECDSA-AES256-GCM-SHA384";
constexpr const char kDheSuites[] = "DHE-RSA-AES128-GCM-SHA256:DHE-RSA-AES256-GCM-SHA384";
// The downgrading profile may fall back to TLS_RSA_WITH_AES_128_CBC_SHA for older nodes.
constexpr const char kFallbackSuite[] = "AES128-SHA";
constexpr const char kTls13Suites[] = "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256";
constexpr const char kTls13GcmSuites[] = "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384";

// Pass phrases are never asked for: a key that needs one is refused.
int RefusePassPhrase(char*, int, int, void* asked) {
  *static_cast<bool*>(asked) = true;
  return 0;
}

std::string VerifyText(long result, const std::string& host) {
  switch (result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
      return "the server's certificate has expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return "the server's certificate is not valid yet";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return "the server's certificate is not made out to " + host;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      return std::string("the server's certificate is not from a trusted CA (") +
             X509_verify_cert_error_string(result) + ")";
    default:
      return std::string("the server's certificate was refused (") + X509_verify_cert_error_string(result) + ")";
  }
}

}  // namespace

bool TlsProfileCiphers(const std::string& profile, std::string& tls12, std::string& tls13) {
  if (profile == "bcp195-nd") {
    tls12 = std::string(kGcmSuites) + ":" + kDheSuites;
    tls13 = kTls13Suites;
  } else if (profile == "bcp195") {
    tls12 = std::string(kGcmSuites) + ":" + kDheSuites + ":" + kFallbackSuite;
    tls13 = kTls13Suites;
  } else if (profile == "bcp195-ex") {
    tls12 = kGcmSuites;  // ephemeral elliptic-curve keys only
    tls13 = kTls13GcmSuites;
  } else {
    return false;
  }
  return true;
}

TlsSocket::TlsSocket(TlsSettings settings) : settings_(std::move(settings)) {
  // OpenSSL writes with write(2), which raises SIGPIPE on a connection the peer has closed (plain
  // sends use MSG_NOSIGNAL): the failed write is reported instead of the signal ending the program.
  static const bool ignored = (::signal(SIGPIPE, SIG_IGN), true);
  (void)ignored;
}

TlsSocket::~TlsSocket() { release(); }

void TlsSocket::release() {
  if (ssl_) SSL_free(ssl_);
  if (ctx_) SSL_CTX_free(ctx_);
  ssl_ = nullptr;
  ctx_ = nullptr;
}

namespace {

// The client certificate's callback: the server asked for one and we have none.
int NoClientCertificate(SSL* ssl, X509**, EVP_PKEY**) {
  if (auto* asked = static_cast<bool*>(SSL_get_app_data(ssl))) *asked = true;
  return 0;
}

}  // namespace

bool TlsSocket::Open(const std::string& host, const std::string& port) {
  release();
  failure_.clear();
  broken_ = false;
  certificateAsked_ = false;
  handshakeDone_ = false;
  server_ = host + ":" + port;
  host_ = host;
  auto refuse = [&](const std::string& why) {
    failure_ = "TLS: " + why;
    WriteLog("ERROR, TLS, " + server_ + ": " + why);
    audit::SecurityAlert(audit::Alert::kNodeAuthentication, server_, why);
    ERR_clear_error();
    release();
    return false;
  };
  // The context first: a CA, certificate or key that cannot be used fails before anything is sent.
  std::string tls12, tls13;
  if (!TlsProfileCiphers(settings_.profile, tls12, tls13)) return refuse("unknown security profile " + settings_.profile);
  ctx_ = SSL_CTX_new(TLS_client_method());
  if (!ctx_) return refuse("OpenSSL could not be set up");
  SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
  SSL_CTX_set_max_proto_version(ctx_, TLS1_3_VERSION);
  if (SSL_CTX_set_cipher_list(ctx_, tls12.c_str()) != 1 || SSL_CTX_set_ciphersuites(ctx_, tls13.c_str()) != 1)
    return refuse("the cipher suites of profile " + settings_.profile + " are not available");
  SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
  const bool trusted = settings_.caFile.empty() ? SSL_CTX_set_default_verify_paths(ctx_) == 1
                                                : SSL_CTX_load_verify_locations(ctx_, settings_.caFile.c_str(), nullptr) == 1;
  if (!trusted)
    return refuse(settings_.caFile.empty() ? std::string("the system's trust store cannot be read")
                                           : "the CA file " + settings_.caFile + " cannot be read as PEM certificates");
  if (!settings_.certificateFile.empty()) {
    if (SSL_CTX_use_certificate_chain_file(ctx_, settings_.certificateFile.c_str()) != 1)
      return refuse("the client certificate " + settings_.certificateFile + " cannot be read as PEM");
    bool asked = false;
    SSL_CTX_set_default_passwd_cb(ctx_, RefusePassPhrase);
    SSL_CTX_set_default_passwd_cb_userdata(ctx_, &asked);
    const std::string& key = settings_.keyFile.empty() ? settings_.certificateFile : settings_.keyFile;
    const bool keyRead = SSL_CTX_use_PrivateKey_file(ctx_, key.c_str(), SSL_FILETYPE_PEM) == 1;
    SSL_CTX_set_default_passwd_cb_userdata(ctx_, nullptr);
    if (asked) return refuse("the client key " + key + " is protected by a pass phrase; give a key without one");
    if (!keyRead) return refuse("the client key " + key + " cannot be read as PEM");
    if (SSL_CTX_check_private_key(ctx_) != 1)
      return refuse("the client key " + key + " does not belong to the certificate " + settings_.certificateFile);
  } else {
    SSL_CTX_set_client_cert_cb(ctx_, NoClientCertificate);
  }

  if (!Socket::Open(host, port)) {
    release();
    return false;
  }
  const int flags = ::fcntl(handle_, F_GETFL, 0);
  ::fcntl(handle_, F_SETFL, flags | O_NONBLOCK);
  ssl_ = SSL_new(ctx_);
  if (!ssl_ || SSL_set_fd(ssl_, handle_) != 1) {
    Close();
    return refuse("OpenSSL could not be set up");
  }
  SSL_set_app_data(ssl_, &certificateAsked_);
  if (!IsIpAddress(host)) SSL_set_tlsext_host_name(ssl_, host.c_str());
  if (settings_.checkHostName) {
    const bool set = IsIpAddress(host) ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host.c_str()) == 1
                                     : SSL_set1_host(ssl_, host.c_str()) == 1;
    if (!set) {
      Close();
      return refuse("the host name " + host + " cannot be checked");
    }
    SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
  } else {
    WriteLog("WARNING, TLS, " + server_ + ": the server's certificate is not checked against its host name");
  }

  // The handshake, bounded by the read time-out as a whole.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_ ? timeout_ : 30);
  for (;;) {
    ERR_clear_error();
    const int r = SSL_connect(ssl_);
    if (r == 1) break;
    const int e = SSL_get_error(ssl_, r);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
      if (left > 0 && waitFor(e, static_cast<int>(left)) == 1) continue;
      Close();
      return refuse("no TLS answer within " + std::to_string(timeout_ ? timeout_ : 30) + " s");
    }
    fail();
    Close();
    release();
    return false;
  }
  handshakeDone_ = true;
  if (DebugLevel >= 2) WriteLog("INFO, TLS, " + server_ + ": " + Session());
  return true;
}

std::string TlsSocket::Session() const {
  if (!ssl_) return "";
  return std::string(SSL_get_version(ssl_)) + " " + SSL_CIPHER_standard_name(SSL_get_current_cipher(ssl_));
}

void TlsSocket::fail() {
  broken_ = true;
  const long verify = ssl_ ? SSL_get_verify_result(ssl_) : X509_V_OK;
  unsigned long err = 0;
  for (unsigned long e; (e = ERR_get_error()) != 0;) err = e;  // the last is the most specific
  const int reason = ERR_GET_REASON(err);
  std::string why;
  if (verify != X509_V_OK && reason == SSL_R_CERTIFICATE_VERIFY_FAILED) {
    why = VerifyText(verify, host_);
  } else {
    switch (reason) {
      case SSL_R_WRONG_VERSION_NUMBER:
      case SSL_R_PACKET_LENGTH_TOO_LONG:
      case SSL_R_RECORD_LENGTH_MISMATCH:
      case SSL_R_UNEXPECTED_EOF_WHILE_READING:
        why = "the server does not answer in TLS (is it a port for plain DICOM?)";
        break;
      case SSL_R_UNSUPPORTED_PROTOCOL:
      case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
      case SSL_R_NO_PROTOCOLS_AVAILABLE:
        why = "no TLS version that both sides allow (profile " + settings_.profile + " takes TLS 1.2 and 1.3)";
        break;
      case SSL_R_NO_SHARED_CIPHER:
      case SSL_R_NO_CIPHERS_AVAILABLE:
      case SSL_R_WRONG_CIPHER_RETURNED:
      case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
      case SSL_R_TLSV1_ALERT_INSUFFICIENT_SECURITY:
        if (certificateAsked_ && settings_.certificateFile.empty())
          why = "the server requires a client certificate";
        else
          why = "no cipher suite that both sides allow (profile " + settings_.profile + ")";
        break;
      case SSL_R_TLSV13_ALERT_CERTIFICATE_REQUIRED:
      case SSL_R_SSLV3_ALERT_BAD_CERTIFICATE:
      case SSL_R_SSLV3_ALERT_CERTIFICATE_UNKNOWN:
      case SSL_R_SSLV3_ALERT_CERTIFICATE_EXPIRED:
      case SSL_R_SSLV3_ALERT_UNSUPPORTED_CERTIFICATE:
      case SSL_R_TLSV1_ALERT_UNKNOWN_CA:
      case SSL_R_TLSV1_ALERT_ACCESS_DENIED:
        why = settings_.certificateFile.empty()
                  ? std::string("the server requires a client certificate")
                  : "the server refused our client certificate (" + std::string(ERR_reason_error_string(err)) + ")";
        break;
      default:
        if (err != 0 && ERR_reason_error_string(err))
          why = std::string("TLS failed (") + ERR_reason_error_string(err) + ")";
        else if (!handshakeDone_)  // a TLS server would have said why with an alert
          why = "the server closed the connection during the TLS handshake (is it a port for plain DICOM?)";
        else  // in TLS 1.3 a client certificate is judged after our side of the handshake is done
          why = settings_.certificateFile.empty()
                    ? "the server ended the TLS session (does it require a client certificate?)"
                    : "the server ended the TLS session (does it refuse our client certificate?)";
    }
  }
  failure_ = "TLS: " + why;
  WriteLog("ERROR, TLS, " + server_ + ": " + why);
  audit::SecurityAlert(audit::Alert::kNodeAuthentication, server_, why);
}

long TlsSocket::sendSome(const void* data, size_t count) {
  if (broken_ || !ssl_) {
    errno = EPIPE;
    return -1;
  }
  const int want = count > INT_MAX ? INT_MAX : static_cast<int>(count);
  for (;;) {
    ERR_clear_error();
    const int n = SSL_write(ssl_, data, want);
    if (n > 0) return n;
    const int e = SSL_get_error(ssl_, n);
    if (e == SSL_ERROR_WANT_WRITE || e == SSL_ERROR_WANT_READ) {
      // Waits as a plain send would (its send time-out), not by the reads' deadline.
      const int ready = waitFor(e, timeout_ ? static_cast<int>(timeout_) * 1000 : -1);
      if (ready > 0) continue;
      errno = ready == 0 ? ETIMEDOUT : errno;
      return -1;
    }
    if (ERR_peek_error() == 0) {
      // The peer closed: an alert it sent before (a refused client certificate) says why.
      char alert;
      (void)SSL_read(ssl_, &alert, 1);
    }
    fail();
    errno = EPIPE;
    return -1;
  }
}

long TlsSocket::receiveSome(void* dest, size_t capacity) {
  if (broken_ || !ssl_) return -1;
  const int want = capacity > INT_MAX ? INT_MAX : static_cast<int>(capacity);
  for (;;) {
    ERR_clear_error();
    const int n = SSL_read(ssl_, dest, want);
    if (n > 0) return n;
    const int e = SSL_get_error(ssl_, n);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
      const int ready = waitReady(e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT);
      if (ready == 1) continue;
      return ready == 0 ? -2 : -1;
    }
    if (e == SSL_ERROR_ZERO_RETURN) return 0;  // the peer ended the session in order
    if (ERR_GET_REASON(ERR_peek_last_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING || e == SSL_ERROR_SYSCALL) {
      ERR_clear_error();
      broken_ = true;
      return 0;  // closed without ending the session: a closed connection, as over TCP
    }
    fail();
    return -1;
  }
}

int TlsSocket::waitFor(int sslError, int timeoutMs) {
  pollfd p{handle_, static_cast<short>(sslError == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT), 0};
  int ready;
  do {
    ready = ::poll(&p, 1, timeoutMs);
  } while (ready < 0 && errno == EINTR);
  return ready > 0 ? 1 : ready;
}

bool TlsSocket::hasBuffered() const { return ssl_ && !broken_ && SSL_pending(ssl_) > 0; }

void TlsSocket::sayGoodbye() {
  if (ssl_ && !broken_) {
    ERR_clear_error();
    (void)SSL_shutdown(ssl_);  // our close_notify; the peer's is not awaited
  }
}
