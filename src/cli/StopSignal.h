#pragma once
// SIGINT and SIGTERM end every command: the handler only notes the signal and
// wakes the event loop through a pipe; the running command then writes what it has
// and the program exits 128 + the signal (130, 143).
namespace tessaly::cli {

// Installs the handlers; once, before anything that may wait.
void catchStopSignals();
// 0 until SIGINT or SIGTERM came, then the first of them.
int stopSignal();
// Readable once a signal came (never drained); -1 when the pipe could not be made.
int stopSignalFd();
// The exit code of a run ended by `signal`.
constexpr int stopExitCode(int signal) { return 128 + signal; }
// "SIGINT" or "SIGTERM".
const char* stopSignalName(int signal);

}  // namespace tessaly::cli
