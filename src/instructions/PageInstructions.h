#pragma once
// The single instructions of the Mpx and PID Filter, SDRAM and PSI Inserter and
// PCR Corrector pages, built from the raw control values. Each builder normalises
// its numeric fields (fallback, range) and gives the texts to write back.
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

struct WritePidFilter {
  LabelledInstruction instruction;
  std::string pidText;
  std::optional<std::string> remapText;  // only when the remap box is ticked
};
// tsIndex: RadioGroupTS item index (0 = TS1).
WritePidFilter writePidFilterInstruction(int tsIndex, std::string_view editPid, bool remapTicked,
                                         std::string_view editRemap);

struct ReadPidFilter {
  LabelledInstruction instruction;
  std::string pidText;  // the start PID, a multiple of 8
};
ReadPidFilter readPidFilterInstruction(int tsIndex, std::string_view editPid);

// SDRAM and PSI Inserter page --------------------------------------------------

struct SetSector {
  LabelledInstruction instruction;
  std::string startText, endText;
};
// Rows 1..4 only; other rows send nothing.
std::optional<SetSector> setSectorInstruction(int row, bool enabled, std::string_view editStart,
                                              std::string_view editEnd);

LabelledInstruction erasePsiInstruction();

enum class PsiPacketType : int { Ascending = 0, Descending = 1, Fix = 2 };

// The 204-byte test packet: sync, PID, 0x10, then 200 fill bytes by packet type.
Bytes psiTestPacket(std::int32_t pid, PsiPacketType type, std::uint8_t fix);

struct WritePsiInput {
  std::string pidText, addressText, timerText, fixText;
  int packetType = 0;  // RadioGroupPT item index
  bool autoCc = false;
};
struct WritePsi {
  LabelledInstruction instruction;
  std::string pidText, addressText, timerText, fixText;
};
WritePsi writePsiInstruction(const WritePsiInput& in);

struct ReadPsi {
  LabelledInstruction instruction;
  std::string addressText;
};
ReadPsi readPsiInstruction(std::string_view editAddress);

// PCR Corrector page -----------------------------------------------------------

// 0x00 off, 0x01 on, 0x11 on with direct re-stamping.
std::uint8_t pcrCorrectorMode(bool on, bool directRestamping);
LabelledInstruction setPcrCorrectorInstruction(bool on, bool directRestamping);

struct SetTestPcrPid {
  LabelledInstruction instruction;
  std::string pidText;
};
SetTestPcrPid setTestPcrPidInstruction(std::string_view editTestPid);

}  // namespace tessaly
