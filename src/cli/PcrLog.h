#pragma once
// pcr-log: the PCR chart's polling from the command line, one CSV line per sample.
#include <optional>
#include <string>

#include "app/StatusQuery.h"

namespace tessaly::cli {

// Polls `samples` times as the chart does; CSV on standard output and, when given,
// into `csvPath`, each line flushed. Returns the exit code.
int runPcrLog(const QueryTarget& target, int samples, const std::optional<std::string>& csvPath);

}  // namespace tessaly::cli
