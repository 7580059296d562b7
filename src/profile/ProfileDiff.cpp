#include "profile/ProfileDiff.h"

#include <set>

#include "clock/Pll.h"
#include "profile/ProfileRules.h"

namespace tessaly::profile {

namespace {

const std::string kAbsent = "absent";

std::string text(bool b) { return b ? "true" : "false"; }
std::string text(std::int64_t v) { return std::to_string(v); }
std::string text(const std::optional<std::int32_t>& v) { return v ? std::to_string(*v) : kAbsent; }

std::string hex(const Bytes& b) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (const std::uint8_t c : b) {
    out += digits[c >> 4];
    out += digits[c & 0x0F];
  }
  return out;
}

std::string ranges(const std::vector<PsiRange>& rs) {
  std::string out;
  for (const auto& r : rs) out += (out.empty() ? "" : ",") + std::to_string(r.first) + "-" + std::to_string(r.last);
  return out;
}

class Diff {
 public:
  template <typename T>
  void field(const std::string& name, const T& expected, const T& actual) {
    if (!(expected == actual)) out.push_back({name, text(expected), text(actual)});
  }
  void field(const std::string& name, const std::string& expected, const std::string& actual) {
    if (expected != actual) out.push_back({name, expected, actual});
  }
  void missing(const std::string& name, const std::string& expected) { out.push_back({name, expected, kAbsent}); }

