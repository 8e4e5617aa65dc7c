#include "net/codec_bridge.h"

#include "codec/convert.h"
#include "core/dcmobj.h"
#include "core/log.h"

namespace {
constexpr const char kImplicitLE[] = "1.2.840.10008.1.2";
constexpr const char kExplicitLE[] = "1.2.840.10008.1.2.1";

// Interim codec until BufData lands: flat data sets only.
void PutLE(std::vector<uint8_t>& b, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
bool LongForm(const DcmTag& t) {
  return t.IsVR("OB") || t.IsVR("OW") || t.IsVR("SQ") || t.IsVR("UN") || t.IsVR("UT");
}
}  // namespace

void EncodeDataSet(DcmObj& obj, std::vector<uint8_t>& bytes) {
  for (size_t i = 0; i < obj.Count(); ++i) {
    DcmTag* t = obj.GetTag(i);
    if (!t) continue;
    PutLE(bytes, t->group, 2);
    PutLE(bytes, t->element, 2);
    if (obj.explicitVR && t->group != 0 && t->group != 0xFFFE) {
      bytes.push_back(static_cast<uint8_t>(t->vr[0]));
      bytes.push_back(static_cast<uint8_t>(t->vr[1]));
      if (LongForm(*t)) {
        PutLE(bytes, 0, 2);
        PutLE(bytes, t->length, 4);
      } else {
        PutLE(bytes, t->length, 2);
      }
    } else {
      PutLE(bytes, t->length, 4);
    }
    if (t->size()) bytes.insert(bytes.end(), t->data(), t->data() + t->size());
  }
}

bool DecodeDataSet(const std::vector<uint8_t>& b, DcmObj& obj) {
  size_t at = 0;
  auto le = [&](size_t p, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v |= static_cast<uint32_t>(b[p + static_cast<size_t>(i)]) << (8 * i);
    return v;
  };
  while (at < b.size()) {
    if (at + 8 > b.size()) return false;
    uint16_t g = static_cast<uint16_t>(le(at, 2)), e = static_cast<uint16_t>(le(at + 2, 2));
    uint32_t len;
    char vr[3] = {0, 0, 0};
    if (obj.explicitVR && g != 0 && g != 0xFFFE) {
      vr[0] = static_cast<char>(b[at + 4]);
      vr[1] = static_cast<char>(b[at + 5]);
      std::string v(vr);
      if (v == "OB" || v == "OW" || v == "SQ" || v == "UN" || v == "UT") {
        if (at + 12 > b.size()) return false;
        len = le(at + 8, 4);
        at += 12;
      } else {
        len = le(at + 6, 2);
        at += 8;
      }
    } else {
      len = le(at + 4, 4);
      at += 8;
    }
    if (len == 0xFFFFFFFF || at + len > b.size()) return false;
    obj.Add(DcmTag(g, e, len, b.data() + at, vr[0] ? vr : nullptr));
    at += len;
  }
  return true;
}

bool RelabelNativeLittleEndian(DcmObj& obj, const std::string& target) {
  bool fromNative = obj.transferSyntax == kImplicitLE || obj.transferSyntax == kExplicitLE;
  bool toNative = target == kImplicitLE || target == kExplicitLE;
  if (!fromNative || !toNative) return false;
  obj.transferSyntax = target;
  obj.explicitVR = target == kExplicitLE;
  return true;
}

bool ConvertForSending(DcmObj& obj, const std::string& target) { return ConvertTransferSyntax(obj, target); }

void DumpDataSet(const DcmObj& obj, std::vector<std::string>& lines) {
  for (size_t i = 0; i < obj.Count(); ++i) {
    const DcmTag* t = obj.GetTag(i);
    if (t) lines.push_back(t->Key());
  }
}
