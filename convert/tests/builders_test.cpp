// The document object builders: encapsulated PDF, text SR and scanned page, built in memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "convert/batch.h"
#include "convert/page_jpeg.h"
#include "convert/pdf_object.h"
#include "convert/scan_object.h"
#include "convert/srtext.h"
#include "core/uid_root.h"
#include "query/studytext.h"
#include "tests/support/log_capture.h"
#include "core/dcmobj.h"
#include "tests/support/peer.h"

namespace {

class TempDir {
 public:
  TempDir() : path_(testsupport::MakeTempDir("scrivara_build")) {}
  ~TempDir() { testsupport::RemoveTree(path_); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void Spit(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

// A study as the main window fills it; each test uses its own Patient ID so that base UIDs differ.
StudyInfo Study(const std::string& patientId) {
  StudyInfo s;
  s.PatientName = "Doe^Jane";
  s.PatientID = patientId;
  s.PatientBirthDate = "19700102";
  s.PatientSex.assign(1, 'F');  // GCC 12 misreads the one-letter literal assignment at -O3
  s.StudyDescription = "Chest";
  s.AccessionNumber = "2412091030";
  s.StudyDate = "20241209";
  s.StudyTime = "103015";
  s.InstitutionName = "Clinic";
  return s;
}

ConversionBatch Batch(StudyInfo& study, const std::string& folder = "/tmp") {
  ConversionBatch b;
  EXPECT_TRUE(StartConversionBatch(study, folder, b));
  return b;
}

using TagList = std::vector<std::pair<uint16_t, uint16_t>>;

// Group and element of every top-level entry, nested objects by their header.
TagList Tags(const DcmObj& obj) {
  TagList out;
  for (size_t i = 0; i < obj.Count(); ++i) {
    const DcmTag* t = obj.GetTag(i);
    const DcmTag& h = t ? *t : obj.GetObj(i)->header;
    out.emplace_back(h.group, h.element);
  }
  return out;
}

// The nested object at the entry with this tag.
const DcmObj* Nested(const DcmObj& obj, uint16_t g, uint16_t e) {
  for (size_t i = 0; i < obj.Count(); ++i)
    if (const DcmObj* o = obj.GetObj(i); o && o->header.group == g && o->header.element == e) return o;
  return nullptr;
}

std::string PdfBytes(size_t n) {
  std::string s = "%PDF-1.4\n";
  while (s.size() < n) s += char('a' + s.size() % 26);
  s.resize(n);
  return s;
}

TEST(EncapsulatedPdf, ElementsInTableOrderWithTheBatchUIDs) {
  TempDir dir;
  StudyInfo study = Study("PDF001");
  LogCapture log;
  StudyInfo quiet = study;
  Batch(quiet);
  EXPECT_TRUE(log.Lines().empty());  // an INFO detail line, written only with debug logging on
  DebugLevel = 2;
  ConversionBatch batch = Batch(study, dir.path());
  DebugLevel = 0;
  // A study without a Study Instance UID opens a new one: the base UID, which the log shows.
  EXPECT_EQ(study.StudyInstanceUID, batch.BaseUID);
  EXPECT_EQ(batch.SeriesUID, batch.BaseUID + ".2");
  ASSERT_FALSE(log.Lines().empty());
  EXPECT_NE(log.Lines().back().find("INFO, Study Instance UID = " + batch.BaseUID), std::string::npos);

  Spit(dir / "a.pdf", PdfBytes(40));
  int32_t counter = 0;
  DcmObj obj;
  ASSERT_TRUE(MakeEncapsulatedPdf(dir / "a.pdf", study, batch, counter, obj));
  const TagList want = {{0x0008, 0x0005}, {0x0008, 0x0012}, {0x0008, 0x0013}, {0x0008, 0x0016}, {0x0008, 0x0018},
                        {0x0008, 0x0020}, {0x0008, 0x0023}, {0x0008, 0x002A}, {0x0008, 0x0030}, {0x0008, 0x0033},
                        {0x0008, 0x0050}, {0x0008, 0x0060}, {0x0008, 0x0064}, {0x0008, 0x0070}, {0x0008, 0x0080},
                        {0x0008, 0x0090}, {0x0008, 0x1030}, {0x0010, 0x0010}, {0x0010, 0x0020}, {0x0010, 0x0030},
                        {0x0010, 0x0040}, {0x0020, 0x000D}, {0x0020, 0x000E}, {0x0020, 0x0010}, {0x0020, 0x0011},
                        {0x0020, 0x0013}, {0x0028, 0x0301}, {0x0040, 0xA043}, {0x0042, 0x0010}, {0x0042, 0x0011},
                        {0x0042, 0x0012}};
  EXPECT_EQ(Tags(obj), want);
  EXPECT_EQ(obj.transferSyntax, "1.2.840.10008.1.2.1");
  EXPECT_TRUE(obj.explicitVR);
  EXPECT_EQ(obj.GetString(0x0008, 0x0016), kEncapsulatedPdfStorage);
  EXPECT_EQ(obj.GetString(0x0008, 0x0018), batch.BaseUID + ".1.1");
  EXPECT_EQ(batch.SOPInstanceUID, batch.BaseUID + ".1.1");
  EXPECT_EQ(obj.GetString(0x0020, 0x000D), study.StudyInstanceUID);
  EXPECT_EQ(obj.GetString(0x0020, 0x000E), batch.BaseUID + ".2");
  EXPECT_EQ(obj.GetString(0x0020, 0x0011), "0");
  EXPECT_EQ(obj.GetString(0x0020, 0x0013), "1");
  EXPECT_EQ(obj.GetString(0x0008, 0x0060), "OT");
  EXPECT_EQ(obj.GetString(0x0008, 0x0005), "ISO_IR 100");
  EXPECT_EQ(obj.GetString(0x0010, 0x0010), "Doe^Jane");
  EXPECT_EQ(obj.GetString(0x0042, 0x0012), "application/pdf");
  EXPECT_EQ(obj.FindTag(0x0008, 0x0090)->length, 0u);
  EXPECT_EQ(obj.FindTag(0x0042, 0x0011)->VR(), "OB");
  EXPECT_EQ(obj.FindTag(0x0008, 0x0012)->GetString().size(), 8u);
  EXPECT_EQ(obj.FindTag(0x0008, 0x0013)->GetString().size(), 6u);
}

TEST(EncapsulatedPdf, OddPdfGetsOneZeroByteEvenPdfStaysAsItIs) {
  TempDir dir;
  StudyInfo study = Study("PDF002");
  ConversionBatch batch = Batch(study, dir.path());
  int32_t counter = 0;
  for (size_t n : {41u, 42u}) {
    const std::string pdf = PdfBytes(n);
    Spit(dir / "p.pdf", pdf);
    DcmObj obj;
    ASSERT_TRUE(MakeEncapsulatedPdf(dir / "p.pdf", study, batch, counter, obj));
    const DcmTag* doc = obj.FindTag(0x0042, 0x0011);
    ASSERT_NE(doc, nullptr);
    ASSERT_EQ(doc->length, 42u);
    const std::string held(reinterpret_cast<const char*>(doc->data()), doc->length);
    EXPECT_EQ(held.substr(0, n), pdf);
    if (n == 41) {
      EXPECT_EQ(held.back(), '\0');
    }
  }
  EXPECT_EQ(counter, 2);
}

TEST(EncapsulatedPdf, DocumentTitleIsTheFileNameWithoutFolder) {
  TempDir dir;
  StudyInfo study = Study("PDF003");
  ConversionBatch batch = Batch(study, dir.path());
  int32_t counter = 0;
  // A name written with the other platform's separators keeps only its last part too.
  for (const char* name : {"report.pdf", "C:\\scans\\report.pdf"}) {
    Spit(dir / name, PdfBytes(20));
    DcmObj obj;
    ASSERT_TRUE(MakeEncapsulatedPdf(dir / name, study, batch, counter, obj));
    EXPECT_EQ(obj.GetString(0x0042, 0x0010), "report.pdf");
  }
}

TEST(EncapsulatedPdf, EmptyMissingOrNonPdfFilesFailWithoutTakingANumber) {
  TempDir dir;
  StudyInfo study = Study("PDF004");
  ConversionBatch batch = Batch(study, dir.path());
  Spit(dir / "empty.pdf", "");
  Spit(dir / "text.pdf", "just some text, no PDF header");
  struct Case {
    std::string path, reason;
  } cases[] = {{dir / "empty.pdf", "empty file"},
               {dir / "text.pdf", "not a PDF file"},
               {dir / "missing.pdf", "cannot open file"},
               {dir.path(), "not a regular file"}};
  int32_t counter = 0;
  for (const auto& c : cases) {
    LogCapture log;
    DcmObj obj;
    EXPECT_FALSE(MakeEncapsulatedPdf(c.path, study, batch, counter, obj)) << c.path;
    ASSERT_EQ(log.Lines().size(), 1u) << c.path;
    EXPECT_NE(log.Lines()[0].find("ERROR, BuildEncapsulatedPdf, " + c.reason), std::string::npos) << log.Lines()[0];
  }
  EXPECT_EQ(counter, 0);
  EXPECT_TRUE(batch.SOPInstanceUID.empty());
}

TEST(ConversionBatch, KeepsAPickedStudyAndNeverRepeatsAnInstanceUID) {
  StudyInfo study = Study("BATCH01");
  study.StudyInstanceUID = "1.2.3.4";
  ConversionBatch first = Batch(study);
  EXPECT_EQ(study.StudyInstanceUID, "1.2.3.4");
  // Three objects, then the form is shown again for the same study in the same minute: the counter
  // starts again at 0 but the numbers already used under this base UID are skipped.
  int32_t counter = 0;
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(NextInstanceNumber(first.BaseUID, counter), i);
  ConversionBatch second = Batch(study);
  ASSERT_EQ(second.BaseUID, first.BaseUID);
  counter = 0;
  EXPECT_EQ(NextInstanceNumber(second.BaseUID, counter), 4);
  // Another patient's batch starts at 1.
  StudyInfo other = Study("BATCH02");
  ConversionBatch third = Batch(other);
  counter = 0;
  EXPECT_EQ(NextInstanceNumber(third.BaseUID, counter), 1);

  StudyInfo nobody = Study("");
  LogCapture log;
  ConversionBatch none;
  EXPECT_FALSE(StartConversionBatch(nobody, "/tmp", none));
  EXPECT_TRUE(none.BaseUID.empty());
  EXPECT_EQ(log.Lines().size(), 1u);
}

TEST(TextSR, DocumentShapeAndUIDs) {
  StudyInfo study = Study("SR0001");
  ConversionBatch batch = Batch(study);
  int32_t counter = 0;
  DcmSRObj sr;
  BuildTextReport(sr, "Line one\r\nLine two", study, batch, counter);
  const TagList want = {{0x0008, 0x0012}, {0x0008, 0x0013}, {0x0008, 0x0016}, {0x0008, 0x0018}, {0x0008, 0x0020},
                        {0x0008, 0x0021}, {0x0008, 0x0023}, {0x0008, 0x0030}, {0x0008, 0x0031}, {0x0008, 0x0033},
                        {0x0008, 0x0050}, {0x0008, 0x0060}, {0x0008, 0x0070}, {0x0008, 0x0080}, {0x0008, 0x0090},
                        {0x0008, 0x1030}, {0x0008, 0x103E}, {0x0008, 0x1111}, {0x0010, 0x0010}, {0x0010, 0x0020},
                        {0x0010, 0x0030}, {0x0010, 0x0040}, {0x0020, 0x000D}, {0x0020, 0x000E}, {0x0020, 0x0010},
                        {0x0020, 0x0011}, {0x0020, 0x0013}, {0x0040, 0xA040}, {0x0040, 0xA043}, {0x0040, 0xA050},
                        {0x0040, 0xA372}, {0x0040, 0xA491}, {0x0040, 0xA493}, {0x0040, 0xA730}};
  EXPECT_EQ(Tags(sr), want);
  EXPECT_EQ(sr.transferSyntax, "1.2.840.10008.1.2.1");
  EXPECT_TRUE(sr.explicitVR);
  EXPECT_EQ(sr.GetString(0x0008, 0x0016), kBasicTextSRStorage);
  EXPECT_EQ(sr.GetString(0x0008, 0x0060), "SR");
  EXPECT_EQ(sr.GetString(0x0008, 0x103E), "Report");
  EXPECT_EQ(sr.GetString(0x0040, 0xA040), "CONTAINER");
  EXPECT_EQ(sr.GetString(0x0040, 0xA050), "SEPARATE");
  EXPECT_EQ(sr.GetString(0x0040, 0xA491), "PARTIAL");
  EXPECT_EQ(sr.GetString(0x0040, 0xA493), "UNVERIFIED");
  EXPECT_EQ(sr.GetString(0x0010, 0x0040), "F");
  EXPECT_EQ(sr.GetString(0x0008, 0x0023).size(), 8u);
  // Study, series and instance UIDs all differ.
  const std::string studyUID = sr.GetString(0x0020, 0x000D), seriesUID = sr.GetString(0x0020, 0x000E),
                    sopUID = sr.GetString(0x0008, 0x0018);
  EXPECT_EQ(studyUID, batch.BaseUID);
  EXPECT_EQ(seriesUID, batch.BaseUID + ".2");
  EXPECT_EQ(sopUID, batch.BaseUID + ".1.1");
  EXPECT_EQ(batch.SOPInstanceUID, sopUID);

  const DcmObj* title = Nested(sr, 0x0040, 0xA043);
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(title->header.VR(), "SQ");
  ASSERT_EQ(title->Count(), 1u);
  const DcmObj* code = title->GetObj(0);
  ASSERT_NE(code, nullptr);
  EXPECT_EQ(code->header.group, 0xFFFE);
  EXPECT_EQ(code->header.element, 0xE000);
  EXPECT_EQ(Tags(*code), (TagList{{0x0008, 0x0100}, {0x0008, 0x0102}, {0x0008, 0x0104}, {0x0008, 0x010C}}));
  EXPECT_EQ(code->GetString(0x0008, 0x0100), "1111");
  EXPECT_EQ(code->GetString(0x0008, 0x0102), "BRELVANDO");
  EXPECT_EQ(code->GetString(0x0008, 0x0104), "Radiology Report");
  EXPECT_EQ(code->GetString(0x0008, 0x010C), std::string(kOrgUIDRoot) + ".5");

  const DcmObj* content = Nested(sr, 0x0040, 0xA730);
  ASSERT_NE(content, nullptr);
  ASSERT_EQ(content->Count(), 2u);
  const DcmObj* observer = content->GetObj(0);
  const DcmObj* text = content->GetObj(1);
  ASSERT_TRUE(observer && text);
  EXPECT_EQ(Tags(*observer), (TagList{{0x0040, 0xA010}, {0x0040, 0xA040}, {0x0040, 0xA043}, {0x0040, 0xA123}}));
  EXPECT_EQ(observer->GetString(0x0040, 0xA010), "HAS OBS CONTEXT");
  EXPECT_EQ(observer->GetString(0x0040, 0xA040), "PNAME");
  EXPECT_EQ(observer->GetString(0x0040, 0xA123), "Observer");
  EXPECT_EQ(Nested(*observer, 0x0040, 0xA043)->GetObj(0)->GetString(0x0008, 0x0104), "Observer Name");
  EXPECT_EQ(Tags(*text), (TagList{{0x0040, 0xA010}, {0x0040, 0xA040}, {0x0040, 0xA043}, {0x0040, 0xA160}}));
  EXPECT_EQ(text->GetString(0x0040, 0xA010), "CONTAINS");
  EXPECT_EQ(text->GetString(0x0040, 0xA040), "TEXT");
  EXPECT_EQ(Nested(*text, 0x0040, 0xA043)->GetObj(0)->GetString(0x0008, 0x0100), "CODE02");
}

TEST(TextSR, ReportTextIsOneValueWithItsParagraphSeparators) {
  StudyInfo study = Study("SR0002");
  ConversionBatch batch = Batch(study);
  int32_t counter = 0;
  // Typed as UTF-8; Latin-1 holds it, so it is written in Latin-1 and the document says so.
  const std::string report = "First paragraph.\r\nSecond \xE9t\xE9.\r\n\r\nThird.";
  DcmSRObj sr;
  BuildTextReport(sr, "First paragraph.\r\nSecond \xC3\xA9t\xC3\xA9.\r\n\r\nThird.", study, batch, counter);
  EXPECT_EQ(sr.GetString(0x0008, 0x0005), "ISO_IR 100");
  const DcmTag* value = Nested(sr, 0x0040, 0xA730)->GetObj(1)->FindTag(0x0040, 0xA160);
  ASSERT_NE(value, nullptr);
  // The odd length is padded with one space; the text itself is kept byte for byte.
  ASSERT_EQ(value->length, report.size() + 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(value->data()), report.size()), report);

  // An empty report still has its TEXT item with an empty value; a second report of the same
  // batch has Series Number 0 and Instance Number 1 again but its own SOP Instance UID.
  DcmSRObj empty;
  BuildTextReport(empty, "", study, batch, counter);
  const DcmTag* none = Nested(empty, 0x0040, 0xA730)->GetObj(1)->FindTag(0x0040, 0xA160);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->length, 0u);
  EXPECT_EQ(empty.GetString(0x0020, 0x0011), "0");
  EXPECT_EQ(empty.GetString(0x0020, 0x0013), "1");
  EXPECT_EQ(empty.GetString(0x0008, 0x0018), batch.BaseUID + ".1.2");
}

// What the report's value may hold: tabs set out as spaces to every eighth column (characters,
// not bytes), no other control character; line breaks kept.
TEST(TextSR, TabsAndControlCharactersLeaveTheText) {
  EXPECT_EQ(TextForReport(std::string("a\tb\r\n\xC3\xA9\xC3\xA9\tc\x01\x07\0" "d\x7F\ne", 18)),
            std::string("a       b\r\n\xC3\xA9\xC3\xA9      cd\ne"));
}

TEST(TextSR, ReportIsWrittenInTheStudysCharacterSet) {
  StudyInfo study = Study("SR0003");
  ConversionBatch batch = Batch(study);
  int32_t counter = 0;
  DcmSRObj ascii;
  BuildTextReport(ascii, "Plain text.", study, batch, counter);
  EXPECT_EQ(ascii.FindTag(0x0008, 0x0005), nullptr);

  // A Cyrillic study from a server (ISO_IR 144) keeps its bytes; a Cyrillic report joins it.
  StudyInfo cyrillic = study;
  cyrillic.PatientName = "\xB4\xDC\xD8\xE2\xE0\xD8\xD9";
  cyrillic.SpecificCharacterSet = "ISO_IR 144";
  DcmSRObj kept;
  BuildTextReport(kept, "\xD0\x94\xD0\xB0", cyrillic, batch, counter);
  EXPECT_EQ(kept.GetString(0x0008, 0x0005), "ISO_IR 144");
  EXPECT_EQ(Tags(kept).front(), (std::pair<uint16_t, uint16_t>{0x0008, 0x0005}));
  EXPECT_EQ(kept.GetString(0x0010, 0x0010), cyrillic.PatientName);
  EXPECT_EQ(Nested(kept, 0x0040, 0xA730)->GetObj(1)->GetString(0x0040, 0xA160), "\xB4\xD0");

  // Quotes, a dash and the euro sign are not Latin-1: the Latin-1 study moves to UTF-8 with its
  // report, so no character is rewritten.
  study.PatientName = "M\xFCller^Zo\xEB";
  study.SpecificCharacterSet = "ISO_IR 100";
  const std::string report = "\xE2\x80\x9C" "Caf\xC3\xA9\xE2\x80\x9D \xE2\x80\x93 12 \xE2\x82\xAC";
  DcmSRObj sr;
  BuildTextReport(sr, report, study, batch, counter);
  EXPECT_EQ(sr.GetString(0x0008, 0x0005), "ISO_IR 192");
  EXPECT_EQ(sr.GetString(0x0010, 0x0010), "M\xC3\xBCller^Zo\xC3\xAB");
  EXPECT_EQ(Nested(sr, 0x0040, 0xA730)->GetObj(1)->GetString(0x0040, 0xA160), report);
}

TEST(TextSR, CodeNames) {
  EXPECT_EQ(RelationshipTypeName(1), "IS ROOT");
  EXPECT_EQ(RelationshipTypeName(3), "HAS OBS CONTEXT");
  EXPECT_EQ(RelationshipTypeName(4), "");
  EXPECT_EQ(ValueTypeName(11), "COMPOSITE");
  EXPECT_EQ(ValueTypeName(2), "");
  // A content item of a value type without a value element.
  DcmSRObj sr;
  sr.explicitVR = true;
  DcmObj list;
  AddContentItem(sr, list, "C", "M", "ignored", 11, 2);
  ASSERT_EQ(list.Count(), 1u);
  EXPECT_EQ(Tags(*list.GetObj(0)), (TagList{{0x0040, 0xA010}, {0x0040, 0xA040}, {0x0040, 0xA043}}));
}

std::vector<uint8_t> PageJpeg(int w, int h) {
  Bitmap page(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) page.SetPixel(x, y, RGBColor{uint8_t(x * 3), uint8_t(y * 3), uint8_t(x + y)});
  std::vector<uint8_t> jpeg;
  EXPECT_TRUE(EncodePageJpeg(page, jpeg));
  return jpeg;
}

TEST(ScannedPage, SOPClassFollowsTheModality) {
  const std::pair<const char*, const char*> table[] = {
      {"CR", "1.2.840.10008.5.1.4.1.1.1"},        {"CT", "1.2.840.10008.5.1.4.1.1.2"},
      {"ES", "1.2.840.10008.5.1.4.1.1.2"},        {"MR", "1.2.840.10008.5.1.4.1.1.4"},
      {"DX", "1.2.840.10008.5.1.4.1.1.12.1"},     {"OT", "1.2.840.10008.5.1.4.1.1.77.1.1.1"},
      {"US", "1.2.840.10008.5.1.4.1.1.6.1"},      {"XA", "1.2.840.10008.5.1.4.1.1.6.1"},
      {"", "1.2.840.10008.5.1.4.1.1.6.1"},        {"ct", "1.2.840.10008.5.1.4.1.1.6.1"},
  };
  const std::vector<uint8_t> jpeg = PageJpeg(16, 16);
  StudyInfo study = Study("SCAN01");
  ConversionBatch batch = Batch(study);
  int32_t counter = 0;
  for (const auto& [modality, uid] : table) {
    study.ModalitiesInStudy = modality;
    DcmObj obj;
    ASSERT_TRUE(MakeScannedPageObject(jpeg, 16, 16, study, batch, counter, obj));
    EXPECT_EQ(obj.GetString(0x0008, 0x0016), uid) << modality;
    EXPECT_EQ(batch.SOPClassUID, uid) << modality;
    EXPECT_EQ(obj.GetString(0x0008, 0x0060), modality);
  }
}

TEST(ScannedPage, ThirdPageAndEncapsulatedLayout) {
  StudyInfo study = Study("SCAN02");
  study.ModalitiesInStudy = "CT";
  ConversionBatch batch = Batch(study, "/x/temp/");
  int32_t counter = 0;
  std::vector<uint8_t> jpeg = PageJpeg(40, 24);
  if (jpeg.size() % 2 == 0) jpeg.push_back(0xFF);  // an odd stream: a fill byte after EOI
  DcmObj obj;
  for (int page = 1; page <= 3; ++page) ASSERT_TRUE(MakeScannedPageObject(jpeg, 40, 24, study, batch, counter, obj));
  EXPECT_EQ(obj.GetString(0x0020, 0x0013), "3");
  EXPECT_EQ(obj.GetString(0x0008, 0x0018), batch.BaseUID + ".1.3");
  EXPECT_EQ(BatchFileName(batch), "/x/temp/" + batch.BaseUID + ".1.3.dcm");
  EXPECT_EQ(obj.transferSyntax, "1.2.840.10008.1.2.4.50");
  EXPECT_TRUE(obj.explicitVR);

  const TagList want = {{0x0008, 0x0008}, {0x0008, 0x0012}, {0x0008, 0x0013}, {0x0008, 0x0016}, {0x0008, 0x0018},
                        {0x0008, 0x0020}, {0x0008, 0x0030}, {0x0008, 0x0032}, {0x0008, 0x0033}, {0x0008, 0x0050},
                        {0x0008, 0x0060}, {0x0008, 0x0064}, {0x0008, 0x0070}, {0x0008, 0x0080}, {0x0008, 0x0090},
                        {0x0008, 0x1030}, {0x0010, 0x0010}, {0x0010, 0x0020}, {0x0010, 0x0030}, {0x0010, 0x0040},
                        {0x0020, 0x000D}, {0x0020, 0x000E}, {0x0020, 0x0010}, {0x0020, 0x0011}, {0x0020, 0x0013},
                        {0x0020, 0x0020}, {0x0020, 0x0060}, {0x0028, 0x0002},
                        {0x0028, 0x0004}, {0x0028, 0x0006}, {0x0028, 0x0010}, {0x0028, 0x0011}, {0x0028, 0x0100},
                        {0x0028, 0x0101}, {0x0028, 0x0102}, {0x0028, 0x0103}, {0x7FE0, 0x0010}, {0xFFFE, 0xE000},
                        {0xFFFE, 0xE000}, {0xFFFE, 0xE0DD}};
  ASSERT_EQ(Tags(obj), want);
  EXPECT_EQ(obj.GetString(0x0008, 0x0008), "DERIVED\\SECONDARY");
  EXPECT_EQ(obj.GetUS(0x0028, 0x0002), 3);
  EXPECT_EQ(obj.GetString(0x0028, 0x0004), "YBR_FULL_422");
  EXPECT_EQ(obj.GetUS(0x0028, 0x0010), 24);
  EXPECT_EQ(obj.GetUS(0x0028, 0x0011), 40);
  EXPECT_EQ(obj.GetUS(0x0028, 0x0102), 7);
  const size_t n = obj.Count();
  const DcmTag* pixel = obj.GetTag(n - 4);
  EXPECT_EQ(pixel->length, kUndefinedLength);
  EXPECT_EQ(pixel->VR(), "OB");
  EXPECT_EQ(obj.GetTag(n - 3)->length, 0u);
  const DcmTag* fragment = obj.GetTag(n - 2);
  ASSERT_EQ(fragment->length, jpeg.size() + 1);
  EXPECT_EQ(fragment->VR(), "DL");
  EXPECT_TRUE(std::equal(jpeg.begin(), jpeg.end(), fragment->data()));
  EXPECT_EQ(fragment->data()[jpeg.size()], 0x00);
  EXPECT_EQ(obj.GetTag(n - 1)->length, 0u);
}

TEST(ScannedPage, MonochromeHeaderForm) {
  StudyInfo study = Study("SCAN03");
  ConversionBatch batch = Batch(study);
  DcmObj obj;
  AddScannedImageHeader(obj, study, "1.2.3", "1.2.3.4", 10, 20, false, batch, 7);
  EXPECT_EQ(obj.GetUS(0x0028, 0x0002), 1);
  EXPECT_EQ(obj.GetString(0x0028, 0x0004), "MONOCHROME2");
  EXPECT_EQ(obj.FindTag(0x0028, 0x0006), nullptr);
  EXPECT_EQ(obj.GetString(0x0020, 0x0013), "7");
  EXPECT_EQ(obj.GetUS(0x0028, 0x0010), 20);
  EXPECT_EQ(obj.GetUS(0x0028, 0x0011), 10);
}

TEST(ScannedPage, StreamsThatDoNotFitTheHeaderFail) {
  StudyInfo study = Study("SCAN04");
  ConversionBatch batch = Batch(study);
  int32_t counter = 0;
  const std::vector<uint8_t> jpeg = PageJpeg(16, 8);
  std::vector<uint8_t> progressive = jpeg;
  for (size_t i = 0; i + 1 < progressive.size(); ++i)
    if (progressive[i] == 0xFF && progressive[i + 1] == 0xC0) {
      progressive[i + 1] = 0xC2;
      break;
    }
  std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + 30);
  struct Case {
    std::vector<uint8_t> bytes;
    int w, h;
    const char* reason;
  } cases[] = {
      {{}, 16, 8, "not a JPEG stream"},
      {{'B', 'M', 0, 0, 0, 0}, 16, 8, "not a JPEG stream"},
      {cut, 16, 8, "not a JPEG stream"},
      {progressive, 16, 8, "not a baseline 8-bit three-component JPEG"},
      {jpeg, 8, 16, "does not match the JPEG frame"},
      {jpeg, 0, 8, "does not match the JPEG frame"},
  };
  for (const auto& c : cases) {
    LogCapture log;
    DcmObj obj;
    EXPECT_FALSE(MakeScannedPageObject(c.bytes, c.w, c.h, study, batch, counter, obj)) << c.reason;
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_NE(log.Lines()[0].find(std::string("ERROR, BuildScannedPageObject, ")), std::string::npos);
    EXPECT_NE(log.Lines()[0].find(c.reason), std::string::npos) << log.Lines()[0];
  }
  EXPECT_EQ(counter, 0);
}

TEST(Builders, TypedNamesAreTheSameBytesInEveryObjectOfAStudy) {
  TempDir dir;
  Spit(dir / "a.pdf", PdfBytes(40));
  const std::vector<uint8_t> jpeg = PageJpeg(16, 16);
  // Typed (UTF-8) names: one Latin-1 holds, one it does not, one plain ASCII.
  const std::pair<std::string, std::string> cases[] = {
      {"Jos\xC3\xA9^Mu\xC3\xB1oz", "ISO_IR 100"},
      {"\xC5\xA0imon^Dvo\xC5\x99\xC3\xA1k", "ISO_IR 192"},
      {"Doe^Jane", ""},
  };
  for (const auto& [name, set] : cases) {
    StudyInfo study = Study("SET" + set);
    study.PatientName = name;
    EncodeTypedStudy(study);
    ConversionBatch batch = Batch(study, dir.path());
    int32_t counter = 0;
    DcmObj pdf, page;
    DcmSRObj sr;
    ASSERT_TRUE(MakeEncapsulatedPdf(dir / "a.pdf", study, batch, counter, pdf));
    BuildTextReport(sr, "Report.", study, batch, counter);
    ASSERT_TRUE(MakeScannedPageObject(jpeg, 16, 16, study, batch, counter, page));
    const std::string bytes = set == "ISO_IR 100" ? "Jos\xE9^Mu\xF1oz" : name;
    for (const DcmObj* obj : std::vector<const DcmObj*>{&pdf, &sr, &page}) {
      EXPECT_EQ(obj->GetString(0x0010, 0x0010), bytes) << set;
      EXPECT_EQ(obj->GetString(0x0008, 0x0005), obj == &pdf && set.empty() ? "ISO_IR 100" : set) << set;
    }
  }
}

}  // namespace
