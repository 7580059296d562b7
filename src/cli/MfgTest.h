#pragma once
// mfg-test: the manufacturer test run from the command line.
#include <optional>
#include <string>

#include "device/StatusQuery.h"
#include "link/Traffic.h"
#include "mfgtest/MfgMessages.h"

namespace tessaly::cli {

struct MfgTestOptions {
  MfgInputTexts inputs;                  // the page's input texts
  std::optional<std::string> junitPath;  // a JUnit XML report, one test case per step
  bool json = false;                     // one JSON object at the end instead of the running lines
};

// Runs the test; prints each step and label as it goes (or, with json, one object
// at the end); `tap` (may be null) sees every datagram. Returns the exit code;
// throws UsageError before the run when the report cannot be written.
int runMfgTest(const QueryTarget& target, const MfgTestOptions& options, TrafficTap* tap = nullptr);

}  // namespace tessaly::cli
