#include "query/findscu.h"

#include <memory>

#include "core/audit.h"
#include "core/bufdata.h"
#include "core/config.h"
#include "core/dcmobj.h"
#include "core/log.h"
#include "net/dimse_fields.h"
#include "net/pdu_service.h"
#include "query/readvalues.h"

AssociationTarget PacsTarget(const SetupCfg& cfg, uint32_t timeoutSeconds) {
  return AssociationTarget{cfg.LocalAET, cfg.PacsAET, cfg.PacsIP, cfg.PacsPort, timeoutSeconds, false, cfg.PacsTls, cfg.PacsWeb};
}

AssociationTarget WorklistTarget(const SetupCfg& cfg, uint32_t timeoutSeconds) {
  return AssociationTarget{cfg.LocalAET, cfg.WorklistAET, cfg.WorklistIP, cfg.WorklistPort, timeoutSeconds, false,
                           cfg.WorklistTls};
}

namespace {

// The identifier as the audit trail keeps it: encoded in implicit VR little endian.
std::vector<uint8_t> ImplicitBytes(const DcmObj& identifier) {
  const std::unique_ptr<DcmObj> copy = identifier.Clone();
  copy->transferSyntax = kTsImplicitLE;
  copy->explicitVR = false;
  copy->bigEndian = false;
  BufData b;
  if (!b.WriteObj(*copy) || b.GetSize() == 0) return {};
  return std::vector<uint8_t>(b.data(), b.data() + b.GetSize());
}

}  // namespace

int RunFind(const AssociationTarget& target, const std::string& sopClass, DcmObj& identifier, const char* operation,
            const FindResponseSink& response, const PendingEventsHook& pendingEvents, SearchOutcome* outcome) {
  const std::vector<uint8_t> query = ImplicitBytes(identifier);
  int rows = 0;
  SearchOutcome end;
  auto pdu = std::make_unique<PDU_Service>();
  if (DebugLevel >= 2) pdu->MessageDump = true;
  if (!OpenAssociation(*pdu, target, sopClass)) {
    WriteLog("ERROR, couldn't connect to " + target.calledAE);
    end.problem = pdu->Problem;
  } else {
    end.connected = true;
    if (CFind::WriteRQ(pdu.get(), identifier, sopClass)) {
      end.sent = true;
      int status = dimse::kPending;
      while (dimse::IsPending(status)) {
        DcmObj answer;
        status = CFind::ReadRSP(*pdu, answer);
        end.status = status;
        if (status == -1 || status == dimse::kSuccess) break;
        if (!dimse::IsPending(status)) LogFindStatus(operation, status);
        if (response) response(answer);
        ++rows;
        if (pendingEvents) pendingEvents();
      }
    }
  }
  pdu->Close();
  const bool answered = end.sent && end.status == dimse::kSuccess;
  audit::Query(sopClass, query, audit::Node{target.calledAE, target.host, target.port}, answered,
               answered ? "" : !end.problem.empty() ? end.problem : "the search did not end with success");
  if (outcome) *outcome = end;
  return rows;
}
