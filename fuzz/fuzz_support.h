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

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "net/socket.h"

namespace fuzz {

// A connected socket that hands out the given bytes (at most `chunk` per read) and then behaves
// like a peer that closed; whatever is sent is dropped.
class FeedSocket : public Socket {
 public:
  FeedSocket(const uint8_t* data, size_t size, uint32_t chunk = 1u << 30) : data_(data), size_(size), chunk_(chunk) {
    connected_ = true;
  }
  bool SendBinary(const void*, uint32_t) override { return connected_; }
  int ReadBinary(void* dest, uint32_t capacity) override {
    if (!connected_ || at_ >= size_) {
      Close();
      return -1;
    }
    const size_t n = std::min<size_t>({capacity, chunk_, size_ - at_});
    std::memcpy(dest, data_ + at_, n);
    at_ += n;
    return static_cast<int>(n);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  uint32_t chunk_;
  size_t at_ = 0;
};

}  // namespace fuzz
