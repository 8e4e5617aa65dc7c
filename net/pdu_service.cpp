#include "net/pdu_service.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "core/bufdata.h"
#include "core/dcmobj.h"
#include "core/deflate.h"
#include "core/dictionary.h"
#include "core/log.h"
#include "core/strutil.h"
#include "core/uid_root.h"

namespace {

constexpr uint32_t kMaximumLength = 16384;

}  // namespace

// ---------------------------------------------------------------------------------------------
// PDataTF

PDataTF::PDataTF() = default;
PDataTF::~PDataTF() = default;

bool PDataTF::Write(Buffer& link, const std::vector<BufData::Piece>& pieces, uint32_t total) {
  if (BlockSize == 0) BlockSize = 4096;
  if (BlockSize > 16378) WriteLog("WARNING, BlockSize is too big: " + std::to_string(BlockSize));
  if (!link.Flush()) return false;
  const bool little = link.OutgoingOrder() == 1;
  auto put32 = [little](unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[little ? i : 3 - i] = static_cast<unsigned char>(v >> (8 * i));
  };
  uint32_t block = BlockSize;
  uint32_t sent = 0;
  size_t piece = 0, offset = 0;  // the next byte of the message: pieces[piece].data[offset]
  while (sent < total) {
    if (total - sent < block) block = total - sent;
    if (sent + block == total)
      MsgHeader = static_cast<uint8_t>(MsgHeader | 0x02);
    else
      MsgHeader = static_cast<uint8_t>(MsgHeader & 0x01);
    PDVLength = block + 2;
    PDVPresentationContextID = PresentationContextID;
    PDVMessageHeader = MsgHeader;
    if (pdu_.size() < static_cast<size_t>(block) + 12) pdu_.resize(static_cast<size_t>(block) + 12);
    unsigned char* p = pdu_.data();
    p[0] = ItemType;
    p[1] = Reserved1;
    put32(p + 2, block + 6);
    put32(p + 6, PDVLength);
    p[10] = PDVPresentationContextID;
    p[11] = PDVMessageHeader;
    size_t filled = 0;
    while (filled < block && piece < pieces.size()) {
      const size_t n = std::min<size_t>(block - filled, pieces[piece].size - offset);
      std::memcpy(p + 12 + filled, pieces[piece].data + offset, n);
      filled += n;
      offset += n;
      if (offset == pieces[piece].size) ++piece, offset = 0;
    }
    if (filled < block || !link.GetSocket().SendBinary(p, block + 12)) {
      link.DropOutgoing();
      return false;
    }
    sent += block;
  }
  return true;
}

bool PDataTF::ReadDynamic(Buffer& link) {
  if (Length == 0) {
    if (!link.ReadByte(Reserved1) || !link.ReadUInt32(Length)) {
      Length = 0;
      return false;
    }
  }
  MsgStatus = 0;
  while (Length > 0) {
    // A PDV needs its length, context ID and control header: 6 bytes at least.
    if (Length < 6 || !link.ReadUInt32(PDVLength) || !link.ReadByte(PDVPresentationContextID) ||
        !link.ReadByte(PDVMessageHeader)) {
      Length = 0;
      return false;
    }
    if (PDVLength < 2 || PDVLength > Length - 4) {
      Length = 0;
      return false;
    }
    if (!VRBuffer.AppendFromLink(link, PDVLength - 2)) {
      Length = 0;
      return false;
    }
    Length -= PDVLength + 4;
    if (PDVMessageHeader & 0x02) {
      MsgStatus = 1;
      PresentationContextID = PDVPresentationContextID;
      return true;
    }
  }
  PresentationContextID = PDVPresentationContextID;
  return true;
}

// ---------------------------------------------------------------------------------------------
// PDU_Service

PDU_Service::PDU_Service() {
  Link.SetIncomingOrder(2);
  Link.SetOutgoingOrder(2);
}

PDU_Service::~PDU_Service() {
  if (Link.GetSocket().IsConnected()) Link.GetSocket().Close();
}

void PDU_Service::AbortAndClose() {
  abortRQ.Write(Link);
  Link.GetSocket().CloseInOrder();
  Link.Reset();
  pdata.Length = 0;
  pdata.VRBuffer.Reset();
}

