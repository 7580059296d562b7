// send: raw instructions, as the Instruction Test page sends them.
#include "cli/Cli.h"
#include "cli/DeviceRun.h"
#include "cli/RunLoop.h"
#include "cli/commands/Commands.h"
#include "instructions/InstructionTest.h"
#include "link/Engine.h"

namespace tessaly::cli {
namespace {

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

// The Instruction Test page's send report, then the answer or the time-out.
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

int send(Invocation& inv) {
  const auto& args = inv.args();
  if (args.empty()) throw UsageError{"send: missing argument (usage: send [--label TEXT] OPCODE[:HEXBYTES]...)"};
  if (args.size() > static_cast<std::size_t>(kInstructionRows))
    throw UsageError{"send: more than " + std::to_string(kInstructionRows) + " instructions"};
  const std::string label = latin1("--label", inv.options().text("--label").value_or(""));
  if (label.size() > 15) throw UsageError{"--label: longer than 15 characters"};
  RawInstructions rows;
  for (std::size_t i = 0; i < args.size(); ++i) rows[i] = instructionRow(args[i]);
  const QueryTarget t = usableTarget(inv.options());
  const InstructionMessage m = encodeInstructionMessage(rows, label, t.framing, t.sdiAddress);
  RunLoop s(t, inv.capture());
  return inv.captured(runSend(s, m, static_cast<int>(inv.options().number("--timeout-ms").value_or(1000))));
}

}  // namespace

const Command kSend{
    "send",
    "  send [--label TEXT] OPCODE[:HEXBYTES]...\n"
    "                         up to five raw instructions in one message, as the panel's\n"
    "                         Instruction Test page sends them; prints the message dump and\n"
    "                         the answer dump (OPCODE: one byte in hex; HEXBYTES: bytes in\n"
    "                         hex, two digits each)\n"
    "                           tessaly-cli send --label \"Serial\" 10:00003039\n",
    "send [--label TEXT] OPCODE[:HEXBYTES]...",
    0,
    {"--label"},
    send,
    true};

}  // namespace tessaly::cli
