#include "codec/jpeg.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

#include "codec/convert.h"
#include "codec/tests/convert_test_util.h"
#include "tests/support/dicom_fixture.h"
#include "tests/support/peer.h"

namespace {

using fixture::MakeFrame;
using fixture::MaxDifference;

struct Sof {
  int marker = -1;
  int precision = 0;
  int height = 0;
  int width = 0;
  std::vector<int> sampling;  // h << 4 | v per component
};

// The stream's frame header, read independently of the codec.
Sof ReadSof(const std::vector<uint8_t>& s) {
  Sof r;
  for (size_t p = 2; p + 4 < s.size();) {
    if (s[p] != 0xFF) return r;
    const int m = s[p + 1];
    const size_t len = (size_t(s[p + 2]) << 8) | s[p + 3];
    if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
      r.marker = m;
      r.precision = s[p + 4];
      r.height = (s[p + 5] << 8) | s[p + 6];
      r.width = (s[p + 7] << 8) | s[p + 8];
      for (int c = 0; c < s[p + 9]; ++c) r.sampling.push_back(s[p + 11 + 3 * c]);
      return r;
    }
    p += 2 + len;
  }
  return r;
}

double MeanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int sampleBytes) {
  double sum = 0;
  size_t n = 0;
  for (size_t i = 0; i + sampleBytes <= a.size() && i + sampleBytes <= b.size(); i += sampleBytes, ++n) {
    int x = a[i], y = b[i];
    if (sampleBytes == 2) {
      x |= a[i + 1] << 8;
      y |= b[i + 1] << 8;
    }
    sum += x > y ? x - y : y - x;
  }
  return n ? sum / double(n) : 1e9;
}

using DecodeFn = int (*)(const uint8_t*, uint8_t*, size_t, size_t);

std::vector<uint8_t> DecodeOk(DecodeFn fn, const std::vector<uint8_t>& stream, size_t frameBytes) {
  std::vector<uint8_t> out(frameBytes, 0xAA);
  EXPECT_EQ(fn(stream.data(), out.data(), stream.size(), out.size()), 0);
  return out;
}

bool AllZero(const std::vector<uint8_t>& v) {
  for (uint8_t b : v)
    if (b) return false;
  return true;
}

TEST(JpegRoundTrip, BaselineColourIsFullySampledAndComesBackAsRgb) {
  const int w = 67, h = 45;
  const auto frame = MakeFrame(w, h, 3, 8);
  std::vector<uint8_t> stream;
  ASSERT_EQ(EncodeJPEG8(w, h, 3, frame.data(), frame.size(), stream, 0), 0);
  ASSERT_GE(stream.size(), 4u);
  EXPECT_EQ(stream[0], 0xFF);
  EXPECT_EQ(stream[1], 0xD8);
  EXPECT_EQ(stream[stream.size() - 2], 0xFF);
  EXPECT_EQ(stream[stream.size() - 1], 0xD9);
  const Sof sof = ReadSof(stream);
  EXPECT_EQ(sof.marker, 0xC0);
  EXPECT_EQ(sof.precision, 8);
  EXPECT_EQ(sof.width, w);
  EXPECT_EQ(sof.height, h);
  EXPECT_EQ(sof.sampling, (std::vector<int>{0x11, 0x11, 0x11}));

  const auto back = DecodeOk(DecodeJPEG8, stream, frame.size());
  EXPECT_LT(MeanDifference(frame, back, 1), 4.0);
  EXPECT_LE(MaxDifference(frame, back, 1), 80);  // quality 75 at sharp edges

  // Decoding into 16-bit words gives the same samples widened.
  const auto words = DecodeOk(DecodeJPEG16, stream, frame.size() * 2);
  for (size_t i = 0; i < back.size(); ++i) {
    ASSERT_EQ(words[2 * i], back[i]);
    ASSERT_EQ(words[2 * i + 1], 0);
  }
}

TEST(JpegRoundTrip, LosslessIsBitExact) {
  const int w = 61, h = 33;
  for (int components : {1, 3}) {
    const auto frame8 = MakeFrame(w, h, components, 8, 3, 60);
    std::vector<uint8_t> stream;
    ASSERT_EQ(EncodeJPEG8(w, h, components, frame8.data(), frame8.size(), stream, 4), 0);
    const Sof sof8 = ReadSof(stream);
    EXPECT_EQ(sof8.marker, 0xC3);
    EXPECT_EQ(sof8.precision, 8);
    EXPECT_EQ(DecodeOk(DecodeJPEG8, stream, frame8.size()), frame8) << components;

    const auto frame16 = MakeFrame(w, h, components, 16, 5, 60);
    ASSERT_EQ(EncodeJPEG16(w, h, components, frame16.data(), frame16.size(), stream), 0);
    const Sof sof16 = ReadSof(stream);
    EXPECT_EQ(sof16.marker, 0xC3);
    EXPECT_EQ(sof16.precision, 16);
    EXPECT_EQ(DecodeOk(DecodeJPEG16, stream, frame16.size()), frame16) << components;
    EXPECT_EQ(DecodeOk(DecodeJPEG12, stream, frame16.size()), frame16) << components;
  }
}

