// Identifiers sent by the query clients: keys, values, order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/dcmobj.h"
#include "query/resultrows.h"
#include "query/studyquery.h"
#include "query/worklistquery.h"

namespace {

struct El {
  uint16_t g, e;
  std::string value;
};

// The top-level entries as (tag, trimmed value); a nested object shows as its header tag and "<SQ>".
std::vector<El> Entries(const DcmObj& o) {
  std::vector<El> out;
  for (size_t i = 0; i < o.Count(); ++i) {
    if (const DcmTag* t = o.GetTag(i))
      out.push_back({t->group, t->element, t->GetString()});
    else
      out.push_back({o.GetObj(i)->header.group, o.GetObj(i)->header.element, "<SQ>"});
  }
  return out;
}

bool Ascending(const DcmObj& o) {
  auto v = Entries(o);
  for (size_t i = 1; i < v.size(); ++i)
    if ((uint32_t(v[i - 1].g) << 16 | v[i - 1].e) >= (uint32_t(v[i].g) << 16 | v[i].e)) return false;
  return true;
}

QueryFields Day(const std::string& date) {
  QueryFields f;
  f.StudyDate = date;
  return f;
}

TEST(StudyIdentifier, NothingTypedGivesOneDayRangeLevelAndEmptyReturnKeys) {
  DcmObj id;
  MakeStudyIdentifier(MakeStudyQuery(Day("20150312")), id);
  ASSERT_TRUE(Ascending(id));
  const std::vector<uint32_t> tags = {0x00080020, 0x00080030, 0x00080050, 0x00080052, 0x00080061,
                                      0x00080080, 0x00080090, 0x00081030, 0x00100010, 0x00100020,
                                      0x00100030, 0x00100040, 0x00104000, 0x0020000D};
  auto v = Entries(id);
  ASSERT_EQ(v.size(), tags.size());
  for (size_t i = 0; i < v.size(); ++i) {
    EXPECT_EQ(uint32_t(v[i].g) << 16 | v[i].e, tags[i]) << i;
    const DcmTag* t = id.GetTag(i);
    if (v[i].e == 0x0020 && v[i].g == 0x0008) {
      EXPECT_EQ(v[i].value, "20150312-20150312");
    } else if (v[i].e == 0x0052) {
      EXPECT_EQ(v[i].value, "STUDY");
      EXPECT_EQ(t->length, 6u);  // padded with a space
    } else {
      EXPECT_EQ(t->length, 0u) << std::hex << tags[i];
    }
  }
  EXPECT_TRUE(id.GetTag(3)->IsVR("CS"));
  EXPECT_TRUE(id.GetTag(13)->IsVR("UI"));
}

TEST(StudyIdentifier, TypedFieldsAndModalityListGoInAsTyped) {
  QueryFields f = Day("20240229");
  f.PatientName = "M\xFCller*";  // cp1252 u-umlaut, wildcard as typed
  f.PatientID = "PID 7";
  f.StudyDescription = "Thorax";
  f.ModalityIndex = 8;
  DcmObj id;
  MakeStudyIdentifier(MakeStudyQuery(f), id);
  EXPECT_EQ(id.GetString(0x0010, 0x0010), "M\xFCller*");
  EXPECT_EQ(id.GetString(0x0010, 0x0020), "PID 7");
  EXPECT_EQ(id.GetString(0x0008, 0x1030), "Thorax");
  EXPECT_EQ(id.GetString(0x0008, 0x0061), "BMD");
  EXPECT_EQ(id.GetString(0x0008, 0x0020), "20240229-20240229");

  const std::vector<std::string> list = {"US", "CR", "CT", "MR", "DX", "XA", "ES",
                                         "OT", "BMD", "SC", "PX", "NM", "MG"};
  for (int i = 0; i < int(list.size()); ++i) EXPECT_EQ(QueryModality(i), list[size_t(i)]);
  EXPECT_EQ(QueryModality(-1), "");
  EXPECT_EQ(QueryModality(13), "");
}

TEST(SeriesAndImageIdentifier, KeysInTagOrderWithTheirLevel) {
  SeriesInfo s;
  s.StudyInstanceUID = "1.2.3";
  s.Modality = "CT";
  DcmObj sid;
  MakeSeriesIdentifier(s, sid);
  EXPECT_TRUE(Ascending(sid));
  EXPECT_EQ(sid.Count(), 13u);
  EXPECT_EQ(sid.GetString(0x0008, 0x0052), "SERIES");
  EXPECT_EQ(sid.GetString(0x0020, 0x000D), "1.2.3");
  EXPECT_EQ(sid.GetString(0x0008, 0x0060), "CT");
  EXPECT_EQ(sid.FindTag(0x0020, 0x0052), nullptr);  // Frame of Reference UID is no key

  ImageInfo im;
  im.SeriesInstanceUID = "1.2.3.4";
  im.NumberOfFrames = "3";
  DcmObj iid;
  MakeImageIdentifier(im, iid);
  EXPECT_TRUE(Ascending(iid));
  EXPECT_EQ(iid.Count(), 16u);
  EXPECT_EQ(iid.GetString(0x0008, 0x0052), "IMAGE");
  EXPECT_EQ(iid.GetString(0x0020, 0x000E), "1.2.3.4");
  EXPECT_EQ(iid.GetString(0x0028, 0x0008), "3");
  EXPECT_EQ(iid.FindTag(0x0028, 0x0010), nullptr);  // Rows is no key
}

TEST(WorklistIdentifier, PatientKeysThenOneStepItemAllInTagOrder) {
  QueryFields f = Day("20150312");
  f.PatientName = "SMITH^JOHN";
  f.ModalityIndex = 2;
  DcmObj id;
  MakeWorklistIdentifier(MakeWorklistQuery(f), id);
  ASSERT_TRUE(Ascending(id));
  const std::vector<uint32_t> top = {0x00080050, 0x00080090, 0x00100010, 0x00100020, 0x00100030, 0x00100040,
                                     0x0020000D, 0x00321060, 0x00400100, 0x00401001, 0x00401003};
  auto v = Entries(id);
  ASSERT_EQ(v.size(), top.size());
  for (size_t i = 0; i < v.size(); ++i) EXPECT_EQ(uint32_t(v[i].g) << 16 | v[i].e, top[i]) << i;
  EXPECT_EQ(id.GetString(0x0010, 0x0010), "SMITH^JOHN");  // exactly as typed, no wildcard added
  EXPECT_EQ(id.GetTag(1)->length, 0u);
  EXPECT_EQ(id.GetTag(9)->length, 0u);
  EXPECT_EQ(id.GetTag(10)->length, 0u);

  const DcmObj* seq = id.GetObj(8);
  ASSERT_NE(seq, nullptr);
  EXPECT_TRUE(seq->header.IsVR("SQ"));
  ASSERT_EQ(seq->Count(), 1u);
  const DcmObj* item = seq->GetObj(0);
  ASSERT_NE(item, nullptr);
  EXPECT_TRUE(item->header.Is(0xFFFE, 0xE000));
  ASSERT_TRUE(Ascending(*item));
  const std::vector<uint32_t> step = {0x00080060, 0x00321070, 0x00400001, 0x00400002, 0x00400003, 0x00400006,
                                      0x00400007, 0x00400009, 0x00400010, 0x00400011, 0x00400012, 0x00400020};
  auto s = Entries(*item);
  ASSERT_EQ(s.size(), step.size());
  for (size_t i = 0; i < s.size(); ++i) {
    EXPECT_EQ(uint32_t(s[i].g) << 16 | s[i].e, step[i]) << i;
    if (i == 0)
      EXPECT_EQ(s[i].value, "CT");
    else if (i == 3)
      EXPECT_EQ(s[i].value, "20150312");  // one day, no range
    else
      EXPECT_EQ(item->GetTag(i)->length, 0u) << i;
  }
}

TEST(WorklistIdentifier, StudyDescriptionBecomesRequestedProcedureDescription) {
  QueryFields f = Day("20150312");
  f.PatientID = "ID1";
  f.StudyDescription = "CT Thorax";
  TWorklistItem q = MakeWorklistQuery(f);
  EXPECT_EQ(q.PatientID, "ID1");
  EXPECT_EQ(q.RequestedProcedureDescription, "CT Thorax");
  EXPECT_EQ(q.ScheduledProcedureStepStartDate, "20150312");
  EXPECT_EQ(q.Modality, "");
}

}  // namespace

