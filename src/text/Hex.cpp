#include "text/Hex.h"

#include <cstdio>

namespace tessaly {

std::string dollarHex(std::uint8_t b) {
  char buf[4];
  std::snprintf(buf, sizeof buf, "$%02X", b);
  return buf;
}

std::string upperHex(std::uint32_t v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, v);
  return buf;
}

}  // namespace tessaly
