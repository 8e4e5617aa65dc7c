// The acquisition form on the operator's road, offscreen, with SANE's test backend only (a
// configuration folder of the test's own) and an Orthanc started for the suite: pages scanned,
// previewed and sent as one series, thumbnails, our scan dialog, statuses, the feeder, pages
// deleted and turned, pages from image files, and the outbox on close.
#include <dlfcn.h>
#include <signal.h>

#include <QAction>
#include <QComboBox>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QElapsedTimer>
#include <QTest>
#include <functional>
#include <set>

#include "app/dicom10.h"
#include "app/tests/program_folder.h"
#include "convert/outbox.h"
#include "core/dcmobj.h"
#include "edge/dialogs.h"
#include "tests/support/files.h"
#include "tests/support/orthanc.h"
#include "tests/support/peer.h"

namespace {

using testsupport::WriteAll;

constexpr const char kSaneTestBackend[] = "/usr/lib/x86_64-linux-gnu/sane/libsane-test.so.1";

// Answers the dialogs. The acquisition form runs `onForm`; our scan dialog is answered by
// `onScanDialog` (Scan by default) after it has shown its lists.
class ScriptedDialogs : public DialogLayer {
 public:
  void ShowMessage(QWidget*, const QString& text) override { messages << text; }
  void ShowError(QWidget*, const QString& text) override { messages << text; }
  void ShowDetails(QWidget*, const QString& text, const QString&, bool) override { results << text; }
  bool AskYesNo(QWidget*, const QString&, const QString& text) override {
    questions << text;
    return yes;
  }
  QStringList OpenFileNames(QWidget*, const QString&, const QString& filter) override {
    filters << filter;
    return std::exchange(files, {});
  }
  int ShowModal(QDialog* d) override {
    d->show();
    if (auto* scan = qobject_cast<TScanDialog*>(d)) {
      if (onScanDialog)
        onScanDialog(scan);
      else
        scan->ScanButton->click();
    } else if (auto* form = qobject_cast<TAcquisitionForm*>(d); form && onForm) {
      WaitIdle(form);  // the scanner list
      onForm(form);
    }
    if (d->isVisible()) d->close();
    return d->result();
  }
  static void WaitIdle(TAcquisitionForm* form) {
    for (int waited = 0; form->Busy() && waited < 60000; waited += 10) QTest::qWait(10);
  }
  QStringList messages, results, questions, filters, files;
  bool yes = true;
  std::function<void(TScanDialog*)> onScanDialog;
  std::function<void(TAcquisitionForm*)> onForm;
};

// Settings for the test backend's page (A4 proportions within its 200 mm square): the picture and
// how it is delivered.
void Page(const std::string& picture, const std::vector<std::pair<std::string, std::string>>& more = {}) {
  ScanConfiguration.colour = true;
  ScanConfiguration.dpi = 75;
  ScanConfiguration.options = {{"test-picture", picture}, {"three-pass", "no"},   {"hand-scanner", "no"},
                               {"read-limit", "no"},      {"read-delay", "no"},   {"read-return-value", "Default"},
                               {"br-x", "141"},           {"br-y", "200"}};
  for (const auto& m : more) ScanConfiguration.options.push_back(m);
}

// Scans with the form and waits for the run to end.
void Scan(TAcquisitionForm* form) {
  form->Button3Click();
  ScriptedDialogs::WaitIdle(form);
}

QImage Slot(TAcquisitionForm* form, int index) {
  return form->Image1->grab().toImage().copy(index * 96, 0, 96, 96).convertToFormat(QImage::Format_RGB32);
}

bool IsWhite(QRgb c) { return qRed(c) > 240 && qGreen(c) > 240 && qBlue(c) > 240; }

}  // namespace

class AcquisitionRoadTest : public QObject {
  Q_OBJECT

 private:
  std::string dir_, exe_, saneDir_;
  std::unique_ptr<testsupport::Orthanc> orthanc_;
  ScriptedDialogs dialogs_;

