#include "core/dcmobj.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/dictionary.h"
#include "core/log.h"
#include "core/strutil.h"

namespace {

void copyVR(char* dst, const char* src) {
  dst[0] = src[0];
  dst[1] = src[0] ? src[1] : 0;
  dst[2] = 0;
  dst[3] = 0;
}

// The value text: bytes up to `length` or the first NUL.
std::string rawText(const DcmTag& t) {
  const uint8_t* p = t.data();
  if (!p) return std::string();
  size_t n = t.size();
  const void* nul = std::memchr(p, 0, n);
  if (nul) n = static_cast<size_t>(static_cast<const uint8_t*>(nul) - p);
  return std::string(reinterpret_cast<const char*>(p), n);
}

float toNumber(const std::string& text) { return static_cast<float>(ParseDecimal(text)); }

}  // namespace

// ---------------------------------------------------------------- values left in their file

ValueFile::ValueFile(int fd, std::string name, uint64_t size, int64_t modifiedNs)
    : fd_(fd), name_(std::move(name)), size_(size), modifiedNs_(modifiedNs) {}

ValueFile::~ValueFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::string ValueFile::Changed() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return std::strerror(errno);
  const int64_t modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  if (static_cast<uint64_t>(st.st_size) != size_ || modified != modifiedNs_) return "the file changed since it was read";
  return std::string();
}

void DcmTag::loadFromFile() const {
  const std::shared_ptr<const ValueFile> file = std::move(file_);
  file_.reset();
  std::string why = file->Changed();
  ByteBuffer value;
  if (why.empty()) {
    try {
      value.resize(length);
    } catch (const std::bad_alloc&) {
      why = "out of memory";
    }
  }
  for (size_t got = 0; why.empty() && got < value.size();) {
    const ssize_t n = ::pread(file->fd(), value.data() + got, value.size() - got,
                              static_cast<off_t>(fileOffset_ + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) why = n < 0 ? std::strerror(errno) : "the file is cut short";
    if (n > 0) got += static_cast<size_t>(n);
  }
  if (why.empty()) why = file->Changed();  // changed while being read
  if (!why.empty()) {
    WriteLog("ERROR, DcmTag, " + Key() + " cannot be read from \"" + file->name() + "\": " + why);
    return;
  }
  data_ = std::move(value);
}

// ---------------------------------------------------------------- DcmTag

void DcmTag::SetVR(const char* twoLetters) { copyVR(vr, twoLetters ? twoLetters : ""); }

void DcmTag::LookupVR() {
  const DictEntry* d = FindDictEntry(group, element);
  SetVR(d ? d->vr : "UN");
}

std::string DcmTag::GetName() {
  const DictEntry* d = FindDictEntry(group, element);
  if (!d) return "*** Unidentified ***";
  SetVR(d->vr);
  return d->name ? d->name : "";
}

// VR rule: a given VR, else the dictionary's; "UN" with undefined length is a sequence.
static void applyVRRule(DcmTag& t, const char* vrLetters) {
  if (vrLetters && vrLetters[0])
    t.SetVR(vrLetters);
  else
    t.LookupVR();
  if (t.IsVR("UN") && t.length == kUndefinedLength) t.SetVR("SQ");
}

void DcmTag::Pad() {
  if (length == 0 || length == kUndefinedLength) {
    ByteBuffer().swap(data_);
    return;
  }
  if (length % 2 == 1) {
    data_.push_back(IsVR("UI") ? 0x00 : 0x20);
    ++length;
  }
}

DcmTag::DcmTag(uint16_t g, uint16_t e, uint32_t len, const void* bytes, const char* vrLetters)
    : group(g), element(e), length(len) {
  applyVRRule(*this, vrLetters);
  if (len == 0 || len == kUndefinedLength) return;
  // One allocation of the padded size; an odd value gets its pad byte here.
  const size_t padded = static_cast<size_t>(len) + (len & 1u);
  data_.resize(padded);  // left uninitialised by the allocator: filled right here
  if (bytes)
    std::memcpy(data_.data(), bytes, len);
  else
    std::memset(data_.data(), 0, len);
  if (padded != len) {
    data_[len] = IsVR("UI") ? 0x00 : 0x20;
    length = static_cast<uint32_t>(padded);
  }
}

DcmTag::DcmTag(uint16_t g, uint16_t e, ByteBuffer&& bytes, const char* vrLetters)
    : group(g), element(e), length(static_cast<uint32_t>(bytes.size())), data_(std::move(bytes)) {
  applyVRRule(*this, vrLetters);
  Pad();
}

DcmTag DcmTag::Number16(uint16_t g, uint16_t e, uint16_t value, const char* vrLetters) {
  ByteBuffer b{static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8)};
  return DcmTag(g, e, std::move(b), vrLetters);
}

