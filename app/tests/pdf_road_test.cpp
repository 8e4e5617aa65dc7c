// The operator's road through the real forms, offscreen, with the dialogs answered: Add PDF for a
// typed patient and for a worklist row, two Sends in one showing, the command-line document, a PACS
// that is down and the outbox sent later, and PDFs dropped onto the window. The objects go to an
// Orthanc started for the suite and are looked up there with a study search.
#include <unistd.h>

#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QPrinter>
#include <QRegularExpression>
#include <QMessageBox>
#include <QTextEdit>
#include <QLineEdit>
#include <QToolButton>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>
#include <fstream>
#include <functional>

#include "app/dicom10.h"
#include "app/tests/program_folder.h"
#include "convert/outbox.h"
#include "convert/rtf.h"
#include "convert/spelling.h"
#include "core/config.h"
#include "core/dcmobj.h"
#include "tests/support/files.h"
#include "core/log.h"
#include "edge/dialogs.h"
#include "query/findscu.h"
#include "query/studyquery.h"
#include "tests/support/files.h"
#include "tests/support/orthanc.h"
#include "tests/support/peer.h"

namespace {

using testsupport::WriteAll;

// Answers the dialogs: ShowModal shows the form and runs `onModal` on it (by default it waits until a
// form that sends by itself has closed, then closes it).
class ScriptedDialogs : public DialogLayer {
 public:
  void ShowMessage(QWidget*, const QString& text) override { messages << text; }
  void ShowError(QWidget*, const QString& text) override { messages << text; }
  void ShowDetails(QWidget*, const QString& text, const QString& details, bool) override {
    results << text;
    lastDetails = details;
  }
  bool AskYesNo(QWidget*, const QString&, const QString& text) override {
    questions << text;
    return keepInOutbox;
  }
  QString OpenFileName(QWidget*, const QString&, const QString& filter) override {
    filters << filter;
    return chosen.isEmpty() ? QString() : chosen.takeFirst();
  }
  QString OpenFileNameReadOnly(QWidget*, const QString&, const QString&, bool& readOnly) override {
    readOnly = openReadOnly;
    return chosen.isEmpty() ? QString() : chosen.takeFirst();
  }
  QString SaveFileName(QWidget*, const QString&, const QString&, QString& filter) override {
    if (!saveFilter.isEmpty()) filter = saveFilter;
    return saveAs.isEmpty() ? QString() : saveAs.takeFirst();
  }
  int AskYesNoCancel(QWidget*, const QString& title, const QString& text) override {
    questions << title + ": " + text;
    return saveAnswer;
  }
  int ShowModal(QDialog* d) override {
    d->show();
    if (onModal) {
      onModal(d);
    } else {
      // A form that sends by itself closes when done.
      for (int waited = 0; d->isVisible() && waited < 30000; waited += 20) QTest::qWait(20);
    }
    // A form closes once its work has ended.
    if (d->isVisible()) d->close();
    for (int waited = 0; d->isVisible() && waited < 30000; waited += 20) QTest::qWait(20);
    return QDialog::Rejected;
  }
  QStringList messages, results, questions, filters, chosen, saveAs;
  QString saveFilter;
  int saveAnswer = QMessageBox::No;
  bool openReadOnly = false;
  QString lastDetails;
  bool keepInOutbox = true;
  std::function<void(QDialog*)> onModal;
};

}  // namespace

class PdfRoadTest : public QObject {
  Q_OBJECT

 private:
  std::string dir_, exe_, pdfA_, pdfB_;
  std::unique_ptr<testsupport::Orthanc> orthanc_;
  ScriptedDialogs dialogs_;

  AppForms Start() {
    AppForms f = CreateForms(exe_);
    QCoreApplication::sendPostedEvents();  // the start-up event
    setupcfg.PacsAET = "ORTHANC";
    setupcfg.PacsIP = "127.0.0.1";
    setupcfg.PacsPort = std::to_string(orthanc_->port);
    setupcfg.PacsTls = testsupport::TlsCertificates::Client();
    setupcfg.InstitutionName = "Clinic";
    return f;
  }

  // The studies Orthanc holds for the patient, found with the study search.
  std::vector<StudyInfo> OnOrthanc(const std::string& patientId) {
    QueryFields f;
    f.PatientID = patientId;
    f.StudyDate = QDate::currentDate().toString("yyyyMMdd").toStdString();
    std::vector<StudyInfo> rows;
    SearchStudies(f, PacsTarget(setupcfg), [&rows](const StudyInfo& s) { rows.push_back(s); }, {});
    return rows;
  }

