// Qt tests of the main window and the setup dialog, on the offscreen platform.
#include <sys/stat.h>
#include <unistd.h>

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <fstream>
#include <sstream>

#include "edge/dialogs.h"
#include "app/dicom10.h"
#include "app/tests/program_folder.h"
#include "core/config.h"
#include "core/datefmt.h"
#include "core/log.h"
#include "tests/support/dicomweb_stub.h"
#include "tests/support/files.h"
#include "tests/support/peer.h"

namespace {

using testsupport::ReadAll;
using testsupport::WriteAll;

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// Answers message boxes and modal forms without a person, keeping what was shown.
class RecordingDialogs : public DialogLayer {
 public:
  void ShowMessage(QWidget*, const QString& text) override { messages << text; }
  void ShowError(QWidget*, const QString& text) override { errors << text; }
  int ShowModal(QDialog* d) override {
    modal << d->objectName();
    return QDialog::Rejected;
  }
  QString OpenFileName(QWidget*, const QString&, const QString&) override {
    return openFileNames.isEmpty() ? QString() : openFileNames.takeFirst();
  }
  QStringList messages, errors, modal, openFileNames;
};

}  // namespace

class FormsTest : public QObject {
  Q_OBJECT

 private:
  std::string dir_, exe_;
  RecordingDialogs dialogs_;

  // A program folder of its own: "scrivara" there is a link to this test program, which carries
  // the version record, so the label file, scrivara.cfg, logs/ and temp/ are all beside it.
  AppForms Start() {
    AppForms f = CreateForms(exe_);
    QCoreApplication::sendPostedEvents();  // the start-up event
    return f;
  }
  template <class T>
  static T* Find(QObject* form, const char* name) {
    T* w = form->findChild<T*>(name);
    if (!w) qFatal("no control %s", name);
    return w;
  }

 private slots:
  void init() {
    dir_ = EnterProgramFolder("forms", dialogs_);
    QVERIFY(!dir_.empty());
    exe_ = dir_ + "/scrivara";
    dialogs_ = RecordingDialogs();
  }
  void cleanup() {
    LeaveProgramFolder(dir_);
  }

  void startWithoutConfiguration() {
    AppForms f = Start();
    QCOMPARE(f.Form1->windowTitle(), QString("Scrivara - 3.1.0"));
    QCOMPARE(ExeFolder, dir_ + "/");
    f.Form1->AboutBtnClick();  // the version box, then where the files are
    QVERIFY(dialogs_.messages.last().startsWith("Scrivara V3.1.0\n\rDICOM Converter\n\rhttps://scrivara.example\n\n"));
    QVERIFY(dialogs_.messages.last().endsWith(QString::fromStdString(
        "logs: " + dir_ + "/logs/\ntemporary files: " + dir_ + "/temp/\noutbox: " + dir_ + "/outbox/\naudit trail: " +
        dir_ + "/logs/yyyymmdd_audit.log")));
    const std::string log = dir_ + "/logs/" + QDate::currentDate().toString("yyyyMMdd").toStdString() + "_doc.log";
    QVERIFY(Exists(log));
    QCOMPARE(LogPath(), log);
    QVERIFY(QDir(QString::fromStdString(dir_ + "/temp")).exists());
    QVERIFY(!Exists(dir_ + "/scrivara.cfg"));  // defaults in use, nothing written
    QCOMPARE(setupcfg.LocalAET, std::string("SCRIVARA"));
    QCOMPARE(setupcfg.Reserved, std::string("0"));
    QCOMPARE(DebugLevel, 0);
    // The forms in their order, with their captions.
    QCOMPARE(f.SetupFrm->windowTitle(), QString("Setup"));
    QCOMPARE(f.PDFForm->windowTitle(), QString("Convert PDF"));
    QCOMPARE(f.ConfigFrm->windowTitle(), QString("Scanner Configuration"));
    QCOMPARE(f.AcquisitionForm->windowTitle(), QString("Acquisition Form"));
    // Default labels, headers, widths, pickers and the modality list.
    QCOMPARE(Find<QLabel>(f.Form1.get(), "PatientIDLbl")->text(), QString("Patient ID"));
    QCOMPARE(f.Form1->EndBtn->text(), QString("End"));
    auto* grid = Find<QTableView>(f.Form1.get(), "StringGrid1");
    QCOMPARE(grid->model()->columnCount(), 7);
    QCOMPARE(f.Form1->RowCount(), 2);
    QCOMPARE(f.Form1->Cell(6, 0), QString("Study Instance UID"));
    const int widths[7] = {200, 70, 50, 70, 150, 70, 200};
    for (int c = 0; c < 7; ++c) {  // at least these, and every header shows whole
      QVERIFY(grid->columnWidth(c) >= widths[c]);
      QVERIFY(grid->columnWidth(c) >= grid->horizontalHeader()->sectionSizeHint(c));
    }
    auto* birthDate = Find<QDateEdit>(f.Form1.get(), "DateTimePicker1");
    QCOMPARE(birthDate->text(), QString("(no date)"));  // no birth date until one is picked
    QCOMPARE(Find<QDateEdit>(f.Form1.get(), "DateTimePicker2")->date(), QDate::currentDate());
    auto* modality = Find<QComboBox>(f.Form1.get(), "ComboBox1");
    QCOMPARE(modality->count(), 13);
    QCOMPARE(modality->currentText(), QString("ALL"));
    QCOMPARE(f.Form1->ModalityIndex(), -1);
    QVERIFY(f.Form1->AddDocBtn->isEnabled() && f.Form1->AddPDFBtn->isEnabled());
  }

