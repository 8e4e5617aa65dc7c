#pragma once
// One batch of a conversion form, free of any window: its objects (PDF objects, reports or pages)
// in order, each with its state and the result of its last send; numbering, delete and turn; and
// what closing does with what the PACS has not accepted. The forms show it and run its work in
// the background; the sending thread works on a copy of the items and hands each result back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "convert/batch.h"
#include "convert/sending.h"
#include "query/studyinfo.h"

struct Bitmap;

class BatchModel {
 public:
  // A new batch of the study in `folder` (StartConversionBatch): the study gets its Study Instance
  // UID when it has none; `counter` starts from 0 unless `keepNumbering`; no items. False (logged)
  // when no batch can start: the study has no Patient ID.
  bool Start(StudyInfo& study, const std::string& folder, int32_t& counter, bool keepNumbering);

  ConversionBatch& Batch() { return batch_; }
  const ConversionBatch& Batch() const { return batch_; }
  const std::vector<BatchObject>& Items() const { return items_; }
  size_t Size() const { return items_.size(); }

  // Appends an object of the batch (its file is one of the batch's); returns its index.
  size_t Add(BatchObject object);
  // The page count found for an item later (a PDF's preview).
  void SetPages(size_t index, int pages);
  // Removes the item and deletes its file; the others keep their numbers and UIDs. False for an
  // index out of range.
  bool Remove(size_t index);
  // Turns a page by a quarter and rebuilds its object. A page never sent keeps its UIDs and
  // Instance Number. A page the PACS has accepted is another object once turned: it gets the
  // batch's next Instance Number (from `counter`) and its own SOP Instance UID, one INFO line says
  // so, and the accepted file goes. Either way the page is unsent afterwards. False (logged) when
  // the page cannot be read or written; it then stays as it was.
  bool Turn(size_t index, bool clockwise, const StudyInfo& study, int32_t& counter, Bitmap* turnedPage = nullptr);

  // What a send takes: a copy of the items, for the sending thread.
  std::vector<BatchObject> ToSend() const { return items_; }
  // The result of the item at `index` as the send of ToSend() left it. The item is found again by
  // its file, so a result for an item removed meanwhile is dropped.
  void SetResult(size_t index, const BatchObject& sent);

  // The close decision: how many items the PACS has not accepted (nothing to ask when 0).
  size_t Unaccepted() const { return NotAccepted(items_); }
  struct Closed {
    size_t kept = 0;                  // objects moved to the outbox
    std::vector<std::string> stayed;  // objects that could not be moved: they stay in the run's folder
  };
  // Ends the batch: with `keepUnaccepted` the items the PACS has not accepted move to the outbox
  // (those that cannot be moved stay where they are, for the next start to keep); every other file
  // of the batch is deleted. The model is empty afterwards.
  Closed Close(bool keepUnaccepted);

 private:
  ConversionBatch batch_;
  std::vector<BatchObject> items_;
};
