#include "link/Framing.h"

namespace tessaly {

const std::string_view kReadLabel = "Quillmarsh  SDI";

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

namespace {
// Fills a datagram of known size front to back (one allocation, no inserts).
class Writer {
 public:
  explicit Writer(std::size_t size) : out_(size, 0) {}
  Writer& text(std::string_view t) {
    for (char c : t) out_[pos_++] = static_cast<std::uint8_t>(c);
    return *this;
  }
  Writer& byte(std::uint32_t b) {
    out_[pos_++] = static_cast<std::uint8_t>(b & 0xFF);
    return *this;
  }
  Writer& be16(std::uint32_t v) { return byte(v >> 8).byte(v); }
  Writer& bytes(const Bytes& b) {
    for (std::uint8_t v : b) out_[pos_++] = v;
    return *this;
  }
  Bytes done() { return std::move(out_); }

 private:
  Bytes out_;
  std::size_t pos_ = 0;
};
}  // namespace

Bytes encodeInstruction(std::uint8_t opcode, const Bytes& data) {
  return Writer(kInstructionHeadSize + data.size()).byte(opcode).be16(static_cast<std::uint32_t>(data.size())).bytes(data).done();
}

Bytes encodeSdiMessage(std::string_view label, const Bytes& instructions) {
  return Writer(kSdiHeadSize + instructions.size())
      .text("DDToIP")
      .text(fixedLabel(label))
      .byte(0x01)
      .bytes(instructions)
      .done();
}

Bytes encodeLoadDatagram(Framing framing, std::string_view outerLabel, std::uint8_t sdiAddress,
                         const Bytes& sdiMessage) {
  if (framing == Framing::DDToIP) {
    return Writer(26 + sdiMessage.size())
        .text("DDToIP")
        .text(fixedLabel(outerLabel))
        .byte(0x01)
        .byte(kForwardCommand)
        .be16(static_cast<std::uint32_t>(sdiMessage.size() + 1))
        .byte(sdiAddress)
        .bytes(sdiMessage)
        .done();
  }
  return Writer(kCwNetHead + sdiMessage.size())
      .text("CW-Net")
      .byte(kCwNetLoadCode)
      .byte(sdiAddress)
      .text("SLoad Data")
      .bytes(sdiMessage)
      .done();
}

Bytes encodeReadDatagram(Framing framing, std::uint8_t sdiAddress) {
  if (framing == Framing::DDToIP) {
    return Writer(28)
        .text("DDToIP")
        .text(kReadLabel)
        .byte(0x01)
        .byte(kReadCommand)
        .be16(3)
        .byte(sdiAddress)
        .be16(kStatusBlockSize)
        .done();
  }
  return Writer(kCwNetHead).text("CW-Net").byte(kCwNetReadCode).byte(sdiAddress).text("Read Data ").done();
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

std::optional<int> classifyStatusAnswer(const Bytes& datagram) {
  auto at = [&](std::size_t i) -> std::uint8_t { return i < datagram.size() ? datagram[i] : 0; };
  return classifyStatusAnswer(datagram.size(), at(kCwNetAnswerCodeAt), at(kDDToIPAnswerCodeAt));
}

}  // namespace tessaly
