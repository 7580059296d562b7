#pragma once
// One run's engine on the Qt timer and UDP endpoint, and the event loop that waits
// for the command's end.
#include <QEventLoop>

#include "app/StatusQuery.h"
#include "cli/Cli.h"
#include "link/Engine.h"
#include "link/ui/QtTimer.h"
#include "link/ui/QtUdpEndpoint.h"

namespace tessaly::cli {

// The engine on the Qt timer and UDP endpoint, and the loop that waits for its end.
class Session {
 public:
  // `tap` (not owned, may be null) sees every datagram of the run.
  explicit Session(const QueryTarget& t, TrafficTap* tap = nullptr) : target_(t), engine_(timer_, endpoint_) {
    endpoint_.setLocalPort(t.hostPort);
    endpoint_.setTap(tap);
  }
  TransactionEngine& engine() { return engine_; }
  const QueryTarget& target() const { return target_; }
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
  QueryTarget target_;
  QtTimer timer_;
  QtUdpEndpoint endpoint_;
  TransactionEngine engine_;
  QEventLoop loop_;
  bool done_ = false;
  int code_ = Success;
};

}  // namespace tessaly::cli
