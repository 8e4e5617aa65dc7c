#include "convert/forms/form_batch.h"

#include <algorithm>

#include "convert/outbox.h"
#include "core/config.h"
#include "core/log.h"
#include "edge/dialogs.h"

void StartFormBatch(QWidget* form, StudyInfo& study, ConversionBatch& batch, bool keepNumbering) {
  if (!keepNumbering) InstanceCounter = 0;
  if (!StartConversionBatch(study, WorkFolder(), batch))
    Dialogs().ShowError(form, "The batch cannot start: the Patient ID is empty.");
  // StartConversionBatch names the study itself with debug logging; a form names it every time.
  if (DebugLevel <= 1) WriteLog("INFO, Study Instance UID = " + study.StudyInstanceUID);
}

void ShowSendResult(QWidget* parent, const std::vector<BatchObject>& sent) {
  const QString details = QString::fromStdString(ResultDetails(sent));
  if (!sent.empty() && NotAccepted(sent) == 0)
    Dialogs().ShowDetails(parent, "Files sent OK", details, false);
  else
    Dialogs().ShowDetails(parent, "ERROR sending files, please check log file", details, true);
}

bool CloseBatch(QWidget* parent, const std::vector<BatchObject>& objects, ConversionBatch& batch, bool ask) {
  std::vector<std::string> keep;
  for (const BatchObject& o : objects)
    if (o.state != BatchObject::State::Accepted) keep.push_back(o.path);
  bool moved = false;
  if (!keep.empty() &&
      (!ask || Dialogs().AskYesNo(parent, "Outbox",
                                  QString::number(keep.size()) +
                                      " object(s) were not accepted by the PACS. Keep them in the outbox to send "
                                      "later?"))) {
    const std::vector<std::string> stayed = MoveToOutbox(keep);
    moved = stayed.size() < keep.size();
    if (!stayed.empty()) {
      // Nothing is lost: what could not be moved stays in this run's folder, and the next start
      // keeps it in the outbox.
      std::erase_if(batch.TempFiles, [&stayed](const std::string& f) {
        return std::find(stayed.begin(), stayed.end(), f) != stayed.end();
      });
      Dialogs().ShowError(parent, QString::number(stayed.size()) + " object(s) could not be moved to " +
                                      QString::fromStdString(OutboxFolder()) + "; they stay in " +
                                      QString::fromStdString(batch.TempFolder) +
                                      " and go to the outbox at the next start. See the log file.");
    }
  }
  DeleteBatchFiles(batch);  // what was moved is gone from temp/ already
  return moved;
}

bool DroppedFiles(QWidget* parent, const QList<QUrl>& urls, const std::function<bool(const QString&)>& fits,
                  const QString& notFitting, std::vector<std::string>& files) {
  files.clear();
  for (const QUrl& url : urls) {
    const QString path = url.toLocalFile();
    if (path.isEmpty() || !fits(path)) {
      Dialogs().ShowMessage(parent, notFitting + (path.isEmpty() ? url.toString() : path));
      files.clear();
      return false;
    }
    files.push_back(path.toStdString());
  }
  return !files.empty();
}
