#pragma once
// What the emulated board holds: its identity, its configuration per unit (the
// board has four units; the panel's pages program unit 1, the manufacturer test
// all four), its flash contents and the state of its live figures.
#include <array>
#include <cstdint>
#include <limits>
#include <map>

#include "text/Bytes.h"

namespace tessaly::emu {

constexpr int kUnits = 4;
constexpr int kInputs = 6;
constexpr int kSectors = 12;
constexpr std::size_t kPidFilterCapacity = 8192;  // entries per unit
constexpr std::size_t kPsiFlashCapacity = 2048;   // records per unit
constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::min();

struct SectorState {
  bool enabled = false;
  std::uint32_t start = 0;  // 17 bits
  std::uint32_t end = 0;    // 17 bits
};

struct UnitState {
  std::int32_t ncoHz = 3000000;
  // Stream-format byte: bit 7 188-byte packets, bit 5 PSI inserter priority high,
  // bits 0..4 clock select (0 NCO, 1 PLL, 2..7 TS input 1..6, 8 external).
  std::uint8_t format = 0x80;
  std::uint16_t pdiv = 0;     // 10 bits
  std::uint32_t pllWord = 0;
  std::uint16_t testPid = 0;  // 13 bits
  std::array<SectorState, kSectors> sectors{};
  // PID filter: key (input field << 13 | PID) -> the 16-bit entry word. The input
  // field is what the write instruction carries in front of the PID.
  std::map<std::uint32_t, std::uint16_t> pidFilter;
  std::int64_t pidEraseUntilMs = kNever;
  // PSI inserter flash: address -> record (timer 3 bytes, auto-CC byte, packet bytes).
  std::map<std::uint32_t, Bytes> psiFlash;
  std::int64_t psiEraseUntilMs = kNever;
  double psiInsertDemand = 0;  // packets per second the flash records ask for (1000 / timer)
};

// The live figures' memory between two moments (see Board::advance).
struct LiveState {
  bool started = false;
  std::int64_t lastMs = 0;
  double sdramPackets = 0;   // packets held in the SDRAM
  bool sdramDropping = false;
  std::array<std::uint8_t, kInputs> syncErrors{};
  std::int32_t slide = 0;    // PCR corrector slide, -32767..32767
  bool gradientUp = false;
  std::uint8_t pcrDiscontinuity = 0;
  std::uint8_t largePcrErrors = 0;
  std::uint8_t newPcrPids = 0;
  int pcrPidCount = 0;
};

struct BoardState {
  bool present = true;
  std::uint8_t address = 1;     // SDI address 1..15
  bool jumper = false;          // address selected by jumper
  std::uint8_t deviceCode = 0x1A;
  std::uint16_t type = 4852;
  std::uint32_t serial = 20417;
  std::array<std::uint8_t, 15> userText{};
  std::uint8_t versionMajor = 2, versionMinor = 7;
  std::uint8_t mpxVersion = 14, sppVersion = 9, model = 1;
  std::uint8_t iicError = 0;
  std::uint8_t instructionCounter = 0;  // executed instructions, wraps at 256
  std::uint8_t intRError = 0;           // rejected messages and instructions, wraps at 256

  // Multiplexer input masks, bit i-1 = TS input i.
  std::uint8_t channelEnable = 0x03, dataValid = 0, nullFilter = 0, tspFilter = 0;
  // PCR corrector mode: bits 0..3 the corrector of unit 1..4 on, bit 4 direct re-stamping.
  std::uint8_t pcrMode = 0;
  std::array<UnitState, kUnits> units{};

  std::uint8_t readbackKind = 0;  // 1 PID filter, 2 PSI inserter
  std::array<std::uint8_t, 256> readback{};

  // Settings only the manufacturer test sends.
  std::array<std::uint8_t, 16> streamAddress{};  // 12 zero bytes and an IPv4 address
  std::array<std::uint8_t, 13> streamName{};
  std::uint16_t streamPort = 0;                  // operation 0x15
  bool streamStarted = false;                    // operation 0x01
  bool streamJoined = false;                     // operation 0x03

  LiveState live;
};

}  // namespace tessaly::emu
