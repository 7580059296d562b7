#include "mfgtest/MfgMessages.h"

#include "link/Framing.h"
#include "protocol/Protocol.h"
#include "text/Numbers.h"

namespace tessaly {

const std::string_view kMfgAckLabel = "Quillmarsh  ACK";
const std::string_view kMfgEraseLabel = "Quillmarsh  EPF";

namespace {

constexpr std::uint8_t kAllUnits = 0x0F;
constexpr std::int32_t kNcoTestFrequency = 2000000;
constexpr std::array<std::int32_t, 3> kPidFallbacks{150, 151, 160};
constexpr std::array<std::int32_t, 4> kMulticastFallbacks{239, 123, 13, 100};

Bytes operation(const Bytes& data) { return encodeInstruction(opcode::Operation, data); }
Bytes statusRequest() { return encodeInstruction(opcode::StatusRequest, {0x01}); }

std::uint8_t unitMask(int unit) { return static_cast<std::uint8_t>(1u << ((unit - 1) & 3)); }

}  // namespace

std::int32_t normaliseTestPort(std::string_view text) { return readClamped(text, 58100, 0, 65535); }

NormalisedMfgInputs normaliseMfgInputs(const MfgInputTexts& t) {
  NormalisedMfgInputs out;
  out.values.testPort = normaliseTestPort(t.testPort);
  out.testPortText = std::to_string(out.values.testPort);
  for (std::size_t i = 0; i < 3; ++i) {
    out.values.additionalPid[i] = readClamped(t.additionalPid[i], kPidFallbacks[i], 2, 8191);
    out.values.additionalPidOn[i] = t.additionalPidOn[i];
    out.additionalPidText[i] = std::to_string(out.values.additionalPid[i]);
  }
  for (std::size_t i = 0; i < 4; ++i) {
    const auto octet = static_cast<std::uint8_t>(
        static_cast<std::uint32_t>(readIntOr(t.multicast[i], kMulticastFallbacks[i])) & 0xFF);
    out.values.multicast[i] = octet;
    out.multicastText[i] = std::to_string(octet);
  }
  out.values.multicastOn = t.multicastOn;
  return out;
}

Bytes mfgConfigurationMessage(const MfgInputs& in) {
  Bytes ins;
  for (std::uint8_t n = 1; n <= 4; ++n) {
    Bytes data{n};
    appendBE32(data, kNcoTestFrequency);
    append(ins, encodeInstruction(opcode::Nco, data));
  }
  append(ins, operation({operationCode::StreamFormat, kAllUnits, 0x80}));
  append(ins, operation({operationCode::StreamPort, 0xDE, 0xA8}));
  append(ins, operation({operationCode::GeneralFilter, 0x02}));
  append(ins, operation({operationCode::StreamOn}));
  for (std::uint8_t k = 0; k < 4; ++k) append(ins, operation({operationCode::Sector, kAllUnits, static_cast<std::uint8_t>(0x20 + k), 0, 0, 0, 0, 0, 0}));
  append(ins, operation({operationCode::PcrMode, 0x00}));
  Bytes testPid{operationCode::TestPid, kAllUnits};
  appendBE16(testPid, static_cast<std::uint32_t>(in.additionalPid[1]));
  append(ins, operation(testPid));
  if (in.multicastOn) {
    Bytes address{operationCode::StreamAddress, 0x01};
    address.insert(address.end(), 12, 0x00);
    append(address, Bytes(in.multicast.begin(), in.multicast.end()));
    address.push_back(0x00);
    address.push_back(0x00);
    append(address, "Test Stream  ");
    append(ins, operation(address));
    append(ins, operation({operationCode::StreamJoin}));
  }
  append(ins, statusRequest());
  return encodeSdiMessage(kMfgAckLabel, ins);
}

Bytes mfgEraseMessage() {
  Bytes ins = operation({operationCode::PidErase, kAllUnits});
  append(ins, operation({operationCode::PsiErase, kAllUnits}));
  return encodeSdiMessage(kMfgEraseLabel, ins);
}

Bytes mfgErasePollMessage() { return encodeSdiMessage(kMfgAckLabel, statusRequest()); }

Bytes mfgProgrammingMessage(const MfgInputs& in) {
  const auto port = static_cast<std::uint32_t>(in.testPort);
  Bytes ins;
  Bytes entry{operationCode::PidWrite, kAllUnits};
  appendBE16(entry, port);
  appendBE16(entry, 0x0000);
  appendBE16(entry, 0xC000);
  append(ins, operation(entry));
  for (std::size_t i = 0; i < 3; ++i) {
    if (!in.additionalPidOn[i]) continue;
    const auto pid = static_cast<std::uint32_t>(in.additionalPid[i]);
    Bytes e{operationCode::PidWrite, kAllUnits};
    appendBE16(e, port);
    appendBE16(e, pid);
    appendBE16(e, pid + 0xC000u);
    append(ins, operation(e));
  }
  Bytes psi{operationCode::PsiWrite, kAllUnits, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x01, 0x47, 0x01, 0xAC, 0x10};
  for (int k = 0; k < 184; ++k) psi.push_back(static_cast<std::uint8_t>(k));
  append(ins, operation(psi));
  append(ins, operation({operationCode::Sector, kAllUnits, 0xE0, 0, 0, 0, 0, 0, 0}));
  append(ins, statusRequest());
  return encodeSdiMessage(kMfgAckLabel, ins);
}

Bytes mfgPidReadBackRequest(int unit, std::int32_t testPort) {
  Bytes data{operationCode::PidRead, unitMask(unit)};
  appendBE16(data, static_cast<std::uint32_t>(testPort));
  appendBE16(data, 0x0000);
  return encodeSdiMessage(kMfgAckLabel, operation(data));
}

Bytes mfgPsiReadBackRequest(int unit) {
  return encodeSdiMessage(kMfgAckLabel, operation({operationCode::PsiRead, unitMask(unit), 0x00, 0x00, 0x00}));
}

Bytes mfgPcrCorrectorMessage(bool on) {
  Bytes ins = operation({operationCode::PcrMode, static_cast<std::uint8_t>(on ? kAllUnits : 0x00)});
  append(ins, statusRequest());
  return encodeSdiMessage(kMfgAckLabel, ins);
}

}  // namespace tessaly
