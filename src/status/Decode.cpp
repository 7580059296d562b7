#include "status/Decode.h"

#include "status/StatusFields.h"

namespace tessaly {

std::string versionText(std::uint8_t major, std::uint8_t minor) {
  const std::string frac = std::to_string(static_cast<int>(minor) + 1000);
  return std::to_string(major) + "." + frac.substr(2, 2);
}

std::int32_t PllFrequencyFromWord(std::int32_t pdiv, std::uint32_t word) {
  const std::int64_t PDiv = pdiv & 0x3FF;
  const std::int64_t N = (word >> 20) & 0xFFF;
  const std::int64_t R = (word >> 11) & 0x1FF;
  const std::int64_t Q = (word >> 5) & 0x3F;
  const std::int64_t P = (word >> 2) & 0x7;
  if (N == 0 || Q == 0 || PDiv == 0) return 0;
  const std::int64_t M = (N * (std::int64_t{1} << P) - R) / Q;
  // A word not made by the PLL search may give no usable reference divider
  // (zero or negative): report 0 rather than divide by it.
  if (M <= 0) return 0;
  const std::int64_t f = (std::int64_t{kReferenceClockHz} * N) / (M * PDiv);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(f) & 0xFFFFFFFFu));
}

void DecodeStatus(tZODADevice& d, ReceiveBuffer& b) {
  const std::size_t base = d.AnswerBase < 0 ? 0 : static_cast<std::size_t>(d.AnswerBase);
  using F = StatusField;
  const auto u = [&](F f, int n = 1) { return readStatusField(b, base, f, n); };
  const auto u8 = [&](F f) { return static_cast<std::uint8_t>(u(f)); };
  const auto i32 = [&](F f) { return static_cast<std::int32_t>(u(f)); };
  d.DeviceType = static_cast<std::uint16_t>(u(F::DeviceType));
  d.SerialNumber = i32(F::Serial);
  d.AddressByte = u8(F::AddressByte);
  d.InstructionCounter = u8(F::InstructionCounter);
  d.VersionMajor = u8(F::VersionMajor);
  d.VersionMinor = u8(F::VersionMinor);
  d.VersionText = versionText(d.VersionMajor, d.VersionMinor);
  d.ChannelEnable = u8(F::ChannelEnable);
  d.DataValidEnable = u8(F::DataValidEnable);
  d.NullFilterEnable = u8(F::NullFilterEnable);
  d.TspFilterEnable = u8(F::TspFilterEnable);
  d.OutputFormat = u8(F::OutputFormat);
  d.IicError = u8(F::IicError);
  d.NcoFrequency = i32(F::Nco);
  d.PDiv = i32(F::PDiv);
  d.PllWord = u(F::PllWord);
  d.PllFrequency = PllFrequencyFromWord(d.PDiv, d.PllWord);
  d.PidFilterState = u8(F::PidFilterState);
  d.IntRError = u8(F::IntRError);
  d.ReadbackKind = u8(F::ReadbackKind);
  d.LedFlags = u8(F::LedFlags);
  d.PsiInserterState = u8(F::PsiInserterState);
  d.PcrState = u8(F::PcrState);
  d.TestPid = i32(F::TestPid);
  d.MpxVersion = u8(F::MpxVersion);
  d.SppVersion = u8(F::SppVersion);
  d.Model = u8(F::Model);

  for (int i = 1; i <= 6; ++i) d.PrevInputStatus[i] = d.InputStatus[i];
  for (int i = 1; i <= 6; ++i) {
    d.InputStatus[i] = u(F::InputWord, i);
    d.InputRate[i] = inputStatusWord(d.InputStatus[i]).rateKbps();
  }

  d.SdramInputRate = i32(F::SdramInputRate);
  d.SdramOverflow = u(F::SdramOverflow) != 0;
  d.PcrPause = u(F::PcrPause) != 0;
  d.SdramUsage = i32(F::SdramUsage);
  d.NullPacketRate = i32(F::NullPacketRate);
  d.InsertedPacketRate = i32(F::InsertedPacketRate);
  d.PcrDiscontinuity = u8(F::PcrDiscontinuity);
  d.PcrPidCount = i32(F::PcrPidCount);
  d.PcrBaseError = i32(F::PcrBaseError);
  d.PcrSlide = i32(F::PcrSlideWord) - 32768;
  d.LargePcrErrors = u8(F::LargePcrErrors);
  d.NewPcrPidCount = u8(F::NewPcrPidCount);

  for (int k = 1; k <= 12; ++k) {
    d.SectorEnable[k] = u(F::SectorEnable, k) != 0;
    d.SectorStart[k] = static_cast<std::int32_t>(u(F::SectorStart, k)) + (u(F::SectorStartHigh, k) ? 65536 : 0);
    d.SectorEnd[k] = static_cast<std::int32_t>(u(F::SectorEnd, k)) + (u(F::SectorEndHigh, k) ? 65536 : 0);
  }

  const std::size_t readback = base + static_cast<std::size_t>(fieldOffset(F::Readback));
  for (std::size_t i = 0; i < d.ReadbackData.size(); ++i) d.ReadbackData[i] = b.at(readback + i);
}

}  // namespace tessaly
