#include "core/bufdata.h"

#include "core/fileutil.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "core/deflate.h"
#include "core/dictionary.h"
#include "core/log.h"
#include "core/uid_root.h"

namespace {

// The value of t claims more bytes (len) than the stream or file holds (count).
void LogShortValue(const DcmTag& t, long long count, uint32_t len) {
  char msg[128];
  std::snprintf(msg, sizeof msg, "ERROR: read bytes!=tag->length (%04X,%04X) count=%lld, tag->length=%u", t.group,
                t.element, count, len);
  WriteLog(msg);
}

// A value buffer of len bytes; false (with the log line) when memory runs out.
bool AllocateValue(ByteBuffer& value, size_t len) {
  try {
    value.resize(len);
  } catch (const std::bad_alloc&) {
    WriteLog("ERROR: assigning memory to tag->data");
    return false;
  }
  return true;
}

// VRs written with a reserved 0x0000 and a 32-bit length in explicit VR (PS3.5 7.1.2).
bool isLongForm(char a, char b) {
  switch (a) {
    case 'O':
      return b == 'B' || b == 'D' || b == 'F' || b == 'L' || b == 'V' || b == 'W';
    case 'S':
      return b == 'Q' || b == 'V';
    case 'U':
      return b == 'C' || b == 'N' || b == 'R' || b == 'T' || b == 'V';
    default:
      return false;
  }
}

bool isLetter(char c) { return c >= 'A' && c <= 'Z'; }
bool vrBytes(char a, char b) { return static_cast<uint8_t>(a) >= 0x41 && static_cast<uint8_t>(b) >= 0x41; }

std::string tagText(uint16_t g, uint16_t e) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04X,%04X", g, e);
  return buf;
}

// How an element is written in explicit VR: the VR letters and whether the long form is used.
struct ExplicitForm {
  char vr[2];
  bool longForm;
  bool oversized;  // a short-form VR whose length does not fit 16 bits: written as UN
};

ExplicitForm explicitForm(const DcmTag& t) {
  ExplicitForm f{{t.vr[0], t.vr[1]}, false, false};
  // The reader takes any two bytes from 0x41 up as VR letters, and anything else as the start of an
  // implicit length. An element held without such letters (built without a VR) gets the
  // dictionary's, or UN, so that the stream stays readable; never SQ, whose value would be parsed.
  if (!vrBytes(f.vr[0], f.vr[1])) {
    const DictEntry* d = FindDictEntry(t.group, t.element);
    f.vr[0] = d ? d->vr[0] : 'U';
    f.vr[1] = d ? d->vr[1] : 'N';
    if (!isLetter(f.vr[0]) || !isLetter(f.vr[1]) || (f.vr[0] == 'S' && f.vr[1] == 'Q')) f.vr[0] = 'U', f.vr[1] = 'N';
  }
  f.longForm = isLongForm(f.vr[0], f.vr[1]);
  if (t.length == kUndefinedLength && (!f.longForm || (f.vr[0] == 'U' && f.vr[1] == 'N'))) {
    // Contents that follow as elements: written as the sequence the reader takes them for (a short
    // form cannot carry the length, and UN of undefined length would be read as implicit VR).
    f.vr[0] = 'S';
    f.vr[1] = 'Q';
    f.longForm = true;
    return f;
  }
  if (!f.longForm && t.length > 0xFFFF) {
    f.vr[0] = 'U';
    f.vr[1] = 'N';
    f.longForm = true;
    f.oversized = true;
  }
  return f;
}

// Group 0002 is explicit VR in every data set, as the reader takes it.
bool plainHeader(const DcmTag& t, bool explicitVR) {
  if (t.group == 0x0002) return false;
  return !explicitVR || t.group == 0x0000 || t.group == 0xFFFE;
}

uint64_t headerSize(const DcmTag& t, bool explicitVR) {
  if (plainHeader(t, explicitVR)) return 8;
  return explicitForm(t).longForm ? 12 : 8;
}

uint64_t valueSize(const DcmTag& t) { return t.length == kUndefinedLength ? 0 : t.length; }

