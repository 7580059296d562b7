#pragma once
// Datagram framing: the DDToIP message format used for the SDI message and the
// native controller, the CW-Net framing, and the answer forms the panel recognises.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/Protocol.h"
#include "text/Bytes.h"

namespace tessaly {

enum class Framing : int { CwNet = 0, DDToIP = 1 };

// The read request's fixed label: the word, two spaces, "SDI".
extern const std::string_view kReadLabel;

// A 15-byte label from a user text: cut to 15 bytes or filled with 0x00.
std::string userLabel(std::string_view text);

// opcode, 16-bit big-endian data length, data.
Bytes encodeInstruction(std::uint8_t opcode, const Bytes& data);
// "DDToIP", the 15-byte label, 0x01, the encoded instructions.
Bytes encodeSdiMessage(std::string_view label, const Bytes& instructions);
// The load datagram carrying an SDI message to the board at sdiAddress.
// outerLabel is used by the DDToIP framing only.
Bytes encodeLoadDatagram(Framing framing, std::string_view outerLabel, std::uint8_t sdiAddress,
                         const Bytes& sdiMessage);
// The status request: 28 bytes in DDToIP, 18 in CW-Net.
Bytes encodeReadDatagram(Framing framing, std::uint8_t sdiAddress);

// Label, one instruction, framing: a datagram of a single instruction.
Bytes encodeSingleInstructionDatagram(Framing framing, std::string_view label, std::uint8_t sdiAddress,
                                      std::uint8_t opcode, const Bytes& data);

// Answer classification. `at` reads one byte of the receive buffer (0 outside it).
bool isInterruptNotice(std::size_t length);
// A status answer: 1032 bytes with byte 6 = 0x09 (CW-Net) or 1049 bytes with byte 22 = 0xF3 (DDToIP).
// Gives its AnswerBase (8 or 25), or nothing.
std::optional<int> classifyStatusAnswer(std::size_t length, std::uint8_t byte6, std::uint8_t byte22);
// The same over a whole datagram; bytes a short datagram lacks read as 0.
std::optional<int> classifyStatusAnswer(const Bytes& datagram);

}  // namespace tessaly
