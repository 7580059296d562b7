#include "cli/Options.h"

#include <QDir>
#include <QString>
#include <algorithm>
#include <cstdio>

#include "app/IniFile.h"
#include "app/SettingsKeys.h"
#include "link/LinkSettings.h"
#include "text/Numbers.h"

namespace tessaly::cli {

const char* const kHelp =
    "Usage: tessaly-cli [options] COMMAND [arguments]\n"
    "\n"
    "Commands:\n"
    "  query [--json]         read the board's status; text as the panel's information memo,\n"
    "                         or one JSON object of the decoded status\n"
    "                           tessaly-cli --device 10.123.13.101 query --json\n"
    "  set-serial N           set the serial number (0..4294967295)\n"
    "                           tessaly-cli set-serial 56765\n"
    "  set-type N             set the type (0..65535)\n"
    "                           tessaly-cli set-type 4852\n"
    "  reset                  reset the board\n"
    "                           tessaly-cli reset\n"
    "  set-user-text TEXT     set the user text (up to 15 characters)\n"
    "                           tessaly-cli set-user-text \"My UserText\"\n"
    "  set-address N          set the board's SDI address (1..15)\n"
    "                           tessaly-cli --sdi 1 set-address 3\n"
    "  clock --nco HZ | --pll HZ [--source nco|pll|input1..input6|external]\n"
    "        [--format 188|204] [--priority low|high]\n"
    "                         set the output clock and stream format (NCO 120..40500000 Hz,\n"
    "                         PLL 97753..40500000 Hz); with the PLL, prints the PLL search\n"
    "                         report; the source defaults to the one whose frequency is given,\n"
    "                         the format to 188, the priority to low\n"
    "                           tessaly-cli clock --pll 27000000 --format 204\n"
    "  send [--label TEXT] OPCODE[:HEXBYTES]...\n"
    "                         up to five raw instructions in one message, as the panel's\n"
    "                         Instruction Test page sends them; prints the message dump and\n"
    "                         the answer dump (OPCODE: one byte in hex; HEXBYTES: bytes in\n"
    "                         hex, two digits each)\n"
    "                           tessaly-cli send --label \"Serial\" 10:00003039\n"
    "\n"
    "Link options (default: the panel's Settings.ini in the working directory, else the\n"
    "panel's defaults):\n"
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
    "  --                     the end of the options: what follows are arguments\n"
    "                           tessaly-cli set-user-text -- \"-- line 7 --\"\n"
    "  --help                 this text\n"
    "  --version              the version number\n"
    "\n"
    "Exit codes: 0 success; 1 usage error or bad input; 2 no answer in time;\n"
    "3 an answer that is not the expected one; 4 send failure (network).\n";


void out(const std::string& line) { std::fprintf(stdout, "%s\n", line.c_str()); }
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

Options parse(const QStringList& arguments) {
  Options o;
  std::vector<std::string> a;
  for (qsizetype i = 1; i < arguments.size(); ++i) a.push_back(arguments[i].toStdString());
  bool optionsEnd = false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const std::string& s = a[i];
    if (optionsEnd || s == "--") {
      if (optionsEnd) (o.command.empty() ? o.command : o.args.emplace_back()) = s;
      optionsEnd = true;
      continue;
    }
    const auto value = [&]() -> std::string {
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
  }
  return o;
}

QueryTarget linkTarget(const Options& o) {
  const IniFile ini(settingsPath(QDir::currentPath().toStdString()));
  if (!ini.loaded()) err(std::string(kProgram) + ": " + ini.path() + ": " + ini.loadError() + "; the defaults are used");
  const auto readInt = [&ini](const std::string& target) {
    const SettingKey& k = settingKeyFor(target);
    return ini.readInteger(k.section, k.key, readIntOr(k.defaultValue, 0));
  };
  LinkSettings l;
  l.hostPort = readInt(field::MyPort);
  l.devicePort = readInt(field::DevicePort);
  const SettingKey& base = settingKeyFor(field::IPBase);
  l.ipBase = ini.readString(base.section, base.key, base.defaultValue);
  l.ipExtension = std::max(0, std::min(255, readInt("UpDownIP")));
  // A radio index past the last item selects the last; below 0 selects nothing.
  l.framing = readInt("RadioGroupAP") >= 1 ? Framing::DDToIP : Framing::CwNet;
  const std::int32_t sdiIndex = std::min(14, readInt("RadioGroup3"));
  l.sdiAddress = static_cast<std::uint8_t>(sdiIndex < 0 ? 0 : sdiIndex + 1);

  QueryTarget t;
  t.framing = o.framing.value_or(l.framing);
  t.sdiAddress = static_cast<std::uint8_t>(o.sdi.value_or(l.sdiAddress));
  t.deviceIp = o.device.value_or(l.deviceIp());
  t.devicePort = o.devicePort.value_or(l.devicePort);
  t.hostPort = o.hostPort.value_or(l.hostPort);
  return t;
}

}  // namespace tessaly::cli
