// Conversion matrix against real tools: source files are made by DCMTK (dump2dcm, dcmconv,
// dcmcrle, dcmcjpeg) and by OpenJPEG's opj_compress, in every transfer syntax we decode; each is
// converted to every target we write; each result is read back by DCMTK (dcmdump without
// warnings, dcmdjpeg for JPEG, dcmdrle for RLE, dcmconv for big endian and deflated) or OpenJPEG
// (opj_decompress for JPEG 2000) and its pixels are compared with the source as DCMTK decodes it.
// Bounds: lossless paths exact; lossy 8-bit targets PSNR > 30 dB (peak 255), 12-bit lossy
// PSNR > 45 dB (peak 4095), JPEG 2000 rate 10 PSNR > 35 dB (peak 255) / 40 dB (peak 4095, the
// 12-bit samples being coded at 16-bit precision).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "codec/convert.h"
#include "codec/reduce.h"
#include "tests/support/dicom_fixture.h"
#include "tests/support/log_capture.h"
#include "core/dcmobj.h"
#include "tests/support/peer.h"

namespace {

using testsupport::Run;

const std::string kIVR = "1.2.840.10008.1.2", kEVR = "1.2.840.10008.1.2.1", kBE = "1.2.840.10008.1.2.2",
                  kRLE = "1.2.840.10008.1.2.5", kB = "1.2.840.10008.1.2.4.50", kE = "1.2.840.10008.1.2.4.51",
                  kL14 = "1.2.840.10008.1.2.4.57", kL = "1.2.840.10008.1.2.4.70", kJ = "1.2.840.10008.1.2.4.90",
                  kJL = "1.2.840.10008.1.2.4.91", kDeflate = "1.2.840.10008.1.2.1.99";

struct Base {
  std::string name, modality, photometric;
  int columns, rows, samples, bitsAllocated, bitsStored, frames;
  std::string intercept, slope;
};

const Base kBases[] = {
    {"ct16", "CT", "MONOCHROME2", 64, 48, 1, 16, 12, 2, "-1024", "1"},
    {"mr8", "MR", "MONOCHROME2", 64, 48, 1, 8, 8, 2, "", ""},
    {"rgb8", "OT", "RGB", 64, 48, 3, 8, 8, 1, "", ""},
};

std::string ToolPath(const std::string& name) {
  std::string p = testsupport::FindProgram(name);
  EXPECT_FALSE(p.empty()) << name << " is not installed (scripts/install-deps --test)";
  return p;
}

bool Tool(const std::vector<std::string>& argv, std::string* out = nullptr) {
  std::string o;
  int rc = Run(argv, &o);
  if (out) *out = o;
  if (rc != 0) ADD_FAILURE() << argv[0] << " failed (" << rc << "): " << o;
  return rc == 0;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int sampleBytes, double peak) {
  if (a.size() != b.size() || a.empty()) return -1;
  double se = 0;
  size_t n = 0;
  for (size_t i = 0; i + sampleBytes <= a.size(); i += sampleBytes, ++n) {
    double x = sampleBytes == 1 ? a[i] : fixture::detail::Get16(&a[i]);
    double y = sampleBytes == 1 ? b[i] : fixture::detail::Get16(&b[i]);
    se += (x - y) * (x - y);
  }
  return se == 0 ? 999 : 10 * std::log10(peak * peak * n / se);
}

class ConvertMatrix : public ::testing::Test {
 protected:
  static std::string dir_;
  static void SetUpTestSuite() { dir_ = testsupport::MakeTempDir("convert_matrix"); }
  static void TearDownTestSuite() { testsupport::RemoveTree(dir_); }

  std::string P(const std::string& f) const { return dir_ + "/" + f; }

