#pragma once
// A profile from what the board reports: its status block, its PID filter and PSI
// flash read-backs.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "profile/Profile.h"
#include "status/DeviceStatus.h"

namespace tessaly::profile {

// PIDs per PID filter read-back the profile uses (the board returns more; the first eight count).
constexpr int kPidsPerRead = 8;

// What a profile wants from the status block that its decoded record leaves out:
// the user text and the PSI inserter priority.
struct StatusBlockExtras {
  std::string userText;       // the block's 15 user-text bytes (0x00-filled; cut at the first 0x00)
  bool highPriority = false;  // the board's PSI inserter priority
};
// `block`: the status block from its presence byte (AnswerBase onwards); a block
// too short to hold a field leaves that field at its default.
StatusBlockExtras statusBlockExtras(const std::uint8_t* block, std::size_t size);

// Inputs, output, all twelve sectors and the PCR corrector from a decoded status
// record and its block's extras; the identity too when asked.
Profile profileFromStatus(const tZODADevice& d, bool withIdentity, const StatusBlockExtras& extras);
// The same with the PSI priority taken as normal (for a caller without the block).
Profile profileFromStatus(const tZODADevice& d, bool withIdentity, const std::string& userText = {});

// The entries of startPid..startPid+7 that pass: word 0xFFFF is no entry, bit 15
// set passes, the output PID is the word's low 13 bits. Words are big-endian.
std::vector<PidEntry> pidEntriesFromReadback(std::int32_t startPid, const std::array<std::uint8_t, 256>& data);

// The record at `address`: timer (3 bytes, big-endian), auto-CC byte, the 204-byte
// packet; nullopt when the record is erased (all 0xFF).
std::optional<PsiRecord> psiRecordFromReadback(std::int32_t address, const std::array<std::uint8_t, 256>& data);

}  // namespace tessaly::profile
