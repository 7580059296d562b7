#include "model/Options.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace tessaly::emu {

namespace {

bool allDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

std::optional<std::uint64_t> readUnsigned(std::string_view s, std::uint64_t max) {
  if (!allDigits(s) || s.size() > 20) return std::nullopt;
  std::uint64_t v = 0;
  for (char c : s) {
    const std::uint64_t d = static_cast<std::uint64_t>(c - '0');
    if (v > (max - d) / 10) return std::nullopt;
    v = v * 10 + d;
  }
  return v;
}

}  // namespace

std::optional<ListenAddress> parseListen(std::string_view text) {
  const auto colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::string_view host = text.substr(0, colon);
  const auto port = readUnsigned(text.substr(colon + 1), 65535);
  if (!port) return std::nullopt;
  // Four decimal octets 0..255.
  int parts = 0;
  std::size_t pos = 0;
  while (true) {
    const auto dot = host.find('.', pos);
    const std::string_view part = host.substr(pos, dot == std::string_view::npos ? std::string_view::npos : dot - pos);
    if (part.size() > 3 || !readUnsigned(part, 255)) return std::nullopt;
    ++parts;
    if (dot == std::string_view::npos) break;
    pos = dot + 1;
  }
  if (parts != 4) return std::nullopt;
  return ListenAddress{std::string(host), static_cast<std::uint16_t>(*port)};
}

std::optional<double> parseProbability(std::string_view text) {
  if (text.empty() || text.size() > 32) return std::nullopt;
  const std::string s(text);
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || !std::isfinite(v) || v < 0.0 || v > 1.0) return std::nullopt;
  return v;
}

std::optional<std::pair<std::int64_t, std::int64_t>> parseDelay(std::string_view text) {
  constexpr std::uint64_t kMaxDelayMs = 600000;
  const auto dash = text.find('-');
  const auto lo = readUnsigned(text.substr(0, dash), kMaxDelayMs);
  if (!lo) return std::nullopt;
  if (dash == std::string_view::npos)
    return std::make_pair(static_cast<std::int64_t>(*lo), static_cast<std::int64_t>(*lo));
  const auto hi = readUnsigned(text.substr(dash + 1), kMaxDelayMs);
  if (!hi || *hi < *lo) return std::nullopt;
  return std::make_pair(static_cast<std::int64_t>(*lo), static_cast<std::int64_t>(*hi));
}

std::optional<std::uint8_t> parseHexByte(std::string_view text) {
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.remove_prefix(2);
  else if (!text.empty() && text[0] == '$')
    text.remove_prefix(1);
  if (text.empty() || text.size() > 2) return std::nullopt;
  unsigned v = 0;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    v = v * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c))
                                           ? c - '0'
                                           : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10);
  }
  return static_cast<std::uint8_t>(v);
}

std::optional<std::int64_t> parseCount(std::string_view text, std::int64_t lo, std::int64_t hi) {
  const auto v = readUnsigned(text, static_cast<std::uint64_t>(hi));
  if (!v || static_cast<std::int64_t>(*v) < lo) return std::nullopt;
  return static_cast<std::int64_t>(*v);
}

std::optional<std::uint64_t> parseSeed(std::string_view text) {
  return readUnsigned(text, UINT64_MAX);
}

std::optional<std::vector<std::uint8_t>> parseSdiAddresses(std::string_view text) {
  std::vector<std::uint8_t> out;
  std::uint16_t seen = 0;
  while (true) {
    const auto comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    const auto dash = item.find('-');
    const auto lo = readUnsigned(item.substr(0, dash), 15);
    if (!lo || *lo < 1) return std::nullopt;
    auto hi = lo;
    if (dash != std::string_view::npos) {
      hi = readUnsigned(item.substr(dash + 1), 15);
      if (!hi || *hi < *lo) return std::nullopt;
    }
    for (auto a = *lo; a <= *hi; ++a) {
      const auto bit = static_cast<std::uint16_t>(1u << a);
      if (seen & bit) return std::nullopt;
      seen |= bit;
      out.push_back(static_cast<std::uint8_t>(a));
    }
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return out;
}

}  // namespace tessaly::emu
