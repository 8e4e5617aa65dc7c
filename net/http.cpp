#include "net/http.h"

// Calls go through the table below, not the header's type-checking macros.
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <cstring>

#include "core/fileutil.h"
#include "core/lazylib.h"
#include "core/log.h"
#include "core/strutil.h"
#include "net/tls_socket.h"

namespace {

constexpr int kMaxRedirects = 5;
constexpr off_t kMaxSecretFile = 64 * 1024;

// libcurl's functions, from the library opened on first use (most runs of the command line never
// speak HTTP and should not pay for loading it and its dependencies).
struct CurlApi {
  decltype(&::curl_global_init) global_init = nullptr;
  decltype(&::curl_easy_init) easy_init = nullptr;
  decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
  decltype(&::curl_easy_reset) easy_reset = nullptr;
  decltype(&::curl_easy_setopt) easy_setopt = nullptr;
  decltype(&::curl_easy_perform) easy_perform = nullptr;
  decltype(&::curl_easy_getinfo) easy_getinfo = nullptr;
  decltype(&::curl_easy_strerror) easy_strerror = nullptr;
  decltype(&::curl_slist_append) slist_append = nullptr;
  decltype(&::curl_slist_free_all) slist_free_all = nullptr;
  decltype(&::curl_free) free = nullptr;
  decltype(&::curl_url) url = nullptr;
  decltype(&::curl_url_set) url_set = nullptr;
  decltype(&::curl_url_get) url_get = nullptr;
  decltype(&::curl_url_cleanup) url_cleanup = nullptr;
};

// The table, or null with why when the library cannot be loaded.
const CurlApi* Curl(std::string* why = nullptr) {
  static LazyLibrary library("libcurl.so.4");
  static CurlApi api;
  static const bool bound = [] {
    const bool all = library.Bind(api.global_init, "curl_global_init") &&
                     library.Bind(api.easy_init, "curl_easy_init") &&
                     library.Bind(api.easy_cleanup, "curl_easy_cleanup") &&
                     library.Bind(api.easy_reset, "curl_easy_reset") &&
                     library.Bind(api.easy_setopt, "curl_easy_setopt") &&
                     library.Bind(api.easy_perform, "curl_easy_perform") &&
                     library.Bind(api.easy_getinfo, "curl_easy_getinfo") &&
                     library.Bind(api.easy_strerror, "curl_easy_strerror") &&
                     library.Bind(api.slist_append, "curl_slist_append") &&
                     library.Bind(api.slist_free_all, "curl_slist_free_all") && library.Bind(api.free, "curl_free") &&
                     library.Bind(api.url, "curl_url") && library.Bind(api.url_set, "curl_url_set") &&
                     library.Bind(api.url_get, "curl_url_get") && library.Bind(api.url_cleanup, "curl_url_cleanup");
    if (all) {
      api.global_init(CURL_GLOBAL_DEFAULT);
      // A server that closes while we write would otherwise end the program with SIGPIPE.
      ::signal(SIGPIPE, SIG_IGN);
    }
    return all;
  }();
  if (!bound && why) *why = "the HTTP library: " + library.Problem();
  return bound ? &api : nullptr;
}

struct UrlParts {
  std::string scheme, host, port, user, password, path;
};

// Splits a URL with libcurl's parser; false when it is not one.
bool SplitUrl(const std::string& url, UrlParts& parts) {
  const CurlApi* c = Curl();
  if (!c) return false;
  CURLU* u = c->url();
  if (!u) return false;
  bool ok = c->url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK;
  auto get = [&](CURLUPart part, std::string& out, unsigned flags) {
    char* text = nullptr;
    if (c->url_get(u, part, &text, flags) == CURLUE_OK && text) out = text;
    c->free(text);
  };
  if (ok) {
    get(CURLUPART_SCHEME, parts.scheme, 0);
    get(CURLUPART_HOST, parts.host, 0);
    get(CURLUPART_PORT, parts.port, CURLU_DEFAULT_PORT);
    get(CURLUPART_USER, parts.user, 0);
    get(CURLUPART_PASSWORD, parts.password, 0);
    get(CURLUPART_PATH, parts.path, 0);
  }
  c->url_cleanup(u);
  return ok;
}

bool IsLoopbackHost(const std::string& host) {
  return host == "localhost" || host == "[::1]" || host == "::1" || host.rfind("127.", 0) == 0;
}

// The usual phrase of a status, for HTTP/2 answers (which carry none).
const char* UsualReason(long status) {
  switch (status) {
    case 200: return "OK";
    case 202: return "Accepted";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 409: return "Conflict";
    case 413: return "Payload Too Large";
    case 415: return "Unsupported Media Type";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "";
  }
}

bool IsTlsFailure(CURLcode code) {
  return code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_CONNECT_ERROR || code == CURLE_SSL_CERTPROBLEM ||
         code == CURLE_SSL_CACERT_BADFILE || code == CURLE_SSL_CIPHER || code == CURLE_SSL_ISSUER_ERROR;
}

struct Transfer {
  HttpResponse* response;
  HttpBody* body;
  size_t maxBody;
  uint32_t timeoutSeconds;
  std::string bodyProblem;
  bool tooLarge = false;
  bool stalled = false;
  curl_off_t moved = -1;  // bytes sent and received at the last change
  std::chrono::steady_clock::time_point since = std::chrono::steady_clock::now();
};

// Ends a request once nothing has moved either way for the time-out: the server has stopped
// reading or has not answered.
int OnProgress(void* user, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal, curl_off_t ulNow) {
  (void)dlTotal;
  (void)ulTotal;
  auto& t = *static_cast<Transfer*>(user);
  const auto now = std::chrono::steady_clock::now();
  if (dlNow + ulNow != t.moved) {
    t.moved = dlNow + ulNow;
    t.since = now;
    return 0;
  }
  t.stalled = now - t.since > std::chrono::seconds(t.timeoutSeconds);
  return t.stalled ? 1 : 0;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  const std::string line = Trim(std::string(data, size * count));
  if (line.rfind("HTTP/", 0) == 0) {  // a new status line (after a 100 Continue, or the final one)
    const size_t sp = line.find(' ');
    const size_t sp2 = sp == std::string::npos ? sp : line.find(' ', sp + 1);
    t.response->reason = sp2 == std::string::npos ? std::string() : Trim(line.substr(sp2 + 1));
    t.response->warnings.clear();
    t.response->contentType.clear();
    return size * count;
  }
  const size_t colon = line.find(':');
  if (colon != std::string::npos) {
    std::string name = line.substr(0, colon);
    for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
    const std::string value = Trim(line.substr(colon + 1));
    if (name == "content-type") t.response->contentType = value;
    if (name == "warning") t.response->warnings.push_back(value);
  }
  return size * count;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  const size_t n = size * count;
  if (t.response->body.size() + n > t.maxBody) {
    t.tooLarge = true;
    return 0;  // ends the transfer
  }
  t.response->body.append(data, n);
  return n;
}

size_t OnRead(char* buffer, size_t size, size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  size_t got = 0;
  if (!t.body->Read(buffer, size * count, got, t.bodyProblem)) return CURL_READFUNC_ABORT;
  return got;
}

int OnSeek(void* user, curl_off_t offset, int origin) {
  auto& t = *static_cast<Transfer*>(user);
  return offset == 0 && origin == SEEK_SET && t.body->Rewind() ? CURL_SEEKFUNC_OK : CURL_SEEKFUNC_FAIL;
}

}  // namespace

