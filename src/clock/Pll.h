#pragma once
// Output clock: the NCO and PLL frequency ranges and the PLL divider search
// (27 MHz reference, VCO strictly between 100 and 200 MHz).
#include <cstdint>
#include <string>
#include <vector>

#include "text/Bytes.h"

namespace tessaly {

constexpr std::int32_t kNcoMin = 120, kNcoMax = 40500000;
constexpr std::int32_t kPllMin = 97753, kPllMax = 40500000;
// What the panel's frequency edits read as when their text is not a number.
constexpr std::int32_t kClockFallback = 3000000;

struct PllSettings {
  bool found = false;
  std::int32_t PDiv = 0, M = 0, N = 0, P = 0, Q = 0, R = 0;
  std::int32_t VcoRange = 0;
  std::int64_t VcoFrequency = 0;
  std::int32_t OutputFrequency = 0;  // truncated to whole hertz
  double Error = 0;
};

PllSettings searchPll(std::int32_t frequency);
// N in bits 31..20, R 19..11, Q 10..5, P 4..2, VCO range 1..0, each masked to its width.
std::uint32_t pllWord(const PllSettings& s);
// The lines written to the page memo after "PLL Info:" (the failure line when not found).
std::vector<std::string> pllReportLines(std::int32_t requested, const PllSettings& s);
// SETPLL data: 0x28, 0x01, PDiv (16 bits, 10 kept), the word (32 bits).
Bytes setPllData(const PllSettings& s);

}  // namespace tessaly