// Sets the encoding flags and the encoded length of every nested object, and returns the encoded
// size of the entries of o. False when a nested object does not fit a 32-bit length.
bool measure(DcmObj& o, bool explicitVR, bool bigEndian, uint64_t& size, int depth);

}  // namespace

// ---------------------------------------------------------------- stream

BufData::BufData(const uint8_t* bytes, size_t size, bool bigEndianStream)
    : bigEndian(bigEndianStream), ext_(bytes), extSize_(bytes ? size : 0), external_(true) {}

BufData::BufData(ByteBuffer&& bytes, bool bigEndianStream) : bigEndian(bigEndianStream), buf_(std::move(bytes)) {}

void BufData::Clear() {
  closeFile();
  ByteBuffer().swap(buf_);
  deferred_.clear();
  ext_ = nullptr;
  extSize_ = 0;
  external_ = false;
  pos_ = 0;
}

void BufData::Reserve(size_t bytes) {
  if (external_ || fd_ >= 0) writable(0);
  buf_.reserve(bytes);
}

const uint8_t* BufData::data() const {
  if (fd_ >= 0) const_cast<BufData*>(this)->loadRest();
  return GetSize() ? base() : nullptr;
}

ByteBuffer BufData::TakeBuffer() {
  if (external_ || fd_ >= 0) writable(0);
  ByteBuffer out = std::move(buf_);
  Clear();
  return out;
}

uint8_t* BufData::writable(size_t count) {
  if (fd_ >= 0) loadRest();
  if (external_) {
    ByteBuffer copy(ext_, ext_ + extSize_);
    buf_.swap(copy);
    ext_ = nullptr;
    extSize_ = 0;
    external_ = false;
  }
  if (pos_ + count > buf_.size()) buf_.resize(pos_ + count);
  return buf_.data() + pos_;
}

uint16_t BufData::ReadUS() {
  uint8_t b[2] = {0, 0};
  Read(b, 2);
  return bigEndian ? static_cast<uint16_t>(b[0] << 8 | b[1]) : static_cast<uint16_t>(b[1] << 8 | b[0]);
}

uint32_t BufData::ReadUL() {
  uint8_t b[4] = {0, 0, 0, 0};
  Read(b, 4);
  if (bigEndian)
    return static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 | static_cast<uint32_t>(b[2]) << 8 | b[3];
  return static_cast<uint32_t>(b[3]) << 24 | static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[1]) << 8 | b[0];
}

void BufData::WriteUS(uint16_t v) {
  uint8_t* p = writable(2);
  if (bigEndian) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
  } else {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
  }
  pos_ += 2;
}

void BufData::WriteUL(uint32_t v) {
  uint8_t* p = writable(4);
  for (int i = 0; i < 4; ++i) p[bigEndian ? 3 - i : i] = static_cast<uint8_t>(v >> (8 * i));
  pos_ += 4;
}

size_t BufData::Read(void* out, size_t count) {
  if (fd_ >= 0 && !loaded(count < Remaining() ? count : Remaining())) return 0;
  size_t n = count < Remaining() ? count : Remaining();
  if (n) std::memcpy(out, base() + pos_, n);
  pos_ += n;
  return n;
}

void BufData::Write(const void* in, size_t count) {
  if (!count) return;
  std::memcpy(writable(count), in, count);
  pos_ += count;
}

// ---------------------------------------------------------------- elements

