#pragma once
// What the operator typed for a search, and the peer asked.
#include <functional>
#include <string>

// The main window's search fields, as typed (UTF-8).
struct QueryFields {
  std::string PatientName;       // "Patient Name" edit box
  std::string PatientID;         // "Patient ID" edit box
  std::string StudyDescription;  // "Study Description" edit box
  std::string StudyDate;         // the study date picker's day as "yyyymmdd"
  int ModalityIndex = -1;        // selected entry of the modality list, -1 for none ("ALL")
  // Keys the window does not have (the command line's --worklist and --study): an exact accession
  // number or Study Instance UID; a study UID makes the study search match any date.
  std::string AccessionNumber;
  std::string StudyInstanceUID;
};

// The main window's modality list, in its order.
inline constexpr const char* kModalityList[] = {"US", "CR", "CT", "MR", "DX", "XA", "ES",
                                                "OT", "BMD", "SC", "PX", "NM", "MG"};
inline constexpr int kModalityCount = int(sizeof kModalityList / sizeof kModalityList[0]);

// The modality value of an entry of the main window's modality list: "US", "CR", "CT", "MR",
// "DX", "XA", "ES", "OT", "BMD", "SC", "PX", "NM", "MG" for the entries 0 to 12; "" for no
// selection or any other index, which sends no modality key.
std::string QueryModality(int index);
// The entry of the modality list that holds `modality` (exact, as the list shows it), or -1.
int QueryModalityIndex(const std::string& modality);

// Read time-out of the query associations, in seconds.
constexpr int kQueryTimeout = 30;

// Hook run after each result row so that pending window events are processed.
using PendingEventsHook = std::function<void()>;

// How a search ended, for callers that must tell "no matches" from a failure.
struct SearchOutcome {
  bool connected = false;  // the association was accepted
  std::string problem;     // why it was not, in words
  bool sent = false;       // the C-FIND-RQ went out
  // The last status read: 0 for success, -1 when no readable response came (time-out, closed
  // link, garbage), otherwise the final DIMSE status; the search then handed over one row built
  // from the response's (normally empty) identifier as its last row.
  int status = -1;
};