  // The native base file (implicit VR little endian) made by dump2dcm from a text dump.
  std::vector<uint8_t> MakeBase(const Base& b) {
    std::vector<uint8_t> pixels;
    for (int f = 0; f < b.frames; ++f) {
      auto fr = fixture::MakeFrame(b.columns, b.rows, b.samples, b.bitsStored, 11 + f);
      pixels.insert(pixels.end(), fr.begin(), fr.end());
    }
    fixture::WriteFile(P(b.name + ".raw"), pixels);
    std::string d = "(0002,0010) UI =LittleEndianImplicit\n(0008,0016) UI =SecondaryCaptureImageStorage\n"
                    "(0008,0018) UI [1.2.826.0.1.3680043.2.9.1]\n(0008,0060) CS [" + b.modality + "]\n"
                    "(0010,0010) PN [Matrix^Test]\n(0028,0002) US " + std::to_string(b.samples) + "\n"
                    "(0028,0004) CS [" + b.photometric + "]\n";
    if (b.samples == 3) d += "(0028,0006) US 0\n";
    if (b.frames > 1) d += "(0028,0008) IS [" + std::to_string(b.frames) + "]\n";
    d += "(0028,0010) US " + std::to_string(b.rows) + "\n(0028,0011) US " + std::to_string(b.columns) + "\n";
    d += "(0028,0100) US " + std::to_string(b.bitsAllocated) + "\n(0028,0101) US " + std::to_string(b.bitsStored) +
         "\n(0028,0102) US " + std::to_string(b.bitsStored - 1) + "\n(0028,0103) US 0\n";
    if (!b.intercept.empty()) d += "(0028,1052) DS [" + b.intercept + "]\n(0028,1053) DS [" + b.slope + "]\n";
    d += std::string("(7fe0,0010) ") + (b.bitsAllocated > 8 ? "OW" : "OB") + " =" + P(b.name + ".raw") + "\n";
    fixture::WriteFile(P(b.name + ".dump"), std::vector<uint8_t>(d.begin(), d.end()));
    Tool({ToolPath("dump2dcm"), "+l", "100000", P(b.name + ".dump"), P(b.name + ".1.2.dcm")});
    return pixels;
  }

  // Wraps opj_compress code streams (one per frame) into a copy of the base file.
  bool MakeJ2KSource(const Base& b, const std::vector<uint8_t>& pixels, const std::string& ts, int rate,
                     const std::string& out) {
    const size_t frameBytes = pixels.size() / b.frames;
    DcmObj obj;
    if (!obj.Read(P(b.name + ".1.2.dcm"))) return false;
    size_t pi = obj.Count();
    for (size_t i = 0; i < obj.Count(); ++i)
      if (obj.GetTag(i) && obj.GetTag(i)->Is(0x7FE0, 0x0010)) pi = i;
    if (pi == obj.Count()) return false;
    obj.Delete(pi);
    DcmTag px(0x7FE0, 0x0010, uint32_t{0}, nullptr, "OB");
    px.length = kUndefinedLength;
    obj.Add(std::move(px));
    obj.Add(DcmTag(0xFFFE, 0xE000, uint32_t{0}, nullptr, "DL"));
    for (int f = 0; f < b.frames; ++f) {
      // opj_compress reads raw samples component by component (planes), little endian with .rawl.
      std::vector<uint8_t> planar(frameBytes);
      const int sb = b.bitsAllocated / 8;
      const size_t n = static_cast<size_t>(b.columns) * b.rows;
      for (size_t k = 0; k < n; ++k)
        for (int c = 0; c < b.samples; ++c)
          for (int s = 0; s < sb; ++s)
            planar[(c * n + k) * sb + s] = pixels[f * frameBytes + (k * b.samples + c) * sb + s];
      const std::string raw = P(b.name + ".f.rawl"), j2k = P(b.name + ".f.j2k");
      fixture::WriteFile(raw, planar);
      std::vector<std::string> argv = {ToolPath("opj_compress"), "-i", raw, "-o", j2k, "-F",
                                       std::to_string(b.columns) + "," + std::to_string(b.rows) + "," +
                                           std::to_string(b.samples) + "," + std::to_string(b.bitsStored) + ",u",
                                       "-n", "3"};
      if (rate > 0) argv.insert(argv.end(), {"-r", std::to_string(rate)});
      if (!Tool(argv)) return false;
      std::vector<uint8_t> cs;
      fixture::ReadFile(j2k, &cs);
      obj.Add(DcmTag(0xFFFE, 0xE000, static_cast<uint32_t>(cs.size()), cs.data(), "DL"));
    }
    obj.Add(DcmTag(0xFFFE, 0xE0DD, uint32_t{0}, nullptr, "DL"));
    obj.transferSyntax = ts;
    obj.explicitVR = true;
    return obj.Write(out);
  }

