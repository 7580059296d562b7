#include "cli/Cli.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>
#include <QUdpSocket>
#include <array>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "settings/SettingsKeys.h"
#include "device/StatusQuery.h"
#include "capture/CaptureFile.h"
#include "clock/Pll.h"
#include "cli/MfgTest.h"
#include "cli/Options.h"
#include "cli/PcrLog.h"
#include "cli/RunLoop.h"
#include "cli/StatusJson.h"
#include "cli/StopSignal.h"
#include "instructions/GeneralInstructions.h"
#include "instructions/InstructionTest.h"
#include "instructions/NoticeWait.h"
#include "instructions/PageInstructions.h"
#include "link/Engine.h"
#include "link/qt/QtTimer.h"
#include "link/qt/QtUdpEndpoint.h"
#include "protocol/Protocol.h"
#include "status/Decode.h"
#include "status/StatusReport.h"

namespace tessaly::cli {
namespace {

// With --json, standard output holds one JSON object whatever happens: "ok", on a
// failure the "reason" (the line standard error gets), and what the command learned.
class JsonOut {
 public:
  explicit JsonOut(bool on) : on_(on) {}
  bool on() const { return on_; }
  QJsonObject fields;
  // Once per run; later calls are ignored.
  void print(bool ok, const std::string& reason = {}) {
    if (!on_ || printed_) return;
    printed_ = true;
    QJsonObject j = fields;
    j["ok"] = ok;
    if (!ok) j["reason"] = QString::fromStdString(reason);
    out(QJsonDocument(j).toJson(QJsonDocument::Compact).toStdString());
  }

 private:
  bool on_;
  bool printed_ = false;
};

// A line of the text report: not printed when the output is JSON.
void say(const JsonOut& json, const std::string& line) {
  if (!json.on()) out(line);
}

// A failure: its line on standard error, the JSON object with its reason, the exit code.
void fail(RunLoop& s, JsonOut& json, const std::vector<std::string>& lines, int code) {
  std::string reason;
  for (const auto& l : lines) {
    err(l);
    reason += (reason.empty() ? "" : " ") + l;
  }
  json.print(false, reason);
  s.finish(code);
}

// PIDs one READPIDFILTER asks for: its start PID is a multiple of 8.
constexpr std::size_t kPidsPerRead = 8;

// What a command prints from a decoded status answer.
enum class Present { Report, PidReadback, PsiReadback };

// query: the Main page's information memo, or the decoded status as JSON; after a
// read instruction, the read-back dump the page's memo shows.
class QueryCommand : public StatusQueryListener {
 public:
  QueryCommand(RunLoop& s, Present present, int timeoutMs, JsonOut& json) : s_(s), present_(present), json_(json) {
    s_.session().setQueryListener(this);
    s_.session().setQueryTimeoutMs(timeoutMs);
  }
  ~QueryCommand() override { s_.session().setQueryListener(nullptr); }
  int run() {
    start();
    return s_.wait();
  }
  void start() { s_.session().query(); }
  void queryEnded(const QueryOutcome& o) override {
    switch (o.kind) {
      case QueryKind::SendFailed:
        fail(s_, json_, {"Communication Error!", "Check your network connection!"}, SendFailed);
        return;
      case QueryKind::Timeout:
        fail(s_, json_, {"No answer received (in 1s)."}, NoAnswer);
        return;
      case QueryKind::UnknownAnswer:
      case QueryKind::NoDevice:
      case QueryKind::NotRemux: {
        if (present_ == Present::Report)
          for (const auto& l : queryAnswerLines(o)) say(json_, l);
        const QJsonObject answer = answerJson(o);
        for (auto i = answer.begin(); i != answer.end(); ++i) json_.fields[i.key()] = i.value();
        fail(s_, json_, {queryProblemText(o)}, Unexpected);
        return;
      }
      case QueryKind::Ok:
        break;
    }
    // The session has decoded the status block into its record.
    const tZODADevice& d = s_.session().device();
    const ReceiveBuffer& buffer = s_.engine().buffer();
    switch (present_) {
      case Present::Report: {
        if (!json_.on()) {
          for (const auto& l : queryAnswerLines(o)) out(l);
          for (const auto& l : statusReportLines(d)) out(l);
          break;
        }
        std::string userText;
        for (std::size_t k = 0; k < kLabelSize; ++k)
          userText += static_cast<char>(buffer.at(static_cast<std::size_t>(o.answerBase + block::UserText) + k));
        const QJsonObject status = statusJson(d, userText);
        for (auto i = status.begin(); i != status.end(); ++i) json_.fields[i.key()] = i.value();
        break;
      }
      case Present::PidReadback:
      case Present::PsiReadback: {
        const bool pid = present_ == Present::PidReadback;
        const auto lines = pid ? pidReadbackLines(d) : psiReadbackLines(d);
        if (lines.empty()) {
          fail(s_, json_,
               {std::string("The status answer holds no ") + (pid ? "PID filter" : "PSI inserter") + " read-back."},
               Unexpected);
          return;
        }
        for (const auto& l : lines) say(json_, l);
        // The PID filter's entries are 16-bit words, high byte first, one per PID from
        // the start PID: "entries" are the eight read (start..start+7), "words" the
        // whole read-back area; the flash is bytes.
        QJsonArray values;
        if (pid) {
          QJsonArray entries;
          for (std::size_t k = 0; k + 1 < d.ReadbackData.size(); k += 2) {
            const int word = (d.ReadbackData[k] << 8) | d.ReadbackData[k + 1];
            values.append(word);
            if (k < 2 * kPidsPerRead) entries.append(word);
          }
          json_.fields["entries"] = entries;
          json_.fields["words"] = values;
        } else {
          for (const std::uint8_t b : d.ReadbackData) values.append(b);
          json_.fields["data"] = values;
        }
        break;
      }
    }
    json_.print(true);
    s_.finish(Success);
  }

