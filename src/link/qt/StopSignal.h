#pragma once
// SIGINT and SIGTERM end a program in order: the handler only notes the signal and
// wakes the event loop through a pipe; the program then does what a stop asks of it
// (tessaly-cli writes what it has and exits 128 + the signal, 130 or 143; the
// exporter and the emulator stop serving and exit).
namespace tessaly {

// How a call that a stop signal interrupts goes on.
enum class InterruptedCalls {
  Fail,     // it fails with EINTR: a write blocked on a stalled reader returns
  Restart,  // it is restarted, as if nothing had come
};

// Installs the handlers; once, before anything that may wait.
void catchStopSignals(InterruptedCalls calls);
// 0 until SIGINT or SIGTERM came, then the first of them.
int stopSignal();
// Readable once a signal came (never drained); -1 when the pipe could not be made.
int stopSignalFd();
// The exit code of a run ended by `signal`.
constexpr int stopExitCode(int signal) { return 128 + signal; }
// "SIGINT" or "SIGTERM".
const char* stopSignalName(int signal);

}  // namespace tessaly
