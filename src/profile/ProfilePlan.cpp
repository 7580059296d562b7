#include "profile/ProfilePlan.h"

#include "instructions/GeneralInstructions.h"
#include "instructions/PageInstructions.h"
#include "profile/ProfileRules.h"
#include "profile/ProfileYaml.h"

namespace tessaly::profile {

namespace {

ApplyStep step(std::string what, const LabelledInstruction& i, ApplyStep::Wait after = ApplyStep::Notice) {
  return ApplyStep{std::move(what), i.label, i.sdiMessage(), after};
}

std::string onOff(bool b) { return b ? "on" : "off"; }

}  // namespace

std::vector<ApplyStep> applyPlan(const Profile& p) {
  std::vector<ApplyStep> plan;
  if (p.identity) {
    const Identity& id = *p.identity;
    plan.push_back(step("Identity: serial " + std::to_string(id.serial), setSerialInstruction(id.serial)));
    plan.push_back(step("Identity: type " + std::to_string(id.type), setTypeInstruction(id.type)));
    plan.push_back(step("Identity: user text " + quotedText(id.userText), setUserTextInstruction(id.userText)));
  }
  if (p.inputs) {
    GeneralFilterBoxes boxes;
    std::string what = "Inputs:";
    for (std::size_t i = 0; i < boxes.enable.size(); ++i) {
      const InputConfig& in = (*p.inputs)[i];
      boxes.enable[i] = in.enabled;
      boxes.dataValid[i] = in.dataValid;
      boxes.nullPacket[i] = in.nullFilter;
      boxes.tspError[i] = in.tspErrorFilter;
      what += " " + std::to_string(i + 1) + " " + onOff(in.enabled);
    }
    plan.push_back(step(what, setGeneralFilterInstruction(boxes)));
  }
  if (p.output) {
    const OutputConfig& o = *p.output;
    StreamFormat f;
    f.clockSource = o.clockSource;
    f.packetSize = o.packetSize;
    f.highPriority = o.highPriority;
    std::string what = "Output: " + std::to_string(o.packetSize) + "-byte packets, clock " + clockSourceName(o.clockSource);
    if (o.ncoHz) f.ncoHz = *o.ncoHz, what += " " + std::to_string(*o.ncoHz) + " Hz";
    if (o.pllHz) f.pllHz = *o.pllHz, what += " " + std::to_string(*o.pllHz) + " Hz";
    what += std::string(", priority ") + (o.highPriority ? "high" : "normal");
    const StreamFormatMessage m = streamFormatMessage(f);
    plan.push_back(ApplyStep{what, m.label, m.sdiMessage(), ApplyStep::Notice});
  }
  for (const auto& [n, s] : p.sectors) {
    if (const auto i = sectorInstruction(n, s.enabled, s.start, s.end))
      plan.push_back(step("SDRAM sector " + std::to_string(n) + ": " + (s.enabled ? "enabled " : "disabled ") +
                              std::to_string(s.start) + ".." + std::to_string(s.end),
                          *i));
  }
  if (p.pcrCorrector) {
    const PcrMode m = p.pcrCorrector->mode;
    plan.push_back(step(std::string("PCR corrector: mode ") + pcrModeName(m),
                        setPcrCorrectorInstruction(m != PcrMode::Off, m == PcrMode::Direct)));
    plan.push_back(step("PCR corrector: test PID " + std::to_string(p.pcrCorrector->testPid),
                        setTestPcrPidInstruction(p.pcrCorrector->testPid)));
  }
  if (!p.pidFilter.empty()) {
    // The erase clears every input's entries; the flash takes a while to be free.
    plan.push_back(step("PID filter: erase", erasePidFilterInstruction(), ApplyStep::FlashPidFree));
    for (const auto& [input, entries] : p.pidFilter)
      for (const PidEntry& e : entries)
        plan.push_back(step("PID filter: input " + std::to_string(input) + " PID " + std::to_string(e.pid) + " -> " +
                                std::to_string(e.outputPid),
                            writePidFilterInstruction(input, e.pid, e.outputPid)));
  }
  if (p.psiRanges) {
    plan.push_back(step("PSI flash: erase", erasePsiInstruction(), ApplyStep::FlashPsiFree));
    for (const PsiRecord& r : p.psi)
      plan.push_back(step("PSI flash: record at " + std::to_string(r.address) + ", timer " + std::to_string(r.timerMs) +
                              " ms, auto CC " + onOff(r.autoCc),
                          writePsiRecordInstruction(r.address, r.timerMs, r.autoCc, r.packet)));
  }
  // Last of all: after it the board answers at its new address.
  if (p.identity)
    plan.push_back(step("Identity: SDI address " + std::to_string(p.identity->sdiAddress),
                        setAddressInstruction(static_cast<std::uint8_t>(p.identity->sdiAddress))));
  return plan;
}

bool replacesUnnamedPidInputs(const Profile& p) {
  return !p.pidFilter.empty() && p.pidFilter.size() < static_cast<std::size_t>(kInputCount);
}

}  // namespace tessaly::profile
