#pragma once
// The single instructions of the Mpx and PID Filter, SDRAM and PSI Inserter and
// PCR Corrector pages, encoded from numbers in their units: input 1..6, PID
// 0..8191, packet-buffer address 0..131071, timer 0..16777215. The pages read their
// edits into these numbers; tessaly-cli hands over the numbers it parsed.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "instructions/GeneralInstructions.h"

namespace tessaly {

// Each page's wait for the board's interrupt notice after one of its instructions
// (the panel's pages and tessaly-cli use the same codes).
namespace state {
constexpr std::uint8_t MpxWait = 4, MpxGot = 5;  // Mpx and PID Filter
constexpr std::uint8_t PsiWait = 6, PsiGot = 7;  // SDRAM and PSI Inserter
constexpr std::uint8_t PcrWait = 8, PcrGot = 9;  // PCR Corrector
}  // namespace state

// Texts of the page-instruction send.
extern const std::string_view kMessageSentText;       // "Message sent, waiting for reply..."
extern const std::string_view kPressQueryText;        // "Press Query to show data!"
extern const std::string_view kCommErrorCheckText;    // "Communication Error! Check your network connection!"
extern const std::string_view kCommErrorText;         // "Communication Error!"

constexpr std::int32_t kPidMax = 8191;
constexpr std::int32_t kFlashAddressMax = 0x1FFFF;
constexpr std::int32_t kPsiTimerMax = 0xFFFFFF;

// Mpx and PID Filter page ------------------------------------------------------

struct GeneralFilterBoxes {
  // Index 0..5 are inputs 1..6.
  std::array<bool, 6> enable{}, dataValid{}, nullPacket{}, tspError{};
};
LabelledInstruction setGeneralFilterInstruction(const GeneralFilterBoxes& boxes);

LabelledInstruction erasePidFilterInstruction();

// Enables `pid` of `input` (1..6); the board passes it on under `outputPid` (the
// same PID unless remapped).
LabelledInstruction writePidFilterInstruction(int input, std::int32_t pid, std::int32_t outputPid);

// The filter is read in rows of eight PIDs: the row holding `pid`.
constexpr std::int32_t pidFilterReadStart(std::int32_t pid) { return pid & ~7; }
// Reads the row of `input` (1..6) that holds `pid`.
LabelledInstruction readPidFilterInstruction(int input, std::int32_t pid);

// SDRAM and PSI Inserter page --------------------------------------------------

// The page's rows: sectors 1..4 only; other sectors send nothing.
std::optional<LabelledInstruction> setSectorInstruction(int sector, bool enabled, std::int32_t start,
                                                        std::int32_t end);
// Any of the board's twelve sectors (1..12); nothing outside them.
std::optional<LabelledInstruction> sectorInstruction(int sector, bool enabled, std::int32_t start, std::int32_t end);

LabelledInstruction erasePsiInstruction();

enum class PsiPacketType : int { Ascending = 0, Descending = 1, Fix = 2 };

// The 204-byte test packet: sync, PID, 0x10, then 200 fill bytes by packet type.
Bytes psiTestPacket(std::int32_t pid, PsiPacketType type, std::uint8_t fix);

struct PsiWrite {
  std::int32_t pid = 1000;
  std::int32_t address = 0;
  std::int32_t timer = 10;
  PsiPacketType packetType = PsiPacketType::Ascending;
  std::uint8_t fix = 15;  // the fill byte of a Fix packet
  bool autoCc = false;
};
LabelledInstruction writePsiInstruction(const PsiWrite& w);
// One flash record as it is: address, timer, auto-CC byte and the packet's bytes.
LabelledInstruction writePsiRecordInstruction(std::int32_t address, std::int32_t timer, bool autoCc,
                                              const Bytes& packet);

LabelledInstruction readPsiInstruction(std::int32_t address);

// PCR Corrector page -----------------------------------------------------------

// 0x00 off, 0x01 on, 0x11 on with direct re-stamping.
std::uint8_t pcrCorrectorMode(bool on, bool directRestamping);
LabelledInstruction setPcrCorrectorInstruction(bool on, bool directRestamping);

LabelledInstruction setTestPcrPidInstruction(std::int32_t pid);

}  // namespace tessaly
