#include "core/log.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "core/fileutil.h"

int DebugLevel = 0;
std::atomic<bool> LogBusy{false};

namespace {

std::mutex g_stateMutex;  // guards the three texts against a writer on another thread
std::optional<std::string> g_path, g_relayTitle, g_relayClass;
LogSink g_sink;
std::atomic<std::thread::id> g_busyOwner{};

void relay(const std::string& name, const std::string& message) {
  const std::string path = RelaySocketPath(name);
  if (path.empty()) return;
  sockaddr_un addr{};
  if (path.size() >= sizeof(addr.sun_path)) return;
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  timeval tv{0, 500000};  // a viewer that does not answer holds us at most 500 ms
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.data(), path.size());

  std::vector<unsigned char> dgram;
  uint32_t cb = static_cast<uint32_t>(message.size() + 1);
  dgram.reserve(12 + cb);
  for (int i = 0; i < 8; ++i) dgram.push_back(static_cast<unsigned char>((kLogRelayData >> (8 * i)) & 0xFF));
  for (int i = 0; i < 4; ++i) dgram.push_back(static_cast<unsigned char>((cb >> (8 * i)) & 0xFF));
  dgram.insert(dgram.end(), message.begin(), message.end());
  dgram.push_back(0);
  // No receiver is normal: the send fails (no such file, or refused) and nothing is relayed.
  (void)::sendto(fd, dgram.data(), dgram.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr),
                 static_cast<socklen_t>(sizeof addr));
  ::close(fd);
}

}  // namespace

std::string RelaySocketPath(const std::string& title) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || runtime[0] != '/' || title.empty() || title.find('/') != std::string::npos ||
      title == "." || title == "..")
    return std::string();
  return std::string(runtime) + "/" + title + "/log-relay";
}

bool ParseRelayDatagram(const unsigned char* data, size_t size, std::string& text) {
  if (size < 13) return false;
  unsigned long long dw = 0;
  uint32_t cb = 0;
  for (int i = 0; i < 8; ++i) dw |= static_cast<unsigned long long>(data[i]) << (8 * i);
  for (int i = 0; i < 4; ++i) cb |= static_cast<uint32_t>(data[8 + i]) << (8 * i);
  if (dw != kLogRelayData || cb == 0 || size != 12 + size_t(cb) || data[size - 1] != 0) return false;
  text.assign(reinterpret_cast<const char*>(data + 12), cb - 1);
  return true;
}

void InitLog(const std::string& path, const std::string& relayTitle, const std::string& relayClass) {
  std::lock_guard<std::mutex> lock(g_stateMutex);
  if (!path.empty()) g_path = path;
  if (!relayTitle.empty()) g_relayTitle = relayTitle;
  if (!relayClass.empty()) g_relayClass = relayClass;
}

void SetLogSink(LogSink sink) {
  std::lock_guard<std::mutex> lock(g_stateMutex);
  g_sink = std::move(sink);
}

void CloseLog() {
  std::lock_guard<std::mutex> lock(g_stateMutex);
  g_path.reset();
  g_relayTitle.reset();
  g_relayClass.reset();
}

std::string LogPath() {
  std::lock_guard<std::mutex> lock(g_stateMutex);
  return g_path.value_or("");
}

namespace {

// Holds LogBusy for one WriteLog call and gives it back however the call ends. A nested call from
// the thread that already holds it (a callback run while the relay is under way) must not wait for
// itself; writers on other threads poll every 100 ms.
class BusyGuard {
 public:
  BusyGuard() {
    const auto self = std::this_thread::get_id();
    nested_ = LogBusy.load() && g_busyOwner.load() == self;
    if (nested_) return;
    bool expected = false;
    while (!LogBusy.compare_exchange_weak(expected, true)) {
      expected = false;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    g_busyOwner.store(self);
  }
  ~BusyGuard() {
    if (nested_) return;
    g_busyOwner.store(std::thread::id{});
    LogBusy.store(false);
  }
  BusyGuard(const BusyGuard&) = delete;
  BusyGuard& operator=(const BusyGuard&) = delete;

 private:
  bool nested_ = false;
};

}  // namespace

namespace {
thread_local std::string t_firstError;
}  // namespace

void ClearLoggedError() { t_firstError.clear(); }
std::string LoggedError() { return t_firstError; }

void WriteLog(const std::string& message) {
  BusyGuard busy;
  if (t_firstError.empty() && message.rfind("ERROR, ", 0) == 0) t_firstError = message.substr(7);
  std::optional<std::string> path, title, cls;
  LogSink sink;
  {
    std::lock_guard<std::mutex> lock(g_stateMutex);
    path = g_path;
    title = g_relayTitle;
    cls = g_relayClass;
    sink = g_sink;
  }
  if (sink) sink(message);
  // Binary append: the line break is written as CR LF explicitly, as the log always had it.
  FILE* f = path ? OpenPrivateAppend(*path) : nullptr;
  if (!f) return;  // no path, folder missing: nothing is written and nothing is relayed
  std::time_t now = std::time(nullptr);
  std::tm tmv{};
  localtime_r(&now, &tmv);
  char stamp[16];
  std::strftime(stamp, sizeof stamp, "%H:%M:%S", &tmv);
  std::string line = std::string(stamp) + ", " + message + "\r\n";
  std::fwrite(line.data(), 1, line.size(), f);
  std::fclose(f);

  // The relay endpoint is named after the title (or, without one, the class).
  if (title || cls) relay(title ? *title : *cls, message);
}
