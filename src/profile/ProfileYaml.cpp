#include "profile/ProfileYaml.h"

#include <yaml-cpp/eventhandler.h>
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "profile/ProfileRules.h"

namespace tessaly::profile {

namespace {

// Where each value of a profile stood in its file: "output.pll_hz", "pid_filter.1.#3.pid".
using Marks = std::map<std::string, YAML::Mark>;

class Reader {
 public:
  Reader(std::string path, Marks& marks) : path_(std::move(path)), marks_(marks) {}

  [[noreturn]] void fail(const YAML::Mark& m, const std::string& what) const { throw ProfileError(at(m) + what); }

  std::string at(const YAML::Mark& m) const {
    // yaml-cpp counts from 0; an empty document has no mark at all.
    const int line = m.line < 0 ? 0 : m.line, column = m.column < 0 ? 0 : m.column;
    return path_ + ":" + std::to_string(line + 1) + ":" + std::to_string(column + 1) + ": ";
  }

  void mark(const std::string& where, const YAML::Node& n) { marks_[where] = n.Mark(); }

  std::string scalar(const YAML::Node& n, const std::string& key) const {
    if (!n.IsScalar()) fail(n.Mark(), key + " wants a single value");
    return n.Scalar();
  }

  // A decimal whole number in lo..hi (the ranges a field can hold; the rules check the rest).
  std::int64_t integer(const YAML::Node& n, const std::string& key, std::int64_t lo, std::int64_t hi) const {
    const std::string s = scalar(n, key);
    std::size_t k = s.empty() || s[0] != '-' ? 0 : 1;
    const bool digits = k < s.size() && s.size() - k <= 18 &&
                        std::all_of(s.begin() + static_cast<std::ptrdiff_t>(k), s.end(),
                                    [](char c) { return c >= '0' && c <= '9'; });
    if (!digits) fail(n.Mark(), key + " wants a decimal whole number, not '" + s + "'");
    const std::int64_t v = std::stoll(s);
    if (v < lo || v > hi)
      fail(n.Mark(), key + " wants " + std::to_string(lo) + ".." + std::to_string(hi) + ", not " + s);
    return v;
  }

  std::int32_t int32(const YAML::Node& n, const std::string& key) const {
    return static_cast<std::int32_t>(integer(n, key, INT32_MIN, INT32_MAX));
  }

  bool boolean(const YAML::Node& n, const std::string& key) const {
    const std::string s = scalar(n, key);
    if (s == "true") return true;
    if (s == "false") return false;
    fail(n.Mark(), key + " wants true or false, not '" + s + "'");
  }

  // Calls `each` for every key of a map, in file order, refusing keys not in
  // `known` (empty: any) and keys named twice.
  void entries(const YAML::Node& map, const std::string& what, const std::set<std::string>& known,
               const std::function<void(const std::string&, const YAML::Node& key, const YAML::Node& value)>& each) {
    if (!map.IsMap()) fail(map.Mark(), what + " wants keys and values");
    std::set<std::string> seen;
    for (const auto& kv : map) {
      if (!kv.first.IsScalar()) fail(kv.first.Mark(), what + " wants plain keys");
      const std::string k = kv.first.Scalar();
      if (!known.empty() && known.count(k) == 0) {
        std::string list;
        for (const auto& n : known) list += (list.empty() ? "" : ", ") + n;
        fail(kv.first.Mark(), "unknown key '" + k + "' in " + what + " (known: " + list + ")");
      }
      if (!seen.insert(k).second) fail(kv.first.Mark(), what + " names '" + k + "' twice");
      each(k, kv.first, kv.second);
    }
  }

  // A numbered key (an input, a sector) in 1..count, named once in its map `where`
  // ("1" and "01" are one key).
  int numbered(const YAML::Node& key, const std::string& what, int count, const std::string& where,
               std::set<int>& seen) const {
    const int n = static_cast<int>(integer(key, what, 1, count));
    if (!seen.insert(n).second) fail(key.Mark(), where + " names " + what.substr(what.find(' ') + 1) + " " +
                                                     std::to_string(n) + " twice");
    return n;
  }

