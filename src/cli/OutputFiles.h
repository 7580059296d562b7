#pragma once
// The client's output files. Opening never waits for a reader: a FIFO nobody reads
// is an error. A write error (a full disk, a reader gone, a size limit) is reported
// by its text, never by a signal.
#include <string>
#include <string_view>

namespace tessaly::cli {

// A log written line by line as it happens (tail -f follows it).
class LogFile {
 public:
  enum class Existing { Refuse, Append, Replace };
  LogFile() = default;
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;
  ~LogFile();
  // An existing regular file is refused, appended to or replaced; a FIFO or a
  // device is written as it is. False with the reason in `why`.
  bool open(const std::string& path, Existing existing, std::string* why);
  // Nothing written yet: a new, emptied or empty file, a FIFO or a device.
  bool empty() const { return empty_; }
  // One line and its newline; false with the reason in `why` (the log is then
  // closed, a regular file cut back to its last whole line).
  bool writeLine(std::string_view line, std::string* why);
  bool isOpen() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  bool empty_ = true;
};

// A report that replaces its file only once it is whole: written to a temporary
// file beside it, flushed to disk and renamed over it, so an earlier report stays
// until then. A FIFO, a device, a file under /dev or /proc and a descriptor named
// by number (/dev/stdout) are written directly.
class ReportFile {
 public:
  ReportFile() = default;
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;
  ~ReportFile();
  // Before the run: the report can be written there. False with the reason in `why`.
  bool prepare(const std::string& path, std::string* why);
  bool commit(std::string_view data, std::string* why);

 private:
  std::string target_;
  int directFd_ = -1;
};

// Writes all of `data` to `fd`, going on after a signal that did not stop the run.
bool writeAll(int fd, std::string_view data, std::string* why);

}  // namespace tessaly::cli