  AppForms Start(const std::string& patientId) {
    AppForms f = CreateForms(exe_);
    QCoreApplication::sendPostedEvents();  // the start-up event
    setupcfg.PacsAET = "ORTHANC";
    setupcfg.PacsIP = "127.0.0.1";
    setupcfg.PacsPort = std::to_string(orthanc_->port);
    setupcfg.PacsTls = testsupport::TlsCertificates::Client();
    f.Form1->Edit1->setText(QString::fromStdString(patientId));
    f.Form1->Edit2->setText("Scan^Sam");
    return f;
  }

  // The instances Orthanc holds for the patient: "series/number" each.
  QStringList OnOrthanc(const std::string& patientId) {
    const std::string out = orthanc_->Rest(
        "/tools/find", "{\"Level\":\"Instance\",\"Expand\":true,\"Query\":{\"PatientID\":\"" + patientId + "\"}}");
    QStringList found;
    const QString json = QString::fromStdString(out);
    QRegularExpression number("\"InstanceNumber\"\\s*:\\s*\"(\\d+)\""), series("\"ParentSeries\"\\s*:\\s*\"([^\"]+)\"");
    // One match of each per instance, in the same order.
    auto n = number.globalMatch(json), s = series.globalMatch(json);
    while (n.hasNext() && s.hasNext()) found << s.next().captured(1) + "/" + n.next().captured(1);
    found.sort();
    return found;
  }

 private slots:
  void initTestCase() {
    // The test backend stays loaded when SANE lets it go, so that the leak checker can name what it
    // keeps (scripts/lsan.supp).
    static void* const kKeep = ::dlopen(kSaneTestBackend, RTLD_NOW | RTLD_NODELETE);
    (void)kKeep;
    // A cancelled scan closes the pipe the backend writes to. The program ignores SIGPIPE for that
    // (SaneSession); Qt Test's own handler would take it for a crash.
    ::signal(SIGPIPE, SIG_IGN);
    saneDir_ = testsupport::MakeTempDir("acq_sane");
    WriteAll(saneDir_ + "/dll.conf", "test\n");
    WriteAll(saneDir_ + "/dll.conf", "test\n");
    ::setenv("SANE_CONFIG_DIR", saneDir_.c_str(), 1);
    orthanc_ = std::make_unique<testsupport::Orthanc>();
    orthanc_->UseTls(true);  // the window's sends and searches go over TLS, with a client certificate
    QVERIFY2(orthanc_->Start(), "Orthanc is not installed or does not start (scripts/install-deps --test)");
  }
  void cleanupTestCase() {
    orthanc_.reset();
    ::unsetenv("SANE_CONFIG_DIR");
    testsupport::RemoveTree(saneDir_);
  }
  void init() {
    dir_ = EnterProgramFolder("acq", dialogs_);
    QVERIFY(!dir_.empty());
    exe_ = dir_ + "/scrivara";
    dialogs_ = ScriptedDialogs();
  }
  void cleanup() {
    LeaveProgramFolder(dir_);
  }

  void threeScansAreSentAsOneSeries() {
    AppForms f = Start("SCAN1");
    QList<int> progress;
    dialogs_.onForm = [&](TAcquisitionForm* form) {
      QCOMPARE(form->windowTitle(), QString("Acquisition Form - Scan^Sam"));
      QCOMPARE(form->ComboBox1->count(), 2);
      QCOMPARE(form->ComboBox1->currentText(), QString("Noname frontend-tester"));
      Page("Color pattern");
      for (int i = 0; i < 3; ++i) Scan(form);
      QCOMPARE(form->Objects().size(), size_t(3));
      QVERIFY(dialogs_.messages.isEmpty());
      connect(form->ProgressBar1, &QProgressBar::valueChanged, form, [&progress](int v) { progress << v; });
      form->Button2->click();
      ScriptedDialogs::WaitIdle(form);
      QCOMPARE(dialogs_.results, QStringList{"Files sent OK"});
    };
    f.Form1->ScanBtnClick();
    QCOMPARE(progress, (QList<int>{33, 66, 100, 0}));
    const QStringList held = OnOrthanc("SCAN1");
    QCOMPARE(held.size(), 3);
    const QString series = held[0].section('/', 0, 0);
    QCOMPARE(held, (QStringList{series + "/1", series + "/2", series + "/3"}));
    QVERIFY(dialogs_.questions.isEmpty());  // everything was accepted: nothing to keep
    QCOMPARE(QDir(QString::fromStdString(dir_ + "/temp")).entryList({"*.dcm"}, QDir::Files).size(), 0);
    // The page went through the hand-over file beside the program.
    QVERIFY(QFileInfo(QString::fromStdString(dir_ + "/test.bmp")).size() > 400 * 580 * 3);
  }

