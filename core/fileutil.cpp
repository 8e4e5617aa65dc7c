#include "core/fileutil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

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

std::string TemporaryNameFor(const std::string& path) {
  return path + ".part" + std::to_string(::getpid());
}

namespace {

// Renames the complete file tmp to path; on failure tmp is removed and why says so.
bool RenameInto(const std::string& tmp, const std::string& path, std::string& why) {
  if (std::rename(tmp.c_str(), path.c_str()) == 0) return true;
  why = std::string("cannot rename the written file (") + std::strerror(errno) + ")";
  std::remove(tmp.c_str());
  return false;
}

}  // namespace

bool CommitTemporaryFile(const std::string& tmp, const std::string& path, std::string_view operation) {
  std::string why;
  if (RenameInto(tmp, path, why)) return true;
  Fail(operation, why, path);
  return false;
}

bool WriteFileReplacing(const std::string& path, std::string_view bytes, bool durable, std::string& why) {
  const std::string tmp = TemporaryNameFor(path);
  struct stat existing{};
  const mode_t mode = ::stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : 0600;
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) {
    why = std::string("cannot create file (") + std::strerror(errno) + ")";
    return false;
  }
  int e = 0;  // the first failure's error
  size_t done = 0;
  while (e == 0 && done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      e = n < 0 ? errno : EIO;
    else
      done += static_cast<size_t>(n);
  }
  if (e == 0 && ::fchmod(fd, mode) != 0) e = errno;  // the mode asked for, whatever the umask
  if (e == 0 && durable && ::fsync(fd) != 0) e = errno;
  if (::close(fd) != 0 && e == 0) e = errno;
  if (e != 0) {
    why = std::string("cannot write file (") + std::strerror(e) + ")";
    std::remove(tmp.c_str());
    return false;
  }
  return RenameInto(tmp, path, why);
}

bool WriteWholeFile(const std::string& path, std::string_view bytes, std::string_view operation) {
  std::string why;
  if (WriteFileReplacing(path, bytes, false, why)) return true;
  Fail(operation, why, path);
  return false;
}

bool PrivateFolder(const std::string& path, std::string* warning) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  std::error_code ec;
  const std::filesystem::path parent = std::filesystem::path(p).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  if (::mkdir(p.c_str(), 0700) == 0) {
    ::chmod(p.c_str(), 0700);  // whatever the umask
    return true;
  }
  struct stat st{};
  if (::stat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  const mode_t mode = st.st_mode & 07777;
  if ((mode & 077) != 0 && ::chmod(p.c_str(), 0700) == 0 && warning) {
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", unsigned(mode));
    *warning = "WARNING, folder " + p + " was open to other users (mode " + octal + "), now 0700";
  }
  return true;
}

FILE* OpenPrivateAppend(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  FILE* f = ::fdopen(fd, "ab");
  if (!f) ::close(fd);
  return f;
}

size_t RemoveFilesOlderThan(const std::string& folder, long maxAgeSeconds) {
  const std::time_t limit = std::time(nullptr) - maxAgeSeconds;
  size_t removed = 0;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    struct stat st{};
    const std::string f = it->path().string();
    if (::lstat(f.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_mtime < limit && std::remove(f.c_str()) == 0)
      ++removed;
  }
  return removed;
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
