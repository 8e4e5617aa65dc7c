#pragma once
// Points the diagnostic log at a fresh file for one test and reads back what was written.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/log.h"
#include "tests/support/peer.h"

class LogCapture {
 public:
  explicit LogCapture(int debugLevel = 0) : dir_(testsupport::MakeTempDir("netlog")), oldLevel_(DebugLevel) {
    path_ = dir_ + "/test.log";
    InitLog(path_, "", "");
    DebugLevel = debugLevel;
  }
  ~LogCapture() {
    DebugLevel = oldLevel_;
    testsupport::RemoveTree(dir_);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string Text() const {
    std::ifstream f(path_, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  // The messages (time stamp and ", " removed) of the lines written through WriteLog.
  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    std::string text = Text();
    size_t at = 0;
    while (at < text.size()) {
      size_t end = text.find("\r\n", at);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(at, end - at);
      if (line.size() >= 10 && line[2] == ':' && line[5] == ':' && line.compare(8, 2, ", ") == 0)
        out.push_back(line.substr(10));
      at = end + 2;
    }
    return out;
  }
  bool Has(const std::string& message) const {
    for (const auto& m : Messages())
      if (m == message) return true;
    return false;
  }
  bool HasPrefix(const std::string& prefix) const {
    for (const auto& m : Messages())
      if (m.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
  }
  // Lines that begin with "ERROR" or "WARNING".
  std::vector<std::string> Problems() const {
    std::vector<std::string> out;
    for (const auto& m : Messages())
      if (m.rfind("ERROR", 0) == 0 || m.rfind("WARNING", 0) == 0) out.push_back(m);
    return out;
  }
  const std::string& Path() const { return path_; }

 private:
  std::string dir_, path_;
  int oldLevel_;
};
