#pragma once
// What every conversion form does with its batch model: start it when shown, send it in the
// background, show the result of a Send, and close it through the outbox question (TBatchForm).
#include <QDialog>
#include <QList>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "convert/batch_model.h"
#include "convert/sending.h"
#include "edge/background.h"
#include "query/studyinfo.h"

// Sends `objects` inside a background run, each file's result posted to the owner's thread as
// `each(index, object)`. What every road's Send and the outbox use.
void SendFromRun(const BackgroundWork::Run& run, std::vector<BatchObject>& objects, const AssociationTarget& target,
                 const SentObjectSink& each);

// The result of a Send: "Files sent OK" when the PACS accepted every object, else (also when there
// was nothing to send) "ERROR sending files, please check log file"; the details name each
// object's result.
void ShowSendResult(QWidget* parent, const std::vector<BatchObject>& sent);

// The local files of a drop, in order, when `fits` takes each of them; else false, after the
// message `notFitting` + the first other thing dropped.
bool DroppedFiles(QWidget* parent, const QList<QUrl>& urls, const std::function<bool(const QString&)>& fits,
                  const QString& notFitting, std::vector<std::string>& files);

// What the three conversion forms have in common: the batch model they show, the one runner of
// their background work, drops taken while idle, and the close through the outbox question.
class TBatchForm : public QDialog {
  Q_OBJECT
 public:
  const std::vector<BatchObject>& Objects() const { return model_.Items(); }
  const BackgroundWork& Work() const { return work_; }

 signals:
  // The outbox may have changed (objects kept in it when the form closed).
  void OutboxChanged();

 protected:
  explicit TBatchForm(QWidget* parent) : QDialog(parent) {}
  // Files dropped onto the form while it is idle.
  virtual void DropUrls(const QList<QUrl>& urls) = 0;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // Each showing: a new batch of the study in this run's folder (the study gets its Study Instance
  // UID when it has none), InstanceCounter from 0 unless `keepNumbering`, "INFO, Study Instance
  // UID = " in the log; a message when no batch can start.
  void StartBatch(StudyInfo& study, bool keepNumbering = false);
  // Ends the batch: the objects the PACS has not accepted go to the outbox when the operator says so
  // (unasked without `ask`); one that cannot be moved stays in the run's folder, with a message;
  // every other file of the batch is deleted. OutboxChanged when the outbox changed.
  void CloseBatch(bool ask);
  // Closing (Close, Escape, the window's close): a scanner lookup is left to end on its own; any
  // other work is waited for, and the form closes itself once it has ended. Then MayClose decides,
  // and FormClose ends the batch.
  void done(int result) override;
  virtual bool MayClose() { return true; }
  // Ends the batch: what the PACS has not accepted goes to the outbox when the operator says so
  // (unasked without `ask`, as at the program's end); every other file is deleted.
  virtual void FormClose(bool ask) { CloseBatch(ask); }

  BatchModel model_;
  // The derived forms wait for it (Wait) before their own members go.
  BackgroundWork work_;

 private:
  bool closeWhenIdle_ = false;  // a close waits for the work to end
};
