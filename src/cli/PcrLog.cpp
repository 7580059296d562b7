#include "cli/PcrLog.h"

#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "cli/Options.h"
#include "cli/Session.h"
#include "link/Framing.h"
#include "status/ChartPoller.h"
#include "status/Decode.h"
#include "status/StatusReport.h"

namespace tessaly::cli {
namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char c = 1;
  // Only async-signal-safe work here: the event loop reads the pipe.
  [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}

// The text after the last ": " (or the whole text), without "(", ")" and " ms".
std::string figure(std::string text) {
  const std::size_t colon = text.rfind(": ");
  if (colon != std::string::npos) text = text.substr(colon + 2);
  if (const std::size_t paren = text.find(" ("); paren != std::string::npos) text = text.substr(0, paren);
  if (!text.empty() && text.front() == '(') text = text.substr(1);
  if (const std::size_t ms = text.find(" ms)"); ms != std::string::npos) text = text.substr(0, ms);
  return text;
}

const char* const kCsvHeader =
    "sample,slide,cor,base_error,base_error_ms,pcr_pids,new_pcr_pids,pcr_discontinuities,large_pcr_errors";

class PcrLog {
 public:
  PcrLog(Session& s, int samples, std::FILE* csv) : s_(s), samples_(samples), csv_(csv) {
    registerChartTransactions(
        s_.engine(), [this](std::uint8_t code) { timerFired(code); }, [this] { sendFailed(); });
  }

  void start() {
    line(kCsvHeader);
    carryOut(poller_.start());
  }
  // Ctrl+C or a termination request: what was written stays.
  void interrupted() {
    carryOut(poller_.stop());
    s_.finish(Success);
  }
  int exitCode() const {
    if (valid_ > 0) return Success;
    return answered_ > 0 ? Unexpected : NoAnswer;
  }

 private:
  void line(const std::string& text) {
    std::fprintf(stdout, "%s\n", text.c_str());
    std::fflush(stdout);
    if (csv_) {
      std::fprintf(csv_, "%s\n", text.c_str());
      std::fflush(csv_);
    }
  }

  void timerFired(std::uint8_t code) {
    const TransactionEngine& engine = s_.engine();
    const ReceiveBuffer& buffer = engine.buffer();
    ChartTimerEvent e;
    e.state = code;
    e.receivedLength = engine.receivedLength();
    e.at = [&buffer](std::size_t at) { return buffer.at(at); };
    e.sampleCount = device_.SampleCount;
    figures_.clear();
    carryOut(poller_.timerFired(e));
    if (code != state::ChartPollSent && code != state::ChartPollGot) return;
    // One line per request: an answer's figures, or empty ones.
    ++done_;
    if (code == state::ChartPollGot) ++answered_;
    if (!figures_.empty()) ++valid_;
    line(std::to_string(done_) + "," + (figures_.empty() ? std::string(",,,,,,,") : figures_));
    if (done_ >= samples_) {
      carryOut(poller_.stop());
      s_.finish(exitCode());
    } else if (!poller_.polling()) {
      // The chart's sample limit ended the run.
      s_.finish(exitCode());
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
        case K::Message:
          // The panel's warnings ("SDI Answer not received!", a wrong answer) go to standard error.
          if (a.hasColour && a.colour != colour::ButtonFace && !a.text.empty()) err(a.text);
          break;
        case K::DecodeAndPresent: {
          device_.AnswerBase = a.value;
          DecodeStatus(device_, engine.buffer());
          const tZODADevice& d = device_;
          figures_ = figure(slideText(d.PcrSlide)) + "," + figure(corText(d.PcrSlide)) + "," +
                     figure(baseErrorText(d.PcrBaseError)) + "," + figure(baseErrorMsText(d.PcrBaseError)) + "," +
                     std::to_string(d.PcrPidCount) + "," + std::to_string(d.NewPcrPidCount) + "," +
                     std::to_string(d.PcrDiscontinuity) + "," + std::to_string(d.LargePcrErrors);
          break;
        }
        case K::AddSample: ++device_.SampleCount; break;
        case K::SetSampleCount: device_.SampleCount = a.value; break;
        case K::StopPolling: engine.abort(); break;
        case K::SetPollingButtons:
        case K::ClearChart:
        case K::SetBottomMax:
        case K::ApplyLeftAxis:
        case K::ClearInfoMemo: break;
      }
    }
  }

  Session& s_;
  int samples_;
  std::FILE* csv_;
  ChartPoller poller_;
  tZODADevice device_;
  std::string figures_;
  int done_ = 0, answered_ = 0, valid_ = 0;
};

}  // namespace

int runPcrLog(const QueryTarget& target, int samples, const std::optional<std::string>& csvPath, TrafficTap* tap) {
  std::FILE* csv = nullptr;
  if (csvPath) {
    csv = std::fopen(csvPath->c_str(), "w");
    if (!csv) {
      err(std::string(kProgram) + ": --csv: cannot write '" + *csvPath + "'");
      return Usage;
    }
  }
  Session s(target, tap);
  PcrLog log(s, samples, csv);
  std::optional<QSocketNotifier> notifier;
  if (::pipe(signalPipe) == 0) {
    notifier.emplace(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&*notifier, &QSocketNotifier::activated, [&log] {
      char c;
      [[maybe_unused]] const auto n = ::read(signalPipe[0], &c, 1);
      log.interrupted();
    });
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
  }
  log.start();
  const int code = s.wait();
  if (csv) std::fclose(csv);
  return code;
}

}  // namespace tessaly::cli
