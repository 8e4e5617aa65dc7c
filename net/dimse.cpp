#include "net/dimse.h"
#include "net/dimse_fields.h"

#include <memory>

#include "core/dcmobj.h"
#include "core/log.h"
#include "core/transfer_syntax.h"
#include "codec/convert.h"
#include "net/tls_socket.h"

namespace {

constexpr const char kVerification[] = "1.2.840.10008.1.1";

// Command sets: group 0000 in ascending order, implicit VR little endian; the group length is the
// encoded size of the elements after it.
void AddGroupLength(DcmObj& cmd, uint32_t length) { cmd.Add(DcmTag::Number32(0, 0, length, "UL")); }

DcmTag US(uint16_t element, uint16_t value) { return DcmTag::Number16(0, element, value, "US"); }
DcmTag UI(uint16_t element, const std::string& uid) { return DcmTag(uint16_t{0}, element, uid, "UI"); }

uint32_t Even(size_t n) { return static_cast<uint32_t>(n + (n & 1)); }

// Our and the peer's AE titles and the read time-out into a new request; the context IDs start again.
void PrepareRequest(PDU_Service& pdu, const std::string& callingAE, const std::string& calledAE,
                    uint32_t timeoutSeconds) {
  std::string calling = PadAETitle(callingAE), called = PadAETitle(calledAE);
  pdu.assocRQ.SetCalledApTitle(called);
  pdu.assocRQ.SetCallingApTitle(calling);
  pdu.assocRQ.SetApplicationContext("1.2.840.10008.3.1.1.1");
  pdu.GetSocket().SetTimeout(timeoutSeconds);
  if (DebugLevel >= 2) {
    WriteLog("INFO, OpenAssociation, Calling Ap. Title: " + calling);
    WriteLog("INFO, OpenAssociation, Called Ap. Title: " + called);
  }
  ResetIDCounter();
}

// The transport first (TLS when the target asks for it), then the request as above.
void PrepareRequest(PDU_Service& pdu, const AssociationTarget& target) {
  if (target.tls.enabled) pdu.Link.SetLink(std::make_unique<TlsSocket>(target.tls));
  PrepareRequest(pdu, target.callingAE, target.calledAE, target.timeoutSeconds);
}

}  // namespace

std::string PadAETitle(const std::string& title) { return (title + std::string(16, ' ')).substr(0, 16); }

namespace {

// One context for the abstract syntax (see the declaration), then the connection.
bool ProposeAndConnect(PDU_Service& pdu, const std::string& host, const std::string& port,
                       const std::string& abstractSyntax, const std::string& proposedTransferSyntax,
                       const std::string& additionalTransferSyntax) {
  auto pc = std::make_unique<PresentationContext>(abstractSyntax);
  if (!additionalTransferSyntax.empty()) pc->AddTransferSyntax(additionalTransferSyntax);
  if (!proposedTransferSyntax.empty() && proposedTransferSyntax != additionalTransferSyntax)
    pc->AddTransferSyntax(proposedTransferSyntax);
  if (proposedTransferSyntax != kTsImplicitLE && additionalTransferSyntax != kTsImplicitLE)
    pc->AddTransferSyntax(kTsImplicitLE);
  pdu.assocRQ.AddPresentationContext(std::move(pc));
  return pdu.Connect(host, port);
}

}  // namespace

bool OpenAssociation(PDU_Service& pdu, const std::string& callingAE, const std::string& calledAE,
                     const std::string& host, const std::string& port, const std::string& abstractSyntax,
                     const std::string& proposedTransferSyntax, const std::string& additionalTransferSyntax,
                     uint32_t timeoutSeconds) {
  PrepareRequest(pdu, callingAE, calledAE, timeoutSeconds);
  return ProposeAndConnect(pdu, host, port, abstractSyntax, proposedTransferSyntax, additionalTransferSyntax);
}

bool OpenAssociation(PDU_Service& pdu, const std::string& callingAE, const std::string& calledAE,
                     const std::string& host, const std::string& port, const std::string& abstractSyntax,
                     uint32_t timeoutSeconds) {
  return OpenAssociation(pdu, callingAE, calledAE, host, port, abstractSyntax, "", "", timeoutSeconds);
}

bool OpenAssociation(PDU_Service& pdu, const AssociationTarget& target, const std::string& abstractSyntax,
                     const std::string& proposedTransferSyntax, const std::string& additionalTransferSyntax) {
  PrepareRequest(pdu, target);
  return ProposeAndConnect(pdu, target.host, target.port, abstractSyntax, proposedTransferSyntax,
                           additionalTransferSyntax);
}

