#include "cli/Cli.h"

#include <string>

#include "cli/Command.h"
#include "cli/Options.h"
#include "link/qt/StopSignal.h"
#include "cli/commands/Commands.h"

namespace tessaly::cli {
namespace {

// Each option belongs to the commands that list it (and subcommands); elsewhere it is
// an error naming them. An option no command lists is every command's.
void checkOptionsBelong(const CommandLine& line) {
  const std::string sub = line.args.empty() ? std::string() : line.args[0];
  const std::string where = line.command + (sub.empty() ? "" : " " + sub);
  for (const OptionSpec& spec : optionSpecs()) {
    if (!line.options.has(spec.name)) continue;
    std::string places;
    bool fits = false;
    for (const Command& c : commands())
      for (const char* name : c.options)
        if (std::string(name) == spec.name) {
          places += (places.empty() ? "" : ", ") + std::string(c.name);
          fits = fits || where == c.name || line.command == c.name;
        }
    if (!places.empty() && !fits) throw UsageError{std::string(spec.name) + ": only for " + places};
  }
}

// The command the words name: a command, or a command group and its subcommand.
const Command& commandFor(const CommandLine& line) {
  const std::string& word = line.command;
  for (const CommandGroup& g : commandGroups()) {
    if (word != g.name) continue;
    const std::string sub = line.args.empty() ? std::string() : line.args[0];
    for (const Command& c : commands())
      if (!sub.empty() && c.name == word + " " + sub) return c;
    throw UsageError{sub.empty() ? word + ": missing subcommand (usage: " + g.usage + ")"
                                 : word + ": unknown subcommand '" + sub + "' (usage: " + g.usage + ")"};
  }
  for (const Command& c : commands())
    if (c.name == word) return c;
  throw UsageError{"unknown command '" + word + "' (see --help)"};
}

void expectArgs(const CommandLine& line, const Command& c) {
  if (line.args.size() < c.args)
    throw UsageError{line.command + ": missing argument (usage: " + c.synopsis + ")"};
  if (line.args.size() > c.args) throw UsageError{line.command + ": unexpected argument '" + line.args[c.args] + "'"};
}

int dispatch(const CommandLine& line) {
  if (line.options.has("--help") || line.command == "help") {
    Invocation inv(line);
    return kHelp.run(inv);
  }
  if (line.options.has("--version")) {
    out(std::string(kProgram) + " " + TESSALY_VERSION);
    return Success;
  }
  if (line.command.empty()) throw UsageError{"no command (see --help)"};
  checkOptionsBelong(line);
  const Command& c = commandFor(line);
  if (!c.checksArgs) expectArgs(line, c);
  Invocation inv(line);
  return c.run(inv);
}

}  // namespace

int run(const QStringList& arguments) {
  // SIGINT and SIGTERM end every command the same way: what it has is written, then 130 or 143.
  // A write blocked on a stalled reader returns, so the run can end.
  catchStopSignals(InterruptedCalls::Fail);
  int code = Usage;
  try {
    code = dispatch(parse(arguments));
  } catch (const UsageError& e) {
    err(std::string(kProgram) + ": " + e.message);
    return Usage;
  } catch (const SendError& e) {
    err(std::string(kProgram) + ": " + e.message);
    return SendFailed;
  }
  return stopSignal() ? stopExitCode(stopSignal()) : code;
}

}  // namespace tessaly::cli
