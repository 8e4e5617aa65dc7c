// The 24-bit BMP reader and writer and the page JPEG encoder.
#include <gtest/gtest.h>

// clang-format off
#include <cstdio>
extern "C" {
#include <jpeglib.h>
}
// clang-format on

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "convert/bmpfile.h"
#include "convert/image_import.h"
#include "convert/page_jpeg.h"
#include "tests/support/log_capture.h"
#include "tests/support/peer.h"

namespace {

class TempDir {
 public:
  TempDir() : path_(testsupport::MakeTempDir("scrivara_page")) {}
  ~TempDir() { testsupport::RemoveTree(path_); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
void Spit(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

// A page with a different colour in every pixel.
Bitmap Pattern(int w, int h) {
  Bitmap b(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixel(x, y, RGBColor{uint8_t(x * 7 + y), uint8_t(y * 5), uint8_t(x ^ y)});
  return b;
}

void Put32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = char(v >> (8 * i));
}

TEST(BmpFile, RoundTripKeepsEveryPixelWithPaddedRows) {
  TempDir dir;
  const Bitmap page = Pattern(5, 3);  // 15 bytes per row, padded to 16 in the file
  ASSERT_TRUE(SaveBmpFile(dir / "p.bmp", page));
  const std::string f = Slurp(dir / "p.bmp");
  ASSERT_EQ(f.size(), 14u + 40u + 16u * 3u);
  EXPECT_EQ(f.substr(0, 2), "BM");
  // The last row of the page comes first in the file.
  EXPECT_EQ(f.substr(54, 15), std::string(reinterpret_cast<const char*>(page.Row(2)), 15));
  Bitmap back;
  ASSERT_TRUE(LoadBmpFile(dir / "p.bmp", back));
  ASSERT_EQ(back.width, 5);
  ASSERT_EQ(back.height, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(back.Pixel(x, y), page.Pixel(x, y)) << x << "," << y;
  // No temporary file is left beside it.
  std::string listing;
  testsupport::Run({"ls", "-A", dir.path()}, &listing);
  EXPECT_EQ(listing, "p.bmp\n");
}

TEST(BmpFile, TopDownRowsAndLargerHeaders) {
  TempDir dir;
  ASSERT_TRUE(SaveBmpFile(dir / "p.bmp", Pattern(4, 2)));
  std::string f = Slurp(dir / "p.bmp");
  // Make it top-down: negative height and the two rows swapped.
  std::string topDown = f;
  Put32(topDown, 22, uint32_t(-2));
  topDown.replace(54, 12, f.substr(66, 12));
  topDown.replace(66, 12, f.substr(54, 12));
  Spit(dir / "td.bmp", topDown);
  // A 124-byte header (BITMAPV5HEADER) before the same rows.
  std::string v5 = f.substr(0, 54) + std::string(84, '\0') + f.substr(54);
  Put32(v5, 10, 14 + 124);
  Put32(v5, 14, 124);
  Spit(dir / "v5.bmp", v5);
  const Bitmap want = Pattern(4, 2);
  for (const char* name : {"td.bmp", "v5.bmp"}) {
    Bitmap b;
    ASSERT_TRUE(LoadBmpFile(dir / name, b)) << name;
    ASSERT_EQ(b.height, 2) << name;
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 4; ++x) EXPECT_EQ(b.Pixel(x, y), want.Pixel(x, y)) << name;
  }
}

TEST(BmpFile, BadFilesFailWithOneLineAndKeepTheBitmap) {
  TempDir dir;
  ASSERT_TRUE(SaveBmpFile(dir / "good.bmp", Pattern(4, 4)));
  const std::string good = Slurp(dir / "good.bmp");
  struct Case {
    std::string name, bytes, reason;
  };
  std::vector<Case> cases;
  cases.push_back({"empty.bmp", "", "not a BMP file"});
  cases.push_back({"text.bmp", "hello, this is not a bitmap at all, but long enough to hold a header", "not a BMP file"});
  std::string deep = good;
  deep[28] = 16;
  cases.push_back({"deep.bmp", deep, "a BMP of 16 bits per pixel"});
  std::string grey = good;
  grey[28] = 8;
  cases.push_back({"grey.bmp", grey, "the BMP's colour table runs into its pixels"});
  std::string rle = good;
  rle[30] = 1;
  cases.push_back({"rle.bmp", rle, "a compressed BMP"});
  cases.push_back({"cut.bmp", good.substr(0, good.size() - 1), "BMP pixel rows missing"});
  std::string huge = good;
  Put32(huge, 18, 100000);
  cases.push_back({"huge.bmp", huge, "out of range"});
  std::string zero = good;
  Put32(zero, 22, 0);
  cases.push_back({"zero.bmp", zero, "out of range"});
  std::string farOff = good;
  Put32(farOff, 10, 0xFFFFFFF0u);
  cases.push_back({"faroff.bmp", farOff, "BMP pixel rows missing"});
  std::string bigHeader = good;
  Put32(bigHeader, 14, 0x7FFFFFFF);
  cases.push_back({"bighdr.bmp", bigHeader, "unsupported BMP header"});
  for (const auto& c : cases) Spit(dir / c.name, c.bytes);
  cases.push_back({"missing.bmp", "", "cannot open file"});
  cases.push_back({"", "", "not a regular file"});  // the folder

  for (const auto& c : cases) {
    LogCapture log;
    Bitmap b(1, 1);
    EXPECT_FALSE(LoadBmpFile(dir / c.name, b)) << c.name;
    EXPECT_EQ(b.width, 1) << c.name;
    ASSERT_EQ(log.Lines().size(), 1u) << c.name;
    EXPECT_NE(log.Lines()[0].find("ERROR, LoadBmpFile, "), std::string::npos) << log.Lines()[0];
    EXPECT_NE(log.Lines()[0].find(c.reason), std::string::npos) << log.Lines()[0];
  }
}

TEST(BmpFile, SaveFailuresLeaveNoFile) {
  TempDir dir;
  LogCapture log;
  EXPECT_FALSE(SaveBmpFile(dir / "e.bmp", Bitmap()));
  EXPECT_FALSE(SaveBmpFile(dir / "no/such/folder/p.bmp", Pattern(2, 2)));
  ASSERT_EQ(log.Lines().size(), 2u);
  EXPECT_NE(log.Lines()[1].find("ERROR, SaveBmpFile, cannot create file"), std::string::npos);
  std::string listing;
  testsupport::Run({"ls", "-A", dir.path()}, &listing);
  EXPECT_EQ(listing, "");
}

// Decodes a JPEG stream with libjpeg, reporting the frame's layout.
struct Decoded {
  int width = 0, height = 0, components = 0;
  int samp[3][2] = {};
  bool progressive = true;
  bool jfif = false;
  int jfifMajor = 0, jfifMinor = 0, densityUnit = -1, xDensity = 0, yDensity = 0;
  J_COLOR_SPACE colorSpace = JCS_UNKNOWN;
  std::vector<uint8_t> rgb;
};

Decoded Decode(const std::vector<uint8_t>& jpeg) {
  Decoded d;
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), jpeg.size());
  jpeg_read_header(&cinfo, TRUE);
  d.width = int(cinfo.image_width);
  d.height = int(cinfo.image_height);
  d.components = cinfo.num_components;
  for (int c = 0; c < d.components && c < 3; ++c) {
    d.samp[c][0] = cinfo.comp_info[c].h_samp_factor;
    d.samp[c][1] = cinfo.comp_info[c].v_samp_factor;
  }
  d.progressive = cinfo.progressive_mode;
  d.jfif = cinfo.saw_JFIF_marker;
  d.jfifMajor = cinfo.JFIF_major_version;
  d.jfifMinor = cinfo.JFIF_minor_version;
  d.densityUnit = cinfo.density_unit;
  d.xDensity = cinfo.X_density;
  d.yDensity = cinfo.Y_density;
  d.colorSpace = cinfo.jpeg_color_space;
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  d.rgb.resize(size_t(d.width) * d.height * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = d.rgb.data() + size_t(cinfo.output_scanline) * d.width * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return d;
}

// Mean absolute difference between a page and its decoded JPEG.
double MeanError(const Bitmap& page, const Decoded& d) {
  double sum = 0;
  for (int y = 0; y < page.height; ++y)
    for (int x = 0; x < page.width; ++x) {
      const RGBColor c = page.Pixel(x, y);
      const uint8_t* p = &d.rgb[(size_t(y) * page.width + x) * 3];
      sum += std::abs(c.r - p[0]) + std::abs(c.g - p[1]) + std::abs(c.b - p[2]);
    }
  return sum / (3.0 * page.width * page.height);
}

TEST(PageJpeg, BaselineJfifWithTwoByTwoLuminance) {
  // A smooth colour page of odd size (the MCU is 16 x 16).
  Bitmap page(101, 37);
  for (int y = 0; y < page.height; ++y)
    for (int x = 0; x < page.width; ++x) page.SetPixel(x, y, RGBColor{uint8_t(2 * x), uint8_t(6 * y), 200});
  std::vector<uint8_t> jpeg{1, 2, 3};
  ASSERT_TRUE(EncodePageJpeg(page, jpeg));
  ASSERT_GT(jpeg.size(), 4u);
  EXPECT_EQ(jpeg[0], 0xFF);
  EXPECT_EQ(jpeg[1], 0xD8);
  EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
  EXPECT_EQ(jpeg.back(), 0xD9);
  // Baseline frame marker, no progressive or extended frame.
  bool sof0 = false, other = false;
  for (size_t i = 2; i + 1 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF) {
      if (jpeg[i + 1] == 0xC0) sof0 = true;
      if (jpeg[i + 1] >= 0xC1 && jpeg[i + 1] <= 0xCF && jpeg[i + 1] != 0xC4 && jpeg[i + 1] != 0xC8 && jpeg[i + 1] != 0xCC)
        other = true;
      if (jpeg[i + 1] == 0xDA) break;
    }
  EXPECT_TRUE(sof0);
  EXPECT_FALSE(other);

  const Decoded d = Decode(jpeg);
  EXPECT_EQ(d.width, 101);
  EXPECT_EQ(d.height, 37);
  EXPECT_EQ(d.components, 3);
  EXPECT_EQ(d.colorSpace, JCS_YCbCr);
  EXPECT_EQ(d.samp[0][0], 2);
  EXPECT_EQ(d.samp[0][1], 2);
  EXPECT_EQ(d.samp[1][0], 1);
  EXPECT_EQ(d.samp[1][1], 1);
  EXPECT_EQ(d.samp[2][0], 1);
  EXPECT_EQ(d.samp[2][1], 1);
  EXPECT_FALSE(d.progressive);
  EXPECT_TRUE(d.jfif);
  EXPECT_EQ(d.jfifMajor, 1);
  EXPECT_EQ(d.jfifMinor, 1);
  EXPECT_EQ(d.densityUnit, 0);
  EXPECT_EQ(d.xDensity, 1);
  EXPECT_EQ(d.yDensity, 1);
  // Colours come back in their places (red is not swapped with blue) within quality-90 error.
  EXPECT_LT(MeanError(page, d), 2.0);
}

TEST(PageJpeg, GreyPageKeepsThreeComponents) {
  Bitmap page(64, 64);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const uint8_t v = uint8_t(x * 4);
      page.SetPixel(x, y, RGBColor{v, v, v});
    }
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(EncodePageJpeg(page, jpeg));
  const Decoded d = Decode(jpeg);
  EXPECT_EQ(d.components, 3);
  EXPECT_EQ(d.colorSpace, JCS_YCbCr);
  EXPECT_LT(MeanError(page, d), 2.0);
}

TEST(PageJpeg, UnencodablePagesFail) {
  LogCapture log;
  std::vector<uint8_t> jpeg;
  EXPECT_FALSE(EncodePageJpeg(Bitmap(), jpeg));
  Bitmap wide;
  wide.width = 70000;
  wide.height = 1;
  wide.stride = 70000 * 3;
  wide.pixels.resize(wide.stride);
  EXPECT_FALSE(EncodePageJpeg(wide, jpeg));
  Bitmap broken(4, 4);
  broken.pixels.resize(10);
  EXPECT_FALSE(EncodePageJpeg(broken, jpeg));
  ASSERT_EQ(log.Lines().size(), 3u);
  EXPECT_NE(log.Lines()[1].find("ERROR, EncodePageJpeg, page of 70000 x 1 pixels is too large"), std::string::npos);
}

}  // namespace

// Hostile page files: patched from a page JPEG of the encoder.
namespace hostile {

std::vector<uint8_t> Page() {
  std::vector<uint8_t> jpeg;
  EXPECT_TRUE(EncodePageJpeg(Pattern(64, 48), jpeg));
  return jpeg;
}

size_t MarkerAt(const std::vector<uint8_t>& j, uint8_t marker) {
  for (size_t i = 0; i + 1 < j.size(); ++i)
    if (j[i] == 0xFF && j[i + 1] == marker) return i;
  return j.size();
}

// A progressive frame header that claims 65500 x 65500 pixels (12.9 GB decoded).
std::vector<uint8_t> Huge() {
  std::vector<uint8_t> j = Page();
  const size_t sof = MarkerAt(j, 0xC0);
  j[sof + 1] = 0xC2;
  for (size_t at : {sof + 5, sof + 7}) {
    j[at] = 0xFF;
    j[at + 1] = 0xDC;
  }
  return j;
}

std::vector<uint8_t> Truncated() {
  std::vector<uint8_t> j = Page();
  j.resize(MarkerAt(j, 0xDA) + (j.size() - MarkerAt(j, 0xDA)) / 2);
  return j;
}

// Scan data replaced by noise from a fixed seed.
std::vector<uint8_t> Noise() {
  std::vector<uint8_t> j = Page();
  uint32_t x = 12345;
  for (size_t i = MarkerAt(j, 0xDA) + 14; i + 2 < j.size(); ++i) j[i] = uint8_t((x = x * 1103515245u + 12345u) >> 24);
  return j;
}

// A phone photo's metadata before the frame: EXIF with a GPS position and the owner, XMP, a comment.
std::vector<uint8_t> WithMetadata(const std::vector<uint8_t>& page) {
  auto segment = [](uint8_t marker, const std::string& text) {
    std::vector<uint8_t> s(text.size() + 4);
    s[0] = 0xFF;
    s[1] = marker;
    s[2] = uint8_t((text.size() + 2) >> 8);
    s[3] = uint8_t(text.size() + 2);
    std::copy(text.begin(), text.end(), s.begin() + 4);
    return s;
  };
  std::vector<uint8_t> j(page.begin(), page.begin() + 2);
  for (const auto& s : {segment(0xE1, std::string("Exif\0\0", 6) + "GPS 48.8583N 2.2945E Owner Jane Roe Camera X1"),
                        segment(0xE1, "http://ns.adobe.com/xap/1.0/\0<x:xmpmeta>Jane Roe</x:xmpmeta>"),
                        segment(0xFE, "taken by Jane Roe")})
    j.insert(j.end(), s.begin(), s.end());
  j.insert(j.end(), page.begin() + 2, page.end());
  return j;
}

}  // namespace hostile

// A page file is bounded before anything is allocated, decoded whole before it is taken, and
// leaves its metadata behind.
TEST(ImportImageFile, HostileJpegFilesRefusedAndMetadataLeftBehind) {
  TempDir dir;
  auto import = [&dir](const std::vector<uint8_t>& bytes, std::vector<ImportedPage>& pages) {
    Spit(dir / "f.jpg", std::string(bytes.begin(), bytes.end()));
    std::vector<ImportProblem> problems;
    ImportImageFile(dir / "f.jpg", [&pages](ImportedPage&& p) { pages.push_back(std::move(p)); }, problems);
    return problems.empty() ? std::string() : problems[0].why;
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    const char* why;
  };
  const Case refused[] = {
      {"65500 x 65500 progressive", hostile::Huge(), "a page of 65500 x 65500 pixels (the largest taken is"},
      {"cut short", hostile::Truncated(), "a damaged JPEG image"},
      {"noise for scan data", hostile::Noise(), "a damaged JPEG image"},
      {"not an image", {'X', 'M', 0, 0}, "not an image this program reads"},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.name);
    std::vector<ImportedPage> pages;
    const std::string why = import(c.file, pages);
    EXPECT_TRUE(pages.empty());
    EXPECT_EQ(why.rfind(c.why, 0), 0u) << why;
  }
  const std::vector<uint8_t> page = hostile::Page();
  std::vector<ImportedPage> pages;
  ASSERT_EQ(import(hostile::WithMetadata(page), pages), "");
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].jpeg, page);  // the page's own stream, without a byte of the photo's metadata
  EXPECT_EQ(pages[0].page.width, 64);
  EXPECT_EQ(pages[0].page.height, 48);
}

