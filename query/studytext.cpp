#include "query/studytext.h"

#include <vector>

#include "core/charset.h"

namespace {

// Every text field of a study record (the set itself aside).
constexpr std::string StudyInfo::*kTexts[] = {
    &StudyInfo::StudyInstanceUID, &StudyInfo::StudyDate,        &StudyInfo::StudyTime,
    &StudyInfo::StudyID,          &StudyInfo::StudyDescription, &StudyInfo::AccessionNumber,
    &StudyInfo::InstitutionName,  &StudyInfo::ReferringPhysicianName, &StudyInfo::ModalitiesInStudy,
    &StudyInfo::OperatorsName,    &StudyInfo::PatientID,        &StudyInfo::PatientName,
    &StudyInfo::PatientBirthDate, &StudyInfo::PatientSex,       &StudyInfo::PatientAge,
    &StudyInfo::PatientWeight,    &StudyInfo::PatientComments,
};

// Every field as UTF-8.
void DecodeAll(StudyInfo& study) {
  for (auto field : kTexts) study.*field = DecodeDicomText(study.*field, study.SpecificCharacterSet);
}

// Writes the UTF-8 fields by the typed rule, in a set that holds `extra` as well.
void WriteTyped(StudyInfo& study, std::string_view extra) {
  std::vector<std::string*> texts;
  for (auto field : kTexts) texts.push_back(&(study.*field));
  study.SpecificCharacterSet = EncodeTypedTexts(texts, extra);
}

}  // namespace

std::string StudyText(const StudyInfo& study, std::string StudyInfo::*field) {
  return DecodeDicomText(study.*field, study.SpecificCharacterSet);
}

void EncodeTypedStudy(StudyInfo& study) { WriteTyped(study, {}); }

void SetStudyText(StudyInfo& study, std::string StudyInfo::*field, std::string_view utf8) {
  std::string coded;
  if (EncodeDicomText(utf8, study.SpecificCharacterSet, coded)) {
    study.*field = std::move(coded);
    return;
  }
  DecodeAll(study);
  study.*field = std::string(utf8);
  WriteTyped(study, {});
}

std::string EncodeForStudy(StudyInfo& study, std::string_view utf8) {
  std::string coded;
  if (EncodeDicomText(utf8, study.SpecificCharacterSet, coded)) return coded;
  DecodeAll(study);
  WriteTyped(study, utf8);
  EncodeDicomText(utf8, study.SpecificCharacterSet, coded);
  return coded;
}

StudyInfo StudyFromWorklist(const TWorklistItem& w) {
  StudyInfo s;
  s.PatientName = w.PatientName;
  s.PatientID = w.PatientID;
  s.PatientBirthDate = w.PatientBirthDate;
  s.PatientSex = w.PatientSex;
  s.AccessionNumber = w.AccessionNumber;
  s.ReferringPhysicianName = w.ReferringPhysicianName;
  s.StudyInstanceUID = w.StudyInstanceUID;
  s.StudyDescription = w.RequestedProcedureDescription;
  s.ModalitiesInStudy = w.Modality;
  s.SpecificCharacterSet = w.SpecificCharacterSet;
  return s;
}
