#include "status/StatusReport.h"

#include <cstdio>

#include "status/StatusFields.h"
#include "text/Bytes.h"
#include "text/Hex.h"

namespace tessaly {

namespace {

std::string dec(std::int64_t v) { return std::to_string(v); }
std::string hex2(std::uint32_t v) { return upperHex(v, 2); }
bool bit(std::uint32_t v, int n) { return ((v >> n) & 1u) != 0; }
bool flag(StatusField f, std::uint32_t v) { return fieldOf(f, v) != 0; }
// "Label: " of a field in the report.
std::string label(StatusField f) { return std::string(statusField(f).label) + ": "; }

// " h0011 h2233 ..." : one space, then `groups` groups of two bytes from `from`.
std::string dumpLine(const tZODADevice& d, int from, int groups) {
  std::string line = " ";
  for (int g = 0; g < groups; ++g) {
    line += 'h';
    line += hex2(d.ReadbackData[static_cast<std::size_t>(from + 2 * g)]);
    line += hex2(d.ReadbackData[static_cast<std::size_t>(from + 2 * g + 1)]);
    line += ' ';
  }
  return line;
}

}  // namespace

std::string fixed3(double value, std::string_view decimalPoint) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3f", value);
  const std::string s = buf;
  // Whatever separator the C library's locale put between the integer digits and
  // the last three digits gives way to the one asked for.
  std::size_t intEnd = (!s.empty() && s[0] == '-') ? 1 : 0;
  while (intEnd < s.size() && s[intEnd] >= '0' && s[intEnd] <= '9') ++intEnd;
  if (s.size() < intEnd + 3) return s;  // inf or nan: no fraction to separate
  return s.substr(0, intEnd) + std::string(decimalPoint) + s.substr(s.size() - 3);
}

std::string deviceCodeText(const tZODADevice& d) {
  return label(StatusField::DeviceCode) + "h1A (v" + d.VersionText + ")";
}

int addressItemIndex(const tZODADevice& d) { return (d.AddressByte & 15) - 1; }

