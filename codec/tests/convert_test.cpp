#include "codec/convert.h"

#include <gtest/gtest.h>

#include <locale>

#include "codec/jpeg.h"
#include "codec/tests/convert_test_util.h"
#include "tests/support/dicom_fixture.h"
#include "tests/support/log_capture.h"
#include "tests/support/peer.h"

using namespace convtest;

namespace {
const std::string kIVR = "1.2.840.10008.1.2";
const std::string kEVR = "1.2.840.10008.1.2.1";
const std::string kBE = "1.2.840.10008.1.2.2";
const std::string kBaseline = "1.2.840.10008.1.2.4.50";
const std::string kExtended = "1.2.840.10008.1.2.4.51";
const std::string kLossless14 = "1.2.840.10008.1.2.4.57";
const std::string kLossless = "1.2.840.10008.1.2.4.70";
const std::string kMpeg2 = "1.2.840.10008.1.2.4.100";

Shape Gray8(int frames = 1) {
  Shape s;
  s.frames = frames;
  return s;
}

std::vector<uint8_t> Baseline(const std::vector<uint8_t>& frame, int w, int h, int comps) {
  std::vector<uint8_t> out;
  EXPECT_EQ(EncodeJPEG8(w, h, comps, frame.data(), frame.size(), out, 0), 0);
  return out;
}
}  // namespace

TEST(Convert, RefusalsLeaveTheDataSetUnchangedWithOneLogLine) {
  LogCapture log;
  auto obj = MakeImage(Gray8(), fixture::MakeFrame(16, 16, 1, 8));
  const auto before = DumpOf(*obj);
  EXPECT_TRUE(ConvertTransferSyntax(*obj, ""));
  EXPECT_TRUE(ConvertTransferSyntax(*obj, kEVR));
  for (const std::string& target : {kLossless14, kMpeg2, std::string("1.2.3.4")}) {
    EXPECT_FALSE(ConvertTransferSyntax(*obj, target)) << target;
    EXPECT_EQ(DumpOf(*obj), before) << target;
  }
  EXPECT_EQ(log.Count("ERROR, DcmObj::ConvertTransferSyntax, "), 3);

  obj->transferSyntax = kMpeg2;
  EXPECT_FALSE(ConvertTransferSyntax(*obj, kEVR));
  EXPECT_EQ(obj->transferSyntax, kMpeg2);
  EXPECT_EQ(log.Count("ERROR, DcmObj::ConvertTransferSyntax, no decoder for source 1.2.840.10008.1.2.4.100"), 1);

  // No Pixel Data to code: false, and nothing (not even the syntax) changes.
  DcmObj bare;
  bare.transferSyntax = kEVR;
  bare.SetText(0x0008, 0x0060, "OT");
  EXPECT_FALSE(ConvertTransferSyntax(bare, "1.2.840.10008.1.2.4.50"));
  EXPECT_EQ(bare.transferSyntax, kEVR);
  EXPECT_EQ(log.Count("ERROR, DcmObj::ConvertTransferSyntax, no Pixel Data"), 1);
}

TEST(Convert, NativeLengthOneByteLongConvertsTwoBytesFail) {
  LogCapture log;
  auto px = fixture::MakeFrame(15, 3, 1, 8);  // 45 bytes: the element pads it to 46
  auto obj = MakeImage([] { Shape s; s.rows = 3; s.columns = 15; return s; }(), px);
  EXPECT_EQ(obj->FindTag(0x7FE0, 0x0010)->size(), 46u);
  ASSERT_TRUE(ConvertTransferSyntax(*obj, kIVR));
  EXPECT_EQ(obj->transferSyntax, kIVR);
  EXPECT_FALSE(obj->explicitVR);
  auto out = PixelBytes(*obj);
  ASSERT_EQ(out.size(), 46u);
  EXPECT_TRUE(std::equal(px.begin(), px.end(), out.begin()));

  auto px2 = fixture::MakeFrame(16, 16, 1, 8);
  px2.push_back(0);
  px2.push_back(0);
  auto longer = MakeImage(Gray8(), px2);
  const auto before = DumpOf(*longer);
  EXPECT_FALSE(ConvertTransferSyntax(*longer, kIVR));
  EXPECT_EQ(DumpOf(*longer), before);
  EXPECT_EQ(log.Count("ERROR, DcmObj::ConvertTransferSyntax, tag->length!=size"), 1);
}

