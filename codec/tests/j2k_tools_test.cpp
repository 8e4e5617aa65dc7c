#include "codec/j2k.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/dicom_fixture.h"
#include "tests/support/peer.h"

namespace {

using fixture::MakeFrame;

bool AllZero(const std::vector<uint8_t>& v) {
  for (uint8_t b : v)
    if (b) return false;
  return true;
}

std::vector<uint8_t> RoundTrip(const std::vector<uint8_t>& frame, int w, int h, int comps, int bits, int rate,
                               std::vector<uint8_t>* stream) {
  EXPECT_TRUE(EncodeJ2KFrame(frame.data(), frame.size(), *stream, w, h, comps, bits, rate));
  std::vector<uint8_t> back(frame.size(), 0xAA);
  EXPECT_TRUE(DecodeJ2KFrame(stream->data(), back.data(), stream->size(), back.size()));
  return back;
}

TEST(J2kFrames, LosslessIsBitExactAtEightAndSixteenBits) {
  std::vector<uint8_t> s;
  for (int comps : {1, 3}) {
    const auto f8 = MakeFrame(70, 45, comps, 8, 2, 40);
    EXPECT_EQ(RoundTrip(f8, 70, 45, comps, 8, 0, &s), f8) << comps;
    ASSERT_GE(s.size(), 2u);
    EXPECT_EQ(s[0], 0xFF);
    EXPECT_EQ(s[1], 0x4F);  // SOC: a raw code stream
    const auto f16 = MakeFrame(70, 45, comps, 16, 3, 40);
    EXPECT_EQ(RoundTrip(f16, 70, 45, comps, 16, 0, &s), f16) << comps;
  }
  // Tiny frames (fewer resolution levels) work too.
  const auto tiny = MakeFrame(5, 3, 1, 8);
  EXPECT_EQ(RoundTrip(tiny, 5, 3, 1, 8, 0, &s), tiny);
}

TEST(J2kFrames, RateTenGivesAboutATenthOfTheFrame) {
  const auto frame = MakeFrame(256, 200, 1, 8, 4, 120);  // noisy: lossless would be far larger
  std::vector<uint8_t> s;
  const auto back = RoundTrip(frame, 256, 200, 1, 8, 10, &s);
  EXPECT_GT(s.size(), frame.size() / 14);
  EXPECT_LT(s.size(), frame.size() / 8);
  EXPECT_LT(fixture::MaxDifference(frame, back, 1), 128);
}

TEST(J2kFrames, ImageBuilderAndEncoderRefuseBadFrames) {
  struct Destroy {
    void operator()(opj_image_t* i) const { opj_image_destroy(i); }
  };
  using Image = std::unique_ptr<opj_image_t, Destroy>;
  const auto f = MakeFrame(8, 8, 3, 8);
  EXPECT_EQ(Image(RawToJ2KImage(f.data(), f.size() - 1, 8, 8, 3, 8, false)), nullptr);
  EXPECT_EQ(Image(RawToJ2KImage(f.data(), f.size(), 8, 8, 2, 8, false)), nullptr);
  EXPECT_EQ(Image(RawToJ2KImage(f.data(), f.size(), 0, 8, 1, 8, false)), nullptr);
  Image img(RawToJ2KImage(f.data(), f.size(), 8, 8, 3, 8, false));
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->numcomps, 3u);
  EXPECT_EQ(img->color_space, OPJ_CLRSPC_SRGB);
  EXPECT_EQ(img->comps[1].data[1], f[4]);  // G of pixel 1
  Image s16(RawToJ2KImage(f.data(), f.size(), 4, 4, 1, 16, true));
  ASSERT_NE(s16, nullptr);
  EXPECT_EQ(s16->comps[0].data[0], int16_t(f[0] | (f[1] << 8)));
  std::vector<uint8_t> out{1};
  EXPECT_FALSE(EncodeJ2KFrame(f.data(), 10, out, 8, 8, 3, 8, 0));
  EXPECT_TRUE(out.empty());
}

