#include "link/qt/StopSignal.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace tessaly {
namespace {

int pipeFds[2] = {-1, -1};
volatile std::sig_atomic_t caught = 0;

void onSignal(int signal) {
  if (caught == 0) caught = signal;
  // Only async-signal-safe work here; a full pipe already wakes the loop.
  const char c = 1;
  if (pipeFds[1] >= 0) {
    [[maybe_unused]] const auto n = ::write(pipeFds[1], &c, 1);
  }
}

}  // namespace

void catchStopSignals(InterruptedCalls calls) {
  if (pipeFds[0] < 0 && ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) pipeFds[0] = pipeFds[1] = -1;
  struct sigaction sa = {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = calls == InterruptedCalls::Restart ? SA_RESTART : 0;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

int stopSignal() { return caught; }

int stopSignalFd() { return pipeFds[0]; }

const char* stopSignalName(int signal) { return signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "signal"; }

}  // namespace tessaly
