#include "convert/outbox.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/config.h"
#include "core/fileutil.h"
#include "core/log.h"

namespace fs = std::filesystem;

std::vector<std::string> OutboxFiles() {
  std::vector<std::string> files;
  std::error_code ec;
  for (fs::directory_iterator it(OutboxFolder(), ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file(ec)) files.push_back(it->path().string());
  std::sort(files.begin(), files.end());
  return files;
}

namespace {

// A free name in the outbox for the file: its own name, or with "-2", "-3"... before the extension.
std::string FreeName(const std::string& file) {
  const std::string name = FileNamePart(file);
  const size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
  std::string candidate = OutboxFolder() + name;
  for (int n = 2; fs::exists(candidate); ++n) candidate = OutboxFolder() + stem + "-" + std::to_string(n) + ext;
  return candidate;
}

}  // namespace

std::vector<std::string> MoveToOutbox(const std::vector<std::string>& files) {
  std::error_code ec;
  std::string warning;
  PrivateFolder(OutboxFolder(), &warning);
  if (!warning.empty()) WriteLog(warning);
  std::vector<std::string> stayed;
  for (const std::string& f : files) {
    const std::string to = FreeName(f);
    fs::rename(f, to, ec);
    if (ec) {  // another file system: copy, then remove
      std::error_code copyError;
      fs::copy_file(f, to, copyError);
      if (copyError) {
        WriteLog("ERROR, MoveToOutbox, cannot keep " + f + " in " + OutboxFolder() + ": " + copyError.message());
        fs::remove(to, ec);
        stayed.push_back(f);
        continue;
      }
      fs::remove(f, ec);
    }
  }
  return stayed;
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
