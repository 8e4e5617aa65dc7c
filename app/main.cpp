// Program entry: the window system, the command line, the six forms, the message loop.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstring>
#include <exception>

#include "app/dicom10.h"
#include "core/audit.h"
#include "core/config.h"
#include "core/log.h"
#include "core/version.h"

int main(int argc, char** argv) {
  // Answered before any window system is needed.
  if (argc == 2 && (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    if (argv[1][2] == 'v') {
      std::printf("scrivara %s\n", GetVersionText(ExecutablePath()).c_str());
    } else {
      std::printf(
          "usage: scrivara [FILE]\n"
          "  Starts the DICOM converter's main window. FILE, when given, is a PDF document that Add PDF\n"
          "  converts and sends at once for the patient of the window, without asking for a file.\n"
          "  --version prints the version; scrivara-cli --version also says where the files are.\n");
    }
    return 0;
  }
  QApplication app(argc, argv);
  // Folders another user could read or plant files in are never used.
  const std::string problem = FoldersProblem(FoldersFor(ExecutablePath()));
  if (!problem.empty()) {
    std::fprintf(stderr, "scrivara: %s\n", problem.c_str());
    audit::SecurityAlert(audit::Alert::kSecurityConfiguration, FolderOf(ExecutablePath()), problem);
    QMessageBox::critical(nullptr, "Scrivara", QString::fromLocal8Bit(problem.c_str()));
    return 1;
  }
  CommandLineText = CommandLineFromArgs(argc, argv);
  try {
    AppForms forms = CreateForms(ExecutablePath());
    forms.Form1->show();
    app.exec();  // the forms are released in reverse order of creation, the main window last
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, "Scrivara", QString::fromLocal8Bit(e.what()));
  }
  return 0;
}