namespace {

// Typed keys beyond ASCII go out in the smallest set that holds them, declared first; a response's
// own set is kept with the record and decides how the grid shows it.
TEST(Identifiers, KeysBeyondAsciiDeclareTheirSetAndResponsesKeepTheirs) {
  const std::pair<std::string, std::string> cases[] = {
      {"M\xC3\xBC*", "ISO_IR 100"}, {"\xC5\xA0im*", "ISO_IR 192"}, {"Sm*", ""}};
  for (const auto& [name, set] : cases) {
    QueryFields f = Day("20150312");
    f.PatientName = name;
    DcmObj study, worklist;
    MakeStudyIdentifier(MakeStudyQuery(f), study);
    MakeWorklistIdentifier(MakeWorklistQuery(f), worklist);
    for (const DcmObj* id : {&study, &worklist}) {
      EXPECT_TRUE(Ascending(*id));
      EXPECT_EQ(id->GetString(0x0008, 0x0005), set) << name;
      EXPECT_EQ(id->FindTag(0x0008, 0x0005) != nullptr, !set.empty()) << name;
      EXPECT_EQ(id->GetString(0x0010, 0x0010), set == "ISO_IR 100" ? std::string("M\xFC*") : name);
    }
  }
  DcmObj response;
  response.AddText(0x0008, 0x0005, "ISO_IR 144");
  response.AddText(0x0010, 0x0010, "\xB4\xDC\xD8\xE2\xE0\xD8\xD9");
  StudyInfo row;
  ReadStudyInfo(row, response);
  EXPECT_EQ(row.SpecificCharacterSet, "ISO_IR 144");
  EXPECT_EQ(row.PatientName, "\xB4\xDC\xD8\xE2\xE0\xD8\xD9");
  EXPECT_EQ(StudyResultRow(row)[0], "\xD0\x94\xD0\xBC\xD0\xB8\xD1\x82\xD1\x80\xD0\xB8\xD0\xB9");
}

}  // namespace
