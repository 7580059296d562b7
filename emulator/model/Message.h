#pragma once
// Reading a DDToIP message: "DDToIP", a 15-byte label, the message type 0x01, then
// instructions (code, 16-bit big-endian data length, data) back to back up to the
// very end. Views point into the caller's bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tessaly::emu {

struct InstructionView {
  std::uint8_t code = 0;
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::uint8_t at(std::size_t i) const { return i < size ? data[i] : 0; }
};

struct MessageView {
  std::string_view label;                 // 15 bytes
  std::vector<InstructionView> instructions;
};

// The message, or false when it is malformed: wrong magic, too short for its head,
// a message type other than 0x01, or an instruction whose head or data runs past
// the end. A message with no instructions is well formed.
bool parseMessage(const std::uint8_t* data, std::size_t size, MessageView& out);

// Unsigned big-endian number of n (1..4) bytes at data[0..n).
inline std::uint32_t be(const std::uint8_t* data, int n) {
  std::uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | data[i];
  return v;
}

}  // namespace tessaly::emu
