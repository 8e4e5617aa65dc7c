#include "convert/forms/form_batch.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <memory>

#include "convert/outbox.h"
#include "core/config.h"
#include "core/log.h"
#include "edge/dialogs.h"

void StartFormBatch(QWidget* form, StudyInfo& study, BatchModel& model, bool keepNumbering) {
  if (!model.Start(study, WorkFolder(), InstanceCounter, keepNumbering))
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

bool CloseFormBatch(QWidget* parent, BatchModel& model, bool ask) {
  const size_t unaccepted = model.Unaccepted();
  const bool keep = unaccepted > 0 &&
                    (!ask || Dialogs().AskYesNo(parent, "Outbox",
                                                QString::number(unaccepted) +
                                                    " object(s) were not accepted by the PACS. Keep them in the "
                                                    "outbox to send later?"));
  const std::string folder = model.Batch().TempFolder;
  const BatchModel::Closed closed = model.Close(keep);
  if (!closed.stayed.empty())
    Dialogs().ShowError(parent, QString::number(closed.stayed.size()) + " object(s) could not be moved to " +
                                    QString::fromStdString(OutboxFolder()) + "; they stay in " +
                                    QString::fromStdString(folder) +
                                    " and go to the outbox at the next start. See the log file.");
  return closed.kept > 0;
}

void SendFromRun(const BackgroundWork::Run& run, std::vector<BatchObject>& objects, const AssociationTarget& target,
                 const SentObjectSink& each) {
  SendBatch(objects, target, [&run, &each](size_t index, const BatchObject& object) {
    run.Post([each, index, object] { each(index, object); });
  });
}

bool SendModel(BackgroundWork& work, BatchModel& model, const AssociationTarget& target,
               std::function<void(size_t)> shown, std::function<void(const std::vector<BatchObject>&)> done) {
  auto sent = std::make_shared<std::vector<BatchObject>>(model.ToSend());
  return work.Start(
      BackgroundWork::State::Sending,
      [sent, target, &model, shown](const BackgroundWork::Run& run) {
        SendFromRun(run, *sent, target, [&model, shown](size_t index, const BatchObject& object) {
          model.SetResult(index, object);
          if (shown) shown(index);
        });
      },
      [sent, done] {
        if (done) done(*sent);
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

bool CloseWhenIdle(QWidget* form, BackgroundWork& work) {
  if (work.state() == BackgroundWork::State::LookingUp) work.Abandon();
  if (!work.Busy()) return true;
  if (!form->property("closeWhenIdle").toBool()) {  // once, however often the operator asks
    form->setProperty("closeWhenIdle", true);
    QObject::connect(
        &work, &BackgroundWork::Finished, form,
        [form] {
          form->setProperty("closeWhenIdle", false);
          form->close();
        },
        Qt::SingleShotConnection);
  }
  return false;
}

void TBatchForm::dragEnterEvent(QDragEnterEvent* event) {
  if (!work_.Busy() && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TBatchForm::dropEvent(QDropEvent* event) {
  event->acceptProposedAction();
  if (!work_.Busy()) DropUrls(event->mimeData()->urls());
}

void TBatchForm::CloseBatch(bool ask) {
  if (CloseFormBatch(this, model_, ask)) emit OutboxChanged();
}

void TBatchForm::done(int result) {
  if (!CloseWhenIdle(this, work_) || !MayClose()) return;
  FormClose(true);
  QDialog::done(result);
}