DcmTag DcmTag::Number32(uint16_t g, uint16_t e, uint32_t value, const char* vrLetters) {
  ByteBuffer b{static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>((value >> 8) & 0xFF),
               static_cast<uint8_t>((value >> 16) & 0xFF), static_cast<uint8_t>(value >> 24)};
  return DcmTag(g, e, std::move(b), vrLetters);
}

DcmTag::DcmTag(uint16_t g, uint16_t e, const std::string& text, const char* vrLetters)
    : group(g), element(e), length(static_cast<uint32_t>(text.size())) {
  applyVRRule(*this, vrLetters);
  if (length != 0) {
    data_.reserve(text.size() + (text.size() & 1u));
    data_.assign(text.begin(), text.end());
  }
  Pad();
}

void DcmTag::SetValue(ByteBuffer&& bytes) {
  file_.reset();
  data_ = std::move(bytes);
  length = static_cast<uint32_t>(data_.size());
}

void DcmTag::SetValue(const void* bytes, size_t len) {
  ByteBuffer b;
  if (len && bytes) {
    b.resize(len);
    std::memcpy(b.data(), bytes, len);
  }
  SetValue(std::move(b));
}

ByteBuffer DcmTag::TakeValue() {
  load();
  ByteBuffer out = std::move(data_);
  ByteBuffer().swap(data_);
  length = 0;
  return out;
}

uint16_t DcmTag::GetUS() const {
  load();
  if (data_.size() < 2) return 0;
  if (bigEndian) return static_cast<uint16_t>(data_[0] * 256 + data_[1]);
  return static_cast<uint16_t>(data_[0] + data_[1] * 256);
}

std::string DcmTag::GetString() const {
  if (length == kUndefinedLength) return std::string();
  return Trim(rawText(*this));
}

float DcmTag::GetNumber() const { return toNumber(rawText(*this)); }

float DcmTag::GetNumber(int index) const {
  if (index < 0) return 0.0f;
  return toNumber(GetField(index + 1, "\\", rawText(*this)));
}

std::string DcmTag::Key() const {
  char buf[16];
  std::snprintf(buf, sizeof buf, "(%04X,%04X)", group, element);
  return buf;
}

// ---------------------------------------------------------------- DcmObj

std::unique_ptr<DcmObj> DcmObj::Clone() const {
  auto c = std::make_unique<DcmObj>();
  c->transferSyntax = transferSyntax;
  c->photometric = photometric;
  c->explicitVR = explicitVR;
  c->bigEndian = bigEndian;
  c->header = header;
  c->entries_.reserve(entries_.size());
  for (const Entry& e : entries_) {
    Entry n;
    if (e.tag)
      n.tag = std::make_unique<DcmTag>(*e.tag);
    else
      n.obj = e.obj->Clone();
    c->entries_.push_back(std::move(n));
  }
  return c;
}

const char* DcmObj::ClassNameAt(size_t i) const {
  if (i >= entries_.size()) return "";
  return entries_[i].tag ? "DcmTag" : "DcmObj";
}

DcmTag* DcmObj::GetTag(size_t i) { return i < entries_.size() ? entries_[i].tag.get() : nullptr; }
const DcmTag* DcmObj::GetTag(size_t i) const { return i < entries_.size() ? entries_[i].tag.get() : nullptr; }
DcmObj* DcmObj::GetObj(size_t i) { return i < entries_.size() ? entries_[i].obj.get() : nullptr; }
const DcmObj* DcmObj::GetObj(size_t i) const { return i < entries_.size() ? entries_[i].obj.get() : nullptr; }

std::string DcmObj::KeyAt(size_t i) const { return i < entries_.size() ? entries_[i].head().Key() : std::string(); }

template <class T>
T* DcmObj::place(size_t i, std::unique_ptr<T> item) {
  if (!item) return nullptr;
  T* p = item.get();
  Entry e;
  if constexpr (std::is_same_v<T, DcmTag>)
    e.tag = std::move(item);
  else
    e.obj = std::move(item);
  entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(std::min(i, entries_.size())), std::move(e));
  return p;
}

