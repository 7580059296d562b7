#pragma once
// Status block decoding: the 1024-byte block at AnswerBase of the receive buffer
// into tZODADevice. The caller validates the answer first.
#include <cstdint>

#include "link/ReceiveBuffer.h"
#include "status/DeviceStatus.h"

namespace tessaly {

// Status block offsets the panel and the emulator agree on.
namespace block {
constexpr int Presence = 0, DeviceCode = 1, DeviceType = 24, Serial = 26, Address = 30, InstrCounter = 31,
              VersionMajor = 32, VersionMinor = 33, ChannelEnable = 34, DataValid = 35, NullFilter = 36,
              TspFilter = 37, OutputFormat = 38, IicError = 39, Nco = 40, PDiv = 44, PllWord = 46,
              PidFilterState = 50, IntRError = 51, ReadbackKind = 52, Leds = 53, PsiState = 54, PcrState = 55,
              TestPid = 56, MpxVersion = 58, SppVersion = 59, Model = 60, InputStatus = 96, SdramInput = 120,
              SdramWord = 123, NullRate = 126, InsertedRate = 129, PcrDiscont = 132, PcrPidCount = 133,
              PcrBaseError = 135, PcrSlide = 137, LargePcrErrors = 139, NewPcrPids = 140, Sectors = 160,
              Readback = 768, Size = 1024;
}

constexpr std::int32_t kReferenceClockHz = 27000000;

// Fills every decoded field; AnswerBase and SampleCount are left to the caller.
void DecodeStatus(tZODADevice& device, ReceiveBuffer& buffer);

// The PLL output frequency for a divider and a programming word; 0 when N, Q or
// PDiv is 0, or when the word yields no reference divider.
std::int32_t PllFrequencyFromWord(std::int32_t pdiv, std::uint32_t word);

// "2.07": the whole part, a dot, and exactly two digits of hundredths.
std::string versionText(std::uint8_t major, std::uint8_t minor);

}  // namespace tessaly
