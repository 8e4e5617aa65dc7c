#include "tests/support/peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace testsupport {

int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  int port = ntohs(a.sin_port);
  ::close(fd);
  return port;
}

bool WaitForPort(int port, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

std::string MakeTempDir(const std::string& prefix) {
  std::string tmpl = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
  char* p = ::mkdtemp(tmpl.data());
  return p ? std::string(p) : std::string();
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  if (!path.empty()) std::filesystem::remove_all(path, ec);
}

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string p = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= p.size()) {
    size_t end = p.find(':', start);
    if (end == std::string::npos) end = p.size();
    std::string candidate = p.substr(start, end - start) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

namespace {
pid_t spawn(const std::vector<std::string>& argv, int outFd, const std::string& cwd) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    if (outFd >= 0) {
      ::dup2(outFd, 1);
      ::dup2(outFd, 2);
    }
    int devnull = ::open("/dev/null", O_RDONLY);
    if (devnull >= 0) ::dup2(devnull, 0);
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  return pid;
}
}  // namespace

int Run(const std::vector<std::string>& argv, std::string* output, const std::string& cwd) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
  pid_t pid = spawn(argv, fds[1], cwd);
  ::close(fds[1]);
  if (pid < 0) {
    ::close(fds[0]);
    return -1;
  }
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
    if (output) output->append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Process::Process(const std::vector<std::string>& argv, const std::string& logFile, const std::string& cwd) {
  int fd = -1;
  if (!logFile.empty()) fd = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  pid_ = spawn(argv, fd, cwd);
  if (fd >= 0) ::close(fd);
}

Process::~Process() { Stop(); }

Process::Process(Process&& o) noexcept : pid_(o.pid_) { o.pid_ = -1; }

Process& Process::operator=(Process&& o) noexcept {
  if (this != &o) {
    Stop();
    pid_ = o.pid_;
    o.pid_ = -1;
  }
  return *this;
}

bool Process::Running() const {
  if (pid_ <= 0) return false;
  int status;
  return ::waitpid(pid_, &status, WNOHANG) == 0;
}

void Process::Stop(int graceMs) {
  if (pid_ <= 0) return;
  ::kill(-pid_, SIGTERM);
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
  int status;
  while (std::chrono::steady_clock::now() < end) {
    if (::waitpid(pid_, &status, WNOHANG) != 0) {
      ::kill(-pid_, SIGKILL);  // forked children of the peer (storescp --fork)
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(-pid_, SIGKILL);
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

}  // namespace testsupport
