#pragma once
// The outbox: objects the PACS did not accept, kept in OutboxFolder() (core/config.h) to be sent
// later. It survives a restart; a file in it is deleted only once the PACS has accepted it.
#include <string>
#include <vector>

#include "convert/sending.h"
#include "core/config.h"

// The files waiting in the outbox, by name.
std::vector<std::string> OutboxFiles();

// Moves the files into the outbox (a name already there gets a number added). A file that cannot
// be moved stays where it is, with one log line. Returns the files that could not be moved.
std::vector<std::string> MoveToOutbox(const std::vector<std::string>& files);

// The outbox as a batch: one object per file, named by its file name.
std::vector<BatchObject> OutboxBatch();

// After a send of OutboxBatch(): deletes the accepted files; the rest stay (an unreadable file is
// reported by its state and never deleted).
void ClearAccepted(const std::vector<BatchObject>& sent);
