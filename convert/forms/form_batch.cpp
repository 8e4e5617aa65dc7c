#include "convert/forms/form_batch.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <utility>

#include "convert/outbox.h"
#include "core/config.h"
#include "core/log.h"
#include "edge/dialogs.h"

void ShowSendResult(QWidget* parent, const std::vector<BatchObject>& sent) {
  const QString details = QString::fromStdString(ResultDetails(sent));
  if (!sent.empty() && NotAccepted(sent) == 0)
    Dialogs().ShowDetails(parent, "Files sent OK", details, false);
  else
    Dialogs().ShowDetails(parent, "ERROR sending files, please check log file", details, true);
}

void SendFromRun(const BackgroundWork::Run& run, std::vector<BatchObject>& objects, const AssociationTarget& target,
                 const SentObjectSink& each) {
  SendBatch(objects, target, [&run, &each](size_t index, const BatchObject& object) {
    run.Post([each, index, object] { each(index, object); });
  });
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

void TBatchForm::dragEnterEvent(QDragEnterEvent* event) {
  if (!work_.Busy() && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TBatchForm::dropEvent(QDropEvent* event) {
  event->acceptProposedAction();
  if (!work_.Busy()) DropUrls(event->mimeData()->urls());
}

void TBatchForm::StartBatch(StudyInfo& study, bool keepNumbering) {
  if (!model_.Start(study, WorkFolder(), InstanceCounter, keepNumbering))
    Dialogs().ShowError(this, "The batch cannot start: the Patient ID is empty.");
  // StartConversionBatch names the study itself with debug logging; a form names it every time.
  if (DebugLevel <= 1) WriteLog("INFO, Study Instance UID = " + study.StudyInstanceUID);
}

void TBatchForm::CloseBatch(bool ask) {
  const size_t unaccepted = model_.Unaccepted();
  const bool keep = unaccepted > 0 &&
                    (!ask || Dialogs().AskYesNo(this, "Outbox",
                                                QString::number(unaccepted) +
                                                    " object(s) were not accepted by the PACS. Keep them in the "
                                                    "outbox to send later?"));
  const std::string folder = model_.Batch().TempFolder;
  const BatchModel::Closed closed = model_.Close(keep);
  if (!closed.stayed.empty())
    Dialogs().ShowError(this, QString::number(closed.stayed.size()) + " object(s) could not be moved to " +
                                  QString::fromStdString(OutboxFolder()) + "; they stay in " +
                                  QString::fromStdString(folder) +
                                  " and go to the outbox at the next start. See the log file.");
  if (closed.kept > 0) emit OutboxChanged();
}

void TBatchForm::done(int result) {
  if (work_.state() == BackgroundWork::State::LookingUp) work_.Abandon();
  if (work_.Busy()) {
    if (!std::exchange(closeWhenIdle_, true))  // once, however often the operator asks
      connect(
          &work_, &BackgroundWork::Finished, this,
          [this] {
            closeWhenIdle_ = false;
            close();
          },
          Qt::SingleShotConnection);
    return;
  }
  if (!MayClose()) return;
  FormClose(true);
  QDialog::done(result);
}
