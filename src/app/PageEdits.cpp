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

std::optional<std::vector<profile::PsiRange>> flashRanges(std::string_view text, std::string& why) {
  const auto trimmed = [](std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    return t;
  };
  text = trimmed(text);
  std::vector<profile::PsiRange> out;
  if (text.empty() || text == "none") return out;
  // Decimal digits only, within the flash.
  const auto address = [](std::string_view t, std::int32_t& v) {
    if (t.empty() || t.size() > 6) return false;
    std::int32_t n = 0;
    for (const char c : t) {
      if (c < '0' || c > '9') return false;
      n = n * 10 + (c - '0');
    }
    v = n;
    return n <= kFlashAddressMax;
  };
  for (std::size_t at = 0;;) {
    const std::size_t comma = text.find(',', at);
    const std::string_view item =
        trimmed(text.substr(at, comma == std::string_view::npos ? std::string_view::npos : comma - at));
    const std::size_t dash = item.find('-');
    profile::PsiRange r;
    if (!address(trimmed(item.substr(0, dash)), r.first) ||
        !address(dash == std::string_view::npos ? trimmed(item) : trimmed(item.substr(dash + 1)), r.last)) {
      why = "'" + std::string(item) + "' is not an address 0.." + std::to_string(kFlashAddressMax) +
            " or a range of them such as 0-4095";
      return std::nullopt;
    }
    if (r.first > r.last) {
      why = std::string(item) + ": the first address is after the last";
      return std::nullopt;
    }
    if (!out.empty() && r.first <= out.back().last) {
      why = std::string(item) + ": the ranges must ascend without overlapping";
      return std::nullopt;
    }
    out.push_back(r);
    if (comma == std::string_view::npos) return out;
    at = comma + 1;
  }
}

PsiPacketType psiPacketType(int itemIndex) {
  if (itemIndex == 1) return PsiPacketType::Descending;
  if (itemIndex == 2) return PsiPacketType::Fix;
  return PsiPacketType::Ascending;
}

}  // namespace tessaly::edits
