#pragma once
// The in-memory DICOM data set: DcmTag (one data element) and DcmObj (a data set, a sequence or an
// item: an ordered list of entries, each a DcmTag or a nested DcmObj).
//
// Value bytes are held exactly as encoded in the object's transfer syntax; nothing is byte-swapped on
// storage. Undefined-length sequences and items, and encapsulated pixel data, stay flat in the entry
// list: the opening element, the items, the delimiters. Defined-length sequences and items read from a
// stream become nested DcmObj entries whose `header` is the sequence or item element.
//
// Value buffers are ByteBuffer (a std::vector<uint8_t> whose resize does not zero-fill), so a codec can
// build a frame or a whole pixel data value in a ByteBuffer and move it into a DcmTag without a copy:
//   ByteBuffer px(n); ...fill...; obj.Insert(DcmTag(0x7FE0, 0x0010, std::move(px), "OW"));
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/transfer_syntax.h"

// Allocator whose value-initialising construct() leaves bytes uninitialised (resize does not memset).
// Large blocks are not advised onto huge pages: where the kernel must first compact memory (after
// other large file work) the first touch of such pages stalls for longer than the faults it saves.
template <class T>
struct DefaultInitAllocator : std::allocator<T> {
  using std::allocator<T>::allocator;
  template <class U>
  struct rebind {
    using other = DefaultInitAllocator<U>;
  };
  template <class U>
  void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(p)) U;
  }
};

// The byte buffer of the whole toolkit: element values, encoded streams, codec output.
using ByteBuffer = std::vector<uint8_t, DefaultInitAllocator<uint8_t>>;

// Value length meaning "undefined length" (the contents follow as separate entries).
inline constexpr uint32_t kUndefinedLength = 0xFFFFFFFFu;

class BufData;

// An open file whose large values a reader left where they lie (DcmObj::Read with
// LargeValues::kLeftInFile). The file stays open while any element refers to it.
class ValueFile {
 public:
  // Takes the descriptor over; size and modified time (ns) as the file had them when read.
  ValueFile(int fd, std::string name, uint64_t size, int64_t modifiedNs);
  ~ValueFile();
  ValueFile(const ValueFile&) = delete;
  ValueFile& operator=(const ValueFile&) = delete;
  int fd() const { return fd_; }
  const std::string& name() const { return name_; }
  // "" while the file has the size and modified time it was read with, else why it cannot be used.
  std::string Changed() const;

 private:
  int fd_;
  std::string name_;
  uint64_t size_;
  int64_t modifiedNs_;
};

class DcmTag {
 public:
  uint16_t group = 0;
  uint16_t element = 0;
  char vr[4] = {0, 0, 0, 0};  // two VR letters and two NUL bytes; all NUL in a new empty element
  uint32_t length = 0;        // value length; kUndefinedLength for undefined length
  bool bigEndian = false;     // the value bytes are big endian (set by the reader from its stream)

  // Empty element: (0000,0000), no VR, length 0, no data.
  DcmTag() = default;
  // Every form below takes an optional VR (two letters). Without one the VR comes from the data
  // dictionary ("UN" for an unknown tag); "UN" with undefined length becomes "SQ".
  // Bytes: a private copy of `len` bytes; an odd length is padded to even (NUL for UI, else space).
  // len 0 or kUndefinedLength stores no data (bytes may then be null).
  DcmTag(uint16_t g, uint16_t e, uint32_t len, const void* bytes, const char* vrLetters = nullptr);
  // Bytes moved in without a copy; padded like the bytes form. For a large odd-sized value reserve one
  // spare byte of capacity first so the pad does not reallocate.
  DcmTag(uint16_t g, uint16_t e, ByteBuffer&& bytes, const char* vrLetters = nullptr);
  // Text: the characters without a terminating NUL; padded like the bytes form.
  DcmTag(uint16_t g, uint16_t e, const std::string& text, const char* vrLetters = nullptr);
  // 16-bit number, stored little endian (low byte first), length 2.
  static DcmTag Number16(uint16_t g, uint16_t e, uint16_t value, const char* vrLetters = nullptr);
  // 32-bit number, stored little endian (least significant byte first), length 4.
  static DcmTag Number32(uint16_t g, uint16_t e, uint32_t value, const char* vrLetters = nullptr);