TEST(Convert, NativeTargetsChooseOBorOWAndPlanarBecomesInterleaved) {
  Shape ct;
  ct.modality = "CT";
  ct.bitsAllocated = 16;
  ct.bitsStored = 12;
  auto px = fixture::MakeFrame(16, 16, 1, 12);
  auto obj = MakeImage(ct, px, kIVR);
  ASSERT_TRUE(ConvertTransferSyntax(*obj, kEVR));
  EXPECT_TRUE(obj->FindTag(0x7FE0, 0x0010)->IsVR("OW"));
  EXPECT_EQ(PixelBytes(*obj), px);
  EXPECT_TRUE(obj->explicitVR);

  // Planar RGB: R plane, G plane, B plane -> R G B per pixel, Planar Configuration 0.
  Shape rgb;
  rgb.photometric = "RGB";
  rgb.rows = 2;
  rgb.columns = 2;
  rgb.planar = 1;
  std::vector<uint8_t> planes = {1, 2, 3, 4, 11, 12, 13, 14, 21, 22, 23, 24};
  auto colour = MakeImage(rgb, planes, kIVR);
  ASSERT_TRUE(ConvertTransferSyntax(*colour, kEVR));
  EXPECT_EQ(PixelBytes(*colour), (std::vector<uint8_t>{1, 11, 21, 2, 12, 22, 3, 13, 23, 4, 14, 24}));
  EXPECT_EQ(colour->GetUS(0x0028, 0x0006), 0);
  EXPECT_TRUE(colour->FindTag(0x7FE0, 0x0010)->IsVR("OB"));
}

TEST(Convert, TwoGrayFramesToBaselineAreEncapsulatedWithTheRatio) {
  auto f1 = fixture::MakeFrame(32, 24, 1, 8, 1);
  auto f2 = fixture::MakeFrame(32, 24, 1, 8, 2);
  std::vector<uint8_t> px = f1;
  px.insert(px.end(), f2.begin(), f2.end());
  Shape s;
  s.rows = 24;
  s.columns = 32;
  s.frames = 2;
  auto obj = MakeImage(s, px);
  ASSERT_TRUE(ConvertTransferSyntax(*obj, kBaseline));
  const size_t p = IndexOf(*obj, 0x7FE0, 0x0010);
  ASSERT_EQ(p + 5, obj->Count());
  const DcmTag* pixel = obj->GetTag(p);
  EXPECT_TRUE(pixel->IsVR("OB"));
  EXPECT_EQ(pixel->length, kUndefinedLength);
  EXPECT_TRUE(obj->GetTag(p + 1)->Is(0xFFFE, 0xE000));
  EXPECT_EQ(obj->GetTag(p + 1)->length, 0u);
  const DcmTag* a = obj->GetTag(p + 2);
  const DcmTag* b = obj->GetTag(p + 3);
  EXPECT_TRUE(obj->GetTag(p + 4)->Is(0xFFFE, 0xE0DD));
  EXPECT_EQ(a->length % 2, 0u);
  EXPECT_EQ(a->data()[0], 0xFF);
  EXPECT_EQ(a->data()[1], 0xD8);
  char expect[32];
  std::snprintf(expect, sizeof expect, "%.2f", float(px.size()) / float(a->length + b->length));
  EXPECT_EQ(obj->GetString(0x0028, 0x2112), expect);
  EXPECT_EQ(obj->GetString(0x0028, 0x2110), "01");
  EXPECT_EQ(obj->GetString(0x0028, 0x2114), "ISO_10918_1");
  EXPECT_EQ(obj->transferSyntax, kBaseline);

  // And back: two native frames close to the originals.
  ASSERT_TRUE(ConvertTransferSyntax(*obj, kEVR));
  auto back = PixelBytes(*obj);
  ASSERT_EQ(back.size(), px.size());
  EXPECT_GT(Psnr(back, px, 1, 255), 30.0);
  EXPECT_EQ(obj->Count(), p + 1);
}

