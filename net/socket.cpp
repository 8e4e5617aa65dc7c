#include "net/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/fileutil.h"
#include "core/log.h"

namespace {

// Live Socket objects; the socket library needs no start-up on this platform.
std::atomic<int> g_liveSockets{0};

void closeHandle(int& h) {
  if (h >= 0) ::close(h);
  h = -1;
}

// Waits until fd is ready for the given events, at most timeoutSec seconds (0 = just look).
// 1 = ready, 0 = time-out, -1 = error.
int waitFor(int fd, short events, uint32_t timeoutSec) {
  pollfd p{fd, events, 0};
  long long ms = static_cast<long long>(timeoutSec) * 1000;
  if (ms > 0x7FFFFFFF) ms = 0x7FFFFFFF;
  for (;;) {
    int r = ::poll(&p, 1, static_cast<int>(ms));
    if (r < 0 && errno == EINTR) continue;
    return r > 0 ? 1 : r;
  }
}

void applySendTimeout(int fd, uint32_t seconds) {
  timeval tv{static_cast<time_t>(seconds), 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

}  // namespace

void TraceBytes(const unsigned char* data, int count, bool sent) {
  if (DebugLevel < 3 || count < 0) return;
  std::string path = LogPath();
  if (path.empty()) return;
  FILE* f = OpenPrivateAppend(path);
  if (!f) return;
  char head[32];
  std::snprintf(head, sizeof head, sent ? "%6d >> " : "%6d << ", count);
  std::string text = head;
  int shown = count < 256 ? count : 256;
  char hex[4];
  for (int i = 0; i < shown; ++i) {
    std::snprintf(hex, sizeof hex, "%02X ", data[i]);
    text += hex;
  }
  if (count >= 256) text += " [MORE DATA...]";
  text += "\r\n";
  for (int i = 0; i < shown; ++i) text += (data[i] < 32 || data[i] > 122) ? '.' : static_cast<char>(data[i]);
  if (count >= 256) text += " [MORE DATA...]";
  text += "\r\n\r\n";
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

// ---------------------------------------------------------------------------------------------
// Socket

Socket::Socket() {
  g_liveSockets.fetch_add(1);
  counted_ = true;
}

Socket::~Socket() {
  if (counted_ && g_liveSockets.load() > 0) {
    if (handle_ >= 0) ::shutdown(handle_, SHUT_RDWR);
    if (listenHandle_ >= 0) ::shutdown(listenHandle_, SHUT_RDWR);
    closeHandle(handle_);
    closeHandle(listenHandle_);
    g_liveSockets.fetch_sub(1);
  } else {
    WriteLog("ERROR, must have failed installation");
    closeHandle(handle_);
    closeHandle(listenHandle_);
  }
}

int Socket::LiveCount() { return g_liveSockets.load(); }

bool Socket::Close() {
  closeHandle(handle_);
  closeHandle(listenHandle_);
  connected_ = false;
  return true;
}

void Socket::CloseInOrder() {
  if (handle_ >= 0 && connected_) {
    sayGoodbye();
    // Our side ends first; the peer closes once it has read everything (its FIN). What it still
    // sends is read and dropped, so that unread bytes do not turn our close into a reset.
    bool peerClosed = false;
    if (::shutdown(handle_, SHUT_WR) == 0) {
      const auto until = std::chrono::steady_clock::now() + kPeerCloseWait;
      char sink[4096];
      for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
        pollfd p{handle_, POLLIN, 0};
        const int ready = left > 0 ? ::poll(&p, 1, static_cast<int>(left)) : 0;
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        const ssize_t n = ::recv(handle_, sink, sizeof sink, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          peerClosed = n == 0;
          break;
        }
      }
    }
    if (!peerClosed) {
      linger lg{1, 0};  // the peer did not close in time: reset rather than leave it hanging
      ::setsockopt(handle_, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    }
  }
  Close();
}

namespace {

// An address in dotted form (a text starting with a non-zero number) or a host name; INADDR_NONE
// when it is neither.
in_addr_t ResolveHost(const std::string& host) {
  if (std::atol(host.c_str()) != 0) return ::inet_addr(host.c_str());
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  in_addr_t addr = INADDR_NONE;
  if (!host.empty() && ::getaddrinfo(host.c_str(), nullptr, &hints, &res) == 0 && res)
    addr = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
  else
    addr = ::inet_addr(host.c_str());
  if (res) ::freeaddrinfo(res);
  return addr;
}

// A port number (taken modulo 65536) or a service name, in network order; false when neither.
bool ResolvePort(const std::string& port, uint16_t& netPort) {
  const long p = std::atol(port.c_str()) % 65536;
  if (p != 0) {
    netPort = htons(static_cast<uint16_t>(p));
    return true;
  }
  const servent* s = port.empty() ? nullptr : ::getservbyname(port.c_str(), nullptr);
  if (!s) return false;
  netPort = static_cast<uint16_t>(s->s_port);
  return true;
}

// Connects fd to peer, waiting at most timeoutSec when it is not 0; the error, or 0.
int ConnectWithin(int fd, const sockaddr_in& peer, uint32_t timeoutSec) {
  const auto* to = reinterpret_cast<const sockaddr*>(&peer);
  if (timeoutSec == 0) return ::connect(fd, to, sizeof peer) != 0 ? errno : 0;
  const int flags = ::fcntl(fd, F_GETFL, 0);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  int err = 0;
  if (::connect(fd, to, sizeof peer) != 0) {
    err = errno;
    if (err == EINPROGRESS || err == EINTR) {
      const int w = waitFor(fd, POLLOUT, timeoutSec);
      if (w == 1) {
        socklen_t len = sizeof err;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
      } else {
        err = w == 0 ? ETIMEDOUT : errno;
      }
    }
  }
  ::fcntl(fd, F_SETFL, flags);
  return err;
}

}  // namespace

bool Socket::Open(const std::string& host, const std::string& port) {
  closeHandle(handle_);
  connected_ = false;
  peerClosed_ = false;
  auto refused = [&](int err) {
    result_ = err;
    closeHandle(handle_);
    WriteLog("ERROR, Connecting to Socket: " + host + ":" + port + ", " + std::to_string(err));
    return false;
  };
  // Host texts are limited to 127 characters; a longer one is refused like an unreachable host.
  if (host.size() > 127) return refused(ENAMETOOLONG);
  const in_addr_t addr = ResolveHost(host);
  uint16_t netPort = 0;
  if (!ResolvePort(port, netPort)) {
    WriteLog("ERROR, could not resolve host port");
    return false;
  }

  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) {
    WriteLog("ERROR, could not create socket");
    return false;
  }
  handle_ = fd;
  int one = 1;
  if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == -1) {
    WriteLog("ERROR, set socket option");
    return false;
  }
  // A peer that stops reading must not hold a send longer than a read may wait.
  if (timeout_ > 0) applySendTimeout(fd, timeout_);

  std::memset(&peer_, 0, sizeof peer_);
  peer_.sin_family = AF_INET;
  peer_.sin_port = netPort;
  peer_.sin_addr.s_addr = addr;
  // Neither a name nor an address: nothing to connect to.
  const int err = addr == INADDR_NONE ? EHOSTUNREACH : ConnectWithin(fd, peer_, timeout_);
  if (err != 0) return refused(err);
  result_ = 0;
  connected_ = true;
  return true;
}

bool Socket::SendBinary(const void* data, uint32_t count) {
  if (!connected_) return false;
  const char* p = static_cast<const char*>(data);
  uint32_t left = count;
  // A short send is continued, so that a chunk always leaves whole.
  while (left > 0) {
    const long n = sendSome(p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      WriteLog("ERROR, Socket::SendBinary, couldn't send: " + std::to_string(errno));
      return false;
    }
    p += n;
    left -= static_cast<uint32_t>(n);
  }
  TraceBytes(static_cast<const unsigned char*>(data), static_cast<int>(count), true);
  return true;
}

void Socket::ArmDeadline() {
  deadlineArmed_ = timeout_ > 0;
  deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_);
}

