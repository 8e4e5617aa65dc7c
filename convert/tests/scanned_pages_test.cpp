// The pages of a scanning batch: the preview's place, the hand-over file, thumbnails and turned pages.
#include "convert/scanned_pages.h"

#include <gtest/gtest.h>

#include <string>

#include "core/config.h"
#include "core/dcmobj.h"
#include "tests/support/files.h"
#include "tests/support/log_capture.h"
#include "tests/support/peer.h"

namespace {

TEST(ScannedPages, PreviewPlaceOfPortraitAndLandscapePages) {
  // An A4 page at 300 dpi: the full height, centred across.
  const PreviewPlace portrait = PreviewRect(2480, 3508);
  EXPECT_EQ(portrait.top, 0);
  EXPECT_EQ(portrait.bottom, 480);
  EXPECT_EQ(portrait.left, 150);   // (640 - 339) / 2
  EXPECT_EQ(portrait.right, 489);  // (640 + 339) / 2
  const PreviewPlace landscape = PreviewRect(3508, 2480);
  EXPECT_EQ(landscape.left, 0);
  EXPECT_EQ(landscape.right, 640);
  EXPECT_EQ(landscape.top, 14);      // (480 - 452) / 2
  EXPECT_EQ(landscape.bottom, 466);  // (480 + 452) / 2
  const PreviewPlace square = PreviewRect(100, 100);  // not wider than high: by the height
  EXPECT_EQ(square.left, 80);
  EXPECT_EQ(square.right, 560);
}

// Pages built into a batch in a folder of the test's own: left half red, right half blue.
class PageBatch : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::MakeTempDir("scanned_pages");
    ExeFolder = dir_ + "/";
    study_.PatientID = "SCAN001";
    study_.PatientName = "Page^Test";
    ASSERT_TRUE(StartConversionBatch(study_, dir_, batch_));
  }
  void TearDown() override {
    ExeFolder.clear();
    testsupport::RemoveTree(dir_);
  }
  static Bitmap Halves(int w, int h) {
    Bitmap b(w, h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) b.SetPixel(x, y, x < w / 2 ? RGBColor{220, 30, 20} : RGBColor{20, 30, 220});
    return b;
  }
  std::string dir_;
  StudyInfo study_;
  ConversionBatch batch_;
  int32_t counter_ = 0;
};

TEST_F(PageBatch, HandOverThumbnailAndATurnedPage) {
  Bitmap page = Halves(400, 200);
  ASSERT_TRUE(HandOverPage(page));
  EXPECT_EQ(ScanHandOverPath(), dir_ + "/test.bmp");
  EXPECT_FALSE(testsupport::ReadAll(dir_ + "/test.bmp").empty());
  EXPECT_EQ(page.Pixel(10, 10), (RGBColor{220, 30, 20}));

  BuildPageFromBitmap(Halves(64, 64), study_, batch_, counter_);
  std::string path = BuildPageFromBitmap(page, study_, batch_, counter_);
  ASSERT_FALSE(path.empty());
  Bitmap thumb;
  std::string label;
  ASSERT_TRUE(RenderPageThumbnail(path, thumb, label));
  EXPECT_EQ(label, "2");
  ASSERT_EQ(thumb.width, 96);
  // 400 x 200 at 96: the full width, 48 rows high, centred; black above and below.
  EXPECT_NEAR(thumb.Pixel(20, 48).r, 220, 10);
  EXPECT_NEAR(thumb.Pixel(76, 48).b, 220, 10);
  EXPECT_EQ(thumb.Pixel(48, 10), RGBColor{});
  EXPECT_EQ(thumb.Pixel(48, 86), RGBColor{});

  DcmObj before;
  ASSERT_TRUE(before.Read(path));
  ASSERT_TRUE(RotateScannedPage(path, true, study_, batch_));
  DcmObj after;
  ASSERT_TRUE(after.Read(path));
  EXPECT_EQ(after.GetString(0x0008, 0x0018), before.GetString(0x0008, 0x0018));
  EXPECT_EQ(after.GetString(0x0020, 0x000E), before.GetString(0x0020, 0x000E));
  EXPECT_EQ(after.GetString(0x0020, 0x0013), "2");
  EXPECT_EQ(after.GetUS(0x0028, 0x0010), 400);  // rows and columns swapped
  EXPECT_EQ(after.GetUS(0x0028, 0x0011), 200);
  // Clockwise, the red left half is now on top.
  ASSERT_TRUE(RenderPageThumbnail(path, thumb, label));
  EXPECT_NEAR(thumb.Pixel(48, 20).r, 220, 10);
  EXPECT_NEAR(thumb.Pixel(48, 76).b, 220, 10);
  EXPECT_EQ(counter_, 2);  // no number taken

  // A page that cannot be read: a black slot, no label, and the file left as it was.
  LogCapture log;
  testsupport::WriteAll(dir_ + "/broken.dcm", "not a DICOM file");
  EXPECT_FALSE(RenderPageThumbnail(dir_ + "/broken.dcm", thumb, label));
  EXPECT_EQ(thumb.Pixel(48, 48), RGBColor{});
  EXPECT_TRUE(label.empty());
  std::string broken = dir_ + "/broken.dcm";
  EXPECT_FALSE(RotateScannedPage(broken, false, study_, batch_));
  EXPECT_EQ(testsupport::ReadAll(dir_ + "/broken.dcm"), "not a DICOM file");
}

// A page whose every block turns whole is turned without decoding: exactly as jpegtran turns it.
TEST_F(PageBatch, TurnedLosslesslyWhereEveryBlockTurnsWhole) {
  auto fragment = [](const std::string& path) {
    DcmObj obj;
    EXPECT_TRUE(obj.Read(path));
    const DcmTag* f = obj.GetTag(obj.IndexOf(0x7FE0, 0x0010) + 2);
    return f && f->data() ? std::string(reinterpret_cast<const char*>(f->data()), f->size()) : std::string();
  };
  std::string path = BuildPageFromBitmap(Halves(64, 48), study_, batch_, counter_);
  testsupport::WriteAll(dir_ + "/page.jpg", fragment(path));
  std::string turned;
  ASSERT_EQ(testsupport::Run({"jpegtran", "-copy", "none", "-rotate", "270", dir_ + "/page.jpg"}, &turned), 0);
  ASSERT_TRUE(RotateScannedPage(path, false, study_, batch_));
  EXPECT_EQ(fragment(path), turned);
}

}  // namespace
