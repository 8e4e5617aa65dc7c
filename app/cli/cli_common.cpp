#include "app/cli/cli_common.h"

#include <algorithm>
#include <cstdio>

#include "convert/batch.h"
#include "core/charset.h"
#include "core/cp1252.h"
#include "core/config.h"
#include "core/log.h"
#include "query/studyquery.h"
#include "query/studytext.h"
#include "query/worklistquery.h"

namespace cli {

int Fail(const std::string& message) {
  std::fprintf(stderr, "scrivara-cli: %s\n", message.c_str());
  WriteLog("ERROR, scrivara-cli: " + message);
  return 1;
}

Args Parse(int argc, char** argv, int first, const std::vector<std::string>& switches) {
  Args a;
  for (int i = first; i < argc; ++i) {
    std::string s = argv[i];
    if (s == "--help" || s == "-h") {
      a.help = true;
    } else if (s.rfind("--", 0) == 0 && s.size() > 2) {
      std::string name = s.substr(2);
      if (std::find(switches.begin(), switches.end(), name) != switches.end()) {
        a.opt[name].assign(1, '1');
      } else if (i + 1 < argc) {
        a.opt[name] = argv[++i];
      } else {
        a.error = "option " + s + " needs a value";
      }
    } else {
      a.pos.push_back(s);
    }
  }
  return a;
}

std::string Opt(const Args& a, const std::string& name, const std::string& def) {
  auto it = a.opt.find(name);
  return it == a.opt.end() ? def : it->second;
}

int Usage(const Args& a, const char* text) {
  std::fputs(text, a.help ? stdout : stderr);
  return a.help ? 0 : 2;
}

std::string ArgText(const Args& a, const std::string& name, const std::string& def) {
  const std::string v = Opt(a, name, def);
  return IsValidUtf8(v) ? v : Cp1252ToUtf8(v);
}

namespace {

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

}  // namespace

bool ValidDate(const std::string& d) {
  if (d.size() != 8) return false;
  for (char c : d)
    if (c < '0' || c > '9') return false;
  const int y = std::stoi(d.substr(0, 4)), m = std::stoi(d.substr(4, 2)), day = std::stoi(d.substr(6, 2));
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || m < 1 || m > 12 || day < 1) return false;
  return day <= kDays[m - 1] + (m == 2 && IsLeap(y) ? 1 : 0);
}

namespace {

// The one row a search for an exact key finds; false with a message otherwise.
template <class Record, class Search>
bool OnlyMatch(const Args& a, bool worklist, const QueryFields& f, Search search, const std::string& what,
               Record& found, std::string& error) {
  const AssociationTarget target = TargetFromArgs(a, worklist, kQueryTimeout);
  std::vector<Record> rows;
  SearchOutcome end;
  search(f, target, [&rows](const Record& r) { rows.push_back(r); }, {}, &end);
  const std::string peer = target.calledAE + " at " + target.host + ":" + target.port;
  if (!end.connected) {
    error = "cannot open an association with " + peer;
  } else if (end.status != 0) {
    error = "the search on " + peer + " failed";
  } else if (rows.size() != 1) {
    error = (rows.empty() ? std::string("no ") : std::to_string(rows.size()) + " ") + what + " on " + peer;
  } else {
    found = rows.front();
    return true;
  }
  return false;
}

// The study from --worklist or --study; false (with a message) when neither matches once.
bool PickedStudy(const Args& a, StudyInfo& study, std::string& error) {
  QueryFields f;
  if (a.opt.count("worklist")) {
    f.AccessionNumber = ArgText(a, "worklist");
    f.StudyDate = Opt(a, "date", NowDA());
    if (!ValidDate(f.StudyDate)) {
      error = "--date must be a date written YYYYMMDD: " + f.StudyDate;
      return false;
    }
    TWorklistItem item;
    if (!OnlyMatch(a, true, f, SearchWorklist, "worklist item with accession number " + f.AccessionNumber, item,
                   error))
      return false;
    study = StudyFromWorklist(item);
    return true;
  }
  f.StudyInstanceUID = Opt(a, "study", "");
  if (!OnlyMatch(a, false, f, SearchStudies, "study " + f.StudyInstanceUID, study, error)) return false;
  study.ModalitiesInStudy.clear();  // the modalities of a study are a list, not a modality
  return true;
}

}  // namespace

bool StudyFromArgs(const Args& a, StudyInfo& study, std::string& error) {
  study.Clear();
  if (a.opt.count("worklist") || a.opt.count("study")) {
    if (!PickedStudy(a, study, error)) return false;
  } else {
    study.PatientName = ArgText(a, "patient-name");
    study.PatientID = ArgText(a, "patient-id");
    study.PatientBirthDate = ArgText(a, "birth-date");
    study.PatientSex = ArgText(a, "sex");
    study.AccessionNumber = ArgText(a, "accession");
    study.StudyInstanceUID = ArgText(a, "study-uid");
    study.StudyDescription = ArgText(a, "study-description");
    EncodeTypedStudy(study);
  }
  SetStudyText(study, &StudyInfo::InstitutionName, ArgText(a, "institution", setupcfg.InstitutionName));
  if (a.opt.count("modality")) SetStudyText(study, &StudyInfo::ModalitiesInStudy, ArgText(a, "modality"));
  study.StudyDate = NowDA();
  study.StudyTime = NowTM();
  if (study.PatientName.empty() || study.PatientID.empty()) {
    error = "--patient-name and --patient-id are required";
    return false;
  }
  return true;
}

AssociationTarget TargetFromArgs(const Args& a, bool worklist, uint32_t timeoutSeconds) {
  AssociationTarget t;
  t.callingAE = Opt(a, "aet", setupcfg.LocalAET);
  t.calledAE = Opt(a, "aec", worklist ? setupcfg.WorklistAET : setupcfg.PacsAET);
  t.host = Opt(a, "host", worklist ? setupcfg.WorklistIP : setupcfg.PacsIP);
  t.port = Opt(a, "port", worklist ? setupcfg.WorklistPort : setupcfg.PacsPort);
  t.timeoutSeconds = timeoutSeconds;
  return t;
}

}  // namespace cli
