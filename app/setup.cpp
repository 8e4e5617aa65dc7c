#include "app/setup.h"

#include <QCheckBox>
#include <QComboBox>
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
#include "net/dicomweb.h"
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

  AddServerTab("TabSheet2", "PACS", {"Edit5", "Edit2", "Edit3", "Button1", "Pacs"}, "PACS", Edit5, Edit2, Edit3,
               Button1, pacsTls_);
  AddServerTab("TabSheet3", "WL Server", {"Edit6", "Edit8", "Edit9", "Button2", "Worklist"}, "WORKLIST", Edit6, Edit8,
               Edit9, Button2, worklistTls_);
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

// One server tab: AE title, address and port fields and the "Test" button, with their design names;
// then the TLS settings of that server.
void TSetupFrm::AddServerTab(const char* name, const char* caption, const ServerControls& names, const char* aet,
                             QLineEdit*& aetEdit, QLineEdit*& hostEdit, QLineEdit*& portEdit, QPushButton*& test,
                             TlsControls& tls) {
  auto* tab = new QWidget;
  tab->setObjectName(QString::fromLatin1(name));
  auto* form = new QFormLayout(tab);
  aetEdit = AddEdit(form, names.aet, "AET", aet);
  hostEdit = AddEdit(form, names.host, "IP Address", "127.0.0.1");
  portEdit = AddEdit(form, names.port, "Port", "104");
  const std::string prefix = names.prefix;
  tls.use = new QCheckBox("Use TLS");
  tls.use->setObjectName(ToQ(prefix + "UseTls"));
  form->addRow(QString(), tls.use);
  const char* pem = "PEM files (*.pem *.crt *.key);;All files (*)";
  tls.ca = AddFileRow(form, prefix + "CaFile", "CA file", pem);
  tls.ca->setPlaceholderText("the system's trusted authorities");
  tls.certificate = AddFileRow(form, prefix + "Certificate", "Client certificate", pem);
  tls.certificate->setPlaceholderText("none");
  tls.key = AddFileRow(form, prefix + "Key", "Client key", pem);
  tls.hostCheck = new QCheckBox("Check host name");
  tls.hostCheck->setObjectName(ToQ(prefix + "CheckHostName"));
  tls.hostCheck->setChecked(true);
  form->addRow(QString(), tls.hostCheck);
  connect(tls.use, &QCheckBox::toggled, this, &TSetupFrm::UpdateEnabled);
  if (&tls == &pacsTls_) AddWebRows(form);
  test = new QPushButton("Test");
  test->setObjectName(QString::fromLatin1(names.test));
  form->addRow(QString(), test);
  PageControl1->addTab(tab, QString::fromLatin1(caption));
}

// A file name field with its "..." button (a file chosen through the dialog layer).
QLineEdit* TSetupFrm::AddFileRow(QFormLayout* form, const std::string& name, const char* label, const char* filter) {
  auto* edit = new QLineEdit;
  edit->setObjectName(ToQ(name));
  auto* browse = new QPushButton("...");
  browse->setObjectName(ToQ(name + "Browse"));
  browse->setAccessibleName(QString::fromLatin1("Choose the ") + QString::fromLatin1(label).toLower());
  auto* row = new QHBoxLayout;
  row->addWidget(edit, 1);
  row->addWidget(browse);
  form->addRow(QString::fromLatin1(label), row);
  if (auto* caption = qobject_cast<QLabel*>(form->labelForField(row))) caption->setBuddy(edit);
  connect(browse, &QPushButton::clicked, this, [this, edit, label, filter] {
    const QString chosen = Dialogs().OpenFileName(this, QString::fromLatin1(label), QString::fromLatin1(filter));
    if (!chosen.isEmpty()) edit->setText(chosen);
  });
  return edit;
}

// The PACS's DICOMweb rows, below its TLS settings (whose CA file and client certificate HTTPS uses).
void TSetupFrm::AddWebRows(QFormLayout* form) {
  web_.type = new QComboBox;
  web_.type->setObjectName("PacsServerType");
  web_.type->addItems({"DIMSE (C-STORE, C-FIND)", "DICOMweb (STOW-RS, QIDO-RS)"});
  form->addRow("Server type", web_.type);
  web_.url = new QLineEdit;
  web_.url->setObjectName("PacsUrl");
  web_.url->setPlaceholderText("https://archive.example/dicom-web");
  form->addRow("URL", web_.url);
  web_.auth = new QComboBox;
  web_.auth->setObjectName("PacsAuthentication");
  web_.auth->addItems({"None", "HTTP basic", "Bearer token"});
  form->addRow("Authentication", web_.auth);
  web_.user = new QLineEdit;
  web_.user->setObjectName("PacsUser");
  form->addRow("User", web_.user);
  web_.password = new QLineEdit;
  web_.password->setObjectName("PacsPassword");
  web_.password->setEchoMode(QLineEdit::Password);
  form->addRow("Password", web_.password);
  web_.tokenFile = AddFileRow(form, "PacsTokenFile", "Token file", "All files (*)");
  for (QWidget* w : std::initializer_list<QWidget*>{web_.type, web_.url, web_.auth, web_.user, web_.password})
    if (auto* caption = qobject_cast<QLabel*>(form->labelForField(w))) caption->setBuddy(w);
  connect(web_.type, &QComboBox::currentIndexChanged, this, &TSetupFrm::UpdateEnabled);
  connect(web_.auth, &QComboBox::currentIndexChanged, this, &TSetupFrm::UpdateEnabled);
}

