#pragma once
// The report editor, the acquisition form and the scanner settings dialog, created once at start-up
// with their captions (the PDF form is convert/forms/pdf_form.h).
#include <QDialog>
#include <string>

// The report editor: a report typed or opened, sent as a Basic Text SR document.
class TMainForm : public QDialog {
  Q_OBJECT
 public:
  explicit TMainForm(QWidget* parent = nullptr);
};

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