  DcmTag(const DcmTag&) = default;
  DcmTag& operator=(const DcmTag&) = default;
  DcmTag(DcmTag&&) noexcept = default;
  DcmTag& operator=(DcmTag&&) noexcept = default;
  ~DcmTag() = default;

  // --- value bytes ---
  // A value left in its file is read on first use: by the accessors below, TakeValue and the Get
  // functions. That read changes the element, so such an element is used from one thread only.
  // When the file changed since (or cannot be read) the element is left without its bytes, with
  // one log line, and writing it fails.
  // The value bytes (exactly `length` of them for a defined length), or nullptr when there are none.
  const uint8_t* data() const {
    load();
    return data_.empty() ? nullptr : data_.data();
  }
  uint8_t* data() {
    load();
    return data_.empty() ? nullptr : data_.data();
  }
  // Number of value bytes held (0 for length 0 and for undefined length); a value still in its file
  // counts as held.
  size_t size() const { return file_ ? length : data_.size(); }
  const ByteBuffer& bytes() const {
    load();
    return data_;
  }
  // The value is still in the file it was read from (not yet read).
  bool ValueInFile() const { return file_ != nullptr; }
  // Replaces the value as given (no padding) and sets `length` to its size; an empty value gives
  // length 0. The ByteBuffer form takes the buffer over without copying.
  void SetValue(ByteBuffer&& bytes);
  void SetValue(const void* bytes, size_t len);
  // Moves the value out (no copy); the element is left with length 0 and no data.
  ByteBuffer TakeValue();
  // Drops the value bytes; `length` is left as it is (a nested object's header keeps its length).
  void ReleaseValue() {
    ByteBuffer().swap(data_);
    file_.reset();
  }

  // --- VR ---
  std::string VR() const { return std::string(vr, vr[0] ? (vr[1] ? 2 : 1) : 0); }
  bool IsVR(const char* twoLetters) const { return vr[0] == twoLetters[0] && vr[1] == twoLetters[1]; }
  void SetVR(const char* twoLetters);
  bool Is(uint16_t g, uint16_t e) const { return group == g && element == e; }

  // Sets `vr` from the dictionary by exact (group, element) match, or to "UN".
  void LookupVR();
  // The dictionary name, or "*** Unidentified ***". A known tag also gets the dictionary VR.
  std::string GetName();

  // --- reading values ---
  // First two bytes as a 16-bit number, in the element's byte order; 0 when shorter than two bytes.
  uint16_t GetUS() const;
  // Bytes up to `length` or the first NUL, trimmed of leading/trailing codes <= 0x20; "" without data.
  // Multi-valued text stays whole.
  std::string GetString() const;
  // The value text read as a decimal number (strtod rules) in single precision; 0 when not a number.
  float GetNumber() const;
  // The value with this 0-based index of the backslash-separated text; 0 when missing.
  float GetNumber(int index) const;

  // One dump line: indent ("..." depth-1 times), "(gggg,eeee), len, VR, " name ": " value. The element
  // is not changed; the dictionary VR is shown for a known tag.
  std::string Dump(int depth) const;

  // The descriptive key "(gggg,eeee)" in upper-case hex.
  std::string Key() const;

 private:
  friend class BufData;
  void Pad();
  void load() const {
    if (file_) loadFromFile();
  }
  void loadFromFile() const;
  mutable ByteBuffer data_;
  mutable std::shared_ptr<const ValueFile> file_;  // set while the value is still in this file
  uint64_t fileOffset_ = 0;                        // ... at this offset
};

class DcmObj {
 public:
  std::string transferSyntax = kTsImplicitLE;
  std::string photometric;  // noted by the transfer syntax conversion
  bool explicitVR = false;
  bool bigEndian = false;
  // For a nested object, the sequence element ("SQ") or item element (FFFE,E000) that heads it. Its
  // `length` is the length read, and after encoding the encoded length. Unused at top level.
  DcmTag header;

