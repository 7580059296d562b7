#include "cli/PcrLog.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

#include "cli/OutputFiles.h"
#include "cli/Options.h"
#include "cli/RunLoop.h"
#include "instructions/PageInstructions.h"
#include "link/Framing.h"
#include "status/ChartPoller.h"
#include "status/PcrChart.h"

namespace tessaly::cli {
namespace {

// Milliseconds from 90 kHz ticks with three decimals, as the panel shows them:
// 45 -> "0.500" (ticks * 100 / 9, rounded; it never falls on a half).
std::string milliseconds(std::int32_t ticks) {
  const std::int64_t thousandths = (static_cast<std::int64_t>(ticks) * 200 + 9) / 18;
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(thousandths / 1000),
                static_cast<long long>(thousandths % 1000));
  return text;
}

// The row's figures: slide, cor, base error, base error in ms and the four counters.
std::string figures(const ChartSample& s) {
  return std::to_string(s.slide) + "," + std::to_string(s.cor) + "," + std::to_string(s.baseError) + "," +
         milliseconds(s.baseError) + "," + std::to_string(s.pids) + "," + std::to_string(s.newPids) + "," +
         std::to_string(s.discontinuities) + "," + std::to_string(s.largeErrors);
}

// Now as ISO 8601 in UTC with milliseconds: 2026-12-08T14:16:34.123Z.
std::string utcNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm = {};
  gmtime_r(&seconds, &tm);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
  return text;
}

