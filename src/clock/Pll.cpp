#include "clock/Pll.h"

#include <cmath>

#include "protocol/Protocol.h"
#include "text/Hex.h"

namespace tessaly {

namespace {
constexpr std::int64_t kRef = 27000000;
constexpr std::int64_t kVcoLow = 100000000, kVcoHigh = 200000000;
}  // namespace

PllSettings searchPll(std::int32_t frequency) {
  PllSettings best;
  const std::int64_t f = frequency;
  for (std::int64_t pdiv = 1; pdiv <= 1023; ++pdiv) {
    for (std::int64_t m = 1; m <= 511; ++m) {
      const std::int64_t n = (f * pdiv * m + kRef / 2) / kRef;
      if (n < 1 || n > 4095 || m > n) continue;
      const std::int64_t vco = (kRef * n) / m;
      if (vco <= kVcoLow || vco >= kVcoHigh) continue;
      const double out = static_cast<double>(kRef * n) / static_cast<double>(m * pdiv);
      const double error = std::fabs(out - static_cast<double>(f));
      if (best.found && !(error < best.Error)) continue;
      best.found = true;
      best.PDiv = static_cast<std::int32_t>(pdiv);
      best.M = static_cast<std::int32_t>(m);
      best.N = static_cast<std::int32_t>(n);
      best.Error = error;
      best.VcoFrequency = vco;
      best.VcoRange = vco < 125000000 ? 0 : vco < 150000000 ? 1 : vco < 175000000 ? 2 : 3;
    }
  }
  if (!best.found) return best;
  // P = 4 - floor(log2(N / M)), not below 0; worked out in integers.
  int log2 = 0;
  while (static_cast<std::int64_t>(best.M) << (log2 + 1) <= best.N) ++log2;
  best.P = 4 - log2 < 0 ? 0 : 4 - log2;
  const std::int64_t nShifted = static_cast<std::int64_t>(best.N) << best.P;
  best.Q = static_cast<std::int32_t>(nShifted / best.M);
  best.R = static_cast<std::int32_t>(nShifted - static_cast<std::int64_t>(best.M) * best.Q);
  best.OutputFrequency = static_cast<std::int32_t>(static_cast<double>(kRef * best.N) /
                                                   static_cast<double>(static_cast<std::int64_t>(best.M) * best.PDiv));
  return best;
}

std::uint32_t pllWord(const PllSettings& s) {
  return (static_cast<std::uint32_t>(s.N & 0xFFF) << 20) | (static_cast<std::uint32_t>(s.R & 0x1FF) << 11) |
         (static_cast<std::uint32_t>(s.Q & 0x3F) << 5) | (static_cast<std::uint32_t>(s.P & 0x7) << 2) |
         static_cast<std::uint32_t>(s.VcoRange & 0x3);
}

std::vector<std::string> pllReportLines(std::int32_t requested, const PllSettings& s) {
  if (!s.found) return {" PLL Error: This PLL frequency can not be set!"};
  auto d = [](std::int64_t v) { return std::to_string(v); };
  return {
      " N = " + d(s.N),
      " M = " + d(s.M),
      " P = " + d(s.PDiv),
      "Output Frequency: " + d(s.OutputFrequency) + " Hz",
      "Error: " + d(static_cast<std::int64_t>(requested) - s.OutputFrequency) + " Hz",
      "Programming parameters:",
      " PDiv = " + d(s.PDiv),
      " N = " + d(s.N) + "  P = " + d(s.P) + "  Q = " + d(s.Q),
      " R = " + d(s.R) + "  VCO = " + d(s.VcoRange),
      "SETPLL instruction data:",
      " h" + upperHex(static_cast<std::uint32_t>(s.PDiv & 0x3FF), 4) + " h" + upperHex(pllWord(s), 8),
  };
}

Bytes setPllData(const PllSettings& s) {
  Bytes data{operationCode::Pll, 0x01};
  appendBE16(data, static_cast<std::uint32_t>(s.PDiv & 0x3FF));
  appendBE32(data, pllWord(s));
  return data;
}

}  // namespace tessaly
