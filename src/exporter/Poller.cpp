#include "exporter/Poller.h"

#include <algorithm>

namespace tessaly::exporter {

namespace {
constexpr int kFirstSdi = 1, kLastSdi = 15;
double since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}
}  // namespace

ControllerPoller::ControllerPoller(const ControllerConfig& c, int timeoutMs, Metrics* metrics)
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
  QObject::connect(&rescanTimer_, &QTimer::timeout, &endpoint_, [this] { rescan(); });
}

ControllerPoller::~ControllerPoller() {
  rescanTimer_.stop();
  session_.setQueryListener(nullptr);
  session_.engine().abort();
}

bool ControllerPoller::idle() const { return !busy_ && !cycleRunning_ && probes_.empty() && scans_.empty(); }

void ControllerPoller::startCycle(std::function<void()> ended) {
  if (cycleRunning_) return;
  ended_ = std::move(ended);
  cycleRunning_ = true;
  cycleIndex_ = 0;
  cycleStart_ = std::chrono::steady_clock::now();
  if (!config_.allBoards) {
    cycleBoards_ = config_.boards;
  } else if (!firstRoundDone_) {
    cycleBoards_.clear();
    for (int sdi = kFirstSdi; sdi <= kLastSdi; ++sdi) cycleBoards_.push_back(sdi);
  } else {
    cycleBoards_.assign(found_.begin(), found_.end());
  }
  nextSoon();
}

void ControllerPoller::startRescans(double seconds) {
  if (!config_.allBoards) return;
  rescanTimer_.start(std::max(1, static_cast<int>(seconds * 1000)));
}

void ControllerPoller::rescan() {
  // The first round asks every address anyway.
  if (!firstRoundDone_) return;
  for (int sdi = kFirstSdi; sdi <= kLastSdi; ++sdi)
    if (found_.count(sdi) == 0 && std::find(scans_.begin(), scans_.end(), sdi) == scans_.end()) scans_.push_back(sdi);
  nextSoon();
}

void ControllerPoller::probe(Probe p) {
  probes_.push_back(std::move(p));
  nextSoon();
}

void ControllerPoller::nextSoon() {
  QTimer::singleShot(0, &endpoint_, [this] { next(); });
}

void ControllerPoller::next() {
  if (busy_) return;
  if (cycleRunning_ && cycleIndex_ >= cycleBoards_.size()) {
    cycleRunning_ = false;
    firstRoundDone_ = true;
    if (metrics_ != nullptr) metrics_->cycleEnded(controllerLabels_, since(cycleStart_));
    if (ended_) ended_();
  }
  while (!probes_.empty()) {
    probe_ = std::move(probes_.front());
    probes_.pop_front();
    if (!probe_.wanted || probe_.wanted()) {
      ask(Kind::Probe, probe_.sdi, probe_.framing);
      return;
    }
  }
  if (cycleRunning_ && (!scanTurn_ || scans_.empty())) {
    // The first round of `boards: all` keeps only the addresses that answer.
    const Kind kind = config_.allBoards && !firstRoundDone_ ? Kind::Scan : Kind::Poll;
    scanTurn_ = true;
    ask(kind, cycleBoards_[cycleIndex_++], config_.framing);
    return;
  }
  if (!scans_.empty()) {
    const int sdi = scans_.front();
    scans_.pop_front();
    scanTurn_ = false;
    ask(Kind::Scan, sdi, config_.framing);
  }
}

void ControllerPoller::ask(Kind kind, int sdi, Framing framing) {
  busy_ = true;
  kind_ = kind;
  sdi_ = sdi;
  QueryTarget t = session_.target();
  t.sdiAddress = static_cast<std::uint8_t>(sdi);
  t.framing = framing;
  session_.setTarget(t);
  pollStart_ = std::chrono::steady_clock::now();
  // A send that fails ends the Query before query returns, as a time-out ends it later.
  session_.query();
}

void ControllerPoller::queryEnded(const QueryOutcome& o) {
  busy_ = false;
  const double seconds = since(pollStart_);
  if (o.kind != QueryKind::SendFailed) ++sent_;
  if (kind_ == Kind::Probe) {
    auto done = std::move(probe_.done);
    probe_ = Probe{};
    if (done) done(o, session_.device(), seconds);
  } else {
    // An address asked to find a board counts once a remultiplexer answered there.
    const bool keep = kind_ == Kind::Poll || o.kind == QueryKind::Ok;
    if (kind_ == Kind::Scan && o.kind == QueryKind::Ok) found_.insert(sdi_);
    if (keep && metrics_ != nullptr) {
      prometheus::Labels l = controllerLabels_;
      l["sdi"] = std::to_string(sdi_);
      metrics_->polled(l, o.kind, o.deviceCode, session_.device(), seconds);
    }
  }
  // The next Query starts once this one has left the engine.
  nextSoon();
}

}  // namespace tessaly::exporter
