#pragma once
// How the pages read their numeric edits into the numbers the instruction encoders
// take: a text that does not read takes the edit's fallback, the value is brought
// into the edit's range (or cut to its width), and the page writes the decimal of
// the result back into the edit before it sends.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "instructions/PageInstructions.h"
#include "profile/Profile.h"

namespace tessaly::edits {

// EditSerial: 0 when it does not read; a negative number gives its 32-bit pattern.
std::uint32_t serial(std::string_view text);
// EditType: 0 when it does not read; the low 16 bits.
std::uint16_t type(std::string_view text);
// EditNCO and EditPLL: 3,000,000 when it does not read; 120..40,500,000 and
// 97,753..40,500,000.
std::int32_t ncoHz(std::string_view text);
std::int32_t pllHz(std::string_view text);
// A PID edit: the fallback when it does not read; 0..8191.
std::int32_t pid(std::string_view text, std::int32_t fallback);
// A packet-buffer address edit: 0 when it does not read; 0..131071.
std::int32_t bufferAddress(std::string_view text);
// EditTimer: 10 when it does not read; 0..16777215.
std::int32_t psiTimer(std::string_view text);
// EditFix: 15 when it does not read; the low 8 bits.
std::uint8_t fixByte(std::string_view text);

// RadioGroupStrFormat item index: 0 is "188", anything else 204 bytes.
int packetSize(int formatIndex);
// RadioGroupPT item index: 1 Descending, 2 Fix, anything else Ascending.
PsiPacketType psiPacketType(int itemIndex);

// The export's PSI flash edit: "" or "none" for none, else ranges such as
// "0-4095,8192-8447" (a single address stands for itself), each 0..131071, first not
// after last, ascending without overlapping. Unlike the numeric edits it has no
// fallback: a text that does not read is refused with the reason in `why`.
std::optional<std::vector<profile::PsiRange>> flashRanges(std::string_view text, std::string& why);

}  // namespace tessaly::edits
