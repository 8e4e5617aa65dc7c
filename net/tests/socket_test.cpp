// Socket transport and the PDU byte queue.
#include "net/socket.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sys/socket.h>

#include <chrono>
#include <numeric>
#include <thread>

#include "tests/support/fake_scp.h"
#include "tests/support/log_capture.h"
#include "tests/support/peer.h"
#include "net/tests/scripted_socket.h"

using Bytes = std::vector<uint8_t>;

namespace {
Bytes Sequence(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + i / 251);
  return b;
}
}  // namespace

TEST(BufferTest, WriteUInt32InBothOrders) {
  ScriptedLink big({}, 2), little({}, 1);
  big.buffer->WriteUInt32(258);
  little.buffer->WriteUInt32(258);
  big.buffer->WriteUInt16(0x1234);
  little.buffer->WriteUInt16(0x1234);
  ASSERT_TRUE(big.buffer->Flush());
  ASSERT_TRUE(little.buffer->Flush());
  EXPECT_EQ(big.sock->AllSent(), (Bytes{0, 0, 1, 2, 0x12, 0x34}));
  EXPECT_EQ(little.sock->AllSent(), (Bytes{2, 1, 0, 0, 0x34, 0x12}));
}

TEST(BufferTest, TypedReadersMirrorTheWriters) {
  ScriptedLink big({0, 0, 1, 2, 0x12, 0x34, 0xAB}, 2), little({2, 1, 0, 0, 0x34, 0x12}, 1);
  uint32_t v32 = 0;
  uint16_t v16 = 0;
  uint8_t v8 = 0;
  ASSERT_TRUE(big.buffer->ReadUInt32(v32));
  EXPECT_EQ(v32, 258u);
  ASSERT_TRUE(big.buffer->ReadUInt16(v16));
  EXPECT_EQ(v16, 0x1234);
  ASSERT_TRUE(big.buffer->ReadByte(v8));
  EXPECT_EQ(v8, 0xAB);
  EXPECT_FALSE(big.buffer->ReadByte(v8));  // the script is over: the link failed
  ASSERT_TRUE(little.buffer->ReadUInt32(v32));
  EXPECT_EQ(v32, 258u);
  ASSERT_TRUE(little.buffer->ReadUInt16(v16));
  EXPECT_EQ(v16, 0x1234);
}

TEST(BufferTest, OutgoingBlocksOf32600Bytes) {
  ScriptedLink exact;
  Bytes a = Sequence(32600);
  exact.buffer->Write(a.data(), 32600);
  EXPECT_EQ(exact.buffer->OutgoingBlocks(), (std::vector<uint32_t>{32600, 0}));
  ASSERT_TRUE(exact.buffer->Flush());
  ASSERT_EQ(exact.sock->sends.size(), 1u);
  EXPECT_EQ(exact.sock->sends[0], a);
  EXPECT_TRUE(exact.buffer->OutgoingBlocks().empty());
  EXPECT_EQ(exact.buffer->OutgoingCount(), 0u);

  ScriptedLink three;
  Bytes b = Sequence(70000);
  three.buffer->Write(b.data(), 1000);  // written in two pieces: the blocks do not care
  three.buffer->Write(b.data() + 1000, 69000);
  EXPECT_EQ(three.buffer->OutgoingCount(), 70000u);
  EXPECT_EQ(three.buffer->OutgoingBlocks(), (std::vector<uint32_t>{32600, 32600, 4800}));
  ASSERT_TRUE(three.buffer->Flush());
  ASSERT_EQ(three.sock->sends.size(), 3u);
  EXPECT_EQ(three.sock->sends[0].size(), 32600u);
  EXPECT_EQ(three.sock->sends[1].size(), 32600u);
  EXPECT_EQ(three.sock->sends[2].size(), 4800u);
  EXPECT_EQ(three.sock->AllSent(), b);
}

