#include "app/forms.h"

TAcquisitionForm::TAcquisitionForm(QWidget* parent) : QDialog(parent) {
  setObjectName("AcquisitionForm");
  setWindowTitle("Acquisition Form");
}
