#pragma once
// The command-line client: reads the options, runs one command against the board
// with a QtCore event loop, prints the outcome and returns the exit code.
#include <QStringList>

namespace tessaly::cli {

enum Exit : int {
  Success = 0,
  Usage = 1,       // usage error or bad input
  NoAnswer = 2,    // no answer in time
  Unexpected = 3,  // an answer that is not the expected one
  SendFailed = 4,  // the datagram could not go out
  Differs = 5,       // the board (or the second profile) does not match the profile
  OutputFailed = 6,  // an output file stopped on a write error (a full disk, the file-size limit, a reader gone)
};

// `arguments` as QCoreApplication::arguments() gives them (the program first).
int run(const QStringList& arguments);

}  // namespace tessaly::cli
