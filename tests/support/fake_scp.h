#pragma once
// A scripted DICOM peer for tests: it listens on a free loopback port, accepts one association
// request in a thread of its own and plays whatever bytes the test's script sends. Everything it
// does is bounded by time-outs, so a test never hangs on it.
//
//   fakescp::FakeScp scp([](fakescp::Connection& c) {
//     fakescp::AcceptAssociation(c, "1.2.840.10008.1.2");
//     fakescp::Message m;
//     c.ReadMessage(m);                                   // the C-ECHO-RQ command
//     c.Send(fakescp::PData({{1, 0x03, fakescp::EchoRSP(fakescp::MessageID(m.data), 0)}}));
//     fakescp::ServeRelease(c);
//   });
//   ... connect to "127.0.0.1", scp.PortText() ...
//
// Builders make raw PDUs, items and implicit-VR-little-endian command sets; the parsers read the
// requestor's PDUs independently of the code under test.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fakescp {

using Bytes = std::vector<uint8_t>;

inline void Put8(Bytes& b, uint8_t v) { b.push_back(v); }
inline void Put16BE(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}
inline void Put32BE(Bytes& b, uint32_t v) {
  Put16BE(b, static_cast<uint16_t>(v >> 16));
  Put16BE(b, static_cast<uint16_t>(v));
}
inline void Put16LE(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32LE(Bytes& b, uint32_t v) {
  Put16LE(b, static_cast<uint16_t>(v));
  Put16LE(b, static_cast<uint16_t>(v >> 16));
}
inline void PutText(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
inline void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
inline uint16_t Get16BE(const Bytes& b, size_t at) { return static_cast<uint16_t>((b[at] << 8) | b[at + 1]); }
inline uint32_t Get32BE(const Bytes& b, size_t at) {
  return (static_cast<uint32_t>(Get16BE(b, at)) << 16) | Get16BE(b, at + 2);
}
inline uint16_t Get16LE(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
inline uint32_t Get32LE(const Bytes& b, size_t at) {
  return Get16LE(b, at) | (static_cast<uint32_t>(Get16LE(b, at + 2)) << 16);
}

// ---------------------------------------------------------------------------------------------
// PDU builders

// An item with a 16-bit length: type, 00, length, value.
inline Bytes Item(uint8_t type, const Bytes& value) {
  Bytes b;
  Put8(b, type);
  Put8(b, 0);
  Put16BE(b, static_cast<uint16_t>(value.size()));
  Append(b, value);
  return b;
}
inline Bytes Item(uint8_t type, const std::string& text) { return Item(type, Bytes(text.begin(), text.end())); }

// A PDU: type, 00, 32-bit length, body.
inline Bytes Pdu(uint8_t type, const Bytes& body) {
  Bytes b;
  Put8(b, type);
  Put8(b, 0);
  Put32BE(b, static_cast<uint32_t>(body.size()));
  Append(b, body);
  return b;
}

struct ACContext {
  uint8_t id = 1;
  uint8_t result = 0;  // 0 acceptance, 3 abstract syntax not supported, 4 transfer syntaxes not supported
  std::string transferSyntax = "1.2.840.10008.1.2";
};

struct ACOptions {
  std::vector<ACContext> contexts{ACContext{}};
  uint32_t maxLength = 16384;
  std::string calledAE = "FAKESCP";
  std::string callingAE = "SCRIVARA";
  Bytes extraSubItems;      // raw sub-items appended inside the user information item
  Bytes itemsBeforeUser;    // raw items between the contexts and the user information item
  bool userInformation = true;
};

inline std::string Pad16(const std::string& s) {
  std::string t = s + std::string(16, ' ');
  return t.substr(0, 16);
}

inline Bytes PresentationContextAcceptItem(const ACContext& c) {
  Bytes v;
  v.reserve(8 + c.transferSyntax.size());
  Put8(v, c.id);
  Put8(v, 0);
  Put8(v, c.result);
  Put8(v, 0);
  Append(v, Item(0x40, c.transferSyntax));
  return Item(0x21, v);
}

inline Bytes AssociateAC(const ACOptions& o = ACOptions()) {
  Bytes body;
  body.reserve(512);
  Put16BE(body, 1);
  Put16BE(body, 0);
  PutText(body, Pad16(o.calledAE));
  PutText(body, Pad16(o.callingAE));
  body.insert(body.end(), 32, 0);
  Append(body, Item(0x10, "1.2.840.10008.3.1.1.1"));
  for (const auto& c : o.contexts) Append(body, PresentationContextAcceptItem(c));
  Append(body, o.itemsBeforeUser);
  if (o.userInformation) {
    Bytes user;
    Bytes max;
    Put32BE(max, o.maxLength);
    Append(user, Item(0x51, max));
    Append(user, Item(0x52, "1.2.826.0.1.3680043.2.1143.107.104"));
    Append(user, Item(0x55, "FAKESCP_1"));
    Append(user, o.extraSubItems);
    Append(body, Item(0x50, user));
  }
  return Pdu(0x02, body);
}

inline Bytes AssociateRJ(uint8_t result = 1, uint8_t source = 1, uint8_t reason = 1) {
  return Pdu(0x03, Bytes{0, result, source, reason});
}
inline Bytes ReleaseRQ() { return Pdu(0x05, Bytes(4, 0)); }
inline Bytes ReleaseRP() { return Pdu(0x06, Bytes(4, 0)); }
inline Bytes Abort(uint8_t source = 2, uint8_t reason = 0) { return Pdu(0x07, Bytes{0, 0, source, reason}); }

struct Pdv {
  uint8_t context = 1;
  uint8_t control = 0x03;  // bit 0 command, bit 1 last fragment
  Bytes data;
};

// One P-DATA-TF PDU holding the given PDVs.
inline Bytes PData(const std::vector<Pdv>& pdvs) {
  Bytes body;
  for (const auto& p : pdvs) {
    Put32BE(body, static_cast<uint32_t>(p.data.size() + 2));
    Put8(body, p.context);
    Put8(body, p.control);
    Append(body, p.data);
  }
  return Pdu(0x04, body);
}

// ---------------------------------------------------------------------------------------------
// Command sets (implicit VR little endian, group 0000 with its group length first)

struct Element {
  uint16_t group;
  uint16_t element;
  Bytes value;
};

inline Element US(uint16_t g, uint16_t e, uint16_t v) {
  Bytes b;
  Put16LE(b, v);
  return {g, e, b};
}
inline Element UI(uint16_t g, uint16_t e, const std::string& uid) {
  Bytes b(uid.begin(), uid.end());
  if (b.size() % 2) b.push_back(0);
  return {g, e, b};
}
inline Element Text(uint16_t g, uint16_t e, const std::string& s) {
  Bytes b(s.begin(), s.end());
  if (b.size() % 2) b.push_back(' ');
  return {g, e, b};
}

// Elements encoded implicit VR little endian, in the order given.
inline Bytes Encode(const std::vector<Element>& elements) {
  Bytes b;
  for (const auto& el : elements) {
    Put16LE(b, el.group);
    Put16LE(b, el.element);
    Put32LE(b, static_cast<uint32_t>(el.value.size()));
    Append(b, el.value);
  }
  return b;
}

// A command set: (0000,0000) with the length of what follows, then the elements.
inline Bytes Command(const std::vector<Element>& elements) {
  Bytes rest = Encode(elements);
  Bytes b;
  Put16LE(b, 0);
  Put16LE(b, 0);
  Put32LE(b, 4);
  Put32LE(b, static_cast<uint32_t>(rest.size()));
  Append(b, rest);
  return b;
}

// Parses implicit-VR-little-endian elements (top level only) into tag -> value.
inline std::map<uint32_t, Bytes> Parse(const Bytes& data) {
  std::map<uint32_t, Bytes> out;
  size_t at = 0;
  while (at + 8 <= data.size()) {
    uint32_t tag = (static_cast<uint32_t>(Get16LE(data, at)) << 16) | Get16LE(data, at + 2);
    uint32_t len = Get32LE(data, at + 4);
    at += 8;
    if (len == 0xFFFFFFFF || at + len > data.size()) break;
    out[tag] = Bytes(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + len));
    at += len;
  }
  return out;
}

inline uint16_t GetUS(const std::map<uint32_t, Bytes>& m, uint16_t g, uint16_t e) {
  auto it = m.find((static_cast<uint32_t>(g) << 16) | e);
  return it == m.end() || it->second.size() < 2 ? 0 : Get16LE(it->second, 0);
}
inline std::string GetText(const std::map<uint32_t, Bytes>& m, uint16_t g, uint16_t e) {
  auto it = m.find((static_cast<uint32_t>(g) << 16) | e);
  if (it == m.end()) return "";
  std::string s(it->second.begin(), it->second.end());
  while (!s.empty() && (s.back() == '\0' || s.back() == ' ')) s.pop_back();
  return s;
}

inline uint16_t MessageID(const Bytes& command) { return GetUS(Parse(command), 0x0000, 0x0110); }

inline Bytes EchoRSP(uint16_t messageId, uint16_t status) {
  return Command({UI(0, 0x0002, "1.2.840.10008.1.1"), US(0, 0x0100, 0x8030), US(0, 0x0120, messageId),
                  US(0, 0x0800, 0x0101), US(0, 0x0900, status)});
}
inline Bytes StoreRSP(uint16_t messageId, uint16_t status, const std::string& sopClass, const std::string& sopInstance) {
  return Command({UI(0, 0x0002, sopClass), US(0, 0x0100, 0x8001), US(0, 0x0120, messageId), US(0, 0x0800, 0x0101),
                  US(0, 0x0900, status), UI(0, 0x1000, sopInstance)});
}
// A C-FIND-RSP; withIdentifier sets Data Set Type 0102H (an identifier follows), else 0101H.
inline Bytes FindRSP(uint16_t messageId, uint16_t status, const std::string& sopClass, bool withIdentifier) {
  return Command({UI(0, 0x0002, sopClass), US(0, 0x0100, 0x8020), US(0, 0x0120, messageId),
                  US(0, 0x0800, withIdentifier ? 0x0102 : 0x0101), US(0, 0x0900, status)});
}

// ---------------------------------------------------------------------------------------------
// What the requestor proposed

struct ProposedContext {
  uint8_t id = 0;
  std::string abstractSyntax;
  std::vector<std::string> transferSyntaxes;
};

struct AssociateRequest {
  std::string calledAE, callingAE, applicationContext, implementationClass, implementationVersion;
  uint32_t maxLength = 0;
  std::vector<ProposedContext> contexts;
};

// Parses the body (after the 6-byte header) of an A-ASSOCIATE-RQ.
inline bool ParseAssociateRQ(const Bytes& body, AssociateRequest& rq) {
  if (body.size() < 68) return false;
  rq.calledAE.assign(body.begin() + 4, body.begin() + 20);
  rq.callingAE.assign(body.begin() + 20, body.begin() + 36);
  size_t at = 68;
  auto text = [&](size_t from, size_t len) { return std::string(body.begin() + static_cast<long>(from), body.begin() + static_cast<long>(from + len)); };
  while (at + 4 <= body.size()) {
    uint8_t type = body[at];
    uint16_t len = Get16BE(body, at + 2);
    size_t v = at + 4;
    if (v + len > body.size()) return false;
    if (type == 0x10) rq.applicationContext = text(v, len);
    if (type == 0x20 && len >= 4) {
      ProposedContext pc;
      pc.id = body[v];
      size_t s = v + 4;
      while (s + 4 <= v + len) {
        uint8_t st = body[s];
        uint16_t sl = Get16BE(body, s + 2);
        if (s + 4 + sl > v + len) return false;
        if (st == 0x30) pc.abstractSyntax = text(s + 4, sl);
        if (st == 0x40) pc.transferSyntaxes.push_back(text(s + 4, sl));
        s += 4 + sl;
      }
      rq.contexts.push_back(pc);
    }
    if (type == 0x50) {
      size_t s = v;
      while (s + 4 <= v + len) {
        uint8_t st = body[s];
        uint16_t sl = Get16BE(body, s + 2);
        if (s + 4 + sl > v + len) return false;
        if (st == 0x51 && sl == 4) rq.maxLength = Get32BE(body, s + 4);
        if (st == 0x52) rq.implementationClass = text(s + 4, sl);
        if (st == 0x55) rq.implementationVersion = text(s + 4, sl);
        s += 4 + sl;
      }
    }
    at = v + len;
  }
  return at == body.size();
}

// ---------------------------------------------------------------------------------------------
// The connection and the listener

struct ReceivedPdu {
  uint8_t type = 0;
  Bytes body;  // after the 6-byte header
};

struct Message {
  uint8_t context = 0;
  bool command = false;
  Bytes data;
};

class Connection {
 public:
  explicit Connection(int fd) : fd_(fd) {}
  ~Connection() { Close(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Exactly n bytes within timeoutMs in all; false on time-out or close.
  bool ReadExact(uint8_t* dest, size_t n, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t got = 0;
    while (got < n) {
      int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
      if (left <= 0 || fd_ < 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, left) <= 0) return false;
      ssize_t r = ::recv(fd_, dest + got, n - got, 0);
      if (r <= 0) return false;
      got += static_cast<size_t>(r);
    }
    return true;
  }

  // One whole PDU; false on time-out or close.
  bool ReadPdu(ReceivedPdu& pdu, int timeoutMs = 5000) {
    uint8_t head[6];
    if (!ReadExact(head, 6, timeoutMs)) return false;
    pdu.type = head[0];
    uint32_t len = (static_cast<uint32_t>(head[2]) << 24) | (head[3] << 16) | (head[4] << 8) | head[5];
    if (len > (64u << 20)) return false;
    pdu.body.assign(len, 0);
    if (len > 0 && !ReadExact(pdu.body.data(), len, timeoutMs)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    received_.push_back(pdu);
    return true;
  }

  // Reads P-DATA-TF PDUs until a PDV with the last-fragment bit completes a message. Any other PDU
  // type ends the read with false (it stays in Received()).
  bool ReadMessage(Message& m, int timeoutMs = 5000) {
    m = Message();
    while (true) {
      if (pending_.empty()) {
        ReceivedPdu pdu;
        if (!ReadPdu(pdu, timeoutMs) || pdu.type != 0x04) return false;
        size_t at = 0;
        while (at + 6 <= pdu.body.size()) {
          uint32_t len = Get32BE(pdu.body, at);
          if (len < 2 || at + 4 + len > pdu.body.size()) return false;
          Pdv p;
          p.context = pdu.body[at + 4];
          p.control = pdu.body[at + 5];
          p.data.assign(pdu.body.begin() + static_cast<long>(at + 6), pdu.body.begin() + static_cast<long>(at + 4 + len));
          pending_.push_back(p);
          at += 4 + len;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        pdvSizes_.push_back({});
        for (const auto& p : pending_) pdvSizes_.back().push_back(p.data.size());
      }
      while (!pending_.empty()) {
        Pdv p = pending_.front();
        pending_.erase(pending_.begin());
        Append(m.data, p.data);
        m.context = p.context;
        m.command = p.control & 1;
        controls_.push_back(p.control);
        if (p.control & 2) return true;
      }
    }
  }

  bool Send(const Bytes& b) {
    size_t at = 0;
    while (at < b.size()) {
      ssize_t n = ::send(fd_, b.data() + at, b.size() - at, MSG_NOSIGNAL);
      if (n <= 0) return false;
      at += static_cast<size_t>(n);
    }
    return true;
  }

  // An orderly close (FIN); Reset() closes with RST.
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  void Reset() {
    if (fd_ < 0) return;
    linger lg{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    Close();
  }

  // Waits until the requestor closes its side (or the time-out passes); true when it closed.
  // Shuts the sending side (our FIN); what the requestor sent can still be read.
  void EndWriting() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
  }

  // Reads and drops until the requestor closes: true for an orderly close (FIN), false for a reset
  // or when nothing ends within timeoutMs.
  bool ClosedInOrder(int timeoutMs = 5000) {
    uint8_t b[256];
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      if (fd_ < 0 || ::poll(&p, 1, timeoutMs) <= 0) return false;
      const ssize_t r = ::recv(fd_, b, sizeof b, 0);
      if (r <= 0) return r == 0;
    }
  }

  bool WaitClosed(int timeoutMs = 5000) {
    uint8_t b;
    while (ReadExact(&b, 1, timeoutMs)) {
    }
    return true;
  }

  std::vector<ReceivedPdu> Received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }
  // Control headers of the PDVs read by ReadMessage, in order; and the data sizes per PDU.
  std::vector<uint8_t> Controls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return controls_;
  }
  std::vector<std::vector<size_t>> PdvSizes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return pdvSizes_;
  }

 private:
  int fd_;
  std::mutex mutex_;
  std::vector<ReceivedPdu> received_;
  std::vector<Pdv> pending_;
  std::vector<uint8_t> controls_;
  std::vector<std::vector<size_t>> pdvSizes_;
};

// Reads the A-ASSOCIATE-RQ and answers with an AC built from o (the first proposed context's ID is
// used for every context whose id is 0). Returns false when no request arrived.
inline bool AcceptAssociation(Connection& c, ACOptions o, AssociateRequest* rq = nullptr) {
  ReceivedPdu pdu;
  if (!c.ReadPdu(pdu) || pdu.type != 0x01) return false;
  AssociateRequest parsed;
  ParseAssociateRQ(pdu.body, parsed);
  if (rq) *rq = parsed;
  uint8_t first = parsed.contexts.empty() ? 1 : parsed.contexts.front().id;
  for (auto& ctx : o.contexts)
    if (ctx.id == 0) ctx.id = first;
  return c.Send(AssociateAC(o));
}
inline bool AcceptAssociation(Connection& c, const std::string& transferSyntax = "1.2.840.10008.1.2",
                              AssociateRequest* rq = nullptr) {
  ACOptions o;
  o.contexts = {ACContext{0, 0, transferSyntax}};
  return AcceptAssociation(c, o, rq);
}

// Waits for the A-RELEASE-RQ and answers A-RELEASE-RP; true when the release arrived.
inline bool ServeRelease(Connection& c, int timeoutMs = 5000) {
  ReceivedPdu pdu;
  while (c.ReadPdu(pdu, timeoutMs)) {
    if (pdu.type == 0x05) return c.Send(ReleaseRP());
  }
  return false;
}

class FakeScp {
 public:
  using Script = std::function<void(Connection&)>;

  // Listens on 127.0.0.1 at a port the system picks and serves `connections` associations, one
  // after the other, each with the script. Waits at most acceptTimeoutMs for each.
  explicit FakeScp(Script script, int connections = 1, int acceptTimeoutMs = 10000) : script_(std::move(script)) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    ::listen(listen_, 4);
    thread_ = std::thread([this, connections, acceptTimeoutMs] {
      for (int i = 0; i < connections && !stop_; ++i) {
        pollfd p{listen_, POLLIN, 0};
        if (::poll(&p, 1, acceptTimeoutMs) <= 0) break;
        int fd = ::accept(listen_, nullptr, nullptr);
        if (fd < 0) break;
        int nodelay = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &nodelay, sizeof nodelay);
        {
          std::lock_guard<std::mutex> lock(mutex_);
          connections_.push_back(std::make_unique<Connection>(fd));
        }
        Connection* c;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          c = connections_.back().get();
        }
        script_(*c);
        c->EndWriting();  // done with the association, as a real peer closes its side
        ++served_;
      }
      done_ = true;
    });
  }
  ~FakeScp() {
    stop_ = true;
    Join();
    if (listen_ >= 0) ::close(listen_);
  }
  FakeScp(const FakeScp&) = delete;
  FakeScp& operator=(const FakeScp&) = delete;

  int Port() const { return port_; }
  std::string PortText() const { return std::to_string(port_); }
  // Waits for the scripts to finish.
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  int Served() const { return served_; }
  // The connection of the n-th association (after Join).
  Connection& At(size_t n) { return *connections_.at(n); }

 private:
  Script script_;
  int listen_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};
  std::atomic<int> served_{0};
};

}  // namespace fakescp