  // Sends one chosen PDF in each showing: Send, then Close.
  void SendChosen(const std::string& pdf) {
    dialogs_.chosen << QString::fromStdString(pdf);
    dialogs_.onModal = [](QDialog* d) { static_cast<TPDFForm*>(d)->Button3Click(); };
  }

  // Waits until the form's background work (a send) has ended.
  template <class Form>
  static void Settle(Form* form) {
    for (int waited = 0; form->Work().Busy() && waited < 30000; waited += 20) QTest::qWait(20);
  }

  static int32_t InstanceNumber(const std::string& file) {
    DcmObj o;
    return o.Read(file) ? std::stoi(o.GetString(0x0020, 0x0013)) : -1;
  }

 private slots:
  void initTestCase() {
    orthanc_ = std::make_unique<testsupport::Orthanc>();
    orthanc_->UseTls(true);  // the window's sends and searches go over TLS, with a client certificate
    QVERIFY2(orthanc_->Start(), "Orthanc is not installed or does not start (scripts/install-deps --test)");
  }
  void cleanupTestCase() {
    orthanc_.reset();
  }
  void init() {
    dir_ = EnterProgramFolder("road", dialogs_);
    QVERIFY(!dir_.empty());
    exe_ = dir_ + "/scrivara";
    pdfA_ = dir_ + "/first report.pdf";
    pdfB_ = dir_ + "/second.pdf";
    WriteAll(pdfA_, testsupport::MinimalPdf());
    WriteAll(pdfB_, "%PDF-1.4\n% second\n%%EOF\n");  // no reader opens it: sent, with a warning
    dialogs_ = ScriptedDialogs();
  }
  void cleanup() {
    LeaveProgramFolder(dir_);
  }

  void typedPatientReachesThePacsAndClearOpensANewStudy() {
    AppForms f = Start();
    f.Form1->AddPDFBtnClick();  // empty fields: the message, no form
    QCOMPARE(dialogs_.messages, QStringList{"Patient Name can't be empty"});
    f.Form1->Edit1->setText("ROAD1");
    f.Form1->Edit2->setText("Road^Rita");
    SendChosen(pdfA_);
    f.Form1->AddPDFBtnClick();
    QCOMPARE(dialogs_.filters, QStringList{"PDF Document (*.pdf)"});
    QCOMPARE(dialogs_.results, QStringList{"Files sent OK"});
    QCOMPARE(dialogs_.lastDetails, QString("first report.pdf: accepted (Little Endian Explicit VR)\n"));
    QVERIFY(dialogs_.questions.isEmpty());
    const std::string firstStudy = CurrentStudy.StudyInstanceUID;
    const std::string accession = CurrentStudy.AccessionNumber;
    QCOMPARE(accession.size(), size_t(11));
    std::vector<StudyInfo> held = OnOrthanc("ROAD1");
    QCOMPARE(held.size(), size_t(1));
    QCOMPARE(held[0].PatientName, std::string("Road^Rita"));
    QCOMPARE(held[0].StudyInstanceUID, firstStudy);
    QCOMPARE(held[0].AccessionNumber, accession);
    QCOMPARE(QDir(QString::fromStdString(dir_ + "/temp")).entryList({"*.dcm"}, QDir::Files).size(), 0);

    f.Form1->ClearBtnClick();
    f.Form1->Edit1->setText("ROAD1");
    f.Form1->Edit2->setText("Road^Rita");
    SendChosen(pdfB_);
    f.Form1->AddPDFBtnClick();
    QVERIFY(CurrentStudy.StudyInstanceUID != firstStudy);
    QVERIFY(CurrentStudy.AccessionNumber != accession);
    QCOMPARE(CurrentStudy.AccessionNumber.substr(0, 10), accession.substr(0, 10));  // within one minute:
    QCOMPARE(CurrentStudy.AccessionNumber.back(), '1');                             // only the counter
    QCOMPARE(OnOrthanc("ROAD1").size(), size_t(2));
  }

