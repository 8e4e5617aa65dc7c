#include "app/forms.h"

TConfigFrm::TConfigFrm(QWidget* parent) : QDialog(parent) {
  setObjectName("ConfigFrm");
  setWindowTitle("Scanner Configuration");
}

TAcquisitionForm::TAcquisitionForm(QWidget* parent) : QDialog(parent) {
  setObjectName("AcquisitionForm");
  setWindowTitle("Acquisition Form");
}
