#pragma once
// One command's run: a device session on the Qt timer and UDP endpoint, and the
// event loop that waits for the command's end.
#include <QEventLoop>
#include <QSocketNotifier>
#include <functional>
#include <optional>

#include "cli/Cli.h"
#include "link/qt/StopSignal.h"
#include "device/DeviceSession.h"
#include "link/qt/QtTimer.h"
#include "link/qt/QtUdpEndpoint.h"

namespace tessaly::cli {

// SIGINT or SIGTERM ends the wait at once with 128 + the signal, after the
// command's stop hook has written what it has.
class RunLoop {
 public:
  // `tap` (not owned, may be null) sees every datagram of the run.
  explicit RunLoop(const QueryTarget& t, TrafficTap* tap = nullptr) : session_(timer_, endpoint_) {
    session_.setTarget(t);
    session_.traffic().add(tap);
    if (stopSignalFd() >= 0) {
      stopNotifier_.emplace(stopSignalFd(), QSocketNotifier::Read);
      QObject::connect(&*stopNotifier_, &QSocketNotifier::activated, [this] { stopped(); });
    }
  }
  DeviceSession& session() { return session_; }
  TransactionEngine& engine() { return session_.engine(); }
  QueryTarget target() const { return session_.target(); }
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
    session_.engine().abort();
    return code_;
  }

 private:
  void stopped() {
    if (stopNotifier_) stopNotifier_->setEnabled(false);
    if (done_ || stopSignal() == 0) return;
    session_.engine().abort();
    if (onStop_) onStop_(stopSignal());
    finish(stopExitCode(stopSignal()));
  }

  QtTimer timer_;
  QtUdpEndpoint endpoint_;
  DeviceSession session_;
  QEventLoop loop_;
  std::optional<QSocketNotifier> stopNotifier_;
  std::function<void(int)> onStop_;
  bool done_ = false;
  int code_ = Success;
};

}  // namespace tessaly::cli
