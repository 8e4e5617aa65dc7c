#include "core/fileutil.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "core/audit.h"
#include "core/log.h"
#include "core/strutil.h"

namespace {

void Fail(std::string_view operation, const std::string& why, const std::string& path) {
  WriteLog("ERROR, " + std::string(operation) + ", " + why + ": " + path);
}

// The whole file into a std::string or a ByteBuffer, sized from the file at the start.
template <class Bytes>
bool ReadInto(const std::string& path, Bytes& bytes, std::string_view operation) {
  bytes.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    Fail(operation, std::string("cannot open file (") + std::strerror(errno) + ")", path);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    Fail(operation, "not a regular file", path);
    return false;
  }
  bytes.reserve(static_cast<size_t>(st.st_size) + 1);
  bytes.resize(static_cast<size_t>(st.st_size));
  size_t got = 0;
  for (;;) {
    if (got == bytes.size()) bytes.resize(got + 65536);  // the file grew while being read
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int e = errno;
      ::close(fd);
      bytes.clear();
      Fail(operation, std::string("cannot read file (") + std::strerror(e) + ")", path);
      return false;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  bytes.resize(got);
  return true;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string_view operation) {
  return ReadInto(path, bytes, operation);
}

bool ReadWholeFile(const std::string& path, ByteBuffer& bytes, std::string_view operation) {
  return ReadInto(path, bytes, operation);
}

std::string UniqueSuffix() {
  static std::atomic<uint32_t> sequence{0};
  uint64_t random = 0;
  if (::getrandom(&random, sizeof random, 0) != sizeof random)
    random = static_cast<uint64_t>(std::time(nullptr)) * 2654435761u;
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, "%d-%08x%u", int(::getpid()), unsigned(random), unsigned(++sequence));
  return suffix;
}

std::string TemporaryNameFor(const std::string& path) {
  return FolderOf(path) + "." + FileNamePart(path) + ".part" + UniqueSuffix();
}

int CreatePrivateFile(const std::string& path, std::string& why) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    why = std::string("cannot create file (") + std::strerror(errno) + ")";
    return -1;
  }
  ::fchmod(fd, 0600);  // the umask may only have narrowed it
  return fd;
}

namespace {

// Large writes go in slices of this size, each handed to the disk as soon as it is written, so
// that the device writes while the next slice is copied and the closing fsync has little left to
// wait for.
constexpr size_t kWriteSlice = size_t(4) << 20;

// Hands the last `written` bytes before the file position to the disk at once.
void StartWriteback(int fd, ssize_t written) {
  const off_t end = ::lseek(fd, 0, SEEK_CUR);
  if (end >= written) (void)::sync_file_range(fd, end - written, written, SYNC_FILE_RANGE_WRITE);
}

}  // namespace

bool WriteAll(int fd, const void* bytes, size_t size, std::string& why) {
  const char* p = static_cast<const char*>(bytes);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, std::min(size, kWriteSlice));
    if (n > 0 && size > kWriteSlice) StartWriteback(fd, n);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      why = std::string("cannot write file (") + std::strerror(n < 0 ? errno : EIO) + ")";
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool CopyRange(int from, uint64_t offset, uint64_t size, int to, std::string& why) {
  loff_t in = static_cast<loff_t>(offset);
  // The kernel's copy moves whole cached pages only when both offsets sit at the same place within
  // a page. Otherwise it splits every page in two and runs at about half the speed of a copy
  // through a buffer the size of a slice; so it is used only where the offsets agree.
  const off_t at = ::lseek(to, 0, SEEK_CUR);
  const auto page = static_cast<off_t>(::sysconf(_SC_PAGESIZE));
  bool inKernel = at >= 0 && page > 0 && at % page == in % page;
  ByteBuffer slice;
  while (size > 0) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(size, kWriteSlice));
    ssize_t n;
    if (inKernel) {
      n = ::copy_file_range(from, &in, to, nullptr, want, 0);
      if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
        inKernel = false;  // not between these files: the copy goes on through a buffer
        continue;
      }
    } else {
      if (slice.empty()) slice.resize(kWriteSlice);
      n = ::pread(from, slice.data(), want, in);
      if (n > 0 && !WriteAll(to, slice.data(), static_cast<size_t>(n), why)) return false;
      if (n > 0) in += n;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      why = std::string("cannot copy the value (") + std::strerror(errno) + ")";
      return false;
    }
    if (n == 0) {
      why = "the source file is cut short";
      return false;
    }
    size -= static_cast<uint64_t>(n);
    if (size > 0) StartWriteback(to, n);
  }
  return true;
}

bool SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

namespace {

// Gives the complete file tmp the name path: replacing what is there, or only where the name is free.
bool Publish(const std::string& tmp, const std::string& path, bool replace, std::string& why) {
  int rc = replace ? ::rename(tmp.c_str(), path.c_str())
                   : ::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE);
  if (rc != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {  // a file system without it
    rc = ::link(tmp.c_str(), path.c_str());
    if (rc == 0) ::unlink(tmp.c_str());
  }
  if (rc != 0) {
    why = errno == EEXIST ? std::string(kNameTaken) : std::string("cannot name the written file (") + std::strerror(errno) + ")";
    ::unlink(tmp.c_str());
    return false;
  }
  SyncFolder(FolderOf(path));
  return true;
}

}  // namespace