TEST(Convert, CompStoresAtTheIndexAndEndsOnTheDelimiter) {
  auto px = fixture::MakeFrame(16, 16, 1, 8);
  auto obj = MakeImage(Gray8(), px);
  obj->SetText(0xFFFC, 0xFFFC, "pad");  // an element after Pixel Data stays after the fragments
  size_t index = IndexOf(*obj, 0x7FE0, 0x0010);
  const size_t start = index;
  float ratio = -1;
  ASSERT_TRUE(Comp(*obj, index, px.data(), false, 16, 16, 8, 8, 0, 0, 1.0f, 0.0f, ratio, 1, kLossless, "OT"));
  EXPECT_EQ(index, start + 3);
  EXPECT_TRUE(obj->GetTag(index)->Is(0xFFFE, 0xE0DD));
  EXPECT_TRUE(obj->GetTag(index + 1)->Is(0xFFFC, 0xFFFC));
  EXPECT_EQ(ratio, -1);  // lossless: no ratio

  LogCapture log;
  auto gray8 = MakeImage(Gray8(), px);
  index = IndexOf(*gray8, 0x7FE0, 0x0010);
  const auto before = DumpOf(*gray8);
  EXPECT_FALSE(Comp(*gray8, index, px.data(), false, 16, 16, 8, 8, 0, 0, 1.0f, 0.0f, ratio, 1, kExtended, "OT"));
  EXPECT_EQ(log.Count("ERROR, DcmObj::Comp, Using Lossy 12 bit compression for 8 bit image"), 1);
  EXPECT_EQ(DumpOf(*gray8), before);
}

TEST(Convert, Ct16BitToBaselineRewritesThePixelModule) {
  Shape ct;
  ct.modality = "CT";
  ct.bitsAllocated = 16;
  ct.bitsStored = 12;
  ct.intercept = "-1024";
  ct.slope = "1";
  std::vector<int> values(256);
  for (int i = 0; i < 256; ++i) values[i] = 1024 + (i % 16) * 64;  // 0..960 HU
  auto obj = MakeImage(ct, Words(values));
  ASSERT_TRUE(ConvertTransferSyntax(*obj, kBaseline));
  EXPECT_EQ(obj->GetUS(0x0028, 0x0100), 8);
  EXPECT_EQ(obj->GetUS(0x0028, 0x0101), 8);
  EXPECT_EQ(obj->GetUS(0x0028, 0x0102), 7);
  EXPECT_EQ(obj->GetUS(0x0028, 0x0103), 0);
  EXPECT_EQ(obj->FindTag(0x0028, 0x1052)->bytes().size(), 6u);
  EXPECT_EQ(obj->GetString(0x0028, 0x1052), "-1024");
  EXPECT_EQ(obj->GetString(0x0028, 0x1053), "16");
  EXPECT_EQ(obj->GetString(0x0028, 0x2110), "01");
  const std::string ratio = obj->GetString(0x0028, 0x2112);
  ASSERT_GE(ratio.size(), 4u);
  EXPECT_EQ(ratio[ratio.size() - 3], '.');
  // Decoded: (v - 1024 + 1024) >> 4, so new slope 16 and intercept -1024 lead back to HU.
  ASSERT_TRUE(ConvertTransferSyntax(*obj, kEVR));
  auto back = PixelBytes(*obj);
  std::vector<uint8_t> expect(256);
  for (int i = 0; i < 256; ++i) expect[i] = uint8_t(values[i] >> 4);
  EXPECT_GT(Psnr(back, expect, 1, 255), 35.0);

  Shape mr = ct;
  mr.modality = "MR";
  mr.intercept = "5";
  auto mrObj = MakeImage(mr, Words(values));
  ASSERT_TRUE(ConvertTransferSyntax(*mrObj, kBaseline));
  EXPECT_EQ(mrObj->GetString(0x0028, 0x1053), "16");
  EXPECT_EQ(mrObj->GetString(0x0028, 0x1052), "0");
}

TEST(Convert, YbrFull422BaselineBecomesNativeRgb) {
  auto rgb = fixture::MakeFrame(24, 16, 3, 8, 3, 0);
  Shape s;
  s.photometric = "YBR_FULL_422";
  s.rows = 16;
  s.columns = 24;
  s.planar = 0;
  auto obj = MakeImage(s, rgb, kBaseline);
  Encapsulate(*obj, {Baseline(rgb, 24, 16, 3)});
  ASSERT_TRUE(ConvertTransferSyntax(*obj, kEVR));
  EXPECT_EQ(obj->GetString(0x0028, 0x0004), "RGB");
  EXPECT_EQ(obj->FindTag(0x0028, 0x0004)->size(), 4u);
  EXPECT_EQ(obj->GetUS(0x0028, 0x0006), 0);
  EXPECT_EQ(obj->transferSyntax, kEVR);
  EXPECT_TRUE(obj->explicitVR);
  EXPECT_GT(Psnr(PixelBytes(*obj), rgb, 1, 255), 25.0);  // YCbCr left unconverted gives about 10
  EXPECT_EQ(obj->photometric, "YBR_FULL_422");
}

