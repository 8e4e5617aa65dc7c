#pragma once
// Test support: start real peers (DCMTK tools, Orthanc) on free loopback ports and stop them.
#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

// A free TCP port on 127.0.0.1 (bound and released; good enough for a test's lifetime).
int FreePort();
// True once something accepts TCP connections on 127.0.0.1:port, waiting at most timeoutMs.
bool WaitForPort(int port, int timeoutMs = 10000);
// A fresh empty folder under the system temp dir, removed by the caller with RemoveTree.
std::string MakeTempDir(const std::string& prefix);
void RemoveTree(const std::string& path);
// Full path of a program on PATH, or "" (tests skip when a peer is not installed).
std::string FindProgram(const std::string& name);

// Runs a command to completion; returns its exit status (-1 when it could not start) and
// collects stdout+stderr into *output when given.
int Run(const std::vector<std::string>& argv, std::string* output = nullptr, const std::string& cwd = "");

// A peer process running in its own process group; stopped (SIGTERM, then SIGKILL) on destruction.
class Process {
 public:
  Process() = default;
  Process(const std::vector<std::string>& argv, const std::string& logFile = "", const std::string& cwd = "");
  ~Process();
  Process(Process&& o) noexcept;
  Process& operator=(Process&& o) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  bool Running() const;
  void Stop(int graceMs = 3000);
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

}  // namespace testsupport