namespace {

// While it lives, the rest of the PDU being read must arrive within the read time-out.
class PduDeadline {
 public:
  explicit PduDeadline(Socket& socket) : socket_(socket) { socket_.ArmDeadline(); }
  ~PduDeadline() { socket_.ClearDeadline(); }
  PduDeadline(const PduDeadline&) = delete;
  PduDeadline& operator=(const PduDeadline&) = delete;

 private:
  Socket& socket_;
};

}  // namespace

bool PDU_Service::Connect(const std::string& host, const std::string& port) {
  try {
    pdata.Length = 0;
    assocRQ.UserInfo.SetMax(kMaximumLength);
    assocRQ.UserInfo.SetImplementationClass(std::string(kOrgUIDRoot) + ".999");
    assocRQ.UserInfo.SetImplementationVersion(kImplementationVersionName);
    assocRQ.UserInfo.SetUserIdentity(UserName, Passcode);

    Socket& socket = Link.GetSocket();
    Problem.clear();
    if (!socket.Open(host, port)) {
      Problem = !socket.Failure().empty() ? socket.Failure()
                : "cannot connect to " + host + ":" + port +
                      (socket.GetResult() != 0 ? ": " + std::string(std::strerror(socket.GetResult())) : std::string());
      WriteLog("ERROR, PDU_Service::Connect, Socket Level Error");
      return false;
    }
    if (DebugLevel >= 1) WriteLog("INFO, Connected to: " + host + ":" + port);
    if (!assocRQ.Write(Link)) {
      // A server that closes at once on a plain request is most likely waiting for TLS.
      Problem = !socket.Failure().empty() ? socket.Failure()
                                          : "the server closed the connection on the association request "
                                            "(does it take TLS only?)";
      WriteLog("ERROR, Association RQ failed!");
      return false;
    }
    uint8_t type = 0;
    if (!Link.ReadByte(type)) {
      // The peer closed or did not answer within the read time-out (or refused us in TLS).
      Problem = !socket.Failure().empty() ? socket.Failure()
                : socket.PeerClosed()
                    ? "the server closed the connection on the association request (does it take TLS only?)"
                    : "no answer to the association request";
      socket.Close();
      WriteLog("ERROR, PDU_Service::Connect, Socket Level Error");
      return false;
    }
    PduDeadline deadline(socket);
    if (DebugLevel >= 2) WriteLog("INFO, PDU_Service::Connect, Item Type: " + std::to_string(type));
    if (type == 0x03) {
      WriteLog("ERROR, Association Rejected...");
      assocRJ.ReadDynamic(Link);
      Problem = "association " + RejectionText(assocRJ.Result, assocRJ.Source, assocRJ.Reason);
      socket.Close();
      return false;
    }
    if (type != 0x02) {
      // A TLS alert or handshake record: the port speaks TLS only.
      Problem = type == 0x07   ? "association aborted by the called application"
                : type == 0x15 || type == 0x16 ? "the server answered in TLS (does it take TLS only?)"
                                               : "the answer to the association request is not DICOM";
      WriteLog("ERROR, Corrupt Transmission...");
      socket.Close();
      return false;
    }
    if (DebugLevel >= 2) WriteLog("INFO, Association Accept::ReadDynamic");
    assocAC.ReadDynamic(Link);
    if (!socket.IsConnected()) {  // the link died inside the A-ASSOCIATE-AC
      Problem = "the connection broke during the association";
      WriteLog("ERROR, PDU_Service::Connect, Socket Level Error");
      return false;
    }
    if (InterogateAAssociateAC()) return true;
    Problem = "the called application accepted none of the proposed transfer syntaxes";
    socket.Close();
    WriteLog("ERROR, PDU_Service::Connect, InterogateAAssociateAC failed");
    return false;
  } catch (...) {
    Problem = "the association could not be made";
    Link.GetSocket().Close();
    WriteLog("ERROR, PDU_Service::Connect, indeterminate error");
    return false;
  }
}