DcmTag* DcmObj::Add(std::unique_ptr<DcmTag> tag) { return place(npos, std::move(tag)); }

DcmTag* DcmObj::Add(DcmTag&& tag) { return Add(std::make_unique<DcmTag>(std::move(tag))); }

DcmObj* DcmObj::Add(std::unique_ptr<DcmObj> obj) { return place(npos, std::move(obj)); }

DcmTag* DcmObj::AddText(uint16_t g, uint16_t e, const std::string& text) {
  return Add(std::make_unique<DcmTag>(g, e, text));
}

DcmTag* DcmObj::AddBytes(uint16_t g, uint16_t e, uint32_t len, const void* bytes) {
  return Add(std::make_unique<DcmTag>(g, e, len, bytes));
}

DcmTag* DcmObj::SetText(uint16_t g, uint16_t e, const std::string& text) {
  return Insert(std::make_unique<DcmTag>(g, e, text));
}

DcmTag* DcmObj::SetBytes(uint16_t g, uint16_t e, uint32_t len, const void* bytes) {
  return Insert(std::make_unique<DcmTag>(g, e, len, bytes));
}

EntryPlace FlatWalk::Step(const DcmTag& t, bool nested) {
  const int here = depth();
  const bool inPixels = !open_.empty() && open_.back() == Level::Pixels;
  if (nested) return {EntryRole::Nested, here};
  if (inPixels) {
    if (!t.Is(0xFFFE, 0xE0DD)) return {EntryRole::Fragment, here};
    open_.pop_back();
    return {EntryRole::SequenceEnd, here - 1};
  }
  if (t.Is(0xFFFE, 0xE000)) {
    if (t.length == kUndefinedLength) open_.push_back(Level::Item);
    return {EntryRole::Item, here};
  }
  if (t.Is(0xFFFE, 0xE00D)) {
    if (here == 0 || open_.back() != Level::Item) return {EntryRole::ItemEnd, here};
    open_.pop_back();
    return {EntryRole::ItemEnd, here - 1};
  }
  if (t.Is(0xFFFE, 0xE0DD)) {
    size_t k = open_.size();
    while (k > 0 && open_[k - 1] != Level::Sequence) --k;
    if (k == 0) return {EntryRole::SequenceEnd, here};
    open_.resize(k - 1);
    return {EntryRole::SequenceEnd, depth()};
  }
  if (t.length != kUndefinedLength) return {EntryRole::Element, here};
  // Undefined length outside the item group: encapsulated pixel data, or a sequence (the reader
  // makes every other such element one).
  if (t.Is(0x7FE0, 0x0010)) {
    open_.push_back(Level::Pixels);
    return {EntryRole::Element, here};
  }
  open_.push_back(Level::Sequence);
  return {EntryRole::SequenceStart, here};
}

// Index of the last entry that belongs to the undefined-length element at i: the delimiter that
// closes it, or the last entry when it is never closed.
size_t DcmObj::runEnd(size_t i) const {
  FlatWalk walk;
  walk.Step(entries_[i].head());
  for (size_t k = i + 1; k < entries_.size(); ++k) {
    walk.Step(entries_[k].head(), entries_[k].obj != nullptr);
    if (walk.depth() == 0) return k;
  }
  return entries_.size() - 1;
}

DcmTag* DcmObj::Insert(DcmTag&& tag) { return Insert(std::make_unique<DcmTag>(std::move(tag))); }

static uint32_t definedLength(const DcmTag& t) { return t.length == kUndefinedLength ? 0 : t.length; }

// Keeps a group length element current: +delta bytes (read and written little endian). Nothing
// happens without one, when it is itself the element that changed, or when it holds no number.
static void adjustGroupLength(DcmTag* groupLength, int64_t delta, const DcmTag* changed) {
  if (!groupLength || groupLength == changed || groupLength->size() < 4) return;
  uint8_t* p = groupLength->data();
  uint32_t v = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
               (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
  v = static_cast<uint32_t>(static_cast<int64_t>(v) + delta);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>((v >> (8 * i)) & 0xFF);
}

static bool isGroupLength(const DcmTag& t) { return t.element == 0 && t.length == 4; }

DcmTag* DcmObj::replaceRun(size_t i, std::unique_ptr<DcmTag> n, DcmTag* groupLength) {
  const size_t last = entries_[i].obj ? i : runEnd(i);
  int64_t old = -8;
  for (size_t k = i; k <= last; ++k) old += 8 + static_cast<int64_t>(definedLength(entries_[k].head()));
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                 entries_.begin() + static_cast<std::ptrdiff_t>(last) + 1);
  const bool nIsGroupLength = isGroupLength(*n);
  Entry r;
  r.tag = std::move(n);
  DcmTag* p = r.tag.get();
  entries_[i] = std::move(r);
  adjustGroupLength(groupLength, static_cast<int64_t>(definedLength(*p)) - old, nIsGroupLength ? p : nullptr);
  return p;
}

