#include "app/cli/cli_logviewer.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <vector>

#include "core/config.h"
#include "core/fileutil.h"
#include "core/log.h"

namespace cli {

namespace {

volatile std::sig_atomic_t g_stop = 0;

void Stop(int) { g_stop = 1; }

}  // namespace

int CmdLogViewer(const Args& a) {
  if (a.NeedsUsage() || !a.pos.empty())
    return Usage(a,
                 "usage: scrivara-cli log-viewer\n"
                 "  prints the log lines of this user's Scrivara programs as they are written, until\n"
                 "  interrupted; they reach it through $XDG_RUNTIME_DIR/scrivara/log-relay\n");
  const std::string path = RelaySocketPath("scrivara");
  sockaddr_un addr{};
  if (path.empty()) return Fail("XDG_RUNTIME_DIR is not set: the log is not relayed");
  if (path.size() >= sizeof(addr.sun_path)) return Fail("the relay path is too long: " + path);
  if (!PrivateFolder(FolderOf(path), nullptr)) return Fail("cannot make the folder of " + path);
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Fail("cannot open a socket");
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.data(), path.size());
  ::unlink(path.c_str());  // a viewer that ended without cleaning up
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return Fail("cannot listen on " + path + ": " + std::strerror(errno));
  }
  struct sigaction sa{};
  sa.sa_handler = Stop;
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  std::fprintf(stderr, "scrivara-cli: listening on %s\n", path.c_str());
  std::vector<unsigned char> buf(1 << 20);
  while (!g_stop) {
    const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
    if (n < 0) continue;  // interrupted
    std::string text;
    if (!ParseRelayDatagram(buf.data(), size_t(n), text)) continue;
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
  }
  ::close(fd);
  ::unlink(path.c_str());
  return 0;
}

}  // namespace cli