  void worklistRowAndTwoSendsInOneShowing() {
    AppForms f = Start();
    TWorklistItem item;
    item.PatientName = "List^Lena";
    item.PatientID = "ROAD2";
    item.PatientBirthDate = "19660606";
    item.AccessionNumber = "WLACC2";
    item.StudyInstanceUID = "1.2.826.0.1.3680043.9.7003.2";
    f.Form1->BeginResults();
    f.Form1->AddResult(item);
    f.Form1->EndResults();
    dialogs_.chosen << QString::fromStdString(pdfA_) << QString::fromStdString(pdfB_);
    std::vector<int32_t> numbers;
    dialogs_.onModal = [&numbers](QDialog* d) {
      auto* form = static_cast<TPDFForm*>(d);
      form->Button3Click();
      Settle(form);
      form->Button3Click();  // the first object again, then the second
      Settle(form);
      for (const BatchObject& o : form->Objects()) numbers.push_back(InstanceNumber(o.path));
      QCOMPARE(form->BatchList->topLevelItemCount(), 2);
      QCOMPARE(form->BatchList->topLevelItem(1)->text(3), QString("accepted"));
      QCOMPARE(form->BatchList->topLevelItem(0)->text(0), QString("first report.pdf"));
      QCOMPARE(form->BatchList->topLevelItem(1)->text(0),
               QString("second.pdf - a PDF reader cannot open it (damaged or cut short)"));
    };
    f.Form1->AddPDFBtnClick();
    QCOMPARE(numbers, (std::vector<int32_t>{1, 2}));
    QCOMPARE(dialogs_.results, (QStringList{"Files sent OK", "Files sent OK"}));
    std::vector<StudyInfo> held = OnOrthanc("ROAD2");
    QCOMPARE(held.size(), size_t(1));
    QCOMPARE(held[0].StudyInstanceUID, item.StudyInstanceUID);
    QCOMPARE(held[0].AccessionNumber, item.AccessionNumber);
    QCOMPARE(held[0].PatientBirthDate, item.PatientBirthDate);
    QCOMPARE(held[0].PatientName, item.PatientName);
  }

  void commandLineDocumentIsSentAtOnce() {
    CommandLineText = "\"" + pdfA_ + "\"";
    AppForms f = Start();
    QCOMPARE(f.Form1->windowTitle(), "Scrivara - 3.1.0 - " + QString::fromStdString(CommandLineText));
    f.Form1->Edit1->setText("ROAD3");
    f.Form1->Edit2->setText("Line^Leo");
    f.Form1->AddPDFBtnClick();  // no dialog: the form sends and closes by itself
    QVERIFY(dialogs_.filters.isEmpty());
    QCOMPARE(dialogs_.results, QStringList{"Files sent OK"});
    QVERIFY(!f.PDFForm->isVisible());
    f.Form1->AddPDFBtnClick();  // the same file again
    QCOMPARE(dialogs_.results.size(), 2);
    QCOMPARE(OnOrthanc("ROAD3").size(), size_t(1));
  }