  void previewThumbnailsAndTheScanDialog() {
    AppForms f = Start("SCAN2");
    dialogs_.onForm = [&](TAcquisitionForm* form) {
      // Our dialog offers the device's settings, preset from the configuration; Cancel adds nothing.
      Page("Solid white");
      QStringList offered;
      dialogs_.onScanDialog = [&offered](TScanDialog* d) {
        for (QComboBox* list : d->Lists) offered << list->objectName() + "=" + list->currentText();
        d->CancelButton->click();
      };
      Scan(form);
      QCOMPARE(offered, (QStringList{"mode=Color", "resolution=75", "source=Flatbed"}));
      QVERIFY(form->Objects().empty());
      QVERIFY(dialogs_.messages.isEmpty());
      dialogs_.onScanDialog = nullptr;

      // An A4 portrait page fills the height, centred across: (640 - 338) / 2 = 151 to 489.
      QList<int> progress;
      auto watch = connect(form->ProgressBar1, &QProgressBar::valueChanged, form, [&progress](int v) { progress << v; });
      Scan(form);
      disconnect(watch);
      QVERIFY(std::any_of(progress.begin(), progress.end(), [](int v) { return v > 0 && v < 100; }));
      QImage preview = form->Image2->pixmap().toImage();
      QCOMPARE(preview.size(), QSize(640, 480));
      QCOMPARE(QColor(preview.pixel(0, 240)), QColor(Qt::black));  // the outline
      QVERIFY(IsWhite(preview.pixel(100, 240)));
      QVERIFY(IsWhite(preview.pixel(320, 240)));
      // Landscape: the full width, centred down.
      Page("Solid black", {{"br-x", "200"}, {"br-y", "141"}});
      Scan(form);
      preview = form->Image2->pixmap().toImage();
      QVERIFY(IsWhite(preview.pixel(320, 8)));    // above the page
      QVERIFY(!IsWhite(preview.pixel(320, 30)));  // the page
      QVERIFY(!IsWhite(preview.pixel(5, 240)));

      // Thumbnails: the white page with black margins, the number in white at the top left.
      QCOMPARE(form->Objects().size(), size_t(2));
      const QImage first = Slot(form, 0), second = Slot(form, 1);
      QVERIFY(IsWhite(first.pixel(48, 60)));
      QCOMPARE(QColor(first.pixel(90, 60)), QColor(Qt::black));
      bool numbered = false;
      for (int y = 0; y < 18; ++y)
        for (int x = 0; x < 12; ++x) numbered = numbered || IsWhite(second.pixel(x, y));
      QVERIFY(numbered);
      QCOMPARE(QColor(second.pixel(48, 48)), QColor(Qt::black));

      // A three-pass page is the one-pass page.
      Page("Color pattern");
      Scan(form);
      Page("Color pattern", {{"three-pass", "yes"}});
      Scan(form);
      QCOMPARE(form->Objects().size(), size_t(4));
      const QImage one = Slot(form, 2), three = Slot(form, 3);
      QCOMPARE(one.copy(20, 20, 56, 56), three.copy(20, 20, 56, 56));
      // A hand scanner (length unknown) gives a page too; a right click on the form scans as Scan does.
      Page("Grid", {{"hand-scanner", "yes"}});
      QTest::mouseClick(form, Qt::RightButton, {}, QPoint(form->width() - 5, 5));
      ScriptedDialogs::WaitIdle(form);
      QCOMPARE(form->Objects().size(), size_t(5));
      QVERIFY(dialogs_.messages.isEmpty());
    };
    f.Form1->ScanBtnClick();
    QCOMPARE(dialogs_.questions.size(), 1);  // never sent: the outbox question on close
  }

