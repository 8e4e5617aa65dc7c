#pragma once
// DICOM over TLS: the same client connection as Socket, with the bytes carried in TLS (OpenSSL).
// The PDU code above it is the same; only sending and receiving go through the TLS session. Reads
// wait as on plain TCP (the read time-out, or the armed deadline), the handshake included.
#include <memory>
#include <string>

#include "core/config.h"
#include "net/socket.h"

struct ssl_st;
struct ssl_ctx_st;

// The OpenSSL cipher lists of a profile: TLS 1.2 suites and TLS 1.3 suites; false for an unknown
// profile name.
bool TlsProfileCiphers(const std::string& profile, std::string& tls12, std::string& tls13);

class TlsSocket : public Socket {
 public:
  explicit TlsSocket(TlsSettings settings);
  ~TlsSocket() override;

  // Connects over TCP, then makes the TLS session: the server's certificate checked against the
  // CA file (or the system's trust store) and, unless switched off, against the host name or
  // address. False with Failure() saying why, and one log line naming the server.
  bool Open(const std::string& host, const std::string& port) override;
  // The negotiated protocol and cipher suite, e.g. "TLSv1.3 TLS_AES_256_GCM_SHA384"; "" before.
  std::string Session() const;

 protected:
  long sendSome(const void* data, size_t count) override;
  long receiveSome(void* dest, size_t capacity) override;
  bool hasBuffered() const override;
  void sayGoodbye() override;

 private:
  // Failure() from the TLS error queue and the verification result, with one log line; the
  // session is broken from then on.
  void fail();
  void release();
  // Waits up to timeoutMs (-1: no limit) for what OpenSSL asked for (SSL_ERROR_WANT_READ or
  // _WANT_WRITE): 1 ready, 0 time-out, -1 error.
  int waitFor(int sslError, int timeoutMs);

  TlsSettings settings_;
  std::string server_;  // host:port, for the messages
  std::string host_;
  ssl_ctx_st* ctx_ = nullptr;
  ssl_st* ssl_ = nullptr;
  bool broken_ = false;  // a TLS error ended the session: nothing more is read or written
  bool certificateAsked_ = false;  // the server asked for a client certificate we do not have
  bool handshakeDone_ = false;
};