 private:
  std::string path_;
  Marks& marks_;
};

// The board's texts are 8-bit characters; a file is UTF-8.
std::string latin1FromUtf8(const Reader& r, const YAML::Node& n, const std::string& s) {
  std::string out;
  for (std::size_t k = 0; k < s.size(); ++k) {
    const auto c = static_cast<unsigned char>(s[k]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if ((c == 0xC2 || c == 0xC3) && k + 1 < s.size() && (static_cast<unsigned char>(s[k + 1]) & 0xC0) == 0x80) {
      out += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(s[k + 1]) & 0x3F));
      ++k;
    } else {
      r.fail(n.Mark(), "user_text wants Latin-1 characters (U+0000..U+00FF) only");
    }
  }
  return out;
}

Identity readIdentity(Reader& r, const YAML::Node& n) {
  Identity id;
  std::set<std::string> named;
  r.entries(n, "identity", {"serial", "type", "user_text", "sdi_address"},
            [&](const std::string& k, const YAML::Node&, const YAML::Node& v) {
              named.insert(k);
              r.mark("identity." + k, v);
              if (k == "serial") id.serial = static_cast<std::uint32_t>(r.integer(v, k, 0, 0xFFFFFFFFLL));
              if (k == "type") id.type = static_cast<std::uint16_t>(r.integer(v, k, 0, 0xFFFF));
              if (k == "user_text") id.userText = latin1FromUtf8(r, v, r.scalar(v, k));
              if (k == "sdi_address") id.sdiAddress = r.int32(v, k);
            });
  for (const char* k : {"serial", "type", "user_text", "sdi_address"})
    if (named.count(k) == 0) r.fail(n.Mark(), std::string("identity wants ") + k);
  return id;
}

std::array<InputConfig, 6> readInputs(Reader& r, const YAML::Node& n) {
  std::array<InputConfig, 6> inputs{};
  std::set<int> named;
  r.entries(n, "inputs", {}, [&](const std::string&, const YAML::Node& key, const YAML::Node& v) {
    const int input = r.numbered(key, "an input", kInputCount, "inputs", named);
    InputConfig& in = inputs[static_cast<std::size_t>(input - 1)];
    const std::string where = "inputs." + std::to_string(input);
    r.entries(v, "input " + std::to_string(input), {"enabled", "data_valid", "null_filter", "tsp_error_filter"},
              [&](const std::string& k, const YAML::Node&, const YAML::Node& f) {
                r.mark(where + "." + k, f);
                const bool b = r.boolean(f, k);
                if (k == "enabled") in.enabled = b;
                if (k == "data_valid") in.dataValid = b;
                if (k == "null_filter") in.nullFilter = b;
                if (k == "tsp_error_filter") in.tspErrorFilter = b;
              });
  });
  for (int i = 1; i <= kInputCount; ++i)
    if (named.count(i) == 0)
      r.fail(n.Mark(), "inputs wants all six inputs (one instruction sets them together); input " +
                           std::to_string(i) + " is missing");
  return inputs;
}

OutputConfig readOutput(Reader& r, const YAML::Node& n) {
  OutputConfig out;
  r.entries(n, "output", {"format", "clock", "priority", "nco_hz", "pll_hz"},
            [&](const std::string& k, const YAML::Node&, const YAML::Node& v) {
              r.mark("output." + k, v);
              if (k == "format") out.packetSize = r.int32(v, k);
              if (k == "nco_hz") out.ncoHz = r.int32(v, k);
              if (k == "pll_hz") out.pllHz = r.int32(v, k);
              if (k == "priority") {
                const std::string s = r.scalar(v, k);
                if (s != "high" && s != "normal") r.fail(v.Mark(), "priority wants high or normal, not '" + s + "'");
                out.highPriority = s == "high";
              }
              if (k == "clock") {
                const std::string s = r.scalar(v, k);
                const int source = clockSourceFromName(s);
                if (source < 0)
                  r.fail(v.Mark(), "clock wants nco, pll, input1..input6 or external, not '" + s + "'");
                out.clockSource = source;
              }
            });
  return out;
}

std::map<int, SectorConfig> readSectors(Reader& r, const YAML::Node& n) {
  std::map<int, SectorConfig> sectors;
  std::set<int> named;
  r.entries(n, "sdram_sectors", {}, [&](const std::string&, const YAML::Node& key, const YAML::Node& v) {
    const int sector = r.numbered(key, "a sector", kSectorCount, "sdram_sectors", named);
    const std::string where = "sdram_sectors." + std::to_string(sector);
    r.mark(where, key);
    SectorConfig& s = sectors[sector];
    r.entries(v, "sector " + std::to_string(sector), {"enabled", "start", "end"},
              [&](const std::string& k, const YAML::Node&, const YAML::Node& f) {
                r.mark(where + "." + k, f);
                if (k == "enabled") s.enabled = r.boolean(f, k);
                if (k == "start") s.start = r.int32(f, k);
                if (k == "end") s.end = r.int32(f, k);
              });
  });
  return sectors;
}

PcrCorrectorConfig readPcr(Reader& r, const YAML::Node& n) {
  PcrCorrectorConfig pcr;
  r.entries(n, "pcr_corrector", {"mode", "test_pid"}, [&](const std::string& k, const YAML::Node&, const YAML::Node& v) {
    r.mark("pcr_corrector." + k, v);
    if (k == "test_pid") pcr.testPid = r.int32(v, k);
    if (k == "mode") {
      const std::string s = r.scalar(v, k);
      if (s == "off") pcr.mode = PcrMode::Off;
      else if (s == "on") pcr.mode = PcrMode::On;
      else if (s == "direct") pcr.mode = PcrMode::Direct;
      else r.fail(v.Mark(), "mode wants off, on or direct, not '" + s + "'");
    }
  });
  return pcr;
}

std::map<int, std::vector<PidEntry>> readPidFilter(Reader& r, const YAML::Node& n) {
  std::map<int, std::vector<PidEntry>> filter;
  std::set<int> named;
  r.entries(n, "pid_filter", {}, [&](const std::string&, const YAML::Node& key, const YAML::Node& v) {
    const int input = r.numbered(key, "an input", kInputCount, "pid_filter", named);
    auto& entries = filter[input];
    if (!v.IsSequence()) r.fail(v.Mark(), "pid_filter input " + std::to_string(input) + " wants a list such as [{pid: 500}]");
    std::size_t index = 0;
    for (const auto& e : v) {
      const std::string where = "pid_filter." + std::to_string(input) + ".#" + std::to_string(index++);
      r.mark(where, e);
      PidEntry entry;
      bool hasPid = false, hasRemap = false;
      r.entries(e, "a PID filter entry", {"pid", "remap"},
                [&](const std::string& k, const YAML::Node&, const YAML::Node& f) {
                  r.mark(where + "." + k, f);
                  if (k == "pid") entry.pid = r.int32(f, k), hasPid = true;
                  if (k == "remap") entry.outputPid = r.int32(f, k), hasRemap = true;
                });
      if (!hasPid) r.fail(e.Mark(), "a PID filter entry wants pid");
      if (!hasRemap) entry.outputPid = entry.pid;
      entries.push_back(entry);
    }
  });
  if (filter.empty()) r.fail(n.Mark(), "pid_filter names no input (leave it out, or name inputs 1..6)");
  return filter;
}

Bytes readPacket(Reader& r, const YAML::Node& n) {
  const std::string s = r.scalar(n, "packet");
  const auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (s.size() != 2 * kPsiPacketSize || !std::all_of(s.begin(), s.end(), [&](char c) { return digit(c) >= 0; }))
    r.fail(n.Mark(), "packet wants " + std::to_string(kPsiPacketSize) + " bytes as " +
                         std::to_string(2 * kPsiPacketSize) + " hexadecimal digits");
  Bytes out;
  for (std::size_t k = 0; k < s.size(); k += 2)
    out.push_back(static_cast<std::uint8_t>(digit(s[k]) * 16 + digit(s[k + 1])));
  return out;
}

PsiRange readRange(Reader& r, const YAML::Node& n) {
  const std::string s = r.scalar(n, "a range");
  const std::size_t dash = s.find('-', 1);
  YAML::Node first(s.substr(0, dash)), last(dash == std::string::npos ? s : s.substr(dash + 1));
  const auto part = [&](const YAML::Node& p) -> std::int32_t {
    const std::string t = p.Scalar();
    if (t.empty() || t.size() > 9 || !std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; }))
      r.fail(n.Mark(), "a PSI range wants FIRST-LAST in decimal flash addresses, such as 0-4095, not '" + s + "'");
    return static_cast<std::int32_t>(std::stol(t));
  };
  return PsiRange{part(first), part(last)};
}