// Every kind of page a clinic's tools write, made once by PIL and the libraries' own tools.
class ImportedFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<TempDir>();
    ASSERT_EQ(testsupport::Run({"/usr/bin/python3",
                                std::string(SCRIVARA_SOURCE_DIR) + "/convert/tests/data/make_image_fixtures.py",
                                dir_->path()}),
              0);
  }
  static void TearDownTestSuite() { dir_.reset(); }
  static std::vector<ImportedPage> Import(const std::string& name, std::vector<ImportProblem>& problems) {
    std::vector<ImportedPage> pages;
    ImportImageFile(*dir_ / name, [&pages](ImportedPage&& p) { pages.push_back(std::move(p)); }, problems);
    return pages;
  }
  static std::unique_ptr<TempDir> dir_;
};
std::unique_ptr<TempDir> ImportedFiles::dir_;

TEST_F(ImportedFiles, EveryKindOfPageGivesItsPixelsInThePageJpeg) {
  struct Probe {
    int x, y;
    RGBColor rgb;
  };
  const RGBColor black{0, 0, 0}, white{255, 255, 255}, red{255, 0, 0}, blue{0, 0, 255};
  struct Case {
    const char* file;
    size_t page, pages;
    int width, height;
    std::vector<Probe> probes;
  };
  const Case cases[] = {
      {"alpha.png", 0, 1, 64, 48, {{15, 15, black}, {40, 30, white}}},  // transparency over white paper
      {"deep16.png", 0, 1, 64, 48, {{2, 20, black}, {60, 20, RGBColor{235, 235, 235}}}},
      {"palette.png", 0, 1, 64, 48, {{8, 20, red}, {56, 20, blue}}},
      {"three.tif", 0, 3, 40, 30, {{20, 15, RGBColor{0, 200, 0}}}},
      {"three.tif", 1, 3, 64, 48, {{8, 20, black}, {56, 20, white}}},  // G4 fax
      {"three.tif", 2, 3, 20, 10, {{10, 5, RGBColor{0, 255, 255}}}},  // CMYK cyan
      {"more.tif", 0, 2, 32, 16, {{16, 8, RGBColor{200, 0, 0}}}},     // JPEG-compressed
      {"more.tif", 1, 2, 64, 8, {{2, 4, black}, {60, 4, RGBColor{235, 235, 235}}}},  // 16-bit
      {"cmyk.jpg", 0, 1, 32, 16, {{16, 8, red}}},
      {"phone.jpg", 0, 1, 48, 64, {{40, 6, black}, {6, 6, white}, {24, 50, white}}},  // turned upright
      {"progressive.jpg", 0, 1, 40, 24, {{20, 12, RGBColor{0, 0, 200}}}},
      {"arith.jpg", 0, 1, 40, 24, {{20, 12, RGBColor{0, 0, 200}}}},
      {"one.bmp", 0, 1, 64, 48, {{8, 20, black}, {56, 20, white}}},
      {"four.bmp", 0, 1, 8, 2, {{1, 0, black}, {6, 1, white}}},
      {"eight.bmp", 0, 1, 64, 48, {{8, 20, red}, {56, 20, blue}}},
      {"rgba.bmp", 0, 1, 16, 8, {{8, 4, RGBColor{10, 20, 250}}}},
      {"a4.png", 0, 1, 4960, 7016, {{2000, 150, black}, {2000, 400, white}}},  // A4 at 600 dpi
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " page " + std::to_string(c.page + 1));
    std::vector<ImportProblem> problems;
    const std::vector<ImportedPage> pages = Import(c.file, problems);
    ASSERT_TRUE(problems.empty()) << problems[0].why;
    ASSERT_EQ(pages.size(), c.pages);
    const ImportedPage& p = pages[c.page];
    EXPECT_EQ(p.name, c.pages > 1 ? std::string(c.file) + " page " + std::to_string(c.page + 1) : c.file);
    const Decoded d = Decode(p.jpeg);  // what the object will hold
    ASSERT_EQ(d.width, c.width);
    ASSERT_EQ(d.height, c.height);
    EXPECT_EQ(p.page.width, c.width);
    EXPECT_FALSE(d.progressive);
    for (const Probe& probe : c.probes) {
      const uint8_t* px = &d.rgb[(size_t(probe.y) * d.width + probe.x) * 3];
      EXPECT_NEAR(px[0], probe.rgb.r, 40) << probe.x << "," << probe.y;
      EXPECT_NEAR(px[1], probe.rgb.g, 40) << probe.x << "," << probe.y;
      EXPECT_NEAR(px[2], probe.rgb.b, 40) << probe.x << "," << probe.y;
    }
  }
}