long Socket::sendSome(const void* data, size_t count) { return ::send(handle_, data, count, MSG_NOSIGNAL); }

long Socket::receiveSome(void* dest, size_t capacity) {
  ssize_t n;
  do {
    n = ::recv(handle_, dest, capacity, 0);
  } while (n < 0 && errno == EINTR);
  return n;
}

int Socket::waitReady(short events) {
  if (!deadlineArmed_) return waitFor(handle_, events, timeout_);
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now()).count();
  pollfd p{handle_, events, 0};
  int ready;
  do {
    ready = left > 0 ? ::poll(&p, 1, static_cast<int>(left)) : 0;
  } while (ready < 0 && errno == EINTR);
  return ready > 0 ? 1 : ready;
}

int Socket::ReadBinary(void* dest, uint32_t capacity) {
  if (!connected_) return -1;
  int ready = hasBuffered() ? 1 : waitReady(POLLIN);
  long n = 0;
  if (ready == 1) {
    n = receiveSome(dest, capacity);
    if (n == -2) ready = 0;  // the rest of a record did not come in time
  }
  if (ready == 1) {
    // Acknowledge at once: a peer that writes a PDU in pieces without TCP_NODELAY waits for our
    // acknowledgement of the first piece before it sends the rest, and a delayed one costs 40 ms
    // per response. The kernel drops this mode by itself, so it is renewed after every receive.
    int one = 1;
    ::setsockopt(handle_, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    if (n <= 0) {  // peer closed (0) or the connection broke
      peerClosed_ = true;
      Close();
      return -1;
    }
    TraceBytes(static_cast<const unsigned char*>(dest), static_cast<int>(n), false);
    return static_cast<int>(n);
  }
  Close();
  if (timeout_ == 0) return 0;
  WriteLog("ERROR, Socket::ReadBinary, Timed out");
  return -1;
}

// ---------------------------------------------------------------------------------------------
// BufferSpace and Buffer

BufferSpace::BufferSpace(uint32_t cap) : capacity(cap), data(new unsigned char[cap > 0 ? cap : 1]) {}

Buffer::Buffer(std::unique_ptr<Socket> link) : link_(link ? std::move(link) : std::make_unique<Socket>()) {}

Buffer::~Buffer() {
  in_.clear();
  out_.clear();
  link_.reset();
}

bool Buffer::SetIncomingOrder(int order) {
  inOrder_ = order;
  return true;
}

bool Buffer::SetOutgoingOrder(int order) {
  outOrder_ = order;
  return true;
}

bool Buffer::Write(const void* data, uint32_t count) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  if (out_.empty()) out_.emplace_back(blockCapacity_);
  while (count > 0) {
    BufferSpace& last = out_.back();
    uint32_t room = last.capacity - last.index;
    if (room == 0) {
      out_.emplace_back(blockCapacity_);
      continue;
    }
    if (room > count) {
      std::memcpy(last.data.get() + last.index, p, count);
      last.index += count;
      outCount_ += count;
      break;
    }
    std::memcpy(last.data.get() + last.index, p, room);
    last.index += room;
    outCount_ += room;
    p += room;
    count -= room;
    out_.emplace_back(blockCapacity_);
  }
  return true;
}

