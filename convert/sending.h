#pragma once
// Sending a conversion batch: every object of the batch to the PACS through the batch store, the
// result of each kept for the form's list and the result message.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/dimse.h"

// Read time-out of every association that sends objects (the forms, the outbox, scrivara-cli
// store), in seconds.
inline constexpr uint32_t kSendTimeout = 60;

// One object of a batch as the conversion forms list it.
struct BatchObject {
  std::string path;      // its Part 10 file in temp/
  std::string document;  // what it was made from, as the list names it (a PDF's file name)
  uint64_t bytes = 0;    // size of that document
  int pages = 0;         // its page count; 0 when unknown
  std::string warning;   // what the operator should know of the document (a PDF no reader can open)
  enum class State { NotSent, Accepted, Refused, NotRead, NoAssociation } state = State::NotSent;
  int status = 0;        // the DIMSE status of a refusal, or the local failure code
  std::string sentAs;    // the transfer syntax it went in, once it went
  std::string problem;   // not read, or no association: why, in words
};

// "not sent yet", "accepted", "refused, status A700H", "not read", "not sent: no association"; the
// last two followed by the reason in brackets when it is known.
std::string StateText(const BatchObject& object);

// A transfer syntax by its name ("JPEG Baseline (Process 1)"), or its UID when it has none.
std::string SyntaxName(const std::string& uid);

// The details of a result message: one line "document: state" per object, followed by the
// syntax it went in, in brackets, once it went.
std::string ResultDetails(const std::vector<BatchObject>& objects);

// The objects the PACS has not accepted (not sent, refused or not read).
size_t NotAccepted(const std::vector<BatchObject>& objects);

// The one send loop of every road: sends every object of the batch, in order, to target; each
// object's state is set from its exchange and `afterEach` (may be empty) gets its index and the
// object after each file, on the sending thread. Logs "ERROR, Can't open association
// with: " + the called AE title, "ERROR, Couldn't read file: " + path and "ERROR, WriteStoreRQ" as a
// failure happens. True when every object was accepted.
using SentObjectSink = std::function<void(size_t index, const BatchObject& object)>;
bool SendBatch(std::vector<BatchObject>& objects, const AssociationTarget& target, const SentObjectSink& afterEach);