// A CSV cell: quoted when it holds a comma, a quote or a line break.
std::string cell(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string q = "\"";
  for (const char c : text) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

const char* const kCsvHeader =
    "time,sample,slide,cor,base_error,base_error_ms,pcr_pids,new_pcr_pids,pcr_discontinuities,large_pcr_errors,error";
const char* const kNoFigures = ",,,,,,,";

class PcrLog {
 public:
  PcrLog(RunLoop& s, int samples, LogFile* csv, std::string csvPath)
      : s_(s), samples_(samples), csv_(csv), csvPath_(std::move(csvPath)) {
    registerChartTransactions(
        s_.engine(), [this](std::uint8_t code) { timerFired(code); }, [this] { sendFailed(); },
        [this] { return static_cast<std::uint8_t>(s_.target().sdiAddress); });
    // A stop signal: the lines written so far stay; the poll ends.
    s_.onStop([this](int) { carryOut(poller_.stop()); });
  }

  void start() {
    if (!csv_ || csv_->empty()) {
      if (!line(kCsvHeader)) return;
    } else if (!stdoutLine(kCsvHeader)) {
      return;
    }
    carryOut(poller_.start());
  }
  int exitCode() const {
    if (valid_ > 0) return Success;
    return answered_ > 0 ? Unexpected : NoAnswer;
  }

 private:
  // One line on standard output, and in the file when there is one. A write error
  // ends the log with one message.
  bool line(const std::string& text) {
    if (!stdoutLine(text)) return false;
    std::string why;
    if (csv_ && !csv_->writeLine(text, &why)) return writeFailed("--csv '" + csvPath_ + "'", why);
    return true;
  }
  bool stdoutLine(const std::string& text) {
    errno = 0;
    if (std::fprintf(stdout, "%s\n", text.c_str()) < 0 || std::fflush(stdout) != 0)
      return writeFailed("standard output", errno ? std::strerror(errno) : "write error");
    return true;
  }
  bool writeFailed(const std::string& what, const std::string& why) {
    // A stop signal that interrupted a write to a stalled reader is no write error.
    if (stopSignal() == 0) err(std::string(kProgram) + ": " + what + ": cannot write: " + why + "; the log ends");
    carryOut(poller_.stop());
    s_.finish(Usage);
    return false;
  }

  void timerFired(std::uint8_t code) {
    const TransactionEngine& engine = s_.engine();
    const ReceiveBuffer& buffer = engine.buffer();
    ChartTimerEvent e;
    e.state = code;
    e.receivedLength = engine.receivedLength();
    e.at = [&buffer](std::size_t at) { return buffer.at(at); };
    e.sampleCount = sampleCount_;
    figures_.clear();
    reason_.clear();
    carryOut(poller_.timerFired(e));
    if (code != state::ChartPollSent && code != state::ChartPollGot) return;
    // One line per request: an answer's figures, or empty ones and the reason.
    ++done_;
    if (code == state::ChartPollGot) ++answered_;
    if (!figures_.empty()) ++valid_;
    const std::string row = utcNow() + "," + std::to_string(done_) + "," +
                            (figures_.empty() ? std::string(kNoFigures) + "," + cell(reason_) : figures_ + ",");
    if (!line(row)) return;
    if (samples_ > 0 && done_ >= samples_) {
      carryOut(poller_.stop());
      s_.finish(exitCode());
    } else if (!poller_.polling()) {
      // The chart's sample limit stopped the poll: the log goes on as its Continue does.
      carryOut(poller_.continueRun(sampleCount_));
    }
  }

  void sendFailed() {
    carryOut(poller_.sendFailed());
    carryOut(poller_.stop());
    s_.finish(SendFailed);
  }

  void carryOut(const ChartActions& actions) {
    TransactionEngine& engine = s_.engine();
    using K = ChartAction::Kind;
    for (const ChartAction& a : actions) {
      switch (a.kind) {
        case K::SetState: engine.setState(static_cast<std::uint8_t>(a.value)); break;
        case K::SetInterval: engine.timer().setInterval(a.value); break;
        case K::EnableTimer: engine.timer().setEnabled(true); break;
        case K::ArmTimer: engine.armTimer(a.value); break;
        case K::SendStatusRequest: {
          // The rest of the list follows once the request has left; a failed send runs
          // the poll's send-failure handler instead.
          const QueryTarget& t = s_.target();
          ChartActions rest(actions.begin() + (&a - actions.data()) + 1, actions.end());
          engine.start(static_cast<std::uint8_t>(a.value), t.deviceIp, t.devicePort,
                       encodeReadDatagram(t.framing, t.sdiAddress), StartOptions{},
                       [this, rest = std::move(rest)] { carryOut(rest); });
          return;
        }
        // The panel's warnings go to standard error, and into the row's error column.
        case K::NoAnswer: warn(kChartNoAnswerText); break;
        case K::AnswerRefused: warn(pollFaultText(a.fault)); break;
        case K::RequestNotSent: warn(kCommErrorText); break;
        case K::TakeStatus: break;
        case K::Sample:
          ++sampleCount_;
          if (a.sample.answered) figures_ = figures(a.sample);
          break;
        case K::SetSampleCount: sampleCount_ = a.value; break;
        case K::StopPolling: engine.abort(); break;
        case K::PollingStarted:
        case K::PollingStopped:
        case K::RequestSent: break;
      }
    }
  }

  void warn(std::string_view text) {
    err(std::string(text));
    reason_ = std::string(text);
  }

  RunLoop& s_;
  int samples_;
  LogFile* csv_;
  std::string csvPath_;
  ChartPoller poller_;
  std::int32_t sampleCount_ = 0;  // the chart's sample count, as the panel keeps it
  std::string figures_, reason_;
  int done_ = 0, answered_ = 0, valid_ = 0;
};

}  // namespace

int runPcrLog(const QueryTarget& target, const PcrLogOptions& options, TrafficTap* tap) {
  LogFile file;
  LogFile* csv = nullptr;
  if (options.csvPath && *options.csvPath != "-") {
    std::string why;
    const auto existing = options.append  ? LogFile::Existing::Append
                          : options.force ? LogFile::Existing::Replace
                                          : LogFile::Existing::Refuse;
    if (!file.open(*options.csvPath, existing, &why))
      throw UsageError{"--csv: cannot write '" + *options.csvPath + "': " + why};
    csv = &file;
  }
  RunLoop s(target, tap);
  PcrLog log(s, options.samples, csv, options.csvPath.value_or(""));
  log.start();
  return s.wait();
}

}  // namespace tessaly::cli