bool Buffer::WriteByte(uint8_t value) { return Write(&value, 1); }

bool Buffer::WriteUInt16(uint16_t value) {
  unsigned char b[2];
  if (outOrder_ == 1) {
    b[0] = static_cast<unsigned char>(value & 0xFF);
    b[1] = static_cast<unsigned char>(value >> 8);
  } else {
    b[0] = static_cast<unsigned char>(value >> 8);
    b[1] = static_cast<unsigned char>(value & 0xFF);
  }
  return Write(b, 2);
}

bool Buffer::WriteUInt32(uint32_t value) {
  uint16_t lo = static_cast<uint16_t>(value & 0xFFFF), hi = static_cast<uint16_t>(value >> 16);
  if (outOrder_ == 1) {
    WriteUInt16(lo);
    return WriteUInt16(hi);
  }
  WriteUInt16(hi);
  return WriteUInt16(lo);
}

bool Buffer::Flush() {
  while (!out_.empty()) {
    BufferSpace& b = out_.front();
    uint32_t filled = b.index - b.start;
    if (filled > 0 && !link_->SendBinary(b.data.get() + b.start, filled)) return false;
    out_.pop_front();
  }
  outCount_ = 0;
  return true;
}

bool Buffer::Poll() {
  unsigned char work[1024];
  uint32_t want = blockCapacity_ < sizeof work ? blockCapacity_ : static_cast<uint32_t>(sizeof work);
  int n;
  while ((n = link_->ReadBinary(work, want)) == 0) {
  }
  if (n < 0) return false;
  BufferSpace& b = in_.emplace_back(static_cast<uint32_t>(n));
  std::memcpy(b.data.get(), work, static_cast<size_t>(n));
  inCount_ += static_cast<uint32_t>(n);
  return true;
}

