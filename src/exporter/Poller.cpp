#include "exporter/Poller.h"

#include <QTimer>

namespace tessaly::exporter {

namespace {
constexpr int kFirstSdi = 1, kLastSdi = 15;
double since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}
}  // namespace

ControllerPoller::ControllerPoller(const ControllerConfig& c, int timeoutMs, Metrics& metrics)
    : config_(c), metrics_(metrics), session_(timer_, endpoint_) {
  QueryTarget t;
  t.framing = c.framing;
  t.deviceIp = c.address;
  t.devicePort = c.port;
  t.hostPort = c.hostPort;
  session_.setTarget(t);
  session_.setQueryTimeoutMs(timeoutMs);
  session_.setQueryListener(this);
  controllerLabels_ = {{"controller", c.address + ":" + std::to_string(c.port)}};
  if (!c.name.empty()) controllerLabels_["name"] = c.name;
  if (c.allBoards) {
    scanning_ = true;
    for (int sdi = kFirstSdi; sdi <= kLastSdi; ++sdi) boards_.push_back(sdi);
  } else {
    boards_ = c.boards;
  }
}

ControllerPoller::~ControllerPoller() {
  session_.setQueryListener(nullptr);
  session_.engine().abort();
}

void ControllerPoller::startCycle(std::function<void()> ended) {
  if (running_) return;
  ended_ = std::move(ended);
  running_ = true;
  cycleStart_ = std::chrono::steady_clock::now();
  ask(0);
}

void ControllerPoller::ask(std::size_t index) {
  if (index >= boards_.size()) {
    running_ = false;
    if (scanning_) {
      scanning_ = false;
      boards_ = found_;
    }
    metrics_.cycleEnded(controllerLabels_, since(cycleStart_));
    if (ended_) ended_();
    return;
  }
  index_ = index;
  QueryTarget t = session_.target();
  t.sdiAddress = static_cast<std::uint8_t>(boards_[index]);
  session_.setTarget(t);
  pollStart_ = std::chrono::steady_clock::now();
  // A send that fails ends the poll before query returns, as a time-out ends it later.
  session_.query();
}

void ControllerPoller::queryEnded(const QueryOutcome& o) {
  const int sdi = boards_[index_];
  if (o.kind != QueryKind::SendFailed) ++sent_;
  // While finding the boards, an address counts once a remultiplexer answered there.
  const bool keep = !scanning_ || o.kind == QueryKind::Ok;
  if (scanning_ && o.kind == QueryKind::Ok) found_.push_back(sdi);
  if (keep) {
    prometheus::Labels l = controllerLabels_;
    l["sdi"] = std::to_string(sdi);
    metrics_.polled(l, o.kind, o.deviceCode, session_.device(), since(pollStart_));
  }
  // The next Query starts once this one has left the engine.
  const std::size_t next = index_ + 1;
  QTimer::singleShot(0, &endpoint_, [this, next] { ask(next); });
}

}  // namespace tessaly::exporter
