#pragma once
// Program start: the six forms, created in their fixed order, living for the whole run.
#include <memory>
#include <string>

#include "app/setup.h"
#include "app/unit1.h"
#include "convert/forms/acquisition_form.h"
#include "convert/forms/pdf_form.h"
#include "convert/forms/report_editor.h"
#include "convert/forms/scanner_config.h"

struct AppForms {
  std::unique_ptr<TForm1> Form1;  // the main window
  std::unique_ptr<TSetupFrm> SetupFrm;
  std::unique_ptr<TPDFForm> PDFForm;
  std::unique_ptr<TMainForm> MainForm;
  std::unique_ptr<TConfigFrm> ConfigFrm;
  std::unique_ptr<TAcquisitionForm> AcquisitionForm;
};

// Creates the forms in order: TForm1 (labels, caption, pickers, start-up event posted), TSetupFrm
// (configuration read), TPDFForm, TMainForm, TConfigFrm, TAcquisitionForm. exePath is the program
// file beside which the label file, the configuration file and the folders are found.
AppForms CreateForms(const std::string& exePath);

// The command-line argument text from main's arguments (after Qt took its own): the arguments
// after the program name joined with single blanks.
std::string CommandLineFromArgs(int argc, char** argv);
