#include "wire/DatagramDecode.h"

#include <cstring>

#include "link/Framing.h"
#include "link/ReceiveBuffer.h"
#include "protocol/Protocol.h"
#include "status/Decode.h"
#include "status/StatusFields.h"
#include "text/Hex.h"

namespace tessaly {

namespace {

std::string h(std::uint32_t v, int digits = 2) { return "h" + upperHex(v, digits); }

std::string quoted(const std::uint8_t* p, std::size_t n) {
  std::string out = "'";
  for (std::size_t i = 0; i < n; ++i) out += (p[i] >= 0x20 && p[i] < 0x7F) ? static_cast<char>(p[i]) : '.';
  return out + "'";
}

std::string hexBytes(const std::uint8_t* p, std::size_t n, std::size_t shown = 32) {
  std::string out;
  for (std::size_t i = 0; i < n && i < shown; ++i) {
    if (i) out += ' ';
    out += upperHex(p[i], 2);
  }
  if (n > shown) out += " ... (" + std::to_string(n) + " bytes)";
  return out;
}

const char* instructionName(std::uint8_t code) {
  switch (code) {
    case opcode::Reset: return "reset";
    case opcode::StatusRequest: return "status request";
    case opcode::SetSerial: return "set serial number";
    case opcode::SetType: return "set type";
    case opcode::SetUserText: return "set user text";
    case opcode::SetAddress: return "set SDI address";
    case opcode::Nco: return "NCO frequency";
    case opcode::Operation: return "operation";
    case kForwardCommand: return "forward an SDI message";
    case kReadCommand: return "read from a board";
    case kStatusAnswerCode: return "status answer";
    case kNoticeCode: return "interrupt notice";
    case device::StatusCode: return "device status answer";
    case device::ReadbackCode: return "device read-back answer";
    default: return nullptr;
  }
}

const char* operationName(std::uint8_t op) {
  using namespace operationCode;
  switch (op) {
    case StreamOn: return "test stream on";
    case StreamAddress: return "test stream address";
    case StreamJoin: return "test stream join";
    case StreamPort: return "test stream port";
    case GeneralFilter: return "general filter";
    case PidWrite: return "write PID filter entry";
    case PidErase: return "erase PID filter";
    case PidRead: return "read PID filter";
    case Sector: return "set sector";
    case PsiWrite: return "write PSI packet";
    case PsiErase: return "erase PSI flash";
    case PsiRead: return "read PSI flash";
    case StreamFormat: return "stream format";
    case Pll: return "PLL";
    case PcrMode: return "PCR corrector mode";
    case TestPid: return "test PCR PID";
    default: return nullptr;
  }
}

// One pass over a datagram; fields are collected only when asked for.
class Decoder {
 public:
  Decoder(const std::uint8_t* d, std::size_t n, WireSide side, std::vector<WireField>* fields)
      : d_(d), n_(n), side_(side), out_(fields) {}

  std::string run();

 private:
  std::uint8_t at(std::size_t i) const { return i < n_ ? d_[i] : 0; }
  std::uint32_t be(std::size_t i, int bytes) const {
    std::uint32_t v = 0;
    for (int k = 0; k < bytes; ++k) v = (v << 8) | at(i + static_cast<std::size_t>(k));
    return v;
  }
  bool has(std::size_t offset, std::size_t length) const { return offset <= n_ && length <= n_ - offset; }
  std::size_t avail(std::size_t offset, std::size_t length) const {
    return offset >= n_ ? 0 : (length < n_ - offset ? length : n_ - offset);
  }
  // A field; one that runs past the end keeps what is there and says so.
  void field(int depth, const char* name, std::string value, std::size_t offset, std::size_t length) {
    if (!out_) return;
    const std::size_t got = avail(offset, length);
    if (got < length) value = got == 0 ? "(truncated)" : value + " (truncated)";
    out_->push_back({depth, name, std::move(value), offset < n_ ? offset : n_, got});
  }
  bool fields() const { return out_ != nullptr; }
  bool notice() const { return side_ != WireSide::Sent && isInterruptNotice(n_); }