bool WritePrivateFile(const std::string& path, const std::function<bool(int fd, std::string& why)>& fill,
                      bool replace, std::string& why) {
  struct stat there{};
  if (::lstat(path.c_str(), &there) == 0 && !S_ISREG(there.st_mode)) {  // a device, a folder, a link
    why = "not a regular file";
    if (S_ISLNK(there.st_mode))  // one planted to redirect the write elsewhere
      audit::SecurityAlert(audit::Alert::kSecurityConfiguration, path,
                           "a symbolic link stands where a file is to be written; refused");
    return false;
  }
  const std::string tmp = TemporaryNameFor(path);
  const int fd = CreatePrivateFile(tmp, why);
  if (fd < 0) return false;
  bool ok = fill(fd, why);
  if (ok && replace) {  // a file replaced keeps its owner's permissions, never wider than 0700
    struct stat existing{};
    if (::lstat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) ::fchmod(fd, existing.st_mode & 0700);
  }
  if (ok && ::fsync(fd) != 0) {
    why = std::string("cannot write file to the disk (") + std::strerror(errno) + ")";
    ok = false;
  }
  if (::close(fd) != 0 && ok) {
    why = std::string("cannot write file (") + std::strerror(errno) + ")";
    ok = false;
  }
  if (!ok) {
    ::unlink(tmp.c_str());
    return false;
  }
  return Publish(tmp, path, replace, why);
}

bool WriteFileReplacing(const std::string& path, std::string_view bytes, std::string& why) {
  return WritePrivateFile(
      path, [&](int fd, std::string& w) { return WriteAll(fd, bytes.data(), bytes.size(), w); }, true, why);
}

bool WriteWholeFile(const std::string& path, std::string_view bytes, std::string_view operation) {
  std::string why;
  if (WriteFileReplacing(path, bytes, why)) return true;
  Fail(operation, why, path);
  return false;
}

bool MoveFileNoReplace(const std::string& from, const std::string& to, std::string& why) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    SyncFolder(FolderOf(to));
    return true;
  }
  if (errno == EEXIST) {
    why = kNameTaken;
    return false;
  }
  if (errno != EXDEV && errno != EINVAL && errno != ENOSYS) {
    why = std::string("cannot move file (") + std::strerror(errno) + ")";
    return false;
  }
  // Another file system: a private copy, complete on the disk, before the source goes.
  const int in = ::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) {
    why = std::string("cannot open file (") + std::strerror(errno) + ")";
    return false;
  }
  const bool copied = WritePrivateFile(
      to,
      [in](int out, std::string& w) {
        char buf[65536];
        for (;;) {
          const ssize_t n = ::read(in, buf, sizeof buf);
          if (n < 0 && errno == EINTR) continue;
          if (n < 0) {
            w = std::string("cannot read file (") + std::strerror(errno) + ")";
            return false;
          }
          if (n == 0) return true;
          if (!WriteAll(out, buf, static_cast<size_t>(n), w)) return false;
        }
      },
      false, why);
  ::close(in);
  if (!copied) return false;
  ::unlink(from.c_str());
  SyncFolder(FolderOf(from));
  return true;
}

bool PrivateFolder(const std::string& path, std::string* warning) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  // Missing parents are made 0700 too: a folder of ours that others could write into is refused
  // at the next start (FolderTrouble), whatever the umask was.
  for (size_t slash = p.find('/', 1); slash != std::string::npos; slash = p.find('/', slash + 1))
    ::mkdir(p.substr(0, slash).c_str(), 0700);
  if (::mkdir(p.c_str(), 0700) == 0) {
    ::chmod(p.c_str(), 0700);  // whatever the umask
    return true;
  }
  struct stat st{};
  if (::lstat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return false;
  const mode_t mode = st.st_mode & 07777;
  if ((mode & 077) != 0 && ::chmod(p.c_str(), 0700) == 0 && warning) {
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", unsigned(mode));
    *warning = "WARNING, folder " + p + " was open to other users (mode " + octal + "), now 0700";
  }
  return true;
}

std::string FolderTrouble(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  struct stat st{};
  if (::lstat(p.c_str(), &st) != 0) return "";
  if (S_ISLNK(st.st_mode)) return "the folder " + p + " is a symbolic link; it is not used";
  if (!S_ISDIR(st.st_mode)) return p + " is not a folder; it is not used";
  if (st.st_uid != ::geteuid())
    return "the folder " + p + " belongs to another user (uid " + std::to_string(st.st_uid) + "); it is not used";
  if ((st.st_mode & 022) != 0) return "the folder " + p + " can be written by other users; it is not used";
  return "";
}

FILE* OpenPrivateAppend(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  struct stat st{};
  if (::fstat(fd, &st) == 0 && (st.st_mode & 077) != 0) ::fchmod(fd, st.st_mode & 0700);  // one made open before
  FILE* f = ::fdopen(fd, "ab");
  if (!f) ::close(fd);
  return f;
}

bool FileLock::Acquire(const std::string& path, bool wait) {
  Release();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  int rc;
  while ((rc = ::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB))) != 0 && errno == EINTR) {
  }
  if (rc != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void FileLock::Release() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  fd_ = -1;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string FileNamePart(const std::string& path) {
  const size_t p = path.find_last_of("/\\");
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string LowerExtension(const std::string& path) {
  const std::string name = FileNamePart(path);
  const size_t dot = name.rfind('.');
  return LowerAscii(dot == std::string::npos ? "" : name.substr(dot));
}
