#include "app/dicom10.h"

AppForms CreateForms(const std::string& exePath) {
  AppForms f;
  f.Form1 = std::make_unique<TForm1>(exePath);
  f.SetupFrm = std::make_unique<TSetupFrm>(exePath, f.Form1.get());
  f.PDFForm = std::make_unique<TPDFForm>(CurrentStudy, setupcfg, f.Form1.get());
  f.MainForm = std::make_unique<TMainForm>(CurrentStudy, setupcfg, f.Form1.get());
  f.ConfigFrm = std::make_unique<TConfigFrm>(ScanConfiguration, f.Form1.get());
  f.AcquisitionForm =
      std::make_unique<TAcquisitionForm>(CurrentStudy, setupcfg, ScanConfiguration, f.ConfigFrm.get(), f.Form1.get());
  f.Form1->SetSetupForm(f.SetupFrm.get());
  f.Form1->SetConversionForms(f.PDFForm.get(), f.MainForm.get(), f.AcquisitionForm.get());
  return f;
}

std::string CommandLineFromArgs(int argc, char** argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    text += argv[i];
  }
  return text;
}
