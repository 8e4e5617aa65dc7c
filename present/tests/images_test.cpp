#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "codec/convert.h"
#include "core/dcmobj.h"
#include "core/log.h"
#include "present/images.h"
#include "tests/support/log_capture.h"
#include "tests/support/peer.h"

namespace {

DcmObj Radiograph(const std::string& modality) {
  DcmObj obj;
  obj.SetText(0x0008, 0x0060, modality);
  return obj;
}
}  // namespace

TEST(Images, PixelSpacingWarnings) {
  {
    LogCapture log;
    DcmObj cr = Radiograph("CR");
    cr.SetText(0x0028, 0x0030, "0.1\\0.1");
    TImages im;
    im.Load(cr);
    EXPECT_FLOAT_EQ(im.imagerPixelSpacing[0], 0.1f);
    EXPECT_FLOAT_EQ(im.imagerPixelSpacing[1], 0.1f);
    EXPECT_NE(log.Text().find("WARNING, Imager PixelSpacing is empty, Using Pixel Spacing from (0028, 0030)"),
              std::string::npos);
  }
  {
    LogCapture log;
    DcmObj cr = Radiograph("CR");
    cr.SetText(0x0018, 0x1164, "0.15\\0.15");
    cr.SetText(0x0028, 0x0030, "0.1\\0.1");
    TImages im;
    im.Load(cr);
    EXPECT_NE(log.Text().find("WARNING, Imager PixelSpacing (0.150000005960464)!= PixelSpacing ((0.100000001490116)"),
              std::string::npos);
  }
  {
    LogCapture log;
    DcmObj dx = Radiograph("DX");
    dx.SetText(0x0008, 0x0070, "Acme SoReDeX Oy");
    TImages im;
    im.Load(dx);
    EXPECT_EQ(im.calibrationLabel, "SOREDEX");
    DcmObj ct = Radiograph("CT");
    TImages im2;
    im2.Load(ct);
    EXPECT_EQ(log.Text().find("WARNING"), std::string::npos);
  }
}

TEST(Images, LoadsPlanarColourSkipsIconAndEncapsulatedData) {
  DcmObj obj;
  obj.SetText(0x0008, 0x0060, "OT");
  obj.SetText(0x0020, 0x0013, "12 ");
  obj.SetText(0x0028, 0x0004, "RGB");
  obj.Insert(DcmTag::Number16(0x0028, 0x0006, 1));
  obj.Insert(DcmTag::Number16(0x0028, 0x0010, 1));
  obj.Insert(DcmTag::Number16(0x0028, 0x0011, 2));
  obj.Insert(DcmTag::Number16(0x0028, 0x0100, 8));
  // A flat icon image with its own size and pixel data.
  DcmTag icon(0x0088, 0x0200, uint32_t{0}, nullptr, "SQ");
  icon.length = kUndefinedLength;
  obj.Add(std::move(icon));
  DcmTag item(0xFFFE, 0xE000, uint32_t{0}, nullptr, "DL");
  item.length = kUndefinedLength;
  obj.Add(std::move(item));
  obj.Add(DcmTag::Number16(0x0028, 0x0010, 64));
  obj.Add(DcmTag::Number16(0x0028, 0x0011, 64));
  const uint8_t iconPixels[4] = {9, 9, 9, 9};
  obj.Add(DcmTag(0x7FE0, 0x0010, 4, iconPixels, "OB"));
  obj.Add(DcmTag(0xFFFE, 0xE00D, uint32_t{0}, nullptr, "DL"));
  obj.Add(DcmTag(0xFFFE, 0xE0DD, uint32_t{0}, nullptr, "DL"));
  const uint8_t planes[8] = {1, 2, 11, 12, 21, 22, 99, 99};  // two trailing bytes beyond the image
  obj.Add(DcmTag(0x7FE0, 0x0010, 8, planes, "OB"));
  TImages im;
  im.Load(obj);
  EXPECT_EQ(im.rows, 1);
  EXPECT_EQ(im.columns, 2);
  EXPECT_TRUE(im.colour);
  EXPECT_EQ(im.instanceNumber, 12);
  EXPECT_EQ(im.data, (std::vector<uint8_t>{1, 11, 21, 2, 12, 22}));

  // Encapsulated pixel data: nothing loaded, nothing drawn, nothing mapped.
  DcmObj enc;
  enc.SetText(0x0028, 0x0004, "RGB");
  enc.Insert(DcmTag::Number16(0x0028, 0x0010, 4));
  enc.Insert(DcmTag::Number16(0x0028, 0x0011, 4));
  enc.Insert(DcmTag::Number16(0x0028, 0x0100, 8));
  DcmTag px(0x7FE0, 0x0010, uint32_t{0}, nullptr, "OB");
  px.length = kUndefinedLength;
  enc.Add(std::move(px));
  enc.Add(DcmTag(0xFFFE, 0xE000, uint32_t{0}, nullptr, "DL"));
  enc.Add(DcmTag(0xFFFE, 0xE000, 4, iconPixels, "DL"));
  enc.Add(DcmTag(0xFFFE, 0xE0DD, uint32_t{0}, nullptr, "DL"));
  TImages e;
  e.Load(enc);
  EXPECT_TRUE(e.data.empty());
  EXPECT_EQ(e.ApplyVOILUT(), 0u);
  DCMPresentation view(&e);
  Bitmap bmp(8, 8);
  view.background = RGBColor{5, 6, 7};
  view.Render(bmp, 0, 0, 0, 0, 0);
  EXPECT_EQ(bmp.Pixel(3, 3), (RGBColor{5, 6, 7}));
}

