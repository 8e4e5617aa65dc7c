// Transfer syntax conversion of Part 10 files, file to file (read, convert, write) and in memory.
// Usage: convert_bench --input=FILE --targets=UID[,UID...] [--out=DIR] [benchmark options]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "codec/convert.h"
#include "core/dcmobj.h"
#include "core/log.h"
#include "core/transfer_syntax.h"

namespace {

std::string ShortName(const std::string& uid) {
  if (uid == kTsImplicitLE) return "implicit";
  if (uid == kTsExplicitLE) return "explicit";
  if (uid == kTsExplicitBE) return "big-endian";
  if (uid == kTsJpegBaseline) return "baseline";
  if (uid == kTsJpegExtended) return "extended12";
  if (uid == kTsJpegLossless) return "lossless";
  if (uid == kTsJ2KLossless) return "j2k-lossless";
  if (uid == kTsJ2K) return "j2k";
  return uid;
}

void FileToFile(benchmark::State& state, std::string input, std::string target, std::string out) {
  for (auto _ : state) {
    DcmObj obj;
    if (!obj.Read(input) || !ConvertTransferSyntax(obj, target) || !obj.Write(out)) {
      state.SkipWithError("conversion failed (see log)");
      break;
    }
  }
}

void InMemory(benchmark::State& state, std::string input, std::string target) {
  DcmObj original;
  if (!original.Read(input)) {
    state.SkipWithError("read failed");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    auto copy = original.Clone();
    state.ResumeTiming();
    if (!ConvertTransferSyntax(*copy, target)) {
      state.SkipWithError("conversion failed (see log)");
      break;
    }
    benchmark::DoNotOptimize(copy->Count());
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> inputs, targets;
  std::string outDir = "/tmp";
  std::vector<char*> rest;
  rest.push_back(argv[0]);
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("--input=", 0) == 0) {
      inputs.push_back(a.substr(8));
    } else if (a.rfind("--targets=", 0) == 0) {
      std::string t = a.substr(10);
      for (size_t p = 0; p <= t.size();) {
        size_t q = t.find(',', p);
        if (q == std::string::npos) q = t.size();
        if (q > p) targets.push_back(t.substr(p, q - p));
        p = q + 1;
      }
    } else if (a.rfind("--out=", 0) == 0) {
      outDir = a.substr(6);
    } else {
      rest.push_back(argv[i]);
    }
  }
  if (inputs.empty() || targets.empty()) {
    std::fprintf(stderr, "usage: %s --input=FILE --targets=UID[,UID...] [--out=DIR]\n", argv[0]);
    return 2;
  }
  InitLog(outDir + "/convert_bench.log", "", "");
  for (const auto& in : inputs) {
    std::string base = in.substr(in.find_last_of('/') + 1);
    for (const auto& t : targets) {
      const std::string out = outDir + "/" + base + "." + ShortName(t) + ".dcm";
      benchmark::RegisterBenchmark(("file/" + base + "/" + ShortName(t)).c_str(), FileToFile, in, t, out)
          ->Unit(benchmark::kMillisecond)
          ->MeasureProcessCPUTime()
          ->UseRealTime();
      benchmark::RegisterBenchmark(("memory/" + base + "/" + ShortName(t)).c_str(), InMemory, in, t)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
    }
  }
  int n = static_cast<int>(rest.size());
  benchmark::Initialize(&n, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  CloseLog();
  return 0;
}