TEST(Convert, FragmentsAreJoinedSplitByOffsetTableOrRefused) {
  LogCapture log;
  auto frame = fixture::MakeFrame(16, 16, 1, 8, 5);
  auto stream = Baseline(frame, 16, 16, 1);
  // One frame in three fragments.
  const size_t third = (stream.size() / 3) & ~size_t(1);
  std::vector<uint8_t> p1(stream.begin(), stream.begin() + third), p2(stream.begin() + third, stream.begin() + 2 * third),
      p3(stream.begin() + 2 * third, stream.end());
  auto single = MakeImage(Gray8(), frame, kBaseline);
  Encapsulate(*single, {p1, p2, p3});
  ASSERT_TRUE(ConvertTransferSyntax(*single, kEVR));
  EXPECT_GT(Psnr(PixelBytes(*single), frame, 1, 255), 30.0);

  // Two frames in four fragments, with an offset table.
  auto frame2 = fixture::MakeFrame(16, 16, 1, 8, 6);
  auto stream2 = Baseline(frame2, 16, 16, 1);
  const size_t half = (stream2.size() / 2) & ~size_t(1);
  std::vector<uint8_t> q1(stream2.begin(), stream2.begin() + half), q2(stream2.begin() + half, stream2.end());
  if (q2.size() % 2) q2.push_back(0);
  std::vector<uint8_t> r1 = p1, r2(stream.begin() + third, stream.end());
  if (r2.size() % 2) r2.push_back(0);
  const uint32_t second = uint32_t(8 + r1.size() + 8 + r2.size());
  std::vector<uint8_t> bot = {0, 0, 0, 0, uint8_t(second), uint8_t(second >> 8), uint8_t(second >> 16), 0};
  std::vector<uint8_t> both = frame;
  both.insert(both.end(), frame2.begin(), frame2.end());
  auto multi = MakeImage(Gray8(2), both, kBaseline);
  Encapsulate(*multi, {r1, r2, q1, q2}, bot);
  ASSERT_TRUE(ConvertTransferSyntax(*multi, kEVR));
  auto out = PixelBytes(*multi);
  ASSERT_EQ(out.size(), both.size());
  EXPECT_GT(Psnr(std::vector<uint8_t>(out.begin() + 256, out.end()), frame2, 1, 255), 30.0);

  // The same without the offset table is refused.
  auto noTable = MakeImage(Gray8(2), both, kBaseline);
  Encapsulate(*noTable, {r1, r2, q1, q2});
  const auto before = DumpOf(*noTable);
  EXPECT_FALSE(ConvertTransferSyntax(*noTable, kEVR));
  EXPECT_EQ(DumpOf(*noTable), before);
  EXPECT_EQ(log.Count("ERROR, DcmObj::Decomp, 4 fragments for 2 frames and no Basic Offset Table"), 1);
}

TEST(Convert, AFrameThatFailsToDecodeFailsTheConversionUntouched) {
  LogCapture log;
  auto f1 = fixture::MakeFrame(16, 16, 1, 8, 1);
  std::vector<uint8_t> both = f1;
  both.insert(both.end(), f1.begin(), f1.end());
  auto obj = MakeImage(Gray8(2), both, kBaseline);
  Encapsulate(*obj, {Baseline(f1, 16, 16, 1), std::vector<uint8_t>(40, 0x55)});
  const auto before = DumpOf(*obj);
  EXPECT_FALSE(ConvertTransferSyntax(*obj, kLossless));
  EXPECT_EQ(DumpOf(*obj), before);
  EXPECT_EQ(log.Count("ERROR, DcmObj::Decomp, frame 2 of 2 could not be decoded"), 1);
  EXPECT_EQ(log.Count("ERROR"), 1) << log.Text();
}

