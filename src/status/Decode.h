#pragma once
// Status block decoding: the 1024-byte block at AnswerBase of the receive buffer
// into tZODADevice. The caller validates the answer first.
#include <cstdint>

#include "link/ReceiveBuffer.h"
#include "protocol/Protocol.h"
#include "status/DeviceStatus.h"

namespace tessaly {

constexpr std::int32_t kReferenceClockHz = 27000000;

// Fills every decoded field; AnswerBase and SampleCount are left to the caller.
void DecodeStatus(tZODADevice& device, ReceiveBuffer& buffer);

// The PLL output frequency for a divider and a programming word; 0 when N, Q or
// PDiv is 0, or when the word yields no reference divider.
std::int32_t PllFrequencyFromWord(std::int32_t pdiv, std::uint32_t word);

// "2.07": the whole part, a dot, and exactly two digits of hundredths.
std::string versionText(std::uint8_t major, std::uint8_t minor);

}  // namespace tessaly
