#include "codec/j2k.h"

#include <gtest/gtest.h>

#include "tests/support/dicom_fixture.h"
#include "tests/support/log_capture.h"

TEST(J2K, LosslessRoundTripsAreExactAndRateTenIsAboutATenth) {
  for (int bits : {8, 16}) {
    for (int comps : {1, 3}) {
      auto frame = fixture::MakeFrame(40, 24, comps, bits == 16 ? 12 : 8, 3);
      std::vector<uint8_t> cs;
      ASSERT_TRUE(EncodeJ2KFrame(frame.data(), frame.size(), cs, 40, 24, comps, bits, 0)) << bits << comps;
      ASSERT_GT(cs.size(), 2u);
      EXPECT_EQ(cs[0], 0xFF);
      EXPECT_EQ(cs[1], 0x4F);  // SOC: a raw code stream
      std::vector<uint8_t> back(frame.size(), 0xAA);
      ASSERT_TRUE(DecodeJ2KFrame(cs.data(), back.data(), cs.size(), back.size()));
      EXPECT_EQ(back, frame) << bits << " bits, " << comps << " components";
    }
  }
  auto big = fixture::MakeFrame(256, 256, 1, 8, 4, 2);
  std::vector<uint8_t> cs;
  ASSERT_TRUE(EncodeJ2KFrame(big.data(), big.size(), cs, 256, 256, 1, 8, 10));
  EXPECT_LT(cs.size(), big.size() / 8);
  EXPECT_GT(cs.size(), big.size() / 14);
}

TEST(J2K, TinyImagesAndBadInputs) {
  auto tiny = fixture::MakeFrame(3, 2, 1, 8, 1);
  std::vector<uint8_t> cs;
  ASSERT_TRUE(EncodeJ2KFrame(tiny.data(), tiny.size(), cs, 3, 2, 1, 8, 0));
  std::vector<uint8_t> back(6);
  ASSERT_TRUE(DecodeJ2KFrame(cs.data(), back.data(), cs.size(), back.size()));
  EXPECT_EQ(back, tiny);
  // The slice must match the image exactly; a failure clears it.
  std::vector<uint8_t> wrong(12, 0x77);
  EXPECT_FALSE(DecodeJ2KFrame(cs.data(), wrong.data(), cs.size(), wrong.size()));
  EXPECT_EQ(wrong, std::vector<uint8_t>(12, 0));
  std::vector<uint8_t> junk(100, 0x5A);
  EXPECT_FALSE(DecodeJ2KFrame(junk.data(), back.data(), junk.size(), back.size()));
  EXPECT_FALSE(DecodeJ2KFrame(cs.data(), back.data(), cs.size() / 3, back.size()));
  EXPECT_FALSE(DecodeJ2KFrame(nullptr, back.data(), 0, back.size()));
  // Too few source bytes or an unsupported component count build no image.
  EXPECT_FALSE(EncodeJ2KFrame(tiny.data(), 5, cs, 3, 2, 1, 8, 0));
  EXPECT_FALSE(EncodeJ2KFrame(tiny.data(), tiny.size(), cs, 1, 1, 2, 8, 0));
  EXPECT_TRUE(cs.empty());
}

// A fuzzer's input: the main header claims 16 x 83,886,096 samples in 3 components for a frame of
// 768 bytes. The claim is refused from the header, before the library allocates for it.
TEST(J2K, HeaderClaimingAnotherImageIsRefusedBeforeDecoding) {
  std::vector<uint8_t> input;
  ASSERT_TRUE(fixture::ReadFile(std::string(SCRIVARA_SOURCE_DIR) + "/fuzz/corpus/j2k/oom_siz_claims_16x83886096",
                                &input));
  ASSERT_EQ(input.size(), 160u);
  const size_t frameLength = size_t(input[0]) << 8 | input[1];
  ASSERT_EQ(frameLength, 768u);
  LogCapture log;
  std::vector<uint8_t> frame(frameLength, 0x33);
  EXPECT_FALSE(DecodeJ2KFrame(input.data() + 2, frame.data(), input.size() - 2, frame.size()));
  EXPECT_EQ(frame, std::vector<uint8_t>(frameLength, 0));
  EXPECT_EQ(log.Count("ERROR, DecodeJ2KFrame, the code stream declares 4026532512 bytes of samples for a frame of "
                      "768 bytes"),
            1);

  // An honest stream whose image is a sixth of the frame is refused the same way, not decoded
  // into the front of it.
  auto image = fixture::MakeFrame(8, 8, 3, 8, 5);
  std::vector<uint8_t> cs;
  ASSERT_TRUE(EncodeJ2KFrame(image.data(), image.size(), cs, 8, 8, 3, 8, 0));
  std::vector<uint8_t> larger(image.size() * 6, 0x44);
  EXPECT_FALSE(DecodeJ2KFrame(cs.data(), larger.data(), cs.size(), larger.size()));
  EXPECT_EQ(log.Count("ERROR, DecodeJ2KFrame, the code stream declares 192 bytes of samples for a frame of 1152 "
                      "bytes"),
            1);
}

