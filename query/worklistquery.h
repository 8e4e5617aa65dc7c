#pragma once
// Modality Worklist C-FIND.
#include <functional>
#include <string>

#include "net/dimse.h"
#include "query/queryfields.h"
#include "query/studyinfo.h"

class DcmObj;

// Modality Worklist Information Model - FIND.
inline constexpr const char* kWorklistFind = "1.2.840.10008.5.1.4.31";

// The identifier of a worklist query: the patient and request keys at the top level and one
// Scheduled Procedure Step Sequence item, in ascending tag order; empty texts are return keys.
void MakeWorklistIdentifier(const TWorklistItem& record, DcmObj& identifier);

// Fills a record from a response identifier, visiting the elements of sequence items as well;
// a later element with the same tag (a second scheduled step) overwrites an earlier one.
void ReadWorklistItem(TWorklistItem& record, const DcmObj& identifier);

// The query record of the worklist search: patient name and ID as typed, requested procedure
// description from the study description, step start date "yyyymmdd", modality from the list;
// typed texts beyond ASCII declared as for the study search.
TWorklistItem MakeWorklistQuery(const QueryFields& fields);

using WorklistRowSink = std::function<void(const TWorklistItem&)>;

// The worklist search: one association to the worklist server, one C-FIND, each result handed
// to `row`, `pendingEvents` (may be empty) run after each row. Logs "ERROR, couldn't connect to "
// + the called AE title when the association cannot be opened. Returns the number of rows handed over;
// `outcome` (may be null) tells how the search ended.
int SearchWorklist(const QueryFields& fields, const AssociationTarget& target, const WorklistRowSink& row,
                  const PendingEventsHook& pendingEvents, SearchOutcome* outcome = nullptr);