bool PDU_Service::InterogateAAssociateAC() {
  if (assocAC.PresContextAccepts.empty()) WriteLog("WARNING, assocAC.PresContextAccepts Count==0");
  bool chosen = false;
  for (auto& pca : assocAC.PresContextAccepts) {
    if (pca->Result != 0) continue;
    // A syntax accepted in a context that did not propose it would have the data read in a syntax
    // it is not in: such a context is not used.
    const bool proposed = std::any_of(assocRQ.PresContexts.begin(), assocRQ.PresContexts.end(), [&](const auto& pc) {
      return pc->PresentationContextID == pca->PresentationContextID &&
             std::any_of(pc->TrnSyntax.begin(), pc->TrnSyntax.end(),
                         [&](const UIDitem& ts) { return ts.UID == pca->TrnSyntax.UID; });
    });
    if (!proposed) {
      WriteLog("WARNING, Presentation Context " + std::to_string(pca->PresentationContextID) +
               " accepted in a transfer syntax it did not propose: " + pca->TrnSyntax.UID);
      continue;
    }
    AcceptedPresentationContexts.push_back(pca.get());
    if (DebugLevel >= 2)
      WriteLog("Presentation Context Accept ID: " + std::to_string(pca->PresentationContextID) +
               ", Transfer Syntax: " + pca->TrnSyntax.UID);
    if (!chosen && IsKnownTransferSyntax(pca->TrnSyntax.UID)) {
      chosen = true;
      pdata.PresentationContextID = pca->PresentationContextID;
    }
  }
  if (!chosen) {
    WriteLog("ERROR, Transfer Syntax is Empty");
    return false;
  }
  return true;
}

std::string PDU_Service::GetTransferSyntaxUID(uint8_t presentationContextID) const {
  for (const auto* pca : AcceptedPresentationContexts)
    if (pca->PresentationContextID == presentationContextID) return pca->TrnSyntax.UID;
  return "";
}

void PDU_Service::DumpMessage(DcmObj& obj, const char* direction) {
  WriteLog(Trim(assocAC.CallingApTitle) + direction + Trim(assocAC.CalledApTitle));
  std::vector<std::string> lines;
  obj.Dump(lines, 0);
  for (const auto& line : lines) WriteLog(line);
  WriteLog("");
}

bool PDU_Service::ParseDCMIntoRawVR(DcmObj& obj, Buffer& staging) {
  if (MessageDump) DumpMessage(obj, " >> ");
  BufData out;
  // A data set that cannot be encoded whole is not sent in part.
  if (!out.WriteObj(obj)) return false;
  if (out.GetSize() > 0xFFFFFFFFu) {
    WriteLog("ERROR, PDU_Service::ParseDCMIntoRawVR, message too large");
    return false;
  }
  if (out.GetSize() > 0) staging.Write(out.data(), static_cast<uint32_t>(out.GetSize()));
  return true;
}

bool PDU_Service::Write(DcmObj& obj, uint8_t kind) {
  if (pdata.PresentationContextID == 0) {
    WriteLog("ERROR: pdata.PresentationContextID is 0");
    return false;
  }
  pdata.VRBuffer.DropOutgoing();
  if (MessageDump) DumpMessage(obj, " >> ");
  // Encoded once; large values (pixel data) are cut into the PDUs straight from their elements. A
  // data set in the deflated syntax is encoded whole and sent deflated.
  const bool deflate = kind == 0 && GetTransferSyntaxUID(pdata.PresentationContextID) == kTsDeflatedLE;
  BufData out;
  out.DeferLargeValues(!deflate);
  if (!out.WriteObj(obj)) return false;  // a data set that cannot be encoded whole is not sent in part
  std::vector<uint8_t> packed;
  if (deflate && !DeflateRaw(out.data(), out.GetSize(), packed)) {
    WriteLog("ERROR, PDU_Service::Write, the data set could not be deflated");
    return false;
  }
  const std::vector<BufData::Piece> pieces =
      deflate ? std::vector<BufData::Piece>{{packed.data(), packed.size()}} : out.Pieces();
  uint64_t total = 0;
  for (const BufData::Piece& p : pieces) total += p.size;
  if (total > 0xFFFFFFFFu) {
    WriteLog("ERROR, PDU_Service::ParseDCMIntoRawVR, message too large");
    return false;
  }
  pdata.MsgHeader = kind;
  uint32_t& maximum = assocAC.UserInfo.MaxSub.MaximumLength;
  if (maximum > kMaximumLength) {
    maximum = kMaximumLength;
    if (DebugLevel >= 2) WriteLog("INFO, PDU_Service::Write, MaximumLength set to 16384");
  }
  pdata.BlockSize = maximum - 6;  // 0 (no limit) wraps to a size larger than any message
  return pdata.Write(Link, pieces, static_cast<uint32_t>(total));
}

namespace {
// The most a deflated data set received may inflate to.
constexpr size_t kMaximumInflated = size_t(1) << 30;
}  // namespace

