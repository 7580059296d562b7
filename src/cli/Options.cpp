#include "cli/Options.h"

#include <QDir>
#include <QString>
#include <algorithm>
#include <cstdio>

#include "settings/IniFile.h"
#include "settings/SettingsKeys.h"
#include "settings/StoredLink.h"
#include "instructions/PageInstructions.h"
#include "link/LinkSettings.h"
#include "text/Numbers.h"

namespace tessaly::cli {

namespace {

const char* const kUsage =
    "Usage: tessaly-cli [options] COMMAND [arguments]\n"
    "       tessaly-cli help [COMMAND]\n";

// Each command's part of the help, in the order the whole text lists them; `name` is
// the command, or the command and its subcommand.
struct CommandHelp {
  const char* name;
  const char* text;
};
const CommandHelp kCommands[] = {
    {"query",
     "  query [--json]         read the board's status; text as the panel's information memo,\n"
     "                         or one JSON object of the decoded status (also when it fails:\n"
     "                         \"ok\": false, the \"reason\" and what the answer held)\n"
     "                           tessaly-cli --device 10.123.13.101 query --json\n"},
    {"set-serial",
     "  set-serial N           set the serial number (0..4294967295)\n"
     "                           tessaly-cli set-serial 56765\n"},
    {"set-type",
     "  set-type N             set the type (0..65535)\n"
     "                           tessaly-cli set-type 4852\n"},
    {"reset",
     "  reset                  reset the board\n"
     "                           tessaly-cli reset\n"},
    {"set-user-text",
     "  set-user-text TEXT     set the user text (up to 15 characters, each one Latin-1 holds)\n"
     "                           tessaly-cli set-user-text \"My UserText\"\n"},
    {"set-address",
     "  set-address N          set the board's SDI address (1..15)\n"
     "                           tessaly-cli --sdi 1 set-address 3\n"},
    {"clock",
     "  clock --nco HZ | --pll HZ [--source nco|pll|input1..input6|external]\n"
     "        [--format 188|204] [--priority low|high] [--json]\n"
     "                         set the output clock and stream format (NCO 120..40500000 Hz,\n"
     "                         PLL 97753..40500000 Hz; one of the two); with the PLL, prints\n"
     "                         the PLL search report (--json: one JSON object with the\n"
     "                         search's figures); the source defaults to the one whose\n"
     "                         frequency is given, the format to 188, the priority to low\n"
     "                           tessaly-cli clock --pll 27000000 --format 204\n"},
    {"send",
     "  send [--label TEXT] OPCODE[:HEXBYTES]...\n"
     "                         up to five raw instructions in one message, as the panel's\n"
     "                         Instruction Test page sends them; prints the message dump and\n"
     "                         the answer dump (OPCODE: one byte in hex; HEXBYTES: bytes in\n"
     "                         hex, two digits each)\n"
     "                           tessaly-cli send --label \"Serial\" 10:00003039\n"},
    {"pid-filter general",
     "  pid-filter general --enable LIST [--dv-pin LIST] [--null-filter LIST] [--tsp-filter LIST]\n"
     "                         set the inputs' general filter; LIST names inputs 1..6 (1,3,6)\n"
     "                         or none; the instruction sets all six inputs, unnamed ones off\n"
     "                           tessaly-cli pid-filter general --enable 1,2 --null-filter 1\n"},
    {"pid-filter erase",
     "  pid-filter erase       erase the PID filter\n"
     "                           tessaly-cli pid-filter erase\n"},
    {"pid-filter write",
     "  pid-filter write --input N --pid PID [--remap PID]\n"
     "                         enable PID (0..8191) of input N (1..6), under PID or the remap PID\n"
     "                           tessaly-cli pid-filter write --input 2 --pid 496 --remap 777\n"},
    {"pid-filter read",
     "  pid-filter read --input N --pid PID [--json]\n"
     "                         read back the filter entries of input N from PID rounded down to\n"
     "                         a multiple of 8 (the read instruction, then a Query); --json:\n"
     "                         one JSON object with the entries as numbers\n"
     "                           tessaly-cli pid-filter read --input 1 --pid 496\n"},
    {"psi sector",
     "  psi sector --sector 1..4 --start ADDR --end ADDR [--disabled]\n"
     "                         set a sector of the packet buffer (ADDR 0..131071, the start\n"
     "                         not after the end)\n"
     "                           tessaly-cli psi sector --sector 1 --start 0 --end 4095\n"},
    {"psi erase",
     "  psi erase              erase the PSI inserter's flash\n"
     "                           tessaly-cli psi erase\n"},
    {"psi write",
     "  psi write [--pid PID] [--address ADDR] [--timer N] [--packet ascending|descending|fix]\n"
     "        [--fix B] [--auto-cc]\n"
     "                         write a test packet (defaults: PID 1000, address 0, timer 10\n"
     "                         (0..16777215), ascending, fix byte 15 (0..255))\n"
     "                           tessaly-cli psi write --pid 100 --address 16 --packet fix --fix 255\n"},
    {"psi read",
     "  psi read --address ADDR [--json]\n"
     "                         read back the flash at ADDR (the read instruction, then a Query);\n"
     "                         --json: one JSON object with the 256 bytes as numbers\n"
     "                           tessaly-cli psi read --address 16\n"},
    {"pcr-corrector mode",
     "  pcr-corrector mode off|on|direct\n"
     "                         switch the PCR corrector off, on, or on with direct re-stamping\n"
     "                           tessaly-cli pcr-corrector mode on\n"},
    {"pcr-corrector test-pid",
     "  pcr-corrector test-pid PID\n"
     "                         set the corrector's test PID (0..8191)\n"
     "                           tessaly-cli pcr-corrector test-pid 1000\n"},
    {"pcr-log",
     "  pcr-log --samples N [--csv FILE|-] [--append | --force]\n"
     "                         poll the status as the PCR chart does (about once a second) and\n"
     "                         print a CSV header and one line per request (N 1..1000000, or 0\n"
     "                         to run until stopped): time (UTC, ISO 8601 with ms), sample,\n"
     "                         slide, COR, base error (and in ms), PCR PIDs, new PCR PIDs, PCR\n"
     "                         discontinuities, large PCR errors, error; a request without a\n"
     "                         valid answer gives a line with empty figures and its reason in\n"
     "                         the error column; each line is written as it comes, also to\n"
     "                         FILE (- for standard output only); an existing FILE is refused\n"
     "                         unless --append adds to it (the header only into an empty file)\n"
     "                         or --force replaces it; a write error ends the log with exit 1;\n"
     "                         exit 2 (3) when no request got a (valid) answer\n"
     "                           tessaly-cli pcr-log --samples 60 --csv pcr.csv\n"},
    {"mfg-test",
     "  mfg-test [--test-port N] [--pid1 PID|off] [--pid2 PID|off] [--pid3 PID|off]\n"
     "        [--multicast A.B.C.D|off] [--junit FILE] [--json]\n"
     "                         the manufacturer test run, printing each step and message as it\n"
     "                         runs (defaults as the panel's page: port 58100, PIDs 150, 151,\n"
     "                         160, multicast 239.123.13.100; a multicast address is one of\n"
     "                         224.0.0.0..239.255.255.255); --junit writes a JUnit XML report\n"
     "                         named after the board (serial, SDI address, controller), one test\n"
     "                         case per step, replacing FILE only once it is whole; --json\n"
     "                         prints one JSON object of the run and its steps instead of the\n"
     "                         running lines; exit 3 when a step fails\n"
     "                           tessaly-cli mfg-test --test-port 58100 --junit mfg.xml\n"},
    {"help",
     "  help [COMMAND]         this text, or COMMAND's part of it (as COMMAND --help)\n"
     "                           tessaly-cli help pid-filter\n"},
};

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
    "(network; a host port in use: --host-port 0 picks a free one); 5 the command\n"
    "succeeded but its capture file stopped on a write error; 130 (143) ended by\n"
    "SIGINT (SIGTERM), after writing what it had.\n";

}  // namespace

std::string helpText() {
  std::string text = std::string(kUsage) + "\nCommands:\n";
  for (const CommandHelp& c : kCommands) text += c.text;
  return text + "\n" + kOptionsAndExits;
}

std::string commandHelpText(const std::string& command, const std::string& sub) {
  std::string parts;
  // "pid-filter read": that subcommand's entry; "pid-filter" or an unknown
  // subcommand: every entry of the command.
  for (const CommandHelp& c : kCommands)
    if (!sub.empty() && c.name == command + " " + sub) parts = c.text;
  if (parts.empty())
    for (const CommandHelp& c : kCommands) {
      const std::string name = c.name;
      if (name == command || name.rfind(command + " ", 0) == 0) parts += c.text;
    }
  if (parts.empty()) throw UsageError{"help: unknown command '" + command + "' (see --help)"};
  return std::string(kUsage) + "\n" + parts + "\nThe link options and exit codes: tessaly-cli --help\n";
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

}  // namespace

Options parse(const QStringList& arguments) {
  Options o;
  std::vector<std::string> a;
  for (qsizetype i = 1; i < arguments.size(); ++i) a.push_back(arguments[i].toStdString());
  bool optionsEnd = false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (optionsEnd || a[i] == "--") {
      if (optionsEnd) (o.command.empty() ? o.command : o.args.emplace_back()) = a[i];
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
    bool valueTaken = false;
    const auto value = [&]() -> std::string {
      valueTaken = true;
      if (attached) return *attached;
      if (i + 1 >= a.size()) throw UsageError{s + ": missing value"};
      return a[++i];
    };
    if (s == "--help" || s == "-h") {
      o.help = true;
    } else if (s == "--version") {
      o.version = true;
    } else if (s == "--json") {
      o.json = true;
    } else if (s == "--device") {
      o.device = value();
      if (o.device->empty()) throw UsageError{"--device: empty host"};
    } else if (s == "--device-port") {
      o.devicePort = static_cast<int>(number(s, value(), 1, 65535));
    } else if (s == "--host-port") {
      o.hostPort = static_cast<int>(number(s, value(), 0, 65535));
    } else if (s == "--framing") {
      const std::string v = value();
      if (v == "ddtoip")
        o.framing = Framing::DDToIP;
      else if (v == "cw-net")
        o.framing = Framing::CwNet;
      else
        throw UsageError{"--framing: '" + v + "' is neither ddtoip nor cw-net"};
    } else if (s == "--sdi") {
      o.sdi = static_cast<int>(number(s, value(), 1, 15));
    } else if (s == "--nco") {
      o.nco = std::to_string(number(s, value(), 120, 40500000));
    } else if (s == "--pll") {
      o.pll = std::to_string(number(s, value(), 97753, 40500000));
    } else if (s == "--source") {
      const std::string v = value();
      const char* const names[] = {"nco", "pll", "input1", "input2", "input3", "input4", "input5", "input6", "external"};
      for (int i = 0; i < 9; ++i)
        if (v == names[i]) o.source = i;
      if (!o.source) throw UsageError{"--source: '" + v + "' is none of nco, pll, input1..input6, external"};
    } else if (s == "--format") {
      const std::string v = value();
      if (v != "188" && v != "204") throw UsageError{"--format: '" + v + "' is neither 188 nor 204"};
      o.format = v == "188" ? 0 : 1;
    } else if (s == "--priority") {
      const std::string v = value();
      if (v != "low" && v != "high") throw UsageError{"--priority: '" + v + "' is neither low nor high"};
      o.priority = v == "low" ? 0 : 1;
    } else if (s == "--input") {
      o.input = static_cast<int>(number(s, value(), 1, 6));
    } else if (s == "--pid" || s == "--remap") {
      (s == "--pid" ? o.pid : o.remap) = std::to_string(number(s, value(), 0, kPidMax));
    } else if (s == "--enable" || s == "--dv-pin" || s == "--null-filter" || s == "--tsp-filter") {
      auto& list = s == "--enable" ? o.enable : s == "--dv-pin" ? o.dvPin : s == "--null-filter" ? o.nullFilter : o.tspFilter;
      list = inputList(s, value());
    } else if (s == "--sector") {
      o.sector = static_cast<int>(number(s, value(), 1, 4));
    } else if (s == "--start" || s == "--end" || s == "--address") {
      (s == "--start" ? o.start : s == "--end" ? o.end : o.address) = std::to_string(number(s, value(), 0, kFlashAddressMax));
    } else if (s == "--timer") {
      o.timer = std::to_string(number(s, value(), 0, kPsiTimerMax));
    } else if (s == "--packet") {
      const std::string v = value();
      if (v == "ascending") o.packet = 0;
      else if (v == "descending") o.packet = 1;
      else if (v == "fix") o.packet = 2;
      else throw UsageError{"--packet: '" + v + "' is none of ascending, descending, fix"};
    } else if (s == "--fix") {
      o.fix = std::to_string(number(s, value(), 0, 255));
    } else if (s == "--disabled") {
      o.disabled = true;
    } else if (s == "--auto-cc") {
      o.autoCc = true;
    } else if (s == "--samples") {
      o.samples = static_cast<int>(number(s, value(), 0, 1000000));
    } else if (s == "--append") {
      o.append = true;
    } else if (s == "--force") {
      o.force = true;
    } else if (s == "--csv" || s == "--junit" || s == "--capture") {
      const std::string v = value();
      if (v.empty()) throw UsageError{s + ": empty file name"};
      (s == "--csv" ? o.csv : s == "--junit" ? o.junit : o.capture) = v;
    } else if (s == "--test-port") {
      o.testPort = std::to_string(number(s, value(), 1, 65535));
    } else if (s == "--pid1" || s == "--pid2" || s == "--pid3") {
      const std::string v = value();
      (s == "--pid1" ? o.pid1 : s == "--pid2" ? o.pid2 : o.pid3) = v == "off" ? v : std::to_string(number(s, v, 0, kPidMax));
    } else if (s == "--multicast") {
      const std::string v = value();
      o.multicast = v == "off" ? v : multicastIpv4(s, v);
    } else if (s == "--label") {
      o.label = value();
    } else if (s == "--timeout-ms") {
      o.timeoutMs = static_cast<int>(number(s, value(), 1, 600000));
    } else if (s.size() > 1 && s[0] == '-' && !(s[1] >= '0' && s[1] <= '9')) {
      throw UsageError{s + ": unknown option"};
    } else if (o.command.empty()) {
      o.command = s;
    } else {
      o.args.push_back(s);
    }
    if (attached && !valueTaken) throw UsageError{s + ": takes no value"};
  }
  return o;
}

QueryTarget linkTarget(const Options& o) {
  const IniFile ini(settingsPath(QDir::currentPath().toStdString()));
  if (!ini.loaded()) err(std::string(kProgram) + ": " + ini.path() + ": " + ini.loadError() + "; the defaults are used");
  const LinkSettings l = readLinkSettings(ini);

  QueryTarget t;
  t.framing = o.framing.value_or(l.framing);
  t.sdiAddress = static_cast<std::uint8_t>(o.sdi.value_or(l.sdiAddress));
  t.deviceIp = o.device.value_or(l.deviceIp());
  t.devicePort = o.devicePort.value_or(l.devicePort);
  t.hostPort = o.hostPort.value_or(l.hostPort);
  return t;
}

}  // namespace tessaly::cli