  void statusesCancelAndTheFeeder() {
    AppForms f = Start("SCAN3");
    dialogs_.onForm = [&](TAcquisitionForm* form) {
      Page("Grid", {{"read-return-value", "SANE_STATUS_JAMMED"}});
      Scan(form);
      QCOMPARE(dialogs_.messages, QStringList{"ERROR, acquiring image: 00000006 Document feeder jammed"});
      QVERIFY(form->Objects().empty());

      // A slow scan: Cancel ends it with no page and no message.
      dialogs_.messages.clear();
      Page("Grid", {{"read-limit", "yes"}, {"read-limit-size", "1000"}, {"read-delay", "yes"},
                    {"read-delay-duration", "200000"}});
      form->Button3Click();
      QVERIFY(form->Busy());
      QVERIFY(!form->Button1->isEnabled());
      // The first rows come within a second; the bound is generous for a loaded machine (the
      // sanitizer build beside other work), since a miss leaves the slow scan running to the end.
      QTRY_VERIFY_WITH_TIMEOUT(form->ProgressBar1->value() > 0, 30000);
      form->CancelButton->click();
      ScriptedDialogs::WaitIdle(form);
      QVERIFY(form->Objects().empty());
      QVERIFY(dialogs_.messages.isEmpty());
      QCOMPARE(form->ProgressBar1->value(), 0);

      // The feeder: one Scan takes every sheet (the test backend's feeder holds ten).
      Page("Grid");
      dialogs_.onScanDialog = [](TScanDialog* d) {
        d->Lists[2]->setCurrentText("Automatic Document Feeder");
        d->ScanButton->click();
      };
      Scan(form);
      QCOMPARE(form->Objects().size(), size_t(10));
      QVERIFY(dialogs_.messages.isEmpty());
      // An empty feeder is said so.
      Page("Grid", {{"read-return-value", "SANE_STATUS_NO_DOCS"}});
      Scan(form);
      QCOMPARE(dialogs_.messages, QStringList{"ERROR, acquiring image: 00000007 Document feeder out of documents"});
      QCOMPARE(form->Objects().size(), size_t(10));
      dialogs_.yes = false;
    };
    f.Form1->ScanBtnClick();
    QCOMPARE(dialogs_.questions.size(), 1);
    QVERIFY(OutboxFiles().empty());  // not kept: deleted
  }

