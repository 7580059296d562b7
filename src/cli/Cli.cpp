#include "cli/Cli.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/IniFile.h"
#include "app/SettingsKeys.h"
#include "app/StatusQuery.h"
#include "instructions/GeneralInstructions.h"
#include "instructions/InstructionTest.h"
#include "instructions/NoticeWait.h"
#include "instructions/PageInstructions.h"
#include "link/Engine.h"
#include "link/LinkSettings.h"
#include "link/ui/QtTimer.h"
#include "link/ui/QtUdpEndpoint.h"
#include "protocol/Protocol.h"
#include "status/Decode.h"
#include "status/StatusReport.h"
#include "text/Numbers.h"

namespace tessaly::cli {
namespace {

constexpr const char* kProgram = "tessaly-cli";

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

struct UsageError {
  std::string message;
};

struct Options {
  std::optional<std::string> device;
  std::optional<int> devicePort;
  std::optional<int> hostPort;
  std::optional<Framing> framing;
  std::optional<int> sdi;
  std::optional<int> timeoutMs;
  std::optional<std::string> label;
  // clock
  std::optional<std::string> nco;
  std::optional<std::string> pll;
  std::optional<int> source;    // 0 NCO, 1 PLL, 2..7 TS inputs 1..6, 8 external clock
  std::optional<int> format;    // 0 "188", 1 "204"
  std::optional<int> priority;  // 0 low, 1 high
  bool json = false;
  bool help = false;
  bool version = false;
  std::string command;
  std::vector<std::string> args;
};

void out(const std::string& line) { std::fprintf(stdout, "%s\n", line.c_str()); }
void err(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

// A plain decimal number lo..hi; anything else names the option.
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

// The link as the panel would start with it: its Settings.ini in the working
// directory (read only, never written), else its defaults; then the options.
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

// The engine on the Qt timer and UDP endpoint, and the loop that waits for its end.
class Session {
 public:
  explicit Session(const QueryTarget& t) : target_(t), engine_(timer_, endpoint_) { endpoint_.setLocalPort(t.hostPort); }
  TransactionEngine& engine() { return engine_; }
  const QueryTarget& target() const { return target_; }
  void finish(int code) {
    if (done_) return;
    done_ = true;
    code_ = code;
    loop_.exit(code);
  }
  int wait() {
    if (!done_) loop_.exec();
    engine_.abort();
    return code_;
  }

 private:
  QueryTarget target_;
  QtTimer timer_;
  QtUdpEndpoint endpoint_;
  TransactionEngine engine_;
  QEventLoop loop_;
  bool done_ = false;
  int code_ = Success;
};

QJsonObject statusJson(const tZODADevice& d) {
  const auto bit = [](std::uint32_t v, int b) { return ((v >> b) & 1U) != 0; };
  QJsonArray inputs;
  for (int n = 1; n <= 6; ++n) {
    const auto i = static_cast<std::size_t>(n);
    const std::uint32_t w = d.InputStatus[i];
    QJsonObject in;
    in["number"] = n;
    in["enabled"] = bit(d.ChannelEnable, n - 1);
    in["data_valid_enabled"] = bit(d.DataValidEnable, n - 1);
    in["null_filter"] = bit(d.NullFilterEnable, n - 1);
    in["tsp_error_filter"] = bit(d.TspFilterEnable, n - 1);
    in["packets_per_sec"] = static_cast<qint64>(w & 0xFFFFF);
    in["rate_kbps"] = d.InputRate[i];
    in["sync_errors"] = static_cast<qint64>(w >> 24);
    in["format"] = bit(w, 23) ? 188 : 204;
    in["overflow"] = bit(w, 22);
    inputs.append(in);
  }
  QJsonObject sdram;
  sdram["input_packets_per_sec"] = d.SdramInputRate;
  sdram["usage_packets"] = d.SdramUsage;
  sdram["overflow"] = d.SdramOverflow;
  sdram["null_packets_per_sec"] = d.NullPacketRate;
  QJsonObject psi;
  psi["state"] = d.PsiInserterState;
  psi["flash_busy"] = bit(d.PsiInserterState, 0);
  psi["inserted_packets_per_sec"] = d.InsertedPacketRate;
  QJsonObject pcr;
  pcr["state"] = d.PcrState;
  pcr["corrector_on"] = bit(d.PcrState, 0);
  pcr["direct_restamping"] = bit(d.PcrState, 4);
  pcr["pause"] = d.PcrPause;
  pcr["pcr_pid_count"] = d.PcrPidCount;
  pcr["discontinuity_counter"] = d.PcrDiscontinuity;
  pcr["test_pid"] = d.TestPid;
  pcr["slide"] = d.PcrSlide;
  pcr["base_error"] = d.PcrBaseError;
  QJsonObject pid;
  pid["state"] = d.PidFilterState;
  pid["flash_busy"] = bit(d.PidFilterState, 0);

  QJsonObject j;
  j["device_code"] = "1A";
  j["version"] = QString::fromStdString(d.VersionText);
  j["mpx_version"] = d.MpxVersion;
  j["spp_version"] = d.SppVersion;
  j["model"] = d.Model;
  j["type"] = d.DeviceType;
  j["serial"] = d.SerialNumber;
  j["sdi_address"] = d.AddressByte & 15;
  j["address_jumper"] = bit(d.AddressByte, 4);
  j["instruction_counter"] = d.InstructionCounter;
  j["iic_error"] = d.IicError;
  j["led_flags"] = d.LedFlags;
  j["nco_hz"] = d.NcoFrequency;
  j["pll_hz"] = d.PllFrequency;
  j["pll_pdiv"] = d.PDiv;
  j["output_format"] = bit(d.OutputFormat, 7) ? 188 : 204;
  j["clock_select"] = d.OutputFormat & 127;
  j["pid_filter"] = pid;
  j["inputs"] = inputs;
  j["sdram"] = sdram;
  j["psi"] = psi;
  j["pcr"] = pcr;
  return j;
}

// query: the Main page's information memo, or the decoded status as JSON.
class QueryCommand : public StatusQueryListener {
 public:
  QueryCommand(Session& s, bool json, int timeoutMs)
      : s_(s), json_(json), query_(s.engine(), [&s] { return s.target(); }, *this, timeoutMs) {}
  int run() {
    query_.start();
    return s_.wait();
  }
  void querySendFailed() override {
    err("Communication Error!");
    err("Check your network connection!");
    s_.finish(SendFailed);
  }
  void queryTimedOut() override {
    err("No answer received (in 1s).");
    s_.finish(NoAnswer);
  }
  void queryAnswered(const QueryOutcome& o) override {
    if (!o.decode) {
      if (!json_)
        for (const auto& l : o.memoLines) out(l);
      // "Unknown message received.", or the line that says what is on the SDI.
      err(o.memoLines.size() > 4 ? o.memoLines.back() : o.memoLines.front());
      s_.finish(Unexpected);
      return;
    }
    tZODADevice d;
    d.AnswerBase = o.answerBase;
    DecodeStatus(d, s_.engine().buffer());
    if (json_) {
      out(QJsonDocument(statusJson(d)).toJson(QJsonDocument::Compact).toStdString());
    } else {
      for (const auto& l : o.memoLines) out(l);
      for (const auto& l : statusReportLines(d)) out(l);
    }
    s_.finish(Success);
  }

 private:
  Session& s_;
  bool json_;
  StatusQuery query_;
};

// A General page instruction and its wait for the interrupt notice.
int runNoticeInstruction(Session& s, const Bytes& datagram, int timeoutMs) {
  registerNoticeWait(
      s.engine(), state::GeneralWait, state::GeneralGot,
      [&s](bool got) {
        if (got) {
          out(std::string(noticeOutcomeText(true)));
          s.finish(Success);
        } else {
          err(std::string(noticeOutcomeText(false)));
          s.finish(NoAnswer);
        }
      },
      [&s](bool) {
        err(std::string(kCommErrorCheckText));
        s.finish(SendFailed);
      });
  StartOptions o;
  o.armMs = timeoutMs;
  s.engine().start(state::GeneralWait, s.target().deviceIp, s.target().devicePort, datagram, o);
  return s.wait();
}

bool isHex(const std::string& text) {
  for (const char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

// One argument of `send` as the Instruction Test page's row texts: "$10" and
// "$00,$00,$30,$39" for "10:00003039".
InstructionRow instructionRow(const std::string& arg) {
  const std::size_t colon = arg.find(':');
  const std::string opcode = arg.substr(0, colon);
  const std::string data = colon == std::string::npos ? std::string() : arg.substr(colon + 1);
  if (opcode.empty() || opcode.size() > 2 || !isHex(opcode))
    throw UsageError{"send: '" + arg + "': the opcode must be one byte in hex (00..FF)"};
  if (!isHex(data) || data.size() % 2 != 0)
    throw UsageError{"send: '" + arg + "': the data must be hex bytes, two digits each"};
  if (data.size() / 2 > 1024) throw UsageError{"send: '" + arg + "': more than 1024 data bytes"};
  InstructionRow r;
  r.ticked = true;
  r.opcodeText = "$" + opcode;
  for (std::size_t i = 0; i < data.size(); i += 2) r.dataText += (i ? ",$" : "$") + data.substr(i, 2);
  return r;
}

// send: the Instruction Test page's send report, then the answer or the time-out.
int runSend(Session& s, const InstructionMessage& m, int timeoutMs) {
  for (const auto& l : sendDumpLines(m)) out(l);
  Transaction t;
  t.waiting = state::InstrTestWait;
  t.received = state::InstrTestGot;
  t.accepts = Answer::Long;
  t.timedOut = [&s] {
    err(std::string(kInstructionNoAnswerLine));
    s.finish(NoAnswer);
  };
  t.answered = [&s] {
    const ReceiveBuffer& buffer = s.engine().buffer();
    for (const auto& l : answerLines(buffer.bytes().data(), buffer.size(), s.engine().receivedLength())) out(l);
    s.finish(Success);
  };
  t.sendFailed = [&s](bool) {
    for (const auto& l : sendFailureLines()) err(l);
    s.finish(SendFailed);
  };
  s.engine().registerTransaction(std::move(t));
  StartOptions o;
  o.stateAt = StateAt::AfterArm;
  o.armMs = timeoutMs;
  if (s.engine().start(state::InstrTestWait, s.target().deviceIp, s.target().devicePort, m.datagram, o))
    for (const auto& l : sendSuccessLines(s.target().deviceIp, s.target().devicePort, m.sdiAddress)) out(l);
  return s.wait();
}

void expectArgs(const Options& o, std::size_t n, const char* usage) {
  if (o.args.size() < n) throw UsageError{o.command + ": missing argument (usage: " + usage + ")"};
  if (o.args.size() > n) throw UsageError{o.command + ": unexpected argument '" + o.args[n] + "'"};
}

int dispatch(const Options& o) {
  if (o.help) {
    std::fputs(kHelp, stdout);
    return Success;
  }
  if (o.version) {
    out(std::string(kProgram) + " " + TESSALY_VERSION);
    return Success;
  }
  if (o.command.empty()) throw UsageError{"no command (see --help)"};
  if (o.json && o.command != "query") throw UsageError{"--json: only for query"};
  if (o.label && o.command != "send") throw UsageError{"--label: only for send"};
  if (o.command != "clock")
    for (const auto& [given, name] : {std::pair{o.nco.has_value(), "--nco"}, std::pair{o.pll.has_value(), "--pll"},
                                      std::pair{o.source.has_value(), "--source"},
                                      std::pair{o.format.has_value(), "--format"},
                                      std::pair{o.priority.has_value(), "--priority"}})
      if (given) throw UsageError{std::string(name) + ": only for clock"};

  // Build the request first: bad input never reaches the network.
  std::function<Bytes(const QueryTarget&)> instruction;
  const auto& c = o.command;
  if (c == "query") {
    expectArgs(o, 0, "query [--json]");
  } else if (c == "set-serial") {
    expectArgs(o, 1, "set-serial N");
    // Handed over as hexadecimal: the number reader takes decimal only up to 2^31-1.
    char hex[16];
    std::snprintf(hex, sizeof hex, "$%08llX", number("set-serial", o.args[0], 0, 4294967295LL));
    const auto m = setSerialInstruction(hex);
    instruction = [m](const QueryTarget& t) { return m.instruction.datagram(t.framing, t.sdiAddress); };
  } else if (c == "set-type") {
    expectArgs(o, 1, "set-type N");
    number("set-type", o.args[0], 0, 65535);
    const auto m = setTypeInstruction(o.args[0]);
    instruction = [m](const QueryTarget& t) { return m.instruction.datagram(t.framing, t.sdiAddress); };
  } else if (c == "reset") {
    expectArgs(o, 0, "reset");
    const auto m = resetInstruction();
    instruction = [m](const QueryTarget& t) { return m.datagram(t.framing, t.sdiAddress); };
  } else if (c == "set-user-text") {
    expectArgs(o, 1, "set-user-text TEXT");
    // The text goes out as 8-bit characters, one byte each, as the panel's edit sends it.
    const QString text = QString::fromStdString(o.args[0]);
    if (text.size() > 15) throw UsageError{"set-user-text: longer than 15 characters"};
    const auto m = setUserTextInstruction(text.toLatin1().toStdString());
    instruction = [m](const QueryTarget& t) { return m.datagram(t.framing, t.sdiAddress); };
  } else if (c == "set-address") {
    expectArgs(o, 1, "set-address 1..15");
    const int address = static_cast<int>(number("set-address", o.args[0], 1, 15));
    const auto m = setAddressInstruction(address - 1);
    instruction = [m](const QueryTarget& t) { return m.datagram(t.framing, t.sdiAddress); };
  } else if (c == "clock") {
    expectArgs(o, 0, "clock --nco HZ | --pll HZ [--source ...] [--format 188|204] [--priority low|high]");
    if (!o.nco && !o.pll) throw UsageError{"clock: missing --nco HZ or --pll HZ"};
    StreamFormatInput in;
    in.clockSource = o.source.value_or(o.nco ? 0 : 1);
    if (in.clockSource == 0 && !o.nco) throw UsageError{"--source nco: missing --nco HZ"};
    if (in.clockSource == 1 && !o.pll) throw UsageError{"--source pll: missing --pll HZ"};
    in.format = o.format.value_or(0);
    in.priority = o.priority.value_or(0);
    in.ncoText = o.nco.value_or("3000000");
    in.pllText = o.pll.value_or("3000000");
    const auto m = streamFormatMessage(in);
    // The PLL search report, as the General page's memo shows it.
    if (m.memoLines)
      for (const auto& l : *m.memoLines) out(l);
    instruction = [m](const QueryTarget& t) { return m.datagram(t.framing, t.sdiAddress); };
  } else if (c == "send") {
    if (o.args.empty()) throw UsageError{"send: missing argument (usage: send [--label TEXT] OPCODE[:HEXBYTES]...)"};
    if (o.args.size() > static_cast<std::size_t>(kInstructionRows))
      throw UsageError{"send: more than " + std::to_string(kInstructionRows) + " instructions"};
    const std::string label = QString::fromStdString(o.label.value_or("")).toLatin1().toStdString();
    if (label.size() > 15) throw UsageError{"--label: longer than 15 characters"};
    std::array<InstructionRow, kInstructionRows> rows;
    for (std::size_t i = 0; i < o.args.size(); ++i) rows[i] = instructionRow(o.args[i]);
    const QueryTarget t = linkTarget(o);
    const InstructionMessage m = buildInstructionMessage(rows, label, t.framing, t.sdiAddress);
    Session s(t);
    return runSend(s, m, o.timeoutMs.value_or(1000));
  } else {
    throw UsageError{"unknown command '" + c + "' (see --help)"};
  }

  Session s(linkTarget(o));
  if (!instruction) return QueryCommand(s, o.json, o.timeoutMs.value_or(kQueryReplyTimeoutMs)).run();
  return runNoticeInstruction(s, instruction(s.target()), o.timeoutMs.value_or(1000));
}

}  // namespace

int run(const QStringList& arguments) {
  try {
    return dispatch(parse(arguments));
  } catch (const UsageError& e) {
    err(std::string(kProgram) + ": " + e.message);
    return Usage;
  }
}

}  // namespace tessaly::cli