  DcmObj() = default;
  DcmObj(DcmObj&&) noexcept = default;
  DcmObj& operator=(DcmObj&&) noexcept = default;
  DcmObj(const DcmObj&) = delete;
  DcmObj& operator=(const DcmObj&) = delete;
  ~DcmObj() = default;
  // Deep copy (entries, header, flags and texts).
  std::unique_ptr<DcmObj> Clone() const;

  // --- entries (i is 0-based) ---
  size_t Count() const { return entries_.size(); }
  // "DcmTag" or "DcmObj"; "" when i is out of range.
  const char* ClassNameAt(size_t i) const;
  // The entry as element, or nullptr if it is a nested object (or i is out of range).
  DcmTag* GetTag(size_t i);
  const DcmTag* GetTag(size_t i) const;
  // The entry as nested object, or nullptr if it is an element (or i is out of range).
  DcmObj* GetObj(size_t i);
  const DcmObj* GetObj(size_t i) const;
  // "(gggg,eeee)" of the entry (of its header for a nested object); "" when out of range.
  std::string KeyAt(size_t i) const;

  // Appends at the end (no ordering, no duplicate test); returns the stored element or object.
  DcmTag* Add(std::unique_ptr<DcmTag> tag);
  DcmTag* Add(DcmTag&& tag);
  DcmObj* Add(std::unique_ptr<DcmObj> obj);
  // Add of a new text or bytes element, VR from the dictionary.
  DcmTag* AddText(uint16_t g, uint16_t e, const std::string& text);
  DcmTag* AddBytes(uint16_t g, uint16_t e, uint32_t len, const void* bytes);

  // Replaces the value of the equal top-level element (which keeps its VR and byte order) or inserts
  // the element in ascending tag order, and keeps the group length element current. Returns the
  // element that now holds the value.
  DcmTag* Insert(std::unique_ptr<DcmTag> tag);
  DcmTag* Insert(DcmTag&& tag);
  // Insert of a new text or bytes element, VR from the dictionary.
  DcmTag* SetText(uint16_t g, uint16_t e, const std::string& text);
  DcmTag* SetBytes(uint16_t g, uint16_t e, uint32_t len, const void* bytes);
  // Heads the nested object with (g,e) (VR "SQ" unless it is an item tag), gives it this object's
  // explicitVR and inserts it in tag order after any entry with the same tag. No group length update.
  DcmObj* InsertSequence(uint16_t g, uint16_t e, std::unique_ptr<DcmObj> seq);

  // The first top-level element with this tag, or nullptr. Nested objects and the contents of
  // undefined-length sequences are not searched.
  DcmTag* FindTag(uint16_t g, uint16_t e);
  const DcmTag* FindTag(uint16_t g, uint16_t e) const;
  uint16_t GetUS(uint16_t g, uint16_t e) const;           // 0 when absent
  std::string GetString(uint16_t g, uint16_t e) const;    // "" when absent

  // Index of the entry FindTag returns, or npos.
  static constexpr size_t npos = static_cast<size_t>(-1);
  size_t IndexOf(uint16_t g, uint16_t e) const;
  // Places an entry at index i (at the end when i >= Count()); no ordering, no group length update.
  DcmTag* InsertAt(size_t i, std::unique_ptr<DcmTag> tag);
  DcmObj* InsertAt(size_t i, std::unique_ptr<DcmObj> obj);

  void Delete(size_t i);
  void Clear() { entries_.clear(); }

  // --- encoding (bufdata.cpp) ---
  // Parses the value of a sequence or item element into this object's entries.
  bool Expand_SQ(const DcmTag& tag);
  // Builds a nested object from a sequence or item element with Expand_SQ and appends it. The element
  // stays with the caller.
  bool AddExpanded(const DcmTag& tag);
  // Encodes all entries and makes the bytes the element's value (length = encoded size). False (with a
  // log line) when the encoding does not fit a 32-bit length.
  bool EncodeInto(DcmTag& tag);

