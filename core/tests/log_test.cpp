#include "core/log.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/support/files.h"
#include "tests/support/peer.h"

namespace {

using testsupport::ReadAll;

// A viewer stand-in: a datagram socket bound to the relay's path for the name (in the test's own
// runtime folder), or, with `abstractName`, to the abstract name earlier versions sent to.
class RelayReceiver {
 public:
  explicit RelayReceiver(const std::string& name, bool abstractName = false) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    socklen_t len = 0;
    if (abstractName) {
      std::memcpy(addr.sun_path + 1, name.data(), name.size());
      len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    } else {
      const std::string path = RelaySocketPath(name);
      ::mkdir(path.substr(0, path.rfind('/')).c_str(), 0700);
      std::memcpy(addr.sun_path, path.data(), path.size());
      len = sizeof addr;
    }
    bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) == 0;
    timeval tv{0, 200000};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~RelayReceiver() { ::close(fd_); }
  bool bound() const { return bound_; }
  // Next datagram, or "" after the receive time-out.
  std::string Next() {
    char buf[70000];
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  }
  // Next datagram whose text starts with the marker (other programs' logs may reach the same name).
  std::string NextWith(const std::string& marker) {
    for (std::string d; !(d = Next()).empty();)
      if (d.size() > 12 && d.compare(12, marker.size(), marker) == 0) return d;
    return "";
  }

 private:
  int fd_ = -1;
  bool bound_ = false;
};

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CloseLog();
    dir_ = testsupport::MakeTempDir("logtest");
    path_ = dir_ + "/20150312_doc.log";
    marker_ = "pid" + std::to_string(::getpid()) + " ";
    // Only the datagram test binds the program's own relay name; the others use one of their own
    // so that tests running side by side do not take it from each other.
    relay_ = "scrivara-test-" + std::to_string(::getpid());
    // A runtime folder of the test's own: nothing reaches or comes from a real viewer.
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    oldRuntime_ = old ? old : "";
    hadRuntime_ = old != nullptr;
    ::mkdir((dir_ + "/run").c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", (dir_ + "/run").c_str(), 1);
  }
  void TearDown() override {
    CloseLog();
    if (hadRuntime_)
      ::setenv("XDG_RUNTIME_DIR", oldRuntime_.c_str(), 1);
    else
      ::unsetenv("XDG_RUNTIME_DIR");
    testsupport::RemoveTree(dir_);
  }
  std::string oldRuntime_;
  bool hadRuntime_ = false;
  std::string dir_, path_, marker_, relay_;
};

TEST_F(LogTest, LineIsTimeCommaMessageCrLfAndOpenedPerMessage) {
  InitLog(path_, "", "");
  WriteLog("ERROR, x");
  WriteLog("INFO, second");
  std::string text = ReadAll(path_);
  EXPECT_TRUE(std::regex_match(text, std::regex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9], ERROR, x\r\n"
                                                "[0-2][0-9]:[0-5][0-9]:[0-6][0-9], INFO, second\r\n")))
      << text;
  EXPECT_EQ(LogPath(), path_);
}

TEST_F(LogTest, RelayDatagramCarriesDwData50LengthAndNul) {
  RelayReceiver rx("scrivara");
  ASSERT_TRUE(rx.bound());
  InitLog(path_, "scrivara", "");
  const std::string msg = marker_ + "ERROR, x";
  WriteLog(msg);
  WriteLog(marker_ + "second");
  std::string d = rx.NextWith(marker_);
  ASSERT_EQ(d.size(), 8 + 4 + msg.size() + 1);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(d.data());
  uint64_t dw = 0;
  for (int i = 7; i >= 0; --i) dw = dw << 8 | p[i];
  uint32_t cb = p[8] | p[9] << 8 | p[10] << 16 | uint32_t(p[11]) << 24;
  EXPECT_EQ(dw, 50u);
  EXPECT_EQ(cb, msg.size() + 1);
  EXPECT_EQ(d.substr(12), msg + std::string(1, '\0'));  // the message alone: no time, no line break
  // Messages arrive in order.
  std::string d2 = rx.NextWith(marker_);
  EXPECT_EQ(d2.substr(12), marker_ + "second" + std::string(1, '\0'));
}

