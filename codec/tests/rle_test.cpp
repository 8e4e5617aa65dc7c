#include "codec/rle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/dicom_fixture.h"
#include "tests/support/log_capture.h"
#include "tests/support/peer.h"

namespace {

// Plain PackBits: replicate runs for three or more equal bytes, literals otherwise.
std::vector<uint8_t> PackBits(const std::vector<uint8_t>& in) {
  std::vector<uint8_t> out;
  size_t i = 0;
  while (i < in.size()) {
    size_t run = 1;
    while (i + run < in.size() && run < 128 && in[i + run] == in[i]) ++run;
    if (run >= 3) {
      out.push_back(uint8_t(257 - run));
      out.push_back(in[i]);
      i += run;
      continue;
    }
    size_t lit = 0;
    while (i + lit < in.size() && lit < 128) {
      if (i + lit + 2 < in.size() && in[i + lit] == in[i + lit + 1] && in[i + lit] == in[i + lit + 2]) break;
      ++lit;
    }
    out.push_back(uint8_t(lit - 1));
    out.insert(out.end(), in.begin() + i, in.begin() + i + lit);
    i += lit;
  }
  return out;
}

std::vector<uint8_t> Fragment(const std::vector<std::vector<uint8_t>>& segments) {
  std::vector<uint8_t> f(64, 0);
  auto put = [&](size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) f[at + k] = uint8_t(v >> (8 * k));
  };
  put(0, uint32_t(segments.size()));
  for (size_t s = 0; s < segments.size(); ++s) {
    put(4 + 4 * s, uint32_t(f.size()));
    f.insert(f.end(), segments[s].begin(), segments[s].end());
    if (f.size() % 2) f.push_back(0);
  }
  return f;
}

// Splits interleaved samples into planes: for 16-bit words the high bytes come first.
std::vector<std::vector<uint8_t>> Planes(const std::vector<uint8_t>& frame, int components, int sampleBytes) {
  const size_t pixels = frame.size() / (size_t(components) * sampleBytes);
  std::vector<std::vector<uint8_t>> planes;
  for (int c = 0; c < components; ++c)
    for (int b = sampleBytes - 1; b >= 0; --b) {
      std::vector<uint8_t> p(pixels);
      for (size_t i = 0; i < pixels; ++i) p[i] = frame[(i * components + c) * sampleBytes + b];
      planes.push_back(PackBits(p));
    }
  return planes;
}

bool AllZero(const std::vector<uint8_t>& v) {
  for (uint8_t b : v)
    if (b) return false;
  return true;
}

TEST(RleDecode, MonochromeSixteenBitAndRgbFrames) {
  LogCapture log;
  const auto mono = fixture::MakeFrame(33, 21, 1, 16, 4, 30);
  auto frag = Fragment(Planes(mono, 1, 2));
  std::vector<uint8_t> out(mono.size(), 0xAA);
  EXPECT_TRUE(DecodeRLEFrame("MONOCHROME2", frag.data(), out.data(), frag.size(), out.size(), 16));
  EXPECT_EQ(out, mono);

  const auto rgb = fixture::MakeFrame(33, 21, 3, 8, 5, 30);
  frag = Fragment(Planes(rgb, 3, 1));
  out.assign(rgb.size(), 0xAA);
  EXPECT_TRUE(DecodeRLEFrame("RGB ", frag.data(), out.data(), frag.size(), out.size(), 8));
  EXPECT_EQ(out, rgb);
  EXPECT_EQ(log.Text(), "");
}

