#include "app/forms.h"

TMainForm::TMainForm(QWidget* parent) : QDialog(parent) {
  setObjectName("MainForm");
  setWindowTitle("Untitled");
}

TConfigFrm::TConfigFrm(QWidget* parent) : QDialog(parent) {
  setObjectName("ConfigFrm");
  setWindowTitle("Scanner Configuration");
}

TAcquisitionForm::TAcquisitionForm(QWidget* parent) : QDialog(parent) {
  setObjectName("AcquisitionForm");
  setWindowTitle("Acquisition Form");
}