TEST(BufferTest, FailedFlushKeepsTheUnsentBlocks) {
  ScriptedLink link;
  Bytes b = Sequence(40000);
  link.buffer->Write(b.data(), 40000);
  link.sock->Close();
  EXPECT_FALSE(link.buffer->Flush());
  EXPECT_EQ(link.buffer->OutgoingBlocks(), (std::vector<uint32_t>{32600, 7400}));
}

TEST(BufferTest, ReadsAcrossIncomingBlocksAndKills) {
  Bytes in = Sequence(5000);
  ScriptedLink link(in, 2, 300);  // the peer's data arrive in 300-byte pieces
  Bytes out(2500);
  ASSERT_TRUE(link.buffer->Read(out.data(), 2500));
  EXPECT_EQ(out, Bytes(in.begin(), in.begin() + 2500));
  ASSERT_TRUE(link.buffer->Kill(2000));
  Bytes rest(500);
  ASSERT_TRUE(link.buffer->Read(rest.data(), 500));
  EXPECT_EQ(rest, Bytes(in.begin() + 4500, in.end()));
  EXPECT_EQ(link.buffer->IncomingCount(), 0u);
  EXPECT_FALSE(link.buffer->Kill(1));
}

TEST(BufferTest, IncomingChunksAreAtMost1024Bytes) {
  ScriptedLink link(Sequence(3000));
  Bytes out(3000);
  ASSERT_TRUE(link.buffer->Read(out.data(), 3000));
  EXPECT_EQ(link.sock->reads, 3);  // 1024 + 1024 + 952
}

TEST(BufferTest, AppendFromLinkAndSendQueued) {
  Bytes in = Sequence(3000);
  ScriptedLink link(in);
  Buffer staging;
  ASSERT_TRUE(staging.AppendFromLink(*link.buffer, 1000));
  ASSERT_TRUE(staging.AppendFromLink(*link.buffer, 1500));
  EXPECT_EQ(staging.IncomingCount(), 2500u);
  EXPECT_FALSE(staging.AppendFromLink(*link.buffer, 1000));  // only 500 left, then the link fails
  EXPECT_EQ(staging.IncomingCount(), 2500u);
  Bytes got = staging.TakeIncoming();
  EXPECT_EQ(got, Bytes(in.begin(), in.begin() + 2500));
  EXPECT_EQ(staging.IncomingCount(), 0u);

  ScriptedLink out;
  Bytes msg = Sequence(70000);
  staging.Write(msg.data(), 70000);
  EXPECT_FALSE(staging.SendQueued(*out.buffer, 70001));
  EXPECT_EQ(out.buffer->OutgoingCount(), 0u);
  EXPECT_EQ(staging.OutgoingCount(), 70000u);
  // Fragments that straddle the staging blocks arrive intact and in order.
  Bytes sent;
  for (uint32_t n : {16378u, 16378u, 16378u, 16378u, 4488u}) {
    ASSERT_TRUE(staging.SendQueued(*out.buffer, n));
    ASSERT_TRUE(out.buffer->Flush());
    sent.insert(sent.end(), out.sock->sends.back().begin(), out.sock->sends.back().end());
    EXPECT_EQ(out.sock->sends.back().size(), n);
  }
  EXPECT_EQ(sent, msg);
  EXPECT_EQ(staging.OutgoingCount(), 0u);
  EXPECT_FALSE(staging.SendQueued(*out.buffer, 1));
}

// ---------------------------------------------------------------------------------------------
// Real sockets on the loopback interface

namespace {
// A listener that accepts one connection and runs `script` on its descriptor.
struct Listener {
  explicit Listener(std::function<void(int)> script, int backlog = 4) {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    ::listen(fd, backlog);
    if (script)
      thread = std::thread([this, script] {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) return;
        int c = ::accept(fd, nullptr, nullptr);
        script(c);
        ::close(c);
      });
  }
  ~Listener() {
    if (thread.joinable()) thread.join();
    ::close(fd);
  }
  std::string Port() const { return std::to_string(port); }
  int fd;
  int port;
  std::thread thread;
};
}  // namespace

