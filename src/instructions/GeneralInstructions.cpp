#include "instructions/GeneralInstructions.h"

#include "clock/Pll.h"
#include "protocol/Protocol.h"

namespace tessaly {

namespace {
constexpr std::uint8_t kUnit1 = 0x01, kNco1 = 0x01;
}  // namespace

LabelledInstruction setSerialInstruction(std::uint32_t serial) {
  LabelledInstruction out{"Set Serial Num ", opcode::SetSerial, {}};
  appendBE32(out.data, serial);
  return out;
}

LabelledInstruction setTypeInstruction(std::uint16_t type) {
  LabelledInstruction out{"Set Type       ", opcode::SetType, {}};
  appendBE16(out.data, type);
  return out;
}

LabelledInstruction resetInstruction() { return {"Set Type       ", opcode::Reset, {0x01, 0x00}}; }

LabelledInstruction setUserTextInstruction(std::string_view userText) {
  return {"Set User Text  ", opcode::SetUserText, bytesOf(userLabel(userText))};
}

LabelledInstruction setAddressInstruction(std::uint8_t sdiAddress) {
  return {"Set Address    ", opcode::SetAddress, {sdiAddress}};
}

std::uint8_t streamFormatByte(int clockSource, int packetSize, bool highPriority) {
  std::uint8_t b = static_cast<std::uint8_t>(clockSource & 0x0F);
  if (packetSize == 188) b |= 0x80;
  if (highPriority) b |= 0x20;
  return b;
}

StreamFormatMessage streamFormatMessage(const StreamFormat& f) {
  StreamFormatMessage out;
  out.label = "Set Output Form";
  if (f.clockSource == clockSource::Nco) {
    Bytes data{kNco1};
    appendBE32(data, static_cast<std::uint32_t>(f.ncoHz));
    append(out.instructions, encodeInstruction(opcode::Nco, data));
  } else if (f.clockSource == clockSource::Pll) {
    const PllSettings settings = searchPll(f.pllHz);
    std::vector<std::string> memo{"PLL Info:"};
    for (auto& line : pllReportLines(f.pllHz, settings)) memo.push_back(std::move(line));
    out.pllReport = std::move(memo);
    out.pll = settings;
    if (settings.found) append(out.instructions, encodeInstruction(opcode::Operation, setPllData(settings)));
  }
  append(out.instructions,
         encodeInstruction(opcode::Operation, {operationCode::StreamFormat, kUnit1,
                                               streamFormatByte(f.clockSource, f.packetSize, f.highPriority)}));
  return out;
}

}  // namespace tessaly