TEST(RleDecode, YbrFullIsConvertedAndClamped) {
  // Pixel 0: Y = Cb = Cr = 128 -> grey 128. Pixel 1: Y = 255, Cr = 255 -> red far above 255.
  // Pixel 2: Y = 0, Cb = 0 -> blue far below 0.
  const std::vector<uint8_t> y{128, 255, 0}, cb{128, 128, 0}, cr{128, 255, 128};
  const auto frag = Fragment({PackBits(y), PackBits(cb), PackBits(cr)});
  std::vector<uint8_t> out(9, 0xAA);
  ASSERT_TRUE(DecodeRLEFrame("YBR_FULL", frag.data(), out.data(), frag.size(), out.size(), 8));
  EXPECT_EQ(out[0], 128);
  EXPECT_EQ(out[1], 128);
  EXPECT_EQ(out[2], 128);
  EXPECT_EQ(out[3], 255);  // 255 + 1.402 * 127 clamped
  EXPECT_EQ(out[4], 164);  // 255 - 0.714136 * 127 = 164.3
  EXPECT_EQ(out[5], 255);
  EXPECT_EQ(out[6], 0);    // 0 - 0 ...
  EXPECT_EQ(out[7], 44);   // 0 + 0.344136 * 128 = 44.05
  EXPECT_EQ(out[8], 0);    // 0 + 1.772 * -128 clamped
}

// Frames of 8, 16 and 32-bit samples, grey or colour, as the byte planes come (the most
// significant first): 1, 2, 4, 3, 6 and 12 segments.
std::vector<uint8_t> MixedFrame(size_t pixels, int components, int sampleBytes, uint32_t seed) {
  std::vector<uint8_t> f(pixels * size_t(components) * size_t(sampleBytes));
  for (size_t i = 0; i < f.size(); ++i) {
    seed = seed * 1103515245u + 12345u;
    f[i] = (i / 7) % 3 == 0 ? uint8_t(i / 64) : uint8_t(seed >> 16);  // runs and noise
  }
  return f;
}

TEST(RleDecode, EveryStandardSegmentLayoutDecodes) {
  LogCapture log;
  struct Case {
    const char* photometric;
    int components, bits;
  };
  for (const Case& k : {Case{"MONOCHROME2", 1, 8}, Case{"MONOCHROME1", 1, 16}, Case{"MONOCHROME2", 1, 32},
                        Case{"PALETTE COLOR", 1, 8}, Case{"RGB", 3, 8}, Case{"RGB", 3, 16}, Case{"RGB", 3, 32},
                        Case{"", 3, 16}}) {
    const auto frame = MixedFrame(12 * 9, k.components, k.bits / 8, uint32_t(k.bits + k.components));
    const auto frag = Fragment(Planes(frame, k.components, k.bits / 8));
    std::vector<uint8_t> out(frame.size(), 0xAA);
    EXPECT_TRUE(DecodeRLEFrame(k.photometric, frag.data(), out.data(), frag.size(), out.size(), k.bits))
        << k.photometric << " " << k.bits;
    EXPECT_EQ(out, frame) << k.photometric << " " << k.bits;
  }
  EXPECT_EQ(log.Text(), "");
}

TEST(RleDecode, LayoutsThatContradictTheDataSetAreRefusedWithTheFormatMessage) {
  LogCapture log;
  const auto grey16 = fixture::MakeFrame(8, 8, 1, 16);
  const auto frag2 = Fragment(Planes(grey16, 1, 2));
  std::vector<uint8_t> out(grey16.size(), 0xAA);
  EXPECT_FALSE(DecodeRLEFrame("RGB", frag2.data(), out.data(), frag2.size(), out.size(), 16));
  EXPECT_EQ(log.Count("ERROR, format not supported: segment_count=2, bitsa=16, PhotometricInterpretation=RGB"), 1);
  EXPECT_TRUE(AllZero(out));
  out.assign(grey16.size(), 0xAA);
  EXPECT_FALSE(DecodeRLEFrame("MONOCHROME2", frag2.data(), out.data(), frag2.size(), out.size(), 8));
  EXPECT_FALSE(DecodeRLEFrame("MONOCHROME2", frag2.data(), out.data(), frag2.size(), out.size(), 12));
  EXPECT_EQ(log.Count("ERROR, format not supported: segment_count=2, bitsa="), 3);
  EXPECT_TRUE(AllZero(out));
  // Three segments of 16-bit samples: neither grey nor colour.
  const auto rgb8 = fixture::MakeFrame(8, 8, 3, 8);
  const auto frag3 = Fragment(Planes(rgb8, 3, 1));
  out.assign(rgb8.size(), 0xAA);
  EXPECT_FALSE(DecodeRLEFrame("MONOCHROME2", frag3.data(), out.data(), frag3.size(), out.size(), 8));
  EXPECT_FALSE(DecodeRLEFrame("", frag3.data(), out.data(), frag3.size(), out.size(), 16));
  EXPECT_EQ(log.Count("ERROR, format not supported: segment_count=3"), 2);
}