TEST(SocketTest, SendsReceivesAndSeesThePeerClose) {
  LogCapture log;
  Listener peer([](int c) {
    char b[5];
    size_t got = 0;
    while (got < 5) {
      ssize_t n = ::recv(c, b + got, 5 - got, 0);
      if (n <= 0) return;
      got += static_cast<size_t>(n);
    }
    ::send(c, "world", 5, 0);
  });
  Socket s;
  s.SetTimeout(5);
  ASSERT_TRUE(s.Open("127.0.0.1", peer.Port()));
  EXPECT_TRUE(s.IsConnected());
  ASSERT_TRUE(s.SendBinary("hello", 5));
  char in[16] = {};
  int got = 0;
  while (got < 5) {
    int n = s.ReadBinary(in + got, sizeof in - static_cast<uint32_t>(got));
    ASSERT_GT(n, 0);
    got += n;
  }
  EXPECT_EQ(std::string(in, 5), "world");
  EXPECT_EQ(s.ReadBinary(in, sizeof in), -1);  // the peer closed
  EXPECT_FALSE(s.IsConnected());
  EXPECT_FALSE(s.SendBinary("x", 1));
  EXPECT_TRUE(log.Problems().empty());
}

TEST(SocketTest, ReadTimeOutClosesTheSocket) {
  LogCapture log;
  Listener peer([](int c) {
    char b;
    ::recv(c, &b, 1, 0);  // holds the connection, sends nothing
  });
  Socket s;
  s.SetTimeout(1);
  ASSERT_TRUE(s.Open("127.0.0.1", peer.Port()));
  auto start = std::chrono::steady_clock::now();
  char in[8];
  EXPECT_EQ(s.ReadBinary(in, sizeof in), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_FALSE(s.IsConnected());
  EXPECT_TRUE(log.Has("ERROR, Socket::ReadBinary, Timed out"));
}

TEST(SocketTest, ZeroTimeOutReturnsZeroThenThePollFails) {
  LogCapture log;
  Listener peer([](int c) {
    char b;
    ::recv(c, &b, 1, 0);
  });
  auto sock = std::make_unique<Socket>();
  Socket* s = sock.get();
  Buffer link(std::move(sock));
  s->SetTimeout(0);
  ASSERT_TRUE(s->Open("127.0.0.1", peer.Port()));
  char in[8];
  EXPECT_EQ(s->ReadBinary(in, sizeof in), 0);
  EXPECT_FALSE(s->IsConnected());
  uint8_t b;
  EXPECT_FALSE(link.ReadByte(b));
  EXPECT_TRUE(log.Problems().empty());
}

TEST(SocketTest, ResolutionRules) {
  LogCapture log;
  {
    Listener peer([](int) {});
    Socket byName;
    byName.SetTimeout(5);
    EXPECT_TRUE(byName.Open("localhost", peer.Port()));  // looked up by name
  }
  Socket s;
  s.SetTimeout(2);
  EXPECT_FALSE(s.Open("127.0.0.1", "0"));
  EXPECT_FALSE(s.Open("127.0.0.1", "65536"));
  EXPECT_EQ(log.Messages(), (std::vector<std::string>{"ERROR, could not resolve host port",
                                                      "ERROR, could not resolve host port"}));

  // Neither a name nor an address: the connect message, not a name-resolution message.
  LogCapture log2;
  EXPECT_FALSE(s.Open("", "104"));
  ASSERT_EQ(log2.Messages().size(), 1u);
  EXPECT_EQ(log2.Messages()[0].rfind("ERROR, Connecting to Socket: :104, ", 0), 0u);

  // A host text over 127 characters is refused with the connect message.
  LogCapture log3;
  std::string longHost(128, 'a');
  EXPECT_FALSE(s.Open(longHost, "104"));
  ASSERT_EQ(log3.Messages().size(), 1u);
  EXPECT_EQ(log3.Messages()[0].rfind("ERROR, Connecting to Socket: " + longHost + ":104, ", 0), 0u);
}

TEST(SocketTest, RefusedConnectionNamesHostPortAndCode) {
  LogCapture log;
  int port = testsupport::FreePort();
  Socket s;
  s.SetTimeout(5);
  EXPECT_FALSE(s.Open("127.0.0.1", std::to_string(port)));
  EXPECT_FALSE(s.IsConnected());
  EXPECT_EQ(log.Messages(), std::vector<std::string>{"ERROR, Connecting to Socket: 127.0.0.1:" +
                                                     std::to_string(port) + ", " + std::to_string(ECONNREFUSED)});
}

TEST(SocketTest, ConnectIsBoundedByTheReadTimeOut) {
  // A listener whose accept queue is full drops further connection requests, so a connect to it
  // waits: it must give up after the read time-out.
  Listener full(nullptr, 0);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(full.port));
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    fillers.push_back(fd);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  LogCapture log;
  Socket s;
  s.SetTimeout(1);
  auto start = std::chrono::steady_clock::now();
  bool ok = s.Open("127.0.0.1", full.Port());
  auto took = std::chrono::steady_clock::now() - start;
  for (int fd : fillers) ::close(fd);
  EXPECT_FALSE(ok);
  EXPECT_LT(took, std::chrono::milliseconds(2500));
  EXPECT_TRUE(log.Has("ERROR, Connecting to Socket: 127.0.0.1:" + full.Port() + ", " + std::to_string(ETIMEDOUT)));
}