void readPsi(Reader& r, const YAML::Node& n, Profile& p) {
  bool hasRanges = false;
  r.entries(n, "psi", {"ranges", "records"}, [&](const std::string& k, const YAML::Node&, const YAML::Node& v) {
    r.mark("psi." + k, v);
    if (k == "ranges") {
      hasRanges = true;
      if (!v.IsSequence()) r.fail(v.Mark(), "ranges wants a list such as [0-4095, 8192-8447]");
      std::vector<PsiRange> ranges;
      for (const auto& e : v) {
        r.mark("psi.ranges.#" + std::to_string(ranges.size()), e);
        ranges.push_back(readRange(r, e));
      }
      p.psiRanges = ranges;
    }
    if (k == "records") {
      if (!v.IsSequence()) r.fail(v.Mark(), "records wants a list of {address, timer_ms, auto_cc, packet}");
      for (const auto& e : v) {
        const std::string where = "psi.records.#" + std::to_string(p.psi.size());
        r.mark(where, e);
        PsiRecord rec;
        std::set<std::string> named;
        r.entries(e, "a PSI record", {"address", "timer_ms", "auto_cc", "packet"},
                  [&](const std::string& f, const YAML::Node&, const YAML::Node& fv) {
                    named.insert(f);
                    r.mark(where + "." + f, fv);
                    if (f == "address") rec.address = r.int32(fv, f);
                    if (f == "timer_ms") rec.timerMs = r.int32(fv, f);
                    if (f == "auto_cc") rec.autoCc = r.boolean(fv, f);
                    if (f == "packet") rec.packet = readPacket(r, fv);
                  });
        for (const char* f : {"address", "timer_ms", "packet"})
          if (named.count(f) == 0) r.fail(e.Mark(), std::string("a PSI record wants ") + f);
        p.psi.push_back(rec);
      }
    }
  });
  if (!hasRanges) r.fail(n.Mark(), "psi wants ranges (the flash addresses the profile holds)");
}


