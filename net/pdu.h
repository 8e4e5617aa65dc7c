#pragma once
// Association-control PDUs of the DICOM upper layer and their items, as the program writes and
// parses them. PDU fields are big endian: the link Buffer carries byte order 2 both ways.
//
// Write      writes the whole PDU or item to a link buffer (and flushes it);
// Read       reads it including its leading type byte;
// ReadDynamic reads the rest after the caller consumed the type byte;
// Size       the item's total size on the wire, computing its length field where stated.
//
// Readers return false when the link fails; parse warnings are logged as they occur.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/socket.h"

// Process-wide counter numbering presentation contexts and Message IDs (1 at start).
void ResetIDCounter();
// Next odd value (an even counter is incremented first); the counter moves past it.
uint8_t NextPresentationContextID();
// The counter's value; the counter moves on by one.
uint8_t AdvanceIDCounter();
// As NextPresentationContextID, as a 16-bit value.
uint16_t NextMessageID();

// Application context (10H), abstract syntax (30H), transfer syntax (40H), implementation class
// UID (52H) and implementation version name (55H).
class UIDitem {
 public:
  static constexpr size_t kCapacity = 65;

  explicit UIDitem(uint8_t type = 0x40, const std::string& text = "");
  void Set(const std::string& text);
  const std::string& Text() const { return UID; }
  uint32_t Size() const { return static_cast<uint32_t>(Length) + 4; }
  bool Write(Buffer& link);
  bool Read(Buffer& link);
  // Reads reserved, length and the text; a text longer than kCapacity is consumed whole and cut.
  bool ReadDynamic(Buffer& link);

  uint8_t ItemType;
  uint8_t Reserved1 = 0;
  uint16_t Length = 0;
  std::string UID;
};

// Presentation context item (20H) proposed by the program.
class PresentationContext {
 public:
  PresentationContext();  // takes the next odd ID of the shared counter
  explicit PresentationContext(const std::string& abstractSyntax);
  void SetAbstractSyntax(const std::string& uid);
  void AddTransferSyntax(const std::string& uid);
  uint32_t Size();
  bool Write(Buffer& link);
  bool Read(Buffer& link);
  bool ReadDynamic(Buffer& link);

  uint8_t ItemType = 0x20;
  uint8_t Reserved1 = 0;
  uint16_t Length = 0;
  uint8_t PresentationContextID;
  uint8_t Reserved2 = 0, Reserved3 = 0, Reserved4 = 0;
  UIDitem AbsSyntax{0x30};
  std::vector<UIDitem> TrnSyntax;
};

// Presentation context item of the A-ASSOCIATE-AC (21H).
class PresentationContextAccept {
 public:
  PresentationContextAccept();  // advances the shared counter and keeps its previous value as ID
  uint32_t Size();
  bool Read(Buffer& link);
  bool ReadDynamic(Buffer& link);

  uint8_t ItemType = 0x21;
  uint8_t Reserved1 = 0;
  uint16_t Length = 0;
  uint8_t PresentationContextID;
  uint8_t Reserved2 = 0;
  uint8_t Result = 2;
  uint8_t Reserved4 = 0;
  UIDitem AbsSyntax{0x30};
  UIDitem TrnSyntax{0x40};
};

struct MaxSubLength {  // 51H
  uint8_t ItemType = 0x51;
  uint8_t Reserved1 = 0;
  uint16_t Length = 4;
  uint32_t MaximumLength = 0;
  uint32_t Size() const { return static_cast<uint32_t>(Length) + 4; }
};

struct AsyncOpWindow {  // 53H, parsed only
  uint8_t ItemType = 0x53;
  uint8_t Reserved1 = 0;
  uint16_t Length = 4;
  uint16_t MaximumOperationsInvoked = 0;
  uint16_t MaximumOperationsPerformed = 0;
};

struct SCPSCURole {  // 54H, parsed only
  static constexpr size_t kCapacity = 64;
  uint8_t ItemType = 0x54;
  uint8_t Reserved1 = 0;
  uint16_t Length = 0;
  std::string SOPClassUID;
  uint8_t SCURole = 0;
  uint8_t SCPRole = 0;
};

struct UserIdentity {  // 58H
  uint8_t ItemType = 0x58;
  uint8_t Reserved1 = 0;
  uint16_t Length = 0;
  uint8_t UserIdentityType = 0;
  uint8_t PositiveResponseRequested = 0;
  std::string PrimaryField;
  std::string SecondaryField;
  // Type 2 (user name and passcode), positive response requested 1.
  void Set(const std::string& user, const std::string& passcode);
};

struct UserIdentityResponse {  // 59H, parsed only
  uint8_t ItemType = 0x59;
  uint8_t Reserved1 = 0;
  uint16_t Length = 0;
  std::string ServerResponse;
};

// User information item (50H) with one record per sub-item kind.
class UserInformation {
 public:
  void SetImplementationClass(const std::string& uid) { ImpClass.Set(uid); }
  void SetImplementationVersion(const std::string& name) { ImpVersion.Set(name); }
  void SetUserIdentity(const std::string& user, const std::string& passcode) { UserIdent.Set(user, passcode); }
  void SetMax(uint32_t maximumLength) { MaxSub.MaximumLength = maximumLength; }
  uint32_t Size();
  bool Write(Buffer& link);
  bool ReadDynamic(Buffer& link);

