#include "query/worklistquery.h"

#include <cstdint>
#include <memory>

#include "core/charset.h"
#include "core/dcmobj.h"
#include "core/log.h"
#include "query/findscu.h"
#include "query/readvalues.h"

namespace {

constexpr KeyUse kReturn = KeyUse::Return;
constexpr KeyUse kRead = KeyUse::Read;
constexpr KeyUse kOptional = KeyUse::Optional;

// The keys of a worklist query in ascending tag order, what is sent and what a row takes from a
// response: the patient and request keys, then those of the one Scheduled Procedure Step item.
const TextKey<TWorklistItem> kWorklistKeys[] = {
    {0x0008, 0x0005, &TWorklistItem::SpecificCharacterSet, kOptional},
    {0x0008, 0x0050, &TWorklistItem::AccessionNumber},
    {0x0008, 0x0090, &TWorklistItem::ReferringPhysicianName},
    {0x0010, 0x0010, &TWorklistItem::PatientName},
    {0x0010, 0x0020, &TWorklistItem::PatientID},
    {0x0010, 0x0030, &TWorklistItem::PatientBirthDate},
    {0x0010, 0x0040, &TWorklistItem::PatientSex},
    {0x0010, 0x2110, &TWorklistItem::Allergies, kRead},
    {0x0020, 0x000D, &TWorklistItem::StudyInstanceUID},
    {0x0032, 0x1032, &TWorklistItem::RequestingPhysician, kRead},
    {0x0032, 0x1060, &TWorklistItem::RequestedProcedureDescription},
    {0x0040, 0x1001, &TWorklistItem::RequestedProcedureID, kReturn},
    {0x0040, 0x1003, &TWorklistItem::RequestedProcedurePriority, kReturn},
};

const TextKey<TWorklistItem> kStepKeys[] = {
    {0x0008, 0x0060, &TWorklistItem::Modality},
    {0x0032, 0x1070, &TWorklistItem::RequestedContrastAgent, kReturn},
    {0x0040, 0x0001, &TWorklistItem::ScheduledStationAETitle},
    {0x0040, 0x0002, &TWorklistItem::ScheduledProcedureStepStartDate},
    {0x0040, 0x0003, &TWorklistItem::ScheduledProcedureStepStartTime},
    {0x0040, 0x0006, &TWorklistItem::ScheduledPerformingPhysicianName},
    {0x0040, 0x0007, &TWorklistItem::ScheduledProcedureStepDescription},
    {0x0040, 0x0009, &TWorklistItem::ScheduledProcedureStepID},
    {0x0040, 0x0010, &TWorklistItem::ScheduledStationName},
    {0x0040, 0x0011, &TWorklistItem::ScheduledProcedureStepLocation},
    {0x0040, 0x0012, &TWorklistItem::PreMedication},
    {0x0040, 0x0020, &TWorklistItem::ScheduledProcedureStepStatus},
};

}  // namespace

void MakeWorklistIdentifier(const TWorklistItem& r, DcmObj& identifier) {
  AddKeys(kWorklistKeys, r, identifier);
  auto item = std::make_unique<DcmObj>();
  AddKeys(kStepKeys, r, *item);
  auto sequence = std::make_unique<DcmObj>();
  sequence->InsertSequence(0xFFFE, 0xE000, std::move(item));
  identifier.InsertSequence(0x0040, 0x0100, std::move(sequence));
}

void ReadWorklistItem(TWorklistItem& r, const DcmObj& identifier) {
  ForEachElement(identifier, [&r](const DcmTag& t) { ReadKey(kWorklistKeys, t, r) || ReadKey(kStepKeys, t, r); });
}

TWorklistItem MakeWorklistQuery(const QueryFields& f) {
  TWorklistItem q;
  if (!f.PatientName.empty()) q.PatientName = f.PatientName;
  if (!f.PatientID.empty()) q.PatientID = f.PatientID;
  if (!f.StudyDescription.empty()) q.RequestedProcedureDescription = f.StudyDescription;
  q.ScheduledProcedureStepStartDate = f.StudyDate;
  q.AccessionNumber = f.AccessionNumber;
  q.Modality = QueryModality(f.ModalityIndex);
  q.SpecificCharacterSet = EncodeTypedTexts({&q.PatientName, &q.PatientID, &q.RequestedProcedureDescription, &q.AccessionNumber});
  return q;
}

int SearchWorklist(const QueryFields& fields, const AssociationTarget& target, const WorklistRowSink& row,
                   const PendingEventsHook& pendingEvents, SearchOutcome* outcome) {
  DcmObj identifier;
  MakeWorklistIdentifier(MakeWorklistQuery(fields), identifier);
  return RunFindRecords(target, kWorklistFind, identifier, "SearchWorklist", ReadWorklistItem, row, pendingEvents,
                        outcome);
}
