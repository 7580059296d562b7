#pragma once
// pcr-log: the PCR chart's polling from the command line, one CSV line per sample.
#include <optional>
#include <string>

#include "app/StatusQuery.h"
#include "link/Traffic.h"

namespace tessaly::cli {

// Polls `samples` times as the chart does; CSV on standard output and, when given,
// into `csvPath`, each line flushed; `tap` (may be null) sees every datagram.
// Returns the exit code.
int runPcrLog(const QueryTarget& target, int samples, const std::optional<std::string>& csvPath,
              TrafficTap* tap = nullptr);

}  // namespace tessaly::cli
