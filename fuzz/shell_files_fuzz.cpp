// The two text files read at start-up: the configuration file (ReadSetupFile) and the label file
// (IniFile, the reader behind the main window's captions). The first byte chooses.
#include <string>

#include "core/config.h"
#include "core/inifile.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzz::Quiet();
  static fuzz::ScratchFile file(".ini");
  const std::string& path = file.Write(data + 1, size - 1);
  if (data[0] & 1) {
    SetupCfg cfg;
    ReadSetupFile(cfg, path);
  } else {
    IniFile ini;
    ini.Load(path);
    for (const char* key : {"Caption", "Label1", "PatientIDLbl", "SearchPACSBtn", ""})
      (void)ini.ReadString("MainForm", key, "default");
    (void)ini.ReadString("", "", "");
  }
  return 0;
}