TEST(J2kFrames, TruncatedCorruptEmptyAndOversizedStreamsFail) {
  const auto frame = MakeFrame(64, 48, 3, 8, 6, 40);
  std::vector<uint8_t> s;
  ASSERT_TRUE(EncodeJ2KFrame(frame.data(), frame.size(), s, 64, 48, 3, 8, 0));
  std::vector<uint8_t> out(frame.size(), 0xAA);
  EXPECT_FALSE(DecodeJ2KFrame(nullptr, out.data(), 0, out.size()));
  EXPECT_TRUE(AllZero(out));
  out.assign(frame.size(), 0xAA);
  EXPECT_FALSE(DecodeJ2KFrame(s.data(), out.data(), 40, out.size()));
  EXPECT_TRUE(AllZero(out));
  // One byte too small a slice: refused, nothing written past it.
  std::vector<uint8_t> guarded(frame.size() + 16, 0xAA);
  EXPECT_FALSE(DecodeJ2KFrame(s.data(), guarded.data(), s.size(), frame.size() - 1));
  for (size_t i = 0; i < guarded.size(); ++i) ASSERT_EQ(guarded[i], i < frame.size() - 1 ? 0 : 0xAA);

  uint32_t state = 9;
  auto next = [&] { return state = state * 1664525u + 1013904223u; };
  for (int round = 0; round < 120; ++round) {
    auto c = s;
    for (int k = 0; k < 1 + int(next() % 4); ++k) c[next() % std::min<size_t>(c.size(), 300)] = uint8_t(next() >> 24);
    if (round % 3 == 0) c.resize(next() % c.size());
    std::vector<uint8_t> heap(c.begin(), c.end());
    std::vector<uint8_t> slice(frame.size() + 8, 0x5C);
    DecodeJ2KFrame(heap.data(), slice.data(), heap.size(), frame.size());
    for (size_t i = frame.size(); i < slice.size(); ++i) ASSERT_EQ(slice[i], 0x5C);
  }
}

// ---- cross-checks against OpenJPEG's own tools

std::vector<uint8_t> Netpbm(const std::vector<uint8_t>& frame, int w, int h, int comps, int bits) {
  const std::string head = std::string(comps == 3 ? "P6" : "P5") + "\n" + std::to_string(w) + " " +
                           std::to_string(h) + "\n" + std::to_string((1 << bits) - 1) + "\n";
  std::vector<uint8_t> b(head.begin(), head.end());
  for (size_t i = 0; i < frame.size(); i += bits > 8 ? 2 : 1) {
    if (bits > 8) {
      b.push_back(frame[i + 1]);  // big endian samples
      b.push_back(frame[i]);
    } else {
      b.push_back(frame[i]);
    }
  }
  return b;
}

// The samples of a binary PGM/PPM file (its header may carry comment lines): the last bytes.
std::vector<uint8_t> FromNetpbm(const std::vector<uint8_t>& b, size_t frameBytes, int bits) {
  if (b.size() < frameBytes) return {};
  std::vector<uint8_t> f(b.end() - frameBytes, b.end());
  if (bits > 8)
    for (size_t i = 0; i + 1 < f.size(); i += 2) std::swap(f[i], f[i + 1]);
  return f;
}

class J2kTools : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testsupport::MakeTempDir("codec_j2k"); }
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

TEST_F(J2kTools, LosslessStreamsInteroperateBitExact) {
  struct Case {
    int comps, bits;
  };
  for (const Case& k : {Case{1, 8}, Case{3, 8}, Case{1, 16}}) {
    const int w = 83, h = 57;
    const auto frame = MakeFrame(w, h, k.comps, k.bits, 8, 40);
    const std::string ext = k.comps == 3 ? ".ppm" : ".pgm";
    const std::string in = dir_ + "/in" + ext, j2k = dir_ + "/tool.j2k", ours = dir_ + "/ours.j2k",
                      back = dir_ + "/back" + ext;
    ASSERT_TRUE(fixture::WriteFile(in, Netpbm(frame, w, h, k.comps, k.bits)));
    // Their stream, our decoder.
    Tool("opj_compress", {"-i", in, "-o", j2k});
    std::vector<uint8_t> s;
    ASSERT_TRUE(fixture::ReadFile(j2k, &s));
    std::vector<uint8_t> out(frame.size(), 0xAA);
    EXPECT_TRUE(DecodeJ2KFrame(s.data(), out.data(), s.size(), out.size()));
    EXPECT_EQ(out, frame) << k.comps << "x" << k.bits;
    // Our stream, their decoder.
    ASSERT_TRUE(EncodeJ2KFrame(frame.data(), frame.size(), s, w, h, k.comps, k.bits, 0));
    ASSERT_TRUE(fixture::WriteFile(ours, s));
    Tool("opj_decompress", {"-i", ours, "-o", back});
    std::vector<uint8_t> b;
    ASSERT_TRUE(fixture::ReadFile(back, &b));
    EXPECT_EQ(FromNetpbm(b, frame.size(), k.bits), frame) << k.comps << "x" << k.bits;
  }
}

}  // namespace