  void pacsDownKeepsTheObjectsInTheOutbox() {
    AppForms f = Start();
    const std::string pacsPort = setupcfg.PacsPort;
    setupcfg.PacsPort = std::to_string(testsupport::FreePort());  // nothing listens there
    f.Form1->Edit1->setText("ROAD4");
    f.Form1->Edit2->setText("Down^Dora");
    SendChosen(pdfA_);
    f.Form1->AddPDFBtnClick();
    QCOMPARE(dialogs_.results, QStringList{"ERROR sending files, please check log file"});
    QVERIFY2(dialogs_.lastDetails.startsWith("first report.pdf: not sent: no association (cannot connect to 127.0.0.1:"),
             qPrintable(dialogs_.lastDetails));
    QCOMPARE(dialogs_.questions,
             QStringList{"1 object(s) were not accepted by the PACS. Keep them in the outbox to send later?"});
    QCOMPARE(OutboxFiles().size(), size_t(1));
    QVERIFY(!f.Form1->OutboxBtn->isHidden());
    QCOMPARE(f.Form1->OutboxBtn->text(), QString("Outbox (1)"));
    QCOMPARE(QDir(QString::fromStdString(dir_ + "/temp")).entryList({"*.dcm"}, QDir::Files).size(), 0);
    QVERIFY(QFile(QString::fromStdString(LogPath())).exists());

    // A file that is no DICOM file stays and is reported; the object reaches the PACS.
    WriteAll(OutboxFolder() + "junk.dcm", "not DICOM");
    setupcfg.PacsPort = pacsPort;
    f.Form1->OutboxBtnClick();
    QVERIFY(!f.Form1->AddPDFBtn->isEnabled());  // no other work while the outbox is sent
    Settle(f.Form1.get());
    QVERIFY(f.Form1->AddPDFBtn->isEnabled());
    QCOMPARE(dialogs_.results.last(), QString("ERROR sending files, please check log file"));
    QVERIFY(dialogs_.lastDetails.contains("junk.dcm: not read"));
    QVERIFY(dialogs_.lastDetails.contains(": accepted"));
    QCOMPARE(OutboxFiles(), std::vector<std::string>{OutboxFolder() + "junk.dcm"});
    QCOMPARE(OnOrthanc("ROAD4").size(), size_t(1));
    QFile::remove(QString::fromStdString(OutboxFolder() + "junk.dcm"));
    f.Form1->UpdateOutboxButton();
    QVERIFY(f.Form1->OutboxBtn->isHidden());

    // Answered No: the objects are deleted as before. The PACS is there this time, but wants the
    // client certificate that the settings now lack: the details say so.
    setupcfg.PacsTls.certificateFile.clear();
    setupcfg.PacsTls.keyFile.clear();
    dialogs_.keepInOutbox = false;
    SendChosen(pdfB_);
    f.Form1->AddPDFBtnClick();
    QVERIFY2(dialogs_.lastDetails.contains("TLS: ") && dialogs_.lastDetails.contains("client certificate"),
             qPrintable(dialogs_.lastDetails));
    QVERIFY(OutboxFiles().empty());
    QCOMPARE(QDir(QString::fromStdString(WorkFolder())).entryList({"*.dcm"}, QDir::Files).size(), 0);

    // An outbox that cannot be written: the message, and the object stays in this run's folder.
    QDir(QString::fromStdString(OutboxFolder())).removeRecursively();
    WriteAll(dir_ + "/outbox", "in the way");
    dialogs_.keepInOutbox = true;
    SendChosen(pdfA_);
    f.Form1->AddPDFBtnClick();
    QVERIFY(dialogs_.messages.last().startsWith("1 object(s) could not be moved to "));
    QCOMPARE(QDir(QString::fromStdString(WorkFolder())).entryList({"*.dcm"}, QDir::Files).size(), 1);
    QVERIFY(WorkFolder().rfind(dir_ + "/temp/run-", 0) == 0);
  }

  void reportEditorStylesSizesAndFiles() {
    AppForms f = Start();
    f.Form1->Edit1->setText("ROAD6");
    f.Form1->Edit2->setText("Edit^Eva");
    const std::string saved = dir_ + "/report.rtf";
    const std::string doc = dir_ + "/REPORT.DOC";
    QFile::copy(QString(SCRIVARA_SOURCE_DIR "/convert/tests/data/report.doc"), QString::fromStdString(doc));
    testsupport::WriteAll(dir_ + "/notes.txt", "Plain notes\n");
    dialogs_.saveAs << QString::fromStdString(dir_ + "/report");  // Save As adds the .rtf
    dialogs_.onModal = [&](QDialog* d) {
      auto* e = static_cast<TMainForm*>(d);
      QVERIFY(e->windowTitle().startsWith("Untitled - "));
      QCOMPARE(e->MainMenu->actions()[0]->text(), QString("&File"));
      QCOMPARE(e->FileSaveAs->text(), QString("Save&As"));
      e->RichEdit1->insertPlainText("Plain ");
      e->BoldButton->click();
      e->RichEdit1->insertPlainText("bold");
      e->AlignClick(2);
      QVERIFY(e->CenterAlign->isChecked());
      for (const char* size : {"0", ""}) {  // nothing happens, no message
        e->FontSize->setText(size);
        e->FontSizeChange();
      }
      QVERIFY(dialogs_.messages.isEmpty());
      e->FontSize->setText("2000");
      e->FontSizeChange();
      QCOMPARE(dialogs_.messages, QStringList{"The number must be between 1 and 1638."});
      QCOMPARE(e->FontSize->text(), QString("1638"));
      // Closing a changed text asks; Cancel keeps the editor open, Yes saves (Save As) and closes.
      dialogs_.saveAnswer = QMessageBox::Cancel;
      e->close();
      QVERIFY(e->isVisible());
      dialogs_.saveAnswer = QMessageBox::Yes;
      e->close();
      QVERIFY(!e->isVisible());
    };
    f.Form1->AddDocBtnClick();
    QCOMPARE(dialogs_.questions, (QStringList{"Confirmation: Save Changes?", "Confirmation: Save Changes?"}));
    StyledText back;
    QVERIFY(ReadRtf(testsupport::ReadAll(saved), back, saved));
    QCOMPARE(back.PlainText(), std::string("Plain bold"));
    QCOMPARE(back.paragraphs[0].alignment, Alignment::Center);
    QVERIFY(back.paragraphs[0].runs.back().bold && !back.paragraphs[0].runs.front().bold);

    // A Word document comes in as a change to an untitled report; a text file names the caption.
    dialogs_.questions.clear();
    dialogs_.onModal = [&](QDialog* d) {
      auto* e = static_cast<TMainForm*>(d);
      e->OpenFile(doc);
      QVERIFY(e->windowTitle().startsWith("Untitled - "));
      QVERIFY(e->RichEdit1->toPlainText().startsWith("Radiology report"));
      dialogs_.saveAnswer = QMessageBox::No;  // the import is a change: opening another file asks first
      dialogs_.chosen << QString::fromStdString(dir_ + "/notes.txt");
      e->FileOpenClick();
      QCOMPARE(dialogs_.questions, QStringList{"Confirmation: Save Changes?"});
      QVERIFY(e->windowTitle().startsWith("notes.txt - "));
      QVERIFY(!e->RichEdit1->document()->isUndoAvailable());  // a loaded file starts a fresh history
      QCOMPARE(e->RichEdit1->toPlainText(), QString("Plain notes\n"));
      dialogs_.chosen << QString::fromStdString(saved);
      dialogs_.openReadOnly = true;
      e->FileOpenClick();  // through the dialog, with its read-only option ticked
      QVERIFY(e->windowTitle().startsWith("report.rtf - "));
      QVERIFY(e->RichEdit1->isReadOnly());
      QCOMPARE(e->RichEdit1->toPlainText(), QString("Plain bold"));
      e->close();  // unchanged: no question
    };
    f.Form1->AddDocBtnClick();
    QCOMPARE(dialogs_.questions.size(), 1);  // the close of the unchanged read-only file asked nothing
  }

