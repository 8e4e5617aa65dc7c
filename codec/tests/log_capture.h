#pragma once
// Collects the diagnostic log of one test in a temporary file.
#include <string>
#include <vector>

#include "codec/tests/dicom_fixture.h"
#include "core/log.h"
#include "tests/support/peer.h"

class LogCapture {
 public:
  LogCapture() : dir_(testsupport::MakeTempDir("codec_log")) { InitLog(dir_ + "/codec.log", "", ""); }
  ~LogCapture() {
    CloseLog();
    testsupport::RemoveTree(dir_);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  std::string Text() const {
    std::vector<uint8_t> b;
    fixture::ReadFile(dir_ + "/codec.log", &b);
    return std::string(b.begin(), b.end());
  }
  int Count(const std::string& needle) const {
    const std::string t = Text();
    int n = 0;
    for (size_t p = t.find(needle); p != std::string::npos; p = t.find(needle, p + 1)) ++n;
    return n;
  }

 private:
  std::string dir_;
};
