#pragma once
// Whole-file reading and writing: each file written goes to a temporary name beside its place and
// takes its name only when complete. The functions with an operation write one log line
// "ERROR, <operation>, <reason>: <path>" on failure and return false.
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "core/dcmobj.h"

// Reads the whole regular file at path into bytes. A missing file, a folder or another
// non-regular file, and a read error fail.
bool ReadWholeFile(const std::string& path, std::string& bytes, std::string_view operation);
// The same straight into an element's buffer (one spare byte of capacity for an even-length pad).
bool ReadWholeFile(const std::string& path, ByteBuffer& bytes, std::string_view operation);

// A text no other name made here has: the process ID, "-", random digits and a counter.
std::string UniqueSuffix();
// A temporary name beside path (same folder), hidden and unique: "." + its name + ".part" +
// UniqueSuffix(). Folder listings pass over names that begin with ".".
std::string TemporaryNameFor(const std::string& path);

// Creates a new file for writing, its owner's alone from the first byte: mode 0600, never through
// a name that exists or a symbolic link (O_CREAT | O_EXCL | O_NOFOLLOW). The descriptor, or -1
// with the reason in why.
int CreatePrivateFile(const std::string& path, std::string& why);
// Writes a file in full before it counts as saved: a new private file under a temporary name
// beside path, filled by fill (false with the reason in why), flushed to the disk, then given the
// name path, replacing a file there or, with replace false, failing when the name is taken; then
// the folder is flushed. Nothing is left under either name when any step fails. A file that is
// replaced keeps its owner's permissions (never more than 0700); a new one is 0600.
bool WritePrivateFile(const std::string& path, const std::function<bool(int fd, std::string& why)>& fill,
                      bool replace, std::string& why);
// Writes all of bytes to the descriptor; false with the reason in why.
bool WriteAll(int fd, const void* bytes, size_t size, std::string& why);
// Writes size bytes of the file open as `from`, starting at offset, to the descriptor `to` at its
// position: copied inside the kernel where the file systems allow, else read and written in slices.
// False with the reason in why (a source shorter than offset + size too).
bool CopyRange(int from, uint64_t offset, uint64_t size, int to, std::string& why);
// WritePrivateFile with bytes, replacing any file at path; one log line on failure.
bool WriteWholeFile(const std::string& path, std::string_view bytes, std::string_view operation);
// The same without logging: false with the reason in why.
bool WriteFileReplacing(const std::string& path, std::string_view bytes, std::string& why);
// Flushes a folder's entries (a new or renamed name in it) to the disk.
bool SyncFolder(const std::string& folder);
// The reason WritePrivateFile and MoveFileNoReplace give when the name is already taken.
inline constexpr const char kNameTaken[] = "the name is taken";
// Moves a file to `to`, which must not exist: a rename on one file system; across file systems a
// private copy under a temporary name, flushed, given its name, then the source removed. False with
// the reason in why; the source stays then.
bool MoveFileNoReplace(const std::string& from, const std::string& to, std::string& why);

// Patient data stays with the user: the folders of logs, temporary objects and the outbox only
// their owner may enter, and the files in them only their owner may read.
// Makes the folder (0700, and so are the missing parents). A folder that exists with wider
// permissions is tightened to 0700 and `warning` (when given) says so, for the caller's one log line.
// False when the path cannot be a folder.
bool PrivateFolder(const std::string& path, std::string* warning);
// Why a folder that holds our files must not be used: "" when it is fine (a real folder, owned by
// this user, that nobody else may write into), else a sentence naming it. A missing folder is fine.
std::string FolderTrouble(const std::string& path);
// Opens a file for appending, creating it 0600 when new (an existing one open to others is made
// its owner's alone), never through a symbolic link; nullptr when it cannot be opened.
FILE* OpenPrivateAppend(const std::string& path);

// An exclusive lock on a lock file (made 0600 when missing, never through a link), held until
// Release or the end of the object, or of the process. Another process's Acquire of the same file
// then waits or fails.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { Release(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  // wait false: fails at once when another process holds it. False too when the file can't be used.
  bool Acquire(const std::string& path, bool wait);
  void Release();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// The folder part of a path, ending in "/" ("" for a bare name).
std::string FolderOf(const std::string& path);
// The file name part of a path (after the last '/' or '\').
std::string FileNamePart(const std::string& path);
// The file name's extension in lower case, with its dot (".doc"); "" when it has none.
std::string LowerExtension(const std::string& path);
