#pragma once
// A board's configuration as data: what a profile file names, what an export reads
// back from a board and what an apply brings a board to. A section that is absent
// (an empty optional, an input or sector missing from its map) is not part of the
// profile: apply leaves it alone, diff ignores it.
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "instructions/GeneralInstructions.h"
#include "text/Bytes.h"

namespace tessaly::profile {

constexpr int kProfileVersion = 1;
constexpr int kInputCount = 6;
constexpr int kSectorCount = 12;
constexpr std::size_t kPsiPacketSize = 204;

struct InputConfig {
  bool enabled = false, dataValid = false, nullFilter = false, tspErrorFilter = false;
  bool operator==(const InputConfig& o) const {
    return enabled == o.enabled && dataValid == o.dataValid && nullFilter == o.nullFilter &&
           tspErrorFilter == o.tspErrorFilter;
  }
  bool operator!=(const InputConfig& o) const { return !(*this == o); }
};

struct OutputConfig {
  int packetSize = 188;                  // 188 | 204
  int clockSource = clockSource::Nco;    // 0 nco, 1 pll, 2..7 input 1..6, 8 external
  bool highPriority = false;             // PSI inserter priority
  std::optional<std::int32_t> ncoHz;     // with clock source nco
  std::optional<std::int32_t> pllHz;     // with clock source pll
  bool operator==(const OutputConfig& o) const {
    return packetSize == o.packetSize && clockSource == o.clockSource && highPriority == o.highPriority &&
           ncoHz == o.ncoHz && pllHz == o.pllHz;
  }
  bool operator!=(const OutputConfig& o) const { return !(*this == o); }
};

// Packet-buffer addresses 0..131071, inclusive.
struct SectorConfig {
  bool enabled = false;
  std::int32_t start = 0, end = 0;
  bool operator==(const SectorConfig& o) const { return enabled == o.enabled && start == o.start && end == o.end; }
  bool operator!=(const SectorConfig& o) const { return !(*this == o); }
};

enum class PcrMode { Off, On, Direct };  // mode byte 0x00, 0x01, 0x11

struct PcrCorrectorConfig {
  PcrMode mode = PcrMode::Off;
  std::int32_t testPid = 0;
  bool operator==(const PcrCorrectorConfig& o) const { return mode == o.mode && testPid == o.testPid; }
  bool operator!=(const PcrCorrectorConfig& o) const { return !(*this == o); }
};

// A PID that passes, under outputPid (== pid unless remapped).
struct PidEntry {
  std::int32_t pid = 0;
  std::int32_t outputPid = 0;
  bool operator==(const PidEntry& o) const { return pid == o.pid && outputPid == o.outputPid; }
  bool operator!=(const PidEntry& o) const { return !(*this == o); }
};

// PSI flash addresses, inclusive.
struct PsiRange {
  std::int32_t first = 0, last = 0;
  bool operator==(const PsiRange& o) const { return first == o.first && last == o.last; }
  bool operator!=(const PsiRange& o) const { return !(*this == o); }
};

struct PsiRecord {
  std::int32_t address = 0;
  std::int32_t timerMs = 0;
  bool autoCc = false;
  Bytes packet;  // 204 bytes
  bool operator==(const PsiRecord& o) const {
    return address == o.address && timerMs == o.timerMs && autoCc == o.autoCc && packet == o.packet;
  }
  bool operator!=(const PsiRecord& o) const { return !(*this == o); }
};

struct Identity {
  std::uint32_t serial = 0;
  std::uint16_t type = 0;
  std::string userText;
  int sdiAddress = 1;
  bool operator==(const Identity& o) const {
    return serial == o.serial && type == o.type && userText == o.userText && sdiAddress == o.sdiAddress;
  }
  bool operator!=(const Identity& o) const { return !(*this == o); }
};

struct Profile {
  int version = kProfileVersion;
  std::optional<Identity> identity;                    // only when asked for
  std::optional<std::array<InputConfig, 6>> inputs;
  std::optional<OutputConfig> output;
  std::map<int, SectorConfig> sectors;                 // sector 1..12; absent: not named
  std::optional<PcrCorrectorConfig> pcrCorrector;
  std::map<int, std::vector<PidEntry>> pidFilter;      // input 1..6 -> entries by pid; absent: not named
  std::optional<std::vector<PsiRange>> psiRanges;      // absent: the PSI flash is not part of the profile
  std::vector<PsiRecord> psi;                          // the records in psiRanges that are not erased, by address
  bool operator==(const Profile& o) const {
    return version == o.version && identity == o.identity && inputs == o.inputs && output == o.output &&
           sectors == o.sectors && pcrCorrector == o.pcrCorrector && pidFilter == o.pidFilter &&
           psiRanges == o.psiRanges && psi == o.psi;
  }
  bool operator!=(const Profile& o) const { return !(*this == o); }
};

// A profile that cannot be read: "FILE:LINE:COLUMN: what is wrong" or "FILE: why".
class ProfileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tessaly::profile