DcmTag* DcmObj::replaceValue(size_t i, std::unique_ptr<DcmTag> n, DcmTag* groupLength) {
  DcmTag& e = entries_[i].head();
  const int64_t oldLen = definedLength(e);
  const uint32_t newLen = n->length;
  e.SetValue(n->TakeValue());
  e.length = newLen;
  adjustGroupLength(groupLength, static_cast<int64_t>(definedLength(e)) - oldLen, &e == groupLength ? &e : nullptr);
  return &e;
}

DcmTag* DcmObj::Insert(std::unique_ptr<DcmTag> n) {
  if (!n) return nullptr;
  DcmTag* groupLength = nullptr;
  FlatWalk walk;
  for (size_t i = 0; i < entries_.size(); ++i) {
    DcmTag& e = entries_[i].head();
    if (!walk.Step(e, entries_[i].obj != nullptr).TopLevel()) continue;
    if (e.group == n->group && isGroupLength(e)) groupLength = &e;
    if (e.group == n->group && e.element == n->element) {
      if (entries_[i].obj || e.length == kUndefinedLength) return replaceRun(i, std::move(n), groupLength);
      return replaceValue(i, std::move(n), groupLength);
    }
    if ((e.group == n->group && n->element < e.element) || n->group < e.group) {
      DcmTag* p = place(i, std::move(n));
      adjustGroupLength(groupLength, 8 + static_cast<int64_t>(definedLength(*p)), nullptr);
      return p;
    }
  }
  DcmTag* p = Add(std::move(n));
  adjustGroupLength(groupLength, 8 + static_cast<int64_t>(definedLength(*p)), nullptr);
  return p;
}

DcmObj* DcmObj::InsertSequence(uint16_t g, uint16_t e, std::unique_ptr<DcmObj> s) {
  if (!s) return nullptr;
  s->header.group = g;
  s->header.element = e;
  if (g != 0xFFFE && e != 0xE000) s->header.SetVR("SQ");
  s->explicitVR = explicitVR;
  FlatWalk walk;
  for (size_t i = 0; i < entries_.size(); ++i) {
    const DcmTag& h = entries_[i].head();
    if (!walk.Step(h, entries_[i].obj != nullptr).TopLevel()) continue;
    if ((h.group == g && e < h.element) || g < h.group) {
      return place(i, std::move(s));
    }
  }
  return Add(std::move(s));
}

size_t DcmObj::IndexOf(uint16_t g, uint16_t e) const {
  size_t found = npos;
  WalkEntries(*this, [&](size_t i, const DcmTag& h, EntryPlace place) {
    if (place.role != EntryRole::Nested && place.TopLevel() && h.Is(g, e)) found = i;
    return found == npos;
  });
  return found;
}

const DcmTag* DcmObj::FindTag(uint16_t g, uint16_t e) const {
  const size_t i = IndexOf(g, e);
  return i == npos ? nullptr : entries_[i].tag.get();
}

DcmTag* DcmObj::FindTag(uint16_t g, uint16_t e) {
  return const_cast<DcmTag*>(static_cast<const DcmObj*>(this)->FindTag(g, e));
}

uint16_t DcmObj::GetUS(uint16_t g, uint16_t e) const {
  const DcmTag* t = FindTag(g, e);
  return t ? t->GetUS() : 0;
}

std::string DcmObj::GetString(uint16_t g, uint16_t e) const {
  const DcmTag* t = FindTag(g, e);
  return t ? t->GetString() : std::string();
}

DcmTag* DcmObj::InsertAt(size_t i, std::unique_ptr<DcmTag> tag) { return place(i, std::move(tag)); }

DcmObj* DcmObj::InsertAt(size_t i, std::unique_ptr<DcmObj> obj) { return place(i, std::move(obj)); }

void DcmObj::Delete(size_t i) {
  if (i < entries_.size()) entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
}
