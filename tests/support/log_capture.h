#pragma once
// Collects what the diagnostic log is given while it lives (a sink on WriteLog; no file).
#include <mutex>
#include <string>
#include <vector>

#include "core/log.h"

class LogCapture {
 public:
  // debugLevel: the DebugLevel for the capture's lifetime (the previous one comes back after).
  explicit LogCapture(int debugLevel = DebugLevel) : oldLevel_(DebugLevel) {
    DebugLevel = debugLevel;
    SetLogSink([this](const std::string& message) {
      std::lock_guard<std::mutex> lock(mutex_);
      messages_.push_back(message);
    });
  }
  ~LogCapture() {
    SetLogSink(nullptr);
    DebugLevel = oldLevel_;
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // The messages in the order written.
  std::vector<std::string> Messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }
  std::vector<std::string> Lines() const { return Messages(); }
  // Every message followed by CR LF, as the log file holds them (without the time stamps).
  std::string Text() const {
    std::string t;
    for (const auto& m : Messages()) t += m + "\r\n";
    return t;
  }
  // How often `needle` occurs in Text().
  int Count(const std::string& needle) const {
    const std::string t = Text();
    int n = 0;
    for (size_t p = t.find(needle); p != std::string::npos; p = t.find(needle, p + 1)) ++n;
    return n;
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
  // Messages that begin with "ERROR" or "WARNING".
  std::vector<std::string> Problems() const {
    std::vector<std::string> out;
    for (const auto& m : Messages())
      if (m.rfind("ERROR", 0) == 0 || m.rfind("WARNING", 0) == 0) out.push_back(m);
    return out;
  }

 private:
  int oldLevel_;
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
};
