#pragma once
// One tessaly-cli command: its name, the options it takes, its part of the help and
// its run. Every command is one entry of the table in Commands.cpp; the dispatch,
// the help texts and the check that an option belongs to the command come from it.
#include <QJsonObject>
#include <cstddef>
#include <string>
#include <vector>

#include "capture/CaptureFile.h"
#include "cli/Options.h"

namespace tessaly::cli {

// With --json, standard output holds one JSON object whatever happens: "ok", on a
// failure the "reason" (the line standard error gets), and what the command learned.
class JsonOut {
 public:
  explicit JsonOut(bool on) : on_(on) {}
  bool on() const { return on_; }
  QJsonObject fields;
  // Once per run; later calls are ignored.
  void print(bool ok, const std::string& reason = {});

 private:
  bool on_;
  bool printed_ = false;
};

// What one run of a command has: the command line, its JSON output and its capture file.
class Invocation {
  const CommandLine& line_;

 public:
  explicit Invocation(const CommandLine& line) : line_(line), json(line.options.has("--json")) {}
  const GivenOptions& options() const { return line_.options; }
  const std::vector<std::string>& args() const { return line_.args; }
  const std::string& word() const { return line_.command; }  // the command as typed (no subcommand)
  JsonOut json;

  // The capture file, opened just before the run's endpoint exists (never over the
  // panel's settings file); null without --capture. It outlives the run and is
  // complete when the command returns.
  TrafficTap* capture();
  // The run's exit code once the capture file is closed: a write error on the way is
  // told once, and the exit is not 0.
  int captured(int exitCode);

 private:
  CaptureFile captureFile_;
};

struct Command {
  const char* name;      // "query", or a command and its subcommand: "pid-filter read"
  const char* help;      // its part of the help, as --help lists it
  const char* synopsis;  // the usage an argument error names
  std::size_t args;      // the arguments it takes, a subcommand's name included
  std::vector<const char*> options;  // the options only it (and the others listing them) takes
  int (*run)(Invocation&);           // the exit code; bad input throws UsageError before anything is sent
  bool checksArgs = false;           // run counts the arguments itself (args is ignored)
};

// Every command, in the order the help lists them.
const std::vector<Command>& commands();

// A command with subcommands: its name and the usage a missing or unknown subcommand names.
struct CommandGroup {
  const char* name;
  const char* usage;
};
const std::vector<CommandGroup>& commandGroups();

// The whole help text.
std::string helpText();
// COMMAND's part of the help (SUB: one subcommand's, when it has that one); an
// unknown command throws.
std::string commandHelpText(const std::string& command, const std::string& sub);

// A line of the text report: not printed when the output is JSON.
void say(const JsonOut& json, const std::string& line);

}  // namespace tessaly::cli