bool BufData::readHeader(DcmTag& t, bool explicitVR, uint32_t& len) {
  const size_t start = pos_;
  auto cutShort = [&]() {
    WriteLog("ERROR, BufData::ReadTag, element header cut short at position " + std::to_string(start) +
             " of " + std::to_string(GetSize()));
    pos_ = GetSize();
    return false;
  };
  if (Remaining() < 8) return cutShort();
  t.group = ReadUS();
  t.element = ReadUS();
  const bool x = explicitVR || t.group == 0x0002;
  if (!x || t.group == 0x0000 || t.group == 0xFFFE) {
    len = ReadUL();
    return true;
  }
  const uint8_t v0 = base()[pos_], v1 = base()[pos_ + 1];
  pos_ += 2;
  if (explicitVR && (v0 < 0x41 || v1 < 0x41)) {
    // Not VR letters: an implicit element after all; these two bytes start its 32-bit length.
    const uint8_t l2 = base()[pos_], l3 = base()[pos_ + 1];
    pos_ += 2;
    len = static_cast<uint32_t>(v0) | static_cast<uint32_t>(v1) << 8 | static_cast<uint32_t>(l2) << 16 |
          static_cast<uint32_t>(l3) << 24;
    t.LookupVR();
    return true;
  }
  const char letters[3] = {static_cast<char>(v0), static_cast<char>(v1), 0};
  t.SetVR(letters);
  if (isLongForm(letters[0], letters[1])) {
    if (Remaining() < 6) return cutShort();
    pos_ += 2;
    len = ReadUL();
  } else {
    len = ReadUS();
  }
  // A meta element inside an implicit data set: the dictionary decides its VR.
  if (!explicitVR) t.LookupVR();
  return true;
}

namespace {

// Maps in the pages of a fresh block at once, in one call, rather than one fault per page as the
// read fills it. Kernels before 5.14 do not know the request and leave the faults to the read.
void PopulateForWriting(void* block, size_t bytes) {
#ifdef MADV_POPULATE_WRITE
  const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + page - 1) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(page - 1);
  if (end > begin) (void)::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
  (void)block;
  (void)bytes;
#endif
}

}  // namespace

bool BufData::readValueEndingFile(DcmTag& t, uint32_t len) {
  // The bytes already in the stream are copied, the rest is read from the file straight into the
  // value's own buffer.
  ByteBuffer value;
  if (!AllocateValue(value, len)) return false;
  PopulateForWriting(value.data(), len);
  const size_t have = buf_.size() > pos_ ? buf_.size() - pos_ : 0;
  if (have) std::memcpy(value.data(), buf_.data() + pos_, have);
  size_t got = 0;
  if (!readFileAt(pos_ + have, value.data() + have, len - have, got)) return false;
  if (got < len - have) {
    LogShortValue(t, static_cast<long long>(have + got), len);
    Clear();
    return false;
  }
  Clear();
  t.SetValue(std::move(value));
  t.length = len;
  return true;
}

bool BufData::leaveValueInFile(DcmTag& t, uint32_t len) {
  const int fd = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return readValueEndingFile(t, len);  // out of descriptors: read as usual
  t.file_ = std::make_shared<const ValueFile>(fd, fileName_, fileSize_, fileModifiedNs_);
  t.fileOffset_ = pos_;
  t.length = len;
  Clear();
  return true;
}

bool BufData::readValue(DcmTag& t, uint32_t len) {
  if (len > Remaining()) {
    // Never allocate what the stream cannot supply.
    LogShortValue(t, static_cast<long long>(Remaining()), len);
    pos_ = GetSize();
    return false;
  }
  // Large values that end a file being read (pixel data, as a rule) skip the stream.
  if (fd_ >= 0 && len >= kLargeValue && pos_ + len == fileSize_ && pos_ + len > buf_.size())
    return leaveInFile_ ? leaveValueInFile(t, len) : readValueEndingFile(t, len);
  if (fd_ >= 0) {
    if (!loaded(len)) return false;
    if (len > Remaining()) {  // the file shrank while being read
      LogShortValue(t, static_cast<long long>(Remaining()), len);
      pos_ = GetSize();
      return false;
    }
  }
  if (fd_ < 0 && !external_ && len >= kLargeValue && pos_ + len == buf_.size()) {
    // A large value that ends the stream: the stream's own buffer becomes the value, moved down in
    // place, instead of a second allocation of the same size.
    ByteBuffer value = std::move(buf_);
    value.erase(value.begin(), value.begin() + static_cast<std::ptrdiff_t>(pos_));
    Clear();
    t.SetValue(std::move(value));
    t.length = len;
    return true;
  }
  ByteBuffer value;
  if (!AllocateValue(value, len)) return false;
  std::memcpy(value.data(), base() + pos_, len);
  pos_ += len;
  t.SetValue(std::move(value));
  t.length = len;
  return true;
}

