#pragma once
// The acquisition form, created once at start-up with its caption (the PDF form, the report editor
// and the scanner settings dialog are in convert/forms/).
#include <QDialog>
#include <string>

// The acquisition form: pages scanned, shown and sent as image objects.
class TAcquisitionForm : public QDialog {
  Q_OBJECT
 public:
  explicit TAcquisitionForm(QWidget* parent = nullptr);
};
