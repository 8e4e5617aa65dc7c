#include "convert/forms/acquisition_form.h"

#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "convert/forms/form_batch.h"
#include "convert/forms/page_images.h"
#include "convert/forms/scanner_config.h"
#include "convert/image_import.h"
#include "convert/scanned_pages.h"
#include "core/fileutil.h"
#include "core/log.h"
#include "core/strutil.h"
#include "edge/dialogs.h"
#include "edge/layouts.h"
#include "query/findscu.h"
#include "query/studytext.h"

namespace {

constexpr int kStripHeight = 120;

// The image files "Add images..." and a drop take.
const char kImageFilter[] = "Images (*.jpg *.jpeg *.png *.bmp *.tif *.tiff)";
bool IsImageName(const QString& path) {
  const std::string ext = LowerExtension(path.toStdString());
  return ext == ".jpg" || ext == ".jpeg" || ext == ".png" || ext == ".bmp" || ext == ".tif" || ext == ".tiff";
}

// Image1: the thumbnails side by side, each in its 96-pixel slot.
class ThumbnailStrip : public QWidget {
 public:
  using Press = std::function<void(Qt::MouseButton, int, const QPoint&)>;
  ThumbnailStrip(const std::vector<QImage>& thumbnails, Press press)
      : thumbnails_(thumbnails), press_(std::move(press)) {}
  void Update() {
    setFixedSize(std::max<int>(1, int(thumbnails_.size())) * kThumbnailSide, kThumbnailSide);
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Button));
    for (size_t i = 0; i < thumbnails_.size(); ++i) p.drawImage(int(i) * kThumbnailSide, 0, thumbnails_[i]);
  }
  void mousePressEvent(QMouseEvent* e) override {
    press_(e->button(), int(e->position().x()), e->globalPosition().toPoint());
  }

 private:
  const std::vector<QImage>& thumbnails_;
  Press press_;
};

