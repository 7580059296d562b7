#pragma once
// The Instruction Test page without its widgets: cleaning of the typed texts,
// splitting data texts into bytes, building the five-row message, and every line
// the page writes into its memo.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/Bytes.h"
#include "link/Engine.h"
#include "link/Framing.h"

namespace tessaly {

// The Instruction Test page's transaction: waiting for any answer, answer received.
namespace state {
constexpr std::uint8_t InstrTestWait = 120, InstrTestGot = 121;
}  // namespace state

// Registers 120 → 121: any answer of 27 bytes or more is taken; `timedOut` when none
// came in time, `answered` when one did, `sendFailed` when the datagram could not go out.
void registerInstructionTest(TransactionEngine& engine, std::function<void()> timedOut,
                             std::function<void()> answered, std::function<void()> sendFailed);

constexpr int kInstructionRows = 5;
// The largest payload of one UDP/IPv4 datagram.
constexpr std::size_t kMaxUdpPayload = 65507;

// Opcode filter: "$" and 0..9 pass, A..F/a..f pass upper-cased, everything else is
// dropped; an empty result becomes "0".
std::string cleanOpcodeText(std::string_view text);
// Data filter: as the opcode filter, and the comma passes too.
std::string cleanDataText(std::string_view text);

// The low 8 bits of a typed number ("$1F" and "31" give 31); 0 when it does not read.
std::uint8_t typedByte(std::string_view text);

struct SplitData {
  Bytes bytes;
  std::uint16_t count = 0;  // one per item, kept in 16 bits
};
// Items separated by commas; an empty item reads as 0; a trailing comma adds nothing.
SplitData splitDataText(std::string_view cleaned);

struct InstructionRow {
  bool ticked = false;
  std::string opcodeText;
  std::string dataText;
};

struct InstructionMessage {
  Framing framing = Framing::DDToIP;
  std::uint8_t sdiAddress = 1;
  // Write-backs for ticked rows only; a cleared row keeps its texts and its length edit.
  std::array<std::optional<std::string>, kInstructionRows> opcodeTexts;
  std::array<std::optional<std::string>, kInstructionRows> dataTexts;
  std::array<std::optional<std::uint16_t>, kInstructionRows> counts;
  std::string label;      // exactly 15 bytes, 0x00-filled
  std::string labelText;  // what the user-text edit shows afterwards: the label without its 0x00 fill
  Bytes head;             // 48 bytes (DDToIP) or 40 bytes (CW-Net)
  std::array<Bytes, kInstructionRows> instructions;  // empty for cleared rows
  Bytes datagram;         // head + instructions
};

// One instruction as numbers: its opcode and data bytes.
struct RawInstruction {
  std::uint8_t opcode = 0;
  Bytes data;
};
using RawInstructions = std::array<std::optional<RawInstruction>, kInstructionRows>;

// The message of the given rows (empty rows send nothing) under the user text cut
// to 15 bytes or 0x00-filled; no texts to write back.
InstructionMessage encodeInstructionMessage(const RawInstructions& rows, std::string_view userText,
                                            Framing framing, std::uint8_t sdiAddress);

// The page's rows read as the page reads them (cleaned texts, data split at commas),
// then encoded; the write-backs of the ticked rows filled in.
InstructionMessage buildInstructionMessage(const std::array<InstructionRow, kInstructionRows>& rows,
                                           std::string_view userText, Framing framing,
                                           std::uint8_t sdiAddress);

// True when the datagram fits one UDP datagram; a larger one must not be sent.
bool fitsOneDatagram(const Bytes& datagram);

// "View message": the message dump.
std::vector<std::string> viewDumpLines(const InstructionMessage& m);
// "Send": the send dump, followed by " " and "Step 2. - Sending Message".
std::vector<std::string> sendDumpLines(const InstructionMessage& m);
std::vector<std::string> sendSuccessLines(std::string_view deviceIp, int devicePort, std::uint8_t sdiAddress);
std::vector<std::string> sendFailureLines();

extern const std::string_view kInstructionNoAnswerLine;  // " No answer received (in 1s)."
// The answer report: the length line and the body line (bytes from offset 22, each " $XX").
// Only bytes inside both the received datagram and the buffer are read.
std::vector<std::string> answerLines(const std::uint8_t* buffer, std::size_t bufferSize,
                                     std::size_t receivedLength);

}  // namespace tessaly