  void reportMarksMisspeltWords() {
    qputenv("LC_ALL", "en_US.UTF-8");
    AppForms f = Start();
    qunsetenv("LC_ALL");
    f.Form1->Edit1->setText("ROAD9");
    f.Form1->Edit2->setText("Spell^Sue");
    QStringList marked;
    QStringList menu;
    dialogs_.onModal = [&](QDialog* d) {
      auto* e = static_cast<TMainForm*>(d);
      QCOMPARE(e->Speller().Language(), std::string("en_US"));
      e->RichEdit1->setPlainText("The liver shows hepatomegaly, we recieve 3mm lesions.");
      const QTextBlock block = e->RichEdit1->document()->firstBlock();
      for (const QTextLayout::FormatRange& r : block.layout()->formats())
        if (r.format.underlineStyle() == QTextCharFormat::SpellCheckUnderline) marked << block.text().mid(r.start, r.length);
      const QTextCursor at = e->RichEdit1->document()->find("recieve");
      const QRect where = e->RichEdit1->cursorRect(at);
      std::unique_ptr<QMenu> m(e->SpellingMenu(where.center() - QPoint(where.width(), 0)));
      for (QAction* a : m->actions()) menu << a->text();
      e->RichEdit1->document()->setModified(false);
      e->close();
    };
    f.Form1->AddDocBtnClick();
    QCOMPARE(marked, QStringList{"recieve"});  // the medical term and "3mm" are not marked
    QVERIFY(menu.contains("receive"));
    QVERIFY(menu.contains("Add to dictionary"));
  }

  void reportPrintsInsideThePageRectangle() {
    AppForms f = Start();
    f.Form1->Edit1->setText("ROAD8");
    f.Form1->Edit2->setText("Print^Pia");
    const std::string pdf = dir_ + "/printed.pdf";
    dialogs_.onModal = [&](QDialog* d) {
      auto* e = static_cast<TMainForm*>(d);
      e->RichEdit1->insertPlainText("Printedword on the page");
      QPrinter printer(QPrinter::HighResolution);
      printer.setOutputFormat(QPrinter::PdfFormat);
      printer.setOutputFileName(QString::fromStdString(pdf));
      printer.setPageSize(QPageSize(QPageSize::A4));
      e->PrintTo(printer);
      e->RichEdit1->document()->setModified(false);
      e->close();
    };
    f.Form1->AddDocBtnClick();
    std::string boxes;
    QCOMPARE(testsupport::Run({testsupport::FindProgram("pdftotext"), "-bbox", pdf, "-"}, &boxes), 0);
    const QRegularExpression word(R"re(xMin="([0-9.]+)" yMin="([0-9.]+)" xMax="([0-9.]+)" yMax="([0-9.]+)">Printedword<)re");
    const QRegularExpressionMatch m = word.match(QString::fromStdString(boxes));
    QVERIFY2(m.hasMatch(), boxes.c_str());
    // A4 is 595 x 842 points: the text starts at the left margin (0.5 inch) below the top one (1 inch).
    QVERIFY(std::abs(m.captured(1).toDouble() - 36) < 3);
    QVERIFY(m.captured(2).toDouble() >= 71 && m.captured(2).toDouble() < 100);
    QVERIFY(m.captured(3).toDouble() < 595 - 36);
  }

