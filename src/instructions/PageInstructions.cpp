#include "instructions/PageInstructions.h"

#include "protocol/Protocol.h"

namespace tessaly {

const std::string_view kMessageSentText = "Message sent, waiting for reply...";
const std::string_view kPressQueryText = "Press Query to show data!";
const std::string_view kCommErrorCheckText = "Communication Error! Check your network connection!";
const std::string_view kCommErrorText = "Communication Error!";

namespace {

constexpr std::uint8_t kOperation = opcode::Operation;
constexpr std::uint8_t kUnit1 = 0x01;

std::uint8_t mask(const std::array<bool, 6>& boxes) {
  std::uint8_t m = 0;
  for (std::size_t i = 0; i < boxes.size(); ++i)
    if (boxes[i]) m |= static_cast<std::uint8_t>(1u << i);
  return m;
}

std::uint8_t lowByte(int v) { return static_cast<std::uint8_t>(static_cast<unsigned>(v) & 0xFFu); }

}  // namespace

LabelledInstruction setGeneralFilterInstruction(const GeneralFilterBoxes& b) {
  return {"Set General Fil", kOperation,
          {operationCode::GeneralFilter, mask(b.enable), mask(b.dataValid), mask(b.nullPacket), mask(b.tspError)}};
}

LabelledInstruction erasePidFilterInstruction() { return {"Erase PIDFilter", kOperation, {operationCode::PidErase, kUnit1}}; }

LabelledInstruction writePidFilterInstruction(int input, std::int32_t pid, std::int32_t outputPid) {
  LabelledInstruction out{"Write PIDFilter", kOperation, {operationCode::PidWrite, kUnit1, 0x00, lowByte(input - 1)}};
  appendBE16(out.data, static_cast<std::uint32_t>(pid));
  appendBE16(out.data, 0xC000u + static_cast<std::uint32_t>(outputPid));
  return out;
}

LabelledInstruction readPidFilterInstruction(int input, std::int32_t pid) {
  LabelledInstruction out{"Read  PIDFilter", kOperation, {operationCode::PidRead, kUnit1, 0x00, lowByte(input - 1)}};
  appendBE16(out.data, static_cast<std::uint32_t>(pidFilterReadStart(pid)));
  return out;
}

std::optional<LabelledInstruction> setSectorInstruction(int sector, bool enabled, std::int32_t start,
                                                        std::int32_t end) {
  if (sector > 4) return std::nullopt;
  return sectorInstruction(sector, enabled, start, end);
}

std::optional<LabelledInstruction> sectorInstruction(int sector, bool enabled, std::int32_t start, std::int32_t end) {
  if (sector < 1 || sector > 12) return std::nullopt;
  const auto sectorByte = static_cast<std::uint8_t>(0x60 + (sector - 1) + (enabled ? 0x80 : 0));
  LabelledInstruction out{"Set Sector     ", kOperation, {operationCode::Sector, kUnit1, sectorByte}};
  appendBE24(out.data, static_cast<std::uint32_t>(start));
  appendBE24(out.data, static_cast<std::uint32_t>(end));
  return out;
}

LabelledInstruction erasePsiInstruction() { return {"Erase PSI      ", kOperation, {operationCode::PsiErase, kUnit1}}; }

Bytes psiTestPacket(std::int32_t pid, PsiPacketType type, std::uint8_t fix) {
  Bytes p;
  p.reserve(204);
  p.push_back(0x47);
  appendBE16(p, static_cast<std::uint32_t>(pid) & 0x1FFFu);
  p.push_back(0x10);
  for (int k = 4; k < 204; ++k) {
    switch (type) {
      case PsiPacketType::Ascending: p.push_back(static_cast<std::uint8_t>(k + 1)); break;
      case PsiPacketType::Descending: p.push_back(static_cast<std::uint8_t>(204 - k)); break;
      case PsiPacketType::Fix: p.push_back(fix); break;
    }
  }
  return p;
}

LabelledInstruction writePsiInstruction(const PsiWrite& w) {
  return writePsiRecordInstruction(w.address, w.timer, w.autoCc, psiTestPacket(w.pid, w.packetType, w.fix));
}

LabelledInstruction writePsiRecordInstruction(std::int32_t address, std::int32_t timer, bool autoCc,
                                              const Bytes& packet) {
  LabelledInstruction out{"Write PSI      ", kOperation, {operationCode::PsiWrite, kUnit1}};
  appendBE24(out.data, static_cast<std::uint32_t>(address));
  appendBE24(out.data, static_cast<std::uint32_t>(timer));
  out.data.push_back(autoCc ? 0x01 : 0x00);
  append(out.data, packet);
  return out;
}

LabelledInstruction readPsiInstruction(std::int32_t address) {
  LabelledInstruction out{"Read  PSI      ", kOperation, {operationCode::PsiRead, kUnit1}};
  appendBE24(out.data, static_cast<std::uint32_t>(address));
  return out;
}

std::uint8_t pcrCorrectorMode(bool on, bool directRestamping) {
  if (!on) return 0x00;
  return directRestamping ? 0x11 : 0x01;
}

LabelledInstruction setPcrCorrectorInstruction(bool on, bool directRestamping) {
  return {"Set PCR Correct", kOperation, {operationCode::PcrMode, pcrCorrectorMode(on, directRestamping)}};
}

LabelledInstruction setTestPcrPidInstruction(std::int32_t pid) {
  LabelledInstruction out{"Set PCR Correct", kOperation, {operationCode::TestPid, kUnit1}};
  appendBE16(out.data, static_cast<std::uint32_t>(pid));
  return out;
}

}  // namespace tessaly