  void labelFileRenamesCaptionsButNotWidths() {
    WriteAll(dir_ + "/scrivara.ini",
             "[mainform]\r\nEndBtn=Exit\r\nStringGrid1Name=Patient\r\npatientidlbl=MRN\r\n[Other]\r\nClearBtn=No\r\n");
    AppForms f = Start();
    QCOMPARE(f.Form1->EndBtn->text(), QString("Exit"));
    QCOMPARE(Find<QLabel>(f.Form1.get(), "PatientIDLbl")->text(), QString("MRN"));
    QCOMPARE(f.Form1->Cell(0, 0), QString("Patient"));
    QCOMPARE(f.Form1->ClearBtn->text(), QString("Clear"));
    QCOMPARE(f.Form1->StringGrid1->columnWidth(0), 200);
  }

  void commandLineDocumentSelectsItsButton_data() {
    QTest::addColumn<QString>("arg");
    QTest::addColumn<bool>("docEnabled");
    QTest::addColumn<bool>("pdfEnabled");
    QTest::newRow("pdf") << "/a/report.pdf" << false << true;
    QTest::newRow("doc") << "/a/letter.doc" << true << false;
    QTest::newRow("upper case") << "/a/report.PDF" << true << true;
    QTest::newRow("quoted") << "\"/a/report.pdf\"" << true << true;
    QTest::newRow("dot in folder only") << "/a.pdf/report" << true << true;
  }
  void commandLineDocumentSelectsItsButton() {
    QFETCH(QString, arg);
    QFETCH(bool, docEnabled);
    QFETCH(bool, pdfEnabled);
    CommandLineText = arg.toStdString();
    AppForms f = Start();
    QCOMPARE(f.Form1->windowTitle(), "Scrivara - 3.1.0 - " + arg);
    QCOMPARE(f.Form1->AddDocBtn->isEnabled(), docEnabled);
    QCOMPARE(f.Form1->AddPDFBtn->isEnabled(), pdfEnabled);
    QCOMPARE(f.Form1->PresetPdfFile(), arg.remove('"').toStdString());
  }

  void existingConfigurationFillsTheSetupDialog() {
    WriteAll(dir_ + "/scrivara.cfg", "ME\r\nClinic\r\nARCHIVE\r\n127.0.0.1\r\n11112\r\nWL\r\n127.0.0.1\r\n4242\r\n5\r\nTRUE\r\n");
    AppForms f = Start();
    QCOMPARE(Find<QLineEdit>(f.SetupFrm.get(), "Edit4")->text(), QString("ME"));
    QCOMPARE(Find<QLineEdit>(f.SetupFrm.get(), "Edit5")->text(), QString("ARCHIVE"));
    QCOMPARE(Find<QLineEdit>(f.SetupFrm.get(), "Edit9")->text(), QString("4242"));
    QVERIFY(Find<QCheckBox>(f.SetupFrm.get(), "CheckBox1")->isChecked());
    QCOMPARE(DebugLevel, 2);
    QCOMPARE(setupcfg.Reserved, std::string("5"));
  }

