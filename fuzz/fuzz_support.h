#pragma once
// Shared helpers of the fuzz targets.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/log.h"

namespace fuzz {

// Detail lines on, so that the text of every INFO line is built too; the log itself stays unset
// and writes nothing.
inline void Quiet() { DebugLevel = 2; }

// A scratch file for parsers that read from a path: an anonymous memory file of this process,
// named by its descriptor. The path is the same in every run (no process id in it), so that the
// parsers' work, and with it a replay, does not depend on the run.
class ScratchFile {
 public:
  explicit ScratchFile(const std::string& suffix) : fd_(memfd_create(("scrivara_fuzz" + suffix).c_str(), 0)) {
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~ScratchFile() {
    if (fd_ >= 0) close(fd_);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  // Replaces the file's content; returns its path.
  const std::string& Write(const uint8_t* data, size_t size) {
    if (fd_ >= 0 && ftruncate(fd_, 0) == 0 && size) {
      size_t done = 0;
      while (done < size) {
        const ssize_t n = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
    }
    return path_;
  }

 private:
  int fd_;
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