TEST(Convert, CrWithVoiLutTo12BitLosesTheSequenceAndCarriesMappedValues) {
  for (bool nested : {false, true}) {
    Shape cr;
    cr.modality = "CR";
    cr.bitsAllocated = 16;
    cr.bitsStored = 12;
    std::vector<int> values(256);
    for (int i = 0; i < 256; ++i) values[i] = 100 + i;
    auto obj = MakeImage(cr, Words(values));
    // LUT: first mapped 100, 256 entries, 12 bits: entry k = 4000 - 10 * k.
    std::vector<int> entries(256);
    for (int k = 0; k < 256; ++k) entries[k] = 4000 - 10 * k;
    const std::vector<uint8_t> desc = Words({256, 100, 12});
    const std::vector<uint8_t> data = Words(entries);
    if (nested) {
      auto item = std::make_unique<DcmObj>();
      item->Insert(DcmTag(0x0028, 0x3002, uint32_t(desc.size()), desc.data(), "US"));
      item->Insert(DcmTag(0x0028, 0x3006, uint32_t(data.size()), data.data(), "OW"));
      auto seq = std::make_unique<DcmObj>();
      seq->InsertSequence(0xFFFE, 0xE000, std::move(item));
      obj->InsertSequence(0x0028, 0x3010, std::move(seq));
    } else {
      // Flat: sequence, item, descriptor, data, item delimiter, sequence delimiter, before Pixel Data.
      DcmObj tail;
      const size_t p = IndexOf(*obj, 0x7FE0, 0x0010);
      DcmTag pixel = *obj->GetTag(p);
      obj->Delete(p);
      DcmTag sq(0x0028, 0x3010, uint32_t{0}, nullptr, "SQ");
      sq.length = kUndefinedLength;
      obj->Add(std::move(sq));
      DcmTag it(0xFFFE, 0xE000, uint32_t{0}, nullptr, "DL");
      it.length = kUndefinedLength;
      obj->Add(std::move(it));
      obj->Add(DcmTag(0x0028, 0x3002, uint32_t(desc.size()), desc.data(), "US"));
      obj->Add(DcmTag(0x0028, 0x3006, uint32_t(data.size()), data.data(), "OW"));
      obj->Add(DcmTag(0xFFFE, 0xE00D, uint32_t{0}, nullptr, "DL"));
      obj->Add(DcmTag(0xFFFE, 0xE0DD, uint32_t{0}, nullptr, "DL"));
      obj->Add(std::move(pixel));
    }
    ASSERT_TRUE(ConvertTransferSyntax(*obj, kExtended)) << nested;
    EXPECT_EQ(IndexOf(*obj, 0x0028, 0x3010), obj->Count());
    for (size_t i = 0; i < obj->Count(); ++i) EXPECT_FALSE(obj->GetObj(i)) << nested;
    EXPECT_EQ(IndexOf(*obj, 0xFFFE, 0xE00D), obj->Count());
    EXPECT_EQ(obj->GetString(0x0028, 0x2110), "01");
    ASSERT_TRUE(ConvertTransferSyntax(*obj, kEVR));
    auto back = PixelBytes(*obj);
    std::vector<int> mapped(256);
    for (int i = 0; i < 256; ++i) mapped[i] = entries[i];
    EXPECT_GT(Psnr(back, Words(mapped), 2, 4095), 40.0) << nested;
  }
}

TEST(Convert, ApplyVOILUTDoesNothingForEncapsulatedPixelData) {
  Shape cr;
  cr.modality = "CR";
  cr.bitsAllocated = 16;
  cr.bitsStored = 12;
  auto obj = MakeImage(cr, Words(std::vector<int>(256, 7)), kLossless);
  auto item = std::make_unique<DcmObj>();
  const std::vector<uint8_t> desc = Words({2, 0, 12});
  const std::vector<uint8_t> data = Words({1, 2});
  item->Insert(DcmTag(0x0028, 0x3002, uint32_t(desc.size()), desc.data(), "US"));
  item->Insert(DcmTag(0x0028, 0x3006, uint32_t(data.size()), data.data(), "OW"));
  auto seq = std::make_unique<DcmObj>();
  seq->InsertSequence(0xFFFE, 0xE000, std::move(item));
  obj->InsertSequence(0x0028, 0x3010, std::move(seq));
  Encapsulate(*obj, {std::vector<uint8_t>(10, 1)});
  const auto before = DumpOf(*obj);
  EXPECT_EQ(ApplyVOILUT(*obj), 0);
  EXPECT_EQ(DumpOf(*obj), before);
  // Native: all samples mapped, the nested sequence removed.
  auto native = MakeImage(cr, Words(std::vector<int>(256, 7)));
  auto item2 = std::make_unique<DcmObj>();
  item2->Insert(DcmTag(0x0028, 0x3002, uint32_t(desc.size()), desc.data(), "US"));
  item2->Insert(DcmTag(0x0028, 0x3006, uint32_t(data.size()), data.data(), "OW"));
  auto seq2 = std::make_unique<DcmObj>();
  seq2->InsertSequence(0xFFFE, 0xE000, std::move(item2));
  native->InsertSequence(0x0028, 0x3010, std::move(seq2));
  EXPECT_EQ(ApplyVOILUT(*native), 1);
  EXPECT_EQ(PixelBytes(*native), Words(std::vector<int>(256, 2)));
}

