#include "convert/forms/scanner_config.h"

#include <QComboBox>
#include <QFormLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <QLineEdit>
#include <algorithm>
#include <string>
#include <vector>

#include "edge/layouts.h"

namespace {

// The list shows the entry that typed text stands for (the first when it stands for none).
void TakeNearestEntry(QComboBox* box, bool numbers) {
  std::vector<std::string> entries;
  for (int i = 0; i < box->count(); ++i) entries.push_back(box->itemText(i).toStdString());
  box->setCurrentIndex(std::max(0, NearestEntry(entries, box->currentText().toStdString(), numbers)));
}

// An editable list that never takes typed text as an entry: Enter, or leaving it, chooses the
// entry the text stands for.
QComboBox* SettingsList(const char* name, const QStringList& entries, bool numbers) {
  auto* box = new QComboBox;
  box->setObjectName(name);
  box->setEditable(true);
  box->setInsertPolicy(QComboBox::NoInsert);
  box->addItems(entries);
  QObject::connect(box->lineEdit(), &QLineEdit::editingFinished, box, [box, numbers] { TakeNearestEntry(box, numbers); });
  return box;
}

}  // namespace

TConfigFrm::TConfigFrm(ScanSettings& settings, QWidget* parent) : QDialog(parent), settings_(settings) {
  setObjectName("ConfigFrm");
  setWindowTitle("Scanner Configuration");
  ComboBox1 = SettingsList("ComboBox1", {"Color", "GrayScale"}, false);
  ComboBox2 = SettingsList("ComboBox2", {"100", "150", "200", "300"}, true);
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
