#pragma once
// BufData: the byte codec over an in-memory stream. It encodes DcmObj data sets into bytes and decodes
// bytes into DcmObj data sets, implicit or explicit VR, little or big endian, and reads and writes
// DICOM files (128-byte preamble, "DICM", meta group, data set).
//
// Header numbers (group, element, length) follow `bigEndian`; value bytes are copied as held, never
// swapped. Reading and writing share one position.
//
// Network use, without extra copies:
//   decode a received P-DATA value:   BufData in(pdv, pdvLen, false);   // reads the caller's bytes
//                                     DcmObj cmd; ok = in.ReadObj(cmd);
//   encode a command or data set:     BufData out; ok = out.WriteObj(obj);
//                                     out.data(), out.GetSize()  or  ByteBuffer b = out.TakeBuffer();
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/dcmobj.h"

// What a Part 10 file's meta group says of its data set.
struct FileMeta {
  std::string sopClass;        // (0002,0002) Media Storage SOP Class UID
  std::string sopInstance;     // (0002,0003) Media Storage SOP Instance UID
  std::string transferSyntax;  // (0002,0010), "" when absent
  bool hasSopClass = false;    // (0002,0002) was there
};

// Reads only the meta group of a Part 10 file (the start of the file, not the data set). False
// when the file is missing or not a regular file (nothing logged), cannot be opened (logged by the
// reader), or has no "DICM" at offset 128.
bool ReadFileMeta(const std::string& fileName, FileMeta& meta);

class BufData {
 public:
  // Multi-byte header numbers are read and written big endian.
  bool bigEndian = false;

  // An empty owned stream.
  explicit BufData(bool bigEndianStream = false) : bigEndian(bigEndianStream) {}
  // Reads the caller's bytes in place (no copy). The bytes must outlive the reading; the first write
  // turns the stream into an owned copy.
  BufData(const uint8_t* bytes, size_t size, bool bigEndianStream);
  // Takes the bytes over (no copy), positioned at 0.
  BufData(ByteBuffer&& bytes, bool bigEndianStream);
  BufData(const BufData&) = delete;
  BufData& operator=(const BufData&) = delete;
  BufData(BufData&&) = delete;
  BufData& operator=(BufData&&) = delete;
  ~BufData() { closeFile(); }

  // --- stream bookkeeping ---
  size_t GetPosition() const { return pos_; }
  size_t GetSize() const { return external_ ? extSize_ : fd_ >= 0 ? fileSize_ : buf_.size(); }
  // Positions beyond the end are clamped to the end.
  void SetPosition(size_t pos) { pos_ = pos < GetSize() ? pos : GetSize(); }
  // Empties the stream (and drops a read-only view).
  void Clear();
  // Grows the capacity ahead of a large write.
  void Reserve(size_t bytes);
  // The stream bytes (GetSize() of them); nullptr when empty.
  const uint8_t* data() const;
  // Moves the owned bytes out (a view is copied); the stream is left empty.
  ByteBuffer TakeBuffer();

  // --- raw access at the position ---
  // Two / four bytes in the stream's byte order. Reading past the end gives 0 for the missing bytes
  // and leaves the position at the end; use Remaining() to check first.
  uint16_t ReadUS();
  uint32_t ReadUL();
  void WriteUS(uint16_t v);
  void WriteUL(uint32_t v);
  // Copies up to count bytes out; returns the number actually read.
  size_t Read(void* out, size_t count);
  // Writes count bytes at the position, growing the stream as needed.
  void Write(const void* in, size_t count);
  size_t Remaining() const { return GetSize() - pos_; }

  // --- elements and data sets ---
  // Reads one element header and its value. False (one log line) for a header cut short, a value
  // longer than the rest of the stream (nothing is allocated then) or a failed allocation.
  // A value of 1 MB or more that ends an owned stream takes the stream's buffer over instead of
  // being copied; the stream is empty afterwards.
  bool ReadTag(DcmTag& tag, bool explicitVR);
  // Writes one element. In explicit VR a short-form value over 65535 bytes is written with VR "UN" in
  // the long form (with a WARNING line). False only for an element whose data does not match its
  // length.
  bool WriteTag(const DcmTag& tag, bool explicitVR);
  // Reads elements from the position to the end and appends them to obj. Defined-length sequences
  // and items become nested objects; the elements read before a failure stay in obj.
  bool ReadObj(DcmObj& obj);
  // Appends all entries of obj at the position; nested objects get their encoded defined length.
  // Switches the stream to big endian for the big-endian transfer syntax. False (with a log line)
  // when a nested object is too large for a 32-bit length.
  bool WriteObj(DcmObj& obj);