  uint8_t ItemType = 0x50;
  uint8_t Reserved1 = 0;
  uint16_t Length = 0;
  MaxSubLength MaxSub;
  AsyncOpWindow AsyncOp;
  SCPSCURole Role;
  UIDitem ImpClass{0x52};
  UIDitem ImpVersion{0x55};
  UserIdentity UserIdent;
  UserIdentityResponse UserIdentRes;
};

// Fields shared by A-ASSOCIATE-RQ and A-ASSOCIATE-AC.
struct AAssociateHeader {
  uint8_t ItemType;
  uint8_t Reserved1 = 0;
  uint32_t Length = 0;
  uint16_t ProtocolVersion = 1;
  uint16_t Reserved2 = 0;
  char CalledApTitle[17] = {};
  char CallingApTitle[17] = {};
  unsigned char Reserved3[32] = {};
  UIDitem AppContext{0x10, "1.2.840.10008.3.1.1.1"};
  UserInformation UserInfo;

  // Each title is copied as given (the caller supplies 16 characters); at most 16 are kept.
  void SetCalledApTitle(const std::string& title);
  void SetCallingApTitle(const std::string& title);
  void SetApplicationContext(const std::string& uid) { AppContext.Set(uid); }

 protected:
  explicit AAssociateHeader(uint8_t type) : ItemType(type) {}
  bool ReadHeader(Buffer& link);
  void DumpHeader(const char* heading) const;
  // Reads the items up to the PDU's length: the application context, the user information and,
  // through readContext (type byte read; it lowers remaining by the item's size), the presentation
  // context items of contextType. False when an item cannot be read; after an unknown item it stops
  // with remaining above 0, otherwise remaining is 0 when the items fill the PDU exactly.
  using ContextReader = std::function<bool(Buffer&, uint8_t type, long long& remaining)>;
  bool ReadItems(Buffer& link, uint8_t contextType, const ContextReader& readContext, long long& remaining);
};

class AAssociateRQ : public AAssociateHeader {
 public:
  AAssociateRQ() : AAssociateHeader(0x01) {}
  virtual ~AAssociateRQ();
  void AddPresentationContext(std::unique_ptr<PresentationContext> pc) { PresContexts.push_back(std::move(pc)); }
  uint32_t Size();
  bool Write(Buffer& link);
  bool ReadDynamic(Buffer& link);

  std::vector<std::unique_ptr<PresentationContext>> PresContexts;
};

class AAssociateAC : public AAssociateHeader {
 public:
  AAssociateAC() : AAssociateHeader(0x02) {}
  virtual ~AAssociateAC();
  // True when the items exactly fill the PDU length.
  bool ReadDynamic(Buffer& link);

  std::vector<std::unique_ptr<PresentationContextAccept>> PresContextAccepts;
};

class AAssociateRJ {
 public:
  bool ReadDynamic(Buffer& link);

  uint8_t ItemType = 0x03;
  uint8_t Reserved1 = 0;
  uint32_t Length = 4;
  uint8_t Reserved2 = 0;
  uint8_t Result = 1;
  uint8_t Source = 3;
  uint8_t Reason = 1;
};

// An A-ASSOCIATE-RJ in words: "rejected permanently by the called application: called AE title not
// recognized".
std::string RejectionText(uint8_t result, uint8_t source, uint8_t reason);
// An A-ABORT in words: "aborted by the called application" or "aborted by its DICOM provider:
// unexpected PDU".
std::string AbortText(uint8_t source, uint8_t reason);

// A-RELEASE-RQ and -RP share one layout: type, reserved byte, length 4, four reserved bytes.
class AReleasePDU {
 public:
  virtual ~AReleasePDU();
  bool Write(Buffer& link);
  // Reads the type byte without checking it, then the body.
  bool Read(Buffer& link);
  bool ReadDynamic(Buffer& link);

  uint8_t ItemType;
  uint8_t Reserved1 = 0;
  uint32_t Length = 4;
  uint32_t Reserved2 = 0;

 protected:
  explicit AReleasePDU(uint8_t type) : ItemType(type) {}
};

class AReleaseRQ : public AReleasePDU {
 public:
  AReleaseRQ() : AReleasePDU(0x05) {}
};

class AReleaseRP : public AReleasePDU {
 public:
  AReleaseRP() : AReleasePDU(0x06) {}
};

class AAbortRQ {
 public:
  virtual ~AAbortRQ();
  // The 10 bytes 07 00 00 00 00 04 00 00 03 01.
  bool Write(Buffer& link);
  bool ReadDynamic(Buffer& link);

  uint8_t ItemType = 0x07;
  uint8_t Reserved1 = 0;
  uint32_t Length = 4;
  uint8_t Reserved2 = 0;
  uint8_t Reserved3 = 0;
  uint8_t Source = 3;
  uint8_t Reason = 1;
};