bool ReadSecretFile(const char* what, const std::string& path, std::string& token, std::string& why) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    why = std::string("the ") + what + " file " + path + " cannot be read";
    return false;
  }
  if (st.st_size > kMaxSecretFile) {
    why = std::string("the ") + what + " file " + path + " is larger than 64 KB";
    return false;
  }
  std::string bytes;
  if (!ReadWholeFile(path, bytes, what)) {
    why = std::string("the ") + what + " file " + path + " cannot be read";
    return false;
  }
  token = Trim(bytes);
  if (token.empty() || token.find_first_of("\r\n") != std::string::npos) {
    why = std::string("the ") + what + " file " + path + " does not hold a " + what + " on one line";
    return false;
  }
  return true;
}

std::string HttpResponse::Summary() const {
  if (!answered) return problem;
  std::string text = "HTTP " + std::to_string(status);
  if (!reason.empty()) text += " " + reason;
  return text;
}

struct HttpClient::Handle {
  CURL* curl = nullptr;
  std::string token, password;
  ~Handle() {
    if (curl) Curl()->easy_cleanup(curl);
  }
};

HttpClient::HttpClient(const AssociationTarget& target) : handle_(std::make_unique<Handle>()), target_(target) {
  const DicomWebSettings& web = target_.web;
  base_ = web.url;
  if (!base_.empty() && base_.back() != '/') base_ += '/';
  UrlParts url;
  if (!Curl(&settingsProblem_)) {
    // the library is missing: said as it is
  } else if (web.url.empty()) {
    settingsProblem_ = "no DICOMweb URL is set";
  } else if (!SplitUrl(web.url, url) || url.host.empty()) {
    settingsProblem_ = "\"" + web.url + "\" is not a URL";
  } else if (url.scheme != "https" && url.scheme != "http") {
    settingsProblem_ = "the DICOMweb URL must begin with https://";
  } else if (url.scheme == "http" && !IsLoopbackHost(url.host)) {
    settingsProblem_ = "plain http is allowed only to this computer (127.0.0.1); use https:// for " + url.host;
  } else if (!url.user.empty() || !url.password.empty()) {
    settingsProblem_ = "the DICOMweb URL holds a user name or password; give them in the authentication settings";
  } else if (web.auth == DicomWebSettings::Auth::Basic && web.user.empty()) {
    settingsProblem_ = "HTTP basic authentication needs a user name";
  } else if (web.auth == DicomWebSettings::Auth::Token) {
    ReadSecretFile("token", web.tokenFile, handle_->token, settingsProblem_);
  } else if (web.auth == DicomWebSettings::Auth::Basic) {
    handle_->password = web.password;
    if (!web.passwordFile.empty()) ReadSecretFile("password", web.passwordFile, handle_->password, settingsProblem_);
  }
  if (settingsProblem_.empty()) {
    handle_->curl = Curl()->easy_init();
    if (!handle_->curl) settingsProblem_ = "the HTTP library could not start";
  }
  if (!settingsProblem_.empty()) WriteLog("ERROR, DICOMweb, " + settingsProblem_);
}

