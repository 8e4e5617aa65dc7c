#pragma once
// Sending a list of Part 10 files with C-STORE: one association per SOP class and transfer
// syntax (OpenStoreAssociation), each object in its own syntax where the peer takes it and else
// converted as StoreSCU does, and a report after each file so that a window can show progress and
// let pending events run.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "net/dimse.h"

// How one file went.
struct StoredFile {
  size_t index = 0;        // its position in the list handed to StoreFiles
  std::string path;
  bool exchanged = false;  // the request went out and a C-STORE response came back
  // The response's DIMSE status when exchanged (0: stored; a warning status: stored with a
  // warning), or over DICOMweb the Warning or Failure Reason the answer gave it; else a local
  // failure: kFileNotRead, kNoAssociation, kRequestFailed, or the StoreSCU / CStore::ReadRSP code
  // (negative).
  int status = 0;
  std::string sentAs;      // the transfer syntax the data set went in; empty when it did not go
  std::string problem;     // kNoAssociation, kFileNotRead, kRequestFailed: why, in words
  bool stored() const { return exchanged && CStore::Stored(status); }
};

inline constexpr int kFileNotRead = -100;   // not a readable DICOM file
inline constexpr int kNoAssociation = -101; // its group's association was refused or failed
inline constexpr int kRequestFailed = -102; // DICOMweb: its request failed or the answer left it out

using StoredFileSink = std::function<void(const StoredFile&)>;

// Sends every file to the target; `done` (may be empty) runs after each file, in the order they
// are sent. Files are grouped by the SOP class and transfer syntax they hold, in the order of their
// first file; a file that changed to another class or syntax before its turn is sent afterwards
// with a group of its own. Each failure is logged. The audit trail gets, per patient, Begin
// Transferring DICOM Instances before the first file goes and DICOM Instances Transferred at the
// end (one for those stored, one for those not). Returns the number of files stored.
// When target.web is enabled the files go over DICOMweb instead: STOW-RS requests of at most
// instancesPerRequest files and kStowMaxBytes each, every file as it is (sentAs: its own syntax),
// through one connection where the server keeps it open.
size_t StoreFiles(const std::vector<std::string>& files, const AssociationTarget& target, const StoredFileSink& done);
