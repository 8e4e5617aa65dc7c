#pragma once
// The one C-FIND exchange of both searches, and where they go.
#include <functional>
#include <string>

#include "net/dimse.h"
#include "query/queryfields.h"

class DcmObj;
struct SetupCfg;

// The PACS (study search) and the worklist server of the configuration, with our AE title.
AssociationTarget PacsTarget(const SetupCfg& cfg, uint32_t timeoutSeconds = kQueryTimeout);
AssociationTarget WorklistTarget(const SetupCfg& cfg, uint32_t timeoutSeconds = kQueryTimeout);

using FindResponseSink = std::function<void(const DcmObj& identifier)>;

// Opens an association to target for sopClass, writes the C-FIND-RQ with identifier, then reads
// responses while they are pending: each one's identifier goes to `response`, then
// `pendingEvents` (may be empty) runs. A final failure status is logged (naming `operation`) and
// its identifier handed over too, as the search's last row. Logs "ERROR, couldn't connect to " +
// the called AE title when no association opens. Returns the number of identifiers handed over;
// `outcome` (may be null) tells how the exchange ended.
int RunFind(const AssociationTarget& target, const std::string& sopClass, DcmObj& identifier, const char* operation,
            const FindResponseSink& response, const PendingEventsHook& pendingEvents, SearchOutcome* outcome);

// RunFind handing each response over as a record that `read` fills from its identifier.
template <class Record>
int RunFindRecords(const AssociationTarget& target, const std::string& sopClass, DcmObj& identifier,
                   const char* operation, void (*read)(Record&, const DcmObj&),
                   const std::function<void(const Record&)>& row, const PendingEventsHook& pendingEvents,
                   SearchOutcome* outcome) {
  return RunFind(
      target, sopClass, identifier, operation,
      [&](const DcmObj& answer) {
        Record record;
        read(record, answer);
        if (row) row(record);
      },
      pendingEvents, outcome);
}