TEST(JpegRoundTrip, TwelveBitLossyStaysWithinTolerance) {
  const int w = 80, h = 50;
  const auto frame = MakeFrame(w, h, 1, 12);
  std::vector<uint8_t> stream;
  ASSERT_EQ(EncodeJPEG12(w, h, 1, frame.data(), frame.size(), stream), 0);
  const Sof sof = ReadSof(stream);
  EXPECT_EQ(sof.marker, 0xC1);
  EXPECT_EQ(sof.precision, 12);
  const auto back = DecodeOk(DecodeJPEG12, stream, frame.size());
  EXPECT_LT(MeanDifference(frame, back, 2), 4095 * 0.01);
  EXPECT_LE(MaxDifference(frame, back, 2), 4095 / 8);
  for (size_t i = 1; i < back.size(); i += 2) ASSERT_LT(back[i], 16) << "12-bit samples only";

  // Bits above the low 12 are ignored, not wrapped into the image.
  auto dirty = frame;
  for (size_t i = 1; i < dirty.size(); i += 2) dirty[i] |= 0xF0;
  std::vector<uint8_t> stream2;
  ASSERT_EQ(EncodeJPEG12(w, h, 1, dirty.data(), dirty.size(), stream2), 0);
  EXPECT_EQ(stream2, stream);

  // A 12-bit stream does not fit a slice of bytes.
  std::vector<uint8_t> bytes(frame.size(), 0xAA);
  EXPECT_EQ(DecodeJPEG8(stream.data(), bytes.data(), stream.size(), bytes.size()), -1);
  EXPECT_TRUE(AllZero(bytes));
}

TEST(JpegRoundTrip, EncoderRefusesBadArguments) {
  const auto frame = MakeFrame(16, 16, 3, 8);
  std::vector<uint8_t> out{1, 2, 3};
  EXPECT_EQ(EncodeJPEG8(16, 16, 3, frame.data(), frame.size(), out, 1), -1);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(EncodeJPEG8(16, 16, 3, frame.data(), frame.size() - 1, out, 0), -1);  // source too short
  EXPECT_EQ(EncodeJPEG8(16, 16, 2, frame.data(), frame.size(), out, 0), -1);
  EXPECT_EQ(EncodeJPEG8(0, 16, 1, frame.data(), frame.size(), out, 4), -1);
  EXPECT_EQ(EncodeJPEG16(16, 16, 3, frame.data(), frame.size(), out), -1);  // words: needs twice the bytes
  EXPECT_EQ(EncodeJPEG12(16, 16, 1, nullptr, 512, out), -1);
  EXPECT_TRUE(out.empty());
}

struct StreamCase {
  std::string name;
  std::vector<uint8_t> stream;
  DecodeFn decode;
  size_t frameBytes;
};

std::vector<StreamCase> AllKinds() {
  std::vector<StreamCase> cases;
  const int w = 48, h = 40;
  std::vector<uint8_t> s;
  auto rgb = MakeFrame(w, h, 3, 8);
  EXPECT_EQ(EncodeJPEG8(w, h, 3, rgb.data(), rgb.size(), s, 0), 0);
  cases.push_back({"baseline", s, DecodeJPEG8, rgb.size()});
  EXPECT_EQ(EncodeJPEG8(w, h, 3, rgb.data(), rgb.size(), s, 4), 0);
  cases.push_back({"lossless8", s, DecodeJPEG8, rgb.size()});
  auto g12 = MakeFrame(w, h, 1, 12);
  EXPECT_EQ(EncodeJPEG12(w, h, 1, g12.data(), g12.size(), s), 0);
  cases.push_back({"lossy12", s, DecodeJPEG12, g12.size()});
  auto g16 = MakeFrame(w, h, 1, 16);
  EXPECT_EQ(EncodeJPEG16(w, h, 1, g16.data(), g16.size(), s), 0);
  cases.push_back({"lossless16", s, DecodeJPEG16, g16.size()});
  return cases;
}

