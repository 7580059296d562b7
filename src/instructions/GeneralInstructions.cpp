#include "instructions/GeneralInstructions.h"

#include "clock/Pll.h"
#include "protocol/Protocol.h"
#include "text/Numbers.h"

namespace tessaly {

namespace {
constexpr std::uint8_t kUnit1 = 0x01, kNco1 = 0x01;
}  // namespace

SerialInstruction setSerialInstruction(std::string_view editSerial) {
  const auto value = static_cast<std::uint32_t>(readIntOr(editSerial, 0));
  SerialInstruction out;
  out.instruction.label = "Set Serial Num ";
  out.instruction.opcode = opcode::SetSerial;
  appendBE32(out.instruction.data, value);
  out.serialText = std::to_string(value);
  return out;
}

TypeInstruction setTypeInstruction(std::string_view editType) {
  const std::uint32_t value = static_cast<std::uint32_t>(readIntOr(editType, 0)) & 0xFFFFu;
  TypeInstruction out;
  out.instruction.label = "Set Type       ";
  out.instruction.opcode = opcode::SetType;
  appendBE16(out.instruction.data, value);
  out.typeText = std::to_string(value);
  return out;
}

LabelledInstruction resetInstruction() { return {"Set Type       ", opcode::Reset, {0x01, 0x00}}; }

LabelledInstruction setUserTextInstruction(std::string_view editUserText) {
  return {"Set User Text  ", opcode::SetUserText, bytesOf(userLabel(editUserText))};
}

LabelledInstruction setAddressInstruction(int addressIndex) {
  return {"Set Address    ", opcode::SetAddress, {static_cast<std::uint8_t>((addressIndex + 1) & 0xFF)}};
}

std::uint8_t streamFormatByte(int clockSource, int format, int priority) {
  std::uint8_t b = static_cast<std::uint8_t>(clockSource & 0x0F);
  if (format == 0) b |= 0x80;
  if (priority == 1) b |= 0x20;
  return b;
}

StreamFormatMessage streamFormatMessage(const StreamFormatInput& in) {
  StreamFormatMessage out;
  out.label = "Set Output Form";
  const std::int32_t nco = normaliseNco(in.ncoText);
  const std::int32_t pll = normalisePll(in.pllText);
  out.ncoText = std::to_string(nco);
  out.pllText = std::to_string(pll);

  if (in.clockSource == 0) {
    Bytes data{kNco1};
    appendBE32(data, static_cast<std::uint32_t>(nco));
    append(out.instructions, encodeInstruction(opcode::Nco, data));
  } else if (in.clockSource == 1) {
    const PllSettings settings = searchPll(pll);
    std::vector<std::string> memo{"PLL Info:"};
    for (auto& line : pllReportLines(pll, settings)) memo.push_back(std::move(line));
    out.memoLines = std::move(memo);
    out.pll = settings;
    if (settings.found) append(out.instructions, encodeInstruction(opcode::Operation, setPllData(settings)));
  }
  append(out.instructions,
         encodeInstruction(opcode::Operation, {operationCode::StreamFormat, kUnit1,
                                          streamFormatByte(in.clockSource, in.format, in.priority)}));
  return out;
}

}  // namespace tessaly