bool BufData::ReadTag(DcmTag& t, bool explicitVR) {
  t.ReleaseValue();
  // The longest header (12 bytes) is in memory; so is the value below, unless it goes to the file.
  if (fd_ >= 0 && !loaded(Remaining() < 12 ? Remaining() : 12)) return false;
  uint32_t len = 0;
  if (!readHeader(t, explicitVR, len)) return false;
  t.length = len;
  if (len == 0 || len == kUndefinedLength) return true;
  try {
    return readValue(t, len);
  } catch (...) {
    WriteLog("ERROR: ReadTag, (" + tagText(t.group, t.element) + ") tag->length=" + std::to_string(len) +
             ", MS Size=" + std::to_string(static_cast<long long>(GetSize())) +
             ", MS Pos=" + std::to_string(static_cast<long long>(pos_)));
    return false;
  }
}

bool BufData::WriteTag(const DcmTag& t, bool explicitVR) {
  if (t.length != kUndefinedLength && t.size() != t.length) {
    WriteLog("ERROR, BufData::WriteTag, (" + tagText(t.group, t.element) + ") holds " + std::to_string(t.size()) +
             " bytes for length " + std::to_string(t.length));
    return false;
  }
  if (!plainHeader(t, explicitVR) && explicitForm(t).oversized)
    WriteLog("WARNING, BufData::WriteTag, (" + tagText(t.group, t.element) + ") " + t.VR() + " value of " +
             std::to_string(t.length) + " bytes written with VR UN");
  writeHeader(t, explicitVR);
  if (t.length != 0 && t.length != kUndefinedLength) {
    if (deferLarge_ && t.length >= kDeferredValue && pos_ == buf_.size() && !external_) {
      // Written from the element, or from its file, by SaveToFile.
      if (copyFromFiles_ && t.file_)
        deferred_.push_back(Deferred{pos_, nullptr, t.length, t.file_, t.fileOffset_});
      else
        deferred_.push_back(Deferred{pos_, t.data(), t.length, nullptr, 0});
    } else
      Write(t.data(), t.length);
  }
  return true;
}

// ---------------------------------------------------------------- data sets

