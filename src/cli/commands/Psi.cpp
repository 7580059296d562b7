// psi: the PSI Inserter page's instructions.
#include "cli/DeviceRun.h"
#include "cli/commands/Commands.h"

namespace tessaly::cli {
namespace {

const NoticeCodes kPsiNotice{state::PsiWait, state::PsiGot, kCommErrorCheckText};

int sector(Invocation& inv) {
  const GivenOptions& o = inv.options();
  const auto sector = o.number("--sector"), start = o.number("--start"), end = o.number("--end");
  if (!sector) throw UsageError{"psi sector: missing --sector 1..4"};
  if (!start) throw UsageError{"psi sector: missing --start ADDR"};
  if (!end) throw UsageError{"psi sector: missing --end ADDR"};
  if (*start > *end)
    throw UsageError{"psi sector: --start " + std::to_string(*start) + " is after --end " + std::to_string(*end)};
  const auto i = setSectorInstruction(static_cast<int>(*sector), !o.has("--disabled"), static_cast<std::int32_t>(*start),
                                      static_cast<std::int32_t>(*end));
  return runRequest(inv, pageRequest(*i, kPsiNotice));
}

int erase(Invocation& inv) { return runRequest(inv, pageRequest(erasePsiInstruction(), kPsiNotice)); }

int write(Invocation& inv) {
  const GivenOptions& o = inv.options();
  const long long packet = o.number("--packet").value_or(0);
  if (o.has("--fix") && packet != static_cast<long long>(PsiPacketType::Fix))
    throw UsageError{"--fix: only with --packet fix"};
  PsiWrite w;  // the page's starting values where not given
  w.pid = static_cast<std::int32_t>(o.number("--pid").value_or(w.pid));
  w.address = static_cast<std::int32_t>(o.number("--address").value_or(w.address));
  w.timer = static_cast<std::int32_t>(o.number("--timer").value_or(w.timer));
  w.fix = static_cast<std::uint8_t>(o.number("--fix").value_or(w.fix));
  w.packetType = static_cast<PsiPacketType>(packet);
  w.autoCc = o.has("--auto-cc");
  return runRequest(inv, pageRequest(writePsiInstruction(w), kPsiNotice));
}

int read(Invocation& inv) {
  const auto address = inv.options().number("--address");
  if (!address) throw UsageError{"psi read: missing --address ADDR"};
  inv.json.fields["address"] = static_cast<int>(*address);
  return runRequest(inv, pageRequest(readPsiInstruction(static_cast<std::int32_t>(*address)), kPsiNotice,
                                     Present::PsiReadback));
}

}  // namespace

const Command kPsiSector{
    "psi sector",
    "  psi sector --sector 1..4 --start ADDR --end ADDR [--disabled]\n"
    "                         set a sector of the packet buffer (ADDR 0..131071, the start\n"
    "                         not after the end)\n"
    "                           tessaly-cli psi sector --sector 1 --start 0 --end 4095\n",
    "psi sector --sector 1..4 --start ADDR --end ADDR [--disabled]",
    1,
    {"--sector", "--start", "--end", "--disabled"},
    sector};

const Command kPsiErase{
    "psi erase",
    "  psi erase              erase the PSI inserter's flash\n"
    "                           tessaly-cli psi erase\n",
    "psi erase", 1, {}, erase};

const Command kPsiWrite{
    "psi write",
    "  psi write [--pid PID] [--address ADDR] [--timer N] [--packet ascending|descending|fix]\n"
    "        [--fix B] [--auto-cc]\n"
    "                         write a test packet (defaults: PID 1000, address 0, timer 10\n"
    "                         (0..16777215), ascending, fix byte 15 (0..255))\n"
    "                           tessaly-cli psi write --pid 100 --address 16 --packet fix --fix 255\n",
    "psi write [--pid PID] [--address ADDR] [--timer N] [--packet ascending|descending|fix] [--fix B] [--auto-cc]",
    1,
    {"--pid", "--address", "--timer", "--packet", "--fix", "--auto-cc"},
    write};

const Command kPsiRead{
    "psi read",
    "  psi read --address ADDR [--json]\n"
    "                         read back the flash at ADDR (the read instruction, then a Query);\n"
    "                         --json: one JSON object with the 256 bytes as numbers\n"
    "                           tessaly-cli psi read --address 16\n",
    "psi read --address ADDR", 1, {"--address", "--json"}, read};

}  // namespace tessaly::cli
