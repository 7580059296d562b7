#pragma once
// The panel's hexadecimal notations.
#include <cstdint>
#include <string>

namespace tessaly {

// "$" and two upper-case hexadecimal digits, the panel's byte notation.
std::string dollarHex(std::uint8_t b);
// At least `digits` upper-case hexadecimal digits, no prefix.
std::string upperHex(std::uint32_t v, int digits = 2);

}  // namespace tessaly
