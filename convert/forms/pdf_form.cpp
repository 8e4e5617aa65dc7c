#include "convert/forms/pdf_form.h"

#include <poppler-qt6.h>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <filesystem>

#include "convert/forms/form_batch.h"
#include "convert/pdf_object.h"
#include "core/fileutil.h"
#include "core/log.h"
#include "edge/dialogs.h"
#include "edge/layouts.h"
#include "edge/qtext.h"
#include "query/findscu.h"
#include "query/studytext.h"

namespace {

constexpr int kThumbnailHeight = 64;

enum Column { kDocument, kPages, kSize, kState };

struct Preview {
  int pages = 0;  // 0 when poppler cannot read the file (it is still sent)
  QImage thumbnail;
};

// The page count and a thumbnail of the first page, made on a worker thread so that a large
// document does not hold up its Send.
Preview PagesAndThumbnail(const QString& path) {
  Preview p;
  QImage& thumbnail = p.thumbnail;
  std::unique_ptr<Poppler::Document> doc = Poppler::Document::load(path);
  if (!doc || doc->isLocked() || doc->numPages() < 1) return p;
  std::unique_ptr<Poppler::Page> first = doc->page(0);
  if (first) {
    const QSizeF points = first->pageSizeF();
    const double dpi = points.height() > 0 ? 72.0 * kThumbnailHeight / points.height() : 18.0;
    thumbnail = first->renderToImage(dpi, dpi).convertToFormat(QImage::Format_RGB32);
    if (!thumbnail.isNull()) {  // a frame, so that a white page shows as a page
      QPainter frame(&thumbnail);
      frame.setPen(Qt::gray);
      frame.drawRect(thumbnail.rect().adjusted(0, 0, -1, -1));
    }
  }
  p.pages = doc->numPages();
  return p;
}

// Poppler's complaints about damaged files go to the log, not to the terminal.
void PopplerMessage(const QString& message, const QVariant&) {
  WriteLog("WARNING, PDF preview: " + message.toStdString());
}

QString SizeText(uint64_t bytes) {
  if (bytes < 1024) return QString::number(bytes) + " B";
  if (bytes < 1024 * 1024) return QString::number(double(bytes) / 1024, 'f', 1) + " KB";
  return QString::number(double(bytes) / (1024 * 1024), 'f', 1) + " MB";
}

bool IsPdfName(const QString& path) { return path.endsWith(".pdf", Qt::CaseInsensitive); }

}  // namespace

TPDFForm::TPDFForm(StudyInfo& study, const SetupCfg& cfg, QWidget* parent)
    : TBatchForm(parent), study_(study), cfg_(cfg) {
  setObjectName("PDFForm");
  setWindowTitle("Convert PDF");
  setAcceptDrops(true);
  BatchList = new QTreeWidget;
  BatchList->setObjectName("BatchList");
  BatchList->setAccessibleName("Objects of this batch");
  BatchList->setRootIsDecorated(false);
  BatchList->setIconSize(QSize(kThumbnailHeight * 3 / 4, kThumbnailHeight));
  BatchList->setHeaderLabels({"Document", "Pages", "Size", "State"});
  BatchList->header()->setSectionResizeMode(kDocument, QHeaderView::Stretch);
  Button3 = new QPushButton("Send");
  Button3->setObjectName("Button3");
  Button1 = new QPushButton("Close");
  Button1->setObjectName("Button1");
  auto* top = new QVBoxLayout(this);
  top->addWidget(BatchList);
  top->addLayout(ButtonRow({Button3, Button1}));
  resize(560, 320);
  connect(Button3, &QPushButton::clicked, this, &TPDFForm::Button3Click);
  connect(Button1, &QPushButton::clicked, this, &TPDFForm::Button1Click);
  connect(&work_, &BackgroundWork::StateChanged, this, &TPDFForm::UpdateButtons);
  PresetFile.clear();  // FormCreate
  Poppler::setDebugErrorFunction(PopplerMessage, QVariant());
}

TPDFForm::~TPDFForm() {
  work_.Wait();
  // The program ends with the form open: what the PACS has not accepted goes to the outbox unasked.
  FormClose(false);
}

void TPDFForm::FormActivate() {
  setWindowTitle("PDF Form - " + QString::fromStdString(StudyText(study_, &StudyInfo::PatientName)));
  ++generation_;
  BatchList->clear();
  StartBatch(study_);
}

void TPDFForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  FormActivate();
  if (!PresetFile.empty() || !PresetFiles.empty()) QTimer::singleShot(0, this, &TPDFForm::Button3Click);
}

void TPDFForm::Button3Click() {
  if (work_.Busy()) return;
  std::vector<std::string> pdfs = PresetFiles;
  if (!PresetFile.empty()) pdfs.insert(pdfs.begin(), PresetFile);
  const bool closeWhenDone = !pdfs.empty();
  PresetFile.clear();
  PresetFiles.clear();
  if (pdfs.empty()) {
    const QString chosen = Dialogs().OpenFileName(this, "Open", "PDF Document (*.pdf)");
    if (chosen.isEmpty()) return;
    pdfs.push_back(chosen.toStdString());
  }
  SendFiles(pdfs, closeWhenDone);
}

