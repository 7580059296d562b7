#pragma once
// Where a board (or a second profile) differs from a profile, field by field.
#include <string>
#include <vector>

#include "profile/Profile.h"

namespace tessaly::profile {

struct Difference {
  std::string field;     // e.g. "inputs.2.null_filter", "output.pll_hz", "pid_filter.1.500"
  std::string expected;  // "absent" when missing
  std::string actual;    // "absent" when missing
  bool operator==(const Difference& o) const {
    return field == o.field && expected == o.expected && actual == o.actual;
  }
};

// Over what `expected` names only. A PLL frequency compares as the frequency the PLL
// search reaches for the expected one.
std::vector<Difference> diffProfiles(const Profile& expected, const Profile& actual);

}  // namespace tessaly::profile
