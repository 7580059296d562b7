#include "exporter/StopSignal.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace tessaly::exporter {
namespace {

int pipeFds[2] = {-1, -1};

void onSignal(int) {
  // Only async-signal-safe work here; a full pipe already wakes the loop.
  const char c = 1;
  [[maybe_unused]] const auto n = ::write(pipeFds[1], &c, 1);
}

}  // namespace

int catchStopSignals() {
  if (pipeFds[0] < 0 && ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) return pipeFds[0] = pipeFds[1] = -1;
  struct sigaction sa = {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  return pipeFds[0];
}

}  // namespace tessaly::exporter
