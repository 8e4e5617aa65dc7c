#include "query/readvalues.h"

#include <cstring>

#include "core/dcmobj.h"
#include "core/log.h"
#include "query/queryfields.h"

void ForEachOwnElement(const DcmObj& identifier, const std::function<void(const DcmTag&)>& visit) {
  WalkEntries(identifier, [&visit](size_t, const DcmTag& t, EntryPlace place) {
    if (place.role == EntryRole::Element && place.depth == 0 && t.length != 0 && t.length != kUndefinedLength)
      visit(t);
  });
}

void ForEachElement(const DcmObj& identifier, const std::function<void(const DcmTag&)>& visit) {
  for (size_t i = 0; i < identifier.Count(); ++i) {
    if (const DcmObj* nested = identifier.GetObj(i)) {
      ForEachElement(*nested, visit);
      continue;
    }
    const DcmTag* t = identifier.GetTag(i);
    if (!t || t->length == 0 || t->length == kUndefinedLength) continue;
    visit(*t);
  }
}

std::string RawText(const DcmTag& tag) {
  if (tag.length == 0 || tag.length == kUndefinedLength || !tag.data()) return std::string();
  return std::string(reinterpret_cast<const char*>(tag.data()), tag.size());
}

bool IsVR(const DcmTag& tag, const char* vr) { return tag.IsVR(vr); }

void LogFindStatus(const char* operation, int status) {
  WriteLog(std::string("ERROR, ") + operation + ", C-FIND status == " + std::to_string(status));
}

std::string QueryModality(int index) {
  if (index < 0 || index >= kModalityCount) return std::string();
  return kModalityList[index];
}

int QueryModalityIndex(const std::string& modality) {
  for (int i = 0; i < kModalityCount; ++i)
    if (modality == kModalityList[i]) return i;
  return -1;
}
