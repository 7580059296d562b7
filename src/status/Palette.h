#pragma once
// The panel's one palette. Colours are 24-bit values in blue-green-red byte order
// (0x0000FF is red), the notation the whole panel uses; the Qt tier turns them into
// QColor in one place.
#include <cstdint>

namespace tessaly {

namespace colour {
constexpr std::uint32_t Red = 0x0000FF;
constexpr std::uint32_t LightGreen = 0xC0DCC0;
constexpr std::uint32_t Green = 0x408000;
constexpr std::uint32_t Orange = 0x4080FF;
constexpr std::uint32_t Yellow = 0x00FFFF;
constexpr std::uint32_t Blue = 0xFF0000;
constexpr std::uint32_t Black = 0x000000;
constexpr std::uint32_t LightYellow = 0x80FFFF;
constexpr std::uint32_t LightOrange = 0x97BDFD;
constexpr std::uint32_t UnconfirmedEdit = 0xB4CDC7;
constexpr std::uint32_t ChartLine = 0x00FF80;
// Not a colour value: stands for the system's button-face colour.
constexpr std::uint32_t ButtonFace = 0xFF000000;
}  // namespace colour

}  // namespace tessaly
