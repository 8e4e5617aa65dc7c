// One-shot operations timed by bench/run, one per process so that each has its own peak memory.
//
//   perf_tool convert IN OUT UID     reads IN, converts it to transfer syntax UID, writes OUT
//   perf_tool pdf IN.pdf OUT_DIR     builds the Encapsulated PDF object of IN.pdf in OUT_DIR
//   perf_tool tcpcopy MEGABYTES      copies that many MiB through a loopback socket in 16 KB writes
//
// Exit status 0 on success; tcpcopy prints "<bytes> <seconds>".
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "codec/convert.h"
#include "convert/batch.h"
#include "convert/pdf_object.h"
#include "core/dcmobj.h"
#include "query/studyinfo.h"

namespace {

int Convert(const std::string& in, const std::string& out, const std::string& uid) {
  DcmObj obj;
  if (!obj.Read(in) || !ConvertTransferSyntax(obj, uid) || !obj.Write(out)) return 1;
  return 0;
}

int Pdf(const std::string& in, const std::string& dir) {
  StudyInfo study;
  study.StudyInstanceUID = "1.2.826.0.1.3680043.2.99.1";
  ConversionBatch batch;
  batch.BaseUID = "1.2.826.0.1.3680043.2.99.1.7";
  batch.SeriesUID = batch.BaseUID + ".2";
  batch.SeriesNumber = 1;
  batch.TempFolder = dir + "/";
  int32_t counter = 0;
  return BuildEncapsulatedPdf(in, study, batch, counter).empty() ? 1 : 0;
}

int TcpCopy(long megabytes) {
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len) != 0 || ::listen(listener, 1) != 0)
    return 1;
  const size_t total = static_cast<size_t>(megabytes) << 20;
  std::thread sink([listener, total] {
    int c = ::accept(listener, nullptr, nullptr);
    std::vector<char> b(1 << 16);
    size_t got = 0;
    while (got < total) {
      ssize_t n = ::recv(c, b.data(), b.size(), 0);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    ::close(c);
  });
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  auto start = std::chrono::steady_clock::now();
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return 1;
  std::vector<char> b(16384, 'x');
  size_t sent = 0;
  while (sent < total) {
    ssize_t n = ::send(fd, b.data(), std::min(b.size(), total - sent), 0);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  ::close(fd);
  sink.join();
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%zu %.6f\n", sent, s);
  ::close(listener);
  return sent == total ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "convert" && argc == 5) return Convert(argv[2], argv[3], argv[4]);
  if (mode == "pdf" && argc == 4) return Pdf(argv[2], argv[3]);
  if (mode == "tcpcopy" && argc == 3) return TcpCopy(std::atol(argv[2]));
  std::fprintf(stderr, "usage: perf_tool convert IN OUT UID | pdf IN.pdf OUT_DIR | tcpcopy MEGABYTES\n");
  return 2;
}
