#pragma once
// The panel's one number reader. Every numeric field is read by readInt32 and then
// given its own fallback and range: a text that does not read takes the fallback,
// the value is clamped, and the caller writes the result back into the field.
//
// Accepted: optional leading spaces, an optional sign, then decimal digits, or
// hexadecimal digits after "$", "0x" or "0X". Decimal must fit signed 32 bits;
// hexadecimal is an unsigned 32-bit pattern ($FFFFFFFF reads as -1).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessaly {

std::optional<std::int32_t> readInt32(std::string_view text);

// The value, or the fallback when the text does not read.
std::int32_t readIntOr(std::string_view text, std::int32_t fallback);

std::int32_t clampInt(std::int64_t value, std::int32_t lo, std::int32_t hi);

// readIntOr, then clampInt: the common field rule.
std::int32_t readClamped(std::string_view text, std::int32_t fallback, std::int32_t lo, std::int32_t hi);

}  // namespace tessaly
