#pragma once
// The board's housekeeping instructions and the stream-format message, encoded from
// numbers in their units. Reading an edit (fallback, range, the text written back)
// is the page's business; tessaly-cli hands over the numbers it parsed.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/Bytes.h"
#include "clock/Pll.h"
#include "link/Framing.h"

namespace tessaly {

// The General page's wait for the board's interrupt notice after an instruction.
namespace state {
constexpr std::uint8_t GeneralWait = 2, GeneralGot = 3;
}

// One labelled instruction, the unit every single-instruction page sends.
struct LabelledInstruction {
  std::string label;  // 15 characters
  std::uint8_t opcode = 0;
  Bytes data;

  Bytes encoded() const { return encodeInstruction(opcode, data); }
  Bytes sdiMessage() const { return encodeSdiMessage(label, encoded()); }
  // The same label outside and inside.
  Bytes datagram(Framing framing, std::uint8_t sdiAddress) const {
    return encodeLoadDatagram(framing, label, sdiAddress, sdiMessage());
  }
};

LabelledInstruction setSerialInstruction(std::uint32_t serial);
LabelledInstruction setTypeInstruction(std::uint16_t type);
LabelledInstruction resetInstruction();
// The user text's bytes, cut to 15 or 0x00-filled.
LabelledInstruction setUserTextInstruction(std::string_view userText);
// The board's new SDI address, 1..15 (the data byte).
LabelledInstruction setAddressInstruction(std::uint8_t sdiAddress);

// SETSTREAMFORMAT.
namespace clockSource {
// 2..7 are the TS inputs 1..6.
constexpr int Nco = 0, Pll = 1, Input1 = 2, External = 8;
}
struct StreamFormat {
  int clockSource = clockSource::Nco;  // 0..8, see clockSource
  int packetSize = 188;                // bytes per packet: 188 or 204
  bool highPriority = false;           // PSI priority
  std::int32_t ncoHz = kClockFallback; // programmed for clock source NCO only
  std::int32_t pllHz = kClockFallback; // searched and programmed for clock source PLL only
};

struct StreamFormatMessage {
  std::string label;   // "Set Output Form"
  Bytes instructions;  // NCO or SETPLL packet (when due), then the stream-format packet
  // The PLL search's report ("PLL Info:" and its lines), for clock source PLL only;
  // an empty optional when there is none.
  std::optional<std::vector<std::string>> pllReport;
  // The PLL search's result, for clock source PLL only.
  std::optional<PllSettings> pll;

  Bytes sdiMessage() const { return encodeSdiMessage(label, instructions); }
  Bytes datagram(Framing framing, std::uint8_t sdiAddress) const {
    return encodeLoadDatagram(framing, label, sdiAddress, sdiMessage());
  }
};

// Clock source in the low bits, 0x80 for 188-byte packets, 0x20 for high PSI priority.
std::uint8_t streamFormatByte(int clockSource, int packetSize, bool highPriority);
StreamFormatMessage streamFormatMessage(const StreamFormat& f);

}  // namespace tessaly
