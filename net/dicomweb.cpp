#include "net/dicomweb.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <random>

#include "core/dcmobj.h"
#include "core/log.h"

namespace {

using Json = nlohmann::json;

constexpr size_t kMaxAnswer = size_t(16) << 20;
constexpr int kMaxDepth = 32;

// True when the JSON text's arrays and objects nest no deeper than kMaxDepth (checked before
// parsing, which would otherwise recurse as deep as the text asks).
bool NestingWithin(const std::string& text, int limit) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

bool ParseJson(const std::string& text, Json& out, std::string& why) {
  if (!NestingWithin(text, kMaxDepth)) {
    why = "the JSON is nested deeper than " + std::to_string(kMaxDepth) + " levels";
    return false;
  }
  out = Json::parse(text, nullptr, false);
  if (out.is_discarded()) {
    why = "the answer is not JSON";
    return false;
  }
  return true;
}

// "0020000D" -> group and element.
bool ParseTag(const std::string& key, uint16_t& group, uint16_t& element) {
  if (key.size() != 8) return false;
  unsigned long v = 0;
  for (char c : key) {
    const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (d < 0) return false;
    v = v * 16 + unsigned(d);
  }
  group = uint16_t(v >> 16);
  element = uint16_t(v & 0xFFFF);
  return true;
}

std::string ValueText(const Json& v) {
  if (v.is_string()) return v.get<std::string>();
  if (v.is_number_integer()) return std::to_string(v.get<long long>());
  if (v.is_number_unsigned()) return std::to_string(v.get<unsigned long long>());
  if (v.is_number_float()) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", v.get<double>());
    return text;
  }
  if (v.is_object()) {  // a person name: its three groups
    std::string groups[3];
    const char* names[3] = {"Alphabetic", "Ideographic", "Phonetic"};
    size_t last = 0;
    for (size_t i = 0; i < 3; ++i) {
      const auto it = v.find(names[i]);
      if (it != v.end() && it->is_string()) {
        groups[i] = it->get<std::string>();
        last = i + 1;
      }
    }
    std::string text;
    for (size_t i = 0; i < last; ++i) text += (i ? "=" : "") + groups[i];
    return text;
  }
  return "";
}

// The attributes of one JSON object with text values, as a data set.
std::unique_ptr<DcmObj> DataSetOf(const Json& object) {
  auto obj = std::make_unique<DcmObj>();
  std::map<uint32_t, std::pair<std::string, std::string>> elements;  // ascending tags: text, VR
  for (const auto& [key, attribute] : object.items()) {
    uint16_t group = 0, element = 0;
    if (!ParseTag(key, group, element) || !attribute.is_object()) continue;
    const auto vr = attribute.find("vr");
    const std::string vrText = vr != attribute.end() && vr->is_string() ? vr->get<std::string>() : "";
    // Text VRs only: sequences, binary values and binary numbers are left out.
    static const std::string kLeftOut = "SQ OB OW OF OD OL OV UN US SS UL SL FL FD AT UV SV";
    if (vrText.size() != 2 || kLeftOut.find(vrText) != std::string::npos) continue;
    const auto value = attribute.find("Value");
    if (value == attribute.end() || !value->is_array()) continue;
    std::string text;
    for (size_t i = 0; i < value->size(); ++i) text += (i ? "\\" : "") + ValueText((*value)[i]);
    elements[(uint32_t(group) << 16) | element] = {text, vrText};
  }
  elements[0x00080005] = {"ISO_IR 192", "CS"};
  for (const auto& [tag, e] : elements) obj->Add(DcmTag(uint16_t(tag >> 16), uint16_t(tag), e.first, e.second.c_str()));
  return obj;
}