namespace {

bool expandInto(DcmObj& parent, const DcmTag& t, bool bigEndian, bool explicitVR, int depth);

// Reads the elements of the stream (from its position to its end) into o.
bool parseStream(BufData& b, DcmObj& o, bool fromSequence, int depth) {
  bool pixelDataSeen = false;
  // Inside an undefined-length UN element of an explicit VR stream the contents are implicit VR
  // little endian (PS3.5 6.2.2): the number of sequence levels still open there, 0 outside.
  int implicitLevels = 0;
  // The size is read each time: a large last value may take the stream's buffer over (ReadTag).
  while (b.GetPosition() < b.GetSize()) {
    const bool explicitVR = o.explicitVR && implicitLevels == 0;
    auto t = std::make_unique<DcmTag>();
    if (!b.ReadTag(*t, explicitVR)) {
      if (fromSequence) WriteLog("ERROR, Expand_SQ: Reading tag...");
      return false;
    }
    t->bigEndian = b.bigEndian;
    if (!explicitVR) {
      t->LookupVR();
      // Undefined length is only possible for a sequence here (items, delimiters and pixel data
      // aside): whatever the dictionary says, its contents follow as elements.
      if (t->length == kUndefinedLength && t->group != 0xFFFE && !t->Is(0x7FE0, 0x0010)) t->SetVR("SQ");
      if (implicitLevels > 0) {
        if (t->IsVR("SQ") && t->length == kUndefinedLength) ++implicitLevels;
        if (t->Is(0xFFFE, 0xE0DD)) --implicitLevels;
      }
    } else if (t->group == 0xFFFE) {
      t->LookupVR();  // items and delimiters carry no VR in the stream
    } else if (t->IsVR("UN") && t->length == kUndefinedLength && !b.bigEndian) {
      // It is a sequence; held as one, it is written back in the data set's own encoding.
      t->SetVR("SQ");
      implicitLevels = 1;
    }
    if (t->Is(0x7FE0, 0x0010)) {
      pixelDataSeen = true;
      o.Add(std::move(t));
    } else if ((t->IsVR("SQ") || t->Is(0xFFFE, 0xE000)) && t->length != 0 && t->length != kUndefinedLength &&
               !pixelDataSeen) {
      if (!expandInto(o, *t, b.bigEndian, explicitVR, depth + 1)) return false;
    } else {
      o.Add(std::move(t));
    }
  }
  return true;
}

bool expandSQ(DcmObj& c, const DcmTag& t, int depth) {
  if (depth > kMaxSequenceDepth) {
    WriteLog("ERROR, Expand_SQ: sequences nested deeper than " + std::to_string(kMaxSequenceDepth) + " levels");
    return false;
  }
  BufData b(t.data(), t.size(), c.bigEndian);
  return parseStream(b, c, true, depth);
}

bool expandInto(DcmObj& parent, const DcmTag& t, bool bigEndian, bool explicitVR, int depth) {
  auto c = std::make_unique<DcmObj>();
  c->explicitVR = explicitVR;
  c->bigEndian = bigEndian;
  if (!expandSQ(*c, t, depth)) return false;
  c->header.group = t.group;
  c->header.element = t.element;
  c->header.length = t.length;
  c->header.bigEndian = t.bigEndian;
  if (t.group != 0xFFFE && t.element != 0xE000)
    c->header.SetVR("SQ");
  else
    c->header.SetVR(t.vr);
  parent.Add(std::move(c));
  return true;
}

bool measure(DcmObj& o, bool explicitVR, bool bigEndian, uint64_t& size, int depth) {
  size = 0;
  for (size_t i = 0; i < o.Count(); ++i) {
    if (const DcmTag* t = o.GetTag(i)) {
      size += headerSize(*t, explicitVR) + valueSize(*t);
      continue;
    }
    DcmObj& d = *o.GetObj(i);
    if (depth >= kMaxSequenceDepth) {
      WriteLog("ERROR, BufData::WriteObj, sequences nested deeper than " + std::to_string(kMaxSequenceDepth) +
               " levels");
      return false;
    }
    d.explicitVR = explicitVR;
    d.bigEndian = bigEndian;
    uint64_t inner = 0;
    if (!measure(d, explicitVR, bigEndian, inner, depth + 1)) return false;
    if (inner >= kUndefinedLength) {
      WriteLog("ERROR, BufData::WriteObj, (" + tagText(d.header.group, d.header.element) +
               ") too large for a defined length");
      return false;
    }
    d.header.length = static_cast<uint32_t>(inner);
    size += headerSize(d.header, explicitVR) + inner;
  }
  return true;
}

}  // namespace

bool BufData::ReadObj(DcmObj& obj) { return parseStream(*this, obj, false, 0); }

void BufData::writeHeader(const DcmTag& t, bool explicitVR) {
  WriteUS(t.group);
  WriteUS(t.element);
  if (plainHeader(t, explicitVR)) {
    WriteUL(t.length);
    return;
  }
  const ExplicitForm f = explicitForm(t);
  Write(f.vr, 2);
  if (f.longForm) {
    WriteUS(0);
    WriteUL(t.length);
  } else {
    WriteUS(static_cast<uint16_t>(t.length));
  }
}

bool BufData::writeEntries(DcmObj& o, int depth) {
  for (size_t i = 0; i < o.Count(); ++i) {
    if (const DcmTag* t = o.GetTag(i)) {
      if (!WriteTag(*t, o.explicitVR)) return false;
      continue;
    }
    DcmObj& d = *o.GetObj(i);
    // The header with its encoded length (set by measure), then the contents.
    DcmTag h;
    h.group = d.header.group;
    h.element = d.header.element;
    std::memcpy(h.vr, d.header.vr, 4);
    h.length = d.header.length;
    writeHeader(h, o.explicitVR);
    if (!writeEntries(d, depth + 1)) return false;
  }
  return true;
}

