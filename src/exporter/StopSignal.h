#pragma once
// SIGINT and SIGTERM stop the serving exporter cleanly: the handler only writes to a
// pipe, which the event loop watches.
namespace tessaly::exporter {

// Installs the handlers; returns the pipe's end the loop reads (-1 when it could not be
// made: the signals then keep their default action).
int catchStopSignals();

}  // namespace tessaly::exporter
