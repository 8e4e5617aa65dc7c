// Filling result records from response identifiers.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/dcmobj.h"
#include "tests/support/log_capture.h"
#include "query/studyquery.h"
#include "query/worklistquery.h"

namespace {

// Opens a flat sequence of undefined length with one undefined-length item.
void OpenFlatSequence(DcmObj& o, uint16_t g, uint16_t e) {
  o.Add(DcmTag(g, e, kUndefinedLength, nullptr, "SQ"));
  o.Add(DcmTag(0xFFFE, 0xE000, kUndefinedLength, nullptr));
}
void CloseFlatSequence(DcmObj& o) {
  o.Add(DcmTag(0xFFFE, 0xE00D, 0, nullptr));
  o.Add(DcmTag(0xFFFE, 0xE0DD, 0, nullptr));
}
// A nested (defined-length) sequence with one item holding the given element.
void AddNestedSequence(DcmObj& o, uint16_t g, uint16_t e, DcmTag inner) {
  auto item = std::make_unique<DcmObj>();
  item->Insert(std::move(inner));
  auto seq = std::make_unique<DcmObj>();
  seq->InsertSequence(0xFFFE, 0xE000, std::move(item));
  o.InsertSequence(g, e, std::move(seq));
}

TEST(ReadStudyInfo, OverLongValuesAreLoggedInFullAndCut) {
  LogCapture log;
  const std::string acc20 = "ACC45678901234567890";
  const std::string name70 = std::string(66, 'N') + "^\xE9\xE8\xFC";  // cp1252 accents at the end
  const std::string desc65 = std::string(65, 'D');
  const std::string inst64 = std::string(64, 'I');  // exactly at the limit
  DcmObj rsp;
  rsp.AddText(0x0008, 0x0050, acc20);
  rsp.AddText(0x0008, 0x0080, inst64);
  rsp.AddText(0x0008, 0x1030, desc65);
  rsp.AddText(0x0008, 0x1070, std::string(70, 'O'));
  rsp.AddText(0x0010, 0x0010, name70);
  rsp.AddText(0x0020, 0x0010, "STUDYID-12345678901");
  StudyInfo r;
  ReadStudyInfo(r, rsp);
  EXPECT_EQ(r.AccessionNumber, acc20.substr(0, 16));
  EXPECT_EQ(r.InstitutionName, inst64);
  EXPECT_EQ(r.StudyDescription, desc65.substr(0, 64));
  EXPECT_EQ(r.OperatorsName, std::string(64, 'O'));
  EXPECT_EQ(r.PatientName, name70.substr(0, 64));
  EXPECT_EQ(r.StudyID, "STUDYID-12345678");
  EXPECT_TRUE(log.Has("ERROR, Accession number length>16, " + acc20));
  EXPECT_TRUE(log.Has("ERROR, StudyDescription length>64, " + desc65));
  EXPECT_TRUE(log.Has("ERROR, Operators Name length>64, " + std::string(70, 'O')));
  EXPECT_TRUE(log.Has("ERROR, PatientName length>64, " + name70));
  EXPECT_EQ(log.Problems().size(), 4u);  // no line for Institution Name at 64 nor for Study ID
}

TEST(ReadStudyInfo, ModalityAndModalitiesInStudyTheLaterOneWins) {
  DcmObj inOrder;
  inOrder.AddText(0x0008, 0x0060, "CT");
  inOrder.AddText(0x0008, 0x0061, "CT\\MR");
  StudyInfo a;
  ReadStudyInfo(a, inOrder);
  EXPECT_EQ(a.ModalitiesInStudy, "CT\\MR");

  DcmObj reversed;
  reversed.AddText(0x0008, 0x0061, "CT\\MR");
  reversed.AddText(0x0008, 0x0060, "US");
  StudyInfo b;
  ReadStudyInfo(b, reversed);
  EXPECT_EQ(b.ModalitiesInStudy, "US");
}

TEST(ReadStudyInfo, SequenceContentsEmptyValuesAndUnknownTagsAreSkipped) {
  DcmObj rsp;
  rsp.AddText(0x0008, 0x0020, "20150312");
  AddNestedSequence(rsp, 0x0008, 0x1110, DcmTag(0x0010, 0x0010, std::string("NESTED^NAME")));
  OpenFlatSequence(rsp, 0x0010, 0x1002);  // Other Patient IDs Sequence
  rsp.Add(DcmTag(0x0010, 0x0020, std::string("OTHER-ID")));
  rsp.Add(DcmTag(0x0010, 0x0040, std::string("F")));
  CloseFlatSequence(rsp);
  rsp.AddText(0x0010, 0x0010, "  Smith^John ");
  rsp.AddText(0x0010, 0x0020, "ID-1");
  rsp.AddText(0x0010, 0x0020, "");  // empty: does not clear the value before it
  rsp.AddText(0x0009, 0x1010, "private");
  rsp.AddText(0x0020, 0x000D, "1.2.3.4");
  StudyInfo r;
  ReadStudyInfo(r, rsp);
  EXPECT_EQ(r.StudyDate, "20150312");
  EXPECT_EQ(r.PatientName, "Smith^John");
  EXPECT_EQ(r.PatientID, "ID-1");
  EXPECT_EQ(r.PatientSex, "");
  EXPECT_EQ(r.StudyInstanceUID, "1.2.3.4");  // trailing NUL pad gone
}

TEST(ReadSeriesInfo, FillsItsAttributes) {
  DcmObj rsp;
  rsp.AddText(0x0008, 0x0060, "MR");
  rsp.AddText(0x0008, 0x103E, " T1 axial ");
  rsp.AddText(0x0020, 0x000E, "1.2.3.5");
  rsp.AddText(0x0020, 0x0011, "7");
  rsp.AddText(0x0020, 0x0052, "1.2.3.6");
  SeriesInfo s;
  ReadSeriesInfo(s, rsp);
  EXPECT_EQ(s.Modality, "MR");
  EXPECT_EQ(s.SeriesDescription, "T1 axial");
  EXPECT_EQ(s.SeriesInstanceUID, "1.2.3.5");
  EXPECT_EQ(s.SeriesNumber, "7");
  EXPECT_EQ(s.FrameOfReferenceUID, "1.2.3.6");
}

TEST(ReadImageInfo, NumbersFromUSRawFramesAndKernelSequencesSkipped) {
  DcmObj rsp;
  rsp.AddText(0x0008, 0x0018, "1.2.3.7");
  rsp.Add(DcmTag(0x0018, 0x1210, std::string(" B30f")));  // padded to " B30f " and kept so
  rsp.AddText(0x0020, 0x0013, "12");
  rsp.Add(DcmTag::Number16(0x0028, 0x0002, 3));
  rsp.AddText(0x0028, 0x0004, "RGB");
  rsp.AddText(0x0028, 0x0008, "5");  // stored "5 "
  rsp.Add(DcmTag::Number16(0x0028, 0x0010, 512));
  DcmTag cols = DcmTag::Number16(0x0028, 0x0011, 0x0100);
  cols.bigEndian = true;  // read in its own byte order: 0x0001
  rsp.Add(std::move(cols));
  OpenFlatSequence(rsp, 0x0008, 0x2112);  // Source Image Sequence
  rsp.Add(DcmTag::Number16(0x0028, 0x0101, 16));
  rsp.Add(DcmTag(0x0008, 0x0018, std::string("9.9.9")));
  CloseFlatSequence(rsp);
  rsp.Add(DcmTag::Number16(0x0028, 0x0101, 12));
  ImageInfo im;
  ReadImageInfo(im, rsp);
  EXPECT_EQ(im.SOPInstanceUID, "1.2.3.7");
  EXPECT_EQ(im.ConvolutionKernel, " B30f ");
  EXPECT_EQ(im.NumberOfFrames, "5 ");
  EXPECT_EQ(im.InstanceNumber, "12");
  EXPECT_EQ(im.SamplesPerPixel, 3);
  EXPECT_EQ(im.PhotometricInterpretation, "RGB");
  EXPECT_EQ(im.Rows, 512);
  EXPECT_EQ(im.Columns, 1);
  EXPECT_EQ(im.BitsStored, 12);
}

TEST(ReadWorklistItem, SecondScheduledStepOverwritesTheFirst) {
  // Nested form (as the identifier arrives with defined lengths).
  DcmObj rsp;
  rsp.AddText(0x0010, 0x0010, "D\xFCrer^Albrecht");
  rsp.AddText(0x0010, 0x0030, "");  // no birth date
  auto seq = std::make_unique<DcmObj>();
  for (const char* step : {"SPS1", "SPS2"}) {
    auto item = std::make_unique<DcmObj>();
    item->SetText(0x0008, 0x0060, std::string(step) == "SPS1" ? "CT" : "MR");
    item->SetText(0x0040, 0x0009, step);
    if (std::string(step) == "SPS1") item->SetText(0x0040, 0x0011, "Room 1");
    seq->InsertSequence(0xFFFE, 0xE000, std::move(item));
  }
  rsp.InsertSequence(0x0040, 0x0100, std::move(seq));
  rsp.AddText(0x0040, 0x1001, "RP1");
  rsp.AddText(0x0040, 0x4000, "not in the table");
  TWorklistItem w;
  ReadWorklistItem(w, rsp);
  EXPECT_EQ(w.PatientName, "D\xFCrer^Albrecht");
  EXPECT_EQ(w.PatientBirthDate, "");
  EXPECT_EQ(w.Modality, "MR");
  EXPECT_EQ(w.ScheduledProcedureStepID, "SPS2");
  EXPECT_EQ(w.ScheduledProcedureStepLocation, "Room 1");  // the second step has none
  EXPECT_EQ(w.RequestedProcedureID, "RP1");

  // Flat form (undefined-length sequence and items).
  DcmObj flat;
  OpenFlatSequence(flat, 0x0040, 0x0100);
  flat.Add(DcmTag(0x0040, 0x0009, std::string("A")));
  flat.Add(DcmTag(0xFFFE, 0xE00D, 0, nullptr));
  flat.Add(DcmTag(0xFFFE, 0xE000, kUndefinedLength, nullptr));
  flat.Add(DcmTag(0x0040, 0x0009, std::string("B")));
  CloseFlatSequence(flat);
  TWorklistItem f;
  ReadWorklistItem(f, flat);
  EXPECT_EQ(f.ScheduledProcedureStepID, "B");
}

}  // namespace
