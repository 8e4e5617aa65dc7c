// Long-running C-STORE load against a real peer, sampling resident memory and open descriptors.
//   scrivara_soak PORT one COUNT     COUNT stores over one association
//   scrivara_soak PORT many COUNT    COUNT associations in a row, one store each
// Prints "sample <n> rss_kb <kb> fds <n>" every COUNT/20 operations and at start and end, then
// "done <ok> of <count>"; exits 1 when any store failed.
#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "core/dcmobj.h"
#include "net/dimse.h"
#include "net/pdu_service.h"
#include "tests/support/small_image.h"

namespace {

constexpr const char kSecondaryCapture[] = "1.2.840.10008.5.1.4.1.1.7";

long ResidentKB() {
  std::ifstream f("/proc/self/status");
  for (std::string line; std::getline(f, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

int OpenDescriptors() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') ++n;
    ::closedir(d);
    --n;  // the listing's own descriptor
  }
  return n;
}

void Sample(long n) { std::printf("sample %ld rss_kb %ld fds %d\n", n, ResidentKB(), OpenDescriptors()); std::fflush(stdout); }

// A 64x64 8-bit secondary capture image in implicit VR little endian.
DcmObj Image(long n) {
  DcmObj obj = testsupport::SmallImage("1.2.826.0.1.3680043.2.1143.77." + std::to_string(n), 64, 1,
                                       static_cast<uint8_t>(n));
  obj.transferSyntax = kTsImplicitLE;
  obj.explicitVR = false;
  obj.SetText(0x0008, 0x0060, "OT");
  obj.SetText(0x0010, 0x0010, "Soak^Test");
  obj.SetText(0x0010, 0x0020, "SOAK1");
  obj.SetText(0x0020, 0x000D, "1.2.826.0.1.3680043.2.1143.77");
  obj.SetText(0x0020, 0x000E, "1.2.826.0.1.3680043.2.1143.77.2");
  return obj;
}

bool StoreOne(PDU_Service& pdu, long n) {
  DcmObj obj = Image(n);
  return StoreSCU(pdu, obj, kSecondaryCapture) == 0 && CStore::ReadRSP(&pdu) == 0;
}

bool Open(PDU_Service& pdu, const std::string& port) {
  return OpenAssociation(pdu, "SCRIVARA", "STORESCP", "127.0.0.1", port, kSecondaryCapture, 30);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[2], "one") != 0 && std::strcmp(argv[2], "many") != 0)) {
    std::fprintf(stderr, "usage: scrivara_soak PORT one|many COUNT\n");
    return 2;
  }
  const std::string port = argv[1];
  const bool one = std::strcmp(argv[2], "one") == 0;
  const long count = std::strtol(argv[3], nullptr, 10);
  const long every = count >= 20 ? count / 20 : 1;
  long ok = 0;
  Sample(0);
  if (one) {
    PDU_Service pdu;
    if (!Open(pdu, port)) {
      std::fprintf(stderr, "association refused\n");
      return 1;
    }
    for (long n = 1; n <= count; ++n) {
      if (StoreOne(pdu, n)) ++ok;
      if (n % every == 0) Sample(n);
    }
    pdu.Close();
  } else {
    for (long n = 1; n <= count; ++n) {
      PDU_Service pdu;
      if (Open(pdu, port) && StoreOne(pdu, n)) ++ok;
      pdu.Close();
      if (n % every == 0) Sample(n);
    }
  }
  Sample(count);
  std::printf("done %ld of %ld\n", ok, count);
  return ok == count ? 0 : 1;
}
