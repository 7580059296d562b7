#include "instructions/InstructionTest.h"

#include <algorithm>
#include <iterator>

#include "text/Hex.h"
#include "text/Numbers.h"

namespace tessaly {

void registerInstructionTest(TransactionEngine& engine, std::function<void()> timedOut,
                             std::function<void()> answered, std::function<void()> sendFailed) {
  Transaction t;
  t.waiting = state::InstrTestWait;
  t.received = state::InstrTestGot;
  t.accepts = Answer::Long;
  t.timedOut = std::move(timedOut);
  t.answered = std::move(answered);
  t.sendFailed = [sendFailed = std::move(sendFailed)](bool) { sendFailed(); };
  engine.registerTransaction(std::move(t));
}

namespace {

std::string cleanText(std::string_view text, bool keepComma) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '$' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (keepComma && c == ',')) {
      out.push_back(c);
    } else if (c >= 'a' && c <= 'f') {
      out.push_back(static_cast<char>(c - 'a' + 'A'));
    }
  }
  if (out.empty()) out = "0";
  return out;
}

void appendByteText(std::string& line, std::uint8_t b) {
  line += dollarHex(b);
  line += ' ';
}

std::string byteLine(std::string prefix, const Bytes& bytes, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to && i < bytes.size(); ++i) appendByteText(prefix, bytes[i]);
  return prefix;
}

// Head lines split as [from, to) ranges of the head.
struct Range {
  std::size_t from, to;
};
constexpr Range kDDToIPHeadLines[] = {{0, 11}, {11, 22}, {22, 26}, {26, 37}, {37, 48}};
constexpr Range kCwNetHeadLines[] = {{0, 9}, {9, 18}, {18, 29}, {29, 40}};

std::vector<std::string> dumpLines(const InstructionMessage& m, bool sending) {
  const bool dd = m.framing == Framing::DDToIP;
  const std::string name = dd ? "DDToIP" : "CW-Net";
  const std::string lead = sending ? " " : "";
  std::vector<std::string> lines;
  lines.push_back(sending ? "Step 1. - Processing " + name + " Message" : "Step 1. - " + name + " Message bytes:");

  const Range* ranges = dd ? kDDToIPHeadLines : kCwNetHeadLines;
  const std::size_t count = dd ? std::size(kDDToIPHeadLines) : std::size(kCwNetHeadLines);
  for (std::size_t i = 0; i < count; ++i) {
    const std::string prefix = i == 0 ? lead + "Header: " : lead + std::string(8, ' ');
    lines.push_back(byteLine(prefix, m.head, ranges[i].from, ranges[i].to));
  }
  for (int row = 0; row < kInstructionRows; ++row) {
    const Bytes& ins = m.instructions[static_cast<std::size_t>(row)];
    if (ins.empty()) continue;
    const std::string prefix = lead + "IT" + std::to_string(row + 1) + ":    ";
    lines.push_back(byteLine(prefix, ins, 0, ins.size()));
  }
  return lines;
}

}  // namespace

const std::string_view kInstructionNoAnswerLine = " No answer received (in 1s).";

std::string cleanOpcodeText(std::string_view text) { return cleanText(text, false); }
std::string cleanDataText(std::string_view text) { return cleanText(text, true); }

std::uint8_t typedByte(std::string_view text) {
  return static_cast<std::uint8_t>(static_cast<std::uint32_t>(readIntOr(text, 0)) & 0xFF);
}

SplitData splitDataText(std::string_view cleaned) {
  SplitData out;
  std::string item;
  for (char c : cleaned) {
    if (c == ',') {
      out.bytes.push_back(typedByte(item));
      item.clear();
      ++out.count;
    } else {
      item.push_back(c);
    }
  }
  if (!item.empty()) {
    out.bytes.push_back(typedByte(item));
    ++out.count;
  }
  return out;
}

InstructionMessage encodeInstructionMessage(const RawInstructions& rows, std::string_view userText,
                                            Framing framing, std::uint8_t sdiAddress) {
  InstructionMessage m;
  m.framing = framing;
  m.sdiAddress = sdiAddress;

  Bytes joined;
  for (std::size_t n = 0; n < rows.size(); ++n) {
    if (!rows[n]) continue;
    m.instructions[n] = encodeInstruction(rows[n]->opcode, rows[n]->data);
    append(joined, m.instructions[n]);
  }

  m.label = userLabel(userText);
  m.labelText = m.label.substr(0, m.label.find('\0'));

  m.datagram = encodeLoadDatagram(framing, m.label, sdiAddress, encodeSdiMessage(m.label, joined));
  m.head.assign(m.datagram.begin(), m.datagram.end() - static_cast<std::ptrdiff_t>(joined.size()));
  return m;
}

InstructionMessage buildInstructionMessage(const std::array<InstructionRow, kInstructionRows>& rows,
                                           std::string_view userText, Framing framing,
                                           std::uint8_t sdiAddress) {
  RawInstructions raw;
  std::array<std::string, kInstructionRows> opcodeTexts, dataTexts;
  std::array<std::uint16_t, kInstructionRows> counts{};
  for (std::size_t n = 0; n < rows.size(); ++n) {
    const InstructionRow& row = rows[n];
    if (!row.ticked) continue;
    opcodeTexts[n] = cleanOpcodeText(row.opcodeText);
    dataTexts[n] = cleanDataText(row.dataText);
    SplitData data = splitDataText(dataTexts[n]);
    raw[n] = RawInstruction{typedByte(opcodeTexts[n]), std::move(data.bytes)};
    counts[n] = data.count;
  }
  InstructionMessage m = encodeInstructionMessage(raw, userText, framing, sdiAddress);
  for (std::size_t n = 0; n < rows.size(); ++n) {
    if (!rows[n].ticked) continue;
    m.opcodeTexts[n] = std::move(opcodeTexts[n]);
    m.dataTexts[n] = std::move(dataTexts[n]);
    m.counts[n] = counts[n];
  }
  return m;
}

bool fitsOneDatagram(const Bytes& datagram) { return datagram.size() <= kMaxUdpPayload; }

std::vector<std::string> viewDumpLines(const InstructionMessage& m) { return dumpLines(m, false); }

std::vector<std::string> sendDumpLines(const InstructionMessage& m) {
  std::vector<std::string> lines = dumpLines(m, true);
  lines.emplace_back(" ");
  lines.emplace_back("Step 2. - Sending Message");
  return lines;
}

std::vector<std::string> sendSuccessLines(std::string_view deviceIp, int devicePort, std::uint8_t sdiAddress) {
  return {
      " Message sent sucessfuly.",
      " Destination IP: " + std::string(deviceIp),
      " Destination port: " + std::to_string(devicePort),
      " Destination SDI address: " + std::to_string(sdiAddress),
      " ",
      "Step 3. - Waiting for answer",
  };
}

std::vector<std::string> sendFailureLines() { return {" ", "Communication Error !", "Message cannot be sent."}; }

std::vector<std::string> answerLines(const std::uint8_t* buffer, std::size_t bufferSize,
                                     std::size_t receivedLength) {
  std::vector<std::string> lines;
  lines.push_back(" Answer received (" + std::to_string(receivedLength) + " bytes).");
  std::string body = " DDToIP body:";
  const std::size_t end = buffer ? std::min(bufferSize, receivedLength) : 0;
  for (std::size_t i = kSdiHeadSize; i < end; ++i) {
    body += ' ';
    body += dollarHex(buffer[i]);
  }
  lines.push_back(std::move(body));
  return lines;
}

}  // namespace tessaly
