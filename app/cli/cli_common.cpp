#include "app/cli/cli_common.h"

#include <algorithm>
#include <cstdio>

#include "convert/batch.h"
#include "core/config.h"
#include "core/log.h"

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

bool StudyFromArgs(const Args& a, StudyInfo& study) {
  study.PatientName = Opt(a, "patient-name", "");
  study.PatientID = Opt(a, "patient-id", "");
  study.PatientBirthDate = Opt(a, "birth-date", "");
  study.PatientSex = Opt(a, "sex", "");
  study.AccessionNumber = Opt(a, "accession", "");
  study.StudyInstanceUID = Opt(a, "study-uid", "");
  study.StudyDescription = Opt(a, "study-description", "");
  study.InstitutionName = Opt(a, "institution", setupcfg.InstitutionName);
  study.ModalitiesInStudy = Opt(a, "modality", "");
  study.StudyDate = NowDA();
  study.StudyTime = NowTM();
  return !study.PatientName.empty() && !study.PatientID.empty();
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
