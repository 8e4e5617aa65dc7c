#pragma once
// What every conversion form does with its batch: start it when shown, show the result of a Send,
// and close it through the outbox question.
#include <QList>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "convert/batch.h"
#include "convert/sending.h"
#include "query/studyinfo.h"

// Each showing of a form: a new batch of the study in the temporary folder (the study gets its
// Study Instance UID when it has none), InstanceCounter from 0 unless `keepNumbering`, "INFO, Study
// Instance UID = " in the log; a message when no batch can start.
void StartFormBatch(QWidget* form, StudyInfo& study, ConversionBatch& batch, bool keepNumbering = false);

// Closing a batch: the objects the PACS has not accepted go to the outbox when the operator says so
// (unasked without `ask`); an object that cannot be moved stays in temp/ with a message; every
// other file of the batch is deleted. True when the outbox changed.
bool CloseBatch(QWidget* parent, const std::vector<BatchObject>& objects, ConversionBatch& batch, bool ask);

// The result of a Send: "Files sent OK" when the PACS accepted every object, else (also when there
// was nothing to send) "ERROR sending files, please check log file"; the details name each
// object's result.
void ShowSendResult(QWidget* parent, const std::vector<BatchObject>& sent);

// The local files of a drop, in order, when `fits` takes each of them; else false, after the
// message `notFitting` + the first other thing dropped.
bool DroppedFiles(QWidget* parent, const QList<QUrl>& urls, const std::function<bool(const QString&)>& fits,
                  const QString& notFitting, std::vector<std::string>& files);
