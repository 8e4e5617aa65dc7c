// Pictures of the real windows for the README, taken under Xvfb by scripts/demo --screenshots DIR
// against the demo PACS: the main window with the day's worklist rows, the PDF form with its batch,
// the result message with its details, the report editor with a misspelling marked, the acquisition
// form with a few pages (from the demo's virtual scanner, SANE's test backend, and from image
// files), and the setup dialog on its PACS tab with TLS turned on.
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QTextEdit>
#include <QTreeWidget>
#include <cstdio>

#include "app/dicom10.h"
#include "core/config.h"
#include "edge/dialogs.h"

namespace {

QString g_dir;

void Save(QWidget* w, const char* name) {
  QApplication::processEvents();
  const QString path = g_dir + "/" + name;
  if (!w->grab().save(path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
}

// A one-page report to convert, written with Qt's own PDF writer.
QString MakeReport(const QString& path) {
  QPdfWriter pdf(path);
  pdf.setTitle("Chest X-ray report");
  QPainter p(&pdf);
  QFont f = p.font();
  f.setPointSize(18);
  p.setFont(f);
  p.drawText(QRect(600, 600, 8000, 1000), "Chest X-ray report");
  f.setPointSize(11);
  p.setFont(f);
  p.drawText(QRect(600, 1800, 8000, 6000), Qt::TextWordWrap,
             "Findings: heart size normal, lungs clear, no effusion.\n\nImpression: no acute findings.");
  return path;
}

// Answers the dialogs the way an operator would, taking the pictures on the way.
class ScreenshotDialogs : public DialogLayer {
 public:
  QString report;
  QString OpenFileName(QWidget*, const QString&, const QString&) override { return report; }
  QStringList pages;
  void ShowMessage(QWidget*, const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
  void ShowError(QWidget*, const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
  bool AskYesNo(QWidget*, const QString&, const QString&) override { return false; }
  void ShowDetails(QWidget* parent, const QString& text, const QString& details, bool error) override {
    Save(parent, "pdf-form.png");
    QMessageBox box(error ? QMessageBox::Critical : QMessageBox::Information, "Scrivara", text, QMessageBox::Ok,
                    parent);
    box.setDetailedText(details);
    box.show();
    for (QAbstractButton* b : box.buttons())
      if (box.buttonRole(b) == QMessageBox::ActionRole) b->click();  // "Show Details..."
    Save(&box, "result-details.png");
  }
  int ShowModal(QDialog* d) override {
    d->show();
    if (auto* editor = qobject_cast<TMainForm*>(d)) {
      editor->RichEdit1->setHtml(
          "<p align=center><b><span style='font-size:16pt'>Chest X-ray report</span></b></p>"
          "<p><b>Findings:</b> heart size normal, lungs clear, no pleural efusion. No hepatomegaly on the "
          "included upper abdomen.</p><p><i>Impression:</i> no acute findings.</p>");
      QApplication::processEvents();
      Save(editor, "report-editor.png");
      editor->RichEdit1->document()->setModified(false);
    } else if (auto* scan = qobject_cast<TScanDialog*>(d)) {
      scan->ScanButton->click();
      return scan->result();
    } else if (auto* acquisition = qobject_cast<TAcquisitionForm*>(d)) {
      auto idle = [acquisition] {
        while (acquisition->Busy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
      };
      idle();  // the scanner list
      acquisition->Button3Click();
      idle();
      std::vector<std::string> files;
      for (const QString& p : pages) files.push_back(p.toStdString());
      acquisition->AddImageFiles(files);
      idle();
      QApplication::processEvents();
      Save(acquisition, "acquisition-form.png");
    } else if (auto* pdf = qobject_cast<TPDFForm*>(d)) {
      auto idle = [pdf] {
        while (pdf->Work().Busy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
      };
      pdf->Button3Click();
      idle();
      pdf->Button3Click();  // a second document joins the batch
      idle();
    } else {
      // The PACS tab with its TLS settings filled in.
      if (auto* tabs = d->findChild<QTabWidget*>("PageControl1")) tabs->setCurrentIndex(1);
      if (auto* tls = d->findChild<QCheckBox*>("PacsUseTls")) tls->setChecked(true);
      if (auto* ca = d->findChild<QLineEdit*>("PacsCaFile")) {
        ca->setText("/etc/scrivara/hospital-ca.pem");
        ca->setCursorPosition(0);
      }
      QApplication::processEvents();
      Save(d, "setup-dialog.png");
    }
    d->close();
    return QDialog::Rejected;
  }
};

// A scanned-looking document page (A4 at 100 dpi): a heading and lines of text.
QString MakePage(const QString& path, const QString& heading, const QStringList& lines) {
  QImage page(827, 1169, QImage::Format_RGB32);
  page.fill(QColor(250, 249, 245));
  QPainter p(&page);
  QFont f = p.font();
  f.setPixelSize(40);
  f.setBold(true);
  p.setFont(f);
  p.setPen(QColor(30, 30, 40));
  p.drawText(QRect(80, 90, 667, 60), heading);
  f.setPixelSize(22);
  f.setBold(false);
  p.setFont(f);
  int y = 200;
  for (const QString& line : lines) {
    p.drawText(QRect(80, y, 667, 600), Qt::TextWordWrap, line);
    y += 130;
  }
  page.save(path);
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: readme_screens PROGRAM OUTDIR\n");
    return 2;
  }
  g_dir = QString::fromLocal8Bit(argv[2]);
  ScreenshotDialogs dialogs;
  dialogs.report = MakeReport(g_dir + "/chest-report.pdf");
  dialogs.pages = {MakePage(g_dir + "/referral.png", "Referral",
                            {"Dear colleague, thank you for seeing Mrs Doe, 54, with a dry cough for three weeks.",
                             "Please perform a chest X-ray, two views.", "Kind regards, Dr A. Smith"}),
                   MakePage(g_dir + "/consent.png", "Consent form",
                            {"I agree to the examination described to me.", "Signed: Jane Doe",
                             "Date: as scanned"})};
  // The demo's virtual scanner: a colour test page of A4 proportions.
  ScanConfiguration.colour = true;
  ScanConfiguration.dpi = 75;
  ScanConfiguration.options = {{"test-picture", "Color pattern"}, {"br-x", "141"}, {"br-y", "200"}};
  SetDialogLayer(&dialogs);
  AppForms forms = CreateForms(argv[1]);
  forms.Form1->show();
  QApplication::sendPostedEvents();
  forms.Form1->SearchWLBtnClick();
  while (forms.Form1->Busy()) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  Save(forms.Form1.get(), "main-window.png");
  forms.Form1->SetupBtnClick();
  forms.Form1->AddDocBtnClick();
  forms.Form1->AddPDFBtnClick();
  forms.Form1->ScanBtnClick();
  SetDialogLayer(nullptr);
  QFile::remove(dialogs.report);
  for (const QString& p : dialogs.pages) QFile::remove(p);
  return 0;
}
