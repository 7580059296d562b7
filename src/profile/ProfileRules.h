#pragma once
// The rules a profile keeps, the names its values are written with and its
// canonical order: shared by the file reader, the checks of a profile built in
// code, the diff and the plan.
#include <optional>
#include <string>

#include "profile/Profile.h"

namespace tessaly::profile {

// "nco", "pll", "input1".."input6", "external"; any other source as its number.
std::string clockSourceName(int source);
// -1 for a name that is not a clock source.
int clockSourceFromName(const std::string& name);
const char* pcrModeName(PcrMode m);  // "off", "on", "direct"
std::uint8_t pcrModeByte(PcrMode m);  // 0x00, 0x01, 0x11

struct Problem {
  // The value it is about, as the reader marks it: "output.pll_hz", "pid_filter.1.#3.pid",
  // "sdram_sectors.2", "psi.records.#0.address".
  std::string where;
  std::string message;  // names the section and the value: it stands alone
};
std::optional<Problem> firstProblem(const Profile& p);

// PID filter entries by PID, PSI ranges and records by address.
void sortProfile(Profile& p);

}  // namespace tessaly::profile