const char* boolText(bool b) { return b ? "true" : "false"; }

// Where the stream's first two documents start. yaml-cpp's own LoadAll loops for
// ever on a stream whose document takes no token (a lone ","), so the documents are
// only counted here, stopping at the second; the first is built by YAML::Load.
class DocumentStarts : public YAML::EventHandler {
 public:
  std::vector<YAML::Mark> starts;
  void OnDocumentStart(const YAML::Mark& m) override { starts.push_back(m); }
  void OnDocumentEnd() override {}
  void OnNull(const YAML::Mark&, YAML::anchor_t) override {}
  void OnAlias(const YAML::Mark&, YAML::anchor_t) override {}
  void OnScalar(const YAML::Mark&, const std::string&, YAML::anchor_t, const std::string&) override {}
  void OnSequenceStart(const YAML::Mark&, const std::string&, YAML::anchor_t, YAML::EmitterStyle::value) override {}
  void OnSequenceEnd() override {}
  void OnMapStart(const YAML::Mark&, const std::string&, YAML::anchor_t, YAML::EmitterStyle::value) override {}
  void OnMapEnd() override {}
};

std::vector<YAML::Mark> documentStarts(const std::string& text) {
  std::istringstream in(text);
  YAML::Parser parser(in);
  DocumentStarts h;
  while (h.starts.size() < 2 && parser.HandleNextDocument(h)) {
  }
  return h.starts;
}

}  // namespace

// The user text (8-bit characters) as a double-quoted scalar: quote and backslash
// escaped, control characters as \xNN, the rest of Latin-1 as UTF-8.
std::string quotedText(const std::string& latin1) {
  static const char* hex = "0123456789ABCDEF";
  std::string out = "\"";
  for (const char ch : latin1) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 0x0F];
    } else if (c >= 0xA0) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

Profile parseProfile(const std::string& text, const std::string& path) {
  Marks marks;
  Reader r(path, marks);
  YAML::Node root;
  try {
    const std::vector<YAML::Mark> starts = documentStarts(text);
    if (starts.size() > 1) r.fail(starts[1], "a profile file holds one document");
    root = YAML::Load(text);
  } catch (const YAML::Exception& e) {
    r.fail(e.mark, e.msg);
  }
  if (!root.IsMap()) r.fail(root.Mark(), "a profile is a map of sections, starting with 'profile: 1'");
  Profile p;
  bool versioned = false;
  r.entries(root, "the profile",
            {"profile", "identity", "inputs", "output", "sdram_sectors", "pcr_corrector", "pid_filter", "psi"},
            [&](const std::string& k, const YAML::Node&, const YAML::Node& v) {
              r.mark(k, v);
              if (k == "profile") {
                versioned = true;
                p.version = static_cast<int>(r.integer(v, "profile", INT32_MIN, INT32_MAX));
              }
              if (k == "identity") p.identity = readIdentity(r, v);
              if (k == "inputs") p.inputs = readInputs(r, v);
              if (k == "output") p.output = readOutput(r, v);
              if (k == "sdram_sectors") p.sectors = readSectors(r, v);
              if (k == "pcr_corrector") p.pcrCorrector = readPcr(r, v);
              if (k == "pid_filter") p.pidFilter = readPidFilter(r, v);
              if (k == "psi") readPsi(r, v, p);
            });
  if (!versioned) r.fail(root.Mark(), "'profile: 1' is missing (the format's version)");
  if (const auto problem = firstProblem(p)) {
    // The value's own mark, else the nearest enclosing one.
    std::string where = problem->where;
    auto it = marks.find(where);
    while (it == marks.end() && !where.empty()) {
      const std::size_t dot = where.rfind('.');
      where = dot == std::string::npos ? std::string() : where.substr(0, dot);
      it = marks.find(where);
    }
    r.fail(it == marks.end() ? root.Mark() : it->second, problem->message);
  }
  sortProfile(p);
  return p;
}

