#include "app/setup.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include <memory>

#include "edge/dialogs.h"
#include "edge/layouts.h"
#include "edge/qtext.h"
#include "core/config.h"
#include "core/log.h"
#include "net/dimse.h"

namespace {

QLineEdit* AddEdit(QFormLayout* form, const char* name, const char* label, const char* text) {
  auto* edit = new QLineEdit(QString::fromLatin1(text));
  edit->setObjectName(QString::fromLatin1(name));
  form->addRow(QString::fromLatin1(label), edit);
  return edit;
}

}  // namespace

TSetupFrm::TSetupFrm(const std::string& exePath, QWidget* parent)
    : QDialog(parent), cfgPath_(FoldersFor(exePath).config + kSetupFileName) {
  setObjectName("SetupFrm");
  setWindowTitle("Setup");
  // Qt's usual ownership: every control belongs to the dialog through its layout.
  PageControl1 = new QTabWidget(this);
  PageControl1->setObjectName("PageControl1");

  auto* local = new QWidget;
  local->setObjectName("TabSheet1");
  auto* localForm = new QFormLayout(local);
  Edit4 = AddEdit(localForm, "Edit4", "Local AET", "SCRIVARA");
  Edit7 = AddEdit(localForm, "Edit7", "Inst. Name:", "Institution Name");
  CheckBox1 = new QCheckBox("Debug logging");
  CheckBox1->setObjectName("CheckBox1");
  localForm->addRow(QString(), CheckBox1);
  PageControl1->addTab(local, "Local");

  AddServerTab("TabSheet2", "PACS", {"Edit5", "Edit2", "Edit3", "Button1"}, "PACS", Edit5, Edit2, Edit3, Button1);
  AddServerTab("TabSheet3", "WL Server", {"Edit6", "Edit8", "Edit9", "Button2"}, "WORKLIST", Edit6, Edit8, Edit9,
               Button2);
  PageControl1->setCurrentIndex(0);

  BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), "OK");
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setDefault(true);
  BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), "Cancel");
  BitBtn2->setObjectName("BitBtn2");
  auto* top = new QVBoxLayout(this);
  top->addWidget(PageControl1);
  top->addLayout(ButtonRow({BitBtn1, BitBtn2}));

  connect(BitBtn1, &QPushButton::clicked, this, &TSetupFrm::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
  connect(Button1, &QPushButton::clicked, this, &TSetupFrm::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TSetupFrm::Button2Click);
  // One test at a time, off the window's thread.
  connect(&work_, &BackgroundWork::StateChanged, this, [this](BackgroundWork::State state) {
    Button1->setEnabled(state == BackgroundWork::State::Idle);
    Button2->setEnabled(state == BackgroundWork::State::Idle);
  });
  FormCreate();
}

// One server tab: AE title, address and port fields and the "Test" button, with their design names.
void TSetupFrm::AddServerTab(const char* name, const char* caption, const ServerControls& names, const char* aet,
                             QLineEdit*& aetEdit, QLineEdit*& hostEdit, QLineEdit*& portEdit, QPushButton*& test) {
  auto* tab = new QWidget;
  tab->setObjectName(QString::fromLatin1(name));
  auto* form = new QFormLayout(tab);
  aetEdit = AddEdit(form, names.aet, "AET", aet);
  hostEdit = AddEdit(form, names.host, "IP Address", "127.0.0.1");
  portEdit = AddEdit(form, names.port, "Port", "104");
  test = new QPushButton("Test");
  test->setObjectName(QString::fromLatin1(names.test));
  form->addRow(QString(), test);
  PageControl1->addTab(tab, QString::fromLatin1(caption));
}

// The eight text fields into setupcfg, as typed (no trimming, no checks).
void TSetupFrm::CopyFieldsToSetup() {
  setupcfg.LocalAET = FromQ(Edit4->text());
  setupcfg.InstitutionName = FromQ(Edit7->text());
  setupcfg.PacsAET = FromQ(Edit5->text());
  setupcfg.PacsIP = FromQ(Edit2->text());
  setupcfg.PacsPort = FromQ(Edit3->text());
  setupcfg.WorklistAET = FromQ(Edit6->text());
  setupcfg.WorklistIP = FromQ(Edit8->text());
  setupcfg.WorklistPort = FromQ(Edit9->text());
}

void TSetupFrm::FormCreate() {
  if (ReadSetupFile(setupcfg, cfgPath_)) {
    Edit4->setText(ToQ(setupcfg.LocalAET));
    Edit7->setText(ToQ(setupcfg.InstitutionName));
    Edit5->setText(ToQ(setupcfg.PacsAET));
    Edit2->setText(ToQ(setupcfg.PacsIP));
    Edit3->setText(ToQ(setupcfg.PacsPort));
    Edit6->setText(ToQ(setupcfg.WorklistAET));
    Edit8->setText(ToQ(setupcfg.WorklistIP));
    Edit9->setText(ToQ(setupcfg.WorklistPort));
  } else {
    // No usable file: the controls' initial texts are the defaults. Nothing is written.
    CopyFieldsToSetup();
    const SetupCfg defaults;
    setupcfg.Reserved = defaults.Reserved;  // "0"
    setupcfg.DebugLogging = defaults.DebugLogging;
  }
  CheckBox1->setChecked(setupcfg.DebugLogging);
  if (setupcfg.DebugLogging) DebugLevel = 2;
}

void TSetupFrm::BitBtn1Click() {
  CopyFieldsToSetup();
  setupcfg.DebugLogging = CheckBox1->isChecked();
  // Clearing the box does not lower DebugLevel during the run; "FALSE" takes effect at the next start.
  if (setupcfg.DebugLogging) DebugLevel = 2;
  const std::string path = ConfigFolder().empty() ? cfgPath_ : ConfigFolder() + kSetupFileName;
  if (!WriteSetupFile(setupcfg, path)) {
    // setupcfg already holds the new values; the dialog stays open so the operator can retry.
    Dialogs().ShowError(this, "ERROR, couldn't save " + QString::fromLocal8Bit(path.c_str()) +
                                  ", please check log file");
    return;
  }
  accept();
}

void TSetupFrm::TestConnection(QLineEdit* aet, QLineEdit* host, QLineEdit* port) {
  const std::string called = FromQ(aet->text());
  // The calling AE title is the saved one, not the text of the "Local AET" field.
  const AssociationTarget target{setupcfg.LocalAET, called, FromQ(host->text()), FromQ(port->text()), 10};
  struct Outcome {
    bool up = false;
    std::string why;
  };
  auto outcome = std::make_shared<Outcome>();
  work_.Start(
      BackgroundWork::State::Searching, [target, outcome](const BackgroundWork::Run&) {
        outcome->up = EchoSCU(target, &outcome->why);
      },
      [this, called, outcome] {
        if (outcome->up)
          Dialogs().ShowMessage(this, ToQ(called) + " is up and running!");
        else
          Dialogs().ShowMessage(this, "ERROR, " + ToQ(called) + " does not answer!\n" + ToQ(outcome->why));
      });
}

void TSetupFrm::Button1Click() { TestConnection(Edit5, Edit2, Edit3); }

void TSetupFrm::Button2Click() { TestConnection(Edit6, Edit8, Edit9); }