std::vector<std::string> statusReportLines(const tZODADevice& d) {
  using F = StatusField;
  std::vector<std::string> l;
  l.reserve(100);
  l.push_back(label(F::Version) + "v" + d.VersionText);
  l.push_back(label(F::MpxVersion) + "v" + dec(d.MpxVersion));
  l.push_back(label(F::SppVersion) + "v" + dec(d.SppVersion));
  l.push_back(label(F::Model) + dec(d.Model));
  if (d.Model < 2) l.push_back(" ASI Remultiplexer 6QV");
  l.push_back(label(F::DeviceType) + dec(d.DeviceType));
  l.push_back(label(F::Serial) + dec(d.SerialNumber));
  l.push_back(label(F::SdiAddress) + dec(fieldOf(F::SdiAddress, d.AddressByte)) +
              (flag(F::AddressJumper, d.AddressByte) ? " (jumper selected)" : " "));
  l.push_back(label(F::InstructionCounter) + dec(d.InstructionCounter));
  l.push_back(label(F::IicError) + "h" + hex2(d.IicError));
  l.push_back(label(F::LedFlags) + "h" + hex2(d.LedFlags));
  if (bit(d.LedFlags, 0)) l.push_back(" TS Input Overflow LED: On");
  if (bit(d.LedFlags, 1)) l.push_back(" SDRAM Overflow LED: On");
  if (bit(d.LedFlags, 2)) l.push_back(" PSI Overflow LED: On");
  if (bit(d.LedFlags, 3)) l.push_back(" Stream LED: On");
  if (bit(d.LedFlags, 7)) l.push_back(" Power On LED: On");
  l.push_back(label(F::Nco) + dec(d.NcoFrequency) + " Hz");
  l.push_back(label(F::PllFrequency) + dec(d.PllFrequency) + " Hz (" + std::string(statusField(F::PDiv).label) + " = " +
              dec(d.PDiv) + ")");

  l.push_back(label(F::OutputFormat188) + (flag(F::OutputFormat188, d.OutputFormat) ? "188" : "204"));
  const int clock = static_cast<int>(fieldOf(F::ClockSelect, d.OutputFormat));
  l.push_back(label(F::ClockSelect) + dec(clock));
  if (clock == 1)
    l.push_back(" PLL (" + dec(d.PllFrequency) + " Hz)");
  else if (clock >= 2 && clock <= 7)
    l.push_back(" TS Input " + dec(clock - 1) + " Clock");
  else if (clock == 8)
    l.push_back(" External Clock Source");
  else
    l.push_back(" NCO (" + dec(d.NcoFrequency) + " Hz)");

  l.push_back(" ");
  l.push_back("PID Filter");
  l.push_back(" " + label(F::PidFilterState) + "h" + hex2(d.PidFilterState));
  l.push_back(flag(F::PidFlashBusy, d.PidFilterState) ? " Flash is busy." : " Flash is free.");

  for (int n = 1; n <= 6; ++n) {
    const InputStatusWord w = inputStatusWord(d.InputStatus[static_cast<std::size_t>(n)]);
    const int b = n - 1;
    l.push_back(" ");
    l.push_back("Input Channel #" + dec(n));
    l.push_back(bit(d.ChannelEnable, b) ? " Channel enabled" : " Channel disabled");
    l.push_back(bit(d.DataValidEnable, b) ? " DataValid pin enabled" : " DataValid disabled");
    l.push_back(bit(d.NullFilterEnable, b) ? " Null Packet Filter on" : " Null Packet Filter off");
    l.push_back(bit(d.TspFilterEnable, b) ? " TSP Error Filter on" : " TSP Error Filter off");
    l.push_back(" " + label(F::InputPackets) + dec(w.packetsPerSec) + " / sec");
    l.push_back(" " + label(F::InputRate) + dec(d.InputRate[static_cast<std::size_t>(n)]) + " kbps");
    l.push_back(" " + label(F::InputSyncErrors) + dec(w.syncErrors));
    l.push_back(" " + label(F::InputFormat188) + (w.format188 ? "188" : "204"));
    l.push_back(" " + label(F::InputOverflow) + (w.overflow ? "On" : "Off"));
  }

  l.push_back(" ");
  l.push_back("SDRAM");
  l.push_back(" " + label(F::SdramInputRate) + dec(d.SdramInputRate) + " packet/sec");
  l.push_back(" " + label(F::SdramUsage) + dec(d.SdramUsage) + " packet(s)");
  l.push_back(" " + label(F::SdramOverflow) + (d.SdramOverflow ? "On" : "Off"));
  l.push_back(" " + label(F::PcrPause) + (d.PcrPause ? "On" : "Off"));
  l.push_back(" " + label(F::NullPacketRate) + dec(d.NullPacketRate) + " packet/sec");

  l.push_back(" ");
  l.push_back("PSI Inserter");
  l.push_back(" " + label(F::PsiInserterState) + "h" + hex2(d.PsiInserterState));
  l.push_back(flag(F::PsiFlashBusy, d.PsiInserterState) ? " Flash is busy." : " Flash is free.");
  l.push_back(" " + label(F::InsertedPacketRate) + dec(d.InsertedPacketRate) + " packet/sec");

  l.push_back(" ");
  l.push_back("PCR Corrector");
  l.push_back(" " + label(F::PcrState) + "h" + hex2(d.PcrState));
  l.push_back(" " + label(F::PcrCorrectorOn) + (flag(F::PcrCorrectorOn, d.PcrState) ? "On" : "Off"));
  l.push_back(" " + label(F::PcrDirectRestamping) + (flag(F::PcrDirectRestamping, d.PcrState) ? "On" : "Off"));
  l.push_back(" " + label(F::PcrPidCount) + dec(d.PcrPidCount));
  l.push_back(" " + label(F::PcrDiscontinuity) + dec(d.PcrDiscontinuity));
  l.push_back(" " + label(F::TestPid) + dec(d.TestPid));
  return l;
}

