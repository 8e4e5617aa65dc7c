#pragma once
// The PDF form: PDF files become Encapsulated PDF objects of the current study, listed with their
// first page, and are sent to the PACS with a result for each.
#include <cstdint>
#include <string>
#include <vector>

#include "convert/forms/form_batch.h"
#include "core/config.h"
#include "query/studyinfo.h"

class QPushButton;
class QTreeWidget;
class QUrl;

// The local PDF files of a drop, in order; false (after a message naming the first other thing
// dropped) when anything else is among them.
bool DroppedPdfs(QWidget* parent, const QList<QUrl>& urls, std::vector<std::string>& pdfs);

class TPDFForm : public TBatchForm {
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


  QPushButton* Button1 = nullptr;  // "Close"
  QPushButton* Button3 = nullptr;  // "Send"
  QTreeWidget* BatchList = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void DropUrls(const QList<QUrl>& urls) override;

 private:
  // Lists a new object of the batch and starts its preview.
  void AddRow(const BatchObject& object, const std::string& pdf);
  void ShowRow(size_t i);
  void UpdateButtons();
  void FormClose(bool ask) override;

  StudyInfo& study_;
  const SetupCfg& cfg_;
  int generation_ = 0;  // counts batches, so that a late preview finds its own
};
