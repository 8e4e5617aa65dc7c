// Frame codec throughput: an A4 300 dpi colour page (baseline JPEG), a 512 x 512 16-bit frame
// (lossless JPEG) and JPEG 2000 lossless and rate 10 on the 16-bit frame.
// codec_bench --write-fixtures DIR writes the same frames as Part 10 files (raw and coded by us)
// so that bench/codec.sh can time the DICOM toolkit on them in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "codec/j2k.h"
#include "codec/jpeg.h"
#include "tests/support/dicom_fixture.h"
#include "core/transfer_syntax.h"

namespace {

constexpr int kPageW = 2480, kPageH = 3508;  // A4 at 300 dpi
constexpr int kCtSize = 512;

// White paper, dark text-like strokes and a colour photograph block.
const std::vector<uint8_t>& Page() {
  static const std::vector<uint8_t> page = [] {
    std::vector<uint8_t> p(size_t(kPageW) * kPageH * 3, 0xFF);
    uint32_t s = 7;
    auto rnd = [&](int lo, int hi) {
      s = s * 1664525u + 1013904223u;
      return lo + int((s >> 8) % uint32_t(hi - lo + 1));
    };
    for (int line = 0; line < 90; ++line) {
      const int y0 = 300 + line * 34;
      int x = 220;
      while (x < kPageW - 220) {
        const int n = rnd(20, 110);
        for (int y = y0; y < y0 + 18; ++y)
          for (int k = x; k < std::min(x + n, kPageW - 220); ++k) {
            uint8_t* q = &p[(size_t(y) * kPageW + k) * 3];
            q[0] = 30, q[1] = 30, q[2] = 40;
          }
        x += n + rnd(10, 26);
      }
    }
    for (int y = 450; y < 1350; ++y)
      for (int x = 1350; x < 2250; ++x) {
        uint8_t* q = &p[(size_t(y) * kPageW + x) * 3];
        q[0] = uint8_t(x * 3), q[1] = uint8_t(y * 2), q[2] = uint8_t((x + y) / 3);
      }
    return p;
  }();
  return page;
}

// Smooth rings with noise, 12 significant bits in 16-bit words.
const std::vector<uint8_t>& Ct() {
  static const std::vector<uint8_t> ct = [] {
    std::vector<uint8_t> c(size_t(kCtSize) * kCtSize * 2);
    uint32_t s = 3;
    for (int y = 0; y < kCtSize; ++y)
      for (int x = 0; x < kCtSize; ++x) {
        s = s * 1664525u + 1013904223u;
        const double d = std::sqrt(double((x - 256) * (x - 256) + (y - 256) * (y - 256)));
        int v = d > 240 ? 0 : int(1024 + 300 * (1 + std::fmod(d, 40.0) / 40.0)) + int((s >> 24) % 41) - 20;
        v = std::max(0, std::min(4095, v));
        c[(size_t(y) * kCtSize + x) * 2] = uint8_t(v & 0xFF);
        c[(size_t(y) * kCtSize + x) * 2 + 1] = uint8_t(v >> 8);
      }
    return c;
  }();
  return ct;
}

void EncodeBaselinePage(benchmark::State& state) {
  const auto& page = Page();
  std::vector<uint8_t> out;
  for (auto _ : state) {
    if (EncodeJPEG8(kPageW, kPageH, 3, page.data(), page.size(), out, 0) != 0) state.SkipWithError("encode");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(page.size()));
  state.counters["stream_bytes"] = double(out.size());
}

void DecodeBaselinePage(benchmark::State& state) {
  const auto& page = Page();
  std::vector<uint8_t> stream, out(page.size());
  EncodeJPEG8(kPageW, kPageH, 3, page.data(), page.size(), stream, 0);
  for (auto _ : state) {
    if (DecodeJPEG8(stream.data(), out.data(), stream.size(), out.size()) != 0) state.SkipWithError("decode");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(page.size()));
}

void EncodeLossless16(benchmark::State& state) {
  const auto& ct = Ct();
  std::vector<uint8_t> out;
  for (auto _ : state) {
    if (EncodeJPEG16(kCtSize, kCtSize, 1, ct.data(), ct.size(), out) != 0) state.SkipWithError("encode");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(ct.size()));
  state.counters["stream_bytes"] = double(out.size());
}

void DecodeLossless16(benchmark::State& state) {
  const auto& ct = Ct();
  std::vector<uint8_t> stream, out(ct.size());
  EncodeJPEG16(kCtSize, kCtSize, 1, ct.data(), ct.size(), stream);
  for (auto _ : state) {
    if (DecodeJPEG16(stream.data(), out.data(), stream.size(), out.size()) != 0) state.SkipWithError("decode");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(ct.size()));
}

void EncodeJ2K16(benchmark::State& state) {
  const auto& ct = Ct();
  const int rate = int(state.range(0));
  std::vector<uint8_t> out;
  for (auto _ : state) {
    if (!EncodeJ2KFrame(ct.data(), ct.size(), out, kCtSize, kCtSize, 1, 16, rate)) state.SkipWithError("encode");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(ct.size()));
  state.counters["stream_bytes"] = double(out.size());
}

void DecodeJ2K16(benchmark::State& state) {
  const auto& ct = Ct();
  std::vector<uint8_t> stream, out(ct.size());
  EncodeJ2KFrame(ct.data(), ct.size(), stream, kCtSize, kCtSize, 1, 16, int(state.range(0)));
  for (auto _ : state) {
    if (!DecodeJ2KFrame(stream.data(), out.data(), stream.size(), out.size())) state.SkipWithError("decode");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(ct.size()));
}

BENCHMARK(EncodeBaselinePage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DecodeBaselinePage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(EncodeLossless16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DecodeLossless16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(EncodeJ2K16)->Arg(0)->Arg(10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DecodeJ2K16)->Arg(0)->Arg(10)->Unit(benchmark::kMillisecond)->UseRealTime();

fixture::Image Frame(int w, int h, int comps, int bits, const std::string& photometric, std::vector<uint8_t> px) {
  fixture::Image img;
  img.columns = w;
  img.rows = h;
  img.samples = comps;
  img.bitsAllocated = bits > 8 ? 16 : 8;
  img.bitsStored = bits;
  img.photometric = photometric;
  img.pixels = std::move(px);
  return img;
}

int WriteFixtures(const std::string& dir) {
  auto page = Frame(kPageW, kPageH, 3, 8, "RGB", Page());
  auto ct = Frame(kCtSize, kCtSize, 1, 12, "MONOCHROME2", Ct());
  std::vector<uint8_t> s;
  bool ok = fixture::WriteImage(dir + "/page.dcm", page) && fixture::WriteImage(dir + "/ct.dcm", ct);
  ok = ok && EncodeJPEG8(kPageW, kPageH, 3, Page().data(), Page().size(), s, 0) == 0;
  auto pageJpeg = page;
  pageJpeg.photometric = "YBR_FULL";
  pageJpeg.pixels.clear();
  pageJpeg.fragments = {s};
  pageJpeg.transferSyntax = kTsJpegBaseline;
  ok = ok && fixture::WriteImage(dir + "/page_ours.dcm", pageJpeg);
  ok = ok && EncodeJPEG16(kCtSize, kCtSize, 1, Ct().data(), Ct().size(), s) == 0;
  auto ctJpeg = ct;
  ctJpeg.pixels.clear();
  ctJpeg.fragments = {s};
  ctJpeg.transferSyntax = kTsJpegLossless;
  ok = ok && fixture::WriteImage(dir + "/ct_ours.dcm", ctJpeg);
  // The 16-bit frame as a big-endian PGM for OpenJPEG's own tools.
  std::string head = "P5\n512 512\n4095\n";
  std::vector<uint8_t> pgm(head.begin(), head.end());
  for (size_t i = 0; i < Ct().size(); i += 2) pgm.push_back(Ct()[i + 1]), pgm.push_back(Ct()[i]);
  ok = ok && fixture::WriteFile(dir + "/ct.pgm", pgm);
  ok = ok && EncodeJ2KFrame(Ct().data(), Ct().size(), s, kCtSize, kCtSize, 1, 16, 0) && fixture::WriteFile(dir + "/ct.j2k", s);
  std::fprintf(ok ? stdout : stderr, ok ? "fixtures written to %s\n" : "could not write fixtures to %s\n", dir.c_str());
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--write-fixtures") == 0) return WriteFixtures(argv[2]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
