// help [COMMAND [SUBCOMMAND]], and --help anywhere: the help texts the commands declare.
#include <cstdio>

#include "cli/Cli.h"
#include "cli/commands/Commands.h"

namespace tessaly::cli {
namespace {

// Also for "COMMAND --help": then the word is that command, the arguments its own.
int help(Invocation& inv) {
  const auto& args = inv.args();
  const bool named = inv.word() == "help";
  if (named && args.size() > 2) throw UsageError{"help: unexpected argument '" + args[2] + "'"};
  if (inv.word().empty() || (named && args.empty()))
    std::fputs(helpText().c_str(), stdout);
  else if (named)
    std::fputs(commandHelpText(args[0], args.size() > 1 ? args[1] : std::string()).c_str(), stdout);
  else
    std::fputs(commandHelpText(inv.word(), args.empty() ? std::string() : args[0]).c_str(), stdout);
  return Success;
}

}  // namespace

const Command kHelp{
    "help",
    "  help [COMMAND]         this text, or COMMAND's part of it (as COMMAND --help)\n"
    "                           tessaly-cli help pid-filter\n",
    "help [COMMAND]",
    0,
    {},
    help,
    true};

}  // namespace tessaly::cli
