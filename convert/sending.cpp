#include "convert/sending.h"

#include <cstdio>

#include "core/config.h"
#include "core/dictionary.h"
#include "core/log.h"
#include "core/strutil.h"
#include "net/batch_store.h"

namespace {

std::string Hex4(int status) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", unsigned(status) & 0xFFFFu);
  return text;
}

}  // namespace

std::string StateText(const BatchObject& o) {
  switch (o.state) {
    case BatchObject::State::NotSent: return "not sent yet";
    case BatchObject::State::Accepted:
      return o.status == 0 ? "accepted" : "accepted with a warning, status " + Hex4(o.status) + "H";
    case BatchObject::State::NotRead: return "not read" + (o.problem.empty() ? "" : " (" + o.problem + ")");
    case BatchObject::State::NoAssociation:
      return "not sent: no association" + (o.problem.empty() ? "" : " (" + o.problem + ")");
    case BatchObject::State::Refused: break;
  }
  switch (o.status) {
    case kRequestFailed: return "not stored" + (o.problem.empty() ? "" : " (" + o.problem + ")");
    case -5: return "refused: the response carries no status";
    case -6: return "refused: the response answers another request";
    case -7: return "refused: the response names another object";
    default: break;
  }
  if (o.status < 0) return "refused: no response";
  return "refused, status " + Hex4(o.status) + "H";
}

std::string SyntaxName(const std::string& uid) {
  const std::string name = Trim(GetUIDName(uid));
  return name.empty() ? uid : name;
}

std::string ResultDetails(const std::vector<BatchObject>& objects) {
  std::string text;
  for (const BatchObject& o : objects) {
    text += o.document + ": " + StateText(o);
    if (!o.sentAs.empty()) text += " (" + SyntaxName(o.sentAs) + ")";
    text += "\n";
  }
  return text;
}

size_t NotAccepted(const std::vector<BatchObject>& objects) {
  size_t n = 0;
  for (const BatchObject& o : objects) n += o.state != BatchObject::State::Accepted;
  return n;
}

bool SendBatch(std::vector<BatchObject>& objects, const AssociationTarget& target, const SentObjectSink& afterEach) {
  std::vector<std::string> files;
  for (const BatchObject& o : objects) files.push_back(o.path);
  bool associationLogged = false;
  const size_t stored = StoreFiles(files, target, [&](const StoredFile& f) {
    BatchObject& o = objects[f.index];
    o.status = f.status;
    o.sentAs = f.sentAs;
    o.problem = f.problem;
    if (f.stored()) {
      o.state = BatchObject::State::Accepted;
      RecordAccepted(o.path);
    } else if (f.status == kFileNotRead) {
      o.state = BatchObject::State::NotRead;
      WriteLog("ERROR, Couldn't read file: " + f.path);
    } else if (f.status == kNoAssociation) {
      o.state = BatchObject::State::NoAssociation;
      if (!associationLogged) WriteLog("ERROR, Can't open association with: " + target.calledAE);
      associationLogged = true;
    } else {
      o.state = BatchObject::State::Refused;
      if (!f.exchanged && f.status > -5) WriteLog("ERROR, WriteStoreRQ");
    }
    if (afterEach) afterEach(f.index, o);
  });
  return stored == objects.size();
}
