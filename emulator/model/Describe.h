#pragma once
// One readable line per datagram, for the emulator's verbose trace:
// "[28] DDToIP read, SDI 1, 1024 bytes", "[26] DDToIP interrupt notice, SDI 1", ...
#include <cstddef>
#include <cstdint>
#include <string>

#include "text/Bytes.h"

namespace tessaly::emu {

std::string describeDatagram(const std::uint8_t* data, std::size_t size);
inline std::string describeDatagram(const Bytes& d) { return describeDatagram(d.data(), d.size()); }

// The instructions of a DDToIP message, e.g. "'Set Serial Num ' set serial 56765".
std::string describeMessage(const std::uint8_t* data, std::size_t size);

}  // namespace tessaly::emu
