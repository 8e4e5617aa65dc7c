// The upper-layer PDU readers fed through a Buffer (no socket): the type byte of each PDU chooses
// A-ASSOCIATE-RQ, -AC, -RJ or P-DATA-TF, as the association does; a completed message is parsed
// into a data set. The first byte sets how many bytes each socket read hands out.
#include <memory>

#include "core/dcmobj.h"
#include "fuzz/fuzz_support.h"
#include "net/pdu.h"
#include "net/pdu_service.h"
#include "core/transfer_syntax.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::Quiet();
  const uint32_t chunk = data[0] < 128 ? (1u << 30) : data[0] - 127u;
  Buffer link(std::make_unique<fuzz::FeedSocket>(data + 1, size - 1, chunk));
  link.SetIncomingOrder(2);
  link.SetOutgoingOrder(2);

  auto accept = std::make_unique<PresentationContextAccept>();  // outlives the service below
  accept->PresentationContextID = 1;
  accept->Result = 0;
  accept->TrnSyntax.Set(kTsImplicitLE);
  PDU_Service service;  // holds the accepted context a message is parsed in
  service.MessageDump = true;
  service.AcceptedPresentationContexts.push_back(accept.get());

  PDataTF pdata;
  for (int pdu = 0; pdu < 16; ++pdu) {
    uint8_t type = 0;
    if (!link.ReadByte(type)) break;
    bool ok = false;
    switch (type) {
      case 0x01: { AAssociateRQ rq; ok = rq.ReadDynamic(link); break; }
      case 0x02: { AAssociateAC ac; ok = ac.ReadDynamic(link); break; }
      case 0x03: { AAssociateRJ rj; ok = rj.ReadDynamic(link); break; }
      case 0x04:
        ok = pdata.ReadDynamic(link);
        if (ok && pdata.MsgStatus == 1) {
          DcmObj obj;
          service.ParseRawVRIntoDCM(pdata.VRBuffer, obj, pdata.PresentationContextID);
        }
        break;
      default: break;
    }
    if (!ok) break;
  }
  return 0;
}