HttpClient::~HttpClient() = default;

std::string HttpClient::Escape(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                            c == '.' || c == '_' || c == '~';
    if (unreserved) {
      out += char(c);
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

audit::Node HttpClient::Node() const {
  UrlParts url;
  SplitUrl(target_.web.url, url);
  return audit::Node{target_.web.url, url.host, url.port};
}

HttpResponse HttpClient::Get(const std::string& resource, const std::string& accept, size_t maxBody) {
  return Perform(resource, nullptr, nullptr, accept, maxBody);
}

HttpResponse HttpClient::Post(const std::string& resource, const std::string& contentType, HttpBody& body,
                              const std::string& accept, size_t maxBody) {
  return Perform(resource, &contentType, &body, accept, maxBody);
}

HttpResponse HttpClient::Perform(const std::string& resource, const std::string* contentType, HttpBody* body,
                                 const std::string& accept, size_t maxBody) {
  HttpResponse response;
  if (!settingsProblem_.empty()) {
    response.problem = settingsProblem_;
    return response;
  }
  CURL* curl = handle_->curl;
  const CurlApi& c = *Curl();
  const TlsSettings& tls = target_.tls;
  const DicomWebSettings& web = target_.web;
  std::string url = base_ + resource;
  UrlParts first;
  SplitUrl(url, first);
  const std::string where = first.host + ":" + first.port;
  if (first.scheme == "https" && !tls.checkHostName)
    WriteLog("WARNING, DICOMweb, " + where + ": the server's certificate is not checked against the host name");
  for (int hop = 0;; ++hop) {
    response = HttpResponse{};
    Transfer t{&response, body, maxBody, target_.timeoutSeconds, {}};
    if (body && !body->Rewind()) {
      response.problem = "the request body cannot be started";
      return response;
    }
    c.easy_reset(curl);
    char error[CURL_ERROR_SIZE] = "";
    curl_slist* headers = nullptr;
    headers = c.slist_append(headers, ("Accept: " + accept).c_str());
    if (contentType) headers = c.slist_append(headers, ("Content-Type: " + *contentType).c_str());
    c.easy_setopt(curl, CURLOPT_URL, url.c_str());
    c.easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    c.easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    c.easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    c.easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    c.easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    c.easy_setopt(curl, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_2TLS));
    c.easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, long(target_.timeoutSeconds));
    c.easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    c.easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    c.easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
    c.easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    c.easy_setopt(curl, CURLOPT_HEADERDATA, &t);
    c.easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
    c.easy_setopt(curl, CURLOPT_WRITEDATA, &t);
    if (body) {
      c.easy_setopt(curl, CURLOPT_POST, 1L);
      c.easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body->Size()));
      c.easy_setopt(curl, CURLOPT_READFUNCTION, OnRead);
      c.easy_setopt(curl, CURLOPT_READDATA, &t);
      c.easy_setopt(curl, CURLOPT_SEEKFUNCTION, OnSeek);
      c.easy_setopt(curl, CURLOPT_SEEKDATA, &t);
    }
    c.easy_setopt(curl, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2));
    if (std::string tls12, tls13; TlsProfileCiphers(tls.profile, tls12, tls13)) {
      c.easy_setopt(curl, CURLOPT_SSL_CIPHER_LIST, tls12.c_str());
      c.easy_setopt(curl, CURLOPT_TLS13_CIPHERS, tls13.c_str());
    }
    if (!tls.caFile.empty()) c.easy_setopt(curl, CURLOPT_CAINFO, tls.caFile.c_str());
    if (!tls.certificateFile.empty()) c.easy_setopt(curl, CURLOPT_SSLCERT, tls.certificateFile.c_str());
    if (!tls.keyFile.empty()) c.easy_setopt(curl, CURLOPT_SSLKEY, tls.keyFile.c_str());
    c.easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    c.easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, tls.checkHostName ? 2L : 0L);
    if (web.auth == DicomWebSettings::Auth::Basic) {
      c.easy_setopt(curl, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
      c.easy_setopt(curl, CURLOPT_USERNAME, web.user.c_str());
      c.easy_setopt(curl, CURLOPT_PASSWORD, handle_->password.c_str());
    } else if (web.auth == DicomWebSettings::Auth::Token) {
      c.easy_setopt(curl, CURLOPT_HTTPAUTH, long(CURLAUTH_BEARER));
      c.easy_setopt(curl, CURLOPT_XOAUTH2_BEARER, handle_->token.c_str());
    }
    const CURLcode code = c.easy_perform(curl);
    c.slist_free_all(headers);
    if (code != CURLE_OK) {
      if (t.tooLarge)
        response.problem = "the answer of " + where + " is larger than " + std::to_string(maxBody >> 20) + " MB";
      else if (!t.bodyProblem.empty())
        response.problem = t.bodyProblem;
      else if (t.stalled || code == CURLE_OPERATION_TIMEDOUT)
        response.problem = "no answer from " + where + " within " + std::to_string(target_.timeoutSeconds) + " s";
      else
        response.problem = where + ": " + (error[0] ? error : c.easy_strerror(code));
      if (IsTlsFailure(code)) audit::SecurityAlert(audit::Alert::kNodeAuthentication, where, response.problem);
      WriteLog("ERROR, DICOMweb, " + response.problem);
      return response;
    }
    c.easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
    if (response.reason.empty()) response.reason = UsualReason(response.status);
    response.answered = true;
    char* location = nullptr;
    if (response.status >= 300 && response.status < 400 &&
        c.easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location) == CURLE_OK && location) {
      UrlParts next;
      const std::string target = location;
      if (!SplitUrl(target, next) || next.scheme != first.scheme || next.host != first.host || next.port != first.port) {
        response.answered = false;
        response.problem = where + " redirected the request to another server (" + next.scheme + "://" + next.host +
                           ":" + next.port + "); not followed";
      } else if (hop + 1 >= kMaxRedirects) {
        response.answered = false;
        response.problem = where + " redirected the request more than " + std::to_string(kMaxRedirects) + " times";
      } else {
        url = target;
        continue;
      }
      WriteLog("ERROR, DICOMweb, " + response.problem);
      return response;
    }
    if (response.status >= 400)
      WriteLog("ERROR, DICOMweb, " + where + first.path + ": " + response.Summary());
    return response;
  }
}