TEST(Convert, BigEndianValuesAreSwappedBothWays) {
  Shape mr;
  mr.modality = "MR";
  mr.bitsAllocated = 16;
  mr.bitsStored = 16;
  mr.rows = 1;
  mr.columns = 2;
  auto obj = MakeImage(mr, Words({0x1234, 0xABCD}));
  ASSERT_TRUE(ConvertTransferSyntax(*obj, kBE));
  EXPECT_EQ(obj->transferSyntax, kBE);
  EXPECT_EQ(PixelBytes(*obj), (std::vector<uint8_t>{0x12, 0x34, 0xAB, 0xCD}));
  const DcmTag* rows = obj->FindTag(0x0028, 0x0010);
  EXPECT_EQ(rows->data()[1], 1);
  EXPECT_TRUE(rows->bigEndian);
  EXPECT_EQ(obj->GetUS(0x0028, 0x0011), 2);
  ASSERT_TRUE(ConvertTransferSyntax(*obj, kLossless));
  ASSERT_TRUE(ConvertTransferSyntax(*obj, kEVR));
  EXPECT_EQ(PixelBytes(*obj), Words({0x1234, 0xABCD}));
  EXPECT_EQ(obj->FindTag(0x0028, 0x0010)->data()[0], 1);
}

TEST(Convert, IconImageIsLeftAsItIs) {
  Shape ct;
  ct.modality = "CT";
  ct.bitsAllocated = 16;
  ct.bitsStored = 12;
  ct.intercept = "-1024";
  ct.slope = "1";
  auto obj = MakeImage(ct, Words(std::vector<int>(256, 1100)));
  // A flat Icon Image Sequence (8-bit, 2 x 2) placed before the main Pixel Data.
  const size_t p = IndexOf(*obj, 0x7FE0, 0x0010);
  DcmTag pixel = *obj->GetTag(p);
  obj->Delete(p);
  DcmTag sq(0x0088, 0x0200, uint32_t{0}, nullptr, "SQ");
  sq.length = kUndefinedLength;
  obj->Add(std::move(sq));
  DcmTag it(0xFFFE, 0xE000, uint32_t{0}, nullptr, "DL");
  it.length = kUndefinedLength;
  obj->Add(std::move(it));
  obj->Add(DcmTag::Number16(0x0028, 0x0010, 2));
  obj->Add(DcmTag::Number16(0x0028, 0x0011, 2));
  obj->Add(DcmTag::Number16(0x0028, 0x0100, 8));
  obj->Add(DcmTag::Number16(0x0028, 0x0101, 8));
  const uint8_t icon[4] = {1, 2, 3, 4};
  obj->Add(DcmTag(0x7FE0, 0x0010, 4, icon, "OB"));
  obj->Add(DcmTag(0xFFFE, 0xE00D, uint32_t{0}, nullptr, "DL"));
  obj->Add(DcmTag(0xFFFE, 0xE0DD, uint32_t{0}, nullptr, "DL"));
  obj->Add(std::move(pixel));
  ASSERT_TRUE(ConvertTransferSyntax(*obj, kExtended));
  const size_t s = IndexOf(*obj, 0x0088, 0x0200);
  EXPECT_EQ(obj->GetTag(s + 2)->GetUS(), 2);
  EXPECT_EQ(obj->GetTag(s + 4)->GetUS(), 8);
  EXPECT_EQ(obj->GetTag(s + 5)->GetUS(), 8);  // icon Bits Stored not rewritten to 12
  const DcmTag* iconPixels = obj->GetTag(s + 6);
  ASSERT_TRUE(iconPixels->Is(0x7FE0, 0x0010));
  EXPECT_EQ(iconPixels->length, 4u);
  EXPECT_EQ(iconPixels->data()[3], 4);
  // The main image was coded: its Pixel Data is the encapsulated one after the icon.
  const DcmTag* main = obj->GetTag(s + 9);
  ASSERT_TRUE(main->Is(0x7FE0, 0x0010));
  EXPECT_EQ(main->length, kUndefinedLength);
  EXPECT_EQ(obj->GetUS(0x0028, 0x0101), 12);
}

namespace {
struct CommaDecimal : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
};
}  // namespace

TEST(Convert, RatioTextUsesAPeriodWhateverTheLocale) {
  const std::locale saved = std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
  auto obj = MakeImage(Gray8(), fixture::MakeFrame(16, 16, 1, 8));
  const bool ok = ConvertTransferSyntax(*obj, kBaseline);
  std::locale::global(saved);
  ASSERT_TRUE(ok);
  const std::string ratio = obj->GetString(0x0028, 0x2112);
  EXPECT_NE(ratio.find('.'), std::string::npos) << ratio;
  EXPECT_EQ(ratio.find(','), std::string::npos) << ratio;
}

