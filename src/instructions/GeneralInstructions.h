#pragma once
// The board's housekeeping instructions of the General page and the stream-format
// message, built from the raw control values. Each builder gives the instruction
// and the normalised texts the page writes back into its edits.
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

struct SerialInstruction {
  LabelledInstruction instruction;
  std::string serialText;  // unsigned 32-bit decimal of the value sent
};
SerialInstruction setSerialInstruction(std::string_view editSerial);

struct TypeInstruction {
  LabelledInstruction instruction;
  std::string typeText;  // the low 16 bits, decimal
};
TypeInstruction setTypeInstruction(std::string_view editType);

LabelledInstruction resetInstruction();
// The user text cut to 15 bytes or 0x00-filled; the edit is not written back.
LabelledInstruction setUserTextInstruction(std::string_view editUserText);
// addressIndex: RadioGroupAddress item index (0..14); the data byte is index + 1.
LabelledInstruction setAddressInstruction(int addressIndex);

// SETSTREAMFORMAT.
struct StreamFormatInput {
  int clockSource = 0;  // 0 NCO, 1 PLL, 2..7 TS inputs 1..6, 8 external clock
  int format = 0;       // 0 "188", 1 "204"
  int priority = 0;     // 0 "Low", 1 "High"
  std::string ncoText;
  std::string pllText;
};

struct StreamFormatMessage {
  std::string label;   // "Set Output Form"
  Bytes instructions;  // NCO or SETPLL packet (when due), then the stream-format packet
  std::string ncoText;  // normalised, to write back
  std::string pllText;
  // The memo's new content, for clock source PLL only ("PLL Info:" and the report);
  // empty optional: leave the memo as it is.
  std::optional<std::vector<std::string>> memoLines;
  // The PLL search's result, for clock source PLL only.
  std::optional<PllSettings> pll;

  Bytes sdiMessage() const { return encodeSdiMessage(label, instructions); }
  Bytes datagram(Framing framing, std::uint8_t sdiAddress) const {
    return encodeLoadDatagram(framing, label, sdiAddress, sdiMessage());
  }
};

// Clock source index in the low bits, 0x80 for 188-byte packets, 0x20 for high PSI priority.
std::uint8_t streamFormatByte(int clockSource, int format, int priority);
StreamFormatMessage streamFormatMessage(const StreamFormatInput& in);

}  // namespace tessaly