TEST(RleDecode, OverflowingSegmentIsLoggedOnceAndTheFrameFails) {
  LogCapture log;
  // Segment 1 announces a replicate run but ends before its byte; segment 2 is fine.
  std::vector<uint8_t> high{0x02, 1, 2, 3, 0xFD};
  std::vector<uint8_t> low = PackBits(std::vector<uint8_t>(8, 9));
  auto frag = Fragment({high, low});
  // Make segment 1 end right after the control byte.
  frag.resize(64);
  frag.insert(frag.end(), high.begin(), high.end());
  const uint32_t second = uint32_t(frag.size());
  frag.insert(frag.end(), low.begin(), low.end());
  frag[8] = uint8_t(second);
  std::vector<uint8_t> out(16, 0xAA);
  EXPECT_FALSE(DecodeRLEFrame("MONOCHROME2", frag.data(), out.data(), frag.size(), out.size(), 16));
  EXPECT_EQ(log.Count("ERROR, overflow decoding RLE"), 1);
  EXPECT_TRUE(AllZero(out));

  // DecodeRLESegment on its own: the literal run is cut at the plane, the rest of scratch untouched.
  const std::vector<uint8_t> seg{0x05, 1, 2, 3, 4, 5, 6};
  std::vector<uint8_t> scratch(8, 0xEE);
  EXPECT_TRUE(DecodeRLESegment(seg.data(), scratch.data(), 0, seg.size(), 1, 4));
  EXPECT_EQ(scratch, (std::vector<uint8_t>{0xEE, 0xEE, 0xEE, 0xEE, 1, 2, 3, 4}));
}

TEST(RleDecode, MalformedHeadersAreRefusedWithoutReadingOutside) {
  LogCapture log;
  const auto mono = fixture::MakeFrame(20, 10, 1, 16, 9, 30);
  const auto good = Fragment(Planes(mono, 1, 2));
  std::vector<uint8_t> out(mono.size());
  auto refuse = [&](std::vector<uint8_t> f, const char* what) {
    out.assign(mono.size(), 0xAA);
    EXPECT_FALSE(DecodeRLEFrame("MONOCHROME2", f.data(), out.data(), f.size(), out.size(), 16)) << what;
    EXPECT_TRUE(AllZero(out)) << what;
  };
  auto with = [&](size_t at, uint32_t v) {
    auto f = good;
    for (int k = 0; k < 4; ++k) f[at + k] = uint8_t(v >> (8 * k));
    return f;
  };
  refuse(std::vector<uint8_t>(good.begin(), good.begin() + 40), "short header");
  refuse(with(0, 0), "no segments");
  refuse(with(0, 16), "sixteen segments");
  refuse(with(0, 0xFFFFFFFF), "huge count");
  refuse(with(4, 10), "offset inside the header");
  refuse(with(8, 60), "descending offsets");
  refuse(with(8, uint32_t(good.size() + 10)), "offset past the fragment");
  refuse(std::vector<uint8_t>(good.begin(), good.end() - 20), "cut fragment");
  EXPECT_EQ(log.Count("ERROR, format not supported: segment_count="), 7);
  EXPECT_FALSE(DecodeRLEFrame("MONOCHROME2", nullptr, out.data(), 0, out.size(), 16));

  // Random damage never reads or writes out of bounds (the sanitizer build watches this).
  uint32_t state = 3;
  auto next = [&] { return state = state * 1664525u + 1013904223u; };
  for (int round = 0; round < 500; ++round) {
    auto f = good;
    for (int k = 0; k < 4; ++k) f[next() % f.size()] = uint8_t(next() >> 24);
    f.resize(next() % (f.size() + 1));
    std::vector<uint8_t> heap(f.begin(), f.end());  // exactly sized so overruns are caught
    std::vector<uint8_t> slice(mono.size());
    DecodeRLEFrame((round & 1) ? "RGB" : "MONOCHROME2", heap.data(), slice.data(), heap.size(), slice.size(), 16);
  }
}

