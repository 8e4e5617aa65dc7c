// The forms while their work runs in the background, against scripted peers in this process: one
// Send at a time, text typed during a send, Save As over an existing file, a preset PDF that cannot
// be read, and a main window that answers while a slow search fills its list.
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/dicom10.h"
#include "app/tests/program_folder.h"
#include "edge/dialogs.h"
#include "query/studyquery.h"
#include "query/tests/fake_find.h"
#include "tests/support/fake_scp.h"
#include "tests/support/files.h"
#include "tests/support/peer.h"

namespace {

using testsupport::ReadAll;
using testsupport::WriteAll;

class ScriptedDialogs : public DialogLayer {
 public:
  void ShowMessage(QWidget*, const QString& text) override { messages << text; }
  void ShowError(QWidget*, const QString& text) override { messages << text; }
  void ShowDetails(QWidget*, const QString& text, const QString&, bool) override { results << text; }
  bool AskYesNo(QWidget*, const QString&, const QString& text) override {
    questions << text;
    return yes;
  }
  int AskYesNoCancel(QWidget*, const QString& title, const QString& text) override {
    questions << title + ": " + text;
    return QMessageBox::No;
  }
  QString SaveFileName(QWidget*, const QString&, const QString&, QString& filter) override {
    if (!saveFilter.isEmpty()) filter = saveFilter;
    return saveAs.isEmpty() ? QString() : saveAs.takeFirst();
  }
  QStringList messages, results, questions, saveAs;
  QString saveFilter;
  bool yes = true;
};

// Accepts an association for one object and answers its C-STORE after `delayMs`, counting the
// requests.
fakescp::FakeScp::Script SlowStore(std::atomic<int>& stores, int delayMs) {
  return [&stores, delayMs](fakescp::Connection& c) {
    fakescp::AcceptAssociation(c, "1.2.840.10008.1.2.1");
    fakescp::Message command, dataSet;
    if (c.ReadMessage(command) && c.ReadMessage(dataSet)) {
      ++stores;
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
      const auto cmd = fakescp::Parse(command.data);
      c.Send(fakescp::PData({{command.context, 0x03,
                              fakescp::StoreRSP(fakescp::MessageID(command.data), 0, fakescp::GetText(cmd, 0, 0x0002),
                                                fakescp::GetText(cmd, 0, 0x1000))}}));
    }
    fakescp::ServeRelease(c);
  };
}

}  // namespace

class FormWorkTest : public QObject {
  Q_OBJECT

 private:
  std::string dir_;
  ScriptedDialogs dialogs_;

  // The forms, for a typed-in patient; each test gives the PACS port of its own peer.
  AppForms Start(const std::string& patientId) {
    AppForms f = CreateForms(dir_ + "/scrivara");
    QCoreApplication::sendPostedEvents();  // the start-up event
    setupcfg.PacsAET = "FAKE";
    setupcfg.PacsIP = "127.0.0.1";
    setupcfg.PacsPort = "104";
    f.Form1->Edit1->setText(QString::fromStdString(patientId));
    f.Form1->Edit2->setText("Work^Wes");
    return f;
  }

 private slots:
  void init() {
    dir_ = EnterProgramFolder("form_work", dialogs_);
    QVERIFY(!dir_.empty());
    dialogs_ = ScriptedDialogs();
  }
  void cleanup() {
    LeaveProgramFolder(dir_);
  }

  // Send twice in a row sends one report; what is typed during the send stays and still counts as
  // a change, so that closing asks to save it.
  void reportSendsOnceAndKeepsWhatIsTypedMeanwhile() {
    AppForms f = Start("WORK1");
    std::atomic<int> stores{0};
    fakescp::FakeScp scp(SlowStore(stores, 400));  // a second association would find no peer
    setupcfg.PacsPort = scp.PortText();
    QVERIFY(f.Form1->FillCurrentStudy(TForm1::Conversion::Doc));
    TMainForm& e = *f.MainForm;
    e.show();
    QTest::keyClicks(e.RichEdit1, "Findings");
    e.Button1->click();
    QVERIFY(!e.Button1->isEnabled());
    e.Button1Click();  // a second Send while the first runs does nothing
    QTest::keyClicks(e.RichEdit1, " typed meanwhile");
    QTRY_VERIFY_WITH_TIMEOUT(!e.Work().Busy(), 30000);
    QCOMPARE(dialogs_.results, QStringList{"Files sent OK"});
    QCOMPARE(e.Objects().size(), size_t(1));
    QCOMPARE(e.RichEdit1->toPlainText(), QString("Findings typed meanwhile"));
    QVERIFY(e.RichEdit1->document()->isModified());
    e.close();
    QCOMPARE(dialogs_.questions, QStringList{"Confirmation: Save Changes?"});
    scp.Join();
    QCOMPARE(stores.load(), 1);
  }

