#include "model/Describe.h"

#include <cstring>

#include "link/Framing.h"
#include "model/Board.h"
#include "model/Message.h"
#include "text/Hex.h"

namespace tessaly::emu {

namespace {

std::string hex2(std::uint32_t v) { return "h" + upperHex(v, 2); }

std::string printableLabel(std::string_view label) {
  std::string out;
  for (char c : label) out += (c >= 0x20 && c < 0x7F) ? c : '.';
  return "'" + out + "'";
}

std::string describeOperation(const InstructionView& in) {
  if (in.size < 1) return "operation (empty)";
  const std::uint8_t op = in.data[0];
  const std::string mask = " units " + hex2(in.at(1));
  switch (op) {
    case 0x10: return "general filter " + hex2(in.at(1)) + " " + hex2(in.at(2)) + " " + hex2(in.at(3)) + " " + hex2(in.at(4));
    case 0x11:
      return "write PID filter" + mask + " input " + std::to_string((in.at(2) << 8) | in.at(3)) + " PID " +
             std::to_string((in.at(4) << 8) | in.at(5)) + " word " + upperHex((in.at(6) << 8) | in.at(7), 4);
    case 0x12: return "erase PID filter" + mask;
    case 0x14:
      return "read PID filter" + mask + " input " + std::to_string((in.at(2) << 8) | in.at(3)) + " from PID " +
             std::to_string((in.at(4) << 8) | in.at(5));
    case 0x20: return "set sector" + mask + " sector byte " + hex2(in.at(2));
    case 0x21:
      return "write PSI" + mask + " address " + std::to_string((in.at(2) << 16) | (in.at(3) << 8) | in.at(4)) +
             " timer " + std::to_string((in.at(5) << 16) | (in.at(6) << 8) | in.at(7)) + " ms";
    case 0x22: return "erase PSI" + mask;
    case 0x25: return "read PSI" + mask + " address " + std::to_string((in.at(2) << 16) | (in.at(3) << 8) | in.at(4));
    case 0x27: return "stream format" + mask + " " + hex2(in.at(2));
    case 0x28: return "PLL" + mask + " PDiv " + std::to_string(((in.at(2) << 8) | in.at(3)) & 0x3FF);
    case 0x30: return "PCR corrector mode " + hex2(in.at(1));
    case 0x31: return "test PCR PID" + mask + " " + std::to_string(((in.at(2) << 8) | in.at(3)) & 0x1FFF);
    case 0x01: return "test stream on";
    case 0x02: return "test stream address";
    case 0x03: return "test stream join";
    case 0x15: return "test stream port " + std::to_string((in.at(1) << 8) | in.at(2));
    default: return "operation " + hex2(op) + " (" + std::to_string(in.size) + " bytes)";
  }
}

std::string describeInstruction(const InstructionView& in) {
  switch (in.code) {
    case 0x01: return "reset";
    case 0x10: return in.size == 4 ? "set serial " + std::to_string(be(in.data, 4)) : "set serial (bad length)";
    case 0x11: return in.size == 2 ? "set type " + std::to_string(be(in.data, 2)) : "set type (bad length)";
    case 0x12: return "set user text";
    case 0x14: return "set address " + std::to_string(in.at(0));
    case 0x40: return in.size == 5 ? "NCO " + std::to_string(in.at(0)) + " " + std::to_string(be(in.data + 1, 4)) + " Hz"
                                   : "NCO (bad length)";
    case 0x03: return "status request";
    case 0xE0: return describeOperation(in);
    default: return "instruction " + hex2(in.code) + " (" + std::to_string(in.size) + " bytes)";
  }
}

}  // namespace

std::string describeMessage(const std::uint8_t* data, std::size_t size) {
  MessageView m;
  if (!parseMessage(data, size, m)) return "malformed message";
  std::string out = printableLabel(m.label);
  bool firstOne = true;
  for (const InstructionView& in : m.instructions) {
    out += firstOne ? " " : ", ";
    out += describeInstruction(in);
    firstOne = false;
  }
  if (m.instructions.empty()) out += " (no instructions)";
  return out;
}

std::string describeDatagram(const std::uint8_t* d, std::size_t size) {
  std::string out = "[" + std::to_string(size) + "] ";
  if (size >= 8 && std::memcmp(d, "CW-Net", 6) == 0) {
    const std::string sdi = ", SDI " + std::to_string(d[7]);
    if (d[6] == kCwNetReadCode && size == kCwNetStatusAnswer)
      return out + "CW-Net status answer" + sdi + ", presence " + hex2(d[8]) + ", device " + hex2(d[9]);
    if (d[6] == kCwNetReadCode) return out + "CW-Net read" + sdi;
    if (d[6] == kCwNetLoadCode && size <= kInterruptNoticeMax && size >= 18 && std::memcmp(d + 8, "IRQ Notice", 10) == 0)
      return out + "CW-Net interrupt notice" + sdi;
    if (d[6] == kCwNetLoadCode && size >= 18) return out + "CW-Net load" + sdi + ": " + describeMessage(d + 18, size - 18);
    return out + "CW-Net command " + hex2(d[6]);
  }
  MessageView m;
  if (!parseMessage(d, size, m) || m.instructions.empty()) {
    if (size > kSdiHeadSize && std::memcmp(d, "DDToIP", 6) == 0)
      return out + "DDToIP, malformed (code " + hex2(d[kDDToIPAnswerCodeAt]) + ")";
    return out + "unrecognised datagram";
  }
  const InstructionView& first = m.instructions.front();
  switch (first.code) {
    case kReadCommand:
      return out + "DDToIP read, SDI " + std::to_string(first.at(0)) + ", " +
             std::to_string((first.at(1) << 8) | first.at(2)) + " bytes";
    case kForwardCommand:
      return out + "DDToIP forward, SDI " + std::to_string(first.at(0)) + ": " +
             (first.size > 0 ? describeMessage(first.data + 1, first.size - 1) : std::string("nothing"));
    case kStatusAnswerCode:
      return out + "DDToIP status answer, presence " + hex2(first.at(0)) + ", device " + hex2(first.at(1));
    case kNoticeCode: return out + "DDToIP interrupt notice, SDI " + std::to_string(first.at(0));
    case device::StatusCode:
      return out + "device status answer, device " + hex2(first.at(1)) + ", PID filter erase bits " +
             hex2(size > device::PidEraseBits ? d[device::PidEraseBits] : 0);
    case device::ReadbackCode:
      return out + "device read-back answer, " + (first.at(0) == kReadbackPid ? "PID filter" : "PSI inserter") +
             ", unit " + std::to_string(first.at(1));
    default: return out + "device message " + describeMessage(d, size);
  }
}

}  // namespace tessaly::emu