namespace {

void PutBig32(std::vector<uint8_t>& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
}

void Box(std::vector<uint8_t>& b, const char* type, const std::vector<uint8_t>& content) {
  PutBig32(b, uint32_t(content.size() + 8));
  b.insert(b.end(), type, type + 4);
  b.insert(b.end(), content.begin(), content.end());
}

// A JP2 file around a code stream of an 8-bit grey image.
std::vector<uint8_t> WrapJP2(const std::vector<uint8_t>& cs, uint32_t width, uint32_t height) {
  std::vector<uint8_t> file = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  Box(file, "ftyp", {'j', 'p', '2', ' ', 0, 0, 0, 0, 'j', 'p', '2', ' '});
  std::vector<uint8_t> ihdr, header;
  PutBig32(ihdr, height);
  PutBig32(ihdr, width);
  ihdr.insert(ihdr.end(), {0, 1, 7, 7, 0, 0});  // one component of 8 bits, wavelet coded
  Box(header, "ihdr", ihdr);
  Box(header, "colr", {1, 0, 0, 0, 0, 0, 17});  // greyscale
  Box(file, "jp2h", header);
  Box(file, "jp2c", cs);
  return file;
}

}  // namespace

// The header check reads a JP2 file's code stream too, and refuses a tile grid far finer than
// the image needs (the library keeps a record per tile before it decodes anything).
TEST(J2K, JP2FilesAndTileGrids) {
  auto image = fixture::MakeFrame(128, 128, 1, 8, 6);
  std::vector<uint8_t> cs;
  ASSERT_TRUE(EncodeJ2KFrame(image.data(), image.size(), cs, 128, 128, 1, 8, 0));
  const auto jp2 = WrapJP2(cs, 128, 128);
  std::vector<uint8_t> back(image.size());
  ASSERT_TRUE(DecodeJ2KFrame(jp2.data(), back.data(), jp2.size(), back.size()));
  EXPECT_EQ(back, image);

  // SIZ: SOC, marker, Lsiz, Rsiz, Xsiz, Ysiz, XOsiz, YOsiz, then XTsiz and YTsiz at 24 and 28.
  LogCapture log;
  for (int at : {24, 25, 26, 27, 28, 29, 30, 31}) cs[size_t(at)] = 0;
  cs[27] = cs[31] = 1;  // 1 x 1 tiles
  EXPECT_FALSE(DecodeJ2KFrame(cs.data(), back.data(), cs.size(), back.size()));
  EXPECT_EQ(log.Count("ERROR, DecodeJ2KFrame, the code stream declares 16384 tiles for an image of 128 x 128"), 1);
  const auto fineJp2 = WrapJP2(cs, 128, 128);
  EXPECT_FALSE(DecodeJ2KFrame(fineJp2.data(), back.data(), fineJp2.size(), back.size()));
  EXPECT_EQ(log.Count("16384 tiles"), 2);
  std::vector<uint8_t> junk = {0xFF, 0x4F, 0xFF, 0x51, 0x00};
  EXPECT_FALSE(DecodeJ2KFrame(junk.data(), back.data(), junk.size(), back.size()));
  EXPECT_EQ(log.Count("ERROR, DecodeJ2KFrame, no readable image size (SIZ) at the start of the code stream"), 1);
}
