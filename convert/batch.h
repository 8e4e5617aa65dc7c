#pragma once
// What the conversion forms share: the program-wide instance counter and one batch's UIDs and
// files. The forms (and the command-line tool) start a batch when they are shown, build objects into
// it and delete its files when they close.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "query/studyinfo.h"

// Program-wide counter of Instance Numbers, shared by every converter; 0 at start.
extern int32_t InstanceCounter;

struct ConversionBatch {
  std::string BaseUID;         // CreateUID of the current study when the batch started
  std::string SeriesUID;       // BaseUID + ".2"
  std::string SOPClassUID;     // set at each build
  std::string SOPInstanceUID;  // UID of the last object built
  int32_t SeriesNumber = 0;
  std::string TempFolder;              // folder of the object files, ending in "/"
  std::vector<std::string> TempFiles;  // every object file built in this batch, in order
};

// The application number given to CreateUID by every converter.
inline constexpr const char kUIDApplicationNumber[] = "29";

// Starts a batch the way a conversion form does when it is shown: BaseUID = CreateUID of the
// installation, Patient ID, Accession Number, Study Date and Study Time; the study takes BaseUID as
// its Study Instance UID when it has none; logs "INFO, Study Instance UID = " + that UID (when
// DebugLevel > 1); SeriesUID =
// BaseUID + ".2"; SeriesNumber 0; no files. tempFolder gets a trailing "/" when it lacks one.
// Fails (one log line, batch unchanged) when the study has no Patient ID, since no UID can be made.
bool StartConversionBatch(StudyInfo& study, const std::string& tempFolder, ConversionBatch& batch);

// Where the numbers handed out under each base UID are kept, in the temporary folder.
inline constexpr const char kInstanceClaimsFile[] = "instances";

// Adds 1 to counter and returns it: the Instance Number and last UID component of a new object
// under baseUID. A number already handed out under the same base UID (an earlier batch for the same
// patient, accession and minute, in this process or, through TempFolder() + kInstanceClaimsFile, in
// any other process of this installation: a second window program, scrivara-cli runs) is
// skipped, so two objects never share a SOP Instance UID. Without a temporary folder, or when the claims
// file can't be used (one log line), only this process's numbers are known.
int32_t NextInstanceNumber(const std::string& baseUID, int32_t& counter);

// A generated accession number for a typed-in patient: the minute ("yyMMddHHmm") + the next number
// from counter (this process's, 0 to 9999) that no program of this installation (through the
// same claims file as NextInstanceNumber) has handed out for that minute; counter moves past it.
std::string NextAccessionNumber(const std::string& minute, int& counter);

// The file of the object last built: TempFolder + its SOP Instance UID + ".dcm" (a UID holds only
// digits and dots, so the name is safe and no two objects share it).
std::string BatchFileName(const ConversionBatch& batch);

class DcmObj;
// Appends what every object of a batch says of its patient, study and series, in ascending tag
// order from Accession Number (0008,0050) to Instance Number (0020,0013): the study's elements,
// the given Modality, Conversion Type "WSD", batch.SeriesUID and SeriesNumber, and instanceNumber.
void AddStudySeriesElements(DcmObj& obj, const StudyInfo& study, const ConversionBatch& batch,
                            const std::string& modality, int32_t instanceNumber);

// Writes obj as a private DICOM file under a temporary name beside path and names it path once it
// is complete on the disk: replacing a file there, or with replace false failing when the name is
// taken. On failure nothing is left under either name and one log line names the operation.
bool SaveObjectFile(DcmObj& obj, const std::string& path, std::string_view operation, bool replace = true);

// Deletes every file of the batch and empties the list (what closing a form does).
void DeleteBatchFiles(ConversionBatch& batch);

// The local date and time now, as DA "yyyymmdd" and TM "hhnnss" (hours 00-23).
std::string NowDA();

// Specific Character Set (0008,0005) of an object of the study: the study's set, or `ifNone` when it
// has none (nothing is added when both are empty).
void AddCharacterSet(DcmObj& obj, const StudyInfo& study, const char* ifNone);
std::string NowTM();
