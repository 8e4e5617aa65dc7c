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
  return kExitFailed;
}

int Misused(const std::string& message) {
  std::fprintf(stderr, "scrivara-cli: %s\n", message.c_str());
  return kExitUsage;
}

std::string Because(const std::string& what) {
  const std::string why = LoggedError();
  return why.empty() ? what : what + ": " + why;
}

Args Parse(int argc, char** argv, int first, const std::vector<std::string>& values,
           const std::vector<std::string>& switches) {
  Args a;
  auto takes = [](const std::vector<std::string>& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
  };
  for (int i = first; i < argc; ++i) {
    const std::string s = argv[i];
    if (s == "--help" || s == "-h") {
      a.help = true;
    } else if (s.size() > 1 && s[0] == '-') {
      const std::string name = s.rfind("--", 0) == 0 ? s.substr(2) : std::string();
      if (takes(switches, name)) {
        a.opt[name].assign(1, '1');
      } else if (!takes(values, name)) {
        if (a.error.empty()) a.error = "unknown option " + s;
      } else if (i + 1 < argc) {
        a.opt[name] = argv[++i];
      } else if (a.error.empty()) {
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
  const bool asked = a.help && a.error.empty();
  if (!a.error.empty()) std::fprintf(stderr, "scrivara-cli: %s\n", a.error.c_str());
  std::fputs(text, asked ? stdout : stderr);
  return asked ? 0 : kExitUsage;
}

namespace {

// Characters, not bytes, of a UTF-8 text (a byte that is not UTF-8 counts as one).
size_t Characters(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

bool ValidUid(const std::string& uid) {
  if (uid.empty() || uid.size() > 64 || uid.front() == '.' || uid.back() == '.') return false;
  for (size_t i = 0; i < uid.size(); ++i) {
    const char c = uid[i];
    if (c == '.') {
      if (uid[i + 1] == '.') return false;
    } else if (c < '0' || c > '9') {
      return false;
    } else if (c == '0' && (i == 0 || uid[i - 1] == '.') && i + 1 < uid.size() && uid[i + 1] != '.') {
      return false;  // a component with a leading zero
    }
  }
  return true;
}

}  // namespace

std::string StudyKeysProblem(const Args& a) {
  std::vector<std::string> bad;
  auto value = [&a](const char* name) { return Opt(a, name, ""); };
  auto limit = [&](const char* name, size_t most, const char* vr) {
    const std::string v = value(name);
    if (Characters(v) > most)
      bad.push_back("--" + std::string(name) + " is longer than the " + std::to_string(most) + " characters " + vr +
                    " allows");
  };
  if (const std::string d = value("birth-date"); !d.empty() && !ValidDate(d))
    bad.push_back("--birth-date " + d + " is not a date written YYYYMMDD");
  if (const std::string sex = value("sex"); !sex.empty() && sex != "M" && sex != "F" && sex != "O")
    bad.push_back("--sex " + sex + " is not M, F or O");
  if (const std::string uid = value("study-uid"); !uid.empty() && !ValidUid(uid))
    bad.push_back("--study-uid " + uid + " is not a UID (digits in dotted groups, no leading zeros, 64 at most)");
  // A person name's limit holds for each of its component groups (alphabetic=ideographic=phonetic).
  for (std::string group, rest = value("patient-name");; rest.erase(0, group.size() + 1)) {
    group = rest.substr(0, rest.find('='));
    if (Characters(group) > 64) {
      bad.push_back("--patient-name has a part longer than the 64 characters a person name allows");
      break;
    }
    if (group.size() >= rest.size()) break;
  }
  limit("patient-id", 64, "a long string (LO)");
  limit("accession", 16, "a short string (SH)");
  limit("study-description", 64, "a long string (LO)");
  limit("institution", 64, "a long string (LO)");
  if (const std::string m = value("modality"); !m.empty()) {
    bool code = m.size() <= 16;
    for (char c : m) code = code && ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' || c == '_');
    if (!code) bad.push_back("--modality " + m + " is not a code (capitals, digits, 16 at most)");
  }
  std::string text;
  for (const std::string& b : bad) text += (text.empty() ? "" : "; ") + b;
  return text;
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
  const std::string peer = target.web.enabled ? target.web.url : target.calledAE + " at " + target.host + ":" + target.port;
  if (target.web.enabled && end.status != 0) {
    error = "the search on " + peer + " failed: " + end.problem;
  } else if (!end.connected) {
    error = "cannot open an association with " + peer + ": " + end.problem;
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
  // The saved TLS settings of that server, changed by the options given.
  t.tls = worklist ? setupcfg.WorklistTls : setupcfg.PacsTls;
  t.tls.profile = Opt(a, "tls-profile", t.tls.profile);
  t.tls.caFile = Opt(a, "ca", t.tls.caFile);
  t.tls.certificateFile = Opt(a, "cert", t.tls.certificateFile);
  t.tls.keyFile = Opt(a, "key", t.tls.keyFile);
  if (a.opt.count("no-host-check")) t.tls.checkHostName = false;
  // A TLS setting given asks for TLS; --no-tls has the last word.
  if (a.opt.count("tls") || a.opt.count("tls-profile") || a.opt.count("ca") || a.opt.count("cert") ||
      a.opt.count("key"))
    t.tls.enabled = true;
  if (a.opt.count("no-tls")) t.tls.enabled = false;
  if (worklist) return t;  // the worklist is searched with associations only
  // The archive over DICOMweb: saved, or asked for with --url; a DIMSE peer named with --aec,
  // --host or --port is reached with associations.
  t.web = setupcfg.PacsWeb;
  if (a.opt.count("aec") || a.opt.count("host") || a.opt.count("port")) t.web.enabled = false;
  if (a.opt.count("url")) {
    t.web.enabled = true;
    t.web.url = Opt(a, "url", "");
  }
  if (a.opt.count("user") || a.opt.count("password-file")) {
    t.web.auth = DicomWebSettings::Auth::Basic;
    t.web.user = Opt(a, "user", t.web.user);
    t.web.passwordFile = Opt(a, "password-file", "");
    if (!t.web.passwordFile.empty()) t.web.password.clear();
  }
  if (a.opt.count("token-file")) {
    t.web.auth = DicomWebSettings::Auth::Token;
    t.web.tokenFile = Opt(a, "token-file", "");
  }
  return t;
}

}  // namespace cli
