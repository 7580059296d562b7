#pragma once
// The client's command line: every option declared once with what it takes (a number
// and its range, a choice, a list of inputs, a file name...), read back typed. Bad
// input throws UsageError with one line that names the option or command.
#include <QStringList>
#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/StatusQuery.h"
#include "link/Framing.h"

namespace tessaly::cli {

constexpr const char* kProgram = "tessaly-cli";

struct UsageError {
  std::string message;
};
// The link cannot be used (exit 4); the message says why.
struct SendError {
  std::string message;
};

// What an option takes after its name.
enum class Takes {
  Nothing,         // a switch
  Number,          // a decimal number lo..hi
  Text,            // any text
  Host,            // a host name or address, not empty
  File,            // a file name, not empty
  Choice,          // one of `choices`: read back as its index
  Inputs,          // inputs 1..6 as "1,3,6", or "none"
  PidOrOff,        // a PID 0..8191, or "off"
  MulticastOrOff,  // a multicast IPv4 address, or "off"
  InputsOrAll,     // inputs 1..6 as "1,3,6", "all" or "none"
  Ranges,          // flash address ranges as "0-4095,8192-8447" (one address: "16"), or "none"
};

struct OptionSpec {
  OptionSpec(const char* n, Takes t, long long low = 0, long long high = 0, std::vector<const char*> c = {},
             const char* notA = "")
      : name(n), takes(t), lo(low), hi(high), choices(std::move(c)), notAChoice(notA) {}
  const char* name;  // "--sdi"
  Takes takes;
  long long lo, hi;                  // Number
  std::vector<const char*> choices;  // Choice
  const char* notAChoice;            // Choice: the error's ending after the value
};

// Every option, in the order a misplaced one is looked for; an option that no
// command lists (see Command.h) belongs to every command.
const std::vector<OptionSpec>& optionSpecs();

// One option as it was read.
struct OptionValue {
  long long number = 0;  // Number, Choice (the index), PidOrOff
  std::string text;      // Text, Host, File, MulticastOrOff
  std::array<bool, 6> inputs{};
  bool off = false;  // PidOrOff, MulticastOrOff: "off"; Ranges: "none"
  std::vector<std::pair<long long, long long>> ranges;  // Ranges: first and last address, ascending, apart
};

// The options given, by name; a later one replaces an earlier one.
class GivenOptions {
 public:
  void set(const std::string& name, OptionValue v) { values_[name] = std::move(v); }
  bool has(std::string_view name) const { return values_.count(std::string(name)) != 0; }
  const OptionValue* find(std::string_view name) const;
  std::optional<long long> number(std::string_view name) const;
  std::optional<std::string> text(std::string_view name) const;
  std::optional<std::array<bool, 6>> inputs(std::string_view name) const;
  std::optional<std::vector<std::pair<long long, long long>>> ranges(std::string_view name) const;

 private:
  std::map<std::string, OptionValue> values_;
};

struct CommandLine {
  GivenOptions options;
  std::string command;
  std::vector<std::string> args;
};

// A plain decimal number lo..hi; anything else throws, naming `what`.
long long number(const std::string& what, const std::string& text, long long lo, long long hi);
// `arguments` as QCoreApplication::arguments() gives them (the program first).
CommandLine parse(const QStringList& arguments);
// The link as the panel would start with it: its Settings.ini in the working
// directory (read only, never written), else its defaults; then the options.
QueryTarget linkTarget(const GivenOptions& o);

void out(const std::string& line);  // one line on standard output
void err(const std::string& line);  // one line on standard error

}  // namespace tessaly::cli
