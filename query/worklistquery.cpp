#include "query/worklistquery.h"

#include <cstdint>
#include <memory>

#include "core/config.h"
#include "core/dcmobj.h"
#include "core/log.h"
#include "query/findscu.h"
#include "query/readvalues.h"

void MakeWorklistIdentifier(const TWorklistItem& r, DcmObj& identifier) {
  identifier.AddText(0x0008, 0x0050, r.AccessionNumber);
  identifier.AddText(0x0008, 0x0090, r.ReferringPhysicianName);
  identifier.AddText(0x0010, 0x0010, r.PatientName);
  identifier.AddText(0x0010, 0x0020, r.PatientID);
  identifier.AddText(0x0010, 0x0030, r.PatientBirthDate);
  identifier.AddText(0x0010, 0x0040, r.PatientSex);
  identifier.AddText(0x0020, 0x000D, r.StudyInstanceUID);
  identifier.AddText(0x0032, 0x1060, r.RequestedProcedureDescription);
  identifier.AddBytes(0x0040, 0x1001, 0, nullptr);
  identifier.AddBytes(0x0040, 0x1003, 0, nullptr);

  auto item = std::make_unique<DcmObj>();
  item->SetText(0x0008, 0x0060, r.Modality);
  item->SetBytes(0x0032, 0x1070, 0, nullptr);
  item->SetText(0x0040, 0x0001, r.ScheduledStationAETitle);
  item->SetText(0x0040, 0x0002, r.ScheduledProcedureStepStartDate);
  item->SetText(0x0040, 0x0003, r.ScheduledProcedureStepStartTime);
  item->SetText(0x0040, 0x0006, r.ScheduledPerformingPhysicianName);
  item->SetText(0x0040, 0x0007, r.ScheduledProcedureStepDescription);
  item->SetText(0x0040, 0x0009, r.ScheduledProcedureStepID);
  item->SetText(0x0040, 0x0010, r.ScheduledStationName);
  item->SetText(0x0040, 0x0011, r.ScheduledProcedureStepLocation);
  item->SetText(0x0040, 0x0012, r.PreMedication);
  item->SetText(0x0040, 0x0020, r.ScheduledProcedureStepStatus);
  auto sequence = std::make_unique<DcmObj>();
  sequence->InsertSequence(0xFFFE, 0xE000, std::move(item));
  identifier.InsertSequence(0x0040, 0x0100, std::move(sequence));
}

void ReadWorklistItem(TWorklistItem& r, const DcmObj& identifier) {
  ForEachElement(identifier, [&r](const DcmTag& t) {
    std::string* to = nullptr;
    switch ((uint32_t(t.group) << 16) | t.element) {
      case 0x00100010: to = &r.PatientName; break;
      case 0x00100020: to = &r.PatientID; break;
      case 0x00100030: to = &r.PatientBirthDate; break;
      case 0x00100040: to = &r.PatientSex; break;
      case 0x00080050: to = &r.AccessionNumber; break;
      case 0x00080090: to = &r.ReferringPhysicianName; break;
      case 0x00321032: to = &r.RequestingPhysician; break;
      case 0x00102110: to = &r.Allergies; break;
      case 0x0020000D: to = &r.StudyInstanceUID; break;
      case 0x00321060: to = &r.RequestedProcedureDescription; break;
      case 0x00400003: to = &r.ScheduledProcedureStepStartTime; break;
      case 0x00400002: to = &r.ScheduledProcedureStepStartDate; break;
      case 0x00080060: to = &r.Modality; break;
      case 0x00400001: to = &r.ScheduledStationAETitle; break;
      case 0x00400006: to = &r.ScheduledPerformingPhysicianName; break;
      case 0x00321070: to = &r.RequestedContrastAgent; break;
      case 0x00400009: to = &r.ScheduledProcedureStepID; break;
      case 0x00400007: to = &r.ScheduledProcedureStepDescription; break;
      case 0x00400010: to = &r.ScheduledStationName; break;
      case 0x00400011: to = &r.ScheduledProcedureStepLocation; break;
      case 0x00400012: to = &r.PreMedication; break;
      case 0x00400020: to = &r.ScheduledProcedureStepStatus; break;
      case 0x00401001: to = &r.RequestedProcedureID; break;
      case 0x00401003: to = &r.RequestedProcedurePriority; break;
      default: return;
    }
    *to = t.GetString();
  });
}

TWorklistItem MakeWorklistQuery(const QueryFields& f) {
  TWorklistItem q;
  if (!f.PatientName.empty()) q.PatientName = f.PatientName;
  if (!f.PatientID.empty()) q.PatientID = f.PatientID;
  if (!f.StudyDescription.empty()) q.RequestedProcedureDescription = f.StudyDescription;
  q.ScheduledProcedureStepStartDate = f.StudyDate;
  q.Modality = QueryModality(f.ModalityIndex);
  return q;
}

int SearchWorklist(const QueryFields& fields, const AssociationTarget& target, const WorklistRowSink& row,
                   const PendingEventsHook& pendingEvents, SearchOutcome* outcome) {
  DcmObj identifier;
  MakeWorklistIdentifier(MakeWorklistQuery(fields), identifier);
  return RunFindRecords(target, kWorklistFind, identifier, "SearchWorklist", ReadWorklistItem, row, pendingEvents,
                        outcome);
}

int SearchWorklist(const QueryFields& fields, const SetupCfg& cfg, const WorklistRowSink& row,
                   const PendingEventsHook& pendingEvents, SearchOutcome* outcome) {
  return SearchWorklist(fields, WorklistTarget(cfg), row, pendingEvents, outcome);
}