// The relay reaches only this user's runtime folder: a listener on the old abstract name hears
// nothing, and without a runtime folder nothing is sent at all. The log file is the user's alone.
TEST_F(LogTest, RelayStaysWithTheUserAndTheLogIsPrivate) {
  EXPECT_EQ(RelaySocketPath("scrivara"), dir_ + "/run/scrivara/log-relay");
  RelayReceiver own("scrivara");
  RelayReceiver squatter("scrivara", true);
  ASSERT_TRUE(own.bound());
  InitLog(path_, "scrivara", "");
  WriteLog(marker_ + "private");
  std::string text;
  const std::string d = own.NextWith(marker_);
  ASSERT_TRUE(ParseRelayDatagram(reinterpret_cast<const unsigned char*>(d.data()), d.size(), text));
  EXPECT_EQ(text, marker_ + "private");
  if (squatter.bound()) {
    EXPECT_EQ(squatter.NextWith(marker_), "");
  }
  struct stat st{};
  ASSERT_EQ(::stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(RelaySocketPath("scrivara"), "");
  WriteLog(marker_ + "unrelayed");
  EXPECT_EQ(own.NextWith(marker_), "");
  EXPECT_NE(ReadAll(path_).find(marker_ + "unrelayed"), std::string::npos);
  EXPECT_FALSE(ParseRelayDatagram(reinterpret_cast<const unsigned char*>("short"), 5, text));
}

TEST_F(LogTest, NoReceiverWritesOnlyTheFileAndDoesNotWait) {
  InitLog(path_, "scrivara-nobody-" + std::to_string(::getpid()), "");
  auto t0 = std::chrono::steady_clock::now();
  WriteLog("WARNING, alone");
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(400));
  EXPECT_NE(ReadAll(path_).find(", WARNING, alone\r\n"), std::string::npos);
}

TEST_F(LogTest, EmptyInitArgumentsKeepTheStoredValues) {
  RelayReceiver rx(relay_);
  ASSERT_TRUE(rx.bound());
  InitLog(path_, relay_, "");
  InitLog("", "", "");
  WriteLog(marker_ + "kept");
  EXPECT_NE(ReadAll(path_).find(marker_ + "kept"), std::string::npos);
  EXPECT_FALSE(rx.NextWith(marker_).empty());
}

TEST_F(LogTest, CloseLogStopsWritingAndRelaying) {
  RelayReceiver rx(relay_);
  ASSERT_TRUE(rx.bound());
  InitLog(path_, relay_, "");
  WriteLog(marker_ + "before");
  ASSERT_FALSE(rx.NextWith(marker_).empty());
  CloseLog();
  EXPECT_EQ(LogPath(), "");
  WriteLog(marker_ + "after");
  EXPECT_EQ(ReadAll(path_).find("after"), std::string::npos);
  EXPECT_EQ(rx.NextWith(marker_), "");
  EXPECT_FALSE(LogBusy.load());
}

TEST_F(LogTest, UnopenableFileDropsLineAndRelay) {
  RelayReceiver rx(relay_);
  ASSERT_TRUE(rx.bound());
  InitLog(dir_ + "/missing/folder/x.log", relay_, "");
  WriteLog(marker_ + "lost");
  EXPECT_EQ(rx.NextWith(marker_), "");
  EXPECT_FALSE(LogBusy.load());
}

TEST_F(LogTest, WritersOnTwoThreadsNeverInterleaveLines) {
  InitLog(path_, "", "");
  std::string a(3000, 'a'), b(3000, 'b');
  std::thread t([&] {
    for (int i = 0; i < 20; ++i) WriteLog(a);
  });
  for (int i = 0; i < 20; ++i) WriteLog(b);
  t.join();
  std::istringstream in(ReadAll(path_));
  int lines = 0;
  for (std::string line; std::getline(in, line); ++lines) {
    ASSERT_GE(line.size(), 10u + 3000u);
    std::string body = line.substr(10, 3000);
    EXPECT_TRUE(body == a || body == b);
  }
  EXPECT_EQ(lines, 40);
}

}  // namespace