TEST(Images, VoiLutFromANestedSequenceMapsStoredValues) {
  DcmObj obj;
  obj.SetText(0x0008, 0x0060, "OT");
  obj.SetText(0x0028, 0x0004, "MONOCHROME2");
  obj.Insert(DcmTag::Number16(0x0028, 0x0010, 1));
  obj.Insert(DcmTag::Number16(0x0028, 0x0011, 3));
  obj.Insert(DcmTag::Number16(0x0028, 0x0100, 16));
  const uint8_t desc[6] = {3, 0, 100, 0, 16, 0};
  const uint8_t lut[6] = {10, 0, 20, 0, 30, 0};
  auto it = std::make_unique<DcmObj>();
  it->Insert(DcmTag(0x0028, 0x3002, 6, desc, "US"));
  it->Insert(DcmTag(0x0028, 0x3006, 6, lut, "OW"));
  auto seq = std::make_unique<DcmObj>();
  seq->InsertSequence(0xFFFE, 0xE000, std::move(it));
  obj.InsertSequence(0x0028, 0x3010, std::move(seq));
  const uint8_t px[6] = {50, 0, 101, 0, 0xA0, 0x0F};  // 50, 101, 4000
  obj.Insert(DcmTag(0x7FE0, 0x0010, 6, px, "OW"));
  TImages im;
  im.Load(obj);
  ASSERT_TRUE(im.voiLUTFound);
  EXPECT_EQ(im.ApplyVOILUT(), 3u);
  EXPECT_EQ(im.data, (std::vector<uint8_t>{10, 0, 20, 0, 30, 0}));
}

TEST(Images, ThumbnailOfABaselinePageAfterConversion) {
  // A 200 x 120 page, left half red, right half blue, stored as JPEG baseline.
  std::vector<uint8_t> rgb(200 * 120 * 3);
  for (size_t k = 0; k < 200 * 120; ++k) {
    const bool left = (k % 200) < 100;
    rgb[3 * k] = left ? 220 : 20;
    rgb[3 * k + 1] = 30;
    rgb[3 * k + 2] = left ? 20 : 220;
  }
  DcmObj page;
  page.SetText(0x0008, 0x0060, "OT");
  page.SetText(0x0028, 0x0004, "RGB");
  page.Insert(DcmTag::Number16(0x0028, 0x0010, 120));
  page.Insert(DcmTag::Number16(0x0028, 0x0011, 200));
  page.Insert(DcmTag::Number16(0x0028, 0x0100, 8));
  page.Insert(DcmTag(0x7FE0, 0x0010, static_cast<uint32_t>(rgb.size()), rgb.data(), "OB"));
  page.transferSyntax = "1.2.840.10008.1.2.1";
  ASSERT_TRUE(ConvertTransferSyntax(page, "1.2.840.10008.1.2.4.50"));
  ASSERT_EQ(page.GetString(0x0028, 0x0004), "YBR_FULL");
  ASSERT_TRUE(ConvertTransferSyntax(page, "1.2.840.10008.1.2.1"));
  TImages im;
  im.Load(page);
  ASSERT_TRUE(im.colour);
  ASSERT_EQ(im.data.size(), rgb.size());
  DCMPresentation view(&im);
  view.scale = 200.0f / 96.0f;
  Bitmap bmp;
  MakeFilledBitmap(bmp, 96, 96, RGBColor{});
  view.Render(bmp, 0, 0, 0, 0, 0);
  const RGBColor l = bmp.Pixel(20, 48), r = bmp.Pixel(76, 48);
  EXPECT_NEAR(l.r, 220, 8);
  EXPECT_NEAR(l.b, 20, 8);
  EXPECT_NEAR(r.r, 20, 8);
  EXPECT_NEAR(r.b, 220, 8);
  EXPECT_EQ(bmp.Pixel(48, 5), RGBColor{});  // above the page: background
}

// Rows, Columns and Bits Allocated that promise gigabytes over a few hundred bytes of Pixel Data
// (a damaged file found by fuzzing): nothing of that size is allocated and nothing is shown.
TEST(Images, PixelDataShorterThanOneFrameIsNotLoaded) {
  {
    LogCapture log;
    DcmObj obj;
    ASSERT_TRUE(obj.Read(std::string(SCRIVARA_SOURCE_DIR) + "/present/tests/data/frame_larger_than_pixel_data.dcm"));
    TImages im;
    im.Load(obj);
    EXPECT_TRUE(im.data.empty());
    EXPECT_NE(log.Text().find("ERROR, TImages::Load, Pixel Data holds 255 bytes, one frame needs"), std::string::npos);
  }
  // Frames beyond the value are dropped; a cut-short last frame is padded with zeros.
  DcmObj obj;
  obj.Insert(DcmTag::Number16(0x0028, 0x0010, 2, "US"));
  obj.Insert(DcmTag::Number16(0x0028, 0x0011, 2, "US"));
  obj.Insert(DcmTag::Number16(0x0028, 0x0100, 8, "US"));
  obj.SetText(0x0028, 0x0004, "MONOCHROME2");
  obj.SetText(0x0028, 0x0008, "999999");
  const uint8_t pixels[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  obj.Insert(DcmTag(0x7FE0, 0x0010, 10, pixels, "OB"));
  TImages im;
  im.Load(obj);
  EXPECT_EQ(im.frames, 3);
  ASSERT_EQ(im.data.size(), 12u);
  EXPECT_EQ(im.data[9], 10);
  EXPECT_EQ(im.data[10], 0);
}
