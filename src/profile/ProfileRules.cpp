#include "profile/ProfileRules.h"

#include <algorithm>
#include <set>

#include "clock/Pll.h"
#include "instructions/PageInstructions.h"

namespace tessaly::profile {

std::string clockSourceName(int source) {
  if (source == clockSource::Nco) return "nco";
  if (source == clockSource::Pll) return "pll";
  if (source == clockSource::External) return "external";
  if (source >= clockSource::Input1 && source < clockSource::Input1 + kInputCount)
    return "input" + std::to_string(source - clockSource::Input1 + 1);
  return std::to_string(source);
}

int clockSourceFromName(const std::string& name) {
  for (int s = clockSource::Nco; s <= clockSource::External; ++s)
    if (clockSourceName(s) == name) return s;
  return -1;
}

const char* pcrModeName(PcrMode m) {
  switch (m) {
    case PcrMode::On: return "on";
    case PcrMode::Direct: return "direct";
    case PcrMode::Off: break;
  }
  return "off";
}

std::uint8_t pcrModeByte(PcrMode m) { return pcrCorrectorMode(m != PcrMode::Off, m == PcrMode::Direct); }

namespace {

std::string range(std::int64_t lo, std::int64_t hi) { return std::to_string(lo) + ".." + std::to_string(hi); }

std::optional<Problem> outside(const std::string& where, const std::string& name, std::int64_t v, std::int64_t lo,
                               std::int64_t hi) {
  if (v >= lo && v <= hi) return std::nullopt;
  return Problem{where, name + " wants " + range(lo, hi) + ", not " + std::to_string(v)};
}

std::optional<Problem> identityProblem(const Identity& id) {
  if (auto p = outside("identity.sdi_address", "identity sdi_address", id.sdiAddress, 1, 15)) return p;
  if (id.userText.size() > 15)
    return Problem{"identity.user_text", "identity user_text wants at most 15 characters, not " +
                                             std::to_string(id.userText.size())};
  if (id.userText.find('\0') != std::string::npos)
    return Problem{"identity.user_text", "identity user_text cannot hold the character U+0000"};
  return std::nullopt;
}

std::optional<Problem> outputProblem(const OutputConfig& o) {
  if (o.packetSize != 188 && o.packetSize != 204)
    return Problem{"output.format", "output format wants 188 or 204, not " + std::to_string(o.packetSize)};
  if (o.clockSource < clockSource::Nco || o.clockSource > clockSource::External)
    return Problem{"output.clock", "output clock wants nco, pll, input1..input6 or external, not " +
                                       std::to_string(o.clockSource)};
  const bool nco = o.clockSource == clockSource::Nco, pll = o.clockSource == clockSource::Pll;
  if (nco && !o.ncoHz) return Problem{"output.clock", "output clock nco wants nco_hz, the NCO frequency"};
  if (pll && !o.pllHz) return Problem{"output.clock", "output clock pll wants pll_hz, the PLL frequency"};
  if (o.ncoHz && !nco) return Problem{"output.nco_hz", "output nco_hz goes with clock nco only"};
  if (o.pllHz && !pll) return Problem{"output.pll_hz", "output pll_hz goes with clock pll only"};
  if (o.ncoHz)
    if (auto p = outside("output.nco_hz", "output nco_hz", *o.ncoHz, kNcoMin, kNcoMax)) return p;
  if (o.pllHz) {
    if (auto p = outside("output.pll_hz", "output pll_hz", *o.pllHz, kPllMin, kPllMax)) return p;
    if (!searchPll(*o.pllHz).found)
      return Problem{"output.pll_hz", "output pll_hz " + std::to_string(*o.pllHz) + ": the PLL cannot make this frequency"};
  }
  return std::nullopt;
}

std::optional<Problem> sectorsProblem(const std::map<int, SectorConfig>& sectors) {
  for (const auto& [n, s] : sectors) {
    const std::string where = "sdram_sectors." + std::to_string(n), name = "sector " + std::to_string(n);
    if (auto p = outside(where, "sdram_sectors: a sector number", n, 1, kSectorCount)) return p;
    if (auto p = outside(where + ".start", name + " start", s.start, 0, kFlashAddressMax)) return p;
    if (auto p = outside(where + ".end", name + " end", s.end, 0, kFlashAddressMax)) return p;
    if (s.enabled && s.start > s.end)
      return Problem{where + ".start", name + " starts at " + std::to_string(s.start) + ", after its end " +
                                           std::to_string(s.end)};
    if (!s.enabled) continue;
    for (const auto& [m, o] : sectors) {
      if (m >= n) break;
      if (o.enabled && o.start <= s.end && s.start <= o.end)
        return Problem{where, name + " (" + range(s.start, s.end) + ") overlaps sector " + std::to_string(m) + " (" +
                                  range(o.start, o.end) + ")"};
    }
  }
  return std::nullopt;
}

std::optional<Problem> pidFilterProblem(const std::map<int, std::vector<PidEntry>>& filter) {
  for (const auto& [input, entries] : filter) {
    const std::string base = "pid_filter." + std::to_string(input), name = "pid_filter input " + std::to_string(input);
    if (auto p = outside(base, "pid_filter: an input", input, 1, kInputCount)) return p;
    std::set<std::int32_t> seen;
    for (std::size_t k = 0; k < entries.size(); ++k) {
      const std::string where = base + ".#" + std::to_string(k);
      const PidEntry& e = entries[k];
      if (auto p = outside(where + ".pid", name + ": pid", e.pid, 0, kPidMax)) return p;
      if (auto p = outside(where + ".remap", name + ": remap", e.outputPid, 0, kPidMax)) return p;
      if (!seen.insert(e.pid).second)
        return Problem{where + ".pid", name + ": PID " + std::to_string(e.pid) + " is named twice"};
    }
  }
  return std::nullopt;
}

std::optional<Problem> psiProblem(const Profile& pr) {
  if (!pr.psiRanges) {
    if (pr.psi.empty()) return std::nullopt;
    return Problem{"psi", "psi records want ranges: the flash addresses the profile holds"};
  }
  const auto& ranges = *pr.psiRanges;
  for (std::size_t k = 0; k < ranges.size(); ++k) {
    const std::string where = "psi.ranges.#" + std::to_string(k);
    const PsiRange& r = ranges[k];
    if (auto p = outside(where, "psi range first address", r.first, 0, kFlashAddressMax)) return p;
    if (auto p = outside(where, "psi range last address", r.last, 0, kFlashAddressMax)) return p;
    if (r.first > r.last)
      return Problem{where, "psi range " + std::to_string(r.first) + "-" + std::to_string(r.last) +
                                " starts after its end"};
    for (std::size_t j = 0; j < k; ++j)
      if (ranges[j].first <= r.last && r.first <= ranges[j].last)
        return Problem{where, "psi range " + std::to_string(r.first) + "-" + std::to_string(r.last) + " overlaps " +
                                  std::to_string(ranges[j].first) + "-" + std::to_string(ranges[j].last)};
  }
  std::set<std::int32_t> seen;
  for (std::size_t k = 0; k < pr.psi.size(); ++k) {
    const std::string where = "psi.records.#" + std::to_string(k);
    const PsiRecord& r = pr.psi[k];
    const std::string name = "psi record at " + std::to_string(r.address);
    const bool inside = std::any_of(ranges.begin(), ranges.end(),
                                    [&](const PsiRange& g) { return r.address >= g.first && r.address <= g.last; });
    if (!inside) return Problem{where + ".address", name + ": the address is outside the psi ranges"};
    if (!seen.insert(r.address).second) return Problem{where + ".address", name + ": the address is named twice"};
    if (auto p = outside(where + ".timer_ms", name + ": timer_ms", r.timerMs, 0, kPsiTimerMax)) return p;
    if (r.packet.size() != kPsiPacketSize)
      return Problem{where + ".packet", name + ": the packet wants " + std::to_string(kPsiPacketSize) + " bytes, not " +
                                            std::to_string(r.packet.size())};
  }
  return std::nullopt;
}

}  // namespace

std::optional<Problem> firstProblem(const Profile& p) {
  if (p.version != kProfileVersion)
    return Problem{"profile", "profile wants 1 (the format version this program reads), not " + std::to_string(p.version)};
  if (p.identity)
    if (auto r = identityProblem(*p.identity)) return r;
  if (p.output)
    if (auto r = outputProblem(*p.output)) return r;
  if (auto r = sectorsProblem(p.sectors)) return r;
  if (p.pcrCorrector)
    if (auto r = outside("pcr_corrector.test_pid", "pcr_corrector test_pid", p.pcrCorrector->testPid, 0, kPidMax))
      return r;
  if (auto r = pidFilterProblem(p.pidFilter)) return r;
  return psiProblem(p);
}

void sortProfile(Profile& p) {
  for (auto& [input, entries] : p.pidFilter)
    std::sort(entries.begin(), entries.end(), [](const PidEntry& a, const PidEntry& b) { return a.pid < b.pid; });
  if (p.psiRanges)
    std::sort(p.psiRanges->begin(), p.psiRanges->end(),
              [](const PsiRange& a, const PsiRange& b) { return a.first < b.first; });
  std::sort(p.psi.begin(), p.psi.end(), [](const PsiRecord& a, const PsiRecord& b) { return a.address < b.address; });
}

}  // namespace tessaly::profile