// The byte trace goes straight into the log file (no time stamps), so this test reads the file.
class LogFile {
 public:
  LogFile() : dir_(testsupport::MakeTempDir("nettrace")) { InitLog(dir_ + "/trace.log", "", ""); }
  ~LogFile() {
    CloseLog();
    testsupport::RemoveTree(dir_);
  }
  std::string Text() const {
    std::ifstream f(dir_ + "/trace.log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }

 private:
  std::string dir_;
};

TEST(SocketTest, ByteTraceAtDebugLevel3) {
  LogCapture capture(3);
  LogFile log;
  Bytes chunk = Sequence(256);
  chunk[0] = 'A';
  chunk[1] = '{';
  chunk[2] = 10;
  Listener peer([](int c) {
    char b[512];
    size_t got = 0;
    while (got < 259) {
      ssize_t n = ::recv(c, b, sizeof b, 0);
      if (n <= 0) return;
      got += static_cast<size_t>(n);
    }
  });
  Socket s;
  s.SetTimeout(5);
  ASSERT_TRUE(s.Open("127.0.0.1", peer.Port()));
  ASSERT_TRUE(s.SendBinary("A{\n", 3));
  ASSERT_TRUE(s.SendBinary(chunk.data(), 256));
  s.Close();
  std::string text = log.Text();
  EXPECT_NE(text.find("     3 >> 41 7B 0A \r\nA..\r\n\r\n"), std::string::npos);
  std::string big = "   256 >> ";
  char hex[4];
  for (int i = 0; i < 256; ++i) {
    std::snprintf(hex, sizeof hex, "%02X ", chunk[static_cast<size_t>(i)]);
    big += hex;
  }
  big += " [MORE DATA...]\r\n";
  size_t at = text.find(big);
  ASSERT_NE(at, std::string::npos);
  std::string chars = text.substr(at + big.size(), 256 + 19);
  EXPECT_EQ(chars.substr(0, 3), "A..");
  EXPECT_EQ(chars.substr(256), " [MORE DATA...]\r\n\r\n");

  DebugLevel = 2;  // the trace is only written from level 3 on
  size_t before = log.Text().size();
  Listener again([](int c) {
    char b[8];
    ::recv(c, b, sizeof b, 0);
  });
  ASSERT_TRUE(s.Open("127.0.0.1", again.Port()));
  ASSERT_TRUE(s.SendBinary("abc", 3));
  EXPECT_EQ(log.Text().size(), before);
}
