// pcr-log: the PCR chart's polling, one CSV line per sample (the run: src/cli/PcrLog.cpp).
#include "cli/DeviceRun.h"
#include "cli/PcrLog.h"
#include "cli/commands/Commands.h"

namespace tessaly::cli {
namespace {

int pcrLog(Invocation& inv) {
  const GivenOptions& o = inv.options();
  const auto samples = o.number("--samples");
  const auto csv = o.text("--csv");
  const bool append = o.has("--append"), force = o.has("--force");
  if (!samples) throw UsageError{"pcr-log: missing --samples N"};
  if ((append || force) && (!csv || *csv == "-"))
    throw UsageError{std::string(append ? "--append" : "--force") + ": only with --csv FILE"};
  if (append && force) throw UsageError{"--append and --force: one or the other"};
  PcrLogOptions p;
  p.samples = static_cast<int>(*samples);
  refuseSettingsFile("--csv", csv);
  p.csvPath = csv;
  p.append = append;
  p.force = force;
  const QueryTarget t = usableTarget(o);
  return inv.captured(runPcrLog(t, p, inv.capture()));
}

}  // namespace

const Command kPcrLog{
    "pcr-log",
    "  pcr-log --samples N [--csv FILE|-] [--append | --force]\n"
    "                         poll the status as the PCR chart does (about once a second) and\n"
    "                         print a CSV header and one line per request (N 1..1000000, or 0\n"
    "                         to run until stopped): time (UTC, ISO 8601 with ms), sample,\n"
    "                         slide, COR, base error (and in ms), PCR PIDs, new PCR PIDs, PCR\n"
    "                         discontinuities, large PCR errors, error; a request without a\n"
    "                         valid answer gives a line with empty figures and its reason in\n"
    "                         the error column; each line is written as it comes, also to\n"
    "                         FILE (- for standard output only); an existing FILE is refused\n"
    "                         unless --append adds to it (the header only into an empty file)\n"
    "                         or --force replaces it; a write error ends the log with exit 1;\n"
    "                         exit 2 (3) when no request got a (valid) answer\n"
    "                           tessaly-cli pcr-log --samples 60 --csv pcr.csv\n",
    "pcr-log --samples N [--csv FILE|-] [--append|--force]",
    0,
    {"--samples", "--csv", "--append", "--force"},
    pcrLog};

}  // namespace tessaly::cli
