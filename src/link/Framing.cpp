#include "link/Framing.h"

#include <cstdio>

namespace tessaly {

const std::string_view kReadLabel = "Quillmarsh  SDI";

std::string dollarHex(std::uint8_t b) {
  char buf[4];
  std::snprintf(buf, sizeof buf, "$%02X", b);
  return buf;
}

std::string upperHex(std::uint32_t v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, v);
  return buf;
}

std::string userLabel(std::string_view text) {
  std::string label(text.substr(0, kLabelSize));
  label.resize(kLabelSize, '\0');
  return label;
}

namespace {
// Labels of the panel's own instructions are exactly 15 characters; anything else
// is cut or filled the way user labels are, so the framing never changes size.
std::string fixedLabel(std::string_view label) { return userLabel(label); }
}  // namespace

Bytes encodeInstruction(std::uint8_t opcode, const Bytes& data) {
  Bytes out;
  out.reserve(3 + data.size());
  out.push_back(opcode);
  appendBE16(out, static_cast<std::uint32_t>(data.size()));
  append(out, data);
  return out;
}

Bytes encodeSdiMessage(std::string_view label, const Bytes& instructions) {
  Bytes out;
  out.reserve(kSdiHeadSize + instructions.size());
  append(out, "DDToIP");
  append(out, fixedLabel(label));
  out.push_back(0x01);
  append(out, instructions);
  return out;
}

Bytes encodeLoadDatagram(Framing framing, std::string_view outerLabel, std::uint8_t sdiAddress,
                         const Bytes& sdiMessage) {
  Bytes out;
  if (framing == Framing::DDToIP) {
    out.reserve(26 + sdiMessage.size());
    append(out, "DDToIP");
    append(out, fixedLabel(outerLabel));
    out.push_back(0x01);
    out.push_back(kForwardCommand);
    appendBE16(out, static_cast<std::uint32_t>(sdiMessage.size() + 1));
    out.push_back(sdiAddress);
  } else {
    out.reserve(18 + sdiMessage.size());
    append(out, "CW-Net");
    out.push_back(kCwNetLoadCode);
    out.push_back(sdiAddress);
    append(out, "SLoad Data");
  }
  append(out, sdiMessage);
  return out;
}

Bytes encodeReadDatagram(Framing framing, std::uint8_t sdiAddress) {
  Bytes out;
  if (framing == Framing::DDToIP) {
    append(out, "DDToIP");
    append(out, kReadLabel);
    out.push_back(0x01);
    out.push_back(kReadCommand);
    out.push_back(0x00);
    out.push_back(0x03);
    out.push_back(sdiAddress);
    out.push_back(0x04);
    out.push_back(0x00);
  } else {
    append(out, "CW-Net");
    out.push_back(kCwNetReadCode);
    out.push_back(sdiAddress);
    append(out, "Read Data ");
  }
  return out;
}

Bytes encodeSingleInstructionDatagram(Framing framing, std::string_view label, std::uint8_t sdiAddress,
                                      std::uint8_t opcode, const Bytes& data) {
  return encodeLoadDatagram(framing, label, sdiAddress,
                            encodeSdiMessage(label, encodeInstruction(opcode, data)));
}

bool isInterruptNotice(std::size_t length) { return length <= kInterruptNoticeMax; }

std::optional<int> classifyStatusAnswer(std::size_t length, std::uint8_t byte6, std::uint8_t byte22) {
  if (length == kCwNetStatusAnswer && byte6 == kCwNetReadCode) return kCwNetAnswerBase;
  if (length == kDDToIPStatusAnswer && byte22 == kStatusAnswerCode) return kDDToIPAnswerBase;
  return std::nullopt;
}

}  // namespace tessaly
