#include "cli/OutputFiles.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "link/qt/StopSignal.h"

namespace tessaly::cli {
namespace {

std::string errorText(int error) {
  if (error == ENXIO) return "nobody reads it (a FIFO without a reader)";
  return std::strerror(error);
}

// Opens `path` for writing without waiting for a FIFO's reader; blocking afterwards.
int openNoWait(const std::string& path, int flags, std::string* why) {
  const int fd = ::open(path.c_str(), flags | O_WRONLY | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) {
    *why = errorText(errno);
    return -1;
  }
  const int fl = ::fcntl(fd, F_GETFL);
  if (fl != -1) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  return fd;
}

// The descriptor a path names by number (/dev/stdout, /dev/fd/3, /proc/self/fd/3):
// that very descriptor is written, where opening the path anew would start at the
// beginning of the file behind it and renaming over it would replace that file.
int descriptorNamed(const std::string& path) {
  if (path == "/dev/stdin") return 0;
  if (path == "/dev/stdout") return 1;
  if (path == "/dev/stderr") return 2;
  for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    const std::string p(prefix);
    if (path.size() <= p.size() || path.compare(0, p.size(), p) != 0 || path.size() > p.size() + 6) continue;
    int n = 0;
    for (std::size_t i = p.size(); i < path.size(); ++i) {
      if (path[i] < '0' || path[i] > '9') return -1;
      n = n * 10 + (path[i] - '0');
    }
    return n;
  }
  return -1;
}

// A descriptor of our own for the one `path` names by number; -1 with `why`.
int duplicate(int fd, std::string* why) {
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (copy < 0) *why = errorText(errno);
  return copy;
}

bool isSpecialPath(const std::string& path) {
  return path.compare(0, 5, "/dev/") == 0 || path.compare(0, 6, "/proc/") == 0;
}

// The file a path names, through its symbolic links (the path itself when it does not exist yet).
std::string resolved(const std::string& path) {
  char buffer[PATH_MAX];
  if (::realpath(path.c_str(), buffer) != nullptr) return buffer;
  return path;
}

std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string tempPattern(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return directoryOf(path) + "/." + name + ".tmp-XXXXXX";
}

}  // namespace

bool writeAll(int fd, std::string_view data, std::string* why) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      // A stop signal interrupts a write to a stalled reader: the run ends.
      if (errno == EINTR && stopSignal() == 0) continue;
      *why = errorText(errno);
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

LogFile::~LogFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool LogFile::open(const std::string& path, Existing existing, std::string* why) {
  if (const int named = descriptorNamed(path); named >= 0) {
    fd_ = duplicate(named, why);
    return fd_ >= 0;
  }
  struct stat st = {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    *why = "is a directory";
    return false;
  }
  const bool regular = exists && S_ISREG(st.st_mode);
  if (regular && existing == Existing::Refuse) {
    *why = "the file exists (--append adds to it, --force replaces it)";
    return false;
  }
  int flags = O_CREAT;
  if (existing == Existing::Append) flags |= O_APPEND;
  if (regular && existing == Existing::Replace) flags |= O_TRUNC;
  fd_ = openNoWait(path, flags, why);
  if (fd_ < 0) return false;
  struct stat now = {};
  empty_ = ::fstat(fd_, &now) != 0 || !S_ISREG(now.st_mode) || now.st_size == 0;
  return true;
}

bool LogFile::writeLine(std::string_view line, std::string* why) {
  if (fd_ < 0) return false;
  std::string text(line);
  text += '\n';
  struct stat st = {};
  const bool regular = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
  if (!writeAll(fd_, text, why)) {
    // The file ends on its last whole line.
    if (regular) {
      [[maybe_unused]] const int r = ::ftruncate(fd_, st.st_size);
    }
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  empty_ = false;
  return true;
}

ReportFile::~ReportFile() {
  if (directFd_ >= 0) ::close(directFd_);
}

bool ReportFile::prepare(const std::string& path, std::string* why) {
  if (const int named = descriptorNamed(path); named >= 0) {
    directFd_ = duplicate(named, why);
    return directFd_ >= 0;
  }
  target_ = resolved(path);
  struct stat st = {};
  if (::stat(target_.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      *why = "is a directory";
      return false;
    }
    // A FIFO, a device or a file under /dev or /proc: nothing is renamed over it.
    if (!S_ISREG(st.st_mode) || isSpecialPath(path) || isSpecialPath(target_)) {
      directFd_ = openNoWait(target_, 0, why);
      return directFd_ >= 0;
    }
  }
  // The temporary file the report will go to can be made beside it.
  std::string probe = tempPattern(target_);
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) {
    *why = errorText(errno);
    return false;
  }
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

bool ReportFile::commit(std::string_view data, std::string* why) {
  if (directFd_ >= 0) {
    const bool ok = writeAll(directFd_, data, why);
    ::close(directFd_);
    directFd_ = -1;
    return ok;
  }
  std::string temp = tempPattern(target_);
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    *why = errorText(errno);
    return false;
  }
  // The mode a new file gets (mkstemp makes it private), or the one it replaces.
  struct stat st = {};
  mode_t mode = 0;
  if (::stat(target_.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  (void)::fchmod(fd, mode);
  bool ok = writeAll(fd, data, why);
  if (ok && ::fsync(fd) != 0) {
    *why = errorText(errno);
    ok = false;
  }
  if (::close(fd) != 0 && ok) {
    *why = errorText(errno);
    ok = false;
  }
  if (ok && ::rename(temp.c_str(), target_.c_str()) != 0) {
    *why = errorText(errno);
    ok = false;
  }
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace tessaly::cli