  // Native pixels of a file as DCMTK (or OpenJPEG, for JPEG 2000) decode it.
  bool Decoded(const std::string& file, const std::string& ts, const Base& b, std::vector<uint8_t>* pixels) {
    std::string native = file + ".native.dcm";
    if (ts == kIVR || ts == kEVR) {
      native = file;
    } else if (ts == kBE || ts == kDeflate) {
      if (!Tool({ToolPath("dcmconv"), "+te", file, native})) return false;
    } else if (ts == kRLE) {
      if (!Tool({ToolPath("dcmdrle"), file, native})) return false;
    } else if (ts == kJ || ts == kJL) {
      fixture::Image img;
      if (!fixture::ReadImage(file, &img) || img.fragments.size() != static_cast<size_t>(b.frames)) {
        ADD_FAILURE() << "no fragments in " << file;
        return false;
      }
      pixels->clear();
      for (int f = 0; f < b.frames; ++f) {
        const std::string j2k = file + ".j2k", raw = file + ".rawl";
        fixture::WriteFile(j2k, img.fragments[f]);
        if (!Tool({ToolPath("opj_decompress"), "-i", j2k, "-o", raw})) return false;
        std::vector<uint8_t> planar;
        fixture::ReadFile(raw, &planar);
        const size_t n = static_cast<size_t>(b.columns) * b.rows;
        const int sb = img.bitsAllocated / 8;
        if (planar.size() != n * b.samples * sb) {
          ADD_FAILURE() << "opj_decompress gave " << planar.size() << " bytes";
          return false;
        }
        for (size_t k = 0; k < n; ++k)
          for (int c = 0; c < b.samples; ++c)
            for (int s = 0; s < sb; ++s) pixels->push_back(planar[(c * n + k) * sb + s]);
      }
      return true;
    } else {
      if (!Tool({ToolPath("dcmdjpeg"), file, native})) return false;
    }
    // dcmdump writes the native Pixel Data value to <dir>/<file name>.0.raw.
    const std::string rawDir = native + ".px";
    testsupport::RemoveTree(rawDir);
    if (testsupport::Run({"mkdir", "-p", rawDir}) != 0 || !Tool({ToolPath("dcmdump"), "-q", "+W", rawDir, native})) return false;
    const std::string name = native.substr(native.find_last_of('/') + 1);
    if (!fixture::ReadFile(rawDir + "/" + name + ".0.raw", pixels)) {
      ADD_FAILURE() << "no pixel data written for " << native;
      return false;
    }
    const size_t expect = static_cast<size_t>(b.columns) * b.rows * b.samples * b.frames * (BitsAllocatedOf(native) / 8);
    if (pixels->size() == expect + 1) pixels->pop_back();
    return true;
  }

  static int BitsAllocatedOf(const std::string& file) {
    fixture::Image img;
    return fixture::ReadImage(file, &img) ? img.bitsAllocated : 8;
  }