std::vector<std::string> generalMemoLines(const tZODADevice& d) {
  return {"NCO frequency range: 120 Hz - 40.5 MHz",
          "PLL frequency range: 97753 Hz - 40.5 MHz",
          " ",
          "NCO Frequency: " + dec(d.NcoFrequency) + " Hz",
          "PLL Frequency: " + dec(d.PllFrequency) + " Hz",
          " ",
          "SDRAM Usage: " + dec(d.SdramUsage) + " packet(s)",
          "Output Null Packets: " + dec(d.NullPacketRate) + " packet/sec"};
}

std::vector<std::string> pidReadbackLines(const tZODADevice& d) {
  if (d.ReadbackKind != kReadbackPid) return {};
  std::vector<std::string> l{"PID Filter Readback Data:"};
  for (int line = 0; line < 8; ++line) l.push_back(dumpLine(d, line * 8, 4));
  l.push_back(" ...");
  return l;
}

std::vector<std::string> psiReadbackLines(const tZODADevice& d) {
  if (d.ReadbackKind != kReadbackPsi) return {};
  std::vector<std::string> l{"PSI Inserter Readback Data:"};
  for (int line = 0; line < 16; ++line) l.push_back(dumpLine(d, line * 16, 8));
  return l;
}

std::uint32_t inputGaugeColour(const tZODADevice& d, int n) {
  const auto i = static_cast<std::size_t>(n);
  if (!bit(d.ChannelEnable, n - 1)) return colour::ButtonFace;
  const InputStatusWord w = inputStatusWord(d.InputStatus[i]);
  if (w.overflow) return colour::Red;
  if (w.syncErrors == inputStatusWord(d.PrevInputStatus[i]).syncErrors) return colour::Green;
  return colour::Orange;
}

std::string inputFormatText(const tZODADevice& d, int n) {
  const auto i = static_cast<std::size_t>(n);
  if (d.InputRate[i] == 0) return " - ";
  return inputStatusWord(d.InputStatus[i]).format188 ? "188" : "204";
}

std::int32_t pidFilterOutRate(const tZODADevice& d) {
  return static_cast<std::int32_t>((static_cast<std::int64_t>(d.SdramInputRate) * 1632) / 1000);
}

std::uint32_t sdramGaugeColour(std::int32_t usage) {
  if (usage >= 65534) return colour::Red;
  if (usage > 50000) return colour::Yellow;
  return colour::Green;
}

std::uint32_t sdramLabelColour(const tZODADevice& d) {
  if (d.SdramOverflow) return colour::Red;
  if (d.PcrPause) return colour::Blue;
  return colour::Black;
}

std::int32_t corValue(std::int32_t slide) { return slide / 291; }
std::string slideText(std::int32_t slide) {
  return label(StatusField::PcrSlide) + dec(slide) + " (" + dec(slide / 13) + " Hz)";
}
std::string corText(std::int32_t slide) { return "COR @ 40 ms: " + dec(corValue(slide)); }
std::string baseErrorText(std::int32_t baseError) {
  return label(StatusField::PcrBaseError) + dec(baseError & 0x7FFF);
}
std::string baseErrorMsText(std::int32_t baseError, std::string_view decimalPoint) {
  return "(" + fixed3((baseError & 0x7FFF) / 90.0, decimalPoint) + " ms)";
}
std::string gradientText(std::int32_t baseError) {
  return bit(static_cast<std::uint32_t>(baseError), 15) ? "Gradient: +" : "Gradient: -";
}

bool isOtherBoardsStatus(Framing framing, std::uint8_t sdiAddress, const std::uint8_t* data, std::size_t length) {
  const bool ddtoip = framing == Framing::DDToIP;
  if (length != (ddtoip ? kDDToIPStatusAnswer : kCwNetStatusAnswer)) return false;
  if (data[ddtoip ? kDDToIPAnswerCodeAt : kCwNetAnswerCodeAt] != (ddtoip ? kStatusAnswerCode : kCwNetReadCode))
    return false;
  const std::uint8_t* block = data + (ddtoip ? kDDToIPAnswerBase : kCwNetAnswerBase);
  if (block[block::Presence] != kDevicePresent || block[block::DeviceCode] != kRemuxDeviceCode) return false;
  const int board = block[block::Address] & 0x0F;
  // A request to no valid SDI address (0, from no selection) names no board to compare.
  return board != 0 && sdiAddress >= 1 && sdiAddress <= 15 && board != sdiAddress;
}

