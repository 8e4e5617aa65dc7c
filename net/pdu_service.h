#pragma once
// One DICOM association seen from the requesting side: connect, choose a presentation context (the
// first accepted one in a known syntax; a sender may choose another per message), carry whole
// messages (command sets and data sets) in P-DATA-TF PDUs, release or abort.
//
// Calling order: fill assocRQ (OpenAssociation does it), Connect, any sequence of Write and Read,
// Close, destruction. A new PDU_Service is made for each association.
#include <cstdint>
#include <string>
#include <vector>

#include "core/bufdata.h"
#include "net/pdu.h"
#include "net/socket.h"

class DcmObj;

// The P-DATA-TF PDU and the message reassembly state.
class PDataTF {
 public:
  PDataTF();
  virtual ~PDataTF();

  // Sends the encoded message held in these pieces in fragments of BlockSize bytes, one PDV per
  // PDU, each PDU assembled in one reused buffer and handed to the socket whole.
  bool Write(Buffer& link, const std::vector<BufData::Piece>& pieces, uint32_t total);
  // Reads PDVs of the current PDU (type byte consumed) until a message completes or the PDU is used
  // up. False for a malformed PDV length or a failed link.
  bool ReadDynamic(Buffer& link);

  uint8_t ItemType = 0x04;
  uint8_t Reserved1 = 0;
  uint32_t Length = 0;  // bytes of the PDU being read not yet consumed; 0 = none pending
  uint32_t BlockSize = 0;
  Buffer VRBuffer;  // staging queue; its socket is never connected
  int MsgStatus = 0;  // 1 when a PDV with the last-fragment bit was read
  uint32_t PDVLength = 0;
  uint8_t PDVPresentationContextID = 0;
  uint8_t PDVMessageHeader = 0;
  uint8_t PresentationContextID = 0;
  uint8_t MsgHeader = 0;  // for writing: 1 command set, 0 data set; bit 1 marks the last fragment

 private:
  std::vector<unsigned char> pdu_;  // Write: the PDU being sent
};

class PDU_Service {
 public:
  PDU_Service();
  virtual ~PDU_Service();
  PDU_Service(const PDU_Service&) = delete;
  PDU_Service& operator=(const PDU_Service&) = delete;

  bool Connect(const std::string& host, const std::string& port);
  bool InterogateAAssociateAC();
  // kind 1 = command set, 0 = data set.
  bool Write(DcmObj& obj, uint8_t kind);
  bool Read(DcmObj& obj);
  // The transfer syntax of the first accepted context with this ID, or "" when there is none.
  std::string GetTransferSyntaxUID(uint8_t presentationContextID) const;
  bool ParseRawVRIntoDCM(Buffer& staging, DcmObj& obj, uint8_t presentationContextID);
  bool ParseDCMIntoRawVR(DcmObj& obj, Buffer& staging);
  // Releases the association if the link is connected, then closes the socket; always true.
  bool Close();

  Socket& GetSocket() { return Link.GetSocket(); }
  bool IsConnected() { return Link.GetSocket().IsConnected(); }

  bool MessageDump = false;  // list every message written or read in the log
  // Why the association could not be made or ended before its release, in words; empty while
  // nothing went wrong.
  std::string Problem;
  // The last C-STORE request written, which the next response must answer.
  struct StoreRequest {
    uint16_t messageID = 0;
    std::string sopInstance;
  } LastStoreRequest;
  std::string UserName, Passcode;
  std::vector<PresentationContextAccept*> AcceptedPresentationContexts;  // items of assocAC
  Buffer Link;
  AAssociateRQ assocRQ;
  AAssociateAC assocAC;
  AAssociateRJ assocRJ;
  AReleaseRQ releaseRQ;
  AReleaseRP releaseRP;
  AAbortRQ abortRQ;
  PDataTF pdata;

 private:
  void DumpMessage(DcmObj& obj, const char* direction);
  // A-ABORT, socket closed, reassembly state dropped.
  void AbortAndClose();
  // Read's answer to a PDU of another type than P-DATA-TF arriving where data were expected: each
  // ends the wait (false), after what that PDU asks for (a release answered, an abort or a
  // protocol error closing the link).
  bool endOnOtherPdu(uint8_t type);
};
