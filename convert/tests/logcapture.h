#pragma once
// Points the diagnostic log at a fresh file for one test scope and reads back what was written.
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "core/log.h"

class LogCapture {
 public:
  LogCapture() : path_("/tmp/scrivara_convert_log_" + std::to_string(getpid()) + "_" + std::to_string(++Serial()) + ".log") {
    std::remove(path_.c_str());
    InitLog(path_, "", "");
  }
  ~LogCapture() {
    CloseLog();
    std::remove(path_.c_str());
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<std::string> Lines() const {
    std::vector<std::string> out;
    std::ifstream in(path_);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      out.push_back(line);
    }
    return out;
  }

 private:
  static int& Serial() {
    static int n = 0;
    return n;
  }
  std::string path_;
};
