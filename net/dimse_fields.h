#pragma once
// DIMSE command set fields (group 0000) and values, PS3.7 Annex E, by name.
#include <cstdint>

namespace dimse {

// Elements of the command set.
inline constexpr uint16_t kCommandGroupLength = 0x0000;
inline constexpr uint16_t kAffectedSOPClassUID = 0x0002;
inline constexpr uint16_t kCommandField = 0x0100;
inline constexpr uint16_t kMessageID = 0x0110;
inline constexpr uint16_t kMessageIDBeingRespondedTo = 0x0120;
inline constexpr uint16_t kPriority = 0x0700;
inline constexpr uint16_t kCommandDataSetType = 0x0800;
inline constexpr uint16_t kStatus = 0x0900;
inline constexpr uint16_t kAffectedSOPInstanceUID = 0x1000;

// Command Field values.
inline constexpr uint16_t kCStoreRQ = 0x0001;
inline constexpr uint16_t kCStoreRSP = 0x8001;
inline constexpr uint16_t kCFindRQ = 0x0020;
inline constexpr uint16_t kCFindRSP = 0x8020;
inline constexpr uint16_t kCEchoRQ = 0x0030;
inline constexpr uint16_t kCEchoRSP = 0x8030;

// Command Data Set Type values.
inline constexpr uint16_t kNoDataSet = 0x0101;
inline constexpr uint16_t kDataSetPresent = 0x0102;

// Priority.
inline constexpr uint16_t kPriorityMedium = 0x0000;

// Status values.
inline constexpr int kSuccess = 0x0000;
inline constexpr int kPending = 0xFF00;
inline constexpr int kPendingWithWarning = 0xFF01;  // optional keys not supported
inline constexpr bool IsPending(int status) { return status == kPending || status == kPendingWithWarning; }
// A C-STORE warning (Bxxx: coercion of data elements B000H, elements discarded B007H, data set does
// not match the SOP class B006H, ...): the peer stored the object and says what it changed.
inline constexpr bool IsWarning(int status) { return status >= 0 && (status & 0xF000) == 0xB000; }

}  // namespace dimse
