#include "settings/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <list>
#include <unordered_map>

#include "text/Numbers.h"

namespace tessaly {

namespace {

constexpr std::size_t kMaxValue = 2047;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && (isBlank(s.front()) || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (isBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// A section header "[name]": gives the trimmed name.
bool sectionName(std::string_view line, std::string_view& name) {
  line = trim(line);
  if (line.size() < 2 || line.front() != '[') return false;
  std::size_t close = line.find(']');
  if (close == std::string_view::npos) return false;
  name = trim(line.substr(1, close - 1));
  return true;
}

// "key=value": gives the trimmed key and the raw value after '='.
bool keyValue(std::string_view line, std::string_view& key, std::string_view& value) {
  std::string_view t = trim(line);
  if (t.empty() || t.front() == ';' || t.front() == '#' || t.front() == '[') return false;
  std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  key = trim(line.substr(0, eq));
  value = line.substr(eq + 1);
  return !key.empty();
}

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string errnoText(int err) { return std::strerror(err); }

}  // namespace

// ------------------------------------------------------------------ IniText

struct IniText::Impl {
  // A line as read (a view into the text read) or as written (owned), with its line break.
  struct Line {
    std::string_view read;
    std::string written;
    bool isWritten = false;
    bool header = false;
    std::string_view text() const { return isWritten ? std::string_view(written) : read; }
    bool endsWithBreak() const {
      const std::string_view t = text();
      return !t.empty() && t.back() == '\n';
    }
    std::string_view content() const {
      std::string_view t = text();
      if (!t.empty() && t.back() == '\n') t.remove_suffix(1);
      return t;
    }
    void write(std::string s) {
      written = std::move(s);
      isWritten = true;
    }
  };
  using LineIt = std::list<Line>::iterator;
  struct Section {
    LineIt header;
    LineIt last;  // last non-blank line (the header when none)
    bool indexed = false;
    std::unordered_map<std::string, LineIt> keys;  // upper-case key -> its first line
  };

  std::string original;  // never changes after construction: lines view into it
  std::list<Line> lines;
  std::vector<Section> sections;                                     // in file order
  std::unordered_map<std::string, std::vector<std::size_t>> byName;  // upper-case name -> sections
  bool crlf = false;

  Section& indexed(std::size_t n) {
    Section& s = sections[n];
    if (!s.indexed) {
      s.indexed = true;
      for (LineIt it = std::next(s.header); it != lines.end() && !it->header; ++it) {
        std::string_view k, v;
        if (keyValue(it->content(), k, v)) s.keys.emplace(upper(k), it);
      }
    }
    return s;
  }
};

IniText::IniText() : impl_(std::make_unique<Impl>()) {}

IniText::IniText(std::string text) : IniText() {
  Impl& m = *impl_;
  m.original = std::move(text);
  const std::string_view all(m.original);
  m.crlf = all.find("\r\n") != std::string_view::npos;
  Impl::Section* current = nullptr;
  std::size_t pos = 0;
  while (pos < all.size()) {
    const std::size_t nl = all.find('\n', pos);
    const std::size_t next = nl == std::string_view::npos ? all.size() : nl + 1;
    const std::string_view line = all.substr(pos, (nl == std::string_view::npos ? all.size() : nl) - pos);
    const Impl::LineIt it = m.lines.insert(m.lines.end(), Impl::Line{all.substr(pos, next - pos), {}, false, false});
    pos = next;
    std::string_view name;
    if (sectionName(line, name)) {
      it->header = true;
      m.byName[upper(name)].push_back(m.sections.size());
      current = &m.sections.emplace_back();
      current->header = current->last = it;
      continue;
    }
    if (current && !trim(line).empty()) current->last = it;
  }
}

IniText::IniText(IniText&&) noexcept = default;
IniText& IniText::operator=(IniText&&) noexcept = default;
IniText::~IniText() = default;

bool IniText::lookup(std::string_view section, std::string_view key, std::string& value) const {
  Impl& m = *impl_;
  const auto named = m.byName.find(upper(trim(section)));
  if (named == m.byName.end()) return false;
  const std::string wantKey = upper(trim(key));
  for (std::size_t n : named->second) {
    const auto& keys = m.indexed(n).keys;
    const auto found = keys.find(wantKey);
    if (found == keys.end()) continue;
    std::string_view k, v;
    keyValue(found->second->content(), k, v);
    v = trim(v);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    value.assign(v.substr(0, kMaxValue));
    return true;
  }
  return false;
}

void IniText::set(std::string_view section, std::string_view key, std::string_view value) {
  Impl& m = *impl_;
  const std::string_view wantSection = trim(section);
  const std::string_view wantKey = trim(key);
  // Line breaks inside a value would split it into other keys: keep the value on one line.
  std::string newLine = std::string(wantKey) + "=" + std::string(value);
  for (std::size_t i = wantKey.size() + 1; i < newLine.size(); ++i)
    if (newLine[i] == '\n' || newLine[i] == '\r') newLine[i] = ' ';
  const char* eol = m.crlf ? "\r\n" : "\n";
  const std::string upperKey = upper(wantKey);
  auto addBreak = [&](Impl::Line& line) {
    if (!line.endsWithBreak()) line.write(std::string(line.text()) + eol);
  };

  const auto named = m.byName.find(upper(wantSection));
  if (named != m.byName.end()) {
    // The first section of that name takes the key.
    Impl::Section& s = m.indexed(named->second.front());
    const auto found = s.keys.find(upperKey);
    if (found != s.keys.end()) {
      Impl::Line& line = *found->second;
      const bool nl = line.endsWithBreak();
      const std::string_view old = line.content();
      const bool cr = !old.empty() && old.back() == '\r';  // kept, as the line's own break
      line.write(newLine + (cr ? "\r" : "") + (nl ? "\n" : ""));
      return;
    }
    addBreak(*s.last);
    s.last = m.lines.insert(std::next(s.last), Impl::Line{{}, newLine + eol, true, false});
    s.keys.emplace(upperKey, s.last);
    return;
  }
  if (!m.lines.empty()) addBreak(m.lines.back());
  const Impl::LineIt header =
      m.lines.insert(m.lines.end(), Impl::Line{{}, "[" + std::string(wantSection) + "]" + eol, true, true});
  const Impl::LineIt it = m.lines.insert(m.lines.end(), Impl::Line{{}, newLine + eol, true, false});
  m.byName[upper(wantSection)].push_back(m.sections.size());
  Impl::Section& s = m.sections.emplace_back();
  s.header = header;
  s.last = it;
  s.indexed = true;
  s.keys.emplace(upperKey, it);
}

std::string IniText::str() const {
  std::size_t size = 0;
  for (const auto& l : impl_->lines) size += l.text().size();
  std::string out;
  out.reserve(size);
  for (const auto& l : impl_->lines) out += l.text();
  return out;
}

// ------------------------------------------------------------------ IniFile


namespace {

// The settings file as it stands on disk at one moment.
struct OnDisk {
  bool exists = false;
  std::string target;  // the path with symbolic links followed
  struct stat st {};   // of what was read
  std::string data;
  std::string error;  // why an existing file cannot be read; empty when it was read or is missing
};

OnDisk readOnDisk(const std::string& path) {
  OnDisk f;
  f.target = path;
  struct stat& st = f.st;
  if (::lstat(path.c_str(), &st) != 0) {
    // A missing file (or directory) is an empty file; the first save creates it.
    if (errno != ENOENT) f.error = errnoText(errno);
    return f;
  }
  f.exists = true;
  if (S_ISLNK(st.st_mode)) {
    // Save replaces the link's target, not the link.
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved)) {
      f.error = errno == ENOENT ? "is a link to a file that does not exist" : errnoText(errno);
      return f;
    }
    f.target = resolved;
    if (::stat(f.target.c_str(), &st) != 0) {
      f.error = errnoText(errno);
      return f;
    }
  }
  // The type is checked before opening: opening a FIFO would wait for a writer.
  if (S_ISDIR(st.st_mode)) {
    f.error = "is a directory";
    return f;
  }
  if (!S_ISREG(st.st_mode)) {
    f.error = "is not a regular file";
    return f;
  }
  const std::string tooLarge = "is larger than " + std::to_string(IniFile::kMaxFileSize >> 20) + " MB";
  if (st.st_size > IniFile::kMaxFileSize) {
    f.error = tooLarge;
    return f;
  }
  const int fd = ::open(f.target.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    f.error = errnoText(errno);
    return f;
  }
  std::string& data = f.data;
  // The file may have changed since stat: check again on what was opened, and read
  // no more than the limit whatever it claims.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    f.error = "is not a regular file";
  } else {
    constexpr auto kMax = static_cast<std::size_t>(IniFile::kMaxFileSize);
    data.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t got = 0;
    for (;;) {
      if (got == data.size()) {
        if (data.size() > kMax) {
          f.error = tooLarge;
          break;
        }
        data.resize(std::min<std::size_t>(data.size() * 2, kMax + 1));
      }
      const ssize_t n = ::read(fd, &data[got], data.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        f.error = errnoText(errno);
        break;
      }
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    data.resize(got);
  }
  ::close(fd);
  if (!f.error.empty()) data.clear();
  return f;
}

// Writes all of text at offset 0; false on any error (EFBIG, ENOSPC, EIO, ...).
bool writeAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Rewrites the file that was read in place, flushed to the disk. On failure the old
// text is written back as far as the disk allows.
bool rewriteInPlace(const OnDisk& file, const std::string& text) {
  const int fd = ::open(file.target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat st {};
  // Only the very file that was read, and still a regular one.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_dev != file.st.st_dev || st.st_ino != file.st.st_ino) {
    ::close(fd);
    return false;
  }
  const auto put = [fd](const std::string& t) {
    return writeAll(fd, t) && ::ftruncate(fd, static_cast<off_t>(t.size())) == 0 && ::fsync(fd) == 0;
  };
  const bool ok = put(text);
  if (!ok) (void)put(file.data);
  return (::close(fd) == 0) && ok;
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {
  OnDisk file = readOnDisk(path_);
  loadError_ = std::move(file.error);
  if (loadError_.empty()) text_ = IniText(std::move(file.data));
}

bool IniFile::lookup(std::string_view text, std::string_view section, std::string_view key, std::string& value) {
  return IniText(std::string(text)).lookup(section, key, value);
}

std::string IniFile::replaced(std::string_view text, std::string_view section, std::string_view key,
                              std::string_view value) {
  IniText t{std::string(text)};
  t.set(section, key, value);
  return t.str();
}

std::string IniFile::readString(std::string_view section, std::string_view key, std::string_view fallback) const {
  std::string value;
  if (text_.lookup(section, key, value)) return value;
  return std::string(fallback.substr(0, kMaxValue));
}

std::int32_t IniFile::readInteger(std::string_view section, std::string_view key, std::int32_t fallback) const {
  std::string value;
  if (!text_.lookup(section, key, value)) return fallback;
  return readIntOr(value, fallback);
}

bool IniFile::readBool(std::string_view section, std::string_view key, bool fallback) const {
  return readInteger(section, key, fallback ? 1 : 0) != 0;
}

void IniFile::writeString(std::string_view section, std::string_view key, std::string_view value) {
  text_.set(section, key, value);
  pending_.push_back({std::string(section), std::string(key), std::string(value)});
}

void IniFile::writeInteger(std::string_view section, std::string_view key, std::int32_t value) {
  writeString(section, key, std::to_string(value));
}

void IniFile::writeBool(std::string_view section, std::string_view key, bool value) {
  writeString(section, key, value ? "1" : "0");
}

void IniFile::save() {
  std::vector<Write> writes;
  writes.swap(pending_);
  // A file that could not be read holds the user's data: never replace it.
  if (!loadError_.empty()) throw IniWriteError(path_);
  // What is on disk now, with what other programs wrote since start, takes this
  // save's keys.
  const OnDisk file = readOnDisk(path_);
  if (!file.error.empty()) throw IniWriteError(path_);
  std::string text;
  {
    IniText merged(file.data);
    for (const Write& w : writes) merged.set(w.section, w.key, w.value);
    text = merged.str();
  }

  const std::string& target = file.target;
  const std::size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);

  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  int openError = 0;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = dir + "/." + base + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    openError = fd < 0 ? errno : 0;
    if (fd < 0 && openError != EEXIST) break;
  }
  if (fd < 0) {
    // A directory without write access (or room) for a new file: a file that is
    // there and writable is rewritten where it stands.
    if (file.exists && openError != EEXIST && rewriteInPlace(file, text)) return;
    throw IniWriteError(path_);
  }

  // The new file takes the old one's mode and (where allowed) owner.
  bool ok = true;
  if (file.exists) {
    const struct stat& old = file.st;
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) (void)::fchown(fd, old.st_uid, old.st_gid);
    ok = ::fchmod(fd, old.st_mode & 07777) == 0;
  }
  ok = ok && writeAll(fd, text);
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    throw IniWriteError(path_);
  }
  // The rename itself reaches the disk with the directory.
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    (void)::fsync(dfd);
    ::close(dfd);
  }
}

}  // namespace tessaly
