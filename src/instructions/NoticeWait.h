#pragma once
// An instruction's wait for the board's interrupt notice: the waiting code moves to
// the received code on a notice (26 bytes or fewer); the timer then tells which.
#include <cstdint>
#include <functional>
#include <string_view>

#include "link/Engine.h"

namespace tessaly {

inline constexpr std::string_view kNoticeReceivedText = "SDI IRQ received.";
inline constexpr std::string_view kNoNoticeText = "No SDI IRQ received (in 1s).";

inline std::string_view noticeOutcomeText(bool received) { return received ? kNoticeReceivedText : kNoNoticeText; }

// Registers the wait `waiting` → `received`: `outcome(true)` when a notice came,
// `outcome(false)` when the time ran out, `sendFailed(late)` when the datagram
// could not go out.
void registerNoticeWait(TransactionEngine& engine, std::uint8_t waiting, std::uint8_t received,
                        std::function<void(bool received)> outcome, std::function<void(bool late)> sendFailed);

}  // namespace tessaly
