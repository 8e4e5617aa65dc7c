#pragma once
// The PDF form: PDF files become Encapsulated PDF objects of the current study, listed with their
// first page, and are sent to the PACS with a result for each.
#include <QDialog>
#include <cstdint>
#include <string>
#include <vector>

#include "convert/batch_model.h"
#include "core/config.h"
#include "edge/background.h"
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
  // is sent in the background and the result shown when the send has ended. Preset PDFs close the
  // form when done, unless one of them could not be converted.
  void Button3Click();
  // "Close".
  void Button1Click() { close(); }
  // Builds the PDFs into the batch and sends it, as Send does with a chosen file. A PDF that cannot
  // be converted is named in a message; the others are sent.
  void SendFiles(const std::vector<std::string>& pdfs, bool closeWhenDone = false);

  const std::vector<BatchObject>& Objects() const { return model_.Items(); }
  const BackgroundWork& Work() const { return work_; }

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
  // Lists a new object of the batch and starts its preview.
  void AddRow(const BatchObject& object, const std::string& pdf);
  void ShowRow(size_t i);
  void UpdateButtons();
  // Closing: objects the PACS never accepted go to the outbox when the operator says so (unasked
  // without `ask`); every other temporary file is deleted.
  void FormClose(bool ask);

  StudyInfo& study_;
  const SetupCfg& cfg_;
  BatchModel model_;
  int generation_ = 0;  // counts batches, so that a late preview finds its own
  BackgroundWork work_;  // last: it waits for its runs before the rest goes
};
