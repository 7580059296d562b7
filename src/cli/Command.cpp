#include "cli/Command.h"

#include <QDir>
#include <QJsonDocument>

#include "cli/Cli.h"
#include "cli/commands/Commands.h"
#include "settings/SettingsKeys.h"

namespace tessaly::cli {

void JsonOut::print(bool ok, const std::string& reason) {
  if (!on_ || printed_) return;
  printed_ = true;
  QJsonObject j = fields;
  j["ok"] = ok;
  if (!ok) j["reason"] = QString::fromStdString(reason);
  out(QJsonDocument(j).toJson(QJsonDocument::Compact).toStdString());
}

void say(const JsonOut& json, const std::string& line) {
  if (!json.on()) out(line);
}

TrafficTap* Invocation::capture() {
  const auto path = options().text("--capture");
  if (!path) return nullptr;
  std::string why;
  if (!captureFile_.open(*path, &why, settingsPath(QDir::currentPath().toStdString())))
    throw UsageError{"--capture: cannot write '" + *path + "': " + why};
  return &captureFile_;
}

int Invocation::captured(int exitCode) {
  if (captureFile_.close()) return exitCode;
  err(std::string(kProgram) + ": --capture: '" + *options().text("--capture") + "' stopped: " + captureFile_.failure() +
      " (" + std::to_string(captureFile_.written()) + " packets written, " + std::to_string(captureFile_.lost()) +
      " lost)");
  return exitCode == Success ? OutputFailed : exitCode;
}

const std::vector<Command>& commands() {
  static const std::vector<Command> all{
      kQuery,          kSetSerial,       kSetType,        kReset,
      kSetUserText,    kSetAddress,      kClock,          kSend,
      kPidFilterGeneral, kPidFilterErase, kPidFilterWrite, kPidFilterRead,
      kPsiSector,      kPsiErase,        kPsiWrite,       kPsiRead,
      kPcrCorrectorMode, kPcrCorrectorTestPid, kPcrLog,   kMfgTest,
      kScan,           kConfigExport,    kConfigApply,    kConfigDiff,
      kHelp,
  };
  return all;
}

const std::vector<CommandGroup>& commandGroups() {
  static const std::vector<CommandGroup> groups{
      {"pid-filter", "pid-filter general|erase|write|read ..."},
      {"psi", "psi sector|erase|write|read ..."},
      {"pcr-corrector", "pcr-corrector mode off|on|direct | test-pid PID"},
      {"config", "config export|apply|diff ..."},
  };
  return groups;
}

namespace {

const char* const kUsage =
    "Usage: tessaly-cli [options] COMMAND [arguments]\n"
    "       tessaly-cli help [COMMAND]\n";

const char* const kOptionsAndExits =
    "Link options (default: the panel's Settings.ini in the working directory, else the\n"
    "panel's defaults); an option's value may also follow an equals sign (--sdi=2):\n"
    "  --device HOST          the Ethernet controller's IP address or host name\n"
    "                           --device 10.123.13.101\n"
    "  --device-port N        the controller's UDP port (1..65535)\n"
    "                           --device-port 56789\n"
    "  --host-port N          this end's UDP port (0..65535; 0 = any free port)\n"
    "                           --host-port 0\n"
    "  --framing ddtoip|cw-net  the controller's protocol\n"
    "                           --framing ddtoip\n"
    "  --sdi N                the board's SDI address (1..15)\n"
    "                           --sdi 2\n"
    "  --timeout-ms N         wait this long for the answer (1..600000; default 1000)\n"
    "                           --timeout-ms 3000\n"
    "  --capture FILE         write every datagram sent and received to FILE as it flows,\n"
    "                         a capture file (pcap) for Wireshark; exit 1 when it cannot be\n"
    "                         written\n"
    "                           tessaly-cli --capture query.pcap query\n"
    "  --                     the end of the options: what follows are arguments\n"
    "                           tessaly-cli set-user-text -- \"-- line 7 --\"\n"
    "  --help                 this text; after a COMMAND, that command's part of it\n"
    "  --version              the version number\n"
    "\n"
    "Exit codes: 0 success; 1 usage error, bad input or an output that cannot be written;\n"
    "2 no answer in time; 3 an answer that is not the expected one; 4 send failure\n"
    "(network; a host port in use: --host-port 0 picks a free one); 5 a board or\n"
    "profile differs from the profile (config apply, config diff); 6 the command\n"
    "succeeded but its capture file stopped on a write error; 130 (143) ended by\n"
    "SIGINT (SIGTERM), after writing what it had.\n";

}  // namespace

std::string helpText() {
  std::string text = std::string(kUsage) + "\nCommands:\n";
  for (const Command& c : commands()) text += c.help;
  return text + "\n" + kOptionsAndExits;
}

std::string commandHelpText(const std::string& command, const std::string& sub) {
  std::string parts;
  // "pid-filter read": that subcommand's entry; "pid-filter" or an unknown
  // subcommand: every entry of the command.
  for (const Command& c : commands())
    if (!sub.empty() && c.name == command + " " + sub) parts = c.help;
  if (parts.empty())
    for (const Command& c : commands()) {
      const std::string name = c.name;
      if (name == command || name.rfind(command + " ", 0) == 0) parts += c.help;
    }
  if (parts.empty()) throw UsageError{"help: unknown command '" + command + "' (see --help)"};
  return std::string(kUsage) + "\n" + parts + "\nThe link options and exit codes: tessaly-cli --help\n";
}

}  // namespace tessaly::cli
