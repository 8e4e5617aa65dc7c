#include "net/pdu.h"

#include <cstring>

#include "core/log.h"

namespace {

int g_idCounter = 1;

void Info(const std::string& line) {
  if (DebugLevel > 1) WriteLog(line);
}

std::string Num(long long v) { return std::to_string(v); }

// Reads count bytes of text; the text ends at the first NUL. A text longer than capacity is
// consumed whole and cut to capacity characters, so that the parse stays in step.
bool ReadText(Buffer& link, uint32_t count, size_t capacity, std::string& text, const char* who) {
  text.clear();
  if (count == 0) return true;
  uint32_t keep = count > capacity ? static_cast<uint32_t>(capacity) : count;
  std::string raw(keep, '\0');
  if (!link.Read(raw.data(), keep)) return false;
  if (count > keep) {
    if (!link.Kill(count - keep)) return false;
    WriteLog(std::string("WARNING, ") + who + ", value of " + Num(count) + " characters cut to " + Num(keep));
  }
  size_t nul = raw.find('\0');
  text = nul == std::string::npos ? raw : raw.substr(0, nul);
  return true;
}

}  // namespace

void ResetIDCounter() { g_idCounter = 1; }

uint8_t NextPresentationContextID() {
  if (g_idCounter % 2 == 0) ++g_idCounter;
  return static_cast<uint8_t>(g_idCounter++);
}

uint8_t AdvanceIDCounter() { return static_cast<uint8_t>(g_idCounter++); }

uint16_t NextMessageID() {
  if (g_idCounter % 2 == 0) ++g_idCounter;
  return static_cast<uint16_t>(g_idCounter++);
}

// ---------------------------------------------------------------------------------------------
// UIDitem

UIDitem::UIDitem(uint8_t type, const std::string& text) : ItemType(type) { Set(text); }

void UIDitem::Set(const std::string& text) {
  UID = text.size() > kCapacity ? text.substr(0, kCapacity) : text;
  Length = static_cast<uint16_t>(UID.size());
}

bool UIDitem::Write(Buffer& link) {
  link.WriteByte(ItemType);
  link.WriteByte(Reserved1);
  link.WriteUInt16(static_cast<uint16_t>(UID.size()));
  if (!UID.empty()) link.Write(UID.data(), static_cast<uint32_t>(UID.size()));
  return link.Flush();
}

bool UIDitem::Read(Buffer& link) { return link.ReadByte(ItemType) && ReadDynamic(link); }

bool UIDitem::ReadDynamic(Buffer& link) {
  if (!link.ReadByte(Reserved1) || !link.ReadUInt16(Length)) return false;
  return ReadText(link, Length, kCapacity, UID, "UIDitem::ReadDynamic");
}

// ---------------------------------------------------------------------------------------------
// PresentationContext

PresentationContext::PresentationContext() : PresentationContextID(NextPresentationContextID()) {}

PresentationContext::PresentationContext(const std::string& abstractSyntax) : PresentationContext() {
  SetAbstractSyntax(abstractSyntax);
}

void PresentationContext::SetAbstractSyntax(const std::string& uid) { AbsSyntax = UIDitem(0x30, uid); }

void PresentationContext::AddTransferSyntax(const std::string& uid) { TrnSyntax.emplace_back(0x40, uid); }

uint32_t PresentationContext::Size() {
  uint32_t len = 4 + AbsSyntax.Size();
  for (const auto& ts : TrnSyntax) len += ts.Size();
  Length = static_cast<uint16_t>(len);
  return len + 4;
}

namespace {
void DumpContextHeader(const char* heading, const PresentationContext& pc) {
  if (DebugLevel <= 1) return;
  WriteLog(heading);
  WriteLog("ItemType: " + Num(pc.ItemType));
  WriteLog("Reserved1: " + Num(pc.Reserved1));
  WriteLog("Length: " + Num(pc.Length));
  WriteLog("PresentationContextID: " + Num(pc.PresentationContextID));
  WriteLog("Reserved2: " + Num(pc.Reserved2));
  WriteLog("Reserved3: " + Num(pc.Reserved3));
  WriteLog("Reserved4: " + Num(pc.Reserved4));
}
}  // namespace