bool BufData::WriteObj(DcmObj& obj) {
  if (obj.transferSyntax == kTsExplicitBE) bigEndian = true;
  uint64_t size = 0;
  if (!measure(obj, obj.explicitVR, bigEndian, size, 0)) return false;
  if (!deferLarge_) Reserve(static_cast<size_t>(pos_ + size));
  return writeEntries(obj, 0);
}

bool DcmObj::Expand_SQ(const DcmTag& tag) { return expandSQ(*this, tag, 1); }

bool DcmObj::AddExpanded(const DcmTag& tag) { return expandInto(*this, tag, bigEndian, explicitVR, 1); }

bool DcmObj::EncodeInto(DcmTag& tag) {
  BufData b(bigEndian);
  uint64_t size = 0;
  if (!measure(*this, explicitVR, bigEndian, size, 0)) return false;
  if (size >= kUndefinedLength) {
    WriteLog("ERROR, DcmObj::EncodeInto, (" + tagText(tag.group, tag.element) + ") too large for a defined length");
    return false;
  }
  b.Reserve(static_cast<size_t>(size));
  if (!b.writeEntries(*this, 0)) return false;
  tag.SetValue(b.TakeBuffer());
  return true;
}

std::vector<BufData::Piece> BufData::Pieces() const {
  std::vector<Piece> out;
  size_t from = 0;
  for (const Deferred& d : deferred_) {
    if (d.offset > from) out.push_back(Piece{base() + from, d.offset - from});
    out.push_back(Piece{d.data, d.size});
    from = d.offset;
  }
  if (GetSize() > from) out.push_back(Piece{base() + from, GetSize() - from});
  return out;
}

// ---------------------------------------------------------------- DICOM files

bool BufData::ReadHeader(std::string& ts) {
  FileMeta meta;
  const bool ok = ReadHeader(meta);
  ts = meta.transferSyntax;
  return ok;
}

bool BufData::ReadHeader(FileMeta& meta) {
  const bool order = bigEndian;
  bigEndian = false;  // the meta group is always little endian
  if (fd_ >= 0 && buf_.size() < 132) loadRest();
  if (GetSize() < 132 || std::memcmp(base() + 128, "DICM", 4) != 0) {
    Clear();
    bigEndian = order;
    return false;
  }
  meta = FileMeta{};
  pos_ = 132;
  while (Remaining() >= 2) {
    const size_t p = pos_;
    if (fd_ >= 0 && !loaded(2)) break;
    const uint16_t group = static_cast<uint16_t>(base()[p] | base()[p + 1] << 8);
    if (group != 0x0002) break;  // the first data set element
    DcmTag t;
    if (!ReadTag(t, true)) {
      pos_ = p;
      break;
    }
    if (t.Is(0x0002, 0x0002)) {
      meta.sopClass = t.GetString();
      meta.hasSopClass = true;
    }
    if (t.Is(0x0002, 0x0003)) meta.sopInstance = t.GetString();
    if (t.Is(0x0002, 0x0010)) meta.transferSyntax = t.GetString();
  }
  bigEndian = order;
  return true;
}

