#pragma once
// DICOMweb over HttpClient: STOW-RS (a multipart/related request of Part 10 files, streamed from
// the files) and the DICOM JSON model of QIDO-RS answers.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "net/http.h"

class DcmObj;

// One file of a STOW-RS request, with the SOP Instance UID its answer names it by.
struct StowFile {
  std::string path;
  std::string sopInstanceUID;
};

// How one file of the request went.
struct StowOutcome {
  bool confirmed = false;  // the answer names it (in the Referenced or the Failed SOP Sequence)
  bool stored = false;     // named in the Referenced SOP Sequence
  int status = 0;          // its Warning Reason (stored) or Failure Reason (not), 0 when none
  std::string problem;     // not confirmed: why, in words (the HTTP status, the failure)
};

// Sends the files in one STOW-RS request to the service's "studies" resource; one outcome per
// file, in order. A file that cannot be opened fails the request before it starts.
std::vector<StowOutcome> StowFiles(HttpClient& client, const std::vector<StowFile>& files);

// The most bytes one STOW-RS request carries (DicomWebSettings::instancesPerRequest bounds the
// files); a send is split into such groups.
inline constexpr size_t kStowMaxBytes = size_t(512) << 20;

// The data sets of a DICOM JSON answer (an array of objects, or one object): each attribute of a
// text VR (strings, IS and DS numbers, person names) becomes an element (values joined by "\", a
// person name's groups by "="); sequences, binary values and binary numbers are left out. Declares
// ISO_IR 192 (JSON is UTF-8).
// False, with why, for text that is not JSON of that shape or is nested deeper than 32 levels.
bool ReadDicomJson(const std::string& text, std::vector<std::unique_ptr<DcmObj>>& objects, std::string& why);

// The connection test of a DICOMweb service: a QIDO-RS request for one study. True for a 2xx
// answer; `summary` is "HTTP 200 OK", or the status or problem that failed it.
bool TestDicomWeb(const AssociationTarget& target, std::string& summary);

// How messages name a server: "AE@host:port", or the base URL of a DICOMweb service.
std::string TargetName(const AssociationTarget& target);
