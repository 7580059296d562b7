#include "text/Numbers.h"

namespace tessaly {

namespace {
int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::optional<std::int32_t> readInt32(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < text.size() && text[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= text.size()) return std::nullopt;

  std::uint64_t value = 0;
  if (hex) {
    for (; i < text.size(); ++i) {
      int d = hexDigit(text[i]);
      if (d < 0) return std::nullopt;
      value = value * 16 + static_cast<std::uint64_t>(d);
      if (value > 0xFFFFFFFFull) return std::nullopt;
    }
    auto pattern = static_cast<std::uint32_t>(value);
    if (negative) pattern = 0u - pattern;
    return static_cast<std::int32_t>(pattern);
  }
  const std::uint64_t limit = negative ? 2147483648ull : 2147483647ull;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > limit) return std::nullopt;
  }
  std::int64_t signedValue = negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
  return static_cast<std::int32_t>(signedValue);
}

std::int32_t readIntOr(std::string_view text, std::int32_t fallback) {
  auto v = readInt32(text);
  return v ? *v : fallback;
}

std::int32_t clampInt(std::int64_t value, std::int32_t lo, std::int32_t hi) {
  if (value < lo) return lo;
  if (value > hi) return hi;
  return static_cast<std::int32_t>(value);
}

std::int32_t readClamped(std::string_view text, std::int32_t fallback, std::int32_t lo, std::int32_t hi) {
  return clampInt(readIntOr(text, fallback), lo, hi);
}

}  // namespace tessaly
