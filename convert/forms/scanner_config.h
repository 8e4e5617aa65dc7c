#pragma once
// The scanner settings dialog: colour or grey, and the resolution, kept for the whole run.
#include <QDialog>

#include "convert/scanner.h"

class QComboBox;
class QPushButton;

class TConfigFrm : public QDialog {
  Q_OBJECT
 public:
  // settings: the program's scan settings (grey at 100 dpi until OK is first pressed).
  explicit TConfigFrm(ScanSettings& settings, QWidget* parent = nullptr);

  // OK: the selections become the scan settings; text typed into a list that names no entry takes
  // the nearest entry first.
  void Button1Click();

  QComboBox* ComboBox1 = nullptr;  // "Scanner Color": Color, GrayScale
  QComboBox* ComboBox2 = nullptr;  // "Scanner DPI": 100, 150, 200, 300
  QPushButton* Button1 = nullptr;  // OK
  QPushButton* Button2 = nullptr;  // Cancel

 private:
  ScanSettings& settings_;
};