  void RunBase(const Base& b) {
    const std::vector<uint8_t> basePixels = MakeBase(b);
    std::map<std::string, std::string> sources;  // syntax -> file
    const std::string base = P(b.name + ".1.2.dcm");
    sources[kIVR] = base;
    auto made = [&](const std::string& ts, std::vector<std::string> argv) {
      const std::string out = P(b.name + "." + ts + ".dcm");
      argv.push_back(base);
      argv.push_back(out);
      if (Tool(argv)) sources[ts] = out;
    };
    made(kEVR, {ToolPath("dcmconv"), "+te"});
    made(kBE, {ToolPath("dcmconv"), "+tb"});
    made(kDeflate, {ToolPath("dcmconv"), "+td"});
    if (!(b.samples == 1 && b.bitsAllocated == 8)) made(kRLE, {ToolPath("dcmcrle")});
    made(kB, {ToolPath("dcmcjpeg"), "+eb"});
    if (b.samples == 1) made(kE, {ToolPath("dcmcjpeg"), "+ee"});
    made(kL14, {ToolPath("dcmcjpeg"), "+el"});
    made(kL, {ToolPath("dcmcjpeg"), "+e1"});
    for (auto [ts, rate] : {std::pair<std::string, int>{kJ, 0}, {kJL, 10}}) {
      const std::string out = P(b.name + "." + ts + ".dcm");
      if (MakeJ2KSource(b, basePixels, ts, rate, out)) sources[ts] = out;
      else ADD_FAILURE() << "J2K source " << ts;
    }

    for (const auto& [sts, sfile] : sources) {
      std::vector<uint8_t> ref;
      ASSERT_TRUE(Decoded(sfile, sts, b, &ref)) << sts;
      DcmObj probe;
      ASSERT_TRUE(probe.Read(sfile)) << sfile;
      const int ba = probe.GetUS(0x0028, 0x0100), bs = probe.GetUS(0x0028, 0x0101);
      const float slope = probe.FindTag(0x0028, 0x1053) ? probe.FindTag(0x0028, 0x1053)->GetNumber() : 1.0f;
      const float intercept = probe.FindTag(0x0028, 0x1052) ? probe.FindTag(0x0028, 0x1052)->GetNumber() : 0.0f;
      if (sts == kJ || sts == kL || sts == kL14 || sts == kRLE || sts == kBE || sts == kEVR || sts == kDeflate) {
        EXPECT_TRUE(ref == basePixels) << "DCMTK/OpenJPEG decode of the lossless source " << sts << ": " << ref.size()
                                       << " bytes for " << basePixels.size() << ", first difference at "
                                       << (std::mismatch(ref.begin(), ref.end(), basePixels.begin(), basePixels.end()).first - ref.begin());
      }
      for (const std::string& target : {kIVR, kEVR, kBE, kDeflate, kRLE, kB, kE, kL, kJ, kJL}) {
        if (target == sts) continue;
        SCOPED_TRACE(b.name + " " + sts + " -> " + target);
        DcmObj obj;
        ASSERT_TRUE(obj.Read(sfile));
        if (target == kE && bs == 8) {
          LogCapture log;
          EXPECT_FALSE(ConvertTransferSyntax(obj, target));
          EXPECT_EQ(obj.transferSyntax, sts);
          continue;
        }
        ASSERT_TRUE(ConvertTransferSyntax(obj, target));
        const std::string out = P(b.name + ".from." + sts + ".to." + target + ".dcm");
        ASSERT_TRUE(obj.Write(out));
        std::string dump;
        EXPECT_TRUE(Tool({ToolPath("dcmdump"), "-q", out}, &dump));
        std::string warn;
        Tool({ToolPath("dcmdump"), out}, &warn);
        EXPECT_EQ(warn.find("W: "), std::string::npos) << warn.substr(0, 400);
        EXPECT_EQ(warn.find("E: "), std::string::npos) << warn.substr(0, 400);
        std::vector<uint8_t> got;
        ASSERT_TRUE(Decoded(out, target, b, &got));
        // The expected samples: the reductions of the lossy coders applied to the source.
        std::vector<uint8_t> expect = ref;
        int sampleBytes = ba > 8 ? 2 : 1;
        double peak = ba > 8 ? 4095 : 255, bound = 999;
        if (target == kB) {
          if (ba > 8) {
            expect.resize(ref.size() / 2);
            ReducePixelsTo8Bits(expect.data(), ref.data(), 0, bs, slope, intercept, ref.size(), b.modality);
            sampleBytes = 1;
            peak = 255;
          }
          bound = 30;
        } else if (target == kE) {
          bound = 45;
        }
        if ((target == kJ || target == kJL) && ba == 16 && b.samples == 1) {
          // Rescaled into the new units (CT: stored + intercept + 1024, new intercept -1024).
          RescalePixels16(expect.data(), 0, slope, intercept, expect.size(), b.modality);
        }
        if (target == kJL) bound = ba > 8 ? 40 : 35;
        const double psnr = Psnr(got, expect, sampleBytes, peak);
        if (bound == 999)
          EXPECT_TRUE(got == expect) << "lossless path differs, PSNR " << psnr;
        else
          EXPECT_GT(psnr, bound);
      }
    }
  }
};
std::string ConvertMatrix::dir_;

}  // namespace

TEST_F(ConvertMatrix, Ct16BitTwoFrames) { RunBase(kBases[0]); }
TEST_F(ConvertMatrix, Mr8BitTwoFrames) { RunBase(kBases[1]); }
TEST_F(ConvertMatrix, Rgb8Bit) { RunBase(kBases[2]); }
