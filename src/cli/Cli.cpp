#include "cli/Cli.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <array>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/StatusQuery.h"
#include "cli/Options.h"
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