TEST(JpegDecodeFailure, TruncatedEntropyDataDecodesAsFarAsItGoes) {
  for (const auto& c : AllKinds()) {
    const size_t cut = c.stream.size() * 3 / 5;
    std::vector<uint8_t> out(c.frameBytes, 0xAA);
    EXPECT_EQ(c.decode(c.stream.data(), out.data(), cut, out.size()), 0) << c.name;
    // The first rows are those of the complete stream.
    const auto full = DecodeOk(c.decode, c.stream, c.frameBytes);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + out.size() / 8, full.begin())) << c.name;
  }
}

TEST(JpegDecodeFailure, EmptyHeaderOnlyAndTooSmallSlicesFailAndClearTheSlice) {
  for (const auto& c : AllKinds()) {
    std::vector<uint8_t> out(c.frameBytes, 0xAA);
    EXPECT_EQ(c.decode(nullptr, out.data(), 0, out.size()), -1) << c.name;
    EXPECT_TRUE(AllZero(out)) << c.name;
    out.assign(c.frameBytes, 0xAA);
    EXPECT_EQ(c.decode(c.stream.data(), out.data(), 0, out.size()), -1) << c.name;
    out.assign(c.frameBytes, 0xAA);
    EXPECT_EQ(c.decode(c.stream.data(), out.data(), 30, out.size()), -1) << c.name;
    EXPECT_TRUE(AllZero(out)) << c.name;

    // One byte short: refused, and nothing written past the given length.
    std::vector<uint8_t> guarded(c.frameBytes + 64, 0xAA);
    EXPECT_EQ(c.decode(c.stream.data(), guarded.data(), c.stream.size(), c.frameBytes - 1), -1) << c.name;
    for (size_t i = 0; i < guarded.size(); ++i) ASSERT_EQ(guarded[i], i < c.frameBytes - 1 ? 0 : 0xAA) << c.name;

    // A larger slice decodes, the rest of it cleared.
    guarded.assign(c.frameBytes + 64, 0xAA);
    EXPECT_EQ(c.decode(c.stream.data(), guarded.data(), c.stream.size(), guarded.size()), 0) << c.name;
    for (size_t i = c.frameBytes; i < guarded.size(); ++i) ASSERT_EQ(guarded[i], 0) << c.name;
  }
  std::vector<uint8_t> out(16);
  const uint8_t notJpeg[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
  EXPECT_EQ(DecodeJPEG8(notJpeg, out.data(), sizeof notJpeg, out.size()), -1);
  const uint8_t soiEoi[] = {0xFF, 0xD8, 0xFF, 0xD9};
  EXPECT_EQ(DecodeJPEG8(soiEoi, out.data(), sizeof soiEoi, out.size()), -1);
  EXPECT_EQ(DecodeJPEG8(soiEoi, nullptr, sizeof soiEoi, 0), -1);
}

TEST(JpegDecodeFailure, CorruptStreamsNeverCrashOrOverrun) {
  uint32_t state = 7;
  auto next = [&] { return state = state * 1664525u + 1013904223u; };
  for (const auto& c : AllKinds()) {
    for (int round = 0; round < 150; ++round) {
      auto s = c.stream;
      const int flips = 1 + int(next() % 6);
      for (int f = 0; f < flips; ++f) {
        // Header bytes more often than entropy-coded data.
        const size_t limit = (next() & 1) ? std::min<size_t>(s.size(), 700) : s.size();
        s[next() % limit] = uint8_t(next() >> 24);
      }
      if (round % 10 == 0) s.resize(next() % s.size());
      std::vector<uint8_t> guarded(c.frameBytes + 32, 0x5C);
      const int rc = c.decode(s.data(), guarded.data(), s.size(), c.frameBytes);
      EXPECT_TRUE(rc == 0 || rc == -1);
      for (size_t i = c.frameBytes; i < guarded.size(); ++i) ASSERT_EQ(guarded[i], 0x5C) << c.name;
    }
  }
}

// ---- cross-checks against the DICOM toolkit's command-line codec

class JpegToolkit : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testsupport::MakeTempDir("codec_jpeg"); }
  void TearDown() override { testsupport::RemoveTree(dir_); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Runs a toolkit program; fails the test when it is missing or fails.
  void Tool(const std::string& program, std::vector<std::string> args) {
    const std::string exe = testsupport::FindProgram(program);
    ASSERT_FALSE(exe.empty()) << program << " is not installed (scripts/install-deps --test)";
    args.insert(args.begin(), exe);
    std::string output;
    ASSERT_EQ(testsupport::Run(args, &output), 0) << program << ": " << output;
  }

  fixture::Image Raw(int w, int h, int components, int bitsAllocated, int bitsStored, uint32_t seed) {
    fixture::Image img;
    img.rows = h;
    img.columns = w;
    img.samples = components;
    img.bitsAllocated = bitsAllocated;
    img.bitsStored = bitsStored;
    img.photometric = components == 3 ? "RGB" : "MONOCHROME2";
    img.pixels = MakeFrame(w, h, components, bitsStored, seed, 40);
    return img;
  }

  // Compresses raw with the toolkit, decodes the fragment with fn and with the toolkit; returns
  // (ours, theirs).
  std::pair<std::vector<uint8_t>, std::vector<uint8_t>> CompressBoth(const fixture::Image& raw,
                                                                     const std::string& option, DecodeFn fn) {
    const std::string in = Path("raw.dcm"), comp = Path("comp.dcm"), dec = Path("dec.dcm");
    EXPECT_TRUE(fixture::WriteImage(in, raw));
    Tool("dcmcjpeg", {option, in, comp});
    fixture::Image c, d;
    EXPECT_TRUE(fixture::ReadImage(comp, &c));
    EXPECT_FALSE(c.fragments.empty());
    Tool("dcmdjpeg", {"+px", comp, dec});
    EXPECT_TRUE(fixture::ReadImage(dec, &d));
    EXPECT_EQ(d.pixels.size(), raw.pixels.size());
    const auto frame = c.Frame();
    std::vector<uint8_t> ours(raw.pixels.size(), 0xAA);
    EXPECT_EQ(fn(frame.data(), ours.data(), frame.size(), ours.size()), 0) << option;
    return {ours, d.pixels};
  }

  // Wraps our stream in a file and decodes it with the toolkit.
  std::vector<uint8_t> ToolkitDecode(fixture::Image img, const std::string& ts, const std::vector<uint8_t>& stream) {
    img.transferSyntax = ts;
    img.pixels.clear();
    img.fragments = {stream};
    const std::string in = Path("ours.dcm"), dec = Path("ours_dec.dcm");
    EXPECT_TRUE(fixture::WriteImage(in, img));
    Tool("dcmdjpeg", {"+px", in, dec});
    fixture::Image d;
    EXPECT_TRUE(fixture::ReadImage(dec, &d));
    return d.pixels;
  }

  std::string dir_;
};

