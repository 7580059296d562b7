#pragma once
// An INI file store with private-profile semantics.
//
// The file is read once, when the store is made; every read is served from memory.
// Reads: section and key names match without regard to case, blanks around names
// and values are ignored, a value in double quotes loses them; a value read is cut
// at 2047 characters. Writes change the text in memory (later reads see them) and
// are kept until the next save(): an existing key's line is replaced in place and
// every other byte stays as it was; a new key goes at the end of its section, a new
// section at the end of the file, each line ending as the file's lines do (CRLF
// when the file has any).
//
// save() reads the file as it is on disk at that moment and applies to it only the
// keys written since the last save(), so what other programs changed in the file
// meanwhile stays. The result goes to disk at once: into a temporary file beside the
// target, flushed to the disk, then renamed over the target. The file on disk is
// always either the old one or the complete new one. Where the directory refuses
// the temporary file but the file itself is writable, the file is rewritten in
// place and flushed instead (its old text is put back if that write fails). A
// symbolic link is followed: its target is replaced and the link stays a link.
//
// Values are bytes: nothing is converted on the way in or out.
//
// A file that exists but cannot be read (no permission, not a regular file once
// links are followed, larger than kMaxFileSize) is never written: loadError()
// says why, reads give the defaults, and save() refuses. The same holds for the
// file as save() finds it.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

class IniWriteError : public std::runtime_error {
 public:
  explicit IniWriteError(const std::string& path) : std::runtime_error("Unable to write to " + path), path_(path) {}
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The text of an INI file as lines, with an index of sections and keys. A section's
// keys are indexed the first time the section is asked for, so a large section that
// is never used costs only its reading.
class IniText {
 public:
  IniText();
  explicit IniText(std::string text);
  IniText(const IniText&) = delete;
  IniText& operator=(const IniText&) = delete;
  IniText(IniText&&) noexcept;
  IniText& operator=(IniText&&) noexcept;
  ~IniText();

  // The raw value (quotes removed, cut at 2047 characters); false when absent.
  bool lookup(std::string_view section, std::string_view key, std::string& value) const;
  // Sets the key's line to "key=value"; line breaks in the value become blanks.
  void set(std::string_view section, std::string_view key, std::string_view value);
  std::string str() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class IniFile {
 public:
  // Files larger than this are not read (and so never written).
  static constexpr std::int64_t kMaxFileSize = std::int64_t{64} << 20;

  // Reads the file once. A missing file is an empty one.
  explicit IniFile(std::string path);

  const std::string& path() const { return path_; }
  // Why an existing file could not be read ("Permission denied", "is a directory", ...);
  // empty when it was read or does not exist.
  const std::string& loadError() const { return loadError_; }
  bool loaded() const { return loadError_.empty(); }
  // The text read at start with this store's writes applied.
  std::string text() const { return text_.str(); }

  std::string readString(std::string_view section, std::string_view key, std::string_view fallback) const;
  // Decimal, or hexadecimal after "$", "0x" or "0X"; the fallback when it does not read.
  std::int32_t readInteger(std::string_view section, std::string_view key, std::int32_t fallback) const;
  // An integer, true when it is not 0.
  bool readBool(std::string_view section, std::string_view key, bool fallback) const;

  // Change the text in memory and keep the key for the next save().
  void writeString(std::string_view section, std::string_view key, std::string_view value);
  void writeInteger(std::string_view section, std::string_view key, std::int32_t value);
  void writeBool(std::string_view section, std::string_view key, bool value);

  // Applies the keys written since the last save() to the file as it is on disk now
  // and replaces it atomically (in place where the directory refuses a new file).
  // Throws IniWriteError (naming path()) when it cannot, leaving the file on disk as
  // it was and no temporary file behind; also when the file could not be read at
  // start or cannot be read now. Either way the written keys are then done with: the
  // next save() applies only keys written after this one.
  void save();

  // Pure text operations behind the above, exposed for tests and fuzzing.
  static bool lookup(std::string_view text, std::string_view section, std::string_view key, std::string& value);
  static std::string replaced(std::string_view text, std::string_view section, std::string_view key,
                              std::string_view value);

 private:
  struct Write {
    std::string section, key, value;
  };

  std::string path_;
  std::string loadError_;
  IniText text_;
  std::vector<Write> pending_;  // written since the last save(), in order
};

}  // namespace tessaly
