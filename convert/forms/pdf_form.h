#pragma once
// The PDF form: PDF files become Encapsulated PDF objects of the current study, listed with their
// first page, and are sent to the PACS with a result for each.
#include <QDialog>
#include <cstdint>
#include <string>
#include <vector>

#include "convert/batch.h"
#include "convert/sending.h"
#include "core/config.h"
#include "query/studyinfo.h"

class QPushButton;
class QTreeWidget;
class QUrl;

// The local PDF files of a drop, in order; false (after a message naming the first other thing
// dropped) when anything else is among them.
bool DroppedPdfs(QWidget* parent, const QList<QUrl>& urls, std::vector<std::string>& pdfs);

class TPDFForm : public QDialog {
  Q_OBJECT
 public:
  // study: the current study, filled by the main window before each showing (its Study Instance UID
  // is set here when empty); cfg: the configuration whose PACS receives the objects.
  TPDFForm(StudyInfo& study, const SetupCfg& cfg, QWidget* parent = nullptr);
  ~TPDFForm() override;

  // The PDF sent without asking (the command-line document); "" asks for one. Emptied by each Send.
  std::string PresetFile;
  // PDFs dropped onto the main window: built and sent at once, like PresetFile; emptied by Send.
  std::vector<std::string> PresetFiles;

  // Each showing: caption, a new batch and its UIDs, an empty list.
  void FormActivate();
  // "Send": the chosen (or preset) PDFs become objects of the batch; then every object of the batch
  // is sent and the result shown.
  void Button3Click();
  // "Close".
  void Button1Click() { close(); }
  // Builds the PDFs into the batch and sends it, as Send does with a chosen file.
  void SendFiles(const std::vector<std::string>& pdfs);

  const std::vector<BatchObject>& Objects() const { return objects_; }

  QPushButton* Button1 = nullptr;  // "Close"
  QPushButton* Button3 = nullptr;  // "Send"
  QTreeWidget* BatchList = nullptr;

 signals:
  // The outbox may have changed (objects kept in it when the form closed).
  void OutboxChanged();

 protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // Builds one PDF into the batch and lists it; false (after the message) when it cannot be read.
  bool AddPdf(const std::string& path);
  void ShowRow(size_t i);
  // Closing: objects the PACS never accepted go to the outbox when the operator says so (unasked
  // without `ask`); every other temporary file is deleted.
  void FormClose(bool ask);

  StudyInfo& study_;
  const SetupCfg& cfg_;
  ConversionBatch batch_;
  std::vector<BatchObject> objects_;
  bool sending_ = false;
  int generation_ = 0;  // counts batches, so that a late preview finds its own
};