void TPDFForm::SendFiles(const std::vector<std::string>& pdfs, bool closeWhenDone) {
  AssociationTarget target = PacsTarget(cfg_, kSendTimeout);
  target.messageDump = true;
  struct Outcome {
    std::vector<BatchObject> sent;
    QString problems;  // the PDFs that could not be converted
    bool built = false;  // at least one could: the batch is sent
  };
  auto outcome = std::make_shared<Outcome>();
  outcome->sent = model_.ToSend();
  // While the work runs the batch (its files, the counter) is the worker's: every control that
  // would change it waits for the state to be idle again.
  const bool started = work_.Start(
      BackgroundWork::State::Sending,
      [this, pdfs, target, outcome](const BackgroundWork::Run& run) {
        for (const std::string& pdf : pdfs) {
          const std::string object = BuildEncapsulatedPdf(pdf, study_, model_.Batch(), InstanceCounter);
          if (object.empty()) {
            outcome->problems += "Cannot convert " + QString::fromStdString(pdf) +
                                 ": the file is missing, unreadable, empty or not a PDF document.\n";
            continue;
          }
          BatchObject o;
          o.path = object;
          o.document = FileNamePart(pdf);
          // Still sent (the bytes are the operator's document), but shown with a warning.
          o.warning = PdfReadProblem(pdf);
          if (!o.warning.empty()) WriteLog("WARNING, TPDFForm, " + pdf + ": " + o.warning);
          std::error_code ec;
          o.bytes = std::filesystem::file_size(pdf, ec);
          outcome->sent.push_back(o);
          outcome->built = true;
          run.Post([this, o, pdf] { AddRow(o, pdf); });
        }
        if (outcome->built)
          SendFromRun(run, outcome->sent, target, [this](size_t index, const BatchObject& object) {
            model_.SetResult(index, object);
            ShowRow(index);
          });
      },
      [this, outcome, closeWhenDone] {
        for (size_t i = 0; i < model_.Size(); ++i) ShowRow(i);
        if (!outcome->problems.isEmpty()) Dialogs().ShowError(this, outcome->problems.trimmed());
        if (outcome->built) ShowSendResult(this, outcome->sent);
        // The form stays open with what was left out, so that the operator sees it.
        if (closeWhenDone && outcome->problems.isEmpty()) close();
      });
  if (!started) WriteLog("WARNING, TPDFForm::SendFiles, a send is under way; the PDFs were not taken");
}

void TPDFForm::AddRow(const BatchObject& object, const std::string& pdf) {
  const size_t index = model_.Add(object);
  auto* row = new QTreeWidgetItem(BatchList);  // the list owns its rows
  row->setIcon(kDocument, style()->standardIcon(QStyle::SP_FileIcon));
  ShowRow(index);
  // The preview arrives later; a batch closed or restarted by then ignores it.
  auto* watcher = new QFutureWatcher<Preview>(this);
  connect(watcher, &QFutureWatcher<Preview>::finished, this, [this, watcher, index, batch = generation_] {
    const Preview p = watcher->result();
    watcher->deleteLater();
    if (batch != generation_ || index >= model_.Size()) return;
    model_.SetPages(index, p.pages);
    if (QTreeWidgetItem* r = BatchList->topLevelItem(int(index)); r && !p.thumbnail.isNull())
      r->setIcon(kDocument, QIcon(QPixmap::fromImage(p.thumbnail)));
    ShowRow(index);
  });
  watcher->setFuture(QtConcurrent::run(PagesAndThumbnail, QString::fromStdString(pdf)));
}

void TPDFForm::UpdateButtons() {
  const bool idle = !work_.Busy();
  Button3->setEnabled(idle);
  Button1->setEnabled(idle);
}

void TPDFForm::ShowRow(size_t i) {
  QTreeWidgetItem* row = BatchList->topLevelItem(int(i));
  if (!row || i >= model_.Size()) return;
  const BatchObject& o = model_.Items()[i];
  row->setText(kDocument, QString::fromStdString(o.warning.empty() ? o.document : o.document + " - " + o.warning));
  if (!o.warning.empty()) {
    row->setIcon(kDocument, style()->standardIcon(QStyle::SP_MessageBoxWarning));
    row->setToolTip(kDocument, QString::fromStdString(o.warning));
  }
  row->setText(kPages, o.pages > 0 ? QString::number(o.pages) : QString("?"));
  row->setText(kSize, SizeText(o.bytes));
  row->setText(kState, QString::fromStdString(StateText(o)));
}

void TPDFForm::FormClose(bool ask) {
  CloseBatch(ask);
  ++generation_;
  BatchList->clear();
}

void TPDFForm::DropUrls(const QList<QUrl>& urls) {
  std::vector<std::string> pdfs;
  if (DroppedPdfs(this, urls, pdfs)) SendFiles(pdfs);
}

bool DroppedPdfs(QWidget* parent, const QList<QUrl>& urls, std::vector<std::string>& pdfs) {
  return DroppedFiles(parent, urls, IsPdfName, "Not a PDF document: ", pdfs);
}
