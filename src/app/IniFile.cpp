#include "app/IniFile.h"

#include <cstdio>
#include <fstream>
#include <sstream>

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

bool equalNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// One line of the file: [begin, end) without its line break; next is where the next line starts.
struct Line {
  std::size_t begin, end, next;
};

std::vector<Line> splitLines(std::string_view text) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) {
      lines.push_back({pos, text.size(), text.size()});
      break;
    }
    lines.push_back({pos, nl, nl + 1});
    pos = nl + 1;
  }
  return lines;
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

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {}

std::string IniFile::load() const {
  std::ifstream in(path_, std::ios::binary);
  if (!in) return {};
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool IniFile::lookup(std::string_view text, std::string_view section, std::string_view key, std::string& value) {
  const std::string_view wantSection = trim(section);
  const std::string_view wantKey = trim(key);
  bool inSection = false;
  for (const Line& l : splitLines(text)) {
    std::string_view line = text.substr(l.begin, l.end - l.begin);
    std::string_view name;
    if (sectionName(line, name)) {
      inSection = equalNoCase(name, wantSection);
      continue;
    }
    if (!inSection) continue;
    std::string_view k, v;
    if (keyValue(line, k, v) && equalNoCase(k, wantKey)) {
      v = trim(v);
      if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
      value.assign(v.substr(0, kMaxValue));
      return true;
    }
  }
  return false;
}

std::string IniFile::replaced(std::string_view text, std::string_view section, std::string_view key,
                              std::string_view value) {
  const std::string_view wantSection = trim(section);
  const std::string_view wantKey = trim(key);
  const std::string newLine = std::string(wantKey) + "=" + std::string(value);
  // Keep the file's own line breaks when it has any.
  const std::string eol = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";

  bool inSection = false;
  bool sectionSeen = false;
  std::size_t insertAt = std::string_view::npos;  // after the last non-blank line of the section
  for (const Line& l : splitLines(text)) {
    std::string_view line = text.substr(l.begin, l.end - l.begin);
    std::string_view name;
    if (sectionName(line, name)) {
      if (inSection) break;  // our section ended without the key
      inSection = equalNoCase(name, wantSection);
      if (inSection) {
        sectionSeen = true;
        insertAt = l.next;
      }
      continue;
    }
    if (!inSection) continue;
    std::string_view k, v;
    if (keyValue(line, k, v) && equalNoCase(k, wantKey)) {
      std::string out(text.substr(0, l.begin));
      // Keep a '\r' that ended the old line.
      const bool cr = l.end > l.begin && text[l.end - 1] == '\r';
      out += newLine;
      if (cr) out += '\r';
      out.append(text.substr(l.end));
      return out;
    }
    if (!trim(line).empty()) insertAt = l.next;
  }

  if (sectionSeen) {
    std::string out(text.substr(0, insertAt));
    if (!out.empty() && out.back() != '\n') out += eol;
    out += newLine + eol;
    out.append(text.substr(insertAt));
    return out;
  }
  std::string out(text);
  if (!out.empty() && out.back() != '\n') out += eol;
  out += "[" + std::string(wantSection) + "]" + eol + newLine + eol;
  return out;
}

std::string IniFile::readString(std::string_view section, std::string_view key, std::string_view fallback) const {
  std::string value;
  if (lookup(load(), section, key, value)) return value;
  return std::string(fallback.substr(0, kMaxValue));
}

std::int32_t IniFile::readInteger(std::string_view section, std::string_view key, std::int32_t fallback) const {
  std::string value;
  if (!lookup(load(), section, key, value)) return fallback;
  return readIntOr(value, fallback);
}

bool IniFile::readBool(std::string_view section, std::string_view key, bool fallback) const {
  return readInteger(section, key, fallback ? 1 : 0) != 0;
}

void IniFile::writeString(std::string_view section, std::string_view key, std::string_view value) {
  // Line breaks inside a value would split it into other keys: keep the value on one line.
  std::string clean(value);
  for (char& c : clean)
    if (c == '\n' || c == '\r') c = ' ';
  const std::string text = replaced(load(), section, key, clean);
  std::ofstream out(path_, std::ios::binary | std::ios::trunc);
  if (!out) throw IniWriteError(path_);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.flush();
  if (!out) throw IniWriteError(path_);
}

void IniFile::writeInteger(std::string_view section, std::string_view key, std::int32_t value) {
  writeString(section, key, std::to_string(value));
}

void IniFile::writeBool(std::string_view section, std::string_view key, bool value) {
  writeString(section, key, value ? "1" : "0");
}

}  // namespace tessaly
