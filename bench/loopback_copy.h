#pragma once
// The loopback limit: a plain TCP copy of `total` bytes on 127.0.0.1 in writes of `writeSize` bytes,
// to a receiver thread that discards them. Returns the bytes sent and the seconds taken (0 bytes
// when the sockets could not be set up).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

inline std::pair<size_t, double> LoopbackCopy(size_t total, size_t writeSize) {
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0 || ::listen(listener, 1) != 0) {
    if (listener >= 0) ::close(listener);
    return {0, 0.0};
  }
  std::thread sink([listener, total] {
    int c = ::accept(listener, nullptr, nullptr);
    std::vector<char> b(1 << 16);
    size_t got = 0;
    while (c >= 0 && got < total) {
      ssize_t n = ::recv(c, b.data(), b.size(), 0);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    if (c >= 0) ::close(c);
  });
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  const auto start = std::chrono::steady_clock::now();
  size_t sent = 0;
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    std::vector<char> b(writeSize, 'x');
    while (sent < total) {
      ssize_t n = ::send(fd, b.data(), std::min(b.size(), total - sent), 0);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
  }
  if (fd >= 0) ::close(fd);
  ::shutdown(listener, SHUT_RDWR);  // wakes the receiver if the connection never came
  sink.join();
  ::close(listener);
  return {sent, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
}
