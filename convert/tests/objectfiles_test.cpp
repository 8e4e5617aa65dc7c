// Built objects saved as DICOM files, read back, and checked by DICOM toolkits of other makers:
// dciodvfy (dicom3tools) against the IOD, dsrdump (DCMTK) for the SR, dcmdjpeg (DCMTK) for the page.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "codec/convert.h"
#include "convert/batch.h"
#include "convert/page_jpeg.h"
#include "convert/pdf_object.h"
#include "convert/scan_object.h"
#include "convert/srtext.h"
#include "tests/support/iod_check.h"
#include "tests/support/log_capture.h"
#include "core/dcmobj.h"
#include "tests/support/peer.h"

namespace {

class TempDir {
 public:
  TempDir() : path_(testsupport::MakeTempDir("scrivara_objfiles")) {}
  ~TempDir() { testsupport::RemoveTree(path_); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void Spit(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}
std::string Listing(const std::string& dir) {
  std::string out;
  testsupport::Run({"ls", "-A", dir}, &out);
  return out;
}

StudyInfo Study(const std::string& patientId, const std::string& modality = "") {
  StudyInfo s;
  s.PatientName = "Doe^Jane";
  s.PatientID = patientId;
  s.PatientBirthDate = "19700102";
  s.PatientSex = "F";
  s.StudyDescription = "Chest";
  s.AccessionNumber = "ACC77";
  s.StudyDate = "20241209";
  s.StudyTime = "103015";
  s.InstitutionName = "Clinic";
  s.ModalitiesInStudy = modality;
  return s;
}

using iodcheck::IodErrors;
using iodcheck::kPdfLeftOut;
using iodcheck::kSRLeftOut;
using iodcheck::kUSPageLeftOut;
using iodcheck::Program;

TEST(ObjectFiles, PdfFileReadsBackAndPassesTheIodCheck) {
  TempDir dir;
  StudyInfo study = Study("FILE01");
  ConversionBatch batch;
  ASSERT_TRUE(StartConversionBatch(study, dir.path(), batch));
  std::string pdf = "%PDF-1.4\n% odd length document\n%%EOF";
  if (pdf.size() % 2 == 0) pdf += '\n';
  Spit(dir / "doc.pdf", pdf);
  int32_t counter = 0;
  const std::string path = BuildEncapsulatedPdf(dir / "doc.pdf", study, batch, counter);
  ASSERT_EQ(path, dir / (batch.SOPInstanceUID + ".dcm"));
  EXPECT_EQ(batch.TempFiles, std::vector<std::string>{path});
  EXPECT_EQ(Listing(dir.path()), batch.SOPInstanceUID + ".dcm\ndoc.pdf\n");

  DcmObj back;
  ASSERT_TRUE(back.Read(path));
  EXPECT_EQ(back.transferSyntax, "1.2.840.10008.1.2.1");
  const DcmTag* doc = back.FindTag(0x0042, 0x0011);
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(doc->data()), doc->length), pdf + '\0');
  EXPECT_EQ(back.GetString(0x0008, 0x0018), batch.BaseUID + ".1.1");

