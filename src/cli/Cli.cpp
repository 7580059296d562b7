#include "cli/Cli.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QJsonDocument>
#include <array>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/StatusQuery.h"
#include "capture/CaptureFile.h"
#include "cli/MfgTest.h"
#include "cli/Options.h"
#include "cli/PcrLog.h"
#include "cli/Session.h"
#include "cli/StatusJson.h"
#include "instructions/GeneralInstructions.h"
#include "instructions/InstructionTest.h"
#include "instructions/NoticeWait.h"
#include "instructions/PageInstructions.h"
#include "link/Engine.h"
#include "link/ui/QtTimer.h"
#include "link/ui/QtUdpEndpoint.h"
#include "status/Decode.h"
#include "status/StatusReport.h"

namespace tessaly::cli {
namespace {

// What a command prints from a decoded status answer.
enum class Present { Report, Json, PidReadback, PsiReadback };

// query: the Main page's information memo, or the decoded status as JSON; after a
// read instruction, the read-back dump the page's memo shows.
class QueryCommand : public StatusQueryListener {
 public:
  QueryCommand(Session& s, Present present, int timeoutMs)
      : s_(s), present_(present), query_(s.engine(), [&s] { return s.target(); }, *this, timeoutMs) {}
  int run() {
    query_.start();
    return s_.wait();
  }
  void start() { query_.start(); }
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
      if (present_ == Present::Report)
        for (const auto& l : o.memoLines) out(l);
      // "Unknown message received.", or the line that says what is on the SDI.
      err(o.memoLines.size() > 4 ? o.memoLines.back() : o.memoLines.front());
      s_.finish(Unexpected);
      return;
    }
    tZODADevice d;
    d.AnswerBase = o.answerBase;
    DecodeStatus(d, s_.engine().buffer());
    switch (present_) {
      case Present::Json: out(QJsonDocument(statusJson(d)).toJson(QJsonDocument::Compact).toStdString()); break;
      case Present::Report:
        for (const auto& l : o.memoLines) out(l);
        for (const auto& l : statusReportLines(d)) out(l);
        break;
      case Present::PidReadback:
      case Present::PsiReadback: {
        const bool pid = present_ == Present::PidReadback;
        const auto lines = pid ? pidReadbackLines(d) : psiReadbackLines(d);
        if (lines.empty()) {
          err(std::string("The status answer holds no ") + (pid ? "PID filter" : "PSI inserter") + " read-back.");
          s_.finish(Unexpected);
          return;
        }
        for (const auto& l : lines) out(l);
        break;
      }
    }
    s_.finish(Success);
  }

 private:
  Session& s_;
  Present present_;
  StatusQuery query_;
};

// The notice wait a page's instruction uses: its codes and its send-failure text.
struct NoticeCodes {
  std::uint8_t waiting, received;
  std::string_view sendFailedText;
};
const NoticeCodes kGeneralNotice{state::GeneralWait, state::GeneralGot, kCommErrorCheckText};

