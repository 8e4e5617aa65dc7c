#include "convert/forms/scanner_config.h"

#include <QComboBox>
#include <QFormLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "edge/layouts.h"

namespace {

// The entry nearest to typed text: the same entry in any letter case, or one the text begins; for
// numbers, the nearest value.
void TakeNearestEntry(QComboBox* box, bool numbers) {
  const QString typed = box->currentText().trimmed();
  int best = box->findText(typed, Qt::MatchFixedString);
  if (best < 0 && numbers) {
    bool ok = false;
    const double v = typed.toDouble(&ok);
    double distance = 1e300;
    for (int i = 0; ok && i < box->count(); ++i) {
      const double d = std::fabs(box->itemText(i).toDouble() - v);
      if (d < distance) {
        distance = d;
        best = i;
      }
    }
  }
  for (int i = 0; best < 0 && i < box->count(); ++i)
    if (!typed.isEmpty() && box->itemText(i).startsWith(typed, Qt::CaseInsensitive)) best = i;
  box->setCurrentIndex(best < 0 ? 0 : best);
}

}  // namespace

TConfigFrm::TConfigFrm(ScanSettings& settings, QWidget* parent) : QDialog(parent), settings_(settings) {
  setObjectName("ConfigFrm");
  setWindowTitle("Scanner Configuration");
  ComboBox1 = new QComboBox;
  ComboBox1->setObjectName("ComboBox1");
  ComboBox1->setEditable(true);
  ComboBox1->addItems({"Color", "GrayScale"});
  ComboBox2 = new QComboBox;
  ComboBox2->setObjectName("ComboBox2");
  ComboBox2->setEditable(true);
  ComboBox2->addItems({"100", "150", "200", "300"});
  ComboBox1->setCurrentIndex(0);  // FormCreate: both lists on their first entry
  ComboBox2->setCurrentIndex(0);
  Button1 = new QPushButton("OK");
  Button1->setObjectName("Button1");
  Button1->setDefault(true);
  Button2 = new QPushButton("Cancel");
  Button2->setObjectName("Button2");
  auto* fields = new QFormLayout;
  fields->addRow("Scanner Color", ComboBox1);  // the labels are the lists' buddies
  fields->addRow("Scanner DPI", ComboBox2);
  auto* top = new QVBoxLayout(this);
  top->addLayout(fields);
  top->addLayout(ButtonRow({Button1, Button2}));
  connect(Button1, &QPushButton::clicked, this, &TConfigFrm::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

void TConfigFrm::Button1Click() {
  TakeNearestEntry(ComboBox1, false);
  TakeNearestEntry(ComboBox2, true);
  settings_.colour = ComboBox1->currentIndex() == 0;
  settings_.dpi = ComboBox2->currentText().toInt();
  accept();
}
