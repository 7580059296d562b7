// pid-filter: the Mpx and PID Filter page's instructions.
#include "cli/DeviceRun.h"
#include "cli/commands/Commands.h"

namespace tessaly::cli {
namespace {

const NoticeCodes kMpxNotice{state::MpxWait, state::MpxGot, kCommErrorCheckText};

int general(Invocation& inv) {
  const GivenOptions& o = inv.options();
  // The instruction sets all six inputs at once: --enable must be said, even as "none".
  if (!o.has("--enable")) throw UsageError{"pid-filter general: missing --enable LIST (inputs 1..6, e.g. 1,2 or none)"};
  GeneralFilterBoxes b;
  b.enable = o.inputs("--enable").value_or(b.enable);
  b.dataValid = o.inputs("--dv-pin").value_or(b.dataValid);
  b.nullPacket = o.inputs("--null-filter").value_or(b.nullPacket);
  b.tspError = o.inputs("--tsp-filter").value_or(b.tspError);
  return runRequest(inv, pageRequest(setGeneralFilterInstruction(b), kMpxNotice));
}

int erase(Invocation& inv) { return runRequest(inv, pageRequest(erasePidFilterInstruction(), kMpxNotice)); }

// The input and PID a write or read names; both must be given.
std::pair<int, std::int32_t> inputAndPid(const GivenOptions& o, const std::string& command) {
  const auto input = o.number("--input"), pid = o.number("--pid");
  if (!input) throw UsageError{command + ": missing --input N"};
  if (!pid) throw UsageError{command + ": missing --pid PID"};
  return {static_cast<int>(*input), static_cast<std::int32_t>(*pid)};
}

int write(Invocation& inv) {
  const auto [input, pid] = inputAndPid(inv.options(), "pid-filter write");
  const auto remap = static_cast<std::int32_t>(inv.options().number("--remap").value_or(pid));
  return runRequest(inv, pageRequest(writePidFilterInstruction(input, pid, remap), kMpxNotice));
}

int read(Invocation& inv) {
  const auto [input, pid] = inputAndPid(inv.options(), "pid-filter read");
  const std::int32_t start = pidFilterReadStart(pid);
  say(inv.json, "Start PID: " + std::to_string(start));
  inv.json.fields["input"] = input;
  inv.json.fields["start_pid"] = start;
  return runRequest(inv, pageRequest(readPidFilterInstruction(input, start), kMpxNotice, Present::PidReadback));
}

}  // namespace

const Command kPidFilterGeneral{
    "pid-filter general",
    "  pid-filter general --enable LIST [--dv-pin LIST] [--null-filter LIST] [--tsp-filter LIST]\n"
    "                         set the inputs' general filter; LIST names inputs 1..6 (1,3,6)\n"
    "                         or none; the instruction sets all six inputs, unnamed ones off\n"
    "                           tessaly-cli pid-filter general --enable 1,2 --null-filter 1\n",
    "pid-filter general [--enable LIST] [--dv-pin LIST] [--null-filter LIST] [--tsp-filter LIST]",
    1,
    {"--enable", "--dv-pin", "--null-filter", "--tsp-filter"},
    general};

const Command kPidFilterErase{
    "pid-filter erase",
    "  pid-filter erase       erase the PID filter\n"
    "                           tessaly-cli pid-filter erase\n",
    "pid-filter erase", 1, {}, erase};

const Command kPidFilterWrite{
    "pid-filter write",
    "  pid-filter write --input N --pid PID [--remap PID]\n"
    "                         enable PID (0..8191) of input N (1..6), under PID or the remap PID\n"
    "                           tessaly-cli pid-filter write --input 2 --pid 496 --remap 777\n",
    "pid-filter write --input N --pid PID [--remap PID]", 1, {"--input", "--pid", "--remap"}, write};

const Command kPidFilterRead{
    "pid-filter read",
    "  pid-filter read --input N --pid PID [--json]\n"
    "                         read back the filter entries of input N from PID rounded down to\n"
    "                         a multiple of 8 (the read instruction, then a Query); --json:\n"
    "                         one JSON object with the entries as numbers\n"
    "                           tessaly-cli pid-filter read --input 1 --pid 496\n",
    "pid-filter read --input N --pid PID", 1, {"--input", "--pid", "--json"}, read};

}  // namespace tessaly::cli
