#include "profile/ProfileStatus.h"

#include <algorithm>

#include "clock/Pll.h"
#include "protocol/Protocol.h"

namespace tessaly::profile {

namespace {

bool bit(std::uint8_t mask, int input) { return ((mask >> (input - 1)) & 1u) != 0; }

PcrMode pcrModeOf(std::uint8_t state) {
  if ((state & 0x01) == 0) return PcrMode::Off;
  return (state & 0x10) != 0 ? PcrMode::Direct : PcrMode::On;
}

constexpr std::size_t kRecordSize = 3 + 1 + kPsiPacketSize;

// The frequency to ask for so that the PLL search lands where the board is. The
// board's frequency is truncated to whole hertz, and asking for it can land one
// hertz lower; asking for the next one up lands on it then. So a profile read from
// a board and applied to another makes the same frequency, and reads back the same.
std::int32_t pllRequestFor(std::int32_t boardHz) {
  if (boardHz < kPllMin || boardHz >= kPllMax) return boardHz;
  for (const std::int32_t ask : {boardHz, boardHz + 1}) {
    const PllSettings s = searchPll(ask);
    if (s.found && s.OutputFrequency == boardHz) return ask;
  }
  return boardHz;
}

}  // namespace

StatusBlockExtras statusBlockExtras(const std::uint8_t* block, std::size_t size) {
  StatusBlockExtras out;
  const auto textAt = static_cast<std::size_t>(block::UserText);
  for (std::size_t k = 0; k < kLabelSize && textAt + k < size; ++k) {
    const auto c = static_cast<char>(block[textAt + k]);
    if (c == '\0') break;
    out.userText += c;
  }
  const auto priorityAt = static_cast<std::size_t>(block::PsiPriority);
  if (priorityAt < size) out.highPriority = block[priorityAt] != 0;
  return out;
}

Profile profileFromStatus(const tZODADevice& d, bool withIdentity, const StatusBlockExtras& extras) {
  Profile p;
  if (withIdentity) {
    Identity id;
    id.serial = static_cast<std::uint32_t>(d.SerialNumber);
    id.type = d.DeviceType;
    id.userText = extras.userText;
    id.sdiAddress = d.AddressByte & 0x0F;
    p.identity = id;
  }
  std::array<InputConfig, 6> inputs{};
  for (int n = 1; n <= kInputCount; ++n) {
    InputConfig& in = inputs[static_cast<std::size_t>(n - 1)];
    in.enabled = bit(d.ChannelEnable, n);
    in.dataValid = bit(d.DataValidEnable, n);
    in.nullFilter = bit(d.NullFilterEnable, n);
    in.tspErrorFilter = bit(d.TspFilterEnable, n);
  }
  p.inputs = inputs;
  OutputConfig out;
  out.packetSize = (d.OutputFormat & 0x80) != 0 ? 188 : 204;
  // The low four bits: what the stream-format instruction sets.
  out.clockSource = d.OutputFormat & 0x0F;
  out.highPriority = extras.highPriority;
  if (out.clockSource == clockSource::Nco) out.ncoHz = d.NcoFrequency;
  if (out.clockSource == clockSource::Pll) out.pllHz = pllRequestFor(d.PllFrequency);
  p.output = out;
  for (int k = 1; k <= kSectorCount; ++k) {
    const auto i = static_cast<std::size_t>(k);
    p.sectors[k] = SectorConfig{d.SectorEnable[i], d.SectorStart[i], d.SectorEnd[i]};
  }
  p.pcrCorrector = PcrCorrectorConfig{pcrModeOf(d.PcrState), d.TestPid};
  return p;
}

Profile profileFromStatus(const tZODADevice& d, bool withIdentity, const std::string& userText) {
  StatusBlockExtras extras;
  extras.userText = userText.substr(0, std::min(userText.find('\0'), userText.size()));
  return profileFromStatus(d, withIdentity, extras);
}

std::vector<PidEntry> pidEntriesFromReadback(std::int32_t startPid, const std::array<std::uint8_t, 256>& data) {
  std::vector<PidEntry> out;
  for (int k = 0; k < kPidsPerRead; ++k) {
    const std::int32_t pid = startPid + k;
    if (pid < 0 || pid > 8191) break;
    const auto at = static_cast<std::size_t>(2 * k);
    const unsigned word = (static_cast<unsigned>(data[at]) << 8) | data[at + 1];
    if (word == 0xFFFF || (word & 0x8000u) == 0) continue;
    out.push_back(PidEntry{pid, static_cast<std::int32_t>(word & 0x1FFFu)});
  }
  return out;
}

std::optional<PsiRecord> psiRecordFromReadback(std::int32_t address, const std::array<std::uint8_t, 256>& data) {
  if (std::all_of(data.begin(), data.begin() + kRecordSize, [](std::uint8_t b) { return b == 0xFF; }))
    return std::nullopt;
  PsiRecord r;
  r.address = address;
  r.timerMs = (data[0] << 16) | (data[1] << 8) | data[2];
  r.autoCc = data[3] != 0;
  r.packet.assign(data.begin() + 4, data.begin() + kRecordSize);
  return r;
}

}  // namespace tessaly::profile