  void reportSendReachesThePacsAndAFailureIsNotLost() {
    AppForms f = Start();
    f.Form1->Edit1->setText("ROAD7");
    f.Form1->Edit2->setText("Send^Sam");
    std::string sentText;
    dialogs_.onModal = [&](QDialog* d) {
      auto* e = static_cast<TMainForm*>(d);
      e->Button1Click();  // an empty report: an empty text item
      Settle(e);
      e->RichEdit1->insertPlainText("No acute findings.\nHeart normal.");
      e->Button1Click();
      Settle(e);
      // DCMTK's SR reader shows the report text.
      testsupport::Run({testsupport::FindProgram("dsrdump"), "+Pl", e->Objects().back().path}, &sentText);
      e->close();  // accepted: nothing to save, nothing for the outbox
    };
    f.Form1->AddDocBtnClick();
    QCOMPARE(dialogs_.results, (QStringList{"Files sent OK", "Files sent OK"}));
    QVERIFY2(sentText.find("No acute findings.") != std::string::npos, sentText.c_str());
    QVERIFY(sentText.find("Heart normal.") != std::string::npos);
    QVERIFY(dialogs_.questions.isEmpty());
    QCOMPARE(OnOrthanc("ROAD7").size(), size_t(1));

    // The PACS down: the report is kept, closing asks to save it and offers the outbox.
    setupcfg.PacsPort = std::to_string(testsupport::FreePort());
    dialogs_.keepInOutbox = false;
    dialogs_.onModal = [&](QDialog* d) {
      auto* e = static_cast<TMainForm*>(d);
      e->RichEdit1->insertPlainText("Typed report");
      e->Button1Click();
      Settle(e);
      e->close();
    };
    f.Form1->AddDocBtnClick();
    QCOMPARE(dialogs_.results.last(), QString("ERROR sending files, please check log file"));
    QCOMPARE(dialogs_.questions,
             (QStringList{"Confirmation: Save Changes?",
                          "1 object(s) were not accepted by the PACS. Keep them in the outbox to send later?"}));
  }

  void droppedPdfsMakeOneBatch() {
    AppForms f = Start();
    f.Form1->Edit1->setText("ROAD5");
    f.Form1->Edit2->setText("Drop^Dan");
    const QUrl a = QUrl::fromLocalFile(QString::fromStdString(pdfA_));
    const QUrl b = QUrl::fromLocalFile(QString::fromStdString(pdfB_));
    const QUrl notes = QUrl::fromLocalFile(QString::fromStdString(dir_ + "/notes.txt"));
    std::vector<std::string> pdfs;
    QVERIFY(!DroppedPdfs(f.Form1.get(), {a, notes}, pdfs));  // refused whole, naming the file
    QCOMPARE(dialogs_.messages, QStringList{"Not a PDF document: " + notes.toLocalFile()});
    QVERIFY(pdfs.empty());
    QVERIFY(DroppedPdfs(f.Form1.get(), {a, b}, pdfs));
    f.Form1->AddPdfFiles(pdfs);
    QCOMPARE(dialogs_.results, QStringList{"Files sent OK"});
    // One batch of two objects, in the order dropped.
    QCOMPARE(dialogs_.lastDetails, QString("first report.pdf: accepted (Little Endian Explicit VR)\n"
                                           "second.pdf: accepted (Little Endian Explicit VR)\n"));
    std::vector<StudyInfo> held = OnOrthanc("ROAD5");
    QCOMPARE(held.size(), size_t(1));  // one study, one series of two objects
  }
};

QTEST_MAIN(PdfRoadTest)
#include "pdf_road_test.moc"
