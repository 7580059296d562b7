#pragma once
// tZODADevice: the last decoded status of the remultiplexer board. A plain record;
// DecodeStatus writes it, PresentStatus reads it, the chart keeps SampleCount in it.
#include <array>
#include <cstdint>
#include <string>

namespace tessaly {

struct tZODADevice {
  std::int32_t AnswerBase = 0;
  std::uint16_t DeviceType = 0;
  std::int32_t SerialNumber = 0;
  std::uint8_t AddressByte = 0;
  std::uint8_t InstructionCounter = 0;
  std::uint8_t VersionMajor = 0;
  std::uint8_t VersionMinor = 0;
  std::string VersionText = "0.00";
  std::uint8_t MpxVersion = 0;
  std::uint8_t SppVersion = 0;
  std::uint8_t Model = 0;
  std::uint8_t ChannelEnable = 0;
  std::uint8_t DataValidEnable = 0;
  std::uint8_t NullFilterEnable = 0;
  std::uint8_t TspFilterEnable = 0;
  std::uint8_t OutputFormat = 0;
  std::uint8_t IicError = 0;
  std::uint8_t IntRError = 0;
  std::uint8_t LedFlags = 0;
  std::int32_t NcoFrequency = 0;
  std::int32_t PllFrequency = 0;
  std::int32_t PDiv = 0;
  std::uint32_t PllWord = 0;
  std::uint8_t PidFilterState = 0;
  std::uint8_t PsiInserterState = 0;
  // Index 1..6 are inputs 1..6; index 0 is unused so that the numbering reads as on screen.
  std::array<std::uint32_t, 7> InputStatus{};
  std::array<std::uint32_t, 7> PrevInputStatus{};
  std::array<std::int32_t, 7> InputRate{};
  std::int32_t SdramInputRate = 0;
  std::int32_t SdramUsage = 0;
  std::int32_t NullPacketRate = 0;
  std::int32_t InsertedPacketRate = 0;
  bool SdramOverflow = false;
  // Index 1..12 are sectors 1..12; index 0 is unused.
  std::array<bool, 13> SectorEnable{};
  std::array<std::int32_t, 13> SectorStart{};
  std::array<std::int32_t, 13> SectorEnd{};
  std::uint8_t ReadbackKind = 0;
  std::array<std::uint8_t, 256> ReadbackData{};
  bool PcrPause = false;
  std::uint8_t PcrDiscontinuity = 0;
  std::uint8_t LargePcrErrors = 0;
  std::uint8_t NewPcrPidCount = 0;
  std::int32_t PcrPidCount = 0;
  std::int32_t PcrSlide = 0;
  std::int32_t TestPid = 0;
  std::int32_t PcrBaseError = 0;
  std::uint8_t PcrState = 0;
  std::int32_t SampleCount = 0;
};

}  // namespace tessaly