bool PresentationContext::Write(Buffer& link) {
  link.WriteByte(ItemType);
  link.WriteByte(Reserved1);
  link.WriteUInt16(Length);
  link.WriteByte(PresentationContextID);
  link.WriteByte(Reserved2);
  link.WriteByte(Reserved3);
  link.WriteByte(Reserved4);
  bool ok = link.Flush();
  DumpContextHeader("INFO, PresentationContext::Write", *this);
  ok = AbsSyntax.Write(link) && ok;
  Info("AbsSyntax: " + AbsSyntax.UID);
  if (TrnSyntax.empty()) WriteLog("ERROR, PresentationContext::Write");
  for (auto& ts : TrnSyntax) {
    ok = ts.Write(link) && ok;
    Info("TrnSyntax: " + ts.UID);
  }
  return ok;
}

bool PresentationContext::Read(Buffer& link) { return link.ReadByte(ItemType) && ReadDynamic(link); }

bool PresentationContext::ReadDynamic(Buffer& link) {
  if (!link.ReadByte(Reserved1) || !link.ReadUInt16(Length) || !link.ReadByte(PresentationContextID) ||
      !link.ReadByte(Reserved2) || !link.ReadByte(Reserved3) || !link.ReadByte(Reserved4))
    return false;
  DumpContextHeader("INFO, PresentationContext::Read", *this);
  if (!AbsSyntax.Read(link)) return false;
  Info("AbsSyntax: " + AbsSyntax.UID);
  long long count = static_cast<long long>(Length) - 4 - AbsSyntax.Size();
  TrnSyntax.clear();
  while (count > 0) {
    UIDitem ts(0x40);
    if (!ts.Read(link)) return false;
    Info("TrnSyntax: " + ts.UID);
    count -= ts.Size();
    TrnSyntax.push_back(std::move(ts));
  }
  if (count != 0) {
    WriteLog("WARNING, PresentationContext::Read Count=" + Num(count));
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// PresentationContextAccept

PresentationContextAccept::PresentationContextAccept() : PresentationContextID(AdvanceIDCounter()) {}

uint32_t PresentationContextAccept::Size() {
  uint32_t len = 4 + TrnSyntax.Size();
  Length = static_cast<uint16_t>(len);
  return len + 4;
}

bool PresentationContextAccept::Read(Buffer& link) { return link.ReadByte(ItemType) && ReadDynamic(link); }

bool PresentationContextAccept::ReadDynamic(Buffer& link) {
  if (!link.ReadByte(Reserved1) || !link.ReadUInt16(Length) || !link.ReadByte(PresentationContextID) ||
      !link.ReadByte(Reserved2) || !link.ReadByte(Result) || !link.ReadByte(Reserved4) ||
      !link.ReadByte(TrnSyntax.ItemType) || !TrnSyntax.ReadDynamic(link))
    return false;
  if (DebugLevel > 1) {
    WriteLog("INFO, PresentationContextAccept::Read");
    WriteLog("ItemType: " + Num(ItemType));
    WriteLog("Reserved1: " + Num(Reserved1));
    WriteLog("Length: " + Num(Length));
    WriteLog("PresentationContextID: " + Num(PresentationContextID));
    WriteLog("Reserved2: " + Num(Reserved2));
    WriteLog("Result: " + Num(Result));
    WriteLog("Reserved4: " + Num(Reserved4));
    WriteLog("AbsSyntax: " + AbsSyntax.UID);
    WriteLog("TrnSyntax: " + TrnSyntax.UID);
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// UserInformation

void UserIdentity::Set(const std::string& user, const std::string& passcode) {
  UserIdentityType = 2;
  PositiveResponseRequested = 1;
  PrimaryField = user.substr(0, 0xFFFF);
  SecondaryField = passcode.substr(0, 0xFFFF);
  Length = static_cast<uint16_t>(6 + PrimaryField.size() + SecondaryField.size());
}

uint32_t UserInformation::Size() {
  if (Length == 0) {
    uint32_t len = MaxSub.Size();
    Info("INFO, MaxSubLength::Size, Length=" + Num(len) + ", MaxSubLength.MaximumLength=" + Num(MaxSub.MaximumLength));
    len += ImpClass.Size();
    Info("INFO, ImpClass::Size, Length=" + Num(ImpClass.Size()) + ", \"" + ImpClass.UID + "\"");
    len += ImpVersion.Size();
    Info("INFO, ImpVersion::Size, Length=" + Num(ImpVersion.Size()) + ", \"" + ImpVersion.UID + "\"");
    if (!UserIdent.PrimaryField.empty()) {
      len += static_cast<uint32_t>(UserIdent.Length) + 4;
      Info("INFO, UserIdent::Size, Length=" + Num(UserIdent.Length + 4));
    }
    if (!UserIdentRes.ServerResponse.empty()) {
      len += static_cast<uint32_t>(UserIdentRes.Length) + 4;
      Info("INFO, UserIdentRes::Size, Length=" + Num(UserIdentRes.Length + 4));
    }
    Length = static_cast<uint16_t>(len);
  }
  Info("INFO, UserInformation::Size, Length=" + Num(Length));
  return static_cast<uint32_t>(Length) + 4;
}

bool UserInformation::Write(Buffer& link) {
  link.WriteByte(ItemType);
  link.WriteByte(Reserved1);
  link.WriteUInt16(Length);
  bool ok = link.Flush();
  link.WriteByte(MaxSub.ItemType);
  link.WriteByte(MaxSub.Reserved1);
  link.WriteUInt16(MaxSub.Length);
  link.WriteUInt32(MaxSub.MaximumLength);
  ok = link.Flush() && ok;
  ok = ImpClass.Write(link) && ok;
  ok = ImpVersion.Write(link) && ok;
  if (!UserIdent.PrimaryField.empty()) {
    link.WriteByte(UserIdent.ItemType);
    link.WriteByte(UserIdent.Reserved1);
    link.WriteUInt16(UserIdent.Length);
    link.WriteByte(UserIdent.UserIdentityType);
    link.WriteByte(UserIdent.PositiveResponseRequested);
    link.WriteUInt16(static_cast<uint16_t>(UserIdent.PrimaryField.size()));
    link.Write(UserIdent.PrimaryField.data(), static_cast<uint32_t>(UserIdent.PrimaryField.size()));
    link.WriteUInt16(static_cast<uint16_t>(UserIdent.SecondaryField.size()));
    if (!UserIdent.SecondaryField.empty())
      link.Write(UserIdent.SecondaryField.data(), static_cast<uint32_t>(UserIdent.SecondaryField.size()));
    ok = link.Flush() && ok;
  }
  return ok;
}

namespace {

// The user information sub-items read after their type byte; each leaves its Length set.
bool ReadMaxSub(Buffer& link, MaxSubLength& m) {
  return link.ReadByte(m.Reserved1) && link.ReadUInt16(m.Length) && link.ReadUInt32(m.MaximumLength);
}

bool ReadAsyncOp(Buffer& link, AsyncOpWindow& a) {
  return link.ReadByte(a.Reserved1) && link.ReadUInt16(a.Length) && link.ReadUInt16(a.MaximumOperationsInvoked) &&
         link.ReadUInt16(a.MaximumOperationsPerformed);
}

bool ReadRole(Buffer& link, SCPSCURole& r) {
  uint16_t uidLength = 0;
  return link.ReadByte(r.Reserved1) && link.ReadUInt16(r.Length) && link.ReadUInt16(uidLength) &&
         ReadText(link, uidLength, SCPSCURole::kCapacity, r.SOPClassUID, "SCPSCURole::ReadDynamic") &&
         link.ReadByte(r.SCURole) && link.ReadByte(r.SCPRole);
}

bool ReadUserIdent(Buffer& link, UserIdentity& u) {
  uint16_t primary = 0, secondary = 0;
  return link.ReadByte(u.Reserved1) && link.ReadUInt16(u.Length) && link.ReadByte(u.UserIdentityType) &&
         link.ReadByte(u.PositiveResponseRequested) && link.ReadUInt16(primary) &&
         ReadText(link, primary, 0xFFFF, u.PrimaryField, "UserIdent") && link.ReadUInt16(secondary) &&
         ReadText(link, secondary, 0xFFFF, u.SecondaryField, "UserIdent");
}

bool ReadUserIdentRes(Buffer& link, UserIdentityResponse& u) {
  uint16_t responseLength = 0;
  return link.ReadByte(u.Reserved1) && link.ReadUInt16(u.Length) && link.ReadUInt16(responseLength) &&
         ReadText(link, responseLength, 0xFFFF, u.ServerResponse, "UserIdentRes");
}

}  // namespace

bool UserInformation::ReadDynamic(Buffer& link) {
  if (!link.ReadByte(Reserved1) || !link.ReadUInt16(Length)) return false;
  long long remaining = Length;
  Info("INFO, UserInformation::ReadDynamic, Count=" + Num(remaining));
  // A sub-item of a fixed layout: its type kept, its fields read, its length and 4 header bytes
  // taken from what is left.
  auto sub = [&](auto& item, auto read, uint8_t type) {
    item.ItemType = type;
    if (!read(link, item)) return false;
    remaining -= static_cast<long long>(item.Length) + 4;
    return true;
  };
  while (remaining > 0) {
    uint8_t type = 0;
    if (!link.ReadByte(type)) return false;
    switch (type) {
      case 0x51:
        if (!sub(MaxSub, ReadMaxSub, type)) return false;
        Info("INFO, MaxSubLength::ReadDynamic, Count=" + Num(remaining) +
             ", MaxSubLength.MaximumLength=" + Num(MaxSub.MaximumLength));
        break;
      case 0x52:
      case 0x55: {
        UIDitem& uid = type == 0x52 ? ImpClass : ImpVersion;
        uid.ItemType = type;
        if (!uid.ReadDynamic(link)) return false;
        remaining -= uid.Size();
        Info(std::string(type == 0x52 ? "INFO, ImpClass" : "INFO, ImpVersion") + "::ReadDynamic, Count=" +
             Num(remaining) + ", \"" + uid.UID + "\"");
        break;
      }
      case 0x53:
        if (!sub(AsyncOp, ReadAsyncOp, type)) return false;
        Info("INFO, AsyncOpWindow::ReadDynamic, Count=" + Num(remaining));
        break;
      case 0x54:
        if (!sub(Role, ReadRole, type)) return false;
        Info("INFO, SCPSCURole::ReadDynamic, Count=" + Num(remaining));
        break;
      case 0x58:
        if (!sub(UserIdent, ReadUserIdent, type)) return false;
        Info("INFO, UserIdent::ReadDynamic, Count=" + Num(remaining));
        break;
      case 0x59:
        if (!sub(UserIdentRes, ReadUserIdentRes, type)) return false;
        Info("INFO, UserIdentRes::ReadDynamic, Count=" + Num(remaining) + ", " + UserIdentRes.ServerResponse);
        break;
      default:
        WriteLog("WARNING, UserInformation::Read Unknown Packet");
        if (!link.Kill(static_cast<uint32_t>(remaining - 1))) return false;
        remaining = -1;
        break;
    }
  }
  if (remaining != 0) {
    WriteLog("WARNING, UserInformation::Read Count=" + Num(remaining));
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// A-ASSOCIATE-RQ / -AC

void AAssociateHeader::SetCalledApTitle(const std::string& title) {
  std::memset(CalledApTitle, 0, sizeof CalledApTitle);
  std::memcpy(CalledApTitle, title.data(), title.size() < 16 ? title.size() : 16);
}

void AAssociateHeader::SetCallingApTitle(const std::string& title) {
  std::memset(CallingApTitle, 0, sizeof CallingApTitle);
  std::memcpy(CallingApTitle, title.data(), title.size() < 16 ? title.size() : 16);
}

bool AAssociateHeader::ReadHeader(Buffer& link) {
  bool ok = link.ReadByte(Reserved1) && link.ReadUInt32(Length) && link.ReadUInt16(ProtocolVersion) &&
            link.ReadUInt16(Reserved2) && link.Read(CalledApTitle, 16) && link.Read(CallingApTitle, 16) &&
            link.Read(Reserved3, 32);
  CalledApTitle[16] = 0;
  CallingApTitle[16] = 0;
  return ok;
}

void AAssociateHeader::DumpHeader(const char* heading) const {
  WriteLog(heading);
  WriteLog("ItemType: " + Num(ItemType));
  WriteLog("Reserved1: " + Num(Reserved1));
  WriteLog("Length: " + Num(Length));
  WriteLog("ProtocolVersion: " + Num(ProtocolVersion));
  WriteLog("Reserved2: " + Num(Reserved2));
  WriteLog(std::string("CalledApTitle: ") + CalledApTitle);
  WriteLog(std::string("CallingApTitle: ") + CallingApTitle);
  std::string reserved(reinterpret_cast<const char*>(Reserved3), 32);
  size_t nul = reserved.find('\0');
  WriteLog("Reserved3: " + (nul == std::string::npos ? reserved : reserved.substr(0, nul)));
}

AAssociateRQ::~AAssociateRQ() = default;

uint32_t AAssociateRQ::Size() {
  uint32_t len = 68 + AppContext.Size();
  for (auto& pc : PresContexts) len += pc->Size();
  len += UserInfo.Size();
  Length = len;
  return Length + 6;
}

bool AAssociateRQ::Write(Buffer& link) {
  Size();
  link.WriteByte(ItemType);
  link.WriteByte(Reserved1);
  link.WriteUInt32(Length);
  link.WriteUInt16(ProtocolVersion);
  link.WriteUInt16(Reserved2);
  link.Write(CalledApTitle, 16);
  link.Write(CallingApTitle, 16);
  link.Write(Reserved3, 32);
  if (DebugLevel > 1) DumpHeader("INFO, AAssociateRQ::Write");
  if (!link.Flush()) {
    WriteLog("ERROR, AAssociateRQ::Write Link.Flush()");
    return false;
  }
  if (!AppContext.Write(link)) {
    WriteLog("ERROR, AAssociateRQ::Write AppContext.Write()");
    return false;
  }
  bool ok = true;
  for (auto& pc : PresContexts) ok = pc->Write(link) && ok;
  ok = UserInfo.Write(link) && ok;
  // A link that failed after the first items is reported too, not only at the header.
  if (!ok) WriteLog("ERROR, AAssociateRQ::Write Link.Flush()");
  return ok;
}

bool AAssociateHeader::ReadItems(Buffer& link, uint8_t contextType, const ContextReader& readContext,
                                 long long& remaining) {
  remaining = static_cast<long long>(Length) - 68;
  while (remaining > 0) {
    uint8_t type = 0;
    if (!link.ReadByte(type)) return false;
    if (type == 0x10) {
      AppContext.ItemType = type;
      if (!AppContext.ReadDynamic(link)) return false;
      remaining -= AppContext.Size();
    } else if (type == contextType) {
      if (!readContext(link, type, remaining)) return false;
    } else if (type == 0x50) {
      bool ok = UserInfo.ReadDynamic(link);
      if (!ok && !link.GetSocket().IsConnected()) return false;
      remaining -= static_cast<long long>(UserInfo.Length) + 4;
    } else {
      return true;  // an unknown item: remaining stays above 0
    }
  }
  return true;
}

bool AAssociateRQ::ReadDynamic(Buffer& link) {
  if (!ReadHeader(link)) return false;
  if (DebugLevel > 1) DumpHeader("INFO, AAssociateRQ::Read");
  long long remaining = 0;
  const bool read = ReadItems(link, 0x20, [this](Buffer& l, uint8_t type, long long& left) {
    auto pc = std::make_unique<PresentationContext>();
    pc->ItemType = type;
    bool ok = pc->ReadDynamic(l);
    if (!ok && !l.GetSocket().IsConnected()) return false;
    left -= pc->Size();
    PresContexts.push_back(std::move(pc));
    return true;
  }, remaining);
  if (!read) return false;
  if (remaining > 0) {
    WriteLog("WARNING, AAssociateRQ::Read Unknown Packet");
    remaining = -1;
  }
  if (remaining != 0) {
    WriteLog("WARNING, AAssociateRQ::Read Count=" + Num(remaining));
    return false;
  }
  return true;
}

AAssociateAC::~AAssociateAC() = default;

bool AAssociateAC::ReadDynamic(Buffer& link) {
  if (!ReadHeader(link)) return false;
  if (DebugLevel >= 3) DumpHeader("INFO, AAssociateAC::Read");
  long long remaining = 0;
  const bool read = ReadItems(link, 0x21, [this](Buffer& l, uint8_t type, long long& left) {
    auto pca = std::make_unique<PresentationContextAccept>();
    pca->ItemType = type;
    if (!pca->ReadDynamic(l)) return false;
    left -= pca->Size();
    PresContextAccepts.push_back(std::move(pca));
    return true;
  }, remaining);
  if (!read) return false;
  // An unknown item: the rest of the PDU is read past, so the link stays in step.
  if (remaining > 0) link.Kill(static_cast<uint32_t>(remaining - 1));
  return remaining == 0;
}

// ---------------------------------------------------------------------------------------------
// A-ASSOCIATE-RJ, A-RELEASE-RQ/RP, A-ABORT

bool AAssociateRJ::ReadDynamic(Buffer& link) {
  return link.ReadByte(Reserved1) && link.ReadUInt32(Length) && link.ReadByte(Reserved2) && link.ReadByte(Result) &&
         link.ReadByte(Source) && link.ReadByte(Reason);
}

std::string RejectionText(uint8_t result, uint8_t source, uint8_t reason) {
  std::string text = result == 2 ? "rejected for now" : "rejected permanently";
  const char* why = nullptr;
  switch (source) {
    case 1:
      text += " by the called application";
      why = reason == 2   ? "application context name not supported"
            : reason == 3 ? "calling AE title not recognized"
            : reason == 7 ? "called AE title not recognized"
                          : "no reason given";
      break;
    case 2:
      text += " by its DICOM provider";
      why = reason == 2 ? "protocol version not supported" : "no reason given";
      break;
    case 3:
      text += " by its DICOM provider";
      why = reason == 1 ? "temporary congestion" : reason == 2 ? "local limit exceeded" : "no reason given";
      break;
    default: why = "no reason given"; break;
  }
  return text + ": " + why;
}

std::string AbortText(uint8_t source, uint8_t reason) {
  if (source != 2) return "aborted by the called application";
  static const char* const kReasons[] = {"reason not specified",  "unrecognized PDU",
                                         "unexpected PDU",        "reason not specified",
                                         "unrecognized PDU parameter", "unexpected PDU parameter",
                                         "invalid PDU parameter value"};
  return std::string("aborted by its DICOM provider: ") + (reason < 7 ? kReasons[reason] : kReasons[0]);
}

AReleasePDU::~AReleasePDU() = default;

bool AReleasePDU::Write(Buffer& link) {
  Length = 4;
  link.WriteByte(ItemType);
  link.WriteByte(Reserved1);
  link.WriteUInt32(Length);
  link.WriteUInt32(Reserved2);
  return link.Flush();
}

bool AReleasePDU::Read(Buffer& link) { return link.ReadByte(ItemType) && ReadDynamic(link); }

bool AReleasePDU::ReadDynamic(Buffer& link) {
  return link.ReadByte(Reserved1) && link.ReadUInt32(Length) && link.ReadUInt32(Reserved2);
}

AAbortRQ::~AAbortRQ() = default;

bool AAbortRQ::Write(Buffer& link) {
  Length = 4;
  link.WriteByte(ItemType);
  link.WriteByte(Reserved1);
  link.WriteUInt32(Length);
  link.WriteByte(Reserved2);
  link.WriteByte(Reserved3);
  link.WriteByte(Source);
  link.WriteByte(Reason);
  return link.Flush();
}

bool AAbortRQ::ReadDynamic(Buffer& link) {
  return link.ReadByte(Reserved1) && link.ReadUInt32(Length) && link.ReadByte(Reserved2) && link.ReadByte(Reserved3) &&
         link.ReadByte(Source) && link.ReadByte(Reason);
}
