// pcr-corrector: the PCR Corrector page's switches.
#include "cli/DeviceRun.h"
#include "cli/commands/Commands.h"

namespace tessaly::cli {
namespace {

const NoticeCodes kPcrNotice{state::PcrWait, state::PcrGot, kCommErrorText};

int mode(Invocation& inv) {
  const std::string& m = inv.args()[1];
  if (m != "off" && m != "on" && m != "direct")
    throw UsageError{"pcr-corrector mode: '" + m + "' is none of off, on, direct"};
  return runRequest(inv, pageRequest(setPcrCorrectorInstruction(m != "off", m == "direct"), kPcrNotice));
}

int testPid(Invocation& inv) {
  const auto pid = static_cast<std::int32_t>(number("pcr-corrector test-pid", inv.args()[1], 0, kPidMax));
  return runRequest(inv, pageRequest(setTestPcrPidInstruction(pid), kPcrNotice));
}

}  // namespace

const Command kPcrCorrectorMode{
    "pcr-corrector mode",
    "  pcr-corrector mode off|on|direct\n"
    "                         switch the PCR corrector off, on, or on with direct re-stamping\n"
    "                           tessaly-cli pcr-corrector mode on\n",
    "pcr-corrector mode off|on|direct", 2, {}, mode};

const Command kPcrCorrectorTestPid{
    "pcr-corrector test-pid",
    "  pcr-corrector test-pid PID\n"
    "                         set the corrector's test PID (0..8191)\n"
    "                           tessaly-cli pcr-corrector test-pid 1000\n",
    "pcr-corrector test-pid PID", 2, {}, testPid};

}  // namespace tessaly::cli