// A phone photo on its side is stood upright by the lossless transform, exactly as jpegtran turns
// it, and its EXIF (with the GPS position) stays behind.
TEST_F(ImportedFiles, PhonePhotoTurnedLosslesslyWithoutItsMetadata) {
  std::vector<ImportProblem> problems;
  const std::vector<ImportedPage> pages = Import("phone.jpg", problems);
  ASSERT_EQ(pages.size(), 1u);
  std::string turned;
  ASSERT_EQ(testsupport::Run({"jpegtran", "-copy", "none", "-rotate", "90", *dir_ / "phone.jpg"}, &turned), 0);
  EXPECT_EQ(std::string(pages[0].jpeg.begin(), pages[0].jpeg.end()), turned);
  EXPECT_EQ(std::string(pages[0].jpeg.begin(), pages[0].jpeg.end()).find("Exif"), std::string::npos);
}

TEST_F(ImportedFiles, PagesOverA3At600DpiRefusedNamingSizeAndLimit) {
  std::vector<ImportProblem> problems;
  EXPECT_TRUE(Import("huge.png", problems).empty());
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].what, "the image file " + *dir_ / "huge.png");
  EXPECT_NE(problems[0].why.find("10000 x 10000 pixels"), std::string::npos) << problems[0].why;
  EXPECT_NE(problems[0].why.find("7016 x 9921"), std::string::npos) << problems[0].why;
}