  // Save As asks before it replaces a file, and the chosen filter decides the extension and format.
  void saveAsAsksBeforeReplacingAndTakesTheFilter() {
    AppForms f = Start("WORK2");
    QVERIFY(f.Form1->FillCurrentStudy(TForm1::Conversion::Doc));
    TMainForm& e = *f.MainForm;
    e.show();
    WriteAll(dir_ + "/report.rtf", "{\\rtf1 old}");
    e.RichEdit1->setPlainText("New text");
    dialogs_.saveAs << QString::fromStdString(dir_ + "/report");
    dialogs_.yes = false;
    QVERIFY(!e.FileSaveAsClick());
    QCOMPARE(dialogs_.questions, QStringList{"report.rtf already exists.\nDo you want to replace it?"});
    QCOMPARE(ReadAll(dir_ + "/report.rtf"), std::string("{\\rtf1 old}"));
    dialogs_.saveAs << QString::fromStdString(dir_ + "/notes");
    dialogs_.saveFilter = "Text Files (*.TXT *.txt)";
    QVERIFY(e.FileSaveAsClick());
    QCOMPARE(ReadAll(dir_ + "/notes.txt"), std::string("New text"));
    QVERIFY(e.windowTitle().startsWith("notes.txt - "));
    e.close();
  }

  // A preset PDF that cannot be read is named; the others are sent and the form stays open.
  void unreadablePresetIsNamedAndTheRestIsSent() {
    AppForms f = Start("WORK3");
    std::atomic<int> stores{0};
    fakescp::FakeScp scp(SlowStore(stores, 0));
    setupcfg.PacsPort = scp.PortText();
    QVERIFY(f.Form1->FillCurrentStudy(TForm1::Conversion::Pdf));
    const std::string missing = dir_ + "/missing.pdf", good = dir_ + "/good.pdf";
    WriteAll(good, "%PDF-1.4\n%%EOF\n");
    TPDFForm& form = *f.PDFForm;
    form.PresetFiles = {missing, good};
    form.show();
    QTRY_VERIFY_WITH_TIMEOUT(!dialogs_.results.isEmpty(), 30000);
    QCOMPARE(dialogs_.messages, QStringList{"Cannot convert " + QString::fromStdString(missing) +
                                            ": the file is missing, unreadable, empty or not a PDF document."});
    QCOMPARE(dialogs_.results, QStringList{"Files sent OK"});
    QTRY_VERIFY(!form.Work().Busy());
    QVERIFY(form.isVisible());
    QCOMPARE(form.Objects().size(), size_t(1));
    form.close();
    QVERIFY(dialogs_.questions.isEmpty());  // the one object was accepted
    QCOMPARE(stores.load(), 1);
  }

  // The window answers while a slow search fills the list: rows show as they arrive, and a queued
  // call never waits 100 ms.
  void windowAnswersWhileASlowSearchFillsTheList() {
    AppForms f = Start("WORK4");
    querytest::Seen seen;
    fakescp::FakeScp scp(querytest::FindScript(seen, [](fakescp::Connection& c, uint16_t id) {
      for (int i = 0; i < 300; ++i) {
        querytest::SendFind(c, id, 0xFF00, kStudyRootFind, querytest::StudyMatch("Row^" + std::to_string(i), "1"));
        if (i % 10 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      querytest::SendFind(c, id, 0x0000, kStudyRootFind);
    }));
    setupcfg.PacsPort = scp.PortText();
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    bool rowsWhileSearching = false;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
      longest = std::max(longest, clock.elapsed() - last);
      last = clock.elapsed();
      rowsWhileSearching = rowsWhileSearching || (f.Form1->Busy() && f.Form1->RowCount() > 2);
    });
    f.Form1->SearchPACSBtn->click();
    QVERIFY(f.Form1->Busy());
    QVERIFY(!f.Form1->AddPDFBtn->isEnabled() && !f.Form1->SearchWLBtn->isEnabled());
    clock.start();
    tick.start(10);
    QTRY_VERIFY_WITH_TIMEOUT(!f.Form1->Busy(), 20000);
    tick.stop();
    QCOMPARE(f.Form1->RowCount(), 301);
    QCOMPARE(f.Form1->Cell(0, 1), QString("Row^0"));
    QVERIFY(rowsWhileSearching);
    QVERIFY2(longest < 100, QByteArray::number(longest));
    QVERIFY(f.Form1->AddPDFBtn->isEnabled());
  }
};

QTEST_MAIN(FormWorkTest)
#include "form_work_test.moc"