 private:
  RunLoop& s_;
  Present present_;
  JsonOut& json_;
};

// The notice wait a page's instruction uses: its codes and its send-failure text.
struct NoticeCodes {
  std::uint8_t waiting, received;
  std::string_view sendFailedText;
};
const NoticeCodes kGeneralNotice{state::GeneralWait, state::GeneralGot, kCommErrorCheckText};

// An instruction and its wait for the interrupt notice; with `readBack`, the
// notice is followed by a Query whose answer shows that read-back.
int runNoticeInstruction(RunLoop& s, const Bytes& datagram, int timeoutMs, JsonOut& json,
                         const NoticeCodes& codes = kGeneralNotice, std::optional<Present> readBack = std::nullopt) {
  std::optional<QueryCommand> query;
  if (readBack) query.emplace(s, *readBack, kQueryReplyTimeoutMs, json);
  registerNoticeWait(
      s.engine(), codes.waiting, codes.received,
      [&s, &query, &json](bool got) {
        if (!got) {
          fail(s, json, {std::string(noticeOutcomeText(false))}, NoAnswer);
          return;
        }
        say(json, std::string(noticeOutcomeText(true)));
        if (!query) {
          json.print(true);
          s.finish(Success);
          return;
        }
        // The read-back comes with the next status answer, as the page's Query fetches it.
        QTimer::singleShot(0, [&query] { query->start(); });
      },
      [&s, &codes, &json](bool) { fail(s, json, {std::string(codes.sendFailedText)}, SendFailed); });
  StartOptions o;
  o.armMs = timeoutMs;
  s.engine().start(codes.waiting, s.target().deviceIp, s.target().devicePort, datagram, o);
  return s.wait();
}

bool isHex(const std::string& text) {
  for (const char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

// One argument of `send`: "10:00003039" is opcode $10 with the bytes $00 $00 $30 $39.
RawInstruction instructionRow(const std::string& arg) {
  const std::size_t colon = arg.find(':');
  const std::string opcode = arg.substr(0, colon);
  const std::string data = colon == std::string::npos ? std::string() : arg.substr(colon + 1);
  if (opcode.empty() || opcode.size() > 2 || !isHex(opcode))
    throw UsageError{"send: '" + arg + "': the opcode must be one byte in hex (00..FF)"};
  if (!isHex(data) || data.size() % 2 != 0)
    throw UsageError{"send: '" + arg + "': the data must be hex bytes, two digits each"};
  if (data.size() / 2 > 1024) throw UsageError{"send: '" + arg + "': more than 1024 data bytes"};
  RawInstruction r;
  r.opcode = static_cast<std::uint8_t>(std::stoul(opcode, nullptr, 16));
  for (std::size_t i = 0; i < data.size(); i += 2)
    r.data.push_back(static_cast<std::uint8_t>(std::stoul(data.substr(i, 2), nullptr, 16)));
  // As the page sends an empty data edit: one byte 0.
  if (r.data.empty()) r.data.push_back(0x00);
  return r;
}

// send: the Instruction Test page's send report, then the answer or the time-out.
int runSend(RunLoop& s, const InstructionMessage& m, int timeoutMs) {
  for (const auto& l : sendDumpLines(m)) out(l);
  registerInstructionTest(
      s.engine(),
      [&s] {
        err(std::string(kInstructionNoAnswerLine));
        s.finish(NoAnswer);
      },
      [&s] {
        const ReceiveBuffer& buffer = s.engine().buffer();
        for (const auto& l : answerLines(buffer.bytes().data(), buffer.size(), s.engine().receivedLength())) out(l);
        s.finish(Success);
      },
      [&s] {
        for (const auto& l : sendFailureLines()) err(l);
        s.finish(SendFailed);
      });
  StartOptions o;
  o.stateAt = StateAt::AfterArm;
  o.armMs = timeoutMs;
  s.engine().start(state::InstrTestWait, s.target().deviceIp, s.target().devicePort, m.datagram, o, [&s, &m] {
    for (const auto& l : sendSuccessLines(s.target().deviceIp, s.target().devicePort, m.sdiAddress)) out(l);
  });
  return s.wait();
}

// TEXT as 8-bit characters, one byte each, as the panel's edits send them; a
// character Latin-1 cannot hold is refused, naming it, rather than sent as '?'.
std::string latin1(const std::string& what, const std::string& text) {
  const QString q = QString::fromStdString(text);
  for (qsizetype i = 0; i < q.size(); ++i) {
    const char32_t c = q[i].isHighSurrogate() && i + 1 < q.size() ? QChar::surrogateToUcs4(q[i], q[i + 1]) : q[i].unicode();
    if (c > 0xFF) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
      const QString one = c > 0xFFFF ? q.mid(i, 2) : q.mid(i, 1);
      throw UsageError{what + ": '" + one.toStdString() + "' (" + code +
                       ") is not a Latin-1 character; the text goes out one byte per character"};
    }
  }
  return q.toLatin1().toStdString();
}

// The host port, bound here first so that a port in use is named, with the way out.
void requireHostPort(const QueryTarget& t) {
  if (t.hostPort == 0) return;
  QUdpSocket probe;
  if (probe.bind(QHostAddress(QHostAddress::AnyIPv4), static_cast<quint16>(t.hostPort), QAbstractSocket::DontShareAddress))
    return;
  throw SendError{"cannot use UDP port " + std::to_string(t.hostPort) + " on this host (" +
                  probe.errorString().toStdString() + "); --host-port 0 picks a free one"};
}

void expectArgs(const Options& o, std::size_t n, const char* usage) {
  if (o.args.size() < n) throw UsageError{o.command + ": missing argument (usage: " + usage + ")"};
  if (o.args.size() > n) throw UsageError{o.command + ": unexpected argument '" + o.args[n] + "'"};
}

// True when `path` names the panel's settings file in the working directory: the
// same file (through any link), or that name where there is no such file yet. An
// output there would replace the panel's settings.
bool isSettingsFile(const std::string& path) {
  const QString settings = QString::fromStdString(settingsPath(QDir::currentPath().toStdString()));
  const QFileInfo out(QString::fromStdString(path)), ini(settings);
  if (out.exists() && ini.exists()) return out.canonicalFilePath() == ini.canonicalFilePath();
  return out.absoluteDir().canonicalPath() == ini.absoluteDir().canonicalPath() && out.fileName() == ini.fileName();
}

// An output file option is never the settings file.
void refuseSettingsFile(const char* option, const std::optional<std::string>& path) {
  if (path && *path != "-" && isSettingsFile(*path))
    throw UsageError{std::string(option) + ": cannot write '" + *path + "': it is the panel's settings file"};
}

int dispatch(const Options& o) {
  const std::string sub = o.args.empty() ? std::string() : o.args[0];
  if (o.help || o.command == "help") {
    if (o.command == "help" && o.args.size() > 2) throw UsageError{"help: unexpected argument '" + o.args[2] + "'"};
    if (o.command.empty() || (o.command == "help" && o.args.empty()))
      std::fputs(helpText().c_str(), stdout);
    else if (o.command == "help")
      std::fputs(commandHelpText(o.args[0], o.args.size() > 1 ? o.args[1] : std::string()).c_str(), stdout);
    else
      std::fputs(commandHelpText(o.command, sub).c_str(), stdout);
    return Success;
  }
  if (o.version) {
    out(std::string(kProgram) + " " + TESSALY_VERSION);
    return Success;
  }
  if (o.command.empty()) throw UsageError{"no command (see --help)"};
  if (o.label && o.command != "send") throw UsageError{"--label: only for send"};
  // Each option belongs to one command (and subcommand): elsewhere it is an error.
  const std::string where = o.command + (sub.empty() ? "" : " " + sub);
  struct Use {
    bool given;
    const char* name;
    std::vector<const char*> places;
  };
  for (const Use& u : std::vector<Use>{
           {o.nco.has_value(), "--nco", {"clock"}},
           {o.pll.has_value(), "--pll", {"clock"}},
           {o.source.has_value(), "--source", {"clock"}},
           {o.format.has_value(), "--format", {"clock"}},
           {o.priority.has_value(), "--priority", {"clock"}},
           {o.input.has_value(), "--input", {"pid-filter write", "pid-filter read"}},
           {o.pid.has_value(), "--pid", {"pid-filter write", "pid-filter read", "psi write"}},
           {o.remap.has_value(), "--remap", {"pid-filter write"}},
           {o.enable.has_value(), "--enable", {"pid-filter general"}},
           {o.dvPin.has_value(), "--dv-pin", {"pid-filter general"}},
           {o.nullFilter.has_value(), "--null-filter", {"pid-filter general"}},
           {o.tspFilter.has_value(), "--tsp-filter", {"pid-filter general"}},
           {o.sector.has_value(), "--sector", {"psi sector"}},
           {o.start.has_value(), "--start", {"psi sector"}},
           {o.end.has_value(), "--end", {"psi sector"}},
           {o.disabled, "--disabled", {"psi sector"}},
           {o.address.has_value(), "--address", {"psi write", "psi read"}},
           {o.timer.has_value(), "--timer", {"psi write"}},
           {o.packet.has_value(), "--packet", {"psi write"}},
           {o.fix.has_value(), "--fix", {"psi write"}},
           {o.autoCc, "--auto-cc", {"psi write"}},
           {o.samples.has_value(), "--samples", {"pcr-log"}},
           {o.csv.has_value(), "--csv", {"pcr-log"}},
           {o.append, "--append", {"pcr-log"}},
           {o.force, "--force", {"pcr-log"}},
           {o.testPort.has_value(), "--test-port", {"mfg-test"}},
           {o.pid1.has_value(), "--pid1", {"mfg-test"}},
           {o.pid2.has_value(), "--pid2", {"mfg-test"}},
           {o.pid3.has_value(), "--pid3", {"mfg-test"}},
           {o.multicast.has_value(), "--multicast", {"mfg-test"}},
           {o.junit.has_value(), "--junit", {"mfg-test"}},
           {o.json, "--json", {"query", "clock", "pid-filter read", "psi read", "mfg-test"}},
       }) {
    if (!u.given) continue;
    bool fits = false;
    for (const char* p : u.places) fits = fits || where == p || o.command == p;
    if (!fits) {
      std::string list;
      for (const char* p : u.places) list += (list.empty() ? "" : ", ") + std::string(p);
      throw UsageError{std::string(u.name) + ": only for " + list};
    }
  }

  // The capture file, opened just before the run's endpoint exists (never over the
  // panel's settings file); it outlives the run and is complete when the command
  // returns. A write error on the way is told once at the end, and the exit is not 0.
  CaptureFile captureFile;
  const auto capture = [&]() -> TrafficTap* {
    if (!o.capture) return nullptr;
    std::string why;
    if (!captureFile.open(*o.capture, &why, settingsPath(QDir::currentPath().toStdString())))
      throw UsageError{"--capture: cannot write '" + *o.capture + "': " + why};
    return &captureFile;
  };
  const auto captured = [&](int exitCode) {
    if (captureFile.close()) return exitCode;
    err(std::string(kProgram) + ": --capture: '" + *o.capture + "' stopped: " + captureFile.failure() + " (" +
        std::to_string(captureFile.written()) + " packets written, " + std::to_string(captureFile.lost()) + " lost)");
    return exitCode == Success ? OutputFailed : exitCode;
  };

  // Build the request first: bad input never reaches the network.
  JsonOut json(o.json);
  std::function<Bytes(const QueryTarget&)> instruction;
  NoticeCodes codes = kGeneralNotice;
  std::optional<Present> readBack;
  const auto page = [&instruction](const LabelledInstruction& i) {
    instruction = [i](const QueryTarget& t) { return i.datagram(t.framing, t.sdiAddress); };
  };
  const auto& c = o.command;
  if (c == "query") {
    expectArgs(o, 0, "query [--json]");
  } else if (c == "set-serial") {
    expectArgs(o, 1, "set-serial N");
    page(setSerialInstruction(static_cast<std::uint32_t>(number("set-serial", o.args[0], 0, 4294967295LL))));
  } else if (c == "set-type") {
    expectArgs(o, 1, "set-type N");
    page(setTypeInstruction(static_cast<std::uint16_t>(number("set-type", o.args[0], 0, 65535))));
  } else if (c == "reset") {
    expectArgs(o, 0, "reset");
    page(resetInstruction());
  } else if (c == "set-user-text") {
    expectArgs(o, 1, "set-user-text TEXT");
    // The text goes out as 8-bit characters, one byte each, as the panel's edit sends it.
    const std::string text = latin1("set-user-text", o.args[0]);
    if (text.size() > 15) throw UsageError{"set-user-text: longer than 15 characters"};
    page(setUserTextInstruction(text));
  } else if (c == "set-address") {
    expectArgs(o, 1, "set-address 1..15");
    page(setAddressInstruction(static_cast<std::uint8_t>(number("set-address", o.args[0], 1, 15))));
  } else if (c == "clock") {
    expectArgs(o, 0, "clock --nco HZ | --pll HZ [--source ...] [--format 188|204] [--priority low|high]");
    if (!o.nco && !o.pll) throw UsageError{"clock: missing --nco HZ or --pll HZ"};
    // One frequency: the other would be programmed into nothing.
    if (o.nco && o.pll) throw UsageError{"clock: --nco and --pll together (give the one the source uses)"};
    StreamFormat in;
    in.clockSource = o.source.value_or(o.nco ? clockSource::Nco : clockSource::Pll);
    if (in.clockSource == clockSource::Nco && !o.nco) throw UsageError{"--source nco: missing --nco HZ"};
    if (in.clockSource == clockSource::Pll && !o.pll) throw UsageError{"--source pll: missing --pll HZ"};
    in.packetSize = o.format.value_or(0) == 0 ? 188 : 204;
    in.highPriority = o.priority.value_or(0) == 1;
    // Parsed in range already.
    if (o.nco) in.ncoHz = std::stoi(*o.nco);
    if (o.pll) in.pllHz = std::stoi(*o.pll);
    const auto m = streamFormatMessage(in);
    // The PLL search report, as the General page's memo shows it.
    if (m.pllReport)
      for (const auto& l : *m.pllReport) say(json, l);
    const char* const sources[] = {"nco", "pll", "input1", "input2", "input3", "input4", "input5", "input6", "external"};
    json.fields["source"] = sources[in.clockSource];
    json.fields["format"] = in.packetSize;
    json.fields["priority"] = in.highPriority ? "high" : "low";
    if (o.nco) json.fields["nco_hz"] = in.ncoHz;
    if (o.pll) {
      const std::int32_t requested = in.pllHz;
      json.fields["pll_hz"] = requested;
      if (in.clockSource == clockSource::Pll) {
        // The search's figures, as the report above lists them.
        const PllSettings p = m.pll.value_or(PllSettings{});
        QJsonObject pll;
        pll["found"] = p.found;
        if (p.found) {
          pll["pdiv"] = p.PDiv;
          pll["m"] = p.M;
          pll["n"] = p.N;
          pll["p"] = p.P;
          pll["q"] = p.Q;
          pll["r"] = p.R;
          pll["vco_range"] = p.VcoRange;
          pll["vco_hz"] = static_cast<qint64>(p.VcoFrequency);
          pll["output_hz"] = p.OutputFrequency;
          pll["error_hz"] = static_cast<qint64>(requested) - p.OutputFrequency;
          pll["word"] = QString::asprintf("%08X", pllWord(p));
        }
        json.fields["pll"] = pll;
      }
    }
    instruction = [m](const QueryTarget& t) { return m.datagram(t.framing, t.sdiAddress); };
  } else if (c == "pid-filter") {
    codes = {state::MpxWait, state::MpxGot, kCommErrorCheckText};
    const char* const usage = "pid-filter general|erase|write|read ...";
    if (sub == "general") {
      expectArgs(o, 1, "pid-filter general [--enable LIST] [--dv-pin LIST] [--null-filter LIST] [--tsp-filter LIST]");
      // The instruction sets all six inputs at once: --enable must be said, even as "none".
      if (!o.enable) throw UsageError{"pid-filter general: missing --enable LIST (inputs 1..6, e.g. 1,2 or none)"};
      GeneralFilterBoxes b;
      b.enable = o.enable.value_or(b.enable);
      b.dataValid = o.dvPin.value_or(b.dataValid);
      b.nullPacket = o.nullFilter.value_or(b.nullPacket);
      b.tspError = o.tspFilter.value_or(b.tspError);
      page(setGeneralFilterInstruction(b));
    } else if (sub == "erase") {
      expectArgs(o, 1, "pid-filter erase");
      page(erasePidFilterInstruction());
    } else if (sub == "write") {
      expectArgs(o, 1, "pid-filter write --input N --pid PID [--remap PID]");
      if (!o.input) throw UsageError{"pid-filter write: missing --input N"};
      if (!o.pid) throw UsageError{"pid-filter write: missing --pid PID"};
      const std::int32_t pid = std::stoi(*o.pid);
      page(writePidFilterInstruction(*o.input, pid, o.remap ? std::stoi(*o.remap) : pid));
    } else if (sub == "read") {
      expectArgs(o, 1, "pid-filter read --input N --pid PID");
      if (!o.input) throw UsageError{"pid-filter read: missing --input N"};
      if (!o.pid) throw UsageError{"pid-filter read: missing --pid PID"};
      const std::int32_t start = pidFilterReadStart(std::stoi(*o.pid));
      say(json, "Start PID: " + std::to_string(start));
      json.fields["input"] = *o.input;
      json.fields["start_pid"] = start;
      page(readPidFilterInstruction(*o.input, start));
      readBack = Present::PidReadback;
    } else {
      throw UsageError{sub.empty() ? "pid-filter: missing subcommand (usage: " + std::string(usage) + ")"
                                   : "pid-filter: unknown subcommand '" + sub + "' (usage: " + usage + ")"};
    }
  } else if (c == "psi") {
    codes = {state::PsiWait, state::PsiGot, kCommErrorCheckText};
    const char* const usage = "psi sector|erase|write|read ...";
    if (sub == "sector") {
      expectArgs(o, 1, "psi sector --sector 1..4 --start ADDR --end ADDR [--disabled]");
      if (!o.sector) throw UsageError{"psi sector: missing --sector 1..4"};
      if (!o.start) throw UsageError{"psi sector: missing --start ADDR"};
      if (!o.end) throw UsageError{"psi sector: missing --end ADDR"};
      if (std::stoll(*o.start) > std::stoll(*o.end))
        throw UsageError{"psi sector: --start " + *o.start + " is after --end " + *o.end};
      page(*setSectorInstruction(*o.sector, !o.disabled, std::stoi(*o.start), std::stoi(*o.end)));
    } else if (sub == "erase") {
      expectArgs(o, 1, "psi erase");
      page(erasePsiInstruction());
    } else if (sub == "write") {
      expectArgs(o, 1, "psi write [--pid PID] [--address ADDR] [--timer N] [--packet ascending|descending|fix] [--fix B] [--auto-cc]");
      if (o.fix && o.packet != 2) throw UsageError{"--fix: only with --packet fix"};
      PsiWrite w;  // the page's starting values where not given
      if (o.pid) w.pid = std::stoi(*o.pid);
      if (o.address) w.address = std::stoi(*o.address);
      if (o.timer) w.timer = std::stoi(*o.timer);
      if (o.fix) w.fix = static_cast<std::uint8_t>(std::stoi(*o.fix));
      w.packetType = static_cast<PsiPacketType>(o.packet.value_or(0));
      w.autoCc = o.autoCc;
      page(writePsiInstruction(w));
    } else if (sub == "read") {
      expectArgs(o, 1, "psi read --address ADDR");
      if (!o.address) throw UsageError{"psi read: missing --address ADDR"};
      const std::int32_t address = std::stoi(*o.address);
      json.fields["address"] = address;
      page(readPsiInstruction(address));
      readBack = Present::PsiReadback;
    } else {
      throw UsageError{sub.empty() ? "psi: missing subcommand (usage: " + std::string(usage) + ")"
                                   : "psi: unknown subcommand '" + sub + "' (usage: " + usage + ")"};
    }
  } else if (c == "pcr-corrector") {
    codes = {state::PcrWait, state::PcrGot, kCommErrorText};
    const char* const usage = "pcr-corrector mode off|on|direct | test-pid PID";
    if (sub == "mode") {
      expectArgs(o, 2, "pcr-corrector mode off|on|direct");
      const std::string& m = o.args[1];
      if (m != "off" && m != "on" && m != "direct")
        throw UsageError{"pcr-corrector mode: '" + m + "' is none of off, on, direct"};
      page(setPcrCorrectorInstruction(m != "off", m == "direct"));
    } else if (sub == "test-pid") {
      expectArgs(o, 2, "pcr-corrector test-pid PID");
      page(setTestPcrPidInstruction(static_cast<std::int32_t>(number("pcr-corrector test-pid", o.args[1], 0, kPidMax))));
    } else {
      throw UsageError{sub.empty() ? "pcr-corrector: missing subcommand (usage: " + std::string(usage) + ")"
                                   : "pcr-corrector: unknown subcommand '" + sub + "' (usage: " + usage + ")"};
    }
  } else if (c == "pcr-log") {
    expectArgs(o, 0, "pcr-log --samples N [--csv FILE|-] [--append|--force]");
    if (!o.samples) throw UsageError{"pcr-log: missing --samples N"};
    if ((o.append || o.force) && (!o.csv || *o.csv == "-"))
      throw UsageError{std::string(o.append ? "--append" : "--force") + ": only with --csv FILE"};
    if (o.append && o.force) throw UsageError{"--append and --force: one or the other"};
    PcrLogOptions p;
    p.samples = *o.samples;
    refuseSettingsFile("--csv", o.csv);
    p.csvPath = o.csv;
    p.append = o.append;
    p.force = o.force;
    const QueryTarget t = linkTarget(o);
    requireHostPort(t);
    return captured(runPcrLog(t, p, capture()));
  } else if (c == "mfg-test") {
    expectArgs(o, 0, "mfg-test [--test-port N] [--pid1 PID] [--pid2 PID] [--pid3 PID] [--multicast A.B.C.D] [--junit FILE] [--json]");
    // The page's input texts (its defaults where no option is given): its normalising applies.
    MfgTestOptions m;
    MfgInputTexts& in = m.inputs;
    if (o.testPort) in.testPort = *o.testPort;
    for (std::size_t i = 0; i < 3; ++i) {
      const auto& pid = i == 0 ? o.pid1 : i == 1 ? o.pid2 : o.pid3;
      if (!pid) continue;
      in.additionalPidOn[i] = *pid != "off";
      if (*pid != "off") in.additionalPid[i] = *pid;
    }
    if (o.multicast) {
      in.multicastOn = *o.multicast != "off";
      if (in.multicastOn) {
        const QStringList parts = QString::fromStdString(*o.multicast).split('.');
        for (std::size_t i = 0; i < 4; ++i) in.multicast[i] = parts.value(static_cast<qsizetype>(i)).toStdString();
      }
    }
    refuseSettingsFile("--junit", o.junit);
    m.junitPath = o.junit;
    m.json = o.json;
    const QueryTarget t = linkTarget(o);
    requireHostPort(t);
    return captured(runMfgTest(t, m, capture()));
  } else if (c == "send") {
    if (o.args.empty()) throw UsageError{"send: missing argument (usage: send [--label TEXT] OPCODE[:HEXBYTES]...)"};
    if (o.args.size() > static_cast<std::size_t>(kInstructionRows))
      throw UsageError{"send: more than " + std::to_string(kInstructionRows) + " instructions"};
    const std::string label = latin1("--label", o.label.value_or(""));
    if (label.size() > 15) throw UsageError{"--label: longer than 15 characters"};
    RawInstructions rows;
    for (std::size_t i = 0; i < o.args.size(); ++i) rows[i] = instructionRow(o.args[i]);
    const QueryTarget t = linkTarget(o);
    requireHostPort(t);
    const InstructionMessage m = encodeInstructionMessage(rows, label, t.framing, t.sdiAddress);
    RunLoop s(t, capture());
    return captured(runSend(s, m, o.timeoutMs.value_or(1000)));
  } else {
    throw UsageError{"unknown command '" + c + "' (see --help)"};
  }

  const QueryTarget t = linkTarget(o);
  try {
    requireHostPort(t);
  } catch (const SendError& e) {
    json.print(false, e.message);
    throw;
  }
  RunLoop s(t, capture());
  if (!instruction)
    return captured(QueryCommand(s, Present::Report, o.timeoutMs.value_or(kQueryReplyTimeoutMs), json).run());
  return captured(runNoticeInstruction(s, instruction(s.target()), o.timeoutMs.value_or(1000), json, codes, readBack));
}

}  // namespace

int run(const QStringList& arguments) {
  // SIGINT and SIGTERM end every command the same way: what it has is written, then 130 or 143.
  catchStopSignals();
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