  std::string cwNet();
  std::string ddtoip();
  std::string statusAnswer(const std::string& framing, std::size_t base);
  // The head of a DDToIP answer: magic, label, message type, answer code.
  void answerHead() {
    field(0, "magic", "DDToIP", 0, 6);
    field(0, "label", quoted(d_ + 6, kLabelSize), 6, kLabelSize);
    field(0, "message type", h(at(21)), 21, 1);
    field(0, "answer code", h(at(22)), 22, 1);
  }
  std::string deviceStatus();
  std::string deviceReadback();
  // A DDToIP message between offset and end: its head and every instruction.
  // Gives "'label': h10 set serial number 56765, ..." or a note on what is wrong.
  std::string message(std::size_t offset, std::size_t end, int depth);
  std::string instruction(std::size_t pos, std::size_t dataSize, int depth);
  std::string operation(std::size_t pos, std::size_t size, int depth);

  const std::uint8_t* d_;
  std::size_t n_;
  WireSide side_;
  std::vector<WireField>* out_;
};

std::string Decoder::run() {
  if (n_ >= 6 && std::memcmp(d_, "CW-Net", 6) == 0) return cwNet();
  if (n_ >= 6 && std::memcmp(d_, "DDToIP", 6) == 0) return ddtoip();
  if (notice()) {
    field(0, "notice", hexBytes(d_, n_), 0, n_);
    return "interrupt notice";
  }
  field(0, "data", hexBytes(d_, n_), 0, n_);
  return "unknown";
}

std::string Decoder::cwNet() {
  field(0, "magic", "CW-Net", 0, 6);
  field(0, "command code", h(at(6)), 6, 1);
  field(0, "SDI address", std::to_string(at(7)), 7, 1);
  const std::uint8_t code = at(6);
  // A status answer's block begins right after the address: it has no command word.
  if (code == kCwNetReadCode && n_ == kCwNetStatusAnswer) return statusAnswer("CW-Net", kCwNetAnswerBase);
  field(0, "command word", quoted(d_ + (n_ > 8 ? 8 : n_), avail(8, 10)), 8, 10);
  if (n_ < kCwNetHead) return notice() ? "CW-Net interrupt notice" : "CW-Net (truncated)";
  const std::string sdi = ", SDI " + std::to_string(at(7));
  if (code == kCwNetReadCode && n_ == kCwNetHead) return "CW-Net read" + sdi;
  if (notice()) {
    if (n_ > kCwNetHead) field(0, "rest", hexBytes(d_ + kCwNetHead, n_ - kCwNetHead), kCwNetHead, n_ - kCwNetHead);
    return "CW-Net interrupt notice" + sdi;
  }
  if (code == kCwNetLoadCode) {
    if (fields()) field(0, "SDI message", std::to_string(n_ - kCwNetHead) + " bytes", kCwNetHead, n_ - kCwNetHead);
    return "CW-Net load" + sdi + ": " + message(kCwNetHead, n_, 1);
  }
  field(0, "rest", hexBytes(d_ + kCwNetHead, n_ - kCwNetHead), kCwNetHead, n_ - kCwNetHead);
  if (code == kCwNetReadCode) return "CW-Net answer" + sdi + ", " + std::to_string(n_) + " bytes (not a status answer)";
  return "CW-Net unknown command " + h(code) + sdi;
}

std::string Decoder::ddtoip() {
  if (n_ < kSdiHeadSize + kInstructionHeadSize) {
    if (notice()) {
      message(0, n_, 0);
      return "DDToIP interrupt notice";
    }
    return "direct-port message " + message(0, n_, 0);
  }
  const std::uint8_t code = at(kDDToIPAnswerCodeAt);
  const std::size_t size = be(23, 2);
  const std::size_t data = kDDToIPAnswerBase;  // the first instruction's data
  switch (code) {
    case kReadCommand: {
      message(0, n_, 0);
      if (!has(data, 3)) return "DDToIP read (truncated)";
      return "DDToIP read, SDI " + std::to_string(at(data)) + ", " + std::to_string(be(data + 1, 2)) + " bytes";
    }
    case kForwardCommand: {
      // The outer head, the command, then the SDI message one level down.
      field(0, "magic", "DDToIP", 0, 6);
      field(0, "label", quoted(d_ + 6, kLabelSize), 6, kLabelSize);
      field(0, "message type", h(at(21)), 21, 1);
      field(0, "command", h(code) + " forward an SDI message", 22, 1);
      std::string lengthText = std::to_string(size);
      const bool tooLong = size > n_ - data;
      if (tooLong) lengthText += " (length " + std::to_string(size) + " exceeds the datagram)";
      field(0, "data length", lengthText, 23, 2);
      if (!has(data, 1)) return "DDToIP forward (truncated)";
      field(0, "SDI address", std::to_string(at(data)), data, 1);
      const std::string sdi = ", SDI " + std::to_string(at(data));
      std::size_t end = tooLong ? n_ : data + size;
      if (end < data + 1) end = data + 1;  // a length of 0 leaves no room for the address
      if (fields()) field(0, "SDI message", std::to_string(end - data - 1) + " bytes", data + 1, end - data - 1);
      std::string line = "DDToIP forward" + sdi + ": " + message(data + 1, end, 1);
      if (tooLong) line += " (length " + std::to_string(size) + " exceeds the datagram)";
      if (!tooLong && end < n_) {
        field(0, "after the command", hexBytes(d_ + end, n_ - end), end, n_ - end);
        line += " (" + std::to_string(n_ - end) + " bytes after the command)";
      }
      return line;
    }
    case kStatusAnswerCode:
      if (n_ == kDDToIPStatusAnswer) {
        answerHead();
        return statusAnswer("DDToIP", kDDToIPAnswerBase);
      }
      break;
    case device::StatusCode:
      if (n_ == device::StatusSize) return deviceStatus();
      break;
    case device::ReadbackCode:
      if (n_ == device::ReadbackSize) return deviceReadback();
      break;
    default: break;
  }
  if (notice()) {
    message(0, n_, 0);
    if (code == kNoticeCode) return "DDToIP interrupt notice, SDI " + std::to_string(at(data));
    return "DDToIP interrupt notice (code " + h(code) + ")";
  }
  if (code >= 0xF0) {
    answerHead();
    field(0, "answer body", hexBytes(d_ + 23, n_ - 23), 23, n_ - 23);
    return "DDToIP unknown answer, code " + h(code) + ", " + std::to_string(n_) + " bytes";
  }
  // Anything else is a message for the device itself (the manufacturer test's).
  return "direct-port message " + message(0, n_, 0);
}

std::string Decoder::message(std::size_t offset, std::size_t end, int depth) {
  // Sub-views stop at `end`: a nested message never reads its parent's bytes.
  const std::size_t savedN = n_;
  n_ = end;
  field(depth, "magic", quoted(d_ + (offset < n_ ? offset : n_), avail(offset, 6)), offset, 6);
  field(depth, "label", quoted(d_ + (offset + 6 < n_ ? offset + 6 : n_), avail(offset + 6, kLabelSize)), offset + 6,
        kLabelSize);
  field(depth, "message type", h(at(offset + 21)), offset + 21, 1);
  std::string line;
  if (!has(offset, kSdiHeadSize)) {
    n_ = savedN;
    return "(truncated)";
  }
  if (std::memcmp(d_ + offset, "DDToIP", 6) != 0) line = "(no DDToIP head) ";
  line += quoted(d_ + offset + 6, kLabelSize);
  std::size_t pos = offset + kSdiHeadSize;
  int count = 0;
  while (pos < n_) {
    ++count;
    line += count == 1 ? ": " : ", ";
    if (!has(pos, kInstructionHeadSize)) {
      field(depth, "instruction", "(truncated)", pos, kInstructionHeadSize);
      line += "(truncated)";
      break;
    }
    const std::size_t size = be(pos + 1, 2);
    line += instruction(pos, size, depth);
    if (size > n_ - pos - kInstructionHeadSize) break;
    pos += kInstructionHeadSize + size;
  }
  if (count == 0) line += " (no instructions)";
  n_ = savedN;
  return line;
}

std::string Decoder::instruction(std::size_t pos, std::size_t size, int depth) {
  const std::uint8_t code = at(pos);
  const char* name = instructionName(code);
  std::string line = h(code) + " " + (name ? name : "instruction");
  const std::size_t data = pos + kInstructionHeadSize;
  const bool tooLong = size > n_ - data;
  field(depth, "instruction", line, pos, kInstructionHeadSize + size);
  field(depth + 1, "code", h(code), pos, 1);
  std::string lengthText = std::to_string(size);
  if (tooLong) lengthText += " (length " + std::to_string(size) + " exceeds the datagram)";
  field(depth + 1, "data length", lengthText, pos + 1, 2);
  if (size) field(depth + 1, "data", hexBytes(d_ + data, avail(data, size)), data, size);
  if (tooLong) return line + " (length " + std::to_string(size) + " exceeds the datagram)";
  switch (code) {
    case opcode::SetSerial:
      if (size == 4) line += " " + std::to_string(be(data, 4));
      break;
    case opcode::SetType:
      if (size == 2) line += " " + std::to_string(be(data, 2));
      break;
    case opcode::SetUserText: line += " " + quoted(d_ + data, size); break;
    case opcode::SetAddress:
      if (size >= 1) line += " " + std::to_string(at(data));
      break;
    case opcode::Nco:
      if (size == 5) {
        line += " unit " + std::to_string(at(data)) + ", " + std::to_string(be(data + 1, 4)) + " Hz";
        field(depth + 1, "unit", std::to_string(at(data)), data, 1);
        field(depth + 1, "frequency", std::to_string(be(data + 1, 4)) + " Hz", data + 1, 4);
      }
      break;
    case opcode::Operation: line += " " + operation(data, size, depth + 1); break;
    case kReadCommand:
      if (size == 3) {
        field(depth + 1, "SDI address", std::to_string(at(data)), data, 1);
        field(depth + 1, "bytes to read", std::to_string(be(data + 1, 2)), data + 1, 2);
      }
      break;
    default:
      if (!name) line += " (" + std::to_string(size) + " bytes)";
      break;
  }
  return line;
}

std::string Decoder::operation(std::size_t p, std::size_t size, int depth) {
  if (size < 1) return "(empty)";
  const std::uint8_t op = at(p);
  const char* name = operationName(op);
  field(depth, "operation", h(op) + " " + (name ? name : "unknown operation"), p, 1);
  std::string line = h(op) + " " + (name ? name : "unknown operation");
  auto arg = [&](std::size_t off, int bytes) -> std::uint32_t {
    return off + static_cast<std::size_t>(bytes) <= size ? be(p + off, bytes) : 0;
  };
  using namespace operationCode;
  const bool masked = op != PcrMode && op != StreamPort && op != StreamOn && op != StreamAddress && op != StreamJoin;
  if (masked && size >= 2) {
    field(depth, "unit mask", h(at(p + 1)), p + 1, 1);
    line += ", units " + h(at(p + 1));
  }
  switch (op) {
    case PidWrite:
      line += ", TS" + std::to_string(arg(2, 2) + 1) + " PID " + std::to_string(arg(4, 2)) + " word " + h(arg(6, 2), 4);
      break;
    case PidRead: line += ", TS" + std::to_string(arg(2, 2) + 1) + " from PID " + std::to_string(arg(4, 2)); break;
    case PsiWrite:
      line += ", address " + std::to_string(arg(2, 3)) + " timer " + std::to_string(arg(5, 3)) + " ms";
      break;
    case PsiRead: line += ", address " + std::to_string(arg(2, 3)); break;
    case StreamFormat: line += " " + h(arg(2, 1)); break;
    case Pll: line += ", PDiv " + std::to_string(arg(2, 2) & 0x3FF); break;
    case PcrMode: line += " " + h(arg(1, 1)); break;
    case TestPid: line += " " + std::to_string(arg(2, 2) & 0x1FFF); break;
    case StreamPort: line += " " + std::to_string(arg(1, 2)); break;
    default: break;
  }
  return line;
}

std::string Decoder::statusAnswer(const std::string& framing, std::size_t base) {
  const std::uint8_t presence = at(base + block::Presence), code = at(base + block::DeviceCode);
  std::string line = framing + " status answer";
  if (framing == "CW-Net") line += ", SDI " + std::to_string(at(kCwNetAddressAt));
  if (presence == kDevicePresent)
    line += ", device " + h(code);
  else
    line += ", no device (presence " + h(presence) + ", code " + h(code) + ")";
  if (!fields()) return line;

  // The block as the panel decodes it.
  tZODADevice s;
  s.AnswerBase = static_cast<std::int32_t>(base);
  ReceiveBuffer buffer(n_);
  buffer.store(d_, n_);
  DecodeStatus(s, buffer);
  using F = StatusField;
  // A field of the block where the field table puts it; entry n of the repeated ones.
  auto f = [&](F id, std::string value, int n = 1, int depth = 1) {
    const StatusFieldInfo& info = statusField(id);
    std::string name(info.name);
    if (info.count > 1) name += " " + std::to_string(n);
    field(depth, name.c_str(), std::move(value), base + static_cast<std::size_t>(fieldOffset(id, n)),
          static_cast<std::size_t>(info.length));
  };
  auto num = [](std::int64_t v) { return std::to_string(v); };
  f(F::Block, "1024 bytes", 1, 0);
  f(F::Presence, h(presence) + (presence == kDevicePresent ? " (device present)" : " (no device)"));
  f(F::DeviceCode, h(code) + (code == kRemuxDeviceCode ? " (ASI Remultiplexer)" : ""));
  // The board keeps the 15 bytes of its last user text here.
  f(F::UserText, quoted(d_ + base + block::UserText, 15));
  f(F::DeviceType, num(s.DeviceType));
  f(F::Serial, num(s.SerialNumber));
  f(F::AddressByte, h(s.AddressByte) + " (SDI " + num(fieldOf(F::SdiAddress, s.AddressByte)) +
                        (fieldOf(F::AddressJumper, s.AddressByte) ? ", jumper)" : ")"));
  f(F::InstructionCounter, num(s.InstructionCounter));
  f(F::Version, s.VersionText);
  f(F::ChannelEnable, h(s.ChannelEnable));
  f(F::DataValidEnable, h(s.DataValidEnable));
  f(F::NullFilterEnable, h(s.NullFilterEnable));
  f(F::TspFilterEnable, h(s.TspFilterEnable));
  f(F::OutputFormat, h(s.OutputFormat));
  f(F::IicError, num(s.IicError));
  f(F::Nco, num(s.NcoFrequency) + " Hz");
  f(F::PDiv, num(s.PDiv));
  f(F::PllWord, h(s.PllWord, 8) + " (" + num(s.PllFrequency) + " Hz)");
  f(F::PidFilterState, h(s.PidFilterState));
  f(F::IntRError, num(s.IntRError));
  f(F::ReadbackKind, num(s.ReadbackKind));
  f(F::LedFlags, h(s.LedFlags));
  f(F::PsiInserterState, h(s.PsiInserterState));
  f(F::PcrState, h(s.PcrState));
  f(F::TestPid, num(s.TestPid));
  f(F::MpxVersion, num(s.MpxVersion));
  f(F::SppVersion, num(s.SppVersion));
  f(F::Model, num(s.Model));
  for (int i = 1; i <= 6; ++i) {
    const std::uint32_t word = s.InputStatus[static_cast<std::size_t>(i)];
    const InputStatusWord w = inputStatusWord(word);
    f(F::InputWord,
      h(word, 8) + ": " + num(w.packetsPerSec) + " packets/s, " + num(s.InputRate[static_cast<std::size_t>(i)]) +
          " kbps, " + (w.format188 ? "188" : "204") + "-byte packets" + (w.overflow ? ", overflow" : "") +
          ", sync errors " + num(w.syncErrors),
      i);
  }
  f(F::SdramInputRate, num(s.SdramInputRate) + " packets/s");
  f(F::SdramWord,
    num(s.SdramUsage) + " packets held" + (s.SdramOverflow ? ", overflow" : "") + (s.PcrPause ? ", PCR pause" : ""));
  f(F::NullPacketRate, num(s.NullPacketRate) + " packets/s");
  f(F::InsertedPacketRate, num(s.InsertedPacketRate) + " packets/s");
  f(F::PcrDiscontinuity, num(s.PcrDiscontinuity));
  f(F::PcrPidCount, num(s.PcrPidCount));
  f(F::PcrBaseError, h(static_cast<std::uint32_t>(s.PcrBaseError), 4));
  f(F::PcrSlide, num(s.PcrSlide));
  f(F::LargePcrErrors, num(s.LargePcrErrors));
  f(F::NewPcrPidCount, num(s.NewPcrPidCount));
  for (int k = 1; k <= 12; ++k) {
    const auto K = static_cast<std::size_t>(k);
    f(F::Sector,
      std::string(s.SectorEnable[K] ? "on" : "off") + ", " + num(s.SectorStart[K]) + " to " + num(s.SectorEnd[K]), k);
  }
  f(F::Readback, hexBytes(s.ReadbackData.data(), s.ReadbackData.size(), 16));
  return line;
}

std::string Decoder::deviceStatus() {
  answerHead();
  using namespace device;
  field(0, "presence", h(at(Presence)), Presence, 1);
  field(0, "device code", h(at(DeviceCode)), DeviceCode, 1);
  field(0, "type", std::to_string(be(Type, 2)), Type, 2);
  field(0, "serial number", std::to_string(be(Serial, 4)), Serial, 4);
  field(0, "address byte", h(at(Address)), Address, 1);
  field(0, "instruction counter", std::to_string(at(InstrCounter)), InstrCounter, 1);
  field(0, "version", versionText(at(VersionMajor), at(VersionMinor)), VersionMajor, 2);
  field(0, "test stream port", std::to_string(be(StreamPort, 2)), StreamPort, 2);
  field(0, "PID filter erase bits", h(at(PidEraseBits)), PidEraseBits, 1);
  return "device status answer, device " + h(at(DeviceCode)) + ", PID filter erase bits " + h(at(PidEraseBits));
}

std::string Decoder::deviceReadback() {
  answerHead();
  using namespace device;
  const char* kind = at(ReadKind) == kReadbackPid ? "PID filter" : at(ReadKind) == kReadbackPsi ? "PSI inserter" : "?";
  field(0, "read-back kind", std::to_string(at(ReadKind)) + " (" + kind + ")", ReadKind, 1);
  field(0, "unit", std::to_string(at(ReadUnit)), ReadUnit, 1);
  field(0, "input", std::to_string(be(ReadInput, 2)), ReadInput, 2);
  field(0, "start", hexBytes(d_ + ReadStart, ReadData - ReadStart), ReadStart, ReadData - ReadStart);
  field(0, "data", hexBytes(d_ + ReadData, n_ - ReadData), ReadData, n_ - ReadData);
  return std::string("device read-back answer, ") + kind + ", unit " + std::to_string(at(ReadUnit));
}

std::string dropPrefix(const TrafficRecord& r) {
  if (r.direction != TrafficDirection::Dropped) return {};
  std::string p = r.dropReason == DropReason::TooLong      ? "dropped (too long"
                  : r.dropReason == DropReason::OtherBoard ? "dropped (other board"
                                                           : "dropped (other sender";
  if (r.wireLength > r.data.size()) p += ", " + std::to_string(r.data.size()) + " of " + std::to_string(r.wireLength) + " bytes kept";
  return p + "): ";
}

WireSide sideOf(const TrafficRecord& r) {
  return r.direction == TrafficDirection::Sent ? WireSide::Sent : WireSide::Received;
}

}  // namespace

std::string summarizeDatagram(const std::uint8_t* data, std::size_t size, WireSide side) {
  return Decoder(data, size, side, nullptr).run();
}

WireDecode decodeDatagram(const std::uint8_t* data, std::size_t size, WireSide side) {
  WireDecode out;
  out.summary = Decoder(data, size, side, &out.fields).run();
  return out;
}

std::string summarizeRecord(const TrafficRecord& r) { return dropPrefix(r) + summarizeDatagram(r.data, sideOf(r)); }

WireDecode decodeRecord(const TrafficRecord& r) {
  WireDecode out = decodeDatagram(r.data.data(), r.data.size(), sideOf(r));
  out.summary = dropPrefix(r) + out.summary;
  return out;
}

}  // namespace tessaly
