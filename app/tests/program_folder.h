#pragma once
// The Qt tests' program folder: a temporary folder holding the test program as "scrivara" (so the
// label file, scrivara.cfg, logs/ and temp/ are beside it), and the run's program-wide state set
// back to what a new run starts with.
#include <unistd.h>

#include <string>

#include "app/dicom10.h"
#include "convert/batch.h"
#include "core/config.h"
#include "core/log.h"
#include "edge/dialogs.h"
#include "tests/support/peer.h"

// The folder; "" when the program cannot be placed in it.
inline std::string NewProgramFolder(const std::string& prefix) {
  const std::string dir = testsupport::MakeTempDir(prefix);
  if (::symlink(ExecutablePath().c_str(), (dir + "/scrivara").c_str()) != 0) return "";
  setupcfg = SetupCfg();
  ExeFolder.clear();
  CommandLineText.clear();
  DebugLevel = 0;
  CurrentStudy.Clear();
  AccessionCounter = 0;
  InstanceCounter = 0;
  ScanConfiguration = ScanSettings();
  return dir;
}

// A case's start: a program folder of its own and the dialog layer that answers for the forms;
// "" when the folder cannot be made.
inline std::string EnterProgramFolder(const std::string& prefix, DialogLayer& dialogs) {
  const std::string dir = NewProgramFolder(prefix);
  SetDialogLayer(&dialogs);
  return dir;
}

// A case's end: the real dialogs again, the day's log closed, the folder gone.
inline void LeaveProgramFolder(const std::string& dir) {
  SetDialogLayer(nullptr);
  CloseLog();
  testsupport::RemoveTree(dir);
}
