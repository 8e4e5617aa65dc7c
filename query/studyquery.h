#pragma once
// Study-root C-FIND at the STUDY, SERIES and IMAGE levels.
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "net/dimse.h"
#include "query/queryfields.h"
#include "query/studyinfo.h"

class DcmObj;
class PDU_Service;

// Study Root Query/Retrieve Information Model - FIND.
inline constexpr const char* kStudyRootFind = "1.2.840.10008.5.1.4.1.2.2.1";

// Identifiers: one element per key of the record (an empty text is an empty return key) plus
// Query/Retrieve Level (0008,0052), appended to the identifier in ascending tag order.
void MakeStudyIdentifier(const StudyInfo& record, DcmObj& identifier);
void MakeSeriesIdentifier(const SeriesInfo& record, DcmObj& identifier);
void MakeImageIdentifier(const ImageInfo& record, DcmObj& identifier);

// Fill a record from a response identifier. Nested sequences, the contents of sequences of
// undefined length and elements with an empty or undefined length are skipped; tags the record
// does not hold are ignored. ReadStudyInfo applies the length limits of the study record and
// logs the over-long values.
void ReadStudyInfo(StudyInfo& record, const DcmObj& identifier);
void ReadSeriesInfo(SeriesInfo& record, const DcmObj& identifier);
void ReadImageInfo(ImageInfo& record, const DcmObj& identifier);

// A record of one of the three levels; the list of WriteFindRQ and ReadFindRSP.
using FindRecord = std::variant<StudyInfo, SeriesInfo, ImageInfo>;
using FindList = std::vector<FindRecord>;

// Takes the first record of the list (of the level's type: "STUDY", "SERIES" or "IMAGE"),
// builds the level's identifier from it, removes it from the list and sends the C-FIND-RQ.
// False (with a log line) for an empty list, an unknown level or a record of another level.
bool WriteFindRQ(PDU_Service* pdu, FindList& records, const std::string& sopClassUID, const std::string& level);

// Reads one C-FIND response. When the status is neither -1 nor 0, a new record of the level's
// type is filled from the identifier and appended to the list. Returns the status or -1.
int ReadFindRSP(PDU_Service* pdu, FindList& records, const std::string& level);

// The query record of the study search: Patient's Name, Patient ID and Study Description as
// typed (when not empty), Study Date as the one-day range "yyyymmdd-yyyymmdd", Modalities in
// Study from the modality list. Typed texts beyond ASCII are written by the typed rule and declared
// in Specific Character Set (ISO_IR 100 or ISO_IR 192).
StudyInfo MakeStudyQuery(const QueryFields& fields);

using StudyRowSink = std::function<void(const StudyInfo&)>;

// The study search: one association to the PACS (Study Root FIND), one C-FIND at the STUDY
// level (or, when target.web is enabled, QIDO-RS "studies" requests with the same keys), each result handed to `row` in arrival order, `pendingEvents` (may be empty) run after
// each row. Logs "ERROR, couldn't connect to " + the called AE title when the association cannot be
// opened. Returns the number of rows handed over;
// `outcome` (may be null) tells how the search ended.
int SearchStudies(const QueryFields& fields, const AssociationTarget& target, const StudyRowSink& row,
                  const PendingEventsHook& pendingEvents, SearchOutcome* outcome = nullptr);
