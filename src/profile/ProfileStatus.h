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

// Inputs, output, all twelve sectors and the PCR corrector from a decoded status
// record; the identity too when asked (the user text is not in the record: pass it).
Profile profileFromStatus(const tZODADevice& d, bool withIdentity, const std::string& userText = {});

// The entries of startPid..startPid+7 that pass: word 0xFFFF is no entry, bit 15
// set passes, the output PID is the word's low 13 bits. Words are big-endian.
std::vector<PidEntry> pidEntriesFromReadback(std::int32_t startPid, const std::array<std::uint8_t, 256>& data);

// The record at `address`: timer (3 bytes, big-endian), auto-CC byte, the 204-byte
// packet; nullopt when the record is erased (all 0xFF).
std::optional<PsiRecord> psiRecordFromReadback(std::int32_t address, const std::array<std::uint8_t, 256>& data);

}  // namespace tessaly::profile
