#pragma once
// An INI file store with private-profile semantics.
// Reads: section and key names match without regard to case, blanks around names
// and values are ignored, a value in double quotes loses them; a value read is cut
// at 2047 characters. Writes go to disk at once: an existing key's line is replaced
// in place and every other byte of the file stays as it was; a new key goes at the
// end of its section, a new section at the end of the file.
#include <cstdint>
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

class IniFile {
 public:
  explicit IniFile(std::string path);

  const std::string& path() const { return path_; }

  std::string readString(std::string_view section, std::string_view key, std::string_view fallback) const;
  // Decimal, or hexadecimal after "$", "0x" or "0X"; the fallback when it does not read.
  std::int32_t readInteger(std::string_view section, std::string_view key, std::int32_t fallback) const;
  // An integer, true when it is not 0.
  bool readBool(std::string_view section, std::string_view key, bool fallback) const;

  // Each write reads the file as it now stands, changes one line and writes it back.
  // Throws IniWriteError when the file cannot be written.
  void writeString(std::string_view section, std::string_view key, std::string_view value);
  void writeInteger(std::string_view section, std::string_view key, std::int32_t value);
  void writeBool(std::string_view section, std::string_view key, bool value);

  // Pure text operations behind the above, exposed for tests and fuzzing.
  static bool lookup(std::string_view text, std::string_view section, std::string_view key, std::string& value);
  static std::string replaced(std::string_view text, std::string_view section, std::string_view key,
                              std::string_view value);

 private:
  std::string load() const;
  std::string path_;
};

}  // namespace tessaly
