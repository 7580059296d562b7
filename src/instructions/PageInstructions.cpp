#include "instructions/PageInstructions.h"

#include "protocol/Protocol.h"
#include "text/Numbers.h"

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

WritePidFilter writePidFilterInstruction(int tsIndex, std::string_view editPid, bool remapTicked,
                                         std::string_view editRemap) {
  WritePidFilter out;
  const std::int32_t pid = readClamped(editPid, 0, 0, kPidMax);
  out.pidText = std::to_string(pid);
  std::int32_t outputPid = pid;
  if (remapTicked) {
    outputPid = readClamped(editRemap, 0, 0, kPidMax);
    out.remapText = std::to_string(outputPid);
  }
  out.instruction = {"Write PIDFilter", kOperation, {operationCode::PidWrite, kUnit1, 0x00, lowByte(tsIndex)}};
  appendBE16(out.instruction.data, static_cast<std::uint32_t>(pid));
  appendBE16(out.instruction.data, 0xC000u + static_cast<std::uint32_t>(outputPid));
  return out;
}

ReadPidFilter readPidFilterInstruction(int tsIndex, std::string_view editPid) {
  ReadPidFilter out;
  const std::int32_t start = readClamped(editPid, 0, 0, kPidMax) & ~7;
  out.pidText = std::to_string(start);
  out.instruction = {"Read  PIDFilter", kOperation, {operationCode::PidRead, kUnit1, 0x00, lowByte(tsIndex)}};
  appendBE16(out.instruction.data, static_cast<std::uint32_t>(start));
  return out;
}

std::optional<SetSector> setSectorInstruction(int row, bool enabled, std::string_view editStart,
                                              std::string_view editEnd) {
  if (row < 1 || row > 4) return std::nullopt;
  SetSector out;
  const std::int32_t start = readClamped(editStart, 0, 0, kFlashAddressMax);
  const std::int32_t end = readClamped(editEnd, 0, 0, kFlashAddressMax);
  out.startText = std::to_string(start);
  out.endText = std::to_string(end);
  const auto sectorByte = static_cast<std::uint8_t>(0x60 + (row - 1) + (enabled ? 0x80 : 0));
  out.instruction = {"Set Sector     ", kOperation, {operationCode::Sector, kUnit1, sectorByte}};
  appendBE24(out.instruction.data, static_cast<std::uint32_t>(start));
  appendBE24(out.instruction.data, static_cast<std::uint32_t>(end));
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

WritePsi writePsiInstruction(const WritePsiInput& in) {
  WritePsi out;
  const std::int32_t pid = readClamped(in.pidText, 1000, 0, kPidMax);
  const std::int32_t address = readClamped(in.addressText, 0, 0, kFlashAddressMax);
  const std::int32_t timer = readClamped(in.timerText, 10, 0, kPsiTimerMax);
  const std::uint8_t fix = lowByte(readIntOr(in.fixText, 15));
  out.pidText = std::to_string(pid);
  out.addressText = std::to_string(address);
  out.timerText = std::to_string(timer);
  out.fixText = std::to_string(fix);

  PsiPacketType type = PsiPacketType::Ascending;
  if (in.packetType == 1) type = PsiPacketType::Descending;
  if (in.packetType == 2) type = PsiPacketType::Fix;

  out.instruction = {"Write PSI      ", kOperation, {operationCode::PsiWrite, kUnit1}};
  Bytes& d = out.instruction.data;
  appendBE24(d, static_cast<std::uint32_t>(address));
  appendBE24(d, static_cast<std::uint32_t>(timer));
  d.push_back(in.autoCc ? 0x01 : 0x00);
  append(d, psiTestPacket(pid, type, fix));
  return out;
}

ReadPsi readPsiInstruction(std::string_view editAddress) {
  ReadPsi out;
  const std::int32_t address = readClamped(editAddress, 0, 0, kFlashAddressMax);
  out.addressText = std::to_string(address);
  out.instruction = {"Read  PSI      ", kOperation, {operationCode::PsiRead, kUnit1}};
  appendBE24(out.instruction.data, static_cast<std::uint32_t>(address));
  return out;
}

std::uint8_t pcrCorrectorMode(bool on, bool directRestamping) {
  if (!on) return 0x00;
  return directRestamping ? 0x11 : 0x01;
}

LabelledInstruction setPcrCorrectorInstruction(bool on, bool directRestamping) {
  return {"Set PCR Correct", kOperation, {operationCode::PcrMode, pcrCorrectorMode(on, directRestamping)}};
}

SetTestPcrPid setTestPcrPidInstruction(std::string_view editTestPid) {
  SetTestPcrPid out;
  const std::int32_t pid = readClamped(editTestPid, 1000, 0, kPidMax);
  out.pidText = std::to_string(pid);
  out.instruction = {"Set PCR Correct", kOperation, {operationCode::TestPid, kUnit1}};
  appendBE16(out.instruction.data, static_cast<std::uint32_t>(pid));
  return out;
}

}  // namespace tessaly
