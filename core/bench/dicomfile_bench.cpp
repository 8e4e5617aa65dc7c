// Reading and writing a large DICOM file (hundreds of MB of pixel data, thousands of header
// elements): throughput and peak memory. bench/dicomfile.sh runs it next to DCMTK's dcmconv.
//
//   dicomfile_bench --make=PATH [--pixel_mb=N] [--elements=N]   writes the test file and exits
//   dicomfile_bench --convert=IN --out=OUT                      one read and write, as dcmconv does
//   dicomfile_bench [--file=PATH] [benchmark flags]             runs the benchmarks on it
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "core/dcmobj.h"
#include "core/transfer_syntax.h"

namespace {

std::string g_file;
std::string g_out;

double peakMB() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_maxrss) / 1024.0;  // ru_maxrss is in KB on Linux
}

double fileBytes(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<double>(st.st_size) : 0.0;
}

bool makeFile(const std::string& path, size_t pixelMB, int elements) {
  DcmObj o;
  o.transferSyntax = kTsExplicitLE;
  o.explicitVR = true;
  o.SetText(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7.3");
  o.SetText(0x0008, 0x0018, "1.2.3.4.5.6.7.8.9.10");
  o.SetText(0x0008, 0x0060, "OT");
  o.SetText(0x0010, 0x0010, "Bench^Mark");
  o.SetText(0x0010, 0x0020, "BENCH1");
  // Private elements (0009,1000)... and a defined-length sequence of items: the header.
  o.Insert(DcmTag(0x0009, 0x0010, std::string("BENCH"), "LO"));
  const int privateCount = elements / 2;
  for (int i = 0; i < privateCount; ++i)
    o.Insert(DcmTag(0x0009, static_cast<uint16_t>(0x1000 + i), "value " + std::to_string(i), "LO"));
  auto seq = std::make_unique<DcmObj>();
  for (int i = 0; i < (elements - privateCount) / 3; ++i) {
    auto item = std::make_unique<DcmObj>();
    item->SetText(0x0008, 0x0100, std::string("C").append(std::to_string(i)));
    item->SetText(0x0008, 0x0102, "DCM");
    item->SetText(0x0008, 0x0104, "Meaning " + std::to_string(i));
    seq->InsertSequence(0xFFFE, 0xE000, std::move(item));
  }
  o.InsertSequence(0x0040, 0xA043, std::move(seq));
  const uint32_t frames = static_cast<uint32_t>(pixelMB / 2);  // 1024 x 1024 x 16 bit = 2 MB a frame
  o.Insert(DcmTag::Number16(0x0028, 0x0002, 1));
  o.SetText(0x0028, 0x0004, "MONOCHROME2");
  o.SetText(0x0028, 0x0008, std::to_string(frames));
  o.Insert(DcmTag::Number16(0x0028, 0x0010, 1024));
  o.Insert(DcmTag::Number16(0x0028, 0x0011, 1024));
  o.Insert(DcmTag::Number16(0x0028, 0x0100, 16));
  o.Insert(DcmTag::Number16(0x0028, 0x0101, 16));
  o.Insert(DcmTag::Number16(0x0028, 0x0102, 15));
  o.Insert(DcmTag::Number16(0x0028, 0x0103, 0));
  ByteBuffer px(static_cast<size_t>(frames) * 1024 * 1024 * 2);
  for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
  o.Insert(DcmTag(0x7FE0, 0x0010, std::move(px), "OW"));
  return o.Write(path);
}

void BM_ReadFile(benchmark::State& state) {
  const double bytes = fileBytes(g_file);
  for (auto _ : state) {
    DcmObj o;
    if (!o.Read(g_file)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(o.Count());
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes * static_cast<double>(state.iterations())));
  state.counters["file_MB"] = bytes / 1048576.0;
  state.counters["peak_MB"] = peakMB();
}

void BM_WriteFile(benchmark::State& state) {
  DcmObj o;
  if (!o.Read(g_file)) state.SkipWithError("read failed");
  const double bytes = fileBytes(g_file);
  for (auto _ : state) {
    if (!o.Write(g_out)) state.SkipWithError("write failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes * static_cast<double>(state.iterations())));
  state.counters["file_MB"] = bytes / 1048576.0;
  state.counters["peak_MB"] = peakMB();
}

// What dcmconv does: read the file and write it again.
void BM_ReadWriteFile(benchmark::State& state) {
  const double bytes = fileBytes(g_file);
  for (auto _ : state) {
    DcmObj o;
    if (!o.Read(g_file) || !o.Write(g_out)) state.SkipWithError("read or write failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes * static_cast<double>(state.iterations())));
  state.counters["file_MB"] = bytes / 1048576.0;
  state.counters["peak_MB"] = peakMB();
}

BENCHMARK(BM_ReadFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_WriteFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadWriteFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);

std::string flagValue(const char* arg, const char* name) {
  const size_t n = std::strlen(name);
  return std::strncmp(arg, name, n) == 0 ? std::string(arg + n) : std::string();
}

}  // namespace

int main(int argc, char** argv) {
  std::string make, convert, out;
  size_t pixelMB = 320;
  int elements = 3000;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    std::string v;
    if (!(v = flagValue(argv[i], "--make=")).empty())
      make = v;
    else if (!(v = flagValue(argv[i], "--convert=")).empty())
      convert = v;
    else if (!(v = flagValue(argv[i], "--out=")).empty())
      out = v;
    else if (!(v = flagValue(argv[i], "--file=")).empty())
      g_file = v;
    else if (!(v = flagValue(argv[i], "--pixel_mb=")).empty())
      pixelMB = std::stoul(v);
    else if (!(v = flagValue(argv[i], "--elements=")).empty())
      elements = std::stoi(v);
    else
      argv[kept++] = argv[i];
  }
  argc = kept;
  if (!make.empty()) return makeFile(make, pixelMB, elements) ? 0 : 1;
  if (!convert.empty()) {
    DcmObj o;
    return o.Read(convert) && o.Write(out) ? 0 : 1;
  }
  bool ownFile = false;
  if (g_file.empty()) {
    g_file = "/tmp/dicomfile_bench_" + std::to_string(::getpid()) + ".dcm";
    if (!makeFile(g_file, pixelMB, elements)) return 1;
    ownFile = true;
  }
  g_out = g_file + ".out.dcm";
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::remove(g_out.c_str());
  if (ownFile) std::remove(g_file.c_str());
  return 0;
}
