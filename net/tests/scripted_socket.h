#pragma once
// A Socket that records what is sent and plays scripted bytes to the reader, for byte-exact tests
// of Buffer and the PDU classes without a network.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "net/socket.h"

class ScriptedSocket : public Socket {
 public:
  using Bytes = std::vector<uint8_t>;
  // chunk: the most bytes one ReadBinary hands out (models a peer's segments).
  explicit ScriptedSocket(Bytes incoming = {}, uint32_t chunk = 1u << 30) : incoming_(std::move(incoming)), chunk_(chunk) {
    connected_ = true;
  }
  bool SendBinary(const void* data, uint32_t count) override {
    if (!connected_) return false;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    sends.emplace_back(p, p + count);
    return true;
  }
  int ReadBinary(void* dest, uint32_t capacity) override {
    if (!connected_) return -1;
    if (at_ >= incoming_.size()) {  // the script is over: like a peer that closed
      Close();
      return -1;
    }
    size_t n = std::min<size_t>({capacity, chunk_, incoming_.size() - at_});
    std::memcpy(dest, incoming_.data() + at_, n);
    at_ += n;
    ++reads;
    return static_cast<int>(n);
  }
  void More(const Bytes& b) { incoming_.insert(incoming_.end(), b.begin(), b.end()); }
  Bytes AllSent() const {
    Bytes all;
    for (const auto& s : sends) all.insert(all.end(), s.begin(), s.end());
    return all;
  }
  size_t Unread() const { return incoming_.size() - at_; }

  std::vector<Bytes> sends;
  int reads = 0;

 private:
  Bytes incoming_;
  size_t at_ = 0;
  uint32_t chunk_;
};

// A Buffer over a ScriptedSocket; `sock` stays valid as long as the buffer.
struct ScriptedLink {
  explicit ScriptedLink(ScriptedSocket::Bytes incoming = {}, int order = 2, uint32_t chunk = 1u << 30) {
    auto s = std::make_unique<ScriptedSocket>(std::move(incoming), chunk);
    sock = s.get();
    buffer = std::make_unique<Buffer>(std::move(s));
    buffer->SetIncomingOrder(order);
    buffer->SetOutgoingOrder(order);
  }
  ScriptedSocket* sock;
  std::unique_ptr<Buffer> buffer;
};
