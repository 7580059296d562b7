#pragma once
// pcr-log: the PCR chart's polling from the command line, one CSV line per sample.
#include <optional>
#include <string>

#include "device/StatusQuery.h"
#include "link/Traffic.h"

namespace tessaly::cli {

struct PcrLogOptions {
  int samples = 0;                     // 0: until stopped
  std::optional<std::string> csvPath;  // "-": standard output only
  bool append = false;                 // add to an existing file
  bool force = false;                  // replace an existing file
};

// Polls as the chart does, `samples` times or until stopped; CSV on standard
// output and, when given, into the file, each line as it comes; `tap` (may be null)
// sees every datagram. Returns the exit code; throws UsageError when the file
// cannot be opened.
int runPcrLog(const QueryTarget& target, const PcrLogOptions& options, TrafficTap* tap = nullptr);

}  // namespace tessaly::cli