// An instruction and its wait for the interrupt notice; with `readBack`, the
// notice is followed by a Query whose answer shows that read-back.
int runNoticeInstruction(Session& s, const Bytes& datagram, int timeoutMs, const NoticeCodes& codes = kGeneralNotice,
                         std::optional<Present> readBack = std::nullopt) {
  std::optional<QueryCommand> query;
  if (readBack) query.emplace(s, *readBack, kQueryReplyTimeoutMs);
  registerNoticeWait(
      s.engine(), codes.waiting, codes.received,
      [&s, &query](bool got) {
        if (!got) {
          err(std::string(noticeOutcomeText(false)));
          s.finish(NoAnswer);
          return;
        }
        out(std::string(noticeOutcomeText(true)));
        if (!query) {
          s.finish(Success);
          return;
        }
        // The read-back comes with the next status answer, as the page's Query fetches it.
        QTimer::singleShot(0, [&query] { query->start(); });
      },
      [&s, &codes](bool) {
        err(std::string(codes.sendFailedText));
        s.finish(SendFailed);
      });
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
  s.engine().start(state::InstrTestWait, s.target().deviceIp, s.target().devicePort, m.datagram, o, [&s, &m] {
    for (const auto& l : sendSuccessLines(s.target().deviceIp, s.target().devicePort, m.sdiAddress)) out(l);
  });
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
  // Each option belongs to one command (and subcommand): elsewhere it is an error.
  const std::string sub = o.args.empty() ? std::string() : o.args[0];
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
           {o.testPort.has_value(), "--test-port", {"mfg-test"}},
           {o.pid1.has_value(), "--pid1", {"mfg-test"}},
           {o.pid2.has_value(), "--pid2", {"mfg-test"}},
           {o.pid3.has_value(), "--pid3", {"mfg-test"}},
           {o.multicast.has_value(), "--multicast", {"mfg-test"}},
           {o.junit.has_value(), "--junit", {"mfg-test"}},
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

  // The capture file, opened just before the run's endpoint exists; it outlives the
  // run and is complete when the command returns.
  CaptureFile captureFile;
  const auto capture = [&]() -> TrafficTap* {
    if (!o.capture) return nullptr;
    std::string why;
    if (!captureFile.open(*o.capture, &why)) throw UsageError{"--capture: cannot write '" + *o.capture + "': " + why};
    return &captureFile;
  };

  // Build the request first: bad input never reaches the network.
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
      page(writePidFilterInstruction(*o.input - 1, *o.pid, o.remap.has_value(), o.remap.value_or("")).instruction);
    } else if (sub == "read") {
      expectArgs(o, 1, "pid-filter read --input N --pid PID");
      if (!o.input) throw UsageError{"pid-filter read: missing --input N"};
      if (!o.pid) throw UsageError{"pid-filter read: missing --pid PID"};
      const ReadPidFilter r = readPidFilterInstruction(*o.input - 1, *o.pid);
      out("Start PID: " + r.pidText);
      page(r.instruction);
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
      page(setSectorInstruction(*o.sector, !o.disabled, *o.start, *o.end)->instruction);
    } else if (sub == "erase") {
      expectArgs(o, 1, "psi erase");
      page(erasePsiInstruction());
    } else if (sub == "write") {
      expectArgs(o, 1, "psi write [--pid PID] [--address ADDR] [--timer N] [--packet ascending|descending|fix] [--fix B] [--auto-cc]");
      if (o.fix && o.packet != 2) throw UsageError{"--fix: only with --packet fix"};
      WritePsiInput in;
      // The page's edits start as these texts.
      in.pidText = o.pid.value_or("1000");
      in.addressText = o.address.value_or("0");
      in.timerText = o.timer.value_or("10");
      in.fixText = o.fix.value_or("15");
      in.packetType = o.packet.value_or(0);
      in.autoCc = o.autoCc;
      page(writePsiInstruction(in).instruction);
    } else if (sub == "read") {
      expectArgs(o, 1, "psi read --address ADDR");
      if (!o.address) throw UsageError{"psi read: missing --address ADDR"};
      page(readPsiInstruction(*o.address).instruction);
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
      page(setTestPcrPidInstruction(std::to_string(number("pcr-corrector test-pid", o.args[1], 0, kPidMax))).instruction);
    } else {
      throw UsageError{sub.empty() ? "pcr-corrector: missing subcommand (usage: " + std::string(usage) + ")"
                                   : "pcr-corrector: unknown subcommand '" + sub + "' (usage: " + usage + ")"};
    }
  } else if (c == "pcr-log") {
    expectArgs(o, 0, "pcr-log --samples N [--csv FILE]");
    if (!o.samples) throw UsageError{"pcr-log: missing --samples N"};
    const QueryTarget t = linkTarget(o);
    return runPcrLog(t, *o.samples, o.csv, capture());
  } else if (c == "mfg-test") {
    expectArgs(o, 0, "mfg-test [--test-port N] [--pid1 PID] [--pid2 PID] [--pid3 PID] [--multicast A.B.C.D] [--junit FILE]");
    // The page's input texts (its defaults where no option is given): its normalising applies.
    MfgInputTexts in;
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
    if (o.junit) {
      // Fail before the run, not after it, when the report cannot be written.
      QFile f(QString::fromStdString(*o.junit));
      if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) throw UsageError{"--junit: cannot write '" + *o.junit + "'"};
    }
    const QueryTarget t = linkTarget(o);
    return runMfgTest(t, in, o.junit, capture());
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
    Session s(t, capture());
    return runSend(s, m, o.timeoutMs.value_or(1000));
  } else {
    throw UsageError{"unknown command '" + c + "' (see --help)"};
  }

  const QueryTarget t = linkTarget(o);
  Session s(t, capture());
  if (!instruction) return QueryCommand(s, o.json ? Present::Json : Present::Report, o.timeoutMs.value_or(kQueryReplyTimeoutMs)).run();
  return runNoticeInstruction(s, instruction(s.target()), o.timeoutMs.value_or(1000), codes, readBack);
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
