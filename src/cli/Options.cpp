#include "cli/Options.h"

#include <QDir>
#include <QString>
#include <algorithm>
#include <cstdio>

#include "instructions/PageInstructions.h"
#include "link/LinkSettings.h"
#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"
#include "settings/StoredLink.h"

namespace tessaly::cli {

const std::vector<OptionSpec>& optionSpecs() {
  static const std::vector<OptionSpec> specs{
      {"--label", Takes::Text},
      {"--nco", Takes::Number, 120, 40500000},
      {"--pll", Takes::Number, 97753, 40500000},
      // The index is clockSource's number: 0 NCO, 1 PLL, 2..7 TS inputs 1..6, 8 external clock.
      {"--source", Takes::Choice, 0, 0,
       {"nco", "pll", "input1", "input2", "input3", "input4", "input5", "input6", "external"},
       "is none of nco, pll, input1..input6, external"},
      {"--format", Takes::Choice, 0, 0, {"188", "204"}, "is neither 188 nor 204"},
      {"--priority", Takes::Choice, 0, 0, {"low", "high"}, "is neither low nor high"},
      {"--input", Takes::Number, 1, 6},
      {"--pid", Takes::Number, 0, kPidMax},
      {"--remap", Takes::Number, 0, kPidMax},
      {"--enable", Takes::Inputs},
      {"--dv-pin", Takes::Inputs},
      {"--null-filter", Takes::Inputs},
      {"--tsp-filter", Takes::Inputs},
      {"--sector", Takes::Number, 1, 4},
      {"--start", Takes::Number, 0, kFlashAddressMax},
      {"--end", Takes::Number, 0, kFlashAddressMax},
      {"--disabled", Takes::Nothing},
      {"--address", Takes::Number, 0, kFlashAddressMax},
      {"--timer", Takes::Number, 0, kPsiTimerMax},
      // The index is PsiPacketType's number.
      {"--packet", Takes::Choice, 0, 0, {"ascending", "descending", "fix"}, "is none of ascending, descending, fix"},
      {"--fix", Takes::Number, 0, 255},
      {"--auto-cc", Takes::Nothing},
      {"--samples", Takes::Number, 0, 1000000},
      {"--csv", Takes::File},
      {"--append", Takes::Nothing},
      {"--force", Takes::Nothing},
      {"--test-port", Takes::Number, 1, 65535},
      {"--pid1", Takes::PidOrOff},
      {"--pid2", Takes::PidOrOff},
      {"--pid3", Takes::PidOrOff},
      {"--multicast", Takes::MulticastOrOff},
      {"--junit", Takes::File},
      {"--pid-filter", Takes::InputsOrAll},
      {"--psi", Takes::Ranges, 0, kFlashAddressMax},
      {"--with-identity", Takes::Nothing},
      {"--output", Takes::File},
      {"--boards", Takes::File},
      {"--json", Takes::Nothing},
      // The link and the program: every command's.
      {"--help", Takes::Nothing},
      {"--version", Takes::Nothing},
      {"--device", Takes::Host},
      {"--device-port", Takes::Number, 1, 65535},
      {"--host-port", Takes::Number, 0, 65535},
      // The index is Framing's number.
      {"--framing", Takes::Choice, 0, 0, {"cw-net", "ddtoip"}, "is neither ddtoip nor cw-net"},
      {"--sdi", Takes::Number, 1, 15},
      {"--timeout-ms", Takes::Number, 1, 600000},
      {"--capture", Takes::File},
  };
  return specs;
}

const OptionValue* GivenOptions::find(std::string_view name) const {
  const auto i = values_.find(std::string(name));
  return i == values_.end() ? nullptr : &i->second;
}
std::optional<long long> GivenOptions::number(std::string_view name) const {
  const OptionValue* v = find(name);
  return v ? std::optional<long long>(v->number) : std::nullopt;
}
std::optional<std::string> GivenOptions::text(std::string_view name) const {
  const OptionValue* v = find(name);
  return v ? std::optional<std::string>(v->text) : std::nullopt;
}
std::optional<std::array<bool, 6>> GivenOptions::inputs(std::string_view name) const {
  const OptionValue* v = find(name);
  return v ? std::optional<std::array<bool, 6>>(v->inputs) : std::nullopt;
}
std::optional<std::vector<std::pair<long long, long long>>> GivenOptions::ranges(std::string_view name) const {
  const OptionValue* v = find(name);
  if (!v || v->off) return std::nullopt;
  return v->ranges;
}

void out(const std::string& line) {
  std::fprintf(stdout, "%s\n", line.c_str());
  // Each line as it happens, also into a pipe: long runs can be followed.
  std::fflush(stdout);
}
void err(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

long long number(const std::string& what, const std::string& text, long long lo, long long hi) {
  bool digits = !text.empty();
  for (const char c : text) digits = digits && c >= '0' && c <= '9';
  if (!digits) throw UsageError{what + ": '" + text + "' is not a number"};
  const std::size_t first = std::min(text.find_first_not_of('0'), text.size() - 1);
  const long long v = text.size() - first > 12 ? hi + 1 : std::stoll(text.substr(first));
  if (v < lo || v > hi)
    throw UsageError{what + ": " + text + " is out of range (" + std::to_string(lo) + ".." + std::to_string(hi) + ")"};
  return v;
}

namespace {

// "1,3,6": the inputs named, each 1..6; "none" names none.
std::array<bool, 6> inputList(const std::string& what, const std::string& text) {
  std::array<bool, 6> on{};
  if (text == "none") return on;
  std::size_t at = 0;
  while (true) {
    const std::size_t comma = text.find(',', at);
    const std::string item = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    if (item.empty()) throw UsageError{what + ": '" + text + "' is not a list of inputs 1..6 (e.g. 1,3,6 or none)"};
    on[static_cast<std::size_t>(number(what, item, 1, 6) - 1)] = true;
    if (comma == std::string::npos) return on;
    at = comma + 1;
  }
}

// "0-4095,8192-8447": ranges of lo..hi, each first not after its last, in ascending
// order and apart; "16" is the one address.
std::vector<std::pair<long long, long long>> rangeList(const std::string& what, const std::string& text, long long lo,
                                                       long long hi) {
  std::vector<std::pair<long long, long long>> out;
  std::size_t at = 0;
  while (true) {
    const std::size_t comma = text.find(',', at);
    const std::string item = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    const std::size_t dash = item.find('-');
    if (item.empty() || dash == 0 || dash + 1 == item.size())
      throw UsageError{what + ": '" + text + "' is not a list of ranges (e.g. 0-4095,8192-8447 or none)"};
    const long long first = number(what, item.substr(0, dash), lo, hi);
    const long long last = dash == std::string::npos ? first : number(what, item.substr(dash + 1), lo, hi);
    if (first > last) throw UsageError{what + ": " + item + ": the first address is after the last"};
    if (!out.empty() && first <= out.back().second)
      throw UsageError{what + ": " + item + ": the ranges must ascend without overlapping"};
    out.emplace_back(first, last);
    if (comma == std::string::npos) return out;
    at = comma + 1;
  }
}

// A dotted IPv4 address A.B.C.D, each part 0..255.
std::string ipv4(const std::string& what, const std::string& text) {
  int parts = 0;
  std::size_t at = 0;
  while (true) {
    const std::size_t dot = text.find('.', at);
    const std::string part = text.substr(at, dot == std::string::npos ? std::string::npos : dot - at);
    bool digits = !part.empty() && part.size() <= 3;
    for (const char c : part) digits = digits && c >= '0' && c <= '9';
    if (!digits || std::stoi(part) > 255 || ++parts > 4)
      throw UsageError{what + ": '" + text + "' is not an IPv4 address A.B.C.D"};
    if (dot == std::string::npos) break;
    at = dot + 1;
  }
  if (parts != 4) throw UsageError{what + ": '" + text + "' is not an IPv4 address A.B.C.D"};
  return text;
}

// A multicast group: an IPv4 address in 224.0.0.0/4, 224.0.0.0..239.255.255.255.
std::string multicastIpv4(const std::string& what, const std::string& text) {
  ipv4(what, text);
  const int first = std::stoi(text.substr(0, text.find('.')));
  if (first < 224 || first > 239)
    throw UsageError{what + ": '" + text + "' is not a multicast address (224.0.0.0..239.255.255.255)"};
  return text;
}

// `v`, the value given to option `s`, read as its declaration says.
OptionValue readValue(const OptionSpec& spec, const std::string& s, const std::string& v) {
  OptionValue r;
  switch (spec.takes) {
    case Takes::Nothing:
      break;
    case Takes::Number:
      r.number = number(s, v, spec.lo, spec.hi);
      break;
    case Takes::Text:
      r.text = v;
      break;
    case Takes::Host:
      if (v.empty()) throw UsageError{s + ": empty host"};
      r.text = v;
      break;
    case Takes::File:
      if (v.empty()) throw UsageError{s + ": empty file name"};
      r.text = v;
      break;
    case Takes::Choice: {
      const auto at = std::find(spec.choices.begin(), spec.choices.end(), v);
      if (at == spec.choices.end()) throw UsageError{s + ": '" + v + "' " + spec.notAChoice};
      r.number = at - spec.choices.begin();
      break;
    }
    case Takes::Inputs:
      r.inputs = inputList(s, v);
      break;
    case Takes::PidOrOff:
      r.off = v == "off";
      if (!r.off) r.number = number(s, v, 0, kPidMax);
      break;
    case Takes::MulticastOrOff:
      r.off = v == "off";
      if (!r.off) r.text = multicastIpv4(s, v);
      break;
    case Takes::InputsOrAll:
      if (v == "all")
        r.inputs.fill(true);
      else
        r.inputs = inputList(s, v);
      break;
    case Takes::Ranges:
      r.off = v == "none";
      if (!r.off) r.ranges = rangeList(s, v, spec.lo, spec.hi);
      break;
  }
  return r;
}

const OptionSpec* findSpec(const std::string& name) {
  for (const OptionSpec& o : optionSpecs())
    if (name == o.name) return &o;
  return nullptr;
}

// A word that is not an option: the command, or the next argument.
void positional(CommandLine& line, const std::string& word) {
  (line.command.empty() ? line.command : line.args.emplace_back()) = word;
}

}  // namespace

CommandLine parse(const QStringList& arguments) {
  CommandLine line;
  std::vector<std::string> a;
  for (qsizetype i = 1; i < arguments.size(); ++i) a.push_back(arguments[i].toStdString());
  bool optionsEnd = false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (optionsEnd || a[i] == "--") {
      if (optionsEnd) positional(line, a[i]);
      optionsEnd = true;
      continue;
    }
    // "--name=value" is "--name value".
    std::string s = a[i];
    std::optional<std::string> attached;
    if (s.size() > 2 && s.compare(0, 2, "--") == 0 && s.find('=') != std::string::npos) {
      attached = s.substr(s.find('=') + 1);
      s.erase(s.find('='));
    }
    const OptionSpec* spec = findSpec(s == "-h" ? "--help" : s == "-o" ? "--output" : s);
    if (!spec) {
      // A negative number ("-5") is an argument, for its command to refuse.
      if (s.size() > 1 && s[0] == '-' && !(s[1] >= '0' && s[1] <= '9')) throw UsageError{s + ": unknown option"};
      positional(line, s);
      continue;
    }
    if (spec->takes == Takes::Nothing) {
      if (attached) throw UsageError{s + ": takes no value"};
      line.options.set(spec->name, {});
      continue;
    }
    if (!attached && i + 1 >= a.size()) throw UsageError{s + ": missing value"};
    line.options.set(spec->name, readValue(*spec, s, attached ? *attached : a[++i]));
  }
  return line;
}

QueryTarget linkTarget(const GivenOptions& o) {
  const IniFile ini(settingsPath(QDir::currentPath().toStdString()));
  if (!ini.loaded()) err(std::string(kProgram) + ": " + ini.path() + ": " + ini.loadError() + "; the defaults are used");
  const LinkSettings l = readLinkSettings(ini);

  QueryTarget t;
  t.framing = o.has("--framing") ? static_cast<Framing>(*o.number("--framing")) : l.framing;
  t.sdiAddress = static_cast<std::uint8_t>(o.number("--sdi").value_or(l.sdiAddress));
  t.deviceIp = o.text("--device").value_or(l.deviceIp());
  t.devicePort = static_cast<int>(o.number("--device-port").value_or(l.devicePort));
  t.hostPort = static_cast<int>(o.number("--host-port").value_or(l.hostPort));
  return t;
}

}  // namespace tessaly::cli