class RleToolkit : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testsupport::MakeTempDir("codec_rle"); }
  void TearDown() override { testsupport::RemoveTree(dir_); }
  void Tool(const std::string& program, std::vector<std::string> args) {
    const std::string exe = testsupport::FindProgram(program);
    ASSERT_FALSE(exe.empty()) << program << " is not installed (scripts/install-deps --test)";
    args.insert(args.begin(), exe);
    std::string output;
    ASSERT_EQ(testsupport::Run(args, &output), 0) << program << ": " << output;
  }
  std::string dir_;
};

TEST_F(RleToolkit, ToolkitFramesDecodeBitExact) {
  struct Case {
    int components, bits;
    const char* photometric;
  };
  for (const Case& k : {Case{1, 16, "MONOCHROME2"}, Case{3, 8, "RGB"}}) {
    fixture::Image raw;
    raw.rows = 47;
    raw.columns = 61;
    raw.samples = k.components;
    raw.bitsAllocated = raw.bitsStored = k.bits;
    raw.photometric = k.photometric;
    raw.pixels = fixture::MakeFrame(raw.columns, raw.rows, k.components, k.bits, 17, 30);
    const std::string in = dir_ + "/raw.dcm", rle = dir_ + "/rle.dcm", dec = dir_ + "/dec.dcm";
    ASSERT_TRUE(fixture::WriteImage(in, raw));
    Tool("dcmcrle", {in, rle});
    Tool("dcmdrle", {rle, dec});
    fixture::Image c, d;
    ASSERT_TRUE(fixture::ReadImage(rle, &c));
    ASSERT_TRUE(fixture::ReadImage(dec, &d));
    ASSERT_EQ(c.fragments.size(), 1u);
    std::vector<uint8_t> out(raw.FrameBytes(), 0xAA);
    EXPECT_TRUE(DecodeRLEFrame(c.photometric, c.fragments[0].data(), out.data(), c.fragments[0].size(), out.size(),
                               k.bits));
    EXPECT_EQ(out, raw.pixels) << k.photometric;
    EXPECT_EQ(d.pixels, raw.pixels) << k.photometric;
  }
}

}  // namespace

// Fragments built here for every layout decode as DCMTK decodes them.
TEST_F(RleToolkit, HandBuiltLayoutsDecodeLikeTheToolkit) {
  struct Case {
    int components, bits;
    const char* photometric;
  };
  for (const Case& k : {Case{1, 8, "MONOCHROME2"}, Case{1, 16, "MONOCHROME2"}, Case{1, 32, "MONOCHROME2"},
                        Case{3, 8, "RGB"}, Case{3, 16, "RGB"}, Case{3, 32, "RGB"}}) {
    fixture::Image img;
    img.rows = 9;
    img.columns = 13;
    img.samples = k.components;
    img.bitsAllocated = img.bitsStored = k.bits;
    img.photometric = k.photometric;
    img.planar = 0;
    img.transferSyntax = "1.2.840.10008.1.2.5";
    const auto frame = MixedFrame(size_t(img.rows) * size_t(img.columns), k.components, k.bits / 8, 99);
    img.fragments = {Fragment(Planes(frame, k.components, k.bits / 8))};
    const std::string rle = dir_ + "/rle.dcm", dec = dir_ + "/dec.dcm";
    ASSERT_TRUE(fixture::WriteImage(rle, img));
    Tool("dcmdrle", {rle, dec});
    fixture::Image d;
    ASSERT_TRUE(fixture::ReadImage(dec, &d));
    std::vector<uint8_t> out(img.FrameBytes(), 0xAA);
    EXPECT_TRUE(DecodeRLEFrame(k.photometric, img.fragments[0].data(), out.data(), img.fragments[0].size(),
                               out.size(), k.bits));
    EXPECT_EQ(d.pixels, frame) << k.components << " x " << k.bits;
    EXPECT_EQ(out, d.pixels) << k.components << " x " << k.bits;
  }
}
