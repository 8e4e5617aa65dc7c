#pragma once
// The conversion forms and the scanner settings dialog. The conversion work is added to them by
// the document issues; here they exist with their captions, created once at start-up.
#include <QDialog>
#include <string>

// The PDF form: turns a PDF into an Encapsulated PDF object and sends it.
class TPDFForm : public QDialog {
  Q_OBJECT
 public:
  explicit TPDFForm(QWidget* parent = nullptr);
  // The PDF to convert without asking (the command-line document); "" asks for one.
  std::string PresetFile;
};

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