bool OpenStoreAssociation(PDU_Service& pdu, const AssociationTarget& target, const std::string& sopClass,
                          const std::string& fileSyntax) {
  PrepareRequest(pdu, target);
  const bool native = fileSyntax == kTsExplicitLE || fileSyntax == kTsImplicitLE;
  if (!fileSyntax.empty() && !native) {
    auto own = std::make_unique<PresentationContext>(sopClass);
    own->AddTransferSyntax(fileSyntax);
    pdu.assocRQ.AddPresentationContext(std::move(own));
  }
  auto uncompressed = std::make_unique<PresentationContext>(sopClass);
  if (fileSyntax == kTsImplicitLE) {
    uncompressed->AddTransferSyntax(kTsImplicitLE);
    uncompressed->AddTransferSyntax(kTsExplicitLE);
  } else {
    uncompressed->AddTransferSyntax(kTsExplicitLE);
    uncompressed->AddTransferSyntax(kTsImplicitLE);
  }
  pdu.assocRQ.AddPresentationContext(std::move(uncompressed));
  return pdu.Connect(target.host, target.port);
}

DcmObj MakeEchoRQ(const std::string& sopClass) {
  DcmObj cmd;
  AddGroupLength(cmd, Even(sopClass.size()) + 38);
  cmd.Add(UI(dimse::kAffectedSOPClassUID, sopClass));
  cmd.Add(US(dimse::kCommandField, dimse::kCEchoRQ));
  cmd.Add(US(dimse::kMessageID, NextMessageID()));
  cmd.Add(US(dimse::kCommandDataSetType, dimse::kNoDataSet));
  return cmd;
}

// A request that a data set follows, at medium priority; the affected SOP instance is added when
// there is one.
DcmObj MakeRequestWithData(const std::string& sopClass, uint16_t commandField, const std::string& sopInstance) {
  DcmObj cmd;
  uint32_t length = Even(sopClass.size()) + 48;
  if (!sopInstance.empty()) length += Even(sopInstance.size()) + 8;
  AddGroupLength(cmd, length);
  cmd.Add(UI(dimse::kAffectedSOPClassUID, sopClass));
  cmd.Add(US(dimse::kCommandField, commandField));
  cmd.Add(US(dimse::kMessageID, NextMessageID()));
  cmd.Add(US(dimse::kPriority, dimse::kPriorityMedium));
  cmd.Add(US(dimse::kCommandDataSetType, dimse::kDataSetPresent));
  if (!sopInstance.empty()) cmd.Add(UI(dimse::kAffectedSOPInstanceUID, sopInstance));
  return cmd;
}

DcmObj MakeStoreRQ(const std::string& sopClass, const std::string& sopInstance) {
  return MakeRequestWithData(sopClass, dimse::kCStoreRQ, sopInstance);
}

DcmObj MakeFindRQ(const std::string& sopClass) { return MakeRequestWithData(sopClass, dimse::kCFindRQ, ""); }

bool WriteEchoRQ(PDU_Service& pdu, const std::string& sopClass) {
  DcmObj cmd = MakeEchoRQ(sopClass);
  return pdu.Write(cmd, 1);
}

bool ReadEchoRSP(PDU_Service& pdu) {
  DcmObj rsp;
  if (!pdu.Read(rsp)) return false;
  return rsp.GetUS(0x0000, dimse::kCommandField) == dimse::kCEchoRSP &&
         rsp.GetUS(0x0000, dimse::kStatus) == dimse::kSuccess;
}

bool EchoSCU(const std::string& callingAE, const std::string& calledAE, const std::string& host,
             const std::string& port, uint32_t timeoutSeconds, std::string* why) {
  return EchoSCU(AssociationTarget{callingAE, calledAE, host, port, timeoutSeconds}, why);
}

bool EchoSCU(const AssociationTarget& target, std::string* why) {
  auto pdu = std::make_unique<PDU_Service>();
  if (DebugLevel >= 2) pdu->MessageDump = true;
  bool result = false;
  std::string problem;
  if (!OpenAssociation(*pdu, target, kVerification)) {
    WriteLog("ERROR, EchoSCU, OpenAssoc failed");
    problem = pdu->Problem;
  } else if (!WriteEchoRQ(*pdu, kVerification)) {
    WriteLog("ERROR, EchoSCU, WriteEchoRQ failed");
    problem = "the C-ECHO request could not be sent";
  } else {
    result = ReadEchoRSP(*pdu);
    if (!result) problem = pdu->Problem.empty() ? "no successful C-ECHO response" : pdu->Problem;
  }
  pdu->Close();
  if (why) *why = problem;
  return result;
}


