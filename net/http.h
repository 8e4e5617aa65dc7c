#pragma once
// HTTP(S) requests to a DICOMweb service through libcurl: one handle per client, so that requests
// to the same server reuse the connection (HTTP/1.1 keep-alive, HTTP/2 where the server offers it).
// The server is checked with the CA file, client certificate and host-name setting of the target's
// TLS settings; authentication is HTTP basic or a bearer token read from its file at each client.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/audit.h"
#include "net/dimse.h"

// A request body streamed from its source; Rewind starts it again (a redirect sends it anew).
class HttpBody {
 public:
  virtual ~HttpBody() = default;
  virtual uint64_t Size() const = 0;
  virtual bool Rewind() = 0;
  // Up to n bytes into buf; 0 at the end. On a failure: false, with why.
  virtual bool Read(char* buf, size_t n, size_t& got, std::string& why) = 0;
};

struct HttpResponse {
  bool answered = false;      // a complete response came
  long status = 0;            // its HTTP status
  std::string reason;         // its reason phrase ("Payload Too Large"), or the usual one for HTTP/2
  std::string contentType;
  std::vector<std::string> warnings;  // the values of its Warning headers
  std::string body;           // at most the limit the request gave
  std::string problem;        // when not answered: why, in words
  // "HTTP 413 Payload Too Large", or the problem when there was no answer.
  std::string Summary() const;
};

// A secret kept in a file (`what`: "token", "password"): the file's text without surrounding
// blanks, on one line, at most 64 KB; false with why otherwise.
bool ReadSecretFile(const char* what, const std::string& path, std::string& secret, std::string& why);

class HttpClient {
 public:
  // For the DICOMweb service of target.web (base URL, authentication) with target.tls's checks and
  // target.timeoutSeconds as the connect time-out and the longest silence within a request.
  explicit HttpClient(const AssociationTarget& target);
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Why the settings cannot be used ("" when they can): the URL (https, or http to a loopback
  // address; no user name or password in it), the token file, a basic user without a name.
  const std::string& SettingsProblem() const { return settingsProblem_; }

  // `resource` is appended to the base URL ("studies?PatientID=1"). A redirect is followed only to
  // the same scheme, host and port (at most five times); another host is refused. A body larger
  // than maxBody ends the request with a problem.
  HttpResponse Get(const std::string& resource, const std::string& accept, size_t maxBody);
  HttpResponse Post(const std::string& resource, const std::string& contentType, HttpBody& body,
                    const std::string& accept, size_t maxBody);

  // A query parameter's value, percent-encoded.
  static std::string Escape(const std::string& text);
  // The audit trail's node for the service: its URL, host and port.
  audit::Node Node() const;

 private:
  HttpResponse Perform(const std::string& resource, const std::string* contentType, HttpBody* body,
                       const std::string& accept, size_t maxBody);
  struct Handle;
  std::unique_ptr<Handle> handle_;
  AssociationTarget target_;
  std::string base_;  // the base URL ending in "/"
  std::string settingsProblem_;
};