bool ReadFileMeta(const std::string& fileName, FileMeta& meta) {
  struct stat st {};
  if (::stat(fileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  BufData b(false);
  return b.openForRead(fileName) && b.ReadHeader(meta);
}

void BufData::WriteHeader(const std::string& sopClassUID, const std::string& sopInstanceUID, const std::string& ts) {
  const bool order = bigEndian;
  bigEndian = false;
  Clear();
  const uint8_t zeros[128] = {};
  Write(zeros, sizeof zeros);
  Write("DICM", 4);
  WriteTag(DcmTag::Number32(0x0002, 0x0000, 0, "UL"), true);
  const uint8_t version[2] = {0x00, 0x01};
  WriteTag(DcmTag(0x0002, 0x0001, 2, version, "OB"), true);
  WriteTag(DcmTag(0x0002, 0x0002, sopClassUID, "UI"), true);
  WriteTag(DcmTag(0x0002, 0x0003, sopInstanceUID, "UI"), true);
  WriteTag(DcmTag(0x0002, 0x0010, ts, "UI"), true);
  WriteTag(DcmTag(0x0002, 0x0012, std::string(kImplementationClassUID), "UI"), true);
  std::string version_name = kImplementationVersionName;
  if (version_name.size() % 2) version_name.push_back(' ');  // SH pads with a space
  WriteTag(DcmTag(0x0002, 0x0013, static_cast<uint32_t>(version_name.size()), version_name.data(), "SH"), true);
  const uint32_t groupLength = static_cast<uint32_t>(GetSize() - 144);
  pos_ = 140;
  WriteUL(groupLength);
  pos_ = GetSize();
  bigEndian = order;
}

bool BufData::LoadFromFile(const std::string& fileName) {
  // The start of the file first, then all the rest in one read.
  if (!openForRead(fileName) || !loadRest()) return false;
  pos_ = 0;
  return !buf_.empty();
}

void BufData::closeFile() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  fileSize_ = 0;
}

bool BufData::readFileAt(size_t offset, uint8_t* into, size_t count, size_t& got) {
  got = 0;
  while (got < count) {
    const ssize_t n = ::pread(fd_, into + got, count - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      WriteLog("ERROR, BufData::LoadFromFile, Cannot read file \"" + fileName_ + "\". " + std::strerror(errno));
      Clear();
      readError_ = true;
      return false;
    }
    if (n == 0) break;  // the file shrank while being read
    got += static_cast<size_t>(n);
  }
  return true;
}

bool BufData::openForRead(const std::string& fileName) {
  Clear();
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    WriteLog("ERROR, BufData::LoadFromFile, Cannot open file \"" + fileName + "\". " + std::strerror(errno));
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = errno;
    ::close(fd);
    WriteLog("ERROR, BufData::LoadFromFile, Cannot read file \"" + fileName + "\". " +
             (S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : std::strerror(err)));
    return false;
  }
  fd_ = fd;
  fileName_ = fileName;
  fileModifiedNs_ = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  const size_t size = static_cast<size_t>(st.st_size);
  const size_t head = size < kFileHead ? size : kFileHead;
  size_t got = 0;
  if (!resizeForFile(head)) return false;
  if (!readFileAt(0, buf_.data(), head, got)) return false;
  buf_.resize(got);
  if (got < head || head == size) {
    closeFile();  // all of it is in memory
  } else {
    fileSize_ = size;
  }
  pos_ = 0;
  return GetSize() != 0;
}

bool BufData::resizeForFile(size_t bytes) {
  try {
    buf_.resize(bytes);
    return true;
  } catch (const std::bad_alloc&) {
    WriteLog("ERROR, BufData::LoadFromFile, Out of memory for \"" + fileName_ + "\"");
    Clear();
    return false;
  }
}

bool BufData::loaded(size_t count) {
  if (fd_ < 0 || pos_ + count <= buf_.size()) return true;
  // Read as far as needed and at least as far again as what is in, so that a file read in many
  // steps is still read only once over, and a large value that ends it can still be read apart.
  const size_t want = std::max(pos_ + count, 2 * buf_.size());
  if (want >= fileSize_) return loadRest();
  const size_t have = buf_.size();
  if (!resizeForFile(want)) return false;
  size_t got = 0;
  if (!readFileAt(have, buf_.data() + have, want - have, got)) return false;
  buf_.resize(have + got);
  if (have + got < want) closeFile();  // the file shrank while being read: what is in is all
  return true;
}

bool BufData::loadRest() {
  if (fd_ < 0) return true;
  const size_t have = buf_.size();
  if (!resizeForFile(fileSize_)) return false;
  size_t got = 0;
  if (!readFileAt(have, buf_.data() + have, fileSize_ - have, got)) return false;
  buf_.resize(have + got);
  closeFile();
  if (pos_ > buf_.size()) pos_ = buf_.size();
  return true;
}