bool Buffer::Read(void* dest, uint32_t count) {
  while (inCount_ < count) {
    if (!Poll()) return false;
  }
  unsigned char* p = static_cast<unsigned char*>(dest);
  uint32_t need = count;
  while (need > 0 && !in_.empty()) {
    BufferSpace& b = in_.front();
    uint32_t avail = b.capacity - b.index;
    if (avail >= need) {
      std::memcpy(p, b.data.get() + b.index, need);
      b.index += need;
      inCount_ -= need;
      need = 0;
      if (b.index == b.capacity) in_.pop_front();
      break;
    }
    if (avail > 0) std::memcpy(p, b.data.get() + b.index, avail);
    p += avail;
    need -= avail;
    inCount_ -= avail;
    in_.pop_front();
  }
  return true;
}

bool Buffer::ReadByte(uint8_t& value) { return Read(&value, 1); }

bool Buffer::ReadUInt16(uint16_t& value) {
  unsigned char b[2] = {0, 0};
  bool ok = Read(b, 2);
  value = inOrder_ == 1 ? static_cast<uint16_t>(b[0] | (b[1] << 8)) : static_cast<uint16_t>((b[0] << 8) | b[1]);
  return ok;
}

bool Buffer::ReadUInt32(uint32_t& value) {
  uint16_t first = 0, second = 0;
  bool ok = ReadUInt16(first) && ReadUInt16(second);
  value = inOrder_ == 1 ? (static_cast<uint32_t>(second) << 16) | first : (static_cast<uint32_t>(first) << 16) | second;
  return ok;
}

bool Buffer::Kill(uint32_t count) {
  unsigned char work[4096];
  while (count > 0) {
    uint32_t n = count < sizeof work ? count : static_cast<uint32_t>(sizeof work);
    if (!Read(work, n)) return false;
    count -= n;
  }
  return true;
}

bool Buffer::AppendFromLink(Buffer& link, uint32_t count) {
  // Up to 1 MiB is taken as one block; a larger claim is filled block by block as bytes arrive,
  // so that a peer cannot make us reserve more than it actually sends.
  constexpr uint32_t kMaxBlock = 1u << 20;
  std::deque<BufferSpace> blocks;
  uint32_t left = count;
  while (left > 0) {
    uint32_t n = left < kMaxBlock ? left : kMaxBlock;
    BufferSpace b(n);
    if (!link.Read(b.data.get(), n)) return false;
    blocks.push_back(std::move(b));
    left -= n;
  }
  if (count == 0) return true;
  for (auto& b : blocks) in_.push_back(std::move(b));
  inCount_ += count;
  return true;
}

bool Buffer::SendQueued(Buffer& link, uint32_t count) {
  if (outCount_ < count) return false;
  outCount_ -= count;
  if (count == 0) return true;
  // The bytes usually come from one block: hand them on without an extra copy.
  BufferSpace& first = out_.front();
  if (first.index - first.start >= count) {
    link.Write(first.data.get() + first.start, count);
    first.start += count;
    if (first.start == first.index) out_.pop_front();
    return true;
  }
  std::vector<unsigned char> collected(count);
  uint32_t got = 0;
  while (got < count && !out_.empty()) {
    BufferSpace& b = out_.front();
    uint32_t filled = b.index - b.start;
    uint32_t need = count - got;
    if (filled > need) {
      std::memcpy(collected.data() + got, b.data.get() + b.start, need);
      b.start += need;
      got += need;
    } else {
      if (filled > 0) std::memcpy(collected.data() + got, b.data.get() + b.start, filled);
      got += filled;
      out_.pop_front();
    }
  }
  return link.Write(collected.data(), count);
}

std::vector<unsigned char> Buffer::TakeIncoming() {
  std::vector<unsigned char> all;
  all.reserve(inCount_);
  for (auto& b : in_) all.insert(all.end(), b.data.get() + b.index, b.data.get() + b.capacity);
  in_.clear();
  inCount_ = 0;
  return all;
}

void Buffer::Reset() {
  in_.clear();
  out_.clear();
  inCount_ = 0;
  outCount_ = 0;
}

void Buffer::DropOutgoing() {
  out_.clear();
  outCount_ = 0;
}

std::vector<uint32_t> Buffer::OutgoingBlocks() const {
  std::vector<uint32_t> sizes;
  for (const auto& b : out_) sizes.push_back(b.index - b.start);
  return sizes;
}
