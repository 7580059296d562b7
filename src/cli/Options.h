#pragma once
// The client's command line: options and arguments, the link they select, the help
// text. Bad input throws UsageError with one line that names the option or command.
#include <QStringList>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "device/StatusQuery.h"
#include "link/Framing.h"

namespace tessaly::cli {

constexpr const char* kProgram = "tessaly-cli";
// The whole help text.
std::string helpText();
// COMMAND's part of the help (SUB: one subcommand's, when it has that one); an
// unknown command throws.
std::string commandHelpText(const std::string& command, const std::string& sub);

struct UsageError {
  std::string message;
};
// The link cannot be used (exit 4); the message says why.
struct SendError {
  std::string message;
};

struct Options {
  std::optional<std::string> device;
  std::optional<int> devicePort;
  std::optional<int> hostPort;
  std::optional<Framing> framing;
  std::optional<int> sdi;
  std::optional<int> timeoutMs;
  std::optional<std::string> capture;  // capture file of every datagram in and out
  std::optional<std::string> label;
  // clock
  std::optional<std::string> nco;
  std::optional<std::string> pll;
  std::optional<int> source;    // 0 NCO, 1 PLL, 2..7 TS inputs 1..6, 8 external clock
  std::optional<int> format;    // 0 "188", 1 "204"
  std::optional<int> priority;  // 0 low, 1 high
  // pid-filter, psi, pcr-corrector
  std::optional<int> input;                             // 1..6
  std::optional<std::string> pid, remap;                // 0..8191, as typed
  std::optional<std::array<bool, 6>> enable, dvPin, nullFilter, tspFilter;  // inputs 1..6
  std::optional<int> sector;                            // 1..4
  std::optional<std::string> start, end, address;       // 0..131071
  std::optional<std::string> timer;                     // 0..16777215
  std::optional<int> packet;                            // 0 ascending, 1 descending, 2 fix
  std::optional<std::string> fix;                       // 0..255
  bool disabled = false;
  bool autoCc = false;
  // pcr-log
  std::optional<int> samples;
  std::optional<std::string> csv;  // "-": standard output only
  bool append = false;
  bool force = false;
  // mfg-test
  std::optional<std::string> testPort, pid1, pid2, pid3, multicast, junit;
  bool json = false;
  bool help = false;
  bool version = false;
  std::string command;
  std::vector<std::string> args;
};

// A plain decimal number lo..hi; anything else throws, naming `what`.
long long number(const std::string& what, const std::string& text, long long lo, long long hi);
// `arguments` as QCoreApplication::arguments() gives them (the program first).
Options parse(const QStringList& arguments);
// The link as the panel would start with it: its Settings.ini in the working
// directory (read only, never written), else its defaults; then the options.
QueryTarget linkTarget(const Options& o);

void out(const std::string& line);  // one line on standard output
void err(const std::string& line);  // one line on standard error

}  // namespace tessaly::cli
