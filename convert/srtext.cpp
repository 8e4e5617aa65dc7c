#include "convert/srtext.h"

#include <memory>

#include "core/uid_root.h"
#include "query/studytext.h"

namespace {

constexpr uint16_t kItemGroup = 0xFFFE;
constexpr uint16_t kItemElement = 0xE000;

// A new item holding nothing yet, encoded like its parent.
std::unique_ptr<DcmObj> NewItem(const DcmObj& parent) {
  auto item = std::make_unique<DcmObj>();
  item->explicitVR = parent.explicitVR;
  item->bigEndian = parent.bigEndian;
  item->transferSyntax = parent.transferSyntax;
  return item;
}

}  // namespace

std::string RelationshipTypeName(int code) {
  switch (code) {
    case 1: return "IS ROOT";
    case 2: return "CONTAINS";
    case 3: return "HAS OBS CONTEXT";
    default: return "";
  }
}

std::string ValueTypeName(int code) {
  switch (code) {
    case 1: return "TEXT";
    case 8: return "PNAME";
    case 11: return "COMPOSITE";
    default: return "";
  }
}

void AddConceptCode(DcmObj& target, uint16_t group, uint16_t element, const std::string& codeValue,
                    const std::string& codeMeaning) {
  auto seq = NewItem(target);
  auto item = NewItem(target);
  item->AddText(0x0008, 0x0100, codeValue);
  item->AddText(0x0008, 0x0102, "BRELVANDO");
  item->AddText(0x0008, 0x0104, codeMeaning);
  item->AddText(0x0008, 0x010C, std::string(kOrgUIDRoot) + ".5");
  seq->InsertSequence(kItemGroup, kItemElement, std::move(item));
  target.InsertSequence(group, element, std::move(seq));
}

void StartSRDocument(DcmSRObj& sr, const std::string& studyUID, const std::string& seriesUID,
                     const std::string& sopInstanceUID, const std::string& title, const std::string& studyID,
                     int32_t seriesNumber, int32_t instanceNumber) {
  sr.Clear();
  sr.transferSyntax = kTsExplicitLE;
  sr.explicitVR = true;
  sr.bigEndian = false;
  sr.AddText(0x0008, 0x0012, NowDA());
  sr.AddText(0x0008, 0x0013, NowTM());
  sr.AddText(0x0008, 0x0016, kBasicTextSRStorage);
  sr.AddText(0x0008, 0x0018, sopInstanceUID);
  sr.AddText(0x0008, 0x0060, "SR");
  sr.AddText(0x0008, 0x0070, "");
  sr.AddText(0x0020, 0x000D, studyUID);
  sr.AddText(0x0020, 0x000E, seriesUID);
  sr.AddText(0x0020, 0x0010, studyID);
  sr.AddText(0x0020, 0x0011, std::to_string(seriesNumber));
  sr.AddText(0x0020, 0x0013, std::to_string(instanceNumber));
  sr.AddText(0x0040, 0xA040, "CONTAINER");
  AddConceptCode(sr, 0x0040, 0xA043, "1111", title);
  sr.AddText(0x0040, 0xA050, "SEPARATE");
}

void AddContentItem(const DcmSRObj& sr, DcmObj& contentList, const std::string& codeValue,
                    const std::string& codeMeaning, const std::string& value, int valueType, int relationshipType) {
  auto item = NewItem(sr);
  item->AddText(0x0040, 0xA010, RelationshipTypeName(relationshipType));
  item->AddText(0x0040, 0xA040, ValueTypeName(valueType));
  AddConceptCode(*item, 0x0040, 0xA043, codeValue, codeMeaning);
  if (valueType == 1) item->AddText(0x0040, 0xA160, value);
  if (valueType == 8) item->AddText(0x0040, 0xA123, value);
  contentList.InsertSequence(kItemGroup, kItemElement, std::move(item));
}

std::string TextForReport(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t column = 0;  // characters since the line began
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\t') {
      do out += ' ';
      while (++column % 8 != 0);
    } else if (c == '\r' || c == '\n') {
      out += static_cast<char>(c);
      column = 0;
    } else if (c >= 0x20 && c != 0x7F) {
      out += static_cast<char>(c);
      if ((c & 0xC0) != 0x80) ++column;  // UTF-8: continuation bytes start no character
    }
  }
  return out;
}

void FillTextReport(DcmSRObj& sr, const std::string& seriesUID, const std::string& sopInstanceUID,
                    const StudyInfo& studyIn, const std::string& observerName, const std::string& reportText) {
  // The report and the observer are written in the study's set; when it cannot hold them the
  // document's study values move with them to the set the typed rule picks.
  StudyInfo study = studyIn;
  const std::string observer = EncodeForStudy(study, observerName);
  const std::string report = EncodeForStudy(study, TextForReport(reportText));
  StartSRDocument(sr, study.StudyInstanceUID, seriesUID, sopInstanceUID, "Radiology Report", study.StudyID, 0, 1);
  if (!study.SpecificCharacterSet.empty()) sr.SetText(0x0008, 0x0005, study.SpecificCharacterSet);
  sr.SetText(0x0008, 0x0020, study.StudyDate);
  sr.SetText(0x0008, 0x0021, NowDA());
  sr.SetText(0x0008, 0x0023, NowDA());
  sr.SetText(0x0008, 0x0030, study.StudyTime);
  sr.SetText(0x0008, 0x0031, NowTM());
  sr.SetText(0x0008, 0x0033, NowTM());
  sr.SetText(0x0008, 0x0050, study.AccessionNumber);
  sr.SetText(0x0008, 0x0080, study.InstitutionName);
  sr.SetText(0x0008, 0x1030, study.StudyDescription);
  sr.SetText(0x0008, 0x103E, "Report");
  sr.SetText(0x0010, 0x0010, study.PatientName);
  sr.SetText(0x0010, 0x0020, study.PatientID);
  sr.SetText(0x0010, 0x0030, study.PatientBirthDate);
  sr.SetText(0x0010, 0x0040, study.PatientSex);
  sr.SetText(0x0008, 0x0090, study.ReferringPhysicianName);
  sr.InsertSequence(0x0008, 0x1111, std::make_unique<DcmObj>());  // no performed procedure step
  sr.InsertSequence(0x0040, 0xA372, std::make_unique<DcmObj>());  // nor its code
  sr.SetText(0x0040, 0xA491, "PARTIAL");
  sr.SetText(0x0040, 0xA493, "UNVERIFIED");

  auto content = NewItem(sr);
  AddContentItem(sr, *content, "CODE01", "Observer Name", observer, 8, 3);
  AddContentItem(sr, *content, "CODE02", "Report Text", report, 1, 2);
  sr.InsertSequence(0x0040, 0xA730, std::move(content));
}

void BuildTextReport(DcmSRObj& sr, const std::string& reportText, const StudyInfo& study, ConversionBatch& batch,
                     int32_t& counter) {
  const int32_t number = NextInstanceNumber(batch.BaseUID, counter);
  batch.SOPClassUID = kBasicTextSRStorage;
  batch.SOPInstanceUID = batch.BaseUID + ".1." + std::to_string(number);
  FillTextReport(sr, batch.SeriesUID, batch.SOPInstanceUID, study, "Observer", reportText);
  sr.transferSyntax = kTsExplicitLE;
  sr.explicitVR = true;
}
