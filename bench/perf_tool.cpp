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

#include "bench/loopback_copy.h"
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
  const size_t total = static_cast<size_t>(megabytes) << 20;
  auto [sent, seconds] = LoopbackCopy(total, 16384);
  std::printf("%zu %.6f\n", sent, seconds);
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