  void setupOkStoresAndCancelLeavesAlone() {
    AppForms f = Start();
    f.Form1->SetupBtn->click();
    QCOMPARE(dialogs_.modal, QStringList{"SetupFrm"});
    auto* pacsAet = Find<QLineEdit>(f.SetupFrm.get(), "Edit5");
    auto* debug = Find<QCheckBox>(f.SetupFrm.get(), "CheckBox1");

    // Cancel: neither setupcfg nor the file change; the typed text stays in the field.
    pacsAet->setText("TYPED");
    Find<QPushButton>(f.SetupFrm.get(), "BitBtn2")->click();
    QCOMPARE(f.SetupFrm->result(), int(QDialog::Rejected));
    QCOMPARE(setupcfg.PacsAET, std::string("PACS"));
    QVERIFY(!Exists(dir_ + "/scrivara.cfg"));
    QCOMPARE(pacsAet->text(), QString("TYPED"));

    // OK with debug logging: ten lines ending in TRUE, detail logging on at once.
    debug->setChecked(true);
    Find<QPushButton>(f.SetupFrm.get(), "BitBtn1")->click();
    QCOMPARE(f.SetupFrm->result(), int(QDialog::Accepted));
    QCOMPARE(setupcfg.PacsAET, std::string("TYPED"));
    QCOMPARE(ReadAll(dir_ + "/scrivara.cfg"),
             std::string("SCRIVARA\r\nInstitution Name\r\nTYPED\r\n127.0.0.1\r\n104\r\nWORKLIST\r\n127.0.0.1\r\n104\r\n0\r\nTRUE\r\n"));
    QCOMPARE(DebugLevel, 2);

    // Unticked: "FALSE" is stored, but the detail lines go on until the next start.
    debug->setChecked(false);
    Find<QPushButton>(f.SetupFrm.get(), "BitBtn1")->click();
    QVERIFY(ReadAll(dir_ + "/scrivara.cfg").find("\r\n0\r\nFALSE\r\n") != std::string::npos);
    QCOMPARE(DebugLevel, 2);

    // TLS for the worklist server: its fields come alive with the box and go to the servers file.
    auto* ca = Find<QLineEdit>(f.SetupFrm.get(), "WorklistCaFile");
    QVERIFY(!ca->isEnabled());
    Find<QCheckBox>(f.SetupFrm.get(), "WorklistUseTls")->setChecked(true);
    QVERIFY(ca->isEnabled());
    dialogs_.openFileNames = {"/srv/ca.pem"};
    Find<QPushButton>(f.SetupFrm.get(), "WorklistCaFileBrowse")->click();
    QCOMPARE(ca->text(), QString("/srv/ca.pem"));
    Find<QPushButton>(f.SetupFrm.get(), "BitBtn1")->click();
    QVERIFY(setupcfg.WorklistTls.enabled && !setupcfg.PacsTls.enabled);
    QCOMPARE(setupcfg.WorklistTls.caFile, std::string("/srv/ca.pem"));
    QVERIFY(ReadAll(dir_ + "/scrivara-servers.ini").find("[Worklist TLS]\nUseTLS=true\nProfile=bcp195-nd\nCAFile=/srv/ca.pem") !=
            std::string::npos);
    QVERIFY(dialogs_.errors.isEmpty());
  }

  void setupOkReportsAFileThatCannotBeWritten() {
    AppForms f = Start();
    ::mkdir((dir_ + "/scrivara.cfg").c_str(), 0755);  // a folder in the file's place
    Find<QLineEdit>(f.SetupFrm.get(), "Edit4")->setText("NEW");
    Find<QPushButton>(f.SetupFrm.get(), "BitBtn1")->click();
    QCOMPARE(dialogs_.errors.size(), 1);
    QVERIFY(dialogs_.errors[0].contains("scrivara.cfg"));
    QCOMPARE(setupcfg.LocalAET, std::string("NEW"));
    QVERIFY(ReadAll(LogPath()).find("ERROR, WriteSetupFile, couldn't write") != std::string::npos);
  }

