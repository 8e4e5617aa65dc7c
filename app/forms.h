#pragma once
// The acquisition form and the scanner settings dialog, created once at start-up with their
// captions (the PDF form and the report editor are in convert/forms/).
#include <QDialog>
#include <string>

// The scanner settings dialog.
class TConfigFrm : public QDialog {
  Q_OBJECT
 public:
  explicit TConfigFrm(QWidget* parent = nullptr);
};

// The acquisition form: pages scanned, shown and sent as image objects.
class TAcquisitionForm : public QDialog {
  Q_OBJECT
 public:
  explicit TAcquisitionForm(QWidget* parent = nullptr);
};
