#pragma once
// DIMSE operations as service class user: opening an association for one SOP class, the C-ECHO,
// C-STORE and C-FIND request command sets and the checks on their responses, the connectivity
// test and the sending of one data set in the negotiated transfer syntax.
#include <cstdint>
#include <string>

#include "core/config.h"
#include "net/pdu_service.h"

class DcmObj;

// Where an association goes: our AE title, the peer's, its address and the read time-out.
struct AssociationTarget {
  std::string callingAE;
  std::string calledAE;
  std::string host;
  std::string port;
  uint32_t timeoutSeconds = 30;
  bool messageDump = false;  // list every message written or read in the log
  TlsSettings tls = {};      // DICOM over TLS when tls.enabled; for DICOMweb, how HTTPS checks the server
  DicomWebSettings web = {}; // the archive is reached over DICOMweb when web.enabled (no associations)
};

// Pads or cuts an AE title to exactly 16 characters.
std::string PadAETitle(const std::string& title);

// Proposes one presentation context (ID 1) for the abstract syntax with, in order: the additional
// transfer syntax, the proposed one (when different), and implicit VR little endian unless one of
// the two already is; then connects.
bool OpenAssociation(PDU_Service& pdu, const std::string& callingAE, const std::string& calledAE,
                     const std::string& host, const std::string& port, const std::string& abstractSyntax,
                     const std::string& proposedTransferSyntax, const std::string& additionalTransferSyntax,
                     uint32_t timeoutSeconds);
bool OpenAssociation(PDU_Service& pdu, const std::string& callingAE, const std::string& calledAE,
                     const std::string& host, const std::string& port, const std::string& abstractSyntax,
                     uint32_t timeoutSeconds);
bool OpenAssociation(PDU_Service& pdu, const AssociationTarget& target, const std::string& abstractSyntax,
                     const std::string& proposedTransferSyntax = "", const std::string& additionalTransferSyntax = "");

// For sending objects of one SOP class kept in `fileSyntax`: proposes that syntax in a context of
// its own, then explicit and implicit VR little endian in another (one context holding both, the
// file's first, when the file is in one of them); then connects.
bool OpenStoreAssociation(PDU_Service& pdu, const AssociationTarget& target, const std::string& sopClass,
                          const std::string& fileSyntax);

bool WriteEchoRQ(PDU_Service& pdu, const std::string& sopClass);
// True when the C-ECHO-RSP carries status 0.
bool ReadEchoRSP(PDU_Service& pdu);
// Connectivity test: associate for Verification, echo, release. On failure `why` (when given)
// says what went wrong in words (PDU_Service::Problem, or what the echo itself lacked).
bool EchoSCU(const std::string& callingAE, const std::string& calledAE, const std::string& host,
             const std::string& port, uint32_t timeoutSeconds, std::string* why = nullptr);
bool EchoSCU(const AssociationTarget& target, std::string* why = nullptr);

namespace CStore {
// The C-STORE-RQ command set, then the data set (when given).
bool WriteRQ(PDU_Service* pdu, DcmObj* obj, const std::string& sopClass);
// The response to the last request written: 0 success, -1 nothing read, -2 not a C-STORE-RSP,
// -5 no Status, -6 it answers another Message ID, -7 it names another SOP Instance UID; else the
// non-zero status received (a warning status, logged as a WARNING line, means stored: see Stored).
int ReadRSP(PDU_Service* pdu);
// True for the results of ReadRSP that mean the peer stored the object: 0 and the warning statuses.
bool Stored(int status);
}  // namespace CStore

// Writes the C-STORE-RQ with the data set in its own syntax where an accepted context has it, else
// brought into the first accepted syntax it can be converted into (obj.transferSyntax then says
// which). 0, or -1 no presentation context, -2 no accepted syntax it can go in, -3 conversion
// failed, -4 the request could not be written. The caller reads the response with CStore::ReadRSP.
int StoreSCU(PDU_Service& pdu, DcmObj& obj, const std::string& sopClass);

namespace CFind {
// The C-FIND-RQ command set, then the identifier when it holds an element.
bool WriteRQ(PDU_Service* pdu, DcmObj& identifier, const std::string& sopClass);
// The response's status (the identifier read into `identifier` when one follows), or -1.
int ReadRSP(PDU_Service& pdu, DcmObj& identifier);
}  // namespace CFind

// Command sets as sent (exposed for tests and the query clients).
DcmObj MakeEchoRQ(const std::string& sopClass);
DcmObj MakeStoreRQ(const std::string& sopClass, const std::string& sopInstance);
DcmObj MakeFindRQ(const std::string& sopClass);
