#pragma once
// Shared helpers of the fuzz targets.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/log.h"

namespace fuzz {

// Detail lines on, so that the text of every INFO line is built too; the log itself stays unset
// and writes nothing.
inline void Quiet() { DebugLevel = 2; }

// A per-process scratch file for parsers that read from a path; removed at exit.
class ScratchFile {
 public:
  explicit ScratchFile(const std::string& suffix)
      : path_("/tmp/scrivara_fuzz_" + std::to_string(getpid()) + suffix) {}
  ~ScratchFile() { std::remove(path_.c_str()); }
  // Replaces the file's content; returns its path.
  const std::string& Write(const uint8_t* data, size_t size) {
    if (FILE* f = std::fopen(path_.c_str(), "wb")) {
      if (size) std::fwrite(data, 1, size, f);
      std::fclose(f);
    }
    return path_;
  }

 private:
  std::string path_;
};

}  // namespace fuzz