  void fillingTheCurrentStudy() {
    AppForms f = Start();
    setupcfg.InstitutionName = "Clinic";  // as after a confirmed setup dialog
    TForm1& w = *f.Form1;
    QVERIFY(!w.FillCurrentStudy(TForm1::Conversion::Pdf));
    QCOMPARE(dialogs_.messages.last(), QString("Patient Name can't be empty"));
    w.Edit2->setText("Doe^Jane");
    QVERIFY(!w.FillCurrentStudy(TForm1::Conversion::Pdf));
    QCOMPARE(dialogs_.messages.last(), QString("Patient ID can't be empty"));

    w.Edit1->setText("0042");
    QVERIFY(w.FillCurrentStudy(TForm1::Conversion::Pdf));
    QCOMPARE(CurrentStudy.PatientBirthDate, std::string());  // untouched: no birth date, not today
    w.DateTimePicker1->setDate(QDate(1970, 5, 17));
    QVERIFY(w.FillCurrentStudy(TForm1::Conversion::Scan));
    QCOMPARE(CurrentStudy.PatientID, std::string("0042"));
    QCOMPARE(CurrentStudy.PatientBirthDate, std::string("19700517"));
    QCOMPARE(CurrentStudy.InstitutionName, std::string("Clinic"));
    QCOMPARE(CurrentStudy.ModalitiesInStudy, std::string("OT"));  // "ALL"
    QCOMPARE(CurrentStudy.StudyDate, QDate::currentDate().toString("yyyyMMdd").toStdString());
    QCOMPARE(CurrentStudy.StudyTime.size(), size_t(6));
    const std::string first = CurrentStudy.AccessionNumber;
    QCOMPARE(first.size(), size_t(11));
    QVERIFY(first.back() == '0');
    // A typed-in patient keeps the accession number of the conversion before, until Clear.
    QVERIFY(w.FillCurrentStudy(TForm1::Conversion::Doc));
    QCOMPARE(CurrentStudy.AccessionNumber, first);
    w.ClearBtnClick();
    QCOMPARE(w.DateTimePicker1->text(), QString("(no date)"));
    QCOMPARE(CurrentStudy.AccessionNumber, std::string());
    QCOMPARE(w.ComboBox1->currentText(), QString());
    QCOMPARE(w.Edit2->text(), QString());
    w.Edit1->setText("1");
    w.Edit2->setText("X");
    AccessionCounter = 9999;
    QVERIFY(w.FillCurrentStudy(TForm1::Conversion::Scan));
    QVERIFY(CurrentStudy.AccessionNumber.size() == 14 && CurrentStudy.AccessionNumber.substr(10) == "9999");
    CurrentStudy.AccessionNumber.clear();
    w.ComboBox1->setCurrentIndex(11);
    QVERIFY(w.FillCurrentStudy(TForm1::Conversion::Scan));
    QCOMPARE(CurrentStudy.AccessionNumber.substr(10), std::string("0"));  // the counter starts again
    QCOMPARE(CurrentStudy.ModalitiesInStudy, std::string("NM"));
  }

