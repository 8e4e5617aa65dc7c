#include "convert/batch.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <climits>
#include <ctime>
#include <cstdio>
#include <map>
#include <sstream>

#include "core/config.h"
#include "core/dcmobj.h"
#include "core/log.h"
#include "core/strutil.h"

int32_t InstanceCounter = 0;

namespace {

// Highest instance number handed out under each base UID in this run.
std::map<std::string, int32_t>& HighestByBase() {
  static std::map<std::string, int32_t> m;
  return m;
}

// The claims file of the installation, shared by every process that builds objects (the window
// program, scrivara-cli runs): one line "<key> <highest number> <time taken>" per key (a base UID,
// or the minute of generated accession numbers), lines older than a day dropped. Under its lock,
// takes the number after the larger of `after` and the file's highest for the key and records it.
// False (logged) when the file can't be used.
bool ClaimOnFile(const std::string& path, const std::string& baseUID, int32_t after, int32_t& claimed) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    WriteLog("ERROR, NextInstanceNumber, cannot open " + path);
    return false;
  }
  if (::flock(fd, LOCK_EX) != 0) {
    ::close(fd);
    WriteLog("ERROR, NextInstanceNumber, cannot lock " + path);
    return false;
  }
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  const long long now = static_cast<long long>(std::time(nullptr));
  std::istringstream in(text);
  std::ostringstream out;
  std::string line;
  long long highest = after;
  while (std::getline(in, line)) {
    std::istringstream l(line);
    std::string base;
    long long number = 0, when = 0;
    if (!(l >> base >> number >> when) || number < -1 || number >= INT32_MAX) continue;
    if (base == baseUID) {
      if (number > highest) highest = number;
      continue;
    }
    if (now - when < 86400) out << base << ' ' << number << ' ' << when << '\n';
  }
  if (highest >= INT32_MAX) highest = INT32_MAX - 1;
  out << baseUID << ' ' << highest + 1 << ' ' << now << '\n';
  const std::string updated = out.str();
  const bool ok = ::lseek(fd, 0, SEEK_SET) == 0 && ::ftruncate(fd, 0) == 0 &&
                  ::write(fd, updated.data(), updated.size()) == static_cast<ssize_t>(updated.size());
  ::close(fd);  // releases the lock
  if (!ok) {
    WriteLog("ERROR, NextInstanceNumber, cannot write " + path);
    return false;
  }
  claimed = static_cast<int32_t>(highest + 1);
  return true;
}

std::string FormatNow(const char* format) {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[16];
  std::strftime(buf, sizeof buf, format, &tm);
  return buf;
}

}  // namespace

bool StartConversionBatch(StudyInfo& study, const std::string& tempFolder, ConversionBatch& batch) {
  const std::string base = CreateUID(InstallationId(), study.PatientID, study.AccessionNumber, study.StudyDate,
                                     study.StudyTime, kUIDApplicationNumber);
  if (base.empty()) {
    WriteLog("ERROR, StartConversionBatch, Patient ID is empty, no UID can be made");
    return false;
  }
  ConversionBatch b;
  b.BaseUID = base;
  if (study.StudyInstanceUID.empty()) study.StudyInstanceUID = base;
  if (DebugLevel > 1) WriteLog("INFO, Study Instance UID = " + study.StudyInstanceUID);
  b.SeriesUID = base + ".2";
  b.SeriesNumber = 0;
  b.TempFolder = tempFolder;
  if (!b.TempFolder.empty() && b.TempFolder.back() != '/') b.TempFolder += '/';
  batch = std::move(b);
  return true;
}

int32_t NextInstanceNumber(const std::string& baseUID, int32_t& counter) {
  int32_t& highest = HighestByBase()[baseUID];
  if (counter < highest) counter = highest;
  int32_t claimed = 0;
  if (!TempFolder().empty() && ClaimOnFile(TempFolder() + kInstanceClaimsFile, baseUID, counter, claimed))
    counter = claimed;
  else
    ++counter;
  highest = counter;
  return counter;
}

std::string NextAccessionNumber(const std::string& minute, int& counter) {
  int32_t claimed = 0;
  if (TempFolder().empty() || !ClaimOnFile(TempFolder() + kInstanceClaimsFile, "accession-" + minute, counter - 1, claimed))
    claimed = counter;
  counter = claimed >= 9999 ? 0 : claimed + 1;
  return minute + std::to_string(claimed % 10000);
}

std::string BatchFileName(const ConversionBatch& batch) { return batch.TempFolder + batch.SOPInstanceUID + ".dcm"; }

void DeleteBatchFiles(ConversionBatch& batch) {
  for (const auto& f : batch.TempFiles) std::remove(f.c_str());
  batch.TempFiles.clear();
}

void AddCharacterSet(DcmObj& obj, const StudyInfo& study, const char* ifNone) {
  const std::string set = study.SpecificCharacterSet.empty() ? std::string(ifNone) : study.SpecificCharacterSet;
  if (!set.empty()) obj.AddText(0x0008, 0x0005, set);
}

std::string NowDA() { return FormatNow("%Y%m%d"); }
std::string NowTM() { return FormatNow("%H%M%S"); }

void AddStudySeriesElements(DcmObj& obj, const StudyInfo& study, const ConversionBatch& batch,
                            const std::string& modality, int32_t instanceNumber) {
  obj.AddText(0x0008, 0x0050, study.AccessionNumber);
  obj.AddText(0x0008, 0x0060, modality);
  obj.AddText(0x0008, 0x0064, "WSD");
  obj.AddText(0x0008, 0x0080, study.InstitutionName);
  obj.AddText(0x0008, 0x0090, study.ReferringPhysicianName);
  obj.AddText(0x0008, 0x1030, study.StudyDescription);
  obj.AddText(0x0010, 0x0010, study.PatientName);
  obj.AddText(0x0010, 0x0020, study.PatientID);
  obj.AddText(0x0010, 0x0030, study.PatientBirthDate);
  obj.AddText(0x0010, 0x0040, study.PatientSex);
  obj.AddText(0x0020, 0x000D, study.StudyInstanceUID);
  obj.AddText(0x0020, 0x000E, batch.SeriesUID);
  obj.AddText(0x0020, 0x0010, study.StudyID);
  obj.AddText(0x0020, 0x0011, std::to_string(batch.SeriesNumber));
  obj.AddText(0x0020, 0x0013, std::to_string(instanceNumber));
}