// Each field enabled only where it applies: the TLS files with TLS (or HTTPS), the DIMSE address
// or the DICOMweb URL by the server type, the user, password or token file by the authentication.
void TSetupFrm::UpdateEnabled() {
  const bool web = web_.type && web_.type->currentIndex() == 1;
  for (const TlsControls* tls : {&pacsTls_, &worklistTls_}) {
    if (!tls->use) continue;
    const bool files = tls->use->isChecked() || (web && tls == &pacsTls_);
    for (QWidget* w : std::initializer_list<QWidget*>{tls->ca, tls->certificate, tls->key, tls->hostCheck})
      w->setEnabled(files);
  }
  if (!web_.type) return;
  for (QWidget* w : std::initializer_list<QWidget*>{Edit5, Edit2, Edit3, pacsTls_.use})
    if (w) w->setEnabled(!web);
  const int auth = web_.auth->currentIndex();
  web_.url->setEnabled(web);
  web_.auth->setEnabled(web);
  web_.user->setEnabled(web && auth == 1);
  web_.password->setEnabled(web && auth == 1);
  web_.tokenFile->setEnabled(web && auth == 2);
  if (auto* browse = findChild<QPushButton*>("PacsTokenFileBrowse")) browse->setEnabled(web && auth == 2);
}

void TSetupFrm::ShowWeb(const DicomWebSettings& w) {
  web_.type->setCurrentIndex(w.enabled ? 1 : 0);
  web_.url->setText(QString::fromUtf8(w.url.c_str()));
  web_.auth->setCurrentIndex(int(w.auth));
  web_.user->setText(QString::fromUtf8(w.user.c_str()));
  web_.password->setText(QString::fromUtf8(w.password.c_str()));
  web_.tokenFile->setText(QString::fromLocal8Bit(w.tokenFile.c_str()));
  UpdateEnabled();
}

DicomWebSettings TSetupFrm::TypedWeb(DicomWebSettings saved) const {
  saved.enabled = web_.type->currentIndex() == 1;
  saved.url = web_.url->text().trimmed().toUtf8().toStdString();
  saved.auth = DicomWebSettings::Auth(web_.auth->currentIndex());
  saved.user = web_.user->text().toUtf8().toStdString();
  saved.password = web_.password->text().toUtf8().toStdString();
  saved.tokenFile = web_.tokenFile->text().toLocal8Bit().toStdString();
  return saved;
}

void TSetupFrm::ShowTls(const TlsControls& c, const TlsSettings& t) {
  c.use->setChecked(t.enabled);
  c.ca->setText(QString::fromLocal8Bit(t.caFile.c_str()));
  c.certificate->setText(QString::fromLocal8Bit(t.certificateFile.c_str()));
  c.key->setText(QString::fromLocal8Bit(t.keyFile.c_str()));
  c.hostCheck->setChecked(t.checkHostName);
}

// The TLS fields as typed (file names in the file system's encoding); the profile stays as saved.
TlsSettings TSetupFrm::TypedTls(const TlsControls& c, TlsSettings saved) {
  saved.enabled = c.use->isChecked();
  saved.caFile = c.ca->text().toLocal8Bit().toStdString();
  saved.certificateFile = c.certificate->text().toLocal8Bit().toStdString();
  saved.keyFile = c.key->text().toLocal8Bit().toStdString();
  saved.checkHostName = c.hostCheck->isChecked();
  return saved;
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
  setupcfg.PacsTls = TypedTls(pacsTls_, setupcfg.PacsTls);
  setupcfg.WorklistTls = TypedTls(worklistTls_, setupcfg.WorklistTls);
  setupcfg.PacsWeb = TypedWeb(setupcfg.PacsWeb);
}

void TSetupFrm::FormCreate() {
  const bool read = ReadSetupFile(setupcfg, cfgPath_);
  ShowTls(pacsTls_, setupcfg.PacsTls);  // the servers file is read either way
  ShowTls(worklistTls_, setupcfg.WorklistTls);
  ShowWeb(setupcfg.PacsWeb);
  if (read) {
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

void TSetupFrm::TestConnection(QLineEdit* aet, QLineEdit* host, QLineEdit* port, const TlsControls& tls,
                               const TlsSettings& saved) {
  const std::string called = FromQ(aet->text());
  // The calling AE title is the saved one, not the text of the "Local AET" field.
  const AssociationTarget target{setupcfg.LocalAET, called, FromQ(host->text()), FromQ(port->text()), 10, false,
                                 TypedTls(tls, saved)};
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

void TSetupFrm::Button1Click() {
  if (web_.type->currentIndex() != 1) {
    TestConnection(Edit5, Edit2, Edit3, pacsTls_, setupcfg.PacsTls);
    return;
  }
  AssociationTarget target;
  target.timeoutSeconds = 10;
  target.tls = TypedTls(pacsTls_, setupcfg.PacsTls);
  target.web = TypedWeb(setupcfg.PacsWeb);
  struct Outcome {
    bool up = false;
    std::string summary;
  };
  auto outcome = std::make_shared<Outcome>();
  work_.Start(
      BackgroundWork::State::Searching,
      [target, outcome](const BackgroundWork::Run&) { outcome->up = TestDicomWeb(target, outcome->summary); },
      [this, url = QString::fromUtf8(target.web.url.c_str()), outcome] {
        const QString summary = QString::fromUtf8(outcome->summary.c_str());
        if (outcome->up)
          Dialogs().ShowMessage(this, url + " is up and running!\n" + summary);
        else
          Dialogs().ShowMessage(this, "ERROR, " + url + " does not answer!\n" + summary);
      });
}

void TSetupFrm::Button2Click() { TestConnection(Edit6, Edit8, Edit9, worklistTls_, setupcfg.WorklistTls); }