  void resultRowsSortAndFeedTheCurrentStudy() {
    qputenv("LC_ALL", "de_DE.UTF-8");
    AppForms f = Start();
    TForm1& w = *f.Form1;
    w.BeginResults();
    StudyInfo smith;
    smith.PatientName = "smith";
    smith.PatientID = "S1";
    smith.PatientBirthDate = "19800203";
    smith.StudyInstanceUID = "1.2.3";
    smith.AccessionNumber = "ACC1";
    TWorklistItem adams;
    adams.PatientName = "Adams";
    adams.PatientID = "A1";
    adams.RequestedProcedureDescription = "Chest";
    w.AddResult(smith);
    w.AddResult(adams);
    w.EndResults();
    QCOMPARE(w.RowCount(), 3);
    QCOMPARE(w.Cell(0, 1), QString("Adams"));
    QCOMPARE(w.Cell(4, 1), QString("Chest"));
    QCOMPARE(w.Cell(3, 1), QString());  // no birth date: empty cell
    QCOMPARE(w.Cell(3, 2), QString("03/02/1980"));
    // The selected row decides the patient; the display date goes back to yyyymmdd.
    w.StringGrid1->selectRow(1);
    QVERIFY(w.FillCurrentStudy(TForm1::Conversion::Pdf));
    QCOMPARE(CurrentStudy.PatientName, std::string("smith"));
    QCOMPARE(CurrentStudy.PatientBirthDate, std::string("19800203"));
    QCOMPARE(CurrentStudy.StudyInstanceUID, std::string("1.2.3"));
    QCOMPARE(CurrentStudy.AccessionNumber, std::string("ACC1"));
    qunsetenv("LC_ALL");
    // An empty search leaves one empty row 1.
    w.BeginResults();
    w.EndResults();
    QCOMPARE(w.RowCount(), 2);
  }

  void namesAreShownDecodedAndFiledAsSentOrTyped() {
    AppForms f = Start();
    setupcfg.InstitutionName = "Clinic";
    TForm1& w = *f.Form1;
    // A Cyrillic row as the server sent it (ISO_IR 144): shown decoded, filed with its bytes and set.
    StudyInfo ivanov;
    ivanov.PatientName = "\xB4\xDC\xD8\xE2\xE0\xD8\xD9";
    ivanov.PatientID = "RU1";
    ivanov.SpecificCharacterSet = "ISO_IR 144";
    w.BeginResults();
    w.AddResult(ivanov);
    w.EndResults();
    QCOMPARE(w.Cell(0, 1), QString::fromUtf8("\xD0\x94\xD0\xBC\xD0\xB8\xD1\x82\xD1\x80\xD0\xB8\xD0\xB9"));
    w.StringGrid1->selectRow(0);
    QVERIFY(w.FillCurrentStudy(TForm1::Conversion::Pdf));
    QCOMPARE(CurrentStudy.PatientName, ivanov.PatientName);
    QCOMPARE(CurrentStudy.SpecificCharacterSet, std::string("ISO_IR 144"));
    QCOMPARE(CurrentStudy.InstitutionName, std::string("Clinic"));
    // Typed names: by the typed rule.
    w.ClearBtnClick();
    w.Edit1->setText("CZ1");
    w.Edit2->setText(QString::fromUtf8("\xC5\xA0imon^Dvo\xC5\x99\xC3\xA1k"));
    QVERIFY(w.FillCurrentStudy(TForm1::Conversion::Pdf));
    QCOMPARE(CurrentStudy.SpecificCharacterSet, std::string("ISO_IR 192"));
    QCOMPARE(CurrentStudy.PatientName, std::string("\xC5\xA0imon^Dvo\xC5\x99\xC3\xA1k"));
    w.Edit2->setText(QString::fromUtf8("Jos\xC3\xA9^Mu\xC3\xB1oz"));
    QVERIFY(w.FillCurrentStudy(TForm1::Conversion::Pdf));
    QCOMPARE(CurrentStudy.SpecificCharacterSet, std::string("ISO_IR 100"));
    QCOMPARE(CurrentStudy.PatientName, std::string("Jos\xE9^Mu\xF1oz"));
  }

