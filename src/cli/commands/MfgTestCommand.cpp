// mfg-test: the manufacturer test run (the run: src/cli/MfgTest.cpp).
#include <QString>
#include <QStringList>

#include "cli/DeviceRun.h"
#include "cli/MfgTest.h"
#include "cli/commands/Commands.h"

namespace tessaly::cli {
namespace {

// The page's input texts: its defaults where no option is given, so that its
// normalising applies as on the page.
MfgInputTexts inputTexts(const GivenOptions& o) {
  MfgInputTexts in;
  if (const auto port = o.number("--test-port")) in.testPort = std::to_string(*port);
  const char* const pids[] = {"--pid1", "--pid2", "--pid3"};
  for (std::size_t i = 0; i < 3; ++i) {
    const OptionValue* pid = o.find(pids[i]);
    if (!pid) continue;
    in.additionalPidOn[i] = !pid->off;
    if (!pid->off) in.additionalPid[i] = std::to_string(pid->number);
  }
  if (const OptionValue* multicast = o.find("--multicast")) {
    in.multicastOn = !multicast->off;
    if (in.multicastOn) {
      const QStringList parts = QString::fromStdString(multicast->text).split('.');
      for (std::size_t i = 0; i < 4; ++i) in.multicast[i] = parts.value(static_cast<qsizetype>(i)).toStdString();
    }
  }
  return in;
}

int mfgTest(Invocation& inv) {
  const GivenOptions& o = inv.options();
  MfgTestOptions m;
  m.inputs = inputTexts(o);
  const auto junit = o.text("--junit");
  refuseSettingsFile("--junit", junit);
  m.junitPath = junit;
  m.json = o.has("--json");
  const QueryTarget t = usableTarget(o);
  return inv.captured(runMfgTest(t, m, inv.capture()));
}

}  // namespace

const Command kMfgTest{
    "mfg-test",
    "  mfg-test [--test-port N] [--pid1 PID|off] [--pid2 PID|off] [--pid3 PID|off]\n"
    "        [--multicast A.B.C.D|off] [--junit FILE] [--json]\n"
    "                         the manufacturer test run, printing each step and message as it\n"
    "                         runs (defaults as the panel's page: port 58100, PIDs 150, 151,\n"
    "                         160, multicast 239.123.13.100; a multicast address is one of\n"
    "                         224.0.0.0..239.255.255.255); --junit writes a JUnit XML report\n"
    "                         named after the board (serial, SDI address, controller), one test\n"
    "                         case per step, replacing FILE only once it is whole; --json\n"
    "                         prints one JSON object of the run and its steps instead of the\n"
    "                         running lines; exit 3 when a step fails\n"
    "                           tessaly-cli mfg-test --test-port 58100 --junit mfg.xml\n",
    "mfg-test [--test-port N] [--pid1 PID] [--pid2 PID] [--pid3 PID] [--multicast A.B.C.D] [--junit FILE] [--json]",
    0,
    {"--test-port", "--pid1", "--pid2", "--pid3", "--multicast", "--junit", "--json"},
    mfgTest};

}  // namespace tessaly::cli
