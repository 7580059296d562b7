#include "link/LinkSettings.h"

#include "text/Numbers.h"

namespace tessaly {

std::optional<IpSplit> splitChangeIp(std::string_view text) {
  if (text.size() < 7) return std::nullopt;
  int dots = 0;
  std::size_t last = std::string_view::npos;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '.') {
      ++dots;
      last = i;
    }
  }
  // A short address such as 1.2.3.4 (last dot at position 6, counted from 1) is
  // refused: the last dot must stand after position 6.
  if (dots != 3 || last < 6 || last + 1 >= text.size()) return std::nullopt;
  const std::int32_t ext = readIntOr(text.substr(last + 1), 256);
  if (ext < 0 || ext > 255) return std::nullopt;
  return IpSplit{std::string(text.substr(0, last + 1)), ext};
}

std::string deviceIp(const std::string& base, int extension) { return base + std::to_string(extension); }

}  // namespace tessaly