  void scannerSettingsPersistAndTakeTheNearestEntry() {
    AppForms f = Start();
    ScanConfiguration = ScanSettings();
    TConfigFrm& c = *f.ConfigFrm;
    QCOMPARE(c.ComboBox1->currentText(), QString("Color"));  // the dialog shows Color and 100 at first,
    QCOMPARE(c.ComboBox2->currentText(), QString("100"));
    QVERIFY(!ScanConfiguration.colour);  // while the settings stay grey until the first OK
    c.ComboBox2->setEditText("250");
    c.Button1Click();
    QVERIFY(ScanConfiguration.colour);
    QCOMPARE(ScanConfiguration.dpi, 200);
    QCOMPARE(c.ComboBox2->currentText(), QString("200"));
    c.ComboBox1->setEditText("gray");
    c.ComboBox2->setCurrentIndex(3);
    c.reject();  // Cancel changes nothing
    QVERIFY(ScanConfiguration.colour);
    QCOMPARE(ScanConfiguration.dpi, 200);
    c.Button1Click();
    QVERIFY(!ScanConfiguration.colour);
    QCOMPARE(c.ComboBox1->currentText(), QString("GrayScale"));
    QCOMPARE(ScanConfiguration.dpi, 300);
    // Enter takes the entry typed text stands for; a list never gains an entry of its own.
    c.show();
    const std::pair<QComboBox*, const char*> typed[] = {{c.ComboBox1, "Colour"}, {c.ComboBox2, "600"}};
    for (auto [box, text] : typed) {
      box->lineEdit()->selectAll();
      QTest::keyClicks(box->lineEdit(), text);
      QTest::keyClick(box->lineEdit(), Qt::Key_Return);
    }
    QCOMPARE(c.ComboBox1->currentText(), QString("Color"));
    QCOMPARE(c.ComboBox2->currentText(), QString("300"));
    QCOMPARE(c.ComboBox1->count(), 2);
    QCOMPARE(c.ComboBox2->count(), 4);
  }

