#pragma once
// mfg-test: the manufacturer test run from the command line.
#include <optional>
#include <string>

#include "app/StatusQuery.h"
#include "link/Traffic.h"
#include "mfgtest/MfgMessages.h"

namespace tessaly::cli {

// Runs the test with the page's input texts; prints each step and label as it
// goes; with `junitPath`, writes one JUnit test case per step; `tap` (may be null)
// sees every datagram. Returns the exit code.
int runMfgTest(const QueryTarget& target, const MfgInputTexts& inputs, const std::optional<std::string>& junitPath,
               TrafficTap* tap = nullptr);

}  // namespace tessaly::cli