QPushButton* Button(const QString& text, const char* name) {
  auto* b = new QPushButton(text);
  b->setObjectName(name);
  return b;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The scan dialog

TScanDialog::TScanDialog(const QString& device, const std::vector<ScannerOption>& options,
                         const ScanSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings), options_(options) {
  setObjectName("ScanDialog");
  setWindowTitle("Scan - " + device);
  auto* fields = new QFormLayout;
  for (const ScannerOption& o : options_) {
    auto* list = new QComboBox;
    list->setObjectName(QString::fromStdString(o.name));
    int chosen = -1;
    for (size_t i = 0; i < o.choices.size(); ++i) {
      const std::string& c = o.choices[i];
      list->addItem(QString::fromStdString(c));
      if (o.name == "mode") {
        if (chosen < 0 && (settings.colour ? IsColourMode(c) : IsGreyMode(c))) chosen = int(i);
      } else if (o.name != "resolution" && c == o.value) {
        chosen = int(i);
      }
    }
    if (o.name == "resolution") chosen = NearestEntry(o.choices, std::to_string(settings.dpi), true);
    if (chosen < 0) chosen = std::max(0, list->findText(QString::fromStdString(o.value)));
    list->setCurrentIndex(chosen);
    fields->addRow(QString::fromStdString(o.title), list);  // the label is the list's buddy
    Lists.push_back(list);
  }
  if (options_.empty()) fields->addRow(new QLabel("The scanner offers no settings; it scans as it is set."));
  ScanButton = Button("Scan", "ScanButton");
  ScanButton->setDefault(true);
  CancelButton = Button("Cancel", "CancelButton");
  auto* top = new QVBoxLayout(this);
  top->addLayout(fields);
  top->addLayout(ButtonRow({ScanButton, CancelButton}));
  connect(ScanButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

ScanSettings TScanDialog::Settings() const {
  ScanSettings s = settings_;
  for (size_t i = 0; i < options_.size() && i < Lists.size(); ++i) {
    const std::string name = options_[i].name;
    const std::string value = Lists[i]->currentText().toStdString();
    if (name == "mode") s.colour = IsColourMode(value);
    if (name == "resolution") s.dpi = static_cast<int>(std::lround(ParseDecimal(value)));
    if (name == "source") s.feeder = IsFeederSource(value);
    s.options.emplace_back(name, value);
  }
  return s;
}

// ---------------------------------------------------------------------------------------------
// The acquisition form

struct TAcquisitionForm::ReadyPage {
  BatchPage page;
  std::string document;
  QImage preview;
};

TAcquisitionForm::TAcquisitionForm(StudyInfo& study, const SetupCfg& cfg, ScanSettings& settings, TConfigFrm* config,
                                   QWidget* parent)
    : TBatchForm(parent), study_(study), cfg_(cfg), settings_(settings), config_(config) {
  setObjectName("AcquisitionForm");
  setWindowTitle("Acquisition Form");
  setAcceptDrops(true);
  Image2 = new QLabel;
  Image2->setObjectName("Image2");
  Image2->setAccessibleName("Preview of the last page");
  Image2->setFixedSize(kPreviewWidth, kPreviewHeight);
  auto* strip = new ThumbnailStrip(thumbnails_, [this](Qt::MouseButton b, int x, const QPoint& at) {
    Image1MouseDown(b, x, at);
  });
  Image1 = strip;
  Image1->setObjectName("Image1");
  Image1->setAccessibleName("Pages of this batch");
  strip->Update();
  ScrollBox1 = new QScrollArea;
  ScrollBox1->setObjectName("ScrollBox1");
  ScrollBox1->setAccessibleName("Thumbnails");
  ScrollBox1->setWidget(Image1);
  ScrollBox1->setFixedHeight(kStripHeight);
  ScrollBox1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  ComboBox1 = new QComboBox;
  ComboBox1->setObjectName("ComboBox1");
  ComboBox1->setMinimumWidth(200);
  ComboBox1->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  ProgressBar1 = new QProgressBar;
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setAccessibleName("Progress");
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  Button3 = Button("Scan", "Button3");
  Button5 = Button("Configuration", "Button5");
  AddImagesButton = Button("Add images...", "AddImagesButton");
  CancelButton = Button("Cancel scan", "CancelButton");
  Button2 = Button("Send", "Button2");
  Button1 = Button("Close", "Button1");
  PageMenu = new QMenu(this);
  PageMenu->setObjectName("PageMenu");
  connect(PageMenu->addAction("Delete..."), &QAction::triggered, this, [this] { DeletePage(menuPage_); });
  connect(PageMenu->addAction("Turn right (90\u00B0 clockwise)"), &QAction::triggered, this,
          [this] { RotatePage(menuPage_, true); });
  connect(PageMenu->addAction("Turn left (90\u00B0 anticlockwise)"), &QAction::triggered, this,
          [this] { RotatePage(menuPage_, false); });

  auto* scanner = new QLabel("&Scanner");
  scanner->setBuddy(ComboBox1);
  auto* side = new QVBoxLayout;
  side->addWidget(scanner);
  for (QWidget* w : std::initializer_list<QWidget*>{ComboBox1, Button3, Button5, AddImagesButton, CancelButton})
    side->addWidget(w);
  side->addStretch();
  for (QWidget* w : std::initializer_list<QWidget*>{ProgressBar1, Button2, Button1}) side->addWidget(w);
  auto* upper = new QHBoxLayout;
  upper->addWidget(Image2);
  upper->addLayout(side);
  auto* top = new QVBoxLayout(this);
  top->addLayout(upper);
  top->addWidget(ScrollBox1);

  const std::pair<QPushButton*, void (TAcquisitionForm::*)()> handlers[] = {
      {Button3, &TAcquisitionForm::Button3Click},         {Button5, &TAcquisitionForm::Button5Click},
      {AddImagesButton, &TAcquisitionForm::AddImagesClick}, {CancelButton, &TAcquisitionForm::CancelWork},
      {Button2, &TAcquisitionForm::Button2Click},         {Button1, &TAcquisitionForm::Button1Click}};
  for (const auto& [button, handler] : handlers) connect(button, &QPushButton::clicked, this, handler);
  connect(&work_, &BackgroundWork::StateChanged, this, &TAcquisitionForm::UpdateButtons);
  UpdateButtons();
}

TAcquisitionForm::~TAcquisitionForm() {
  work_.Cancel();
  work_.Wait();
  // The program ends with the form open: what the PACS has not accepted goes to the outbox unasked.
  FormClose(false);
}

void TAcquisitionForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormActivate();
}

void TAcquisitionForm::FormActivate() {
  setWindowTitle("Acquisition Form - " + QString::fromStdString(StudyText(study_, &StudyInfo::PatientName)));
  QPixmap empty(kPreviewWidth, kPreviewHeight);
  empty.fill(palette().color(QPalette::Button));
  Image2->setPixmap(empty);
  thumbnails_.clear();
  static_cast<ThumbnailStrip*>(Image1)->Update();
  // Page numbers go on from those of earlier batches of the run.
  StartBatch(study_, true);
  devices_.clear();
  ComboBox1->clear();
  ComboBox1->setPlaceholderText("Looking for scanners...");
  // SANE can take a while to find its devices: the form stays usable meanwhile.
  struct Listing {
    std::shared_ptr<SaneSession> sane;
    std::vector<ScannerDevice> devices;
  };
  auto listing = std::make_shared<Listing>();
  StartWork(
      BackgroundWork::State::LookingUp,
      [listing](const BackgroundWork::Run&) {
        listing->sane = std::make_shared<SaneSession>();  // waits for a lookup a closed form left
        listing->devices = listing->sane->Devices();
      },
      [this, listing] {
        sane_ = listing->sane;
        devices_ = listing->devices;
        for (const ScannerDevice& d : devices_)
          ComboBox1->addItem(QString::fromStdString(GetField(2, ";", d.Entry())));
        ComboBox1->setPlaceholderText("");
        if (!devices_.empty()) ComboBox1->setCurrentIndex(0);
        UpdateButtons();
        if (devices_.empty()) Dialogs().ShowMessage(this, "No Scanner Found");
      });
}

void TAcquisitionForm::StartWork(BackgroundWork::State state, std::function<void(const BackgroundWork::Run&)> work,
                                 std::function<void()> then) {
  problems_.clear();
  work_.Start(state, std::move(work), [this, then = std::move(then)] {
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    if (then) then();
    std::string problems;
    {
      std::lock_guard<std::mutex> lock(problemsMutex_);
      problems.swap(problems_);
    }
    if (!problems.empty()) Dialogs().ShowError(this, QString::fromStdString(problems));
  });
}

void TAcquisitionForm::AddProblem(const std::string& problem) {
  std::lock_guard<std::mutex> lock(problemsMutex_);
  if (!problems_.empty()) problems_ += '\n';
  problems_ += problem;
}

void TAcquisitionForm::UpdateButtons() {
  const bool idle = !Busy();
  Button3->setEnabled(idle && !devices_.empty());
  Button5->setEnabled(idle);
  AddImagesButton->setEnabled(idle);
  Button2->setEnabled(idle);
  Button1->setEnabled(idle);
  ComboBox1->setEnabled(idle);
  CancelButton->setEnabled(work_.state() == BackgroundWork::State::Scanning ||
                           work_.state() == BackgroundWork::State::Importing);
}

void TAcquisitionForm::Button3Click() {
  if (Busy() || devices_.empty() || !sane_) return;
  const int index = std::max(0, ComboBox1->currentIndex());
  const std::string device = GetField(1, ";", devices_[size_t(index)].Entry());
  // Opening the device to read its settings can take a while: not on the window's thread.
  auto options = std::make_shared<std::vector<ScannerOption>>();
  StartWork(
      BackgroundWork::State::LookingUp,
      [sane = sane_, device, options](const BackgroundWork::Run&) { *options = sane->Options(device); },
      [this, device, options] { Scan(device, *options); });
}

void TAcquisitionForm::Scan(const std::string& device, const std::vector<ScannerOption>& options) {
  if (!isVisible() || !sane_) return;  // closed meanwhile
  TScanDialog dialog(ComboBox1->currentText(), options, settings_, this);
  if (Dialogs().ShowModal(&dialog) != QDialog::Accepted) return;  // nothing scanned, nothing shown
  const ScanSettings settings = dialog.Settings();
  StartWork(BackgroundWork::State::Scanning, [this, sane = sane_, device, settings](const BackgroundWork::Run& run) {
    int shown = -2;
    const ScanProgress progress = [this, &run, &shown](int percent) {
      if (percent != shown) {
        shown = percent;
        run.Post([this, percent] { ShowProgress(percent); });
      }
      return !run.Cancelled();
    };
    std::string message;
    const ScanResult r = sane->ScanSheets(
        device, settings, progress, [this, &run](Bitmap&& page) { MakePage(run, std::move(page), true, ""); },
        message);
    if (r == ScanResult::Failed || r == ScanResult::NoDocuments) AddProblem(message);
  });
}

void TAcquisitionForm::AddImagesClick() {
  if (Busy()) return;
  std::vector<std::string> files;
  for (const QString& f : Dialogs().OpenFileNames(this, "Add images", kImageFilter)) files.push_back(f.toStdString());
  AddImageFiles(files);
}

void TAcquisitionForm::AddImageFiles(const std::vector<std::string>& files) {
  if (Busy() || files.empty()) return;
  StartWork(BackgroundWork::State::Importing, [this, files](const BackgroundWork::Run& run) {
    // Every file or page that could not be taken goes into the one message at the end.
    std::vector<ImportProblem> problems;
    for (size_t k = 0; k < files.size() && !run.Cancelled(); ++k) {
      ImportImageFile(
          files[k], [this, &run](ImportedPage&& p) { MakePage(run, std::move(p.page), false, p.name, &p.jpeg); },
          problems, [&run] { return run.Cancelled(); });
      run.Post([this, done = int((k + 1) * 100 / files.size())] { ShowProgress(done); });
    }
    for (const ImportProblem& p : problems) AddProblem("Cannot read " + p.what + ": " + p.why);
  });
}

void TAcquisitionForm::MakePage(const BackgroundWork::Run& run, Bitmap&& page, bool scanned,
                                const std::string& document, const std::vector<uint8_t>* jpeg) {
  // A page that comes with its JPEG needs its pixels only for the preview: they go before the
  // saved object is read back for the thumbnail, so that a large page is held once at a time.
  QImage preview;
  if (jpeg) {
    preview = PreviewImage(page);
    page.pixels = std::vector<uint8_t>();
  }
  BatchPage made;
  std::string why;
  if (!AddBatchPage(page, scanned, study_, model_.Batch(), InstanceCounter, made, why, jpeg)) {
    AddProblem(why);
    return;
  }
  ReadyPage ready{std::move(made), document, jpeg ? std::move(preview) : PreviewImage(page)};
  if (ready.document.empty()) ready.document = "Page " + ready.page.label;
  run.Post([this, ready = std::move(ready)] { TakePage(ready); });
}

void TAcquisitionForm::TakePage(const ReadyPage& ready) {
  BatchObject o;
  o.path = ready.page.path;
  o.document = ready.document;
  o.pages = 1;
  std::error_code ec;
  o.bytes = std::filesystem::file_size(o.path, ec);
  model_.Add(o);
  thumbnails_.push_back(QImage());
  SetThumbnail(model_.Size() - 1, ready.page.thumbnail, ready.page.label);
  ShowPreview(ready.preview);
  ScrollBox1->ensureVisible(int(model_.Size()) * kThumbnailSide - 1, kThumbnailSide / 2, 0, 0);
}

void TAcquisitionForm::SetThumbnail(size_t index, const Bitmap& thumbnail, const std::string& label) {
  thumbnails_[index] = ThumbnailImage(thumbnail, label);
  static_cast<ThumbnailStrip*>(Image1)->Update();
}

void TAcquisitionForm::ShowPreview(const QImage& preview) { Image2->setPixmap(QPixmap::fromImage(preview)); }

void TAcquisitionForm::ShowProgress(int percent) {
  if (percent < 0) {
    ProgressBar1->setRange(0, 0);  // a hand scanner: the length is not known
  } else if (Busy()) {
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(std::clamp(percent, 0, 100));
  }
}

void TAcquisitionForm::CancelWork() { work_.Cancel(); }

void TAcquisitionForm::Button5Click() {
  if (config_ && !Busy()) Dialogs().ShowModal(config_);
}

void TAcquisitionForm::Button2Click() {
  if (Busy()) return;
  if (model_.Size() == 0) {
    ShowSendResult(this, model_.Items());
    return;
  }
  const AssociationTarget target = PacsTarget(cfg_, kSendTimeout);
  auto sent = std::make_shared<std::vector<BatchObject>>(model_.ToSend());
  StartWork(
      BackgroundWork::State::Sending,
      [this, target, sent](const BackgroundWork::Run& run) {
        SendFromRun(run, *sent, target, [this, total = sent->size()](size_t index, const BatchObject& object) {
          model_.SetResult(index, object);
          if (object.state == BatchObject::State::Accepted) ProgressBar1->setValue(int((index + 1) * 100 / total));
        });
      },
      [this, sent] { ShowSendResult(this, *sent); });
}

void TAcquisitionForm::Image1MouseDown(Qt::MouseButton button, int x, const QPoint& globalPos) {
  if (button != Qt::RightButton || Busy() || x < 0) return;
  const size_t index = size_t(x / kThumbnailSide);
  if (index >= model_.Size()) return;
  menuPage_ = index;
  PageMenu->popup(globalPos);
}

void TAcquisitionForm::DeletePage(size_t index) {
  if (Busy() || index >= model_.Size()) return;
  if (!Dialogs().AskYesNo(this, "Delete page", "Delete?")) return;
  model_.Remove(index);
  thumbnails_.erase(thumbnails_.begin() + std::ptrdiff_t(index));
  static_cast<ThumbnailStrip*>(Image1)->Update();
}

void TAcquisitionForm::RotatePage(size_t index, bool clockwise) {
  if (Busy() || index >= model_.Size()) return;
  // Decoding and encoding a page again takes a while: in the background, like a scan.
  struct Turned {
    bool done = false;
    Bitmap thumbnail;
    std::string label;
    QImage preview;
  };
  auto turned = std::make_shared<Turned>();
  StartWork(
      BackgroundWork::State::Converting,
      [this, index, clockwise, turned](const BackgroundWork::Run&) {
        Bitmap page;
        turned->done = model_.Turn(index, clockwise, study_, InstanceCounter, &page);
        if (!turned->done) {
          AddProblem("The page could not be turned. See the log file.");
          return;
        }
        RenderPageThumbnail(model_.Items()[index].path, turned->thumbnail, turned->label);
        turned->preview = PreviewImage(page);
      },
      [this, index, turned] {
        if (!turned->done || index >= model_.Size()) return;
        SetThumbnail(index, turned->thumbnail, turned->label);
        ShowPreview(turned->preview);
      });
}

void TAcquisitionForm::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::RightButton)
    Button3Click();
  else
    QDialog::mousePressEvent(event);
}

void TAcquisitionForm::FormClose(bool ask) {
  // A scanned page cannot be made again: what the PACS has not accepted may go to the outbox.
  CloseBatch(ask);
  thumbnails_.clear();
  static_cast<ThumbnailStrip*>(Image1)->Update();
  devices_.clear();
  ComboBox1->clear();
  sane_.reset();
}

void TAcquisitionForm::DropUrls(const QList<QUrl>& urls) {
  std::vector<std::string> files;
  if (!Busy() && DroppedFiles(this, urls, IsImageName, "Not an image file: ", files)) AddImageFiles(files);
}