  EXPECT_EQ(IodErrors(path, kPdfLeftOut), std::vector<std::string>{});
  DeleteBatchFiles(batch);
  EXPECT_EQ(Listing(dir.path()), "doc.pdf\n");
}

TEST(ObjectFiles, FailedSaveLeavesNothingAndRecordsNothing) {
  TempDir dir;
  StudyInfo study = Study("FILE02");
  ConversionBatch batch;
  ASSERT_TRUE(StartConversionBatch(study, dir / "no-such-folder", batch));
  Spit(dir / "doc.pdf", "%PDF-1.4\n");
  int32_t counter = 0;
  LogCapture log;
  EXPECT_EQ(BuildEncapsulatedPdf(dir / "doc.pdf", study, batch, counter), "");
  EXPECT_TRUE(batch.TempFiles.empty());
  EXPECT_EQ(Listing(dir.path()), "doc.pdf\n");
  ASSERT_FALSE(log.Lines().empty());
  EXPECT_NE(log.Lines().back().find("ERROR, BuildEncapsulatedPdf, cannot write file"), std::string::npos);
}

TEST(ObjectFiles, SRFileRendersInDsrdump) {
  TempDir dir;
  StudyInfo study = Study("FILE03");
  ConversionBatch batch;
  ASSERT_TRUE(StartConversionBatch(study, dir.path(), batch));
  int32_t counter = 0;
  DcmSRObj sr;
  BuildTextReport(sr, "No acute findings.\r\nHeart size normal.", study, batch, counter);
  ASSERT_TRUE(SaveObjectFile(sr, dir / "sr.dcm", "test"));
  std::string out;
  ASSERT_EQ(testsupport::Run({Program("dsrdump"), dir / "sr.dcm"}, &out), 0) << out;
  EXPECT_NE(out.find("Basic Text SR"), std::string::npos) << out;
  EXPECT_NE(out.find("Radiology Report"), std::string::npos) << out;
  EXPECT_NE(out.find("Observer Name"), std::string::npos) << out;
  EXPECT_NE(out.find("No acute findings."), std::string::npos) << out;
  EXPECT_EQ(out.find("rror"), std::string::npos) << out;
  EXPECT_EQ(IodErrors(dir / "sr.dcm", kSRLeftOut), std::vector<std::string>{});
}

TEST(ObjectFiles, ScannedPageReadsBackAndDecodes) {
  TempDir dir;
  StudyInfo study = Study("FILE04", "US");
  ConversionBatch batch;
  ASSERT_TRUE(StartConversionBatch(study, dir.path(), batch));
  Bitmap page(120, 80);
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 120; ++x) page.SetPixel(x, y, RGBColor{uint8_t(2 * x), uint8_t(3 * y), 90});
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(EncodePageJpeg(page, jpeg));
  int32_t counter = 0;
  std::string path;
  for (int i = 0; i < 3; ++i) path = BuildScannedPageObject(jpeg, 120, 80, study, batch, counter);
  ASSERT_EQ(path, dir / (batch.BaseUID + ".1.3.dcm"));
  ASSERT_EQ(batch.TempFiles.size(), 3u);

  DcmObj back;
  ASSERT_TRUE(back.Read(path));
  EXPECT_EQ(back.transferSyntax, "1.2.840.10008.1.2.4.50");
  EXPECT_EQ(back.GetString(0x0020, 0x0013), "3");
  const size_t pixel = back.IndexOf(0x7FE0, 0x0010);
  ASSERT_NE(pixel, DcmObj::npos);
  ASSERT_EQ(back.Count(), pixel + 4);
  EXPECT_EQ(back.GetTag(pixel)->length, kUndefinedLength);
  EXPECT_EQ(back.GetTag(pixel + 1)->length, 0u);
  EXPECT_EQ(back.GetTag(pixel + 2)->length, jpeg.size() + jpeg.size() % 2);
  EXPECT_TRUE(back.GetTag(pixel + 3)->Is(0xFFFE, 0xE0DD));

  // Our own conversion to Explicit VR Little Endian gives the RGB samples of the page.
  DcmObj native;
  ASSERT_TRUE(native.Read(path));
  ASSERT_TRUE(ConvertTransferSyntax(native, "1.2.840.10008.1.2.1"));
  EXPECT_EQ(native.GetString(0x0028, 0x0004), "RGB");
  const DcmTag* samples = native.FindTag(0x7FE0, 0x0010);
  ASSERT_NE(samples, nullptr);
  ASSERT_EQ(samples->length, 120u * 80u * 3u);
  const uint8_t* px = samples->data() + (40 * 120 + 60) * 3;  // pixel (60, 40): about 120, 120, 90
  EXPECT_NEAR(px[0], 120, 6);
  EXPECT_NEAR(px[1], 120, 6);
  EXPECT_NEAR(px[2], 90, 6);

  std::string out;
  ASSERT_EQ(testsupport::Run({Program("dcmdjpeg"), path, dir / "raw.dcm"}, &out), 0) << out;
  ASSERT_EQ(testsupport::Run({Program("dcmdump"), "+P", "7fe0,0010", "+P", "0028,0004", dir / "raw.dcm"}, &out), 0);
  EXPECT_NE(out.find("RGB"), std::string::npos) << out;
  EXPECT_NE(out.find("# 28800,"), std::string::npos) << out;  // 120 x 80 x 3 bytes

  EXPECT_EQ(IodErrors(path, kUSPageLeftOut), std::vector<std::string>{});
}

}  // namespace