  void pagesDeletedTurnedAndFromFiles() {
    AppForms f = Start("SCAN4");
    // A PNG and a three-page TIFF (uncompressed, one strip per page) whose second page is damaged:
    // its strip lies beyond the end of the file.
    QImage png(300, 200, QImage::Format_RGB32);
    png.fill(Qt::red);
    QVERIFY(png.save(QString::fromStdString(dir_ + "/photo.png")));
    std::string tiff = std::string("II*\0", 4) + std::string("\x08\0\0\0", 4);
    auto put16 = [&tiff](uint16_t v) { tiff += char(v & 0xFF), tiff += char(v >> 8); };
    auto put32 = [&](uint32_t v) { put16(uint16_t(v)), put16(uint16_t(v >> 16)); };
    for (int page = 0; page < 3; ++page) {
      const uint32_t ifd = uint32_t(tiff.size()), pixels = ifd + 2 + 9 * 12 + 4 + 6, w = 40, h = 60;
      put16(9);
      const uint32_t entries[9][3] = {{256, 4, w},  {257, 4, h},  {258, 3, 8},          {259, 3, 1},         {262, 3, 2},
                                      {273, 4, page == 1 ? 0x7FFFFF00u : pixels}, {277, 3, 3}, {278, 4, h},
                                      {279, 4, w * h * 3}};
      for (const auto& e : entries) {
        put16(uint16_t(e[0]));
        put16(uint16_t(e[1]));
        put32(e[0] == 258 ? 3 : 1);  // BitsPerSample: three values, in the bytes that follow
        if (e[0] == 258) put32(ifd + 2 + 9 * 12 + 4);
        else if (e[1] == 3) put16(uint16_t(e[2])), put16(0);
        else put32(e[2]);
      }
      put32(page < 2 ? pixels + w * h * 3 : 0);
      put16(8), put16(8), put16(8);
      tiff += std::string(w * h * 3, page == 0 ? '\x20' : '\xE0');
    }
    WriteAll(dir_ + "/fax.tif", tiff);
    WriteAll(dir_ + "/notes.txt", "not an image");
    WriteAll(dir_ + "/broken.jpg", std::string("\xFF\xD8\xFF\xC0\x00\x11\x08\xFF\xFF\xFF\xFF", 11));

    dialogs_.onForm = [&](TAcquisitionForm* form) {
      // A damaged file is named and skipped, and so is a damaged page: the other pages are taken,
      // and one message names what was not.
      dialogs_.files = {QString::fromStdString(dir_ + "/photo.png"), QString::fromStdString(dir_ + "/broken.jpg"),
                        QString::fromStdString(dir_ + "/fax.tif")};
      form->AddImagesButton->click();
      ScriptedDialogs::WaitIdle(form);
      QCOMPARE(dialogs_.filters, QStringList{"Images (*.jpg *.jpeg *.png *.bmp *.tif *.tiff)"});
      QCOMPARE(dialogs_.messages.size(), 1);
      QVERIFY(dialogs_.messages[0].startsWith("Cannot read the image file " + QString::fromStdString(dir_) +
                                              "/broken.jpg"));
      QVERIFY2(dialogs_.messages[0].contains("\nCannot read page 2 of 3 of " + QString::fromStdString(dir_) + "/fax.tif"),
               qPrintable(dialogs_.messages[0]));
      dialogs_.messages.clear();
      QCOMPARE(form->Objects().size(), size_t(3));
      QCOMPARE(form->Objects()[1].document, std::string("fax.tif page 1"));
      QCOMPARE(form->Objects()[2].document, std::string("fax.tif page 3"));
      QVERIFY(qRed(Slot(form, 0).pixel(48, 48)) > 200);
      // The page holds the same JPEG as the command line makes of the same file.
      auto fragment = [](const std::string& path) {
        DcmObj obj;
        const DcmTag* f = obj.Read(path) ? obj.GetTag(obj.IndexOf(0x7FE0, 0x0010) + 2) : nullptr;
        return f && f->data() ? std::string(reinterpret_cast<const char*>(f->data()), f->size()) : std::string();
      };
      QCOMPARE(testsupport::Run({std::string(SCRIVARA_PROGRAM) + "-cli", "img", "--patient-name",
                                 "Doe^Jane", "--patient-id", "P1", dir_ + "/photo.png", dir_ + "/photo.dcm"}),
               0);
      QVERIFY(!fragment(dir_ + "/photo.dcm").empty());
      QCOMPARE(fragment(form->Objects()[0].path), fragment(dir_ + "/photo.dcm"));
      QVERIFY(qRed(Slot(form, 1).pixel(48, 48)) < 60);
      QVERIFY(qRed(Slot(form, 2).pixel(48, 48)) > 200);

      // Dropped files: images are taken, anything else is refused with a message.
      form->DropUrls({QUrl::fromLocalFile(QString::fromStdString(dir_ + "/notes.txt"))});
      QCOMPARE(dialogs_.messages, QStringList{"Not an image file: " + QString::fromStdString(dir_ + "/notes.txt")});
      form->DropUrls({QUrl::fromLocalFile(QString::fromStdString(dir_ + "/photo.png"))});
      ScriptedDialogs::WaitIdle(form);
      QCOMPARE(form->Objects().size(), size_t(4));

      // Right click on the second page: Delete? No keeps it, Yes removes it and its file.
      const std::string second = form->Objects()[1].path;
      QTest::mouseClick(form->Image1, Qt::RightButton, {}, QPoint(96 + 40, 40));
      QVERIFY(form->PageMenu->isVisible());
      form->PageMenu->hide();
      dialogs_.yes = false;
      form->PageMenu->actions()[0]->trigger();
      QCOMPARE(form->Objects().size(), size_t(4));
      dialogs_.yes = true;
      form->PageMenu->actions()[0]->trigger();
      QCOMPARE(dialogs_.questions, (QStringList{"Delete?", "Delete?"}));
      QCOMPARE(form->Objects().size(), size_t(3));
      QVERIFY(!QFileInfo::exists(QString::fromStdString(second)));
      // The page that is now second (the TIFF's third page, 40 x 60) turned right: same UIDs.
      DcmObj before, after;
      QVERIFY(before.Read(form->Objects()[1].path));
      QTest::mouseClick(form->Image1, Qt::RightButton, {}, QPoint(96 + 40, 40));
      form->PageMenu->hide();
      form->PageMenu->actions()[1]->trigger();
      ScriptedDialogs::WaitIdle(form);
      QVERIFY(after.Read(form->Objects()[1].path));
      QCOMPARE(after.GetString(0x0008, 0x0018), before.GetString(0x0008, 0x0018));
      QCOMPARE(after.GetString(0x0020, 0x0013), std::string("3"));
      QCOMPARE(after.GetUS(0x0028, 0x0011), uint16_t(60));
      QCOMPARE(after.GetUS(0x0028, 0x0010), uint16_t(40));

      // A PACS that refuses: the pages may go to the outbox when the form closes.
      setupcfg.PacsPort = std::to_string(testsupport::FreePort());
      form->Button2->click();
      ScriptedDialogs::WaitIdle(form);
      QCOMPARE(dialogs_.results, QStringList{"ERROR sending files, please check log file"});
    };
    dialogs_.questions.clear();
    f.Form1->ScanBtnClick();
    QCOMPARE(dialogs_.questions.last(),
             QString("3 object(s) were not accepted by the PACS. Keep them in the outbox to send later?"));
    QCOMPARE(OutboxFiles().size(), size_t(3));
  }