TEST_F(JpegToolkit, BaselineFramesDecodeLikeTheToolkit) {
  for (int components : {1, 3}) {
    const auto raw = Raw(96, 64, components, 8, 8, 11);
    const auto [ours, theirs] = CompressBoth(raw, "+eb", DecodeJPEG8);
    EXPECT_LE(MaxDifference(ours, theirs, 1), 2) << components;
    EXPECT_LT(MeanDifference(ours, theirs, 1), 0.1) << components;
  }
}

TEST_F(JpegToolkit, TwelveBitExtendedFramesDecodeLikeTheToolkit) {
  const auto raw = Raw(96, 64, 1, 16, 12, 12);
  const auto [ours, theirs] = CompressBoth(raw, "+ee", DecodeJPEG12);
  EXPECT_LE(MaxDifference(ours, theirs, 2), 2);
}

TEST_F(JpegToolkit, LosslessFramesDecodeBitExact) {
  struct Case {
    int components, bitsAllocated, bitsStored;
    DecodeFn fn;
  };
  for (const Case& k : {Case{1, 8, 8, DecodeJPEG8}, Case{3, 8, 8, DecodeJPEG8}, Case{1, 16, 12, DecodeJPEG12},
                        Case{1, 16, 16, DecodeJPEG16}, Case{3, 16, 16, DecodeJPEG16}}) {
    const auto raw = Raw(77, 53, k.components, k.bitsAllocated, k.bitsStored, 13);
    for (const char* option : {"+el", "+e1"}) {
      const auto [ours, theirs] = CompressBoth(raw, option, k.fn);
      EXPECT_EQ(ours, raw.pixels) << option << " " << k.components << "x" << k.bitsStored;
      EXPECT_EQ(theirs, raw.pixels) << option << " " << k.components << "x" << k.bitsStored;
    }
  }
}

