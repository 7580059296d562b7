#include "model/Message.h"

#include <cstring>

#include "link/Framing.h"

namespace tessaly::emu {

bool parseMessage(const std::uint8_t* data, std::size_t size, MessageView& out) {
  out.instructions.clear();
  if (size < kSdiHeadSize || std::memcmp(data, "DDToIP", 6) != 0 || data[21] != 0x01) return false;
  out.label = std::string_view(reinterpret_cast<const char*>(data + 6), kLabelSize);
  std::size_t pos = kSdiHeadSize;
  while (pos < size) {
    if (size - pos < kInstructionHeadSize) return false;
    const std::size_t n = be(data + pos + 1, 2);
    if (size - pos - kInstructionHeadSize < n) return false;
    out.instructions.push_back({data[pos], data + pos + kInstructionHeadSize, n});
    pos += kInstructionHeadSize + n;
  }
  return true;
}

}  // namespace tessaly::emu