  // The form closes at once while it looks for scanners; the lookup ends on its own, and the next
  // showing finds the scanner.
  void closesAtOnceWhileScannersAreLookedUp() {
    AppForms f = Start("SCAN6");
    auto other = std::make_unique<SaneSession>();  // SANE is busy: the form's lookup waits for it
    QElapsedTimer clock;
    clock.start();
    f.Form1->ScanBtnClick();  // shows the form and closes it
    QVERIFY(clock.elapsed() < 1000);
    QVERIFY(!f.AcquisitionForm->isVisible());
    other.reset();
    dialogs_.onForm = [&](TAcquisitionForm* form) { QVERIFY(form->ComboBox1->count() > 0); };
    f.Form1->ScanBtnClick();
    QVERIFY(dialogs_.messages.isEmpty());
  }

  void noScannerAndNothingToSend() {
    // SANE takes its configuration folder once per process, and the backends listed in it at each
    // start: none now.
    WriteAll(saneDir_ + "/dll.conf", "\n");
    AppForms f = Start("SCAN5");
    dialogs_.onForm = [&](TAcquisitionForm* form) {
      QCOMPARE(dialogs_.messages, QStringList{"No Scanner Found"});
      QCOMPARE(form->ComboBox1->count(), 0);
      QVERIFY(!form->Button3->isEnabled());
      form->Button2->click();
      ScriptedDialogs::WaitIdle(form);
      QCOMPARE(dialogs_.results, QStringList{"ERROR sending files, please check log file"});
    };
    f.Form1->ScanBtnClick();
    WriteAll(saneDir_ + "/dll.conf", "test\n");
    QVERIFY(dialogs_.questions.isEmpty());
  }
};

QTEST_MAIN(AcquisitionRoadTest)
#include "acquisition_road_test.moc"