// The request body: each file as a part of its own, read from the file as the request goes.
class StowBody : public HttpBody {
 public:
  StowBody(const std::vector<StowFile>& files, std::string& why) {
    std::random_device random;
    char boundary[48];
    std::snprintf(boundary, sizeof boundary, "scrivara-%08x%08x%08x", random(), random(), random());
    boundary_ = boundary;
    for (const StowFile& f : files) {
      Part p;
      p.path = f.path;
      p.fd = ::open(f.path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
      struct stat st {};
      if (p.fd < 0 || ::fstat(p.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = "cannot open " + f.path + ": " + std::strerror(errno);
        if (p.fd >= 0) ::close(p.fd);
        return;
      }
      p.size = uint64_t(st.st_size);
      p.head = "--" + boundary_ + "\r\nContent-Type: application/dicom\r\n\r\n";
      size_ += p.head.size() + p.size + 2;
      parts_.push_back(std::move(p));
    }
    tail_ = "--" + boundary_ + "--\r\n";
    size_ += tail_.size();
  }
  ~StowBody() override {
    for (const Part& p : parts_)
      if (p.fd >= 0) ::close(p.fd);
  }
  StowBody(const StowBody&) = delete;
  StowBody& operator=(const StowBody&) = delete;

  std::string ContentType() const {
    return "multipart/related; type=\"application/dicom\"; boundary=" + boundary_;
  }
  uint64_t Size() const override { return size_; }
  bool Rewind() override {
    part_ = 0;
    offset_ = 0;
    return true;
  }
  bool Read(char* buf, size_t n, size_t& got, std::string& why) override {
    got = 0;
    while (got < n) {
      if (part_ == parts_.size()) {
        got += Copy(tail_, buf + got, n - got);
        break;
      }
      Part& p = parts_[part_];
      const uint64_t headEnd = p.head.size(), dataEnd = headEnd + p.size, partEnd = dataEnd + 2;
      if (offset_ < headEnd) {
        got += Copy(p.head, buf + got, n - got);
      } else if (offset_ < dataEnd) {
        const size_t want = size_t(std::min<uint64_t>(n - got, dataEnd - offset_));
        const ssize_t r = ::pread(p.fd, buf + got, want, off_t(offset_ - headEnd));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
          why = r < 0 ? "cannot read " + p.path + ": " + std::strerror(errno)
                      : p.path + " became shorter while it was sent";
          return false;
        }
        got += size_t(r);
        offset_ += uint64_t(r);
      } else {
        got += Copy("\r\n", buf + got, n - got);
      }
      if (offset_ == partEnd) {
        ++part_;
        offset_ = 0;
      }
    }
    return true;
  }

 private:
  struct Part {
    std::string path, head;
    int fd = -1;
    uint64_t size = 0;
  };
  // Copies from `text` at the part's offset (the head, or the line break after the data, or the
  // tail); returns the bytes copied.
  size_t Copy(const std::string& text, char* out, size_t room) {
    uint64_t start = offset_;
    if (part_ < parts_.size() && offset_ >= parts_[part_].head.size())
      start = offset_ - parts_[part_].head.size() - parts_[part_].size;
    const size_t n = std::min<size_t>(room, text.size() - size_t(start));
    std::memcpy(out, text.data() + start, n);
    offset_ += n;
    return n;
  }
  std::string boundary_, tail_;
  std::vector<Part> parts_;
  uint64_t size_ = 0;
  size_t part_ = 0;
  uint64_t offset_ = 0;  // within the current part (or the tail)
};

// The UIDs and reasons of a STOW-RS answer's Referenced (0008,1199) or Failed (0008,1198) SOP
// Sequence: SOP Instance UID -> Warning (0008,1196) or Failure Reason (0008,1197).
std::map<std::string, int> ListedInstances(const Json& answer, const char* sequence, const char* reasonTag) {
  std::map<std::string, int> listed;
  auto firstValue = [](const Json& object, const char* tag) -> const Json* {
    const auto a = object.find(tag);
    if (a == object.end() || !a->is_object()) return nullptr;
    const auto v = a->find("Value");
    return v != a->end() && v->is_array() && !v->empty() ? &(*v)[0] : nullptr;
  };
  const auto seq = answer.find(sequence);
  if (seq == answer.end() || !seq->is_object()) return listed;
  const auto items = seq->find("Value");
  if (items == seq->end() || !items->is_array()) return listed;
  for (const Json& item : *items) {
    if (!item.is_object()) continue;
    const Json* uid = firstValue(item, "00081155");
    if (!uid || !uid->is_string()) continue;
    const Json* reason = firstValue(item, reasonTag);
    listed[uid->get<std::string>()] =
        reason && reason->is_number_integer() && *reason >= 0 && *reason <= 0xFFFF ? reason->get<int>() : 0;
  }
  return listed;
}

}  // namespace

bool ReadDicomJson(const std::string& text, std::vector<std::unique_ptr<DcmObj>>& objects, std::string& why) {
  Json doc;
  if (!ParseJson(text, doc, why)) return false;
  if (doc.is_object()) {
    objects.push_back(DataSetOf(doc));
    return true;
  }
  if (!doc.is_array()) {
    why = "the answer is not a list of data sets";
    return false;
  }
  for (const Json& item : doc) {
    if (!item.is_object()) {
      why = "the answer is not a list of data sets";
      return false;
    }
    objects.push_back(DataSetOf(item));
  }
  return true;
}

std::vector<StowOutcome> StowFiles(HttpClient& client, const std::vector<StowFile>& files) {
  std::vector<StowOutcome> outcomes(files.size());
  std::string why;
  StowBody body(files, why);
  if (!why.empty()) {
    WriteLog("ERROR, STOW-RS, " + why);
    for (StowOutcome& o : outcomes) o.problem = why;
    return outcomes;
  }
  const HttpResponse response = client.Post("studies", body.ContentType(), body, "application/dicom+json", kMaxAnswer);
  std::map<std::string, int> referenced, failed;
  if (response.answered && !response.body.empty()) {
    Json doc;
    std::string jsonWhy;
    if (ParseJson(response.body, doc, jsonWhy)) {
      if (doc.is_array() && doc.size() == 1) doc = Json(doc[0]);
      if (doc.is_object()) {
        referenced = ListedInstances(doc, "00081199", "00081196");
        failed = ListedInstances(doc, "00081198", "00081197");
      }
    }
  }
  const bool success = response.answered && response.status >= 200 && response.status < 300;
  for (size_t i = 0; i < files.size(); ++i) {
    StowOutcome& o = outcomes[i];
    const std::string& uid = files[i].sopInstanceUID;
    if (const auto f = failed.find(uid); f != failed.end()) {
      o.confirmed = true;
      o.status = f->second ? f->second : 0x0110;  // processing failure when the reason is missing
    } else if (const auto r = referenced.find(uid); r != referenced.end()) {
      o.confirmed = o.stored = true;
      o.status = r->second;
    } else {
      o.problem = success ? response.Summary() + ", but the answer does not name the object" : response.Summary();
    }
  }
  return outcomes;
}

bool TestDicomWeb(const AssociationTarget& target, std::string& summary) {
  HttpClient client(target);
  const HttpResponse r = client.Get("studies?limit=1", "application/dicom+json", kMaxAnswer);
  summary = r.Summary();
  return r.answered && r.status >= 200 && r.status < 300;
}

std::string TargetName(const AssociationTarget& target) {
  return target.web.enabled ? target.web.url : target.calledAE + "@" + target.host + ":" + target.port;
}
