#include "status/Decode.h"

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
  b.seek(base + block::DeviceType);
  d.DeviceType = static_cast<std::uint16_t>(b.read(2));
  d.SerialNumber = static_cast<std::int32_t>(b.read(4));
  d.AddressByte = static_cast<std::uint8_t>(b.read(1));
  d.InstructionCounter = static_cast<std::uint8_t>(b.read(1));
  d.VersionMajor = static_cast<std::uint8_t>(b.read(1));
  d.VersionMinor = static_cast<std::uint8_t>(b.read(1));
  d.VersionText = versionText(d.VersionMajor, d.VersionMinor);
  d.ChannelEnable = static_cast<std::uint8_t>(b.read(1));
  d.DataValidEnable = static_cast<std::uint8_t>(b.read(1));
  d.NullFilterEnable = static_cast<std::uint8_t>(b.read(1));
  d.TspFilterEnable = static_cast<std::uint8_t>(b.read(1));
  d.OutputFormat = static_cast<std::uint8_t>(b.read(1));
  d.IicError = static_cast<std::uint8_t>(b.read(1));
  d.NcoFrequency = static_cast<std::int32_t>(b.read(4));
  d.PDiv = static_cast<std::int32_t>(b.read(2) & 0x3FF);
  d.PllWord = b.read(4);
  d.PllFrequency = PllFrequencyFromWord(d.PDiv, d.PllWord);
  d.PidFilterState = static_cast<std::uint8_t>(b.read(1));
  d.IntRError = static_cast<std::uint8_t>(b.read(1));
  d.ReadbackKind = static_cast<std::uint8_t>(b.read(1));
  d.LedFlags = static_cast<std::uint8_t>(b.read(1));
  d.PsiInserterState = static_cast<std::uint8_t>(b.read(1));
  d.PcrState = static_cast<std::uint8_t>(b.read(1));
  d.TestPid = static_cast<std::int32_t>(b.read(2) & 0x1FFF);
  d.MpxVersion = static_cast<std::uint8_t>(b.read(1));
  d.SppVersion = static_cast<std::uint8_t>(b.read(1));
  d.Model = static_cast<std::uint8_t>(b.read(1));

  b.seek(base + block::InputStatus);
  for (int i = 1; i <= 6; ++i) d.PrevInputStatus[i] = d.InputStatus[i];
  for (int i = 1; i <= 6; ++i) {
    d.InputStatus[i] = b.read(4);
    const std::int64_t packets = d.InputStatus[i] & 0xFFFFF;
    const std::int64_t bits = (d.InputStatus[i] & (1u << 23)) ? 1504 : 1632;
    d.InputRate[i] = static_cast<std::int32_t>(packets * bits / 1000);
  }

  d.SdramInputRate = static_cast<std::int32_t>(b.read(3) & 0xFFFFF);
  const std::uint32_t sdram = b.read(3);
  d.SdramOverflow = (sdram >> 22) & 1;
  d.PcrPause = (sdram >> 21) & 1;
  d.SdramUsage = static_cast<std::int32_t>(sdram & 0xFFFF);
  d.NullPacketRate = static_cast<std::int32_t>(b.read(3) & 0xFFFFF);
  d.InsertedPacketRate = static_cast<std::int32_t>(b.read(3) & 0xFFFFF);
  d.PcrDiscontinuity = static_cast<std::uint8_t>(b.read(1));
  d.PcrPidCount = static_cast<std::int32_t>(b.read(2) & 0x1FFF);
  d.PcrBaseError = static_cast<std::int32_t>(b.read(2));
  d.PcrSlide = static_cast<std::int32_t>(b.read(2)) - 32768;
  d.LargePcrErrors = static_cast<std::uint8_t>(b.read(1));
  d.NewPcrPidCount = static_cast<std::uint8_t>(b.read(1));

  b.seek(base + block::Sectors);
  for (int k = 1; k <= 12; ++k) {
    const std::uint32_t flags = b.read(1);
    const std::int32_t start = static_cast<std::int32_t>(b.read(2));
    const std::int32_t end = static_cast<std::int32_t>(b.read(2));
    d.SectorEnable[k] = (flags & 0x80) != 0;
    d.SectorStart[k] = start + ((flags & 0x02) ? 65536 : 0);
    d.SectorEnd[k] = end + ((flags & 0x01) ? 65536 : 0);
  }

  b.seek(base + block::Readback);
  for (auto& byte : d.ReadbackData) byte = static_cast<std::uint8_t>(b.read(1));
}

}  // namespace tessaly