  // --- DICOM files: preamble, "DICM", meta group, data set (bufdata.cpp) ---
  // Loads the file, takes transferSyntax/explicitVR/bigEndian from its meta group and appends the data
  // set elements. False for a missing file, a file without preamble and "DICM", or a broken data set;
  // `why` (when given) then says which, in words.
  // kLeftInFile: a large value that ends the file (pixel data, as a rule) stays in the file until it
  // is used, and Write copies it file to file without reading it; the file stays open meanwhile
  // and must not change (a changed file makes the value unreadable and the write fail).
  enum class LargeValues { kInMemory, kLeftInFile };
  bool Read(const std::string& fileName, std::string* why = nullptr, LargeValues large = LargeValues::kInMemory);
  // Writes preamble, meta group and data set as a private file (0600) that takes its name only
  // once complete on the disk: replacing any existing file, or with replace false failing when the
  // name is taken. Nothing is left behind by a failure.
  bool Write(const std::string& fileName, bool replace = true);

  // --- text dump (dump.cpp) ---
  // Appends one line per element, nested objects included (their contents at depth + 1).
  void Dump(std::vector<std::string>& lines, int depth) const;

 private:
  struct Entry {
    std::unique_ptr<DcmTag> tag;  // exactly one of the two is set
    std::unique_ptr<DcmObj> obj;
    const DcmTag& head() const { return tag ? *tag : obj->header; }
    DcmTag& head() { return tag ? *tag : obj->header; }
  };
  friend class BufData;
  // Places the element or object at index i (at the end when i >= Count()) and returns it.
  template <class T>
  T* place(size_t i, std::unique_ptr<T> item);
  size_t runEnd(size_t i) const;
  // Insert's cases: the entry at i (a nested sequence, or an undefined-length element with its
  // items and delimiter) replaced as a whole by n; the value of the element at i replaced by n's.
  DcmTag* replaceRun(size_t i, std::unique_ptr<DcmTag> n, DcmTag* groupLength);
  DcmTag* replaceValue(size_t i, std::unique_ptr<DcmTag> n, DcmTag* groupLength);
  std::vector<Entry> entries_;
};

// Where an entry of a data set's flat list stands. An undefined-length sequence, an undefined-length
// item and encapsulated pixel data open a level that their delimiter closes; `depth` counts the
// levels open around the entry, and an entry that opens or closes a level stands at the depth of the
// element that owns it. Sequences and items of defined length are held as nested objects (`Nested`)
// and open no level in the flat list.
enum class EntryRole { Element, Nested, SequenceStart, Item, ItemEnd, SequenceEnd, Fragment };

struct EntryPlace {
  EntryRole role = EntryRole::Element;
  int depth = 0;
  // An element, sequence or nested object of the top level: what FindTag and Insert look at.
  bool TopLevel() const {
    return depth == 0 && (role == EntryRole::Element || role == EntryRole::SequenceStart || role == EntryRole::Nested);
  }
};

// The one walk over flat entries: feed every entry in order (its element, or a nested object's
// header with nested = true). A delimiter closes only what it can close: an item end the open item, a
// sequence end the open pixel data or the innermost sequence (with an item left open in it); a
// stray one closes nothing.
class FlatWalk {
 public:
  EntryPlace Step(const DcmTag& head, bool nested = false);
  int depth() const { return static_cast<int>(open_.size()); }

 private:
  enum class Level : uint8_t { Sequence, Item, Pixels };
  std::vector<Level> open_;
};

// Calls visit(i, head, place) for each entry of obj in order; a visit that returns bool stops the walk
// by returning false.
template <class Visit>
void WalkEntries(const DcmObj& obj, Visit&& visit) {
  FlatWalk walk;
  for (size_t i = 0; i < obj.Count(); ++i) {
    const DcmObj* nested = obj.GetObj(i);
    const DcmTag& head = nested ? nested->header : *obj.GetTag(i);
    const EntryPlace place = walk.Step(head, nested != nullptr);
    if constexpr (std::is_same_v<decltype(visit(i, head, place)), bool>) {
      if (!visit(i, head, place)) return;
    } else {
      visit(i, head, place);
    }
  }
}
