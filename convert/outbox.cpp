#include "convert/outbox.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>

#include "core/config.h"
#include "core/fileutil.h"
#include "core/log.h"

namespace fs = std::filesystem;

namespace {

// The object files of a folder, by name: regular files, not the hidden ones (temporaries, locks).
std::vector<std::string> ObjectFilesIn(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!name.empty() && name[0] != '.' && it->is_regular_file(ec) && !it->is_symlink(ec))
      files.push_back(it->path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// A free name in the outbox for the file: its own name, or with "-2", "-3"... before the extension.
std::string FreeName(const std::string& file, int n) {
  const std::string name = FileNamePart(file);
  if (n < 2) return OutboxFolder() + name;
  const size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
  return OutboxFolder() + stem + "-" + std::to_string(n) + ext;
}

// Moves one file into the outbox under a free name, never over another file. "" when it stayed.
std::string MoveOne(const std::string& f) {
  std::string why;
  for (int n = 1; n < 10000; ++n) {
    const std::string to = FreeName(f, n);
    if (MoveFileNoReplace(f, to, why)) return to;
    if (why != kNameTaken) break;
  }
  WriteLog("ERROR, MoveToOutbox, cannot keep " + f + " in " + OutboxFolder() + ": " + why);
  return "";
}

bool OutboxReady() {
  std::string warning;
  if (!PrivateFolder(OutboxFolder(), &warning)) {
    WriteLog("ERROR, outbox, " + OutboxFolder() + " cannot be used as the outbox");
    return false;
  }
  if (!warning.empty()) WriteLog(warning);
  return true;
}

}  // namespace

std::vector<std::string> OutboxFiles() { return ObjectFilesIn(OutboxFolder()); }

std::vector<std::string> MoveToOutbox(const std::vector<std::string>& files) {
  if (!OutboxReady()) return files;
  std::vector<std::string> stayed;
  for (const std::string& f : files)
    if (MoveOne(f).empty()) stayed.push_back(f);
  return stayed;
}

size_t KeepAbandonedObjects() {
  const std::string temp = TempFolder();
  if (temp.empty()) return 0;
  size_t kept = 0;
  std::error_code ec;
  std::vector<std::string> runs;
  for (fs::directory_iterator it(temp, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind("run-", 0) == 0 && it->is_directory(ec) && !it->is_symlink(ec))
      runs.push_back(it->path().string() + "/");
  }
  for (const std::string& run : runs) {
    if (run == ClaimedWorkFolder()) continue;
    FileLock lock;
    if (!lock.Acquire(run + kWorkFolderLock, false)) continue;  // its program is still running
    const std::set<std::string> accepted = AcceptedObjects(run);
    bool emptied = true;
    for (const std::string& f : ObjectFilesIn(run)) {
      const std::string name = FileNamePart(f);
      // What the PACS accepted, and the scanner's hand-over page, may go; every other object is kept.
      const bool object = LowerExtension(name) == ".dcm" && !accepted.count(name);
      if (!object) {
        fs::remove(f, ec);
        continue;
      }
      if (!OutboxReady()) return kept;
      const std::string to = MoveOne(f);
      if (to.empty()) {
        emptied = false;
        continue;
      }
      ++kept;
      WriteLog("INFO, kept " + FileNamePart(to) + " in the outbox: left unsent by a program that ended in " + run);
    }
    if (!emptied) continue;
    for (fs::directory_iterator it(run, ec), end; !ec && it != end; it.increment(ec))
      if (it->is_regular_file(ec) && FileNamePart(it->path().string())[0] == '.') fs::remove(it->path(), ec);
    fs::remove(run + kAcceptedList, ec);
    fs::remove(run + kWorkFolderLock, ec);
    fs::remove(run, ec);
  }
  return kept;
}

std::vector<BatchObject> OutboxBatch() {
  std::vector<BatchObject> batch;
  for (const std::string& f : OutboxFiles()) {
    BatchObject o;
    o.path = f;
    o.document = FileNamePart(f);
    std::error_code ec;
    o.bytes = fs::file_size(f, ec);
    batch.push_back(std::move(o));
  }
  return batch;
}

void ClearAccepted(const std::vector<BatchObject>& sent) {
  for (const BatchObject& o : sent)
    if (o.state == BatchObject::State::Accepted && std::remove(o.path.c_str()) != 0)
      WriteLog("ERROR, outbox, cannot delete sent file " + o.path + ": " + std::strerror(errno));
}

bool OutboxSender::Claim(bool wait) {
  std::string warning;
  if (!PrivateFolder(OutboxFolder(), &warning)) return false;
  return lock_.Acquire(OutboxFolder() + kOutboxLock, wait);
}