bool BufData::SaveToFile(const std::string& fileName, bool replace) {
  if (GetSize() == 0 && deferred_.empty()) return false;
  // The stream's bytes, with the deferred element values spliced in at their offsets, into a new
  // private file that takes its name only when complete on the disk.
  std::string why;
  const bool ok = WritePrivateFile(
      fileName,
      [this](int fd, std::string& w) {
        size_t from = 0;
        for (const Deferred& d : deferred_) {
          if (!WriteAll(fd, base() + from, d.offset - from, w)) return false;
          if (d.file) {
            if (w = d.file->Changed(); !w.empty() || !CopyRange(d.file->fd(), d.fileOffset, d.size, fd, w) ||
                                       !(w = d.file->Changed()).empty()) {
              w = "\"" + d.file->name() + "\": " + w;
              return false;
            }
          } else if (!WriteAll(fd, d.data, d.size, w)) {
            return false;
          }
          from = d.offset;
        }
        return WriteAll(fd, base() + from, GetSize() - from, w);
      },
      replace, why);
  if (!ok) WriteLog("ERROR, BufData::SaveToFile, Cannot write file \"" + fileName + "\". " + why);
  return ok;
}

// A deflated data set may inflate up to this size (a larger one is refused unread).
constexpr size_t kMaxInflatedDataSet = size_t(2) << 30;

bool DcmObj::Read(const std::string& fileName, std::string* why, LargeValues large) {
  auto fail = [why](std::string reason) {
    if (why) *why = std::move(reason);
    return false;
  };
  struct stat st {};
  if (::stat(fileName.c_str(), &st) != 0) return fail(std::strerror(errno));  // a missing file is no error
  if (S_ISDIR(st.st_mode)) return fail("a folder, not a file");
  if (st.st_size == 0) return fail("an empty file");
  BufData b(bigEndian);
  b.leaveInFile_ = large == LargeValues::kLeftInFile;
  errno = 0;
  if (!b.openForRead(fileName)) return fail(errno ? std::strerror(errno) : "it cannot be opened");
  std::string ts;
  if (!b.ReadHeader(ts))
    return fail("not a DICOM file (no \"DICM\" after the 128-byte preamble)");
  transferSyntax = ts;
  explicitVR = ts != kTsImplicitLE;
  if (ts == kTsExplicitBE) bigEndian = true;
  b.bigEndian = bigEndian;
  bool ok;
  if (ts == kTsDeflatedLE) {
    // The data set after the meta group, inflated, read as explicit VR little endian.
    if (!b.loadRest()) return fail("it cannot be read to its end");
    std::vector<uint8_t> plain;
    std::string problem;
    if (!InflateRaw(b.base() + b.pos_, b.GetSize() - b.pos_, kMaxInflatedDataSet, plain, problem)) {
      WriteLog("ERROR: DcmObj::Read, " + fileName + ", " + problem);
      return fail(problem);
    }
    BufData d(plain.data(), plain.size(), false);
    ok = d.ReadObj(*this);
  } else {
    ok = b.ReadObj(*this);
  }
  if (b.readError_) ok = false;  // the file could not be read to its end
  if (!ok) {
    WriteLog("ERROR: DcmObj::Read, " + fileName);
    return fail("its data set is damaged or cut short");
  }
  return true;
}

bool DcmObj::Write(const std::string& fileName, bool replace) {
  if (transferSyntax == kTsExplicitBE) bigEndian = true;
  BufData b(false);
  b.WriteHeader(GetString(0x0008, 0x0016), GetString(0x0008, 0x0018), transferSyntax);
  if (transferSyntax == kTsDeflatedLE) {
    // The data set encoded whole, then deflated after the meta group.
    BufData plain(false);
    std::vector<uint8_t> packed;
    if (!plain.WriteObj(*this) || !DeflateRaw(plain.base(), plain.GetSize(), packed)) {
      WriteLog("ERROR, DcmObj::Write, the data set could not be deflated");
      return false;
    }
    b.Write(packed.data(), packed.size());
    return b.SaveToFile(fileName, replace);
  }
  b.bigEndian = bigEndian;
  b.deferLarge_ = true;  // large values go to the file straight from their elements
  b.copyFromFiles_ = true;
  if (!b.WriteObj(*this)) return false;
  return b.SaveToFile(fileName, replace);
}
