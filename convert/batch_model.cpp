#include "convert/batch_model.h"

#include <algorithm>
#include <cstdio>

#include "convert/outbox.h"
#include "convert/scanned_pages.h"

bool BatchModel::Start(StudyInfo& study, const std::string& folder, int32_t& counter, bool keepNumbering) {
  items_.clear();
  if (!keepNumbering) counter = 0;
  return StartConversionBatch(study, folder, batch_);
}

size_t BatchModel::Add(BatchObject object) {
  items_.push_back(std::move(object));
  return items_.size() - 1;
}

void BatchModel::SetPages(size_t index, int pages) {
  if (index < items_.size()) items_[index].pages = pages;
}

bool BatchModel::Remove(size_t index) {
  if (index >= items_.size()) return false;
  const std::string path = items_[index].path;
  std::remove(path.c_str());
  std::erase(batch_.TempFiles, path);
  items_.erase(items_.begin() + std::ptrdiff_t(index));
  return true;
}

bool BatchModel::Turn(size_t index, bool clockwise, const StudyInfo& study, int32_t& counter, Bitmap* turnedPage) {
  if (index >= items_.size()) return false;
  BatchObject& page = items_[index];
  const bool held = page.state == BatchObject::State::Accepted;
  if (!RotateScannedPage(page.path, clockwise, study, batch_, turnedPage, held ? &counter : nullptr)) return false;
  page.state = BatchObject::State::NotSent;
  page.status = 0;
  page.sentAs.clear();
  return true;
}

void BatchModel::SetResult(size_t index, const BatchObject& sent) {
  if (index < items_.size() && items_[index].path == sent.path) {
    items_[index].state = sent.state;
    items_[index].status = sent.status;
    items_[index].sentAs = sent.sentAs;
  }
}

BatchModel::Closed BatchModel::Close(bool keepUnaccepted) {
  Closed closed;
  if (keepUnaccepted) {
    std::vector<std::string> keep;
    for (const BatchObject& o : items_)
      if (o.state != BatchObject::State::Accepted) keep.push_back(o.path);
    closed.stayed = MoveToOutbox(keep);
    closed.kept = keep.size() - closed.stayed.size();
    // Nothing is lost: what could not be moved stays in this run's folder, and the next start keeps
    // it in the outbox.
    std::erase_if(batch_.TempFiles, [&closed](const std::string& f) {
      return std::find(closed.stayed.begin(), closed.stayed.end(), f) != closed.stayed.end();
    });
  }
  DeleteBatchFiles(batch_);  // what was moved is gone from the folder already
  items_.clear();
  return closed;
}