TEST(Convert, MalformedPixelDataIsRefusedUntouched) {
  LogCapture log;
  auto frame = fixture::MakeFrame(16, 16, 1, 8, 5);
  auto stream = Baseline(frame, 16, 16, 1);
  // One line per failure; an RLE fragment adds the RLE decoder's own format line.
  auto check = [&](DcmObj& obj, const std::string& message, int lines = 1) {
    const auto before = DumpOf(obj);
    const int errors = log.Count("ERROR");
    EXPECT_FALSE(ConvertTransferSyntax(obj, kEVR)) << message;
    EXPECT_EQ(log.Count("ERROR"), errors + lines) << log.Text();
    EXPECT_EQ(DumpOf(obj), before) << message;
    EXPECT_EQ(log.Count(message), 1) << message << "\n" << log.Text();
  };
  {  // no delimiter
    auto obj = MakeImage(Gray8(), frame, kBaseline);
    Encapsulate(*obj, {stream});
    obj->Delete(obj->Count() - 1);
    check(*obj, "without sequence delimitation item");
  }
  {  // an offset table that points between fragments
    std::vector<uint8_t> two = frame;
    two.insert(two.end(), frame.begin(), frame.end());
    auto obj = MakeImage(Gray8(2), two, kBaseline);
    Encapsulate(*obj, {stream, stream, stream}, {0, 0, 0, 0, 9, 0, 0, 0});
    check(*obj, "Basic Offset Table entry 2 does not point at a fragment");
  }
  {  // fewer fragments than frames
    std::vector<uint8_t> two = frame;
    two.insert(two.end(), frame.begin(), frame.end());
    auto obj = MakeImage(Gray8(2), two, kBaseline);
    Encapsulate(*obj, {stream});
    check(*obj, "1 fragments for 2 frames");
  }
  {  // an RLE fragment that is not RLE
    Shape s;
    s.bitsAllocated = 16;
    s.bitsStored = 16;
    auto obj = MakeImage(s, std::vector<uint8_t>(512, 1), "1.2.840.10008.1.2.5");
    Encapsulate(*obj, {std::vector<uint8_t>(64, 0xFF)});
    check(*obj, "frame 1 of 1 could not be decoded", 2);
  }
  {  // a size no Pixel Data element can hold
    Shape s;
    s.rows = 65535;
    s.columns = 65535;
    s.bitsAllocated = 16;
    s.bitsStored = 16;
    auto obj = MakeImage(s, std::vector<uint8_t>(16, 0), kBaseline);
    Encapsulate(*obj, {stream});
    check(*obj, "does not fit a Pixel Data element");
  }
  {  // native pixel data under a compressed syntax with undefined length and no decoder
    auto obj = MakeImage(Gray8(), frame, kIVR);
    Encapsulate(*obj, {stream});
    check(*obj, "no decoder for encapsulated pixel data in 1.2.840.10008.1.2");
  }
}

TEST(Convert, EncapsulatedSizeMustBeWithinReachOfTheFragments) {
  LogCapture log;
  const std::string refused = "bytes of fragments";
  // A blank 4200 x 4200 page (17.6 MB, over the unchecked size) is far less compressible than the
  // bound allows: it converts.
  Shape page;
  page.rows = page.columns = 4200;
  const std::vector<uint8_t> white(size_t(4200) * 4200, 0xF0);
  auto obj = MakeImage(page, white, kBaseline);
  Encapsulate(*obj, {Baseline(white, 4200, 4200, 1)});
  ASSERT_TRUE(ConvertTransferSyntax(*obj, kEVR)) << log.Text();
  const auto pixels = PixelBytes(*obj);
  ASSERT_EQ(pixels.size(), white.size());
  EXPECT_LE(fixture::MaxDifference(pixels, white, 1), 2);

  // The same size claimed for a 16 x 16 stream is refused before anything is allocated or changed.
  auto small = MakeImage(page, fixture::MakeFrame(16, 16, 1, 8), kBaseline);
  Encapsulate(*small, {Baseline(fixture::MakeFrame(16, 16, 1, 8), 16, 16, 1)});
  const auto before = DumpOf(*small);
  EXPECT_FALSE(ConvertTransferSyntax(*small, kEVR));
  EXPECT_EQ(DumpOf(*small), before);
  EXPECT_EQ(log.Count(refused), 1) << log.Text();

  // The fuzz finding (codec/tests/data/fuzz): a target chooser byte, then a lossless JPEG file of
  // 16 x 4112 RGB with Bits Allocated 65528 (1.6 GB) and one fragment of 692 bytes.
  std::vector<uint8_t> input;
  ASSERT_TRUE(fixture::ReadFile(std::string(SCRIVARA_SOURCE_DIR) + "/codec/tests/data/fuzz/convert_ts-1119a7c3.bin", &input));
  const std::string dir = testsupport::MakeTempDir("convert_fuzz");
  ASSERT_TRUE(fixture::WriteFile(dir + "/in.dcm", std::vector<uint8_t>(input.begin() + 1, input.end())));
  DcmObj found;
  ASSERT_TRUE(found.Read(dir + "/in.dcm"));
  testsupport::RemoveTree(dir);
  const auto foundBefore = DumpOf(found);
  EXPECT_FALSE(ConvertTransferSyntax(found, kEVR));
  EXPECT_EQ(DumpOf(found), foundBefore);
  EXPECT_EQ(log.Count("Pixel Data of 1616706816 bytes"), 1) << log.Text();
  EXPECT_EQ(log.Count("ERROR"), 2);
}

