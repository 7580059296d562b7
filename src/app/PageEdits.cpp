#include "app/PageEdits.h"

#include "clock/Pll.h"
#include "text/Numbers.h"

namespace tessaly::edits {

std::uint32_t serial(std::string_view text) { return static_cast<std::uint32_t>(readIntOr(text, 0)); }

std::uint16_t type(std::string_view text) {
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(readIntOr(text, 0)) & 0xFFFFu);
}

std::int32_t ncoHz(std::string_view text) { return readClamped(text, kClockFallback, kNcoMin, kNcoMax); }

std::int32_t pllHz(std::string_view text) { return readClamped(text, kClockFallback, kPllMin, kPllMax); }

std::int32_t pid(std::string_view text, std::int32_t fallback) { return readClamped(text, fallback, 0, kPidMax); }

std::int32_t bufferAddress(std::string_view text) { return readClamped(text, 0, 0, kFlashAddressMax); }

std::int32_t psiTimer(std::string_view text) { return readClamped(text, 10, 0, kPsiTimerMax); }

std::uint8_t fixByte(std::string_view text) {
  return static_cast<std::uint8_t>(static_cast<std::uint32_t>(readIntOr(text, 15)) & 0xFFu);
}

int packetSize(int formatIndex) { return formatIndex == 0 ? 188 : 204; }

PsiPacketType psiPacketType(int itemIndex) {
  if (itemIndex == 1) return PsiPacketType::Descending;
  if (itemIndex == 2) return PsiPacketType::Fix;
  return PsiPacketType::Ascending;
}

}  // namespace tessaly::edits
