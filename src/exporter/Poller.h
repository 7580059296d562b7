#pragma once
// The Queries of one controller: its SDI bus carries one exchange at a time, so the
// rounds of polls, the asks of a rescan and the probes all wait their turn on the
// controller's own device session and UDP endpoint. A probe goes before the next
// poll; the asks of a rescan go between polls. Controllers poll side by side on one
// event loop.
#include <QTimer>
#include <chrono>
#include <deque>
#include <functional>
#include <set>
#include <vector>

#include "device/DeviceSession.h"
#include "exporter/Config.h"
#include "exporter/Metrics.h"
#include "link/qt/QtTimer.h"
#include "link/qt/QtUdpEndpoint.h"

namespace tessaly::exporter {

class ControllerPoller : public StatusQueryListener {
 public:
  // `metrics` (may be null: a controller only probed) gets every poll's outcome.
  ControllerPoller(const ControllerConfig& c, int timeoutMs, Metrics* metrics);
  ~ControllerPoller() override;
  ControllerPoller(const ControllerPoller&) = delete;
  ControllerPoller& operator=(const ControllerPoller&) = delete;

  // One round over the boards; `ended` runs when the last poll has ended. The first
  // round of `boards: all` asks every address and keeps those that answer as
  // remultiplexers; later rounds poll those found so far.
  void startCycle(std::function<void()> ended);
  bool cycleRunning() const { return cycleRunning_; }
  // Every `seconds`, the addresses of `boards: all` not found yet are asked again,
  // between the polls. A board once found stays polled.
  void startRescans(double seconds);
  // Polls that went out (did not fail to send), over all rounds.
  long sentPolls() const { return sent_; }
  // "HOST:PORT" and the name when given.
  const prometheus::Labels& labels() const { return controllerLabels_; }
  Framing framing() const { return config_.framing; }
  // Nothing asked, nothing waiting.
  bool idle() const;

  // One Query to `sdi` in `framing`, before the next poll. `wanted` is asked when its
  // turn comes (false: skipped); `done` gets the outcome, the status record (valid
  // when Ok) and how long the Query took.
  struct Probe {
    int sdi = 1;
    Framing framing = Framing::DDToIP;
    std::function<bool()> wanted;
    std::function<void(const QueryOutcome&, const tZODADevice&, double seconds)> done;
  };
  void probe(Probe p);

  void queryEnded(const QueryOutcome& o) override;

 private:
  enum class Kind { Poll, Scan, Probe };
  void next();
  void nextSoon();
  void ask(Kind kind, int sdi, Framing framing);
  void rescan();

  ControllerConfig config_;
  Metrics* metrics_;
  QtTimer timer_;
  QtUdpEndpoint endpoint_;
  DeviceSession session_;
  QTimer rescanTimer_;
  prometheus::Labels controllerLabels_;
  bool firstRoundDone_ = false;
  std::set<int> found_;            // boards: all: the remultiplexers found so far
  std::vector<int> cycleBoards_;   // this round's addresses
  std::size_t cycleIndex_ = 0;
  bool cycleRunning_ = false;
  std::deque<int> scans_;          // addresses a rescan asks again
  bool scanTurn_ = false;          // a rescan's ask goes next, before the next poll
  std::deque<Probe> probes_;
  bool busy_ = false;              // a Query is on its way
  Kind kind_ = Kind::Poll;         // of that Query
  int sdi_ = 0;
  Probe probe_;
  long sent_ = 0;
  std::function<void()> ended_;
  std::chrono::steady_clock::time_point cycleStart_, pollStart_;
};

}  // namespace tessaly::exporter