  void everyControlHasAnAccessibleName() {
    AppForms f = Start();
    TScanDialog scan("test:0", {{"mode", "Scan mode", {"Color", "Gray"}, "Gray"}}, ScanSettings());
    for (QWidget* form :
         std::initializer_list<QWidget*>{f.Form1.get(), f.SetupFrm.get(), f.PDFForm.get(), f.MainForm.get(),
                                         f.ConfigFrm.get(), f.AcquisitionForm.get(), &scan}) {
      for (QWidget* w : form->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) ||
                             qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QAbstractButton*>(w) ||
                             qobject_cast<QAbstractItemView*>(w);
        // Qt's own parts (viewports, a spin box's line edit, the combo's list) are named by their owner.
        if (!control || w->objectName().isEmpty() || w->objectName().startsWith("qt_")) continue;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        QVERIFY2(a && !a->text(QAccessible::Name).isEmpty(), qPrintable(w->objectName()));
      }
    }
  }

  void programStartsWithoutWritingAConfiguration() {
    // The real program, copied into a folder of its own, started with a PDF path.
    const std::string exe = dir_ + "/prog/scrivara";
    QVERIFY(QDir().mkpath(QString::fromStdString(dir_ + "/prog")));
    QVERIFY(QFile::copy(SCRIVARA_PROGRAM, QString::fromStdString(exe)));
    const std::string log = dir_ + "/prog/logs/" + QDate::currentDate().toString("yyyyMMdd").toStdString() + "_doc.log";
    testsupport::Process app({exe, "/tmp/report.pdf"}, dir_ + "/prog.out");
    for (int i = 0; i < 200 && !Exists(log); ++i) QTest::qWait(50);
    QVERIFY2(Exists(log), ReadAll(dir_ + "/prog.out").c_str());
    QVERIFY(app.Running());
    QVERIFY(QDir(QString::fromStdString(dir_ + "/prog/temp")).exists());
    QVERIFY(!Exists(dir_ + "/prog/scrivara.cfg"));
    app.Stop();
  }

  // Test buttons: C-ECHO with the saved local AE title and the tab's fields as typed.
  void setupTestEchoesThePeer() {
    const std::string storescp = testsupport::FindProgram("storescp");
    QVERIFY2(!storescp.empty(), "storescp is not installed (scripts/install-deps --test)");
    const int port = testsupport::FreePort();
    testsupport::Process peer({storescp, "-aet", "STORESCP", std::to_string(port)}, dir_ + "/storescp.log");
    QVERIFY(testsupport::WaitForPort(port));
    AppForms f = Start();
    Find<QLineEdit>(f.SetupFrm.get(), "Edit4")->setText("UNSAVED");  // not used by the test
    Find<QLineEdit>(f.SetupFrm.get(), "Edit5")->setText("ARCHIVE");
    Find<QLineEdit>(f.SetupFrm.get(), "Edit2")->setText("127.0.0.1");
    Find<QLineEdit>(f.SetupFrm.get(), "Edit3")->setText(QString::number(port));
    Find<QPushButton>(f.SetupFrm.get(), "Button1")->click();
    QTRY_COMPARE(dialogs_.messages, QStringList{"ARCHIVE is up and running!"});
    QCOMPARE(setupcfg.LocalAET, std::string("SCRIVARA"));

    Find<QLineEdit>(f.SetupFrm.get(), "Edit6")->setText("NOBODY");
    Find<QLineEdit>(f.SetupFrm.get(), "Edit8")->setText("127.0.0.1");
    Find<QLineEdit>(f.SetupFrm.get(), "Edit9")->setText(QString::number(testsupport::FreePort()));
    QTRY_VERIFY(Find<QPushButton>(f.SetupFrm.get(), "Button2")->isEnabled());
    Find<QPushButton>(f.SetupFrm.get(), "Button2")->click();
    QTRY_COMPARE(dialogs_.messages.value(1).section('\n', 0, 0), QString("ERROR, NOBODY does not answer!"));
    QVERIFY2(dialogs_.messages.value(1).contains("cannot connect to 127.0.0.1:"), qPrintable(dialogs_.messages.value(1)));
  }

  // The PACS as a DICOMweb server: its fields come alive with the type and the authentication, go
  // to the servers file, and Test makes a QIDO-RS request whose HTTP status the box gives.
  void setupDicomWebFieldsAndTest() {
    testsupport::DicomWebStub stub;
    QVERIFY(stub.Started());
    AppForms f = Start();
    auto* url = Find<QLineEdit>(f.SetupFrm.get(), "PacsUrl");
    auto* user = Find<QLineEdit>(f.SetupFrm.get(), "PacsUser");
    auto* token = Find<QLineEdit>(f.SetupFrm.get(), "PacsTokenFile");
    QVERIFY(!url->isEnabled() && Find<QLineEdit>(f.SetupFrm.get(), "Edit2")->isEnabled());
    Find<QComboBox>(f.SetupFrm.get(), "PacsServerType")->setCurrentIndex(1);
    QVERIFY(url->isEnabled() && !user->isEnabled() && !Find<QLineEdit>(f.SetupFrm.get(), "Edit2")->isEnabled());
    QVERIFY(Find<QLineEdit>(f.SetupFrm.get(), "PacsCaFile")->isEnabled());  // HTTPS checks the server with it
    Find<QComboBox>(f.SetupFrm.get(), "PacsAuthentication")->setCurrentIndex(1);
    QVERIFY(user->isEnabled() && !token->isEnabled());
    url->setText(QString::fromStdString(stub.Url("ok")));
    user->setText("me");
    Find<QLineEdit>(f.SetupFrm.get(), "PacsPassword")->setText("pw");
    Find<QPushButton>(f.SetupFrm.get(), "Button1")->click();
    QTRY_COMPARE(dialogs_.messages, QStringList{url->text() + " is up and running!\nHTTP 200 OK"});
    Find<QPushButton>(f.SetupFrm.get(), "BitBtn1")->click();
    QVERIFY(setupcfg.PacsWeb.enabled);
    QCOMPARE(setupcfg.PacsWeb.user, std::string("me"));
    QVERIFY(ReadAll(dir_ + "/scrivara-servers.ini").find("[PACS DICOMweb]\nUseDICOMweb=true\nURL=" +
                                                        url->text().toStdString() +
                                                        "\nAuthentication=basic\nUser=me\nPassword=pw\n") !=
            std::string::npos);
    struct stat st {};
    QCOMPARE(::stat((dir_ + "/scrivara-servers.ini").c_str(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0600u);  // it holds the password
  }

  // Search WL fills the grid from a real worklist server, sorted by name, birth dates in display
  // form; an unreachable server leaves one empty row and a log line.
  void searchWorklistFillsTheGrid() {
    const std::string wlmscpfs = testsupport::FindProgram("wlmscpfs"), dump2dcm = testsupport::FindProgram("dump2dcm");
    QVERIFY2(!wlmscpfs.empty() && !dump2dcm.empty(), "DCMTK is not installed (scripts/install-deps --test)");
    const std::string db = dir_ + "/wl", folder = db + "/WLAE";
    QVERIFY(QDir().mkpath(QString::fromStdString(folder)));
    WriteAll(folder + "/lockfile", "");
    const std::string today = QDate::currentDate().toString("yyyyMMdd").toStdString();
    struct Entry { const char *name, *id, *birth, *accession; };
    const Entry entries[] = {{"smith^john", "P1", "19700203", "A1"}, {"Adams^Ann", "P2", "", "A2"}};
    int n = 0;
    for (const Entry& e : entries) {
      const std::string k = std::to_string(++n);
      std::string d = std::string("(0008,0005) CS [ISO_IR 100]\n(0008,0050) SH [") + e.accession + "]\n" +
                      "(0010,0010) PN [" + e.name + "]\n(0010,0020) LO [" + e.id + "]\n";
      if (*e.birth) d += std::string("(0010,0030) DA [") + e.birth + "]\n";
      d += "(0010,0040) CS [M]\n(0020,000d) UI 1.2.3." + k +
           "\n(0032,1060) LO [CT Head]\n(0040,0100) SQ (Sequence with undefined length)\n"
           "(fffe,e000) na (Item with undefined length)\n(0008,0060) CS [CT]\n(0040,0001) AE [CT01]\n"
           "(0040,0002) DA [" + today + "]\n(0040,0003) TM [0900]\n(0040,0006) PN [Perf^Doc]\n"
           "(0040,0007) LO [Head]\n(0040,0009) SH [SPS" + k + "]\n(0040,0010) SH [ST1]\n"
           "(0040,0011) SH [Room 1]\n(fffe,e00d) na (ItemDelimitationItem)\n"
           "(fffe,e0dd) na (SequenceDelimitationItem)\n(0040,1001) SH [RP" + k + "]\n";
      const std::string dumpFile = dir_ + "/e.dump", wl = folder + "/e" + k + ".wl";
      WriteAll(dumpFile, d);
      std::string out;
      QCOMPARE(testsupport::Run({dump2dcm, "-F", dumpFile, wl}, &out), 0);
    }
    const int port = testsupport::FreePort();
    testsupport::Process peer({wlmscpfs, "-dfp", db, std::to_string(port)}, dir_ + "/wlmscpfs.log");
    QVERIFY(testsupport::WaitForPort(port));

    AppForms f = Start();
    setupcfg.WorklistAET = "WLAE";
    setupcfg.WorklistIP = "127.0.0.1";
    setupcfg.WorklistPort = std::to_string(port);
    f.Form1->SearchWLBtn->click();
    QTRY_VERIFY(!f.Form1->Busy());
    QCOMPARE(f.Form1->RowCount(), 3);
    QCOMPARE(f.Form1->Cell(0, 1), QString("Adams^Ann"));
    QCOMPARE(f.Form1->Cell(3, 1), QString());  // no birth date
    QCOMPARE(f.Form1->Cell(0, 2), QString("smith^john"));
    QCOMPARE(f.Form1->Cell(3, 2), QString::fromStdString(FormatDisplayDate("19700203")));
    QCOMPARE(f.Form1->Cell(4, 2), QString("CT Head"));
    QCOMPARE(f.Form1->Cell(5, 2), QString("A1"));
    QVERIFY(f.Form1->SearchWLBtn->isEnabled());

    setupcfg.WorklistPort = std::to_string(testsupport::FreePort());
    f.Form1->SearchWLBtn->click();
    QTRY_VERIFY(!f.Form1->Busy());
    QCOMPARE(f.Form1->RowCount(), 2);
    QCOMPARE(f.Form1->Cell(0, 1), QString());
    QVERIFY(ReadAll(LogPath()).find("ERROR, couldn't connect to WLAE") != std::string::npos);
  }

  void endClosesAndCloseLogRuns() {
    AppForms f = Start();
    f.Form1->show();
    QVERIFY(!LogPath().empty());
    f.Form1->EndBtn->click();
    QVERIFY(!f.Form1->isVisible());
    QCOMPARE(LogPath(), std::string());
    f.Form1->AboutBtn->click();
    QCOMPARE(dialogs_.messages.last().left(16), QString("Scrivara V3.1.0\n"));
  }
};

QTEST_MAIN(FormsTest)
#include "forms_test.moc"