  // Encoding for sending without copying large values: with this set before WriteObj, values of 64 KB
  // or more are not copied into the stream but stay in their elements (which must then outlive the
  // stream unchanged); Pieces() lists all the encoded bytes in order.
  void DeferLargeValues(bool on) { deferLarge_ = on; }
  struct Piece {
    const uint8_t* data;
    size_t size;
  };
  std::vector<Piece> Pieces() const;

  // --- DICOM files ---
  // Checks "DICM" at offset 128, reads the meta group (little endian) and leaves the position at the
  // first data set element; ts gets the (0002,0010) text or "". False (stream emptied) without "DICM".
  bool ReadHeader(std::string& ts);
  // The same, keeping what the meta group says.
  bool ReadHeader(FileMeta& meta);
  // Empties the stream and writes preamble, "DICM" and the meta group (explicit VR little endian).
  void WriteHeader(const std::string& sopClassUID, const std::string& sopInstanceUID, const std::string& ts);
  // Replaces the stream with the whole file; true when something was loaded.
  bool LoadFromFile(const std::string& fileName);
  // Writes the whole stream as a new private file that takes the name fileName when complete
  // (replacing a file there, or with replace false failing when the name is taken); false for an
  // empty stream (no file made).
  bool SaveToFile(const std::string& fileName, bool replace = true);

 private:
  friend class DcmObj;
  friend bool ReadFileMeta(const std::string& fileName, FileMeta& meta);
  uint8_t* writable(size_t count);  // room for count bytes at the position
  const uint8_t* base() const { return external_ ? ext_ : buf_.data(); }
  bool writeEntries(DcmObj& obj, int depth);
  // Tag, then VR and length in the form the encoding and the value need.
  void writeHeader(const DcmTag& t, bool explicitVR);
  // DcmObj::Read: loads the start of the file only; the rest follows on demand (loaded()), or, for a
  // large value that ends the file, is read straight into that value's own buffer (ReadTag).
  bool openForRead(const std::string& fileName);
  // Makes count bytes from the position available in buf_ (reads on in the file as needed);
  // false after a read error (logged, stream emptied).
  bool loaded(size_t count);
  bool loadRest();
  // The buffer resized for the file's bytes; false (logged, buffer cleared) when memory runs out.
  bool resizeForFile(size_t bytes);
  // ReadTag's steps: the element header (group, element, VR, length), then its value.
  bool readHeader(DcmTag& t, bool explicitVR, uint32_t& len);
  bool readValue(DcmTag& t, uint32_t len);
  // A large value that ends the file being read: the rest goes straight into the value's buffer.
  bool readValueEndingFile(DcmTag& t, uint32_t len);
  // ... or, with leaveInFile_, stays in the file (DcmObj::LargeValues::kLeftInFile).
  bool leaveValueInFile(DcmTag& t, uint32_t len);
  void closeFile();
  bool readFileAt(size_t offset, uint8_t* into, size_t count, size_t& got);

  // Values of this size or more are handed over rather than copied where possible.
  static constexpr size_t kLargeValue = 1u << 20;
  // Values of this size or more are written from their elements (DcmObj::Write, DeferLargeValues):
  // the frames of encapsulated pixel data are not copied into the stream either.
  static constexpr size_t kDeferredValue = 64u << 10;
  struct Deferred {
    size_t offset;  // stream offset the value belongs at
    const uint8_t* data;
    size_t size;
    std::shared_ptr<const ValueFile> file;  // or, for a value still in its file, copied from there
    uint64_t fileOffset = 0;
  };
  bool deferLarge_ = false;          // DcmObj::Write: large values are not copied into the stream
  bool copyFromFiles_ = false;       // DcmObj::Write: values still in their files are copied file to file
  std::vector<Deferred> deferred_;   // ... but written from their elements by SaveToFile

  // Bytes of a file being read that are read into buf_ at first.
  static constexpr size_t kFileHead = 64u << 10;
  int fd_ = -1;          // a file still being read: buf_ holds its first bytes, fileSize_ it all
  size_t fileSize_ = 0;
  int64_t fileModifiedNs_ = 0;
  bool leaveInFile_ = false;
  std::string fileName_;
  bool readError_ = false;  // reading the file failed part way (logged)

  ByteBuffer buf_;
  const uint8_t* ext_ = nullptr;
  size_t extSize_ = 0;
  bool external_ = false;
  size_t pos_ = 0;
};

// Deepest nesting of defined-length sequences and items that the reader expands.
inline constexpr int kMaxSequenceDepth = 128;