TEST_F(JpegToolkit, OurStreamsDecodeInTheToolkit) {
  // Baseline colour, coded YCbCr 4:4:4.
  auto rgb = Raw(90, 70, 3, 8, 8, 21);
  std::vector<uint8_t> s;
  ASSERT_EQ(EncodeJPEG8(90, 70, 3, rgb.pixels.data(), rgb.pixels.size(), s, 0), 0);
  auto img = rgb;
  img.photometric = "YBR_FULL";
  auto theirs = ToolkitDecode(img, "1.2.840.10008.1.2.4.50", s);
  auto ours = DecodeOk(DecodeJPEG8, s, rgb.pixels.size());
  EXPECT_LE(MaxDifference(ours, theirs, 1), 2);

  // Lossless colour and grey, 8 and 16 bits.
  ASSERT_EQ(EncodeJPEG8(90, 70, 3, rgb.pixels.data(), rgb.pixels.size(), s, 4), 0);
  EXPECT_EQ(ToolkitDecode(rgb, "1.2.840.10008.1.2.4.70", s), rgb.pixels);
  auto g16 = Raw(90, 70, 1, 16, 16, 22);
  ASSERT_EQ(EncodeJPEG16(90, 70, 1, g16.pixels.data(), g16.pixels.size(), s), 0);
  EXPECT_EQ(ToolkitDecode(g16, "1.2.840.10008.1.2.4.70", s), g16.pixels);

  // 12-bit extended lossy.
  auto g12 = Raw(90, 70, 1, 16, 12, 23);
  ASSERT_EQ(EncodeJPEG12(90, 70, 1, g12.pixels.data(), g12.pixels.size(), s), 0);
  theirs = ToolkitDecode(g12, "1.2.840.10008.1.2.4.51", s);
  ours = DecodeOk(DecodeJPEG12, s, g12.pixels.size());
  EXPECT_LE(MaxDifference(ours, theirs, 2), 2);
}

}  // namespace

namespace {

// A baseline stream coding R, G and B as they are, as some writers make it: component ids 0, 1
// and 2, 4:4:4, no JFIF and no Adobe marker, so nothing in the stream says it is not YCbCr.
std::vector<uint8_t> RgbCodedBaseline(const std::vector<uint8_t>& rgb, int width, int height) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = JDIMENSION(width);
  cinfo.image_height = JDIMENSION(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_colorspace(&cinfo, JCS_RGB);
  jpeg_set_quality(&cinfo, 95, TRUE);
  cinfo.write_JFIF_header = FALSE;
  cinfo.write_Adobe_marker = FALSE;
  for (int c = 0; c < 3; ++c) cinfo.comp_info[c].component_id = c;
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rgb.data() + size_t(cinfo.next_scanline) * size_t(width) * 3);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

}  // namespace

// The data set says RGB and the stream does not say otherwise: no colour transform, as DCMTK
// decodes it. Without the hint the library's YCbCr guess moves colours by over a hundred levels.
TEST_F(JpegToolkit, RgbCodedBaselineUnderPhotometricRgbDecodesWithoutColourTransform) {
  const int w = 64, h = 48;
  const auto raw = Raw(w, h, 3, 8, 8, 21);
  const auto stream = RgbCodedBaseline(raw.pixels, w, h);
  ASSERT_FALSE(stream.empty());
  const auto theirs = ToolkitDecode(raw, "1.2.840.10008.1.2.4.50", stream);
  ASSERT_EQ(theirs.size(), raw.pixels.size());
  std::vector<uint8_t> ours(raw.pixels.size());
  ASSERT_EQ(DecodeJPEG8(stream.data(), ours.data(), stream.size(), ours.size(), true), 0);
  EXPECT_LE(MaxDifference(ours, theirs, 1), 2);
  EXPECT_LE(MaxDifference(ours, raw.pixels, 1), 40);
  std::vector<uint8_t> guessed(raw.pixels.size());
  ASSERT_EQ(DecodeJPEG8(stream.data(), guessed.data(), stream.size(), guessed.size()), 0);
  EXPECT_GT(MaxDifference(guessed, theirs, 1), 60);

  // The conversion passes the data set's word on.
  convtest::Shape shape;
  shape.photometric = "RGB";
  shape.rows = h;
  shape.columns = w;
  shape.planar = 0;
  auto obj = convtest::MakeImage(shape, raw.pixels, "1.2.840.10008.1.2.4.50");
  convtest::Encapsulate(*obj, {stream});
  ASSERT_TRUE(ConvertTransferSyntax(*obj, "1.2.840.10008.1.2.1"));
  EXPECT_EQ(obj->GetString(0x0028, 0x0004), "RGB");
  EXPECT_LE(MaxDifference(convtest::PixelBytes(*obj), theirs, 1), 2);
}