bool PDU_Service::ParseRawVRIntoDCM(Buffer& staging, DcmObj& obj, uint8_t presentationContextID) {
  std::string ts = GetTransferSyntaxUID(presentationContextID);
  if (ts.empty()) {
    staging.TakeIncoming();
    WriteLog("ERROR, PDU_Service::ParseRawVRIntoDCM GetTransferSyntaxUID()");
    return false;
  }
  obj.transferSyntax = ts;
  obj.explicitVR = ts != kTsImplicitLE;
  std::vector<unsigned char> bytes = staging.TakeIncoming();
  if (ts == kTsDeflatedLE && !(pdata.PDVMessageHeader & 0x01)) {  // a data set, not a command
    std::vector<uint8_t> plain;
    std::string why;
    if (!InflateRaw(bytes.data(), bytes.size(), kMaximumInflated, plain, why)) {
      WriteLog("ERROR, PDU_Service::ParseRawVRIntoDCM, " + why);
      return false;
    }
    bytes = std::move(plain);
  }
  BufData in(bytes.data(), bytes.size(), false);
  if (!in.ReadObj(obj)) {
    WriteLog("ERROR, PDU_Service::ParseRawVRIntoDCM buf.ReadOjb()");
    return false;
  }
  if (MessageDump) DumpMessage(obj, " << ");
  return true;
}

bool PDU_Service::endOnOtherPdu(uint8_t type) {
  switch (type) {
    case 0x01:
      assocRQ.ReadDynamic(Link);
      AbortAndClose();
      WriteLog("ERROR, PDU_Service::Read Associate-RQ");
      return false;
    case 0x02:
      assocAC.ReadDynamic(Link);
      AbortAndClose();
      WriteLog("ERROR, PDU_Service::Read Associate-AC");
      return false;
    case 0x03:
      AbortAndClose();
      WriteLog("ERROR, PDU_Service::Read Associate-RJ");
      return false;
    case 0x05:
      releaseRQ.ReadDynamic(Link);
      releaseRP.Write(Link);
      pdata.VRBuffer.Reset();
      if (DebugLevel >= 2) WriteLog("INFO, PDU_Service::Read Release-RQ");
      return false;
    case 0x06:
      Link.GetSocket().Close();
      pdata.VRBuffer.Reset();
      WriteLog("WARNING, PDU_Service::Read Release-RSP");
      return false;
    case 0x07: {
      AAbortRQ received;
      received.ReadDynamic(Link);
      Problem = "association " + AbortText(received.Source, received.Reason);
      Link.GetSocket().Close();
      pdata.VRBuffer.Reset();
      WriteLog("WARNING, PDU_Service::Read Abort-RQ");
      return false;
    }
    default:
      AbortAndClose();
      WriteLog("ERROR, PDU_Service::Read Protocol Error");
      return false;
  }
}

bool PDU_Service::Read(DcmObj& obj) {
  if (!Link.GetSocket().IsConnected()) return false;
  pdata.MsgStatus = 0;
  if (pdata.Length != 0) {
    PduDeadline deadline(Link.GetSocket());
    if (!pdata.ReadDynamic(Link)) {
      WriteLog("ERROR, PDU_Service::Read Protocol Error");
      AbortAndClose();
      return false;
    }
  }
  while (pdata.MsgStatus == 0) {
    uint8_t type = 0;
    if (!Link.ReadByte(type)) {
      // The peer closed or the read timed out (the socket said so); the socket is closed.
      Link.Reset();
      pdata.VRBuffer.Reset();
      return false;
    }
    PduDeadline deadline(Link.GetSocket());
    if (type != 0x04) return endOnOtherPdu(type);
    if (!pdata.ReadDynamic(Link)) {
      // A PDV length below 2 or beyond its PDU, or a link that died inside the PDU.
      WriteLog("ERROR, PDU_Service::Read Protocol Error");
      AbortAndClose();
      return false;
    }
  }
  if (!ParseRawVRIntoDCM(pdata.VRBuffer, obj, pdata.PresentationContextID)) {
    WriteLog("ERROR, PDU_Service::Read ParseRawVRIntoDCM()");
    AbortAndClose();
    return false;
  }
  return true;
}

bool PDU_Service::Close() {
  pdata.Length = 0;
  if (Link.GetSocket().IsConnected()) {
    releaseRQ.Write(Link);
    PduDeadline deadline(Link.GetSocket());
    releaseRP.Read(Link);
  }
  Link.GetSocket().CloseInOrder();
  Link.Reset();
  return true;
}