  std::vector<Difference> out;
};

void identity(Diff& d, const Identity& e, const Identity& a) {
  d.field("identity.serial", std::int64_t{e.serial}, std::int64_t{a.serial});
  d.field("identity.type", std::int64_t{e.type}, std::int64_t{a.type});
  d.field("identity.user_text", e.userText, a.userText);
  d.field("identity.sdi_address", std::int64_t{e.sdiAddress}, std::int64_t{a.sdiAddress});
}

void inputs(Diff& d, const std::array<InputConfig, 6>& e, const std::array<InputConfig, 6>& a) {
  for (int n = 1; n <= kInputCount; ++n) {
    const auto i = static_cast<std::size_t>(n - 1);
    const std::string base = "inputs." + std::to_string(n) + ".";
    d.field(base + "enabled", e[i].enabled, a[i].enabled);
    d.field(base + "data_valid", e[i].dataValid, a[i].dataValid);
    d.field(base + "null_filter", e[i].nullFilter, a[i].nullFilter);
    d.field(base + "tsp_error_filter", e[i].tspErrorFilter, a[i].tspErrorFilter);
  }
}

void output(Diff& d, const OutputConfig& e, const OutputConfig& a) {
  d.field("output.format", std::int64_t{e.packetSize}, std::int64_t{a.packetSize});
  d.field("output.clock", clockSourceName(e.clockSource), clockSourceName(a.clockSource));
  d.field("output.priority", std::string(e.highPriority ? "high" : "normal"),
          std::string(a.highPriority ? "high" : "normal"));
  if (e.ncoHz) d.field("output.nco_hz", text(e.ncoHz), text(a.ncoHz));
  if (e.pllHz) {
    // The board makes what the PLL search reaches for the frequency asked (a profile
    // read from a board asks for what the board makes): compare where both land.
    const auto reach = [](const std::optional<std::int32_t>& f) -> std::optional<std::int32_t> {
      if (!f) return std::nullopt;
      const PllSettings s = searchPll(*f);
      return s.found ? s.OutputFrequency : *f;
    };
    d.field("output.pll_hz", text(reach(e.pllHz)), text(reach(a.pllHz)));
  }
}

void sectors(Diff& d, const std::map<int, SectorConfig>& e, const std::map<int, SectorConfig>& a) {
  for (const auto& [n, s] : e) {
    const std::string base = "sdram_sectors." + std::to_string(n);
    const auto it = a.find(n);
    if (it == a.end()) {
      d.missing(base, "present");
      continue;
    }
    d.field(base + ".enabled", s.enabled, it->second.enabled);
    d.field(base + ".start", std::int64_t{s.start}, std::int64_t{it->second.start});
    d.field(base + ".end", std::int64_t{s.end}, std::int64_t{it->second.end});
  }
}

void pidFilter(Diff& d, const std::map<int, std::vector<PidEntry>>& e, const std::map<int, std::vector<PidEntry>>& a) {
  for (const auto& [input, entries] : e) {
    const std::string base = "pid_filter." + std::to_string(input);
    const auto it = a.find(input);
    if (it == a.end()) {
      d.missing(base, std::to_string(entries.size()) + " entries");
      continue;
    }
    std::map<std::int32_t, std::int32_t> want, have;
    for (const auto& x : entries) want[x.pid] = x.outputPid;
    for (const auto& x : it->second) have[x.pid] = x.outputPid;
    std::set<std::int32_t> pids;
    for (const auto& [pid, out] : want) pids.insert(pid);
    for (const auto& [pid, out] : have) pids.insert(pid);
    for (const std::int32_t pid : pids) {
      const auto w = want.find(pid), h = have.find(pid);
      d.field(base + "." + std::to_string(pid), w == want.end() ? kAbsent : std::to_string(w->second),
              h == have.end() ? kAbsent : std::to_string(h->second));
    }
  }
}

bool covered(const std::vector<PsiRange>& rs, std::int32_t address) {
  for (const auto& r : rs)
    if (address >= r.first && address <= r.last) return true;
  return false;
}

void psi(Diff& d, const Profile& e, const Profile& a) {
  if (!a.psiRanges) {
    d.missing("psi", ranges(*e.psiRanges));
    return;
  }
  // Every expected address must have been read.
  bool all = true;
  for (const auto& r : *e.psiRanges)
    for (std::int32_t x = r.first; x <= r.last && all; ++x) all = covered(*a.psiRanges, x);
  if (!all) d.field("psi.ranges", ranges(*e.psiRanges), ranges(*a.psiRanges));
  std::map<std::int32_t, const PsiRecord*> want, have;
  for (const auto& r : e.psi) want[r.address] = &r;
  for (const auto& r : a.psi)
    if (covered(*e.psiRanges, r.address)) have[r.address] = &r;
  std::set<std::int32_t> addresses;
  for (const auto& [x, r] : want) addresses.insert(x);
  for (const auto& [x, r] : have) addresses.insert(x);
  for (const std::int32_t x : addresses) {
    if (!covered(*a.psiRanges, x)) continue;
    const std::string base = "psi." + std::to_string(x);
    const auto w = want.find(x), h = have.find(x);
    if (w == want.end() || h == have.end()) {
      d.field(base, w == want.end() ? kAbsent : std::string("record"), h == have.end() ? kAbsent : std::string("record"));
      continue;
    }
    d.field(base + ".timer_ms", std::int64_t{w->second->timerMs}, std::int64_t{h->second->timerMs});
    d.field(base + ".auto_cc", w->second->autoCc, h->second->autoCc);
    d.field(base + ".packet", hex(w->second->packet), hex(h->second->packet));
  }
}

}  // namespace

std::vector<Difference> diffProfiles(const Profile& e, const Profile& a) {
  Diff d;
  if (e.identity) {
    if (a.identity) identity(d, *e.identity, *a.identity);
    else d.missing("identity", "present");
  }
  if (e.inputs) {
    if (a.inputs) inputs(d, *e.inputs, *a.inputs);
    else d.missing("inputs", "present");
  }
  if (e.output) {
    if (a.output) output(d, *e.output, *a.output);
    else d.missing("output", "present");
  }
  sectors(d, e.sectors, a.sectors);
  if (e.pcrCorrector) {
    if (a.pcrCorrector) {
      d.field("pcr_corrector.mode", std::string(pcrModeName(e.pcrCorrector->mode)),
              std::string(pcrModeName(a.pcrCorrector->mode)));
      d.field("pcr_corrector.test_pid", std::int64_t{e.pcrCorrector->testPid}, std::int64_t{a.pcrCorrector->testPid});
    } else {
      d.missing("pcr_corrector", "present");
    }
  }
  pidFilter(d, e.pidFilter, a.pidFilter);
  if (e.psiRanges) psi(d, e, a);
  return d.out;
}

}  // namespace tessaly::profile