TEST(Convert, CodingWhereTheValueLiesGivesTheFragmentsOfACopy) {
  // JPEG baseline and lossless code a little-endian interleaved value where it lies; a value that has
  // to be rearranged first (big endian, planar) goes through a work copy. Both give the same items,
  // and the source stays unchanged when the coding fails.
  auto items = [](const DcmObj& o) {
    std::vector<std::vector<uint8_t>> out;
    for (size_t i = IndexOf(o, 0x7FE0, 0x0010) + 1; i < o.Count(); ++i)
      if (const DcmTag* t = o.GetTag(i); t && t->Is(0xFFFE, 0xE000)) out.emplace_back(t->bytes().begin(), t->bytes().end());
    return out;
  };
  Shape ct;
  ct.modality = "CT";
  ct.bitsAllocated = 16;
  ct.bitsStored = 12;
  ct.frames = 3;
  ct.rows = ct.columns = 32;
  std::vector<uint8_t> px;
  for (uint32_t k = 0; k < 3; ++k) {
    auto f = fixture::MakeFrame(32, 32, 1, 12, k + 1);
    px.insert(px.end(), f.begin(), f.end());
  }
  for (const std::string& ts : {kLossless, kBaseline}) {
    SCOPED_TRACE(ts);
    auto little = MakeImage(ct, px, kEVR);
    auto big = MakeImage(ct, px, kEVR);
    ASSERT_TRUE(ConvertTransferSyntax(*big, kBE));
    ASSERT_TRUE(ConvertTransferSyntax(*little, ts));
    ASSERT_TRUE(ConvertTransferSyntax(*big, ts));
    ASSERT_EQ(items(*little).size(), 4u);
    EXPECT_EQ(items(*little), items(*big));
  }
  auto back = MakeImage(ct, px, kEVR);
  ASSERT_TRUE(ConvertTransferSyntax(*back, kLossless));
  ASSERT_TRUE(ConvertTransferSyntax(*back, kEVR));
  EXPECT_EQ(PixelBytes(*back), px);

  Shape rgb;
  rgb.photometric = "RGB";
  rgb.planar = 0;
  const auto interleaved = fixture::MakeFrame(16, 16, 3, 8, 5);
  std::vector<uint8_t> planes(interleaved.size());
  for (size_t p = 0; p < 256; ++p)
    for (size_t c = 0; c < 3; ++c) planes[c * 256 + p] = interleaved[3 * p + c];
  for (const std::string& ts : {kLossless, kBaseline}) {
    SCOPED_TRACE(ts);
    auto a = MakeImage(rgb, interleaved, kEVR);
    rgb.planar = 1;
    auto b = MakeImage(rgb, planes, kEVR);
    rgb.planar = 0;
    ASSERT_TRUE(ConvertTransferSyntax(*a, ts));
    ASSERT_TRUE(ConvertTransferSyntax(*b, ts));
    EXPECT_EQ(items(*a), items(*b));
  }

  // 16-bit colour cannot be coded as JPEG: refused before anything changes.
  LogCapture log;
  Shape rgb16 = rgb;
  rgb16.bitsAllocated = rgb16.bitsStored = 16;
  std::vector<uint8_t> wide(16 * 16 * 3 * 2, 7);
  auto refused = MakeImage(rgb16, wide, kEVR);
  const auto before = DumpOf(*refused);
  EXPECT_FALSE(ConvertTransferSyntax(*refused, kLossless));
  EXPECT_EQ(DumpOf(*refused), before);
  EXPECT_EQ(PixelBytes(*refused), wide);
}
