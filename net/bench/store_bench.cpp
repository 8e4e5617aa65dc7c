// Throughput of C-STORE over one association, and of a plain TCP copy on the loopback interface.
//
//   store_bench send HOST PORT CALLED_AE FILE...   sends every file with StoreSCU over one association
//   store_bench tcpcopy MEGABYTES                   copies that many MiB through a loopback socket
//
// Each prints one line: "<what> <bytes> bytes <seconds> s <MB/s> MB/s".
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/loopback_copy.h"
#include "core/dcmobj.h"
#include "net/dimse.h"

namespace {

using Clock = std::chrono::steady_clock;

void Report(const char* what, double bytes, Clock::duration took) {
  double s = std::chrono::duration<double>(took).count();
  std::printf("%s %.0f bytes %.3f s %.1f MB/s\n", what, bytes, s, bytes / s / 1e6);
}

int Send(const std::string& host, const std::string& port, const std::string& called, const std::vector<std::string>& files) {
  auto start = Clock::now();
  DcmObj first;
  if (!first.Read(files.front())) {
    std::fprintf(stderr, "cannot read %s\n", files.front().c_str());
    return 1;
  }
  std::string sopClass = first.GetString(0x0008, 0x0016);
  PDU_Service pdu;
  if (!OpenAssociation(pdu, "STOREBENCH", called, host, port, sopClass, first.transferSyntax, "", 60)) {
    std::fprintf(stderr, "association failed\n");
    return 1;
  }
  double bytes = 0;
  int sent = 0;
  for (const auto& f : files) {
    DcmObj obj;
    if (!obj.Read(f)) continue;
    struct stat st {};
    if (::stat(f.c_str(), &st) == 0) bytes += static_cast<double>(st.st_size);
    if (StoreSCU(pdu, obj, sopClass) == 0 && CStore::ReadRSP(&pdu) == 0) ++sent;
  }
  pdu.Close();
  Report("StoreSCU", bytes, Clock::now() - start);
  std::fprintf(stderr, "%d of %zu objects accepted\n", sent, files.size());
  return sent == static_cast<int>(files.size()) ? 0 : 1;
}

int TcpCopy(long megabytes) {
  auto [sent, seconds] = LoopbackCopy(static_cast<size_t>(megabytes) << 20, 16384);
  Report("tcpcopy", static_cast<double>(sent),
         std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "send" && argc > 5) return Send(argv[2], argv[3], argv[4], std::vector<std::string>(argv + 5, argv + argc));
  if (mode == "tcpcopy" && argc > 2) return TcpCopy(std::atol(argv[2]));
  std::fprintf(stderr, "usage: store_bench send HOST PORT CALLED_AE FILE... | store_bench tcpcopy MEGABYTES\n");
  return 2;
}
