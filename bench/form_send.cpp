// One Send of the PDF form, offscreen, with the dialogs answered: the PDF chosen, its object built,
// listed and sent to the PACS, up to the result message; that time is printed as "elapsed_us N".
// For bench/run, beside scrivara-cli pdf + store of the same file.
#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <filesystem>
#include <string>

#include "convert/forms/pdf_form.h"
#include "core/config.h"
#include "edge/dialogs.h"

namespace {

class Answers : public DialogLayer {
 public:
  QString pdf;
  bool sent = false;
  QString OpenFileName(QWidget*, const QString&, const QString&) override { return pdf; }
  void ShowDetails(QWidget*, const QString& text, const QString& details, bool) override {
    sent = text == "Files sent OK";
    if (!sent) std::fprintf(stderr, "%s\n%s", qPrintable(text), qPrintable(details));
  }
  void ShowError(QWidget*, const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
  bool AskYesNo(QWidget*, const QString&, const QString&) override { return false; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: form_send PDF PORT WORKDIR (a C-STORE SCP with AE STORESCP on 127.0.0.1:PORT)\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ExeFolder = std::string(argv[3]) + "/";
  std::filesystem::create_directories(ExeFolder + "temp");
  SetupCfg cfg;
  cfg.PacsAET = "STORESCP";
  cfg.PacsIP = "127.0.0.1";
  cfg.PacsPort = argv[2];
  StudyInfo study;
  study.PatientName = "Bench^Mark";
  study.PatientID = "BENCH";
  study.StudyDate = "20261209";
  study.StudyTime = "120000";
  study.AccessionNumber = "BENCH1";
  Answers answers;
  answers.pdf = QString::fromLocal8Bit(argv[1]);
  SetDialogLayer(&answers);
  {
    TPDFForm form(study, cfg);
    form.show();
    QElapsedTimer clock;
    clock.start();
    form.Button3Click();
    while (form.Work().Busy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    // bench/run takes this as the run's time: Send to the result message, without the window
    // system's start.
    std::fprintf(stderr, "elapsed_us %lld\n", static_cast<long long>(clock.nsecsElapsed() / 1000));
    form.close();
  }
  SetDialogLayer(nullptr);
  return answers.sent ? 0 : 1;
}
