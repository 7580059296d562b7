#pragma once
// One run's engine on the Qt timer and UDP endpoint, and the event loop that waits
// for the command's end.
#include <QEventLoop>
#include <QSocketNotifier>
#include <functional>
#include <optional>

#include "device/StatusQuery.h"
#include "cli/Cli.h"
#include "cli/StopSignal.h"
#include "link/Engine.h"
#include "link/qt/QtTimer.h"
#include "link/qt/QtUdpEndpoint.h"

namespace tessaly::cli {

// The engine on the Qt timer and UDP endpoint, and the loop that waits for its end.
// SIGINT or SIGTERM ends the wait at once with 128 + the signal, after the
// command's stop hook has written what it has.
class Session {
 public:
  // `tap` (not owned, may be null) sees every datagram of the run.
  explicit Session(const QueryTarget& t, TrafficTap* tap = nullptr) : target_(t), engine_(timer_, endpoint_) {
    endpoint_.setLocalPort(t.hostPort);
    endpoint_.setTap(tap);
    if (stopSignalFd() >= 0) {
      stopNotifier_.emplace(stopSignalFd(), QSocketNotifier::Read);
      QObject::connect(&*stopNotifier_, &QSocketNotifier::activated, [this] { stopped(); });
    }
  }
  TransactionEngine& engine() { return engine_; }
  const QueryTarget& target() const { return target_; }
  // Runs once when a stop signal ends the run, before the wait returns.
  void onStop(std::function<void(int signal)> hook) { onStop_ = std::move(hook); }
  void finish(int code) {
    if (done_) return;
    done_ = true;
    code_ = code;
    loop_.exit(code);
  }
  int wait() {
    if (!done_) loop_.exec();
    engine_.abort();
    return code_;
  }

 private:
  void stopped() {
    if (stopNotifier_) stopNotifier_->setEnabled(false);
    if (done_ || stopSignal() == 0) return;
    engine_.abort();
    if (onStop_) onStop_(stopSignal());
    finish(stopExitCode(stopSignal()));
  }

  QueryTarget target_;
  QtTimer timer_;
  QtUdpEndpoint endpoint_;
  TransactionEngine engine_;
  QEventLoop loop_;
  std::optional<QSocketNotifier> stopNotifier_;
  std::function<void(int)> onStop_;
  bool done_ = false;
  int code_ = Success;
};

}  // namespace tessaly::cli
