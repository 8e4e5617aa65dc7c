#pragma once
// The outbox: objects the PACS did not accept, kept in OutboxFolder() (core/config.h) to be sent
// later. It survives a restart; a file in it is deleted only once the PACS has accepted it.
#include <string>
#include <vector>

#include "convert/sending.h"
#include "core/config.h"
#include "core/fileutil.h"

// The files waiting in the outbox, by name (not the hidden ones: temporaries and the lock).
std::vector<std::string> OutboxFiles();

// Moves the files into the outbox, each complete on the disk before its source goes (a name
// already there gets a number added; nothing is ever replaced). A file that cannot be moved stays
// where it is, with one log line. Returns the files that could not be moved.
std::vector<std::string> MoveToOutbox(const std::vector<std::string>& files);

// The start-up step after the folders: the objects in the folders of runs that are no longer
// running (their lock is free) move to the outbox, one INFO line each; what those runs knew to be
// disposable (accepted objects, the hand-over page, temporaries) is removed, then the folder. A
// running program's folder is never touched. Returns the number of objects kept.
size_t KeepAbandonedObjects();

// One sender at a time for the outbox: the lock kOutboxLock in it, held while the object lives.
inline constexpr const char kOutboxLock[] = ".lock";
class OutboxSender {
 public:
  // wait false: false at once when another program is sending the outbox.
  bool Claim(bool wait);

 private:
  FileLock lock_;
};

// The outbox as a batch: one object per file, named by its file name.
std::vector<BatchObject> OutboxBatch();

// After a send of OutboxBatch(): deletes the accepted files; the rest stay (an unreadable file is
// reported by its state and never deleted).
void ClearAccepted(const std::vector<BatchObject>& sent);