std::vector<std::string> querySentLines(int hostPort, int devicePort, const std::string& deviceIp) {
  return {"Host Computer Port: " + dec(hostPort), "Device Port: " + dec(devicePort), "Device IP: " + deviceIp, " ",
          "Message sent, waiting for reply..."};
}

QueryOutcome evaluateQueryAnswerBytes(const QueryContext& ctx, std::size_t length, std::uint8_t answerCode,
                                      std::uint8_t sdiAddressByte, std::uint8_t presence, std::uint8_t deviceCode) {
  const bool ddtoip = ctx.framing == Framing::DDToIP;
  QueryOutcome o;
  o.framing = ctx.framing;
  o.deviceIp = ctx.deviceIp;
  o.devicePort = ctx.devicePort;
  o.length = length;
  o.answerCode = answerCode;
  o.sdiAddress = ctx.selectedSdiAddress;
  const std::size_t expected = ddtoip ? kDDToIPStatusAnswer : kCwNetStatusAnswer;
  const std::uint8_t expectedCode = ddtoip ? kStatusAnswerCode : kCwNetReadCode;
  if (length != expected || answerCode != expectedCode) {
    o.kind = QueryKind::UnknownAnswer;
    return o;
  }
  if (!ddtoip) o.sdiAddress = sdiAddressByte;
  if (presence != kDevicePresent) {
    o.kind = QueryKind::NoDevice;
    return o;
  }
  o.deviceCode = deviceCode;
  if (deviceCode != kRemuxDeviceCode) {
    o.kind = QueryKind::NotRemux;
    return o;
  }
  o.kind = QueryKind::Ok;
  o.answerBase = static_cast<int>(ddtoip ? kDDToIPAnswerBase : kCwNetAnswerBase);
  return o;
}

std::string queryAnswerText(const QueryOutcome& o) {
  if (!o.statusAnswer()) return "Unknown message received.";
  return o.framing == Framing::DDToIP ? "DDToIP SDI Answer received." : "CW-Net Data received.";
}

std::string queryProblemText(const QueryOutcome& o) {
  switch (o.kind) {
    case QueryKind::Ok: return {};
    case QueryKind::NoDevice: return "There is no device connected to the SDI.";
    case QueryKind::NotRemux: return "There is no ASI Remultiplexer connected to the SDI.";
    case QueryKind::UnknownAnswer: return "Unknown message received.";
    case QueryKind::Timeout:
    case QueryKind::SendFailed: return {};
  }
  return {};
}

std::vector<std::string> queryAnswerLines(const QueryOutcome& o) {
  if (!o.statusAnswer()) {
    std::vector<std::string> lines = {queryAnswerText(o),
                                      "Message length: " + dec(static_cast<std::int64_t>(o.length)) + " bytes"};
    const bool ddtoip = o.framing == Framing::DDToIP;
    if (o.length == (ddtoip ? kDDToIPStatusAnswer : kCwNetStatusAnswer))
      lines.push_back(ddtoip ? "Message opcode: h" + hex2(o.answerCode) : "Message opcode: " + dec(o.answerCode));
    return lines;
  }
  std::vector<std::string> lines = {queryAnswerText(o), "Controller IP: " + o.deviceIp,
                                    "Controller Port: " + dec(o.devicePort), "SDI Address: " + dec(o.sdiAddress)};
  lines.push_back(queryProblemText(o));
  return lines;
}

std::string queryDeviceCodeText(const QueryOutcome& o) {
  if (!o.statusAnswer()) return {};
  if (!o.devicePresent()) return "Device Code: (no device)";
  return "Device Code: h" + hex2(o.deviceCode);
}

}  // namespace tessaly