Profile loadProfile(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) throw ProfileError(path + ": " + std::strerror(EISDIR));
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ProfileError(path + ": " + std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw ProfileError(path + ": " + std::strerror(errno));
  return parseProfile(text.str(), path);
}

std::string validateProfile(const Profile& p) {
  const auto problem = firstProblem(p);
  return problem ? problem->message : std::string();
}

std::string writeProfile(const Profile& unsorted) {
  Profile p = unsorted;
  sortProfile(p);
  std::ostringstream o;
  o << "# Tessaly board configuration. Sections left out are not part of it.\n";
  o << "profile: " << p.version << "\n";
  if (p.identity) {
    const Identity& id = *p.identity;
    o << "identity: {serial: " << id.serial << ", type: " << id.type << ", user_text: " << quotedText(id.userText)
      << ", sdi_address: " << id.sdiAddress << "}\n";
  }
  if (p.inputs) {
    o << "inputs:\n";
    for (int n = 1; n <= kInputCount; ++n) {
      const InputConfig& in = (*p.inputs)[static_cast<std::size_t>(n - 1)];
      o << "  " << n << ": {enabled: " << boolText(in.enabled) << ", data_valid: " << boolText(in.dataValid)
        << ", null_filter: " << boolText(in.nullFilter) << ", tsp_error_filter: " << boolText(in.tspErrorFilter)
        << "}\n";
    }
  }
  if (p.output) {
    const OutputConfig& out = *p.output;
    o << "output: {format: " << out.packetSize << ", clock: " << clockSourceName(out.clockSource)
      << ", priority: " << (out.highPriority ? "high" : "normal");
    if (out.ncoHz) o << ", nco_hz: " << *out.ncoHz;
    if (out.pllHz) o << ", pll_hz: " << *out.pllHz;
    o << "}\n";
  }
  if (!p.sectors.empty()) {
    o << "sdram_sectors:\n";
    for (const auto& [n, s] : p.sectors)
      o << "  " << n << ": {enabled: " << boolText(s.enabled) << ", start: " << s.start << ", end: " << s.end << "}\n";
  }
  if (p.pcrCorrector)
    o << "pcr_corrector: {mode: " << pcrModeName(p.pcrCorrector->mode) << ", test_pid: " << p.pcrCorrector->testPid
      << "}\n";
  if (!p.pidFilter.empty()) {
    o << "pid_filter:\n";
    for (const auto& [input, entries] : p.pidFilter) {
      o << "  " << input << ":" << (entries.empty() ? " []" : "") << "\n";
      for (const PidEntry& e : entries) {
        o << "    - {pid: " << e.pid;
        if (e.outputPid != e.pid) o << ", remap: " << e.outputPid;
        o << "}\n";
      }
    }
  }
  if (p.psiRanges) {
    o << "psi:\n  ranges: [";
    for (std::size_t k = 0; k < p.psiRanges->size(); ++k)
      o << (k ? ", " : "") << (*p.psiRanges)[k].first << "-" << (*p.psiRanges)[k].last;
    o << "]\n  records:" << (p.psi.empty() ? " []" : "") << "\n";
    static const char* hex = "0123456789abcdef";
    for (const PsiRecord& rec : p.psi) {
      std::string packet;
      for (const std::uint8_t b : rec.packet) {
        packet += hex[b >> 4];
        packet += hex[b & 0x0F];
      }
      o << "    - {address: " << rec.address << ", timer_ms: " << rec.timerMs << ", auto_cc: " << boolText(rec.autoCc)
        << ", packet: \"" << packet << "\"}\n";
    }
  }
  return o.str();
}

}  // namespace tessaly::profile