bool CStore::WriteRQ(PDU_Service* pdu, DcmObj* obj, const std::string& sopClass) {
  if (!pdu) return false;
  std::string instance = obj ? obj->GetString(0x0008, 0x0018) : std::string();
  DcmObj cmd = MakeStoreRQ(sopClass, instance);
  pdu->LastStoreRequest = {cmd.GetUS(0x0000, dimse::kMessageID), instance};
  if (!pdu->Write(cmd, 1)) {
    WriteLog("ERROR, CStore::WriteRQ, PDU->Write DCO failed");
    return false;
  }
  if (!obj) return true;
  return pdu->Write(*obj, 0);
}

int CStore::ReadRSP(PDU_Service* pdu) {
  DcmObj rsp;
  if (!pdu || !pdu->Read(rsp)) {
    WriteLog("ERROR, CStore::ReadRSP, PDU->Read DCO failed");
    return -1;
  }
  if (rsp.GetUS(0x0000, dimse::kCommandField) != dimse::kCStoreRSP) {
    WriteLog("ERROR, CStore::ReadRSP, not a C-Store RSP");
    return -2;
  }
  // A response only counts for the request it answers (a missing value would read as 0, success).
  if (!rsp.FindTag(0x0000, dimse::kStatus)) {
    WriteLog("ERROR, CStore::ReadRSP, the response carries no status");
    return -5;
  }
  const PDU_Service::StoreRequest& rq = pdu->LastStoreRequest;
  const uint16_t answered = rsp.GetUS(0x0000, dimse::kMessageIDBeingRespondedTo);
  if (!rsp.FindTag(0x0000, dimse::kMessageIDBeingRespondedTo) || answered != rq.messageID) {
    WriteLog("ERROR, CStore::ReadRSP, the response answers message " + std::to_string(answered) + ", not " +
             std::to_string(rq.messageID));
    return -6;
  }
  if (rsp.FindTag(0x0000, dimse::kAffectedSOPInstanceUID)) {
    const std::string instance = rsp.GetString(0x0000, dimse::kAffectedSOPInstanceUID);
    if (instance != rq.sopInstance) {
      WriteLog("ERROR, CStore::ReadRSP, the response names instance " + instance + ", not " + rq.sopInstance);
      return -7;
    }
  }
  const uint16_t status = rsp.GetUS(0x0000, dimse::kStatus);
  if (dimse::IsWarning(status)) {
    WriteLog("WARNING, CStore::ReadRSP, status == " + std::to_string(status) + ", stored with a warning");
    return status;
  }
  if (status != dimse::kSuccess) {
    WriteLog("ERROR, CStore::ReadRSP, status == " + std::to_string(status));
    return status;
  }
  return 0;
}

bool CStore::Stored(int status) { return status == 0 || dimse::IsWarning(status); }

int StoreSCU(PDU_Service& pdu, DcmObj& obj, const std::string& sopClass) {
  // The object's own syntax where a context took it; else the first accepted syntax it can be
  // brought into.
  const PresentationContextAccept* chosen = nullptr;
  for (const PresentationContextAccept* pca : pdu.AcceptedPresentationContexts)
    if (pca->TrnSyntax.UID == obj.transferSyntax) {
      chosen = pca;
      break;
    }
  for (size_t i = 0; !chosen && i < pdu.AcceptedPresentationContexts.size(); ++i)
    if (IsConversionTarget(pdu.AcceptedPresentationContexts[i]->TrnSyntax.UID))
      chosen = pdu.AcceptedPresentationContexts[i];
  if (!chosen) return pdu.AcceptedPresentationContexts.empty() ? -1 : -2;
  pdu.pdata.PresentationContextID = chosen->PresentationContextID;
  if (!ConvertTransferSyntax(obj, chosen->TrnSyntax.UID)) return -3;  // logged by the conversion
  return CStore::WriteRQ(&pdu, &obj, sopClass) ? 0 : -4;
}

bool CFind::WriteRQ(PDU_Service* pdu, DcmObj& identifier, const std::string& sopClass) {
  if (!pdu) return false;
  DcmObj cmd = MakeFindRQ(sopClass);
  if (!pdu->Write(cmd, 1)) return false;
  if (identifier.Count() == 0) return true;
  return pdu->Write(identifier, 0);
}

int CFind::ReadRSP(PDU_Service& pdu, DcmObj& identifier) {
  DcmObj rsp;
  if (!pdu.Read(rsp) || rsp.GetUS(0x0000, dimse::kCommandField) != dimse::kCFindRSP) return -1;
  int status = rsp.GetUS(0x0000, dimse::kStatus);
  if (rsp.GetUS(0x0000, dimse::kCommandDataSetType) == dimse::kNoDataSet) return status;
  if (!pdu.Read(identifier)) return -1;
  return status;
}
