#pragma once
// The acquisition form: pages scanned (or taken from image files), shown as a preview and as
// thumbnails, made JPEG image objects of the current study and sent to the PACS as one series.
#include <QDialog>
#include <QImage>
#include <QList>
#include <QUrl>
#include <mutex>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "convert/forms/form_batch.h"
#include "convert/scanner.h"
#include "core/config.h"
#include "present/bitmap.h"
#include "query/studyinfo.h"

class QComboBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QScrollArea;
class TConfigFrm;

// Our dialog in place of a device's own: its mode, resolution and source, then Scan or Cancel.
class TScanDialog : public QDialog {
  Q_OBJECT
 public:
  // The lists start at the settings' colour and resolution (the nearest the device offers) and the
  // device's present source.
  TScanDialog(const QString& device, const std::vector<ScannerOption>& options, const ScanSettings& settings,
              QWidget* parent = nullptr);
  // The settings with the choices made: the colour, resolution and feeder they mean, and each
  // option as chosen (after the settings' own further options).
  ScanSettings Settings() const;

  std::vector<QComboBox*> Lists;  // one per option, named after it ("mode", "resolution", "source")
  QPushButton* ScanButton = nullptr;
  QPushButton* CancelButton = nullptr;

 private:
  ScanSettings settings_;
  std::vector<ScannerOption> options_;
};

class TAcquisitionForm : public TBatchForm {
  Q_OBJECT
 public:
  // study: the current study, filled by the main window before each showing; cfg: the configuration
  // whose PACS receives the pages; settings: the program's scan settings, which `config` (shown by
  // "Configuration") changes.
  TAcquisitionForm(StudyInfo& study, const SetupCfg& cfg, ScanSettings& settings, TConfigFrm* config,
                   QWidget* parent = nullptr);
  ~TAcquisitionForm() override;

  // Each showing: caption, empty preview and strip, a new batch and its series, the scanner list
  // (looked up in the background; "No Scanner Found" when it is empty).
  void FormActivate();
  // "Scan" (and a right click on the form): the scanner's settings read in the background, our scan
  // dialog for them, then the page (with a feeder, every sheet) scanned in the background; each
  // becomes a page of the batch.
  void Button3Click();
  // "Configuration": the scanner settings dialog.
  void Button5Click();
  // "Send": every page of the batch to the PACS, the progress after each accepted page.
  void Button2Click();
  // "Close".
  void Button1Click() { close(); }
  // "Add images...": pages from image files (JPEG, PNG, BMP, TIFF with each of its pages).
  void AddImagesClick();
  void AddImageFiles(const std::vector<std::string>& files);
  // Files dropped onto the form: image files become pages; anything else is refused with a message.
  void DropUrls(const QList<QUrl>& urls) override;
  // Ends a scan (or an image run) that is under way; the pages already made stay.
  void CancelWork();
  // A right click on the strip at x: the menu for the page under it (x / 96).
  void Image1MouseDown(Qt::MouseButton button, int x, const QPoint& globalPos);
  // Asks "Delete?"; Yes removes the page and its file (the others keep their numbers and UIDs).
  void DeletePage(size_t index);
  // Turns the page by a quarter; its object is rebuilt (a page the PACS holds becomes a new one).
  void RotatePage(size_t index, bool clockwise);

  // True while the scanner list is looked up, a scan or image run is under way, or a Send runs.
  bool Busy() const { return work_.Busy(); }
  // The names of the scanners found (the list shows the second field of each entry).
  const std::vector<ScannerDevice>& Scanners() const { return devices_; }

  QLabel* Image2 = nullptr;  // the preview, 640 x 480
  QScrollArea* ScrollBox1 = nullptr;
  QWidget* Image1 = nullptr;  // the thumbnail strip, 96 x 96 per page
  QComboBox* ComboBox1 = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QPushButton* Button3 = nullptr;  // "Scan"
  QPushButton* Button5 = nullptr;  // "Configuration"
  QPushButton* AddImagesButton = nullptr;
  QPushButton* CancelButton = nullptr;  // ends a running scan
  QPushButton* Button2 = nullptr;       // "Send"
  QPushButton* Button1 = nullptr;       // "Close"
  QMenu* PageMenu = nullptr;            // the strip's right-click menu: Delete, turn right, turn left

 protected:
  void showEvent(QShowEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  struct ReadyPage;
  // Runs `work` in the background in `state`; when it has ended the progress is reset, `then` runs,
  // and the problems the run collected are shown in one message.
  void StartWork(BackgroundWork::State state, std::function<void(const BackgroundWork::Run&)> work,
                 std::function<void()> then = {});
  // On the worker thread: the page made an object of the batch, its thumbnail and preview, handed to
  // the form. Scanned pages pass through the hand-over file first; a page from an image file comes
  // with its page JPEG.
  void MakePage(const BackgroundWork::Run& run, Bitmap&& page, bool scanned, const std::string& document,
                const std::vector<uint8_t>* jpeg = nullptr);
  // On the worker thread: a problem for the message at the end of the run.
  void AddProblem(const std::string& problem);
  void Scan(const std::string& device, const std::vector<ScannerOption>& options);
  void TakePage(const ReadyPage& page);
  void ShowProgress(int percent);
  void ShowPreview(const QImage& preview);
  void SetThumbnail(size_t index, const Bitmap& thumbnail, const std::string& label);
  void UpdateButtons();
  void FormClose(bool ask) override;

  StudyInfo& study_;
  const SetupCfg& cfg_;
  ScanSettings& settings_;
  TConfigFrm* config_;
  std::vector<QImage> thumbnails_;  // one per page of the model
  std::vector<ScannerDevice> devices_;
  std::shared_ptr<SaneSession> sane_;
  std::mutex problemsMutex_;
  std::string problems_;  // collected by the run: the message to show when it ends
  size_t menuPage_ = 0;
};
